#include "PartitionDevice.h"

#include <climits>
#include <cstring>

#include "DeviceCommon.h"
#include "SectorSize.h"
#include "StorageDevices.h"

namespace {

// A size given or asked of the parent, made usable by the one rule.
int UsableSize(int size) {
    return static_cast<int>(vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(size, 0))));
}

}  // namespace

CPartitionWindowBase::CPartitionWindowBase(IStorageDevice* parent, long long startSector,
                                           long long sectorCount, int sectorSize)
    : DeviceBase(UsableSize(sectorSize > 0 ? sectorSize : (parent ? parent->GetSectorSize() : 0))),
      m_parent(parent),
      m_startSector(startSector),
      m_sectorCount(sectorCount) {}

int CPartitionWindowBase::Open(char*) {
    m_lastError = 0;
    if (m_parent == nullptr) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrNoInformation);
        return 0;
    }
    auto* holder = dynamic_cast<IDiskDeviceData*>(m_parent->GetPrivateData());
    if (holder == nullptr || holder->GetDiskInfo() == nullptr) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrNoInformation);
        return 0;
    }
    const long long ssz = holder->GetDiskInfo()->sectorSize;
    if (ssz > 0 && vk::IsValidSectorSize(static_cast<uint64_t>(ssz)))
        m_sectorSize = static_cast<int>(ssz);
    return 1;
}

int CPartitionWindowBase::Close() {
    m_lastError = 0;
    return 1;
}

int CPartitionWindowBase::ReadSector(void* buffer, long long first, long long count) {
    m_lastError = 0;
    if (m_parent == nullptr) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrNoInformation);
        return 0;
    }
    if (buffer == nullptr || first < 0 || first >= m_sectorCount || count <= 0 ||
        count > m_sectorCount || m_startSector < 0 || m_startSector > LLONG_MAX - first ||
        m_sectorSize <= 0 || count > LLONG_MAX / m_sectorSize ||
        m_parent->GetSectorSize() != m_sectorSize) {
        // The window passes its sector numbers to the parent unchanged; with
        // a different sector size the parent would fill more than the
        // caller's buffer holds.
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrBadArgument);
        return 0;
    }
    long long n = count;
    if (first + count > m_sectorCount)
        n = m_sectorCount - first;
    int result = m_parent->ReadSector(buffer, m_startSector + first, n);
    if (!result) {
        m_lastError = m_parent->GetLastError();
        if (m_lastError == 0)
            m_lastError = VK_ERROR(kModuleStorageDevice, kErrFailed);
        return 0;
    }
    // Sectors past the window's end read as zeros, never as what the buffer
    // held before.
    if (n < count) {
        auto* out = static_cast<uint8_t*>(buffer);
        std::memset(out + n * m_sectorSize, 0, static_cast<size_t>((count - n) * m_sectorSize));
    }
    return result;
}

void CPartitionDevice::SetPrivateData(IStorageDeviceData* data) {
    ReplacePrivateData(data);
    auto* holder = dynamic_cast<IPartitionDeviceData*>(data);
    if (holder == nullptr || holder->GetPartitionInfo() == nullptr)
        return;
    const CCollectedPartitionDeviceInfoStruct* info = holder->GetPartitionInfo();
    if (info->sectorSize > 0 && vk::IsValidSectorSize(static_cast<uint64_t>(info->sectorSize)))
        m_sectorSize = static_cast<int>(info->sectorSize);
    if (info->sectorCount >= 0)
        m_sectorCount = info->sectorCount;
    if (info->startSector >= 0)
        m_startSector = info->startSector;
}

CCollectedPartitionDeviceInfoStruct* CPartitionDevice::GetPartitionInfo() {
    return storage_detail::FindRecord(m_privateData, &IPartitionDeviceData::GetPartitionInfo,
                                      m_lastError);
}

void CPartitionVirtualVolumeDevice::SetPrivateData(IStorageDeviceData* data) {
    ReplacePrivateData(data);
    auto* holder = dynamic_cast<IVolumeDeviceData*>(data);
    if (holder == nullptr || holder->GetVolumeInfo() == nullptr)
        return;
    const CCollectedVolumeDeviceInfoStruct* info = holder->GetVolumeInfo();
    if (info->sectorSize > m_sectorSize &&
        vk::IsValidSectorSize(static_cast<uint64_t>(info->sectorSize)))
        m_sectorSize = static_cast<int>(info->sectorSize);
    if (info->totalSectors >= 0)
        m_sectorCount = info->totalSectors;
}

CCollectedVolumeDeviceInfoStruct* CPartitionVirtualVolumeDevice::GetVolumeInfo() {
    return storage_detail::FindRecord(m_privateData, &IVolumeDeviceData::GetVolumeInfo,
                                      m_lastError);
}

IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, long long startSector,
                                      long long sectorCount) {
    return new CPartitionDevice(parent, startSector, sectorCount);
}

IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition) {
    if (partition == nullptr)
        return nullptr;
    auto* holder = dynamic_cast<IPartitionDeviceData*>(partition->GetPrivateData());
    if (holder == nullptr || holder->GetPartitionInfo() == nullptr)
        return nullptr;
    const CCollectedPartitionDeviceInfoStruct* info = holder->GetPartitionInfo();
    if (info->flag != 0 || info->disk == nullptr)
        return nullptr;
    if (info->startSector < 0 || info->sectorCount < 0)
        return nullptr;
    // The window is addressed in the parent's sectors.
    auto* device = new CPartitionVirtualVolumeDevice(
        info->disk, info->startSector, info->sectorCount, UsableSize(info->disk->GetSectorSize()));
    return device;
}
