#include <cstdlib>
#include <cstring>
#include <vector>

#include "EngineTypes.h"
#include "EnumDevice.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"

namespace {

CCollectedPartitionDeviceInfoStruct* PartitionRecord(IStorageDevice* device) {
    if (device == nullptr)
        return nullptr;
    auto* holder = dynamic_cast<IPartitionDeviceData*>(device->GetPrivateData());
    return holder ? holder->GetPartitionInfo() : nullptr;
}

CCollectedVolumeDeviceInfoStruct* VolumeRecord(IStorageDevice* device) {
    if (device == nullptr)
        return nullptr;
    auto* holder = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    return holder ? holder->GetVolumeInfo() : nullptr;
}

}  // namespace

VKRESULT CEnumPartition::ExecEnum(const IStorageDevice* diskConst, DevList& list,
                                  const DiskTable* known) {
    auto* disk = const_cast<IStorageDevice*>(diskConst);
    if (disk == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
    const DiskTable table = known ? *known : ReadDiskTable(disk);
    const int scheme = GetDiskPartSchemeType(disk);

    for (const PartitionEntry& entry : table.entries) {
        IStorageDevice* partition =
            CreatePartitionDevice(disk, entry.startSector, entry.sectorCount);
        if (partition == nullptr)
            return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
        if (!partition->Open(nullptr)) {
            VKRESULT error = partition->GetLastError();
            if (ResultFailed(error)) {
                delete partition;
                return error;
            }
            list.push_back(partition);
            continue;
        }
        const CCollectDiskDeviceInfoStruct* diskInfo = GetDiskInfo(disk);
        if (diskInfo == nullptr) {
            delete partition;
            return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
        }
        auto* info = new CCollectedPartitionDeviceInfoStruct{};
        info->flag = diskInfo->flag;
        info->fileSystemType = FS_UNKNOWN;
        info->sectorSize = diskInfo->sectorSize;
        info->sectorCount = entry.sectorCount;
        info->deviceId = diskInfo->deviceId;
        info->disk = disk;
        info->partitionIndex = entry.index;
        if (scheme == kSchemeGPT) {
            info->gptType = GuidFromDisk(entry.typeGuid);
            info->gptPartition = GuidFromDisk(entry.uniqueGuid);
        } else if (scheme == kSchemeAPM) {
            std::memcpy(info->apmType, entry.typeText, sizeof(info->apmType));
        }
        info->startSector = entry.startSector;
        if (!AttachRecord(partition, info)) {
            delete partition;
            return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
        }
        NameDeviceFileSystem(partition, info->fileSystemType, info->label);
        list.push_back(partition);
    }
    CDevListSortAlgorithm::Sort(list);
    return VK_OK;
}

VKRESULT CVolumePartitionConverter::PartitionInfo2VolumeInfo(
    CCollectedVolumeDeviceInfoStruct* volume,
    const CCollectedPartitionDeviceInfoStruct* partition) {
    if (volume == nullptr || partition == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    if (volume->flag != 0)
        return VK_ERROR(kModuleEnumDevice, kErrNotSupported);
    volume->flag = partition->flag;
    volume->fileSystemType = partition->fileSystemType;
    std::memcpy(volume->label, partition->label, sizeof(volume->label));
    volume->label[sizeof(volume->label) - 1] = '\0';
    // The system gave this partition no device of its own, so there is no
    // system description to name it by; the name a live volume gets is its
    // file system's label, and the recogniser has read that label here too.
    // Without it the rows show the untitled text and the result tree the
    // plain "Disk" root; with it the user sees the name the volume was given
    // and a saved result of it can be matched again on loading.
    std::memset(volume->volumeName, 0, sizeof(volume->volumeName));
    std::memcpy(volume->volumeName, volume->label,
                strnlen(volume->label, sizeof(volume->label) - 1));
    std::memset(volume->bsdName, 0, sizeof(volume->bsdName));
    volume->sectorSize = partition->sectorSize;
    volume->totalSectors = partition->sectorCount;
    volume->deviceId = partition->deviceId;
    volume->disk = partition->disk;
    volume->partitionNumber = partition->partitionIndex;
    volume->gptType = partition->gptType;
    volume->gptPartition = partition->gptPartition;
    std::memcpy(volume->apmType, partition->apmType, sizeof(volume->apmType));
    volume->startSector = partition->startSector;
    volume->mounted = 0;
    return VK_OK;
}

VKRESULT CVolumePartitionConverter::ConvertPartition2Volume(IStorageDevice** out,
                                                            IStorageDevice* partition) {
    if (out == nullptr || partition == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    *out = nullptr;
    if (partition->GetType() != kDevicePartition)
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    if (partition->GetPrivateData() == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
    const CCollectedPartitionDeviceInfoStruct* record = PartitionRecord(partition);
    if (record == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);

    IStorageDevice* volume = CreatePartitionVirtualVolumeDevice(partition);
    if (volume == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
    if (!volume->Open(nullptr)) {
        VKRESULT error = volume->GetLastError();
        delete volume;
        return ResultFailed(error) ? error : VK_ERROR(kModuleEnumDevice, kErrFailed);
    }
    auto* info = new CCollectedVolumeDeviceInfoStruct{};
    if (ResultFailed(PartitionInfo2VolumeInfo(info, record))) {
        delete info;
        delete volume;
        return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
    }
    if (!AttachRecord(volume, info)) {
        delete volume;
        return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
    }
    *out = volume;
    return VK_OK;
}

VKRESULT CVolumePartitionConverter::ConvertPartitions2Volumes(DevList& out,
                                                              const DevList& partitions) {
    for (IStorageDevice* partition : partitions) {
        IStorageDevice* volume = nullptr;
        VKRESULT r = ConvertPartition2Volume(&volume, partition);
        if (ResultFailed(r))
            return r;
        out.push_back(volume);
    }
    return VK_OK;
}

VKRESULT CMergeVolumeAndPartition::IsSameDevice(IStorageDevice* partition, IStorageDevice* volume,
                                                int& same) {
    same = 0;
    const CCollectedPartitionDeviceInfoStruct* p = PartitionRecord(partition);
    const CCollectedVolumeDeviceInfoStruct* v = VolumeRecord(volume);
    if (p == nullptr || v == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
    if (p->sectorSize != v->sectorSize || p->sectorSize <= 0)
        return VK_OK;
    // Sizes alone would hide a lost partition that happens to be as large
    // as a live one, and let one volume cover several partitions: the two
    // must also start together. A volume's start is known unless it is a
    // partition still showing 0.
    const bool volumeStartKnown = v->partitionNumber == -1 || v->startSector != 0;
    if (volumeStartKnown && p->startSector != v->startSector)
        return VK_OK;
    const long long a = p->sectorCount, b = v->totalSectors;
    if (a < 0 || b < 0)
        return VK_OK;
    const unsigned long long diff =
        a > b ? static_cast<unsigned long long>(a - b) : static_cast<unsigned long long>(b - a);
    const unsigned long long ssz = static_cast<unsigned long long>(p->sectorSize);
    if (diff > static_cast<unsigned long long>(kSizeSlackBytes) / ssz)
        return VK_OK;
    same = diff * ssz < static_cast<unsigned long long>(kSizeSlackBytes) ? 1 : 0;
    return VK_OK;
}

DevList CMergeVolumeAndPartition::GetPartListNonexistentInVolumeList(
    IStorageDevice* const* volumes, int volumeCount, IStorageDevice* const* partitions,
    int partitionCount) {
    DevList picked;
    for (int i = 0; i < partitionCount; ++i) {
        IStorageDevice* partition = partitions[i];
        if (PartitionRecord(partition) == nullptr) {
            // Nothing to make a volume from; it stays in the partition list.
            CatchExeception::WriteLog("Partition without a record not offered as a volume\n");
            continue;
        }
        bool covered = false;
        for (int j = 0; j < volumeCount && !covered; ++j) {
            int same = 0;
            if (ResultSucceeded(IsSameDevice(partition, volumes[j], same)) && same)
                covered = true;
        }
        if (!covered)
            picked.push_back(partition);
    }
    return picked;
}

VKRESULT CMergeVolumeAndPartition::MergeAsVolume(DevList& out, IStorageDevice* const* volumes,
                                                 int volumeCount, IStorageDevice* const* partitions,
                                                 int partitionCount) {
    if (volumeCount < 0 || partitionCount < 0 || (volumeCount && !volumes) ||
        (partitionCount && !partitions))
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    DevList picked =
        GetPartListNonexistentInVolumeList(volumes, volumeCount, partitions, partitionCount);
    DevList converted;
    VKRESULT r = CVolumePartitionConverter::ConvertPartitions2Volumes(converted, picked);
    if (ResultFailed(r)) {
        ReleaseDevList(converted);
        return r;
    }
    for (int i = 0; i < volumeCount; ++i)
        out.push_back(volumes[i]);
    out.insert(out.end(), converted.begin(), converted.end());
    return VK_OK;
}

VKRESULT CMergeVolumeAndPartition::DeviceFirstSectorIsEqual(IStorageDevice* a, IStorageDevice* b,
                                                            int& equal) {
    equal = 0;
    if (a == nullptr || b == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    const int sa = a->GetSectorSize(), sb = b->GetSectorSize();
    if (sa <= 0 || sb <= 0 || sa > (1 << 20) || sb > (1 << 20))
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    std::vector<uint8_t> ba(static_cast<size_t>(sa)), bb(static_cast<size_t>(sb));
    if (!a->ReadSector(ba.data(), 0, 1) || !b->ReadSector(bb.data(), 0, 1))
        return VK_ERROR(kModuleEnumDevice, kErrFailed);
    equal = sa == sb && std::memcmp(ba.data(), bb.data(), ba.size()) == 0 ? 1 : 0;
    return VK_OK;
}
