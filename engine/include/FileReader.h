// Reads a found node's bytes through its data runs.
#pragma once

#include <cstdint>
#include <vector>

#include "DataRun.h"
#include "RecoveryInterfaces.h"

class CFileNode;
class CSearchedPartitionInfo;

// Reads a node's data: run addresses are clusters of the node's partition,
// counted from the partition record's run origin sector. A run with a
// negative start (sparse or lost) reads as zeros, and so does every byte
// past the node's valid data length (CFileNode::GetValidDataLength), without
// a device read: the file as its system shows it. Offsets need not be
// sector aligned and nothing is written past the requested length.
//
// Damaged media: a device read that fails is tried again in halves down to
// single sectors, so every readable sector is kept; only the sectors that
// cannot be read (or lie past the device's end) read as zeros. Those, and
// lost runs, are gathered in GetLostRanges().
class CFileReader : public IFileReader {
public:
    CFileReader() = default;
    ~CFileReader() override = default;

    // 1 on success. Needs all three arguments, a non-zero cluster size, a
    // non-zero file size and a run list; the runs are copied here, so the
    // reader does not share the list's cursor with anyone. A size is not
    // taken on trust: it is cut where the runs stop placing data on the
    // device (the node's size is then GetClaimedSize(), and recovery
    // reports the rest as lost).
    virtual int Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition);
    void Close();

    // Reads up to `length` bytes at `offset` into `buffer` (room for
    // `length` bytes is enough). 1 on success with `got` bytes delivered:
    // fewer than asked when the file or its runs end first; when some of
    // them are zeros for lost data, `*error` is set to kReadDataLost. 0 on
    // failure (offset at or past the end, no runs, resident data that
    // cannot be read); `*error` is then -1 when given.
    int Read(long long offset, unsigned char* buffer, int length, int& got, int* error);
    // Data kept inside the file's own metadata record, through the reader
    // of the `resident_data` service (EngineServices.h); fails while no
    // file system provides it.
    int ReadResidentData(long long offset, unsigned char* buffer, int length, int& got);

    unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) override;
    IFileReader* Clone() override;
    // The size read: the node's, cut to what its runs place on the device.
    long long GetDataSize() const override { return fileSize_; }
    // The node's size when it was cut (more than GetDataSize()), 0 when not.
    long long GetClaimedSize() const { return claimedSize_; }
    int IsCompressFile() override;
    void Release() override { delete this; }
    const CLostRanges* GetLostRanges() const override { return &lost_; }
    void ClearLostRanges() override { lost_.Clear(); }

    IStorageDevice* GetDevice() const { return device_; }
    CFileNode* GetNode() const { return node_; }
    int GetBytesPerCluster() const { return bytesPerCluster_; }
    int GetSectorsPerCluster() const { return sectorsPerCluster_; }
    long long GetRunOriginSector() const { return runOrigin_; }
    // Bytes from the file's start that hold data; the file size when the
    // whole file does.
    long long GetValidSize() const { return validSize_; }
    const std::vector<DataRun>& GetRuns() const { return runs_; }
    bool IsResidentList() const { return resident_; }

protected:
    // Reads `length` bytes at byte `position` of the device; partial sectors
    // at either end go through a one-sector bounce buffer.
    bool ReadDeviceBytes(long long position, unsigned char* out, long long length);
    // The same, never giving up: what cannot be read is zeros and its range
    // (the bytes from `fileOffset` on that stand for it) goes to the lost
    // ranges. True when everything was read.
    bool ReadDeviceBytesSalvaging(long long position, unsigned char* out, long long length,
                                  long long fileOffset);
    // Device byte address of `cluster` + `within` bytes; false on overflow.
    bool ClusterToByte(long long cluster, long long within, long long* position) const;
    int DeviceSectorSize() const;

    IStorageDevice* device_ = nullptr;
    CFileNode* node_ = nullptr;
    int bytesPerCluster_ = 0;
    int sectorsPerCluster_ = 0;
    long long fileSize_ = 0;
    long long claimedSize_ = 0;
    long long validSize_ = 0;
    long long runOrigin_ = 0;
    std::vector<DataRun> runs_;
    bool resident_ = false;
    CLostRanges lost_;

private:
    // Reads sectors [first, first + count) into `out` by halves; the ones
    // that fail are zeros, and their bytes (counted from `at` for `out`'s
    // first byte) go to `failed`.
    void SalvageSectors(long long first, long long count, unsigned char* out, long long at,
                        CLostRanges& failed);
};

// True when the partition record's sector size is the device's (logged when
// not): a record of another sector size must not be read through it.
bool RecordMatchesDevice(const CSearchedPartitionInfo* partition, IStorageDevice* device);

// Most runs a reader takes from one list: a bound on the walk over a list
// that a damaged record made huge.
constexpr size_t kMaxReaderRuns = 1u << 22;
