#include "VKUIDeviceData.h"

#include <cstdint>
#include <cstring>

#include "StorageDevices.h"

namespace {

// The GUIDs as the records keep them: the numbers of their text form.
constexpr _GUID kEfiSystemPartition = {
    0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
constexpr _GUID kAppleBootPartition = {
    0x426F6F74, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
constexpr int32_t kSchemeGuid = 2;
constexpr int32_t kSchemeApple = 3;
constexpr int32_t kBusUsb = 4;
constexpr int32_t kBusVirtual = 5;

bool SameGuid(const _GUID& a, const _GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

// The text of a fixed field, never read past its end.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Bytes of `count` sectors of `size` bytes, saturated rather than wrapped:
// an image's record comes from a file.
int64_t Capacity(int64_t size, int64_t count) {
    if (size <= 0 || count <= 0)
        return 0;
    const __int128 bytes = static_cast<__int128>(size) * count;
    return bytes > INT64_MAX ? INT64_MAX : static_cast<int64_t>(bytes);
}

// The devices an enumeration call lists; empty when it fails.
template <class Call>
std::vector<IStorageDevice*> Listed(Call call) {
    int count = 0;
    if (ResultFailed(call(nullptr, count)) || count <= 0)
        return {};
    std::vector<IStorageDevice*> devices(static_cast<size_t>(count), nullptr);
    if (ResultFailed(call(devices.data(), count)))
        return {};
    devices.resize(static_cast<size_t>(count > 0 ? count : 0));
    return devices;
}

}  // namespace

// ---- leases ----

VKUIDeviceData::DeviceLease::~DeviceLease() {
    Release();
}

VKUIDeviceData::DeviceLease::DeviceLease(DeviceLease&& other) noexcept
    : owner_(other.owner_), device_(other.device_) {
    other.owner_ = nullptr;
    other.device_ = nullptr;
}

VKUIDeviceData::DeviceLease& VKUIDeviceData::DeviceLease::operator=(DeviceLease&& other) noexcept {
    if (this != &other) {
        Release();
        owner_ = other.owner_;
        device_ = other.device_;
        other.owner_ = nullptr;
        other.device_ = nullptr;
    }
    return *this;
}

void VKUIDeviceData::DeviceLease::Release() {
    if (owner_ != nullptr)
        owner_->EndLease();
    owner_ = nullptr;
    device_ = nullptr;
}

VKUIDeviceData::DeviceLease VKUIDeviceData::LeaseDevice(int disk, int volume) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    IStorageDevice* device = GetStorageByDiskVolumeIndex(disk, volume);
    if (device == nullptr)
        return {};
    if (m_leases++ == 0)
        SetDevicesOpen(true);
    return DeviceLease(this, device);
}

void VKUIDeviceData::EndLease() {
    {
        std::lock_guard<std::recursive_mutex> hold(m_lock);
        if (--m_leases == 0)
            SetDevicesOpen(false);
    }
    m_leaseEnded.notify_all();
}

// An open descriptor keeps a loop device attached (the kernel detaches it
// at its last close) and a removed disk's node alive: the enumerator's
// devices are open only while a lease reads them.
void VKUIDeviceData::SetDevicesOpen(bool open) {
    static const std::vector<IStorageDevice*> kNone;
    for (const auto& [index, disk] : m_diskMap) {
        const int type = disk->GetType();
        if (type == kDeviceEdiImage || type == kDeviceDiskImage)
            continue;
        auto it = m_volumeMap.find(disk);
        const std::vector<IStorageDevice*>& volumes = it != m_volumeMap.end() ? it->second : kNone;
        if (open) {
            disk->Open(nullptr);
            for (IStorageDevice* volume : volumes)
                volume->Open(nullptr);
        } else {
            for (IStorageDevice* volume : volumes)
                volume->Close();
            disk->Close();
        }
    }
}

std::unique_lock<std::recursive_mutex> VKUIDeviceData::LockWithoutLeases() {
    std::unique_lock<std::recursive_mutex> lock(m_lock);
    m_leaseEnded.wait(lock, [this] { return m_leases == 0; });
    return lock;
}

// ---- building ----

VKUIDeviceData& VKUIDeviceData::instance() {
    static VKUIDeviceData catalogue(CreateEnumDeviceEx());
    return catalogue;
}

VKUIDeviceData::VKUIDeviceData(IEnumDeviceEx* enumerator) : m_enumerator(enumerator) {}

VKUIDeviceData::~VKUIDeviceData() {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_diskMap.clear();
    m_volumeMap.clear();
}

int VKUIDeviceData::GetInitState() const {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return m_initState;
}

bool VKUIDeviceData::TryGetInitState(int* state) const {
    std::unique_lock<std::recursive_mutex> hold(m_lock, std::try_to_lock);
    if (!hold.owns_lock())
        return false;
    *state = m_initState;
    return true;
}

void VKUIDeviceData::Rebuild() {
    auto lock = LockWithoutLeases();
    Clear();
    InitDeviceInfo();
}

void VKUIDeviceData::InitDeviceInfo() {
    // A new look frees the devices of the last one.
    auto lock = LockWithoutLeases();
    m_initState = 1;
    if (m_enumerator == nullptr || ResultFailed(m_enumerator->Init())) {
        m_diskMap.clear();
        m_volumeMap.clear();
        return;
    }
    GetDiskStorageMap(1);
    GetVolumeStorageMap(1);
    m_initState = 2;
    SetDevicesOpen(false);
}

void VKUIDeviceData::Clear() {
    auto lock = LockWithoutLeases();
    if (m_initState != 2)
        return;
    if (m_enumerator != nullptr)
        m_enumerator->Uninit();
    m_diskMap.clear();
    m_volumeMap.clear();
}

void VKUIDeviceData::GetDiskStorageMap(int force) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if ((force == 0 && !m_diskMap.empty()) || m_enumerator == nullptr)
        return;
    m_diskMap.clear();
    std::vector<IStorageDevice*> disks = Listed([this](IStorageDevice** out, int& count) {
        return m_enumerator->EnumDiskDevice(out, count);
    });
    if (disks.empty())
        return;
    uint32_t index = 0;
    for (IStorageDevice* disk : disks)
        m_diskMap[index++] = disk;
    for (const auto& image : m_ediImages)
        m_diskMap[index++] = image.get();
    for (const auto& image : m_dmgImages)
        m_diskMap[index++] = image.get();
}

void VKUIDeviceData::GetVolumeStorageMap(int force) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if ((force == 0 && !m_volumeMap.empty()) || m_enumerator == nullptr)
        return;
    m_volumeMap.clear();
    for (const auto& [index, disk] : m_diskMap) {
        int count = 0;
        if (ResultFailed(m_enumerator->EnumVolumeDevice(disk, nullptr, count)))
            continue;
        m_volumeMap[disk] = Listed([this, disk = disk](IStorageDevice** out, int& n) {
            return m_enumerator->EnumVolumeDevice(disk, out, n);
        });
    }
}

