// Information attached to a device (IStorageDevice::GetPrivateData): a holder
// interface per record kind. Only the disk record is declared here so far.
#pragma once

#include <cstdint>

class IStorageDeviceData {
public:
    virtual ~IStorageDeviceData() = default;
};

// The disk record; zeroed before filling.
struct CCollectDiskDeviceInfoStruct {
    int32_t flag;            // 0 for a physical disk
    int32_t busType;         // 0 other, 1 ATA, 2 SATA, 3 SCSI, 4 USB, 5 virtual
    int32_t partitionScheme; // 0 none or other, 1 MBR, 2 GPT, 3 Apple partition map
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

class IDiskDeviceData : public IStorageDeviceData {
public:
    virtual CCollectDiskDeviceInfoStruct* GetDiskInfo() = 0;
    virtual void SetDiskInfo(CCollectDiskDeviceInfoStruct* info) = 0;
};
