#include "EnumDevice.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "ByteReader.h"
#include "SectorSize.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"
#include "Utility/MessageCenter.h"

namespace {

int TypeRank(IStorageDevice* device) {
    return device ? device->GetType() : INT_MAX;
}

// The sort key inside a type: a missing record sorts last.
long long NumberKey(IStorageDevice* device) {
    if (device == nullptr)
        return LLONG_MAX;
    IStorageDeviceData* data = device->GetPrivateData();
    if (device->GetType() == kDevicePartition) {
        auto* holder = dynamic_cast<IPartitionDeviceData*>(data);
        if (holder && holder->GetPartitionInfo())
            return holder->GetPartitionInfo()->partitionIndex;
    } else if (device->GetType() == kDeviceVolume) {
        auto* holder = dynamic_cast<IVolumeDeviceData*>(data);
        if (holder && holder->GetVolumeInfo())
            return holder->GetVolumeInfo()->partitionNumber;
    }
    return LLONG_MAX;
}

const char* DiskName(IStorageDevice* device) {
    auto* holder = dynamic_cast<IDiskDeviceData*>(device->GetPrivateData());
    if (holder && holder->GetDiskInfo())
        return holder->GetDiskInfo()->bsdName;
    return nullptr;
}

}  // namespace

bool CDevListSortAlgorithm::operator()(IStorageDevice* a, IStorageDevice* b) const {
    const int ra = TypeRank(a), rb = TypeRank(b);
    if (ra != rb)
        return ra < rb;
    if (a == nullptr)
        return false;
    if (ra == kDeviceDisk) {
        const char* na = DiskName(a);
        const char* nb = DiskName(b);
        if (na == nullptr || nb == nullptr)
            return na != nullptr && nb == nullptr;
        // strcmp compares as unsigned bytes.
        return std::strncmp(na, nb, sizeof(CCollectDiskDeviceInfoStruct::bsdName)) < 0;
    }
    if (ra == kDevicePartition || ra == kDeviceVolume)
        return NumberKey(a) < NumberKey(b);
    return false;
}

void CDevListSortAlgorithm::Sort(DevList& list) {
    std::stable_sort(list.begin(), list.end(), CDevListSortAlgorithm());
}

void ReleaseDevList(DevList& list) {
    for (IStorageDevice* device : list)
        delete device;
    list.clear();
}

namespace {
template <class Record, class Holder>
bool Attach(IStorageDevice* device, Record* record, Holder* (*make)(Record*)) {
    IStorageDeviceData* holder = make(record);
    if (holder == nullptr) {
        delete record;
        return false;
    }
    device->SetPrivateData(holder);
    return true;
}
}  // namespace

bool AttachRecord(IStorageDevice* device, CCollectDiskDeviceInfoStruct* record) {
    return Attach(device, record, &CreateDiskDeviceData);
}
bool AttachRecord(IStorageDevice* device, CCollectedVolumeDeviceInfoStruct* record) {
    return Attach(device, record, &CreateVolumeDeviceData);
}
bool AttachRecord(IStorageDevice* device, CCollectedPartitionDeviceInfoStruct* record) {
    return Attach(device, record, &CreatePartitionDeviceData);
}

CCollectDiskDeviceInfoStruct* GetDiskInfo(const IStorageDevice* disk) {
    if (disk == nullptr)
        return nullptr;
    auto* holder =
        dynamic_cast<IDiskDeviceData*>(const_cast<IStorageDevice*>(disk)->GetPrivateData());
    return holder ? holder->GetDiskInfo() : nullptr;
}

const char* GetDiskDevName(const IStorageDevice* disk) {
    CCollectDiskDeviceInfoStruct* info = GetDiskInfo(disk);
    return info ? info->bsdName : nullptr;
}

int GetDiskDevSectorSize(const IStorageDevice* disk) {
    CCollectDiskDeviceInfoStruct* info = GetDiskInfo(disk);
    return static_cast<int>(vk::NormaliseSectorSize(
        info && info->sectorSize > 0 ? static_cast<uint64_t>(info->sectorSize) : 0));
}

int GetDiskPartSchemeType(const IStorageDevice* disk) {
    CCollectDiskDeviceInfoStruct* info = GetDiskInfo(disk);
    return info ? info->partitionScheme : kSchemeNone;
}