// ---- records ----

CCollectDiskDeviceInfoStruct* VKUIDeviceData::DiskInfoOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IDiskDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetDiskInfo() : nullptr;
}

CEDIDeviceInfoStruct* VKUIDeviceData::EdiInfoOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IEDIDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetEDIInfo() : nullptr;
}

CDMGDeviceInfoStruct* VKUIDeviceData::DmgInfoOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IDmgDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetDMGInfo() : nullptr;
}

CCollectedVolumeDeviceInfoStruct* VKUIDeviceData::GetVolumeInfo(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetVolumeInfo() : nullptr;
}

int VKUIDeviceData::GetDiskDataByDiskInfo(const CCollectDiskDeviceInfoStruct* info,
                                          _DiskVolumeData& record) {
    if (info == nullptr || info->flag != 0)
        return 0;
    // A disk without a model (a virtual disk, say) is known by its node
    // ("vda") rather than as one more untitled disk.
    record.name = info->registryName[0] != '\0' ? info->registryName : info->bsdName;
    record.bsdName = info->bsdName;
    record.capacity = Capacity(info->sectorSize, info->totalSectors);
    record.used = 0;
    record.isDmg = info->busType == kBusVirtual ? 1 : 0;
    record.isUSB = info->busType == kBusUsb ? 1 : 0;
    record.isSSD = FieldText(info->registryName).find("SSD") != std::string::npos ? 1 : 0;
    return 1;
}

