// Windows onto a range of sectors of a parent device.
#pragma once

#include "IStorageDevice.h"
#include "StorageDeviceData.h"

// The sector size is the parent's unless given.
class CPartitionWindowBase : public IStorageDevice {
public:
    CPartitionWindowBase(IStorageDevice* parent, long long startSector, long long sectorCount,
                         int sectorSize = 0);
    ~CPartitionWindowBase() override;

    int Open(char* path) override;
    int Close() override;
    int GetSectorSize() override { return m_sectorSize; }
    long long GetTotalSectors() override { return m_sectorCount; }
    int IOCtl(unsigned long long code, void* arg) override;
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    VKRESULT GetLastError() override { return m_lastError; }
    virtual long long GetStartSector() { return m_startSector; }
    IStorageDevice* GetParent() const { return m_parent; }

protected:
    // Reads the part of the request inside the window and zeroes the rest.
    int ReadWindow(void* buffer, long long first, long long count);
    void ReplacePrivateData(IStorageDeviceData* data);

    VKRESULT m_lastError = 0;
    IStorageDevice* m_parent;  // not owned
    int m_sectorSize = 512;
    long long m_startSector;
    long long m_sectorCount;
    IStorageDeviceData* m_privateData = nullptr;
};

class CPartitionDevice : public CPartitionWindowBase {
public:
    using CPartitionWindowBase::CPartitionWindowBase;
    int ReadSector(void* buffer, long long firstSector, long long count) override;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDevicePartition; }
    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo();
};

class CPartitionVirtualVolumeDevice : public CPartitionWindowBase {
public:
    using CPartitionWindowBase::CPartitionWindowBase;
    int ReadSector(void* buffer, long long firstSector, long long count) override;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDeviceVolume; }
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();
};
