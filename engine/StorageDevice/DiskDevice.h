// Whole-disk and volume devices over device nodes.
#pragma once

#include <vector>

#include "DeviceCommon.h"
#include "IStorageDevice.h"
#include "StorageDeviceData.h"

// The parts shared by the two node devices: the descriptor, the geometry and
// the guarded read.
class CNodeDeviceBase : public storage_detail::DeviceBase {
public:
    explicit CNodeDeviceBase(const char* path);
    ~CNodeDeviceBase() override;

    int Open(char* path) override;
    int Close() override;
    long long GetTotalSectors() override { return m_totalSectors; }
    int IsPermitted() override { return m_permitted; }

    // Closes, then tries to open the stored path three times, waiting
    // between tries; 1 on success.
    int ReOpen();
    const char* GetPath() const { return m_path; }

    // The pause between reopen tries (one second; tests shorten it).
    static void SetReopenDelayMs(int ms);

protected:
    // Checks the arguments, reads, and sets the last error; 1 on success.
    int ReadChecked(void* buffer, long long first, long long count, bool refusePastEnd);

    int m_fd = -1;
    char m_path[128] = {};
    long long m_totalSectors = 0;
    int m_permitted = 1;
    bool m_pathTooLong = false;
};

class CDiskDevice : public CNodeDeviceBase {
public:
    explicit CDiskDevice(const char* path) : CNodeDeviceBase(path) {}
    ~CDiskDevice() override = default;

    int ReadSector(void* buffer, long long firstSector, long long count) override;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDeviceDisk; }

    CCollectDiskDeviceInfoStruct* GetDiskInfo();
    void SetVolumes(const std::vector<CCollectedVolumeDeviceInfoStruct>& volumes);
    int GetVolumes(std::vector<CCollectedVolumeDeviceInfoStruct>& volumes);

private:
    std::vector<CCollectedVolumeDeviceInfoStruct> m_volumes;
};

class CVolumeDevice : public CNodeDeviceBase {
public:
    explicit CVolumeDevice(const char* path);
    ~CVolumeDevice() override;

    int ReadSector(void* buffer, long long firstSector, long long count) override;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return kDeviceVolume; }
    void SetApfsDevicePath(char* path) override;

    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();
    const char* GetApfsDevicePath() const { return m_apfsDevicePath; }

private:
    char m_apfsDevicePath[1024] = {};
};