bool IsGptDisk(const IStorageDevice* disk) {
    return GetDiskPartSchemeType(disk) == kSchemeGPT;
}
bool IsApmDisk(const IStorageDevice* disk) {
    return GetDiskPartSchemeType(disk) == kSchemeAPM;
}

DiskTable ReadDiskTable(IStorageDevice* disk) {
    DiskTable table;
    if (disk == nullptr)
        return table;
    CPartitionTableAnalyze analyze;
    VKRESULT r = analyze.AnalyzePartitionTable(disk, table.entries);
    if (ResultFailed(r)) {
        CatchExeception::WriteLog("Partition table of %s not read: 0x%llx\n",
                                  GetDiskDevName(disk) ? GetDiskDevName(disk) : "?",
                                  static_cast<unsigned long long>(r));
        table.entries.clear();
        return table;
    }
    table.read = true;
    table.scheme = analyze.GetScheme();
    if (table.entries.empty() && disk->GetTotalSectors() > 0) {
        PartitionEntry whole{};
        whole.index = -1;
        whole.startSector = 0;
        whole.sectorCount = disk->GetTotalSectors();
        table.entries.push_back(whole);
    }
    return table;
}

_GUID GuidFromDisk(const uint8_t (&bytes)[16]) {
    vk::ByteReader reader(bytes, sizeof(bytes));
    _GUID guid{};
    guid.Data1 = reader.LE32(0);
    guid.Data2 = reader.LE16(4);
    guid.Data3 = reader.LE16(6);
    std::memcpy(guid.Data4, bytes + 8, sizeof(guid.Data4));
    return guid;
}

std::shared_ptr<const EnumSnapshot> EnumSnapshot::Take(const EnumDeviceEnvironment& env) {
    velmora::platform::SysfsBlockRegistry registry(env.sysfsRoot);
    auto snapshot = std::make_shared<EnumSnapshot>(EnumSnapshot{
        registry.List(), velmora::platform::MountTable(env.mountInfoPath),
        velmora::platform::DeviceNaming(env.devFolder),
        env.containers ? env.containers : velmora::platform::MakeContainerListing(env.devFolder)});
    for (const auto& skipped : snapshot->blocks.skipped)
        CatchExeception::WriteLog("Block device %s not listed: %s\n", skipped.name.c_str(),
                                  skipped.reason.c_str());
    return snapshot;
}

// ---- CEnumDevice ----

CEnumDevice::CEnumDevice(EnumDeviceEnvironment env) : m_env(std::move(env)) {}

std::shared_ptr<const EnumSnapshot> CEnumDevice::Snapshot() {
    if (!m_snapshot)
        m_snapshot = EnumSnapshot::Take(m_env);
    return m_snapshot;
}

VKRESULT CEnumDevice::EnumDiskDevice(DevList& list) {
    ReleaseDevList(list);
    m_tables.clear();
    m_snapshot = EnumSnapshot::Take(m_env);
    return CEnumDisk(m_snapshot).ExecEnum(list, &m_tables);
}

VKRESULT CEnumDevice::EnumPartitionDevice(const IStorageDevice* disk, DevList& list) {
    ReleaseDevList(list);
    auto it = m_tables.find(disk);
    return CEnumPartition().ExecEnum(disk, list, it == m_tables.end() ? nullptr : &it->second);
}

VKRESULT CEnumDevice::EnumVolumeDevice(const IStorageDevice* disk, DevList& list) {
    ReleaseDevList(list);
    if (disk == nullptr)
        return VK_OK;
    auto it = m_tables.find(disk);
    return CEnumVolume(Snapshot())
        .ExecEnum(disk, list, it == m_tables.end() ? nullptr : &it->second);
}

// ---- CEnumDeviceEx ----

CEnumDeviceEx::CEnumDeviceEx(EnumDeviceEnvironment env) : m_env(std::move(env)) {}

CEnumDeviceEx::~CEnumDeviceEx() {
    if (m_initialised || m_enum)
        Uninit();
}

