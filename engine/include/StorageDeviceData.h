// The information records that travel with a device, and the holders that
// attach them to it as private data. The records are stored whole in result
// files and handed between threads by copy, so their layouts are fixed.
#pragma once

#include <cstddef>
#include <cstdint>

class IStorageDevice;

#ifndef VK_GUID_DEFINED
#define VK_GUID_DEFINED
// A GUID as four fields holding the numbers as written in its text form.
struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(_GUID) == 16);
#endif

// A whole disk, as enumeration found it.
struct CCollectDiskDeviceInfoStruct {
    int32_t flag;             // 0 for a physical disk
    int32_t busType;          // 0 other, 1 ATA, 2 SATA, 3 SCSI, 4 USB, 5 virtual
    int32_t partitionScheme;  // 0 none/other, 1 MBR, 2 GPT, 3 Apple partition map
    int32_t writable;
    char registryName[128];
    char bsdName[128];
    int64_t sectorSize;
    int64_t totalSectors;
    int64_t cylinders;
    int64_t heads;
    int64_t sectorsPerTrack;
    int32_t deviceId;
};
static_assert(sizeof(CCollectDiskDeviceInfoStruct) == 320);
static_assert(offsetof(CCollectDiskDeviceInfoStruct, bsdName) == 144);
static_assert(offsetof(CCollectDiskDeviceInfoStruct, sectorSize) == 272);
static_assert(offsetof(CCollectDiskDeviceInfoStruct, deviceId) == 312);

// A volume: a mounted or mountable file system, or a partition shown as one.
struct CCollectedVolumeDeviceInfoStruct {
    int32_t flag;
    int32_t fileSystemType;  // 10 unknown
    char label[100];
    char volumeName[1024];
    char bsdName[128];
    int64_t sectorSize;
    int64_t totalSectors;
    int32_t deviceId;
    IStorageDevice* disk;     // not owned
    int32_t partitionNumber;  // -1 for a volume that is a whole disk
    _GUID gptType;
    _GUID gptPartition;
    char apmType[32];
    int64_t startSector;
    int32_t mounted;
};
static_assert(sizeof(void*) == 8, "the record layouts assume 64-bit pointers");
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, volumeName) == 108);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, bsdName) == 1132);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, sectorSize) == 1264);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, deviceId) == 1280);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, disk) == 1288);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, gptType) == 1300);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, apmType) == 1332);
static_assert(offsetof(CCollectedVolumeDeviceInfoStruct, startSector) == 1368);
static_assert(sizeof(CCollectedVolumeDeviceInfoStruct) == 1384);

// One entry of a disk's partition table.
struct CCollectedPartitionDeviceInfoStruct {
    int32_t flag;
    int32_t fileSystemType;  // 10 when none
    char label[100];
    int64_t sectorSize;
    int64_t sectorCount;
    int32_t deviceId;
    IStorageDevice* disk;  // not owned
    int32_t partitionIndex;
    _GUID gptType;
    _GUID gptPartition;
    char apmType[32];
    int64_t startSector;
};
static_assert(offsetof(CCollectedPartitionDeviceInfoStruct, sectorSize) == 112);
static_assert(offsetof(CCollectedPartitionDeviceInfoStruct, deviceId) == 128);
static_assert(offsetof(CCollectedPartitionDeviceInfoStruct, disk) == 136);
static_assert(offsetof(CCollectedPartitionDeviceInfoStruct, gptType) == 148);
static_assert(offsetof(CCollectedPartitionDeviceInfoStruct, apmType) == 180);
static_assert(offsetof(CCollectedPartitionDeviceInfoStruct, startSector) == 216);
static_assert(sizeof(CCollectedPartitionDeviceInfoStruct) == 224);

// The information record of an edi image, stored in the image right behind
// its 8-byte header (little-endian on disk; the engine runs little-endian).
struct CEDIDeviceInfoStruct {
    int64_t sectorSize;  // readers take the low 32 bits
    int64_t totalSectors;
    int64_t dataOffset;    // byte position of sector 0 in the image file
    int64_t imageSize;     // length of the whole image file
    char deviceName[128];  // byte 127 is forced to 0 on reading
    char imagePath[1024];  // filled in on reading
    int64_t creationTime;  // seconds since 1970; identifies the image
};
static_assert(offsetof(CEDIDeviceInfoStruct, deviceName) == 32);
static_assert(offsetof(CEDIDeviceInfoStruct, imagePath) == 160);
static_assert(offsetof(CEDIDeviceInfoStruct, creationTime) == 1184);
static_assert(sizeof(CEDIDeviceInfoStruct) == 1192);
constexpr int kEdiInfoSize = 1192;

