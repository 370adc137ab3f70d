// Devices that read a scan target out of an image file: the engine's own edi
// images and disk images whose sectors lie uncompressed at a known offset.
#pragma once

#include "DeviceCommon.h"
#include "IStorageDevice.h"
#include "StorageDeviceData.h"

class CImageDeviceBase : public storage_detail::DeviceBase {
public:
    explicit CImageDeviceBase(const char* path);
    ~CImageDeviceBase() override;

    // The argument is not consulted: the device opens its own image path.
    int Open(char* path) override;
    int Close() override;
    int ReadSector(void* buffer, long long firstSector, long long count) override;
    long long GetTotalSectors() override { return m_totalSectors; }

    long long GetDataOffset() const { return m_dataOffset; }
    const char* GetImagePath() const { return m_imagePath; }
    bool PathFits() const { return m_pathFits; }

protected:
    // Attaches the data and takes the geometry from the record's first three
    // fields, when the record is present and its values are usable.
    void Attach(IStorageDeviceData* data, const void* record, long long sectorSize,
                long long totalSectors, long long dataOffset);

    int m_fd = -1;
    char m_imagePath[1024] = {};
    long long m_totalSectors = 0;
    long long m_dataOffset = 0;
    bool m_pathFits = true;
    bool m_haveRecord = false;
};

class CEdiDevice : public CImageDeviceBase {
public:
    using CImageDeviceBase::CImageDeviceBase;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDeviceEdiImage; }
    CEDIDeviceInfoStruct* GetEDIInfo();
};

class CDmgDevice : public CImageDeviceBase {
public:
    using CImageDeviceBase::CImageDeviceBase;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDeviceDiskImage; }
    CDMGDeviceInfoStruct* GetDMGInfo();
};