int VKUIDeviceData::GetDiskDataByEdiInfo(const CEDIDeviceInfoStruct* info,
                                         _DiskVolumeData& record) {
    if (info == nullptr)
        return 0;
    record.name = info->deviceName;
    // The reader takes the low 32 bits of the sector size; so does the row.
    record.capacity =
        Capacity(static_cast<int32_t>(info->sectorSize & 0xffffffff), info->totalSectors);
    record.used = 0;
    record.bsdName = info->imagePath;
    record.isDmg = 0;
    record.isAppleDmg = 0;
    record.isSSD = 0;
    record.isEdi = 1;
    record.ediInfo = info;
    record.ediInfoSize = kEdiInfoSize;
    return 1;
}

int VKUIDeviceData::GetDiskDataByDmgInfo(const CDMGDeviceInfoStruct* info,
                                         _DiskVolumeData& record) {
    if (info == nullptr)
        return 0;
    record.name = info->fileName;
    const unsigned __int128 capacity =
        static_cast<unsigned __int128>(info->sectorSize) * info->totalSectors;
    record.capacity =
        info->fileSize >= 0 && capacity > static_cast<unsigned __int128>(info->fileSize)
            ? info->fileSize
            : static_cast<int64_t>(capacity > INT64_MAX ? INT64_MAX : capacity);
    record.used = 0;
    record.bsdName = info->filePath;
    record.isDmg = 0;
    record.isAppleDmg = 1;
    record.isSSD = 0;
    record.isEdi = 0;
    record.dmgInfo = info;
    record.dmgInfoSize = kDmgInfoSize;
    return 1;
}

int VKUIDeviceData::GetDiskDataByStorage(IStorageDevice* device, _DiskVolumeData& record) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (device == nullptr)
        return 0;
    if (CCollectDiskDeviceInfoStruct* disk = DiskInfoOf(device)) {
        if (GetDiskDataByDiskInfo(disk, record) == 0)
            return 0;
        record.permitted = device->IsPermitted();
    } else if (GetDiskDataByEdiInfo(EdiInfoOf(device), record) == 0 &&
               GetDiskDataByDmgInfo(DmgInfoOf(device), record) == 0) {
        return 0;
    }
    record.diskIndex = GetDiskIndexByStorage(device);
    return 1;
}

int VKUIDeviceData::GetVolumeDataByVolumeInfo(const CCollectedVolumeDeviceInfoStruct* info,
                                              _DiskVolumeData& record) {
    if (info == nullptr || info->flag != 0 || IsSupportVolume(info) == 0)
        return 0;
    record.name = info->volumeName;
    record.capacity = Capacity(info->sectorSize, info->totalSectors);
    record.used = 0;
    record.fileSystem = info->fileSystemType;
    return 1;
}

int VKUIDeviceData::GetVolumeDataByStorage(IStorageDevice* device, _DiskVolumeData& record) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (device == nullptr)
        return 0;
    if (CCollectedVolumeDeviceInfoStruct* info = GetVolumeInfo(device)) {
        if (GetVolumeDataByVolumeInfo(info, record) == 0)
            return 0;
        IStorageDevice* disk = GetDiskStorageByVolumeStorage(device);
        record.diskIndex = GetDiskIndexByStorage(disk);
        record.volumeIndex = GetVolumeIndexByStorage(disk, device);
        record.bsdName = info->bsdName;
        return 1;
    }
    if (EdiInfoOf(device) == nullptr && DmgInfoOf(device) == nullptr)
        return 0;
    if (GetDiskDataByStorage(device, record) == 0)
        return 0;
    record.volumeIndex = -1;
    return 1;
}

