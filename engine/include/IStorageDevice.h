// A read-only device addressed in sectors: every byte the engine scans or
// recovers is read through one of these.
#pragma once

#include <cstdint>

#include "ResultCode.h"

class IStorageDeviceData;

// Device types answered by GetType().
enum StorageDeviceType : int {
    kDeviceDisk = 0,
    kDevicePartition = 1,
    kDeviceVolume = 2,
    kDeviceCache = 3,
    kDeviceEdiImage = 4,
    kDeviceDiskImage = 5,
};

class IStorageDevice {
public:
    virtual ~IStorageDevice() = default;
    // 1 on success, 0 on failure.
    virtual int Open(char* path) = 0;
    // 1 when something was open, 0 otherwise.
    virtual int Close() = 0;
    // Non-zero on success, 0 on failure.
    virtual int ReadSector(void* buffer, long long firstSector, long long count) = 0;
    virtual int GetSectorSize() = 0;
    virtual long long GetTotalSectors() = 0;
    virtual int IOCtl(unsigned long long code, void* arg) = 0;
    virtual IStorageDeviceData* GetPrivateData() = 0;
    // The device owns the data from then on.
    virtual void SetPrivateData(IStorageDeviceData* data) = 0;
    virtual int GetType() = 0;
    virtual VKRESULT GetLastError() = 0;
    virtual int IsPermitted() { return 1; }
    virtual void SetApfsDevicePath(char*) {}
};
