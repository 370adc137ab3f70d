#include "DiskDevice.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "DeviceCommon.h"
#include "SectorSize.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"
#include "Utility/MessageCenter.h"
#include "platform/RawIo.h"

namespace {

int g_reopenDelayMs = 1000;

bool CopyPath(char (&dest)[128], const char* path) {
    size_t len = std::strlen(path);
    if (len >= sizeof(dest))
        return false;
    std::memcpy(dest, path, len + 1);
    return true;
}

}  // namespace

CNodeDeviceBase::CNodeDeviceBase(const char* path) {
    if (path != nullptr && !CopyPath(m_path, path))
        m_pathTooLong = true;
}

CNodeDeviceBase::~CNodeDeviceBase() {
    Close();
}

void CNodeDeviceBase::SetReopenDelayMs(int ms) {
    g_reopenDelayMs = ms < 0 ? 0 : ms;
}

int CNodeDeviceBase::Open(char* path) {
    m_lastError = 0;
    if (path != nullptr) {
        // A cut path would name another node; refuse it instead.
        m_pathTooLong = !CopyPath(m_path, path);
    }
    if (m_pathTooLong || m_path[0] == '\0') {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrBadArgument);
        return 0;
    }
    int error = 0;
    if (storage_detail::ReopenReadOnly(m_fd, m_path, &error) < 0) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrFailed);
        CatchExeception::Trace("open failed:%d,%s\n", error, std::strerror(error));
        // Linux answers EACCES where the node's mode forbids reading.
        if (error == EPERM || error == EACCES)
            m_permitted = 0;
        return 0;
    }
    m_permitted = 1;
    int sectorSize = 512;
    long long sectors = 0;
    velmora::platform::CurrentRawIo().Geometry(m_fd, &sectorSize, &sectors);
    // The kernel's answer, made usable once: everything after trusts it.
    m_sectorSize =
        static_cast<int>(vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(sectorSize, 0))));
    m_totalSectors = sectors > 0 ? sectors : 0;
    return 1;
}

int CNodeDeviceBase::Close() {
    m_lastError = 0;
    return storage_detail::CloseFd(m_fd);
}

int CNodeDeviceBase::ReOpen() {
    Close();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Open(nullptr))
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(g_reopenDelayMs));
    }
    return 0;
}

int CNodeDeviceBase::ReadChecked(void* buffer, long long first, long long count,
                                 bool refusePastEnd) {
    m_lastError = 0;
    const long long ssz = m_sectorSize;
    if (buffer == nullptr || first < 0 || count <= 0 ||
        (refusePastEnd && first >= m_totalSectors) || first > LLONG_MAX / ssz ||
        count > LLONG_MAX / ssz) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrBadArgument);
        return 0;
    }
    if (VKReadAsyncData(buffer, m_fd, first * ssz, count * ssz) > 0)
        return 1;
    m_lastError = VK_ERROR(kModuleStorageDevice, kErrFailed);
    return 0;
}

int CDiskDevice::ReadSector(void* buffer, long long firstSector, long long count) {
    if (ReadChecked(buffer, firstSector, count, false))
        return 1;
    // A whole-disk scan reads through the disk itself: its bad sectors must
    // reach the user as a volume's do, not pass unnoticed as zeros.
    if (ResultIs(m_lastError, kModuleStorageDevice, kErrFailed))
        CMessageCenter::Instance()->PushEvent(kEventSectorReadFailed, 0, nullptr);
    return 0;
}

void CDiskDevice::SetPrivateData(IStorageDeviceData* data) {
    ReplacePrivateData(data);
    auto* holder = dynamic_cast<IDiskDeviceData*>(data);
    if (holder == nullptr || holder->GetDiskInfo() == nullptr)
        return;
    const CCollectDiskDeviceInfoStruct* info = holder->GetDiskInfo();
    if (info->sectorSize > 0 && vk::IsValidSectorSize(static_cast<uint64_t>(info->sectorSize)))
        m_sectorSize = static_cast<int>(info->sectorSize);
    if (info->totalSectors >= 0)
        m_totalSectors = info->totalSectors;
}

CCollectDiskDeviceInfoStruct* CDiskDevice::GetDiskInfo() {
    return storage_detail::FindRecord(m_privateData, &IDiskDeviceData::GetDiskInfo, m_lastError);
}

void CDiskDevice::SetVolumes(const std::vector<CCollectedVolumeDeviceInfoStruct>& volumes) {
    m_volumes = volumes;
}

int CDiskDevice::GetVolumes(std::vector<CCollectedVolumeDeviceInfoStruct>& volumes) {
    volumes = m_volumes;
    return static_cast<int>(m_volumes.size());
}

CVolumeDevice::CVolumeDevice(const char* path) : CNodeDeviceBase(path) {}

CVolumeDevice::~CVolumeDevice() {
    CMessageCenter::Instance()->UnregisterNotifyCenter(1);
}

int CVolumeDevice::ReadSector(void* buffer, long long firstSector, long long count) {
    if (ReadChecked(buffer, firstSector, count, true))
        return 1;
    if (ResultIs(m_lastError, kModuleStorageDevice, kErrFailed)) {
        CMessageCenter::Instance()->PushEvent(kEventSectorReadFailed, 0, nullptr);
    }
    return 0;
}

void CVolumeDevice::SetPrivateData(IStorageDeviceData* data) {
    ReplacePrivateData(data);
    auto* holder = dynamic_cast<IVolumeDeviceData*>(data);
    if (holder == nullptr || holder->GetVolumeInfo() == nullptr)
        return;
    const CCollectedVolumeDeviceInfoStruct* info = holder->GetVolumeInfo();
    if (info->sectorSize > 0 && vk::IsValidSectorSize(static_cast<uint64_t>(info->sectorSize)))
        m_sectorSize = static_cast<int>(info->sectorSize);
    if (info->totalSectors >= 0)
        m_totalSectors = info->totalSectors;
}

void CVolumeDevice::SetApfsDevicePath(char* path) {
    std::memset(m_apfsDevicePath, 0, sizeof(m_apfsDevicePath));
    if (path != nullptr)
        std::strncpy(m_apfsDevicePath, path, sizeof(m_apfsDevicePath) - 1);
}

CCollectedVolumeDeviceInfoStruct* CVolumeDevice::GetVolumeInfo() {
    return storage_detail::FindRecord(m_privateData, &IVolumeDeviceData::GetVolumeInfo,
                                      m_lastError);
}

IStorageDevice* CreateDiskDevice(const char* path) {
    return new CDiskDevice(path);
}
IStorageDevice* CreateVolumeDevice(const char* path) {
    return new CVolumeDevice(path);
}

bool IsLiveVolumeDevice(IStorageDevice* device) {
    return dynamic_cast<CVolumeDevice*>(device) != nullptr;
}

bool SetDiskVolumes(IStorageDevice* disk, const std::vector<CCollectedVolumeDeviceInfoStruct>& v) {
    auto* ours = dynamic_cast<CDiskDevice*>(disk);
    if (ours == nullptr)
        return false;
    ours->SetVolumes(v);
    return true;
}

int GetDiskVolumes(IStorageDevice* disk, std::vector<CCollectedVolumeDeviceInfoStruct>& out) {
    auto* ours = dynamic_cast<CDiskDevice*>(disk);
    return ours != nullptr ? ours->GetVolumes(out) : -1;
}