void VKUIDeviceData::GetDiskVolumeInfo(IStorageDevice* disk, std::vector<_DiskVolumeData>& list) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    auto it = m_volumeMap.find(disk);
    if (it == m_volumeMap.end())
        return;
    for (IStorageDevice* volume : it->second) {
        _DiskVolumeData record;
        record.permitted = volume ? volume->IsPermitted() : 0;
        if (GetVolumeDataByStorage(volume, record) != 0)
            list.push_back(record);
    }
}

void VKUIDeviceData::GetAllDeviceInfo(std::vector<_DiskVolumeData>& list) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_diskMap.empty() || m_enumerator == nullptr)
        return;
    for (const auto& [index, disk] : m_diskMap) {
        _DiskVolumeData record;
        if (GetDiskDataByStorage(disk, record) == 0)
            continue;
        GetDiskVolumeInfo(disk, record.volumes);
        list.push_back(std::move(record));
    }
}

// ---- lookups ----

IStorageDevice* VKUIDeviceData::GetStorageByDiskVolumeIndex(int disk, int volume) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (disk == -1)
        return nullptr;
    IStorageDevice* device = GetDiskStorageByIndex(disk);
    if (volume == -1)
        return device;
    return GetVolumeStorageByIndex(device, volume);
}

IStorageDevice* VKUIDeviceData::GetDiskStorageByIndex(int index) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (index < 0)
        return nullptr;
    auto it = m_diskMap.find(static_cast<uint32_t>(index));
    return it == m_diskMap.end() ? nullptr : it->second;
}

IStorageDevice* VKUIDeviceData::GetVolumeStorageByIndex(IStorageDevice* disk, int index) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (index < 0)
        return nullptr;
    auto it = m_volumeMap.find(disk);
    if (it == m_volumeMap.end() || static_cast<size_t>(index) >= it->second.size())
        return nullptr;
    return it->second[static_cast<size_t>(index)];
}

int VKUIDeviceData::GetDiskVolumeIndexByStorage(IStorageDevice* device, int& disk, int& volume) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (device == nullptr)
        return 0;
    const int asDisk = GetDiskIndexByStorage(device);
    if (asDisk >= 0) {
        disk = asDisk;
        volume = -1;
        return 1;
    }
    for (const auto& [d, volumes] : m_volumeMap) {
        for (size_t i = 0; i < volumes.size(); ++i) {
            if (volumes[i] == device) {
                disk = GetDiskIndexByStorage(d);
                volume = static_cast<int>(i);
                return 1;
            }
        }
    }
    return 0;
}

int VKUIDeviceData::GetDiskIndexByStorage(IStorageDevice* device) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (device == nullptr)
        return -1;
    for (const auto& [index, disk] : m_diskMap) {
        if (disk == device)
            return static_cast<int>(index);
    }
    return -1;
}

IStorageDevice* VKUIDeviceData::GetDiskStorageByVolumeStorage(IStorageDevice* device) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (device == nullptr)
        return nullptr;
    const int type = device->GetType();
    if (type == kDeviceEdiImage || type == kDeviceDiskImage)
        return device;
    for (const auto& [disk, volumes] : m_volumeMap) {
        for (IStorageDevice* v : volumes) {
            if (v == device)
                return disk;
        }
    }
    return nullptr;
}

int VKUIDeviceData::GetVolumeIndexByStorage(IStorageDevice* disk, IStorageDevice* volume) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    auto it = m_volumeMap.find(disk);
    if (it == m_volumeMap.end())
        return -1;
    for (size_t i = 0; i < it->second.size(); ++i) {
        if (it->second[i] == volume)
            return static_cast<int>(i);
    }
    return -1;
}

int VKUIDeviceData::IsDiskStorage(IStorageDevice* device) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (device == nullptr)
        return 0;
    const int type = device->GetType();
    if (type == kDeviceEdiImage || type == kDeviceDiskImage)
        return 0;
    return m_volumeMap.count(device) != 0 ? 1 : 0;
}

