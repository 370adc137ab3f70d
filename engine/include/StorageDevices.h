// Factories of the storage devices and the one read path every raw read of
// the process goes through.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "IStorageDevice.h"
#include "StorageDeviceData.h"

// Reads `byteCount` bytes at `byteOffset` of `fd` into `buffer` in pieces of
// at most kReadPieceBytes, one read at a time for the whole process. Returns
// byteCount when every piece was read, 0 otherwise; a piece that could not be
// read, and whatever lies past the end of the file, reads as zeros.
long long VKReadAsyncData(void* buffer, int fd, long long byteOffset, long long byteCount);
constexpr long long kReadPieceBytes = 0x400000;

// Unopened disk and volume devices on a device node path (at most 127
// characters); the caller opens them.
IStorageDevice* CreateDiskDevice(const char* path);
IStorageDevice* CreateVolumeDevice(const char* path);
// A window of `sectorCount` sectors from `startSector` of `parent` (not owned;
// it must outlive the window).
IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, long long startSector,
                                      long long sectorCount);
// True for a volume device over a device node (not a partition window shown
// as a volume): the device whose volume record names a live file system.
bool IsLiveVolumeDevice(IStorageDevice* device);

// The volume records a disk device keeps for its volumes (enumeration fills
// them). Set: false when `disk` is not a disk device. Get: their count, -1
// when `disk` is not a disk device.
bool SetDiskVolumes(IStorageDevice* disk, const std::vector<CCollectedVolumeDeviceInfoStruct>& v);
int GetDiskVolumes(IStorageDevice* disk, std::vector<CCollectedVolumeDeviceInfoStruct>& out);

// A block of the read-ahead cache: sectors [first, first + count) at data
// (a whole block's bytes, zero past count); ok when they were read without
// error.
struct CachedBlock {
    const uint8_t* data = nullptr;
    long long first = 0;
    long long count = 0;
    bool ok = false;
};

// The read-ahead cache a deep scan reads through: a device of type 3 over an
// inner device (not owned; it must outlive the cache). A thread reads the
// coming blocks ahead while the searchers work on the current one; reads
// inside the current block are served from memory.
class IDeviceCache : public IStorageDevice {
public:
    // Sectors per block (1000 after construction). Stops read-ahead that is
    // running; 0 when the block cannot be held in memory.
    virtual int SetBlockSize(unsigned int sectors) = 0;
    virtual unsigned int GetBlockSize() const = 0;
    virtual int BeginCache() = 0;
    // Makes block k current. Blocks are taken in order 0, 1, 2, ...; a block
    // that was not read ahead (a skipped or repeated one) is read directly.
    virtual int SetCurCacheBlock(long long k) = 0;
    // Stops read-ahead and frees the queued blocks; reads still work.
    virtual int EndCache() = 0;
    // The current block as the cache holds it: sectors [*first, *first +
    // *count), valid until the next SetCurCacheBlock; null when there is none
    // or its read failed. Lets a searcher test a block without copying it.
    virtual const uint8_t* PeekCurrentBlock(long long* first, long long* count) {
        (void)first;
        (void)count;
        return nullptr;
    }
    // The current block, lent: its bytes stay as they are while the lender's
    // hold lasts, after the cache has moved on to later blocks. Null when
    // there is no current block.
    virtual std::shared_ptr<const CachedBlock> LendCurrentBlock() { return nullptr; }
};
// Deleted through the IStorageDevice destructor, which ends read-ahead.
IDeviceCache* CreateStorageDeviceWithCache(IStorageDevice* inner);

// A volume view of a found partition whose private data is a partition record
// naming its disk; null when any of that is missing.
IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition);

// Image devices.
IStorageDevice* CreateEdiDeviceImp(const char* path);
IStorageDevice* CreateDmgDeviceImp(const char* path);
IStorageDevice* CreateEdiDevice(const char* path);
IStorageDevice* CreateDmgDevice(const char* path, void* record);
IStorageDevice* CreateEdiDeviceByEdiInfo(void* record, int size, const char* path);
IStorageDevice* CreateDmgDeviceByDmgInfo(void* record, int size, const char* path);

// 0 on success, 0xFFFFFFFF on failure.
unsigned int VkFillEdiFileInfo(CEDIDeviceInfoStruct* info, const char* path);
unsigned int VkFillDmgFileInfo(CDMGDeviceInfoStruct* info, const char* path);
