// Windows onto a range of sectors of a parent device.
#pragma once

#include "DeviceCommon.h"
#include "IStorageDevice.h"
#include "StorageDeviceData.h"

// The sector size is the parent's unless given.
class CPartitionWindowBase : public storage_detail::DeviceBase {
public:
    CPartitionWindowBase(IStorageDevice* parent, long long startSector, long long sectorCount,
                         int sectorSize = 0);

    int Open(char* path) override;
    int Close() override;
    // Reads the part of the request inside the window and zeroes the rest.
    int ReadSector(void* buffer, long long firstSector, long long count) override;
    long long GetTotalSectors() override { return m_sectorCount; }
    virtual long long GetStartSector() { return m_startSector; }
    IStorageDevice* GetParent() const { return m_parent; }

protected:
    IStorageDevice* m_parent;  // not owned
    long long m_startSector;
    long long m_sectorCount;
};

class CPartitionDevice : public CPartitionWindowBase {
public:
    using CPartitionWindowBase::CPartitionWindowBase;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDevicePartition; }
    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo();
};

class CPartitionVirtualVolumeDevice : public CPartitionWindowBase {
public:
    using CPartitionWindowBase::CPartitionWindowBase;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDeviceVolume; }
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();
};