void VKUIDeviceData::GetDiskVolumeStorage(IStorageDevice* disk,
                                          std::vector<IStorageDevice*>& list) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    auto it = m_volumeMap.find(disk);
    if (it != m_volumeMap.end())
        list = it->second;
}

int VKUIDeviceData::IsSupportVolume(const CCollectedVolumeDeviceInfoStruct* info) {
    if (info == nullptr || info->disk == nullptr)
        return 1;
    const CCollectDiskDeviceInfoStruct* disk = DiskInfoOf(info->disk);
    if (disk == nullptr)
        return 1;
    if (disk->partitionScheme == kSchemeGuid && (SameGuid(info->gptType, kEfiSystemPartition) ||
                                                 SameGuid(info->gptType, kAppleBootPartition)))
        return 0;
    if (disk->partitionScheme == kSchemeApple) {
        const std::string type = FieldText(info->apmType);
        if (type == "Apple_partition_map" || type == "Apple_Free")
            return 0;
    }
    return 1;
}

int VKUIDeviceData::IsVolumeStorageSupported(IStorageDevice* device) {
    const CCollectedVolumeDeviceInfoStruct* info = GetVolumeInfo(device);
    return info == nullptr ? 0 : IsSupportVolume(info);
}

// ---- opened images ----

int VKUIDeviceData::VKCheckEdiFileExist(IStorageDevice* device) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    const CEDIDeviceInfoStruct* a = EdiInfoOf(device);
    if (a == nullptr)
        return 0;
    for (const auto& image : m_ediImages) {
        const CEDIDeviceInfoStruct* b = EdiInfoOf(image.get());
        if (b != nullptr && a->imageSize == b->imageSize && a->sectorSize == b->sectorSize &&
            a->totalSectors == b->totalSectors && a->dataOffset == b->dataOffset &&
            a->creationTime == b->creationTime &&
            FieldText(a->deviceName) == FieldText(b->deviceName))
            return 1;
    }
    return 0;
}

int VKUIDeviceData::VKCheckDmgFileExist(IStorageDevice* device) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    const CDMGDeviceInfoStruct* a = DmgInfoOf(device);
    if (a == nullptr)
        return 0;
    for (const auto& image : m_dmgImages) {
        const CDMGDeviceInfoStruct* b = DmgInfoOf(image.get());
        if (b != nullptr && FieldText(a->filePath) == FieldText(b->filePath))
            return 1;
    }
    return 0;
}

int VKUIDeviceData::VKOpenEdiFileImp(const char* path) {
    if (path == nullptr)
        return 0;
    std::unique_ptr<IStorageDevice> device(CreateEdiDevice(path));
    if (!device)
        return 0;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (VKCheckEdiFileExist(device.get()) != 0)
        return 1;
    m_ediImages.push_back(std::move(device));
    GetDiskStorageMap(1);
    GetVolumeStorageMap(1);
    return 1;
}

int VKUIDeviceData::VKOpenDmgFileImp(const char* path, CDMGDeviceInfoStruct record) {
    if (path == nullptr)
        return 0;
    std::unique_ptr<IStorageDevice> device(CreateDmgDevice(path, &record));
    if (!device)
        return 0;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (VKCheckDmgFileExist(device.get()) != 0)
        return 1;
    m_dmgImages.push_back(std::move(device));
    GetDiskStorageMap(1);
    GetVolumeStorageMap(1);
    return 1;
}

IStorageDevice* VKUIDeviceData::GetStorageByEdiInfo(const void* record, int length,
                                                    const char* path) {
    return CreateEdiDeviceByEdiInfo(const_cast<void*>(record), length, path);
}

IStorageDevice* VKUIDeviceData::GetStorageByDmgInfo(const void* record, int length,
                                                    const char* path) {
    return CreateDmgDeviceByDmgInfo(const_cast<void*>(record), length, path);
}