// The record of a checked disk image (UDIF or raw).
struct CDMGDeviceInfoStruct {
    uint64_t sectorSize;  // 512
    uint64_t totalSectors;
    uint64_t dataOffset;  // byte position of sector 0 in the file
    int64_t fileSize;
    char fileName[1024];  // last path component; byte 1023 always 0
    char filePath[1032];
};
static_assert(offsetof(CDMGDeviceInfoStruct, fileName) == 32);
static_assert(offsetof(CDMGDeviceInfoStruct, filePath) == 1056);
static_assert(sizeof(CDMGDeviceInfoStruct) == 2088);
constexpr int kDmgInfoSize = 2088;

// Information attached to a device. Holders own their record.
class IStorageDeviceData {
public:
    virtual ~IStorageDeviceData() = default;
};

class IDiskDeviceData : public IStorageDeviceData {
public:
    virtual CCollectDiskDeviceInfoStruct* GetDiskInfo() = 0;
    virtual void SetDiskInfo(CCollectDiskDeviceInfoStruct* info) = 0;
};

class IPartitionDeviceData : public IStorageDeviceData {
public:
    virtual CCollectedPartitionDeviceInfoStruct* GetPartitionInfo() = 0;
    virtual void SetPartitionInfo(CCollectedPartitionDeviceInfoStruct* info) = 0;
};

class IVolumeDeviceData : public IStorageDeviceData {
public:
    virtual CCollectedVolumeDeviceInfoStruct* GetVolumeInfo() = 0;
    virtual void SetVolumeInfo(CCollectedVolumeDeviceInfoStruct* info) = 0;
};

class IDmgDeviceData : public IStorageDeviceData {
public:
    virtual CDMGDeviceInfoStruct* GetDMGInfo() = 0;
    virtual void SetDMGInfo(CDMGDeviceInfoStruct* info) = 0;
};

class IEDIDeviceData : public IStorageDeviceData {
public:
    virtual CEDIDeviceInfoStruct* GetEDIInfo() = 0;
    virtual void SetEDIInfo(CEDIDeviceInfoStruct* info) = 0;
};

// The concrete holders: one owned record (null until set), deleted with the
// holder; setting a new record deletes the old one.
template <class Interface, class Record>
class CRecordHolder : public Interface {
public:
    explicit CRecordHolder(Record* record = nullptr) : record_(record) {}
    ~CRecordHolder() override { delete record_; }
    CRecordHolder(const CRecordHolder&) = delete;
    CRecordHolder& operator=(const CRecordHolder&) = delete;

protected:
    Record* Get() { return record_; }
    void Set(Record* record) {
        if (record != record_)
            delete record_;
        record_ = record;
    }

private:
    Record* record_;
};

class CDiskDeviceData : public CRecordHolder<IDiskDeviceData, CCollectDiskDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CCollectDiskDeviceInfoStruct* GetDiskInfo() override { return Get(); }
    void SetDiskInfo(CCollectDiskDeviceInfoStruct* info) override { Set(info); }
};

class CPartitionDeviceData
    : public CRecordHolder<IPartitionDeviceData, CCollectedPartitionDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo() override { return Get(); }
    void SetPartitionInfo(CCollectedPartitionDeviceInfoStruct* info) override { Set(info); }
};

class CVolumeDeviceData
    : public CRecordHolder<IVolumeDeviceData, CCollectedVolumeDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo() override { return Get(); }
    void SetVolumeInfo(CCollectedVolumeDeviceInfoStruct* info) override { Set(info); }
};

class CDmgDeviceData : public CRecordHolder<IDmgDeviceData, CDMGDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CDMGDeviceInfoStruct* GetDMGInfo() override { return Get(); }
    void SetDMGInfo(CDMGDeviceInfoStruct* info) override { Set(info); }
};

class CEdiDeviceData : public CRecordHolder<IEDIDeviceData, CEDIDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CEDIDeviceInfoStruct* GetEDIInfo() override { return Get(); }
    void SetEDIInfo(CEDIDeviceInfoStruct* info) override { Set(info); }
};

// Each takes ownership of the record (which may be null).
IDiskDeviceData* CreateDiskDeviceData(CCollectDiskDeviceInfoStruct* info);
IPartitionDeviceData* CreatePartitionDeviceData(CCollectedPartitionDeviceInfoStruct* info);
IVolumeDeviceData* CreateVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* info);
IDmgDeviceData* CreateDMGDeviceData(CDMGDeviceInfoStruct* info);
IEDIDeviceData* CreateEDIDeviceData(CEDIDeviceInfoStruct* info);