VKRESULT CEnumDeviceEx::Init() {
    if (m_initialised)
        Uninit();
    m_enum = new CEnumDevice(m_env);
    VKRESULT r = m_enum->EnumDiskDevice(m_disks);
    if (ResultFailed(r) || m_disks.empty()) {
        Uninit();
        return VK_ERROR(kModuleEnumDevice, kErrFailed);
    }
    for (IStorageDevice* disk : m_disks) {
        DevList volumes, partitions;
        VKRESULT rv = m_enum->EnumVolumeDevice(disk, volumes);
        if (ResultFailed(rv))
            CatchExeception::WriteLog("Volumes of %s: 0x%llx\n", GetDiskDevName(disk),
                                      static_cast<unsigned long long>(rv));
        VKRESULT rp = m_enum->EnumPartitionDevice(disk, partitions);
        if (ResultFailed(rp))
            CatchExeception::WriteLog("Partitions of %s: 0x%llx\n", GetDiskDevName(disk),
                                      static_cast<unsigned long long>(rp));
        m_volumes[disk] = std::move(volumes);
        m_partitions[disk] = std::move(partitions);
    }
    m_initialised = 1;
    return VK_OK;
}

VKRESULT CEnumDeviceEx::Uninit() {
    const bool was = m_initialised != 0;
    // Volumes and partitions read through their disk: they go first.
    for (auto& [disk, list] : m_converted)
        ReleaseDevList(list);
    for (auto& [disk, list] : m_volumes)
        ReleaseDevList(list);
    for (auto& [disk, list] : m_partitions)
        ReleaseDevList(list);
    m_converted.clear();
    m_merged.clear();
    m_volumes.clear();
    m_partitions.clear();
    ReleaseDevList(m_disks);
    delete m_enum;
    m_enum = nullptr;
    m_initialised = 0;
    return was ? VK_OK : VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
}

VKRESULT CEnumDeviceEx::Answer(const DevList& list, IStorageDevice** out, int& count) {
    const int size = static_cast<int>(list.size());
    if (out == nullptr) {
        count = size;
        return VK_OK;
    }
    if (count != 0 && count < size)
        return VK_ERROR(kModuleEnumDevice, kErrArrayTooSmall);
    if (count < 0)
        count = 0;
    const int filled = count == 0 ? 0 : size;
    for (int i = 0; i < filled; ++i)
        out[i] = list[static_cast<size_t>(i)];
    count = filled;
    return VK_OK;
}

VKRESULT CEnumDeviceEx::EnumDiskDevice(IStorageDevice** out, int& count) {
    if (!m_initialised)
        return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
    return Answer(m_disks, out, count);
}

VKRESULT CEnumDeviceEx::EnumPartitionDevice(const IStorageDevice* disk, IStorageDevice** out,
                                            int& count) {
    if (!m_initialised)
        return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
    if (disk == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
    auto it = m_partitions.find(disk);
    if (it == m_partitions.end())
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    return Answer(it->second, out, count);
}

VKRESULT CEnumDeviceEx::EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** out,
                                         int& count) {
    if (!m_initialised)
        return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
    if (disk == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
    auto vit = m_volumes.find(disk);
    if (vit == m_volumes.end())
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    auto mit = m_merged.find(disk);
    if (mit == m_merged.end()) {
        const DevList& volumes = vit->second;
        const DevList& partitions = m_partitions[disk];
        DevList merged;
        VKRESULT r = CMergeVolumeAndPartition::MergeAsVolume(
            merged, volumes.data(), static_cast<int>(volumes.size()), partitions.data(),
            static_cast<int>(partitions.size()));
        if (ResultFailed(r))
            return r;
        // What the merge made beyond the live volumes is ours to keep and
        // free; later queries hand out the same devices.
        DevList converted(merged.begin() + static_cast<long>(volumes.size()), merged.end());
        m_converted[disk] = std::move(converted);
        mit = m_merged.emplace(disk, std::move(merged)).first;
    }
    return Answer(mit->second, out, count);
}

namespace {
CEnumDeviceEx& SharedEnumerator() {
    // Volume devices leave the event relay when deleted, which the shared
    // enumerator does at exit: the relay is made first so it is destroyed
    // after the enumerator.
    CMessageCenter::Instance();
    static CEnumDeviceEx instance;
    return instance;
}
}  // namespace

IEnumDeviceEx* CreateEnumDeviceEx() {
    return &SharedEnumerator();
}

CEnumDevice* CreateEnumDevice() {
    static CEnumDevice instance;
    return &instance;
}
