#include <cstring>

#include "EngineTypes.h"
#include "EnumDevice.h"
#include "SearcherRow.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"
#include "VolumeAnalyzeController.h"
#include "platform/TextBuffer.h"

using velmora::platform::BlockDevice;
using velmora::platform::CopyToBuffer;

namespace {

// The table entry describing a kernel partition: the one starting where it
// starts, else the one with its number.
const PartitionEntry* FindEntry(const DiskTable& table, int number, int64_t startSector) {
    for (const PartitionEntry& e : table.entries)
        if (e.index > 0 && e.startSector == startSector)
            return &e;
    for (const PartitionEntry& e : table.entries)
        if (e.index == number)
            return &e;
    return nullptr;
}

// A table with real entries, not the stand-in for a disk without one.
bool HasPartitionTable(const DiskTable& table) {
    if (!table.read || table.scheme == kSchemeNone)
        return false;
    return !(table.entries.size() == 1 && table.entries[0].index == -1);
}

// The kernel shows an MBR extended partition as a partition of one or two
// sectors; it holds no file system, and our table lists its logical
// partitions instead.
bool IsExtendedContainer(const BlockDevice& block, const DiskTable& table) {
    if (block.whole || !table.read || table.scheme != kSchemeMBR)
        return false;
    if (block.partitionNumber > 4 || block.sizeBytes > 1024)
        return false;
    for (const PartitionEntry& e : table.entries)
        if (e.index == block.partitionNumber)
            return false;
    return true;
}

}  // namespace

void NameDeviceFileSystem(IStorageDevice* device, int32_t& type, char (&label)[100]) {
    type = FS_UNKNOWN;
    std::memset(label, 0, sizeof(label));
    IVolumeAnalyzeController* controller = CreateVolumeAnalyzeController(device, 0);
    if (controller == nullptr)
        return;
    if (IVolumeAnalyze* analyzer = controller->GetVolumeAnzlyzer()) {
        type = analyzer->GetFileSystemType();
        char text[256] = {};
        analyzer->GetLabel(text, sizeof(text) - 1);
        text[sizeof(text) - 1] = '\0';
        CopyToBuffer(label, sizeof(label), text);
    }
    delete controller;
}

VKRESULT CEnumVolume::ExecEnum(const IStorageDevice* diskConst, DevList& list,
                               const DiskTable* known) {
    auto* disk = const_cast<IStorageDevice*>(diskConst);
    const CCollectDiskDeviceInfoStruct* diskInfo = GetDiskInfo(disk);
    if (diskInfo == nullptr)
        return VK_ERROR(kModuleEnumDevice, kErrNoInformation);
    const std::string diskName(diskInfo->bsdName,
                               strnlen(diskInfo->bsdName, sizeof(diskInfo->bsdName)));
    const BlockDevice* diskBlock = velmora::platform::FindBlockDevice(m_snapshot->blocks, diskName);
    if (diskBlock == nullptr) {
        CatchExeception::WriteLog("Volumes of %s: the disk is gone from the listing\n",
                                  diskName.c_str());
        return VK_OK;
    }

    const DiskTable table = known ? *known : ReadDiskTable(disk);
    std::vector<const BlockDevice*> kernelParts =
        velmora::platform::PartitionsOf(m_snapshot->blocks, diskName);
    // A disk the kernel split into partitions, or whose table we read, holds
    // its volumes in partitions; otherwise the file system sits on the disk.
    std::vector<const BlockDevice*> candidates;
    if (!kernelParts.empty() || HasPartitionTable(table))
        candidates = kernelParts;
    else
        candidates.push_back(diskBlock);

    for (const BlockDevice* block : candidates) {
        if (IsExtendedContainer(*block, table)) {
            CatchExeception::WriteLog("Volume %s not listed: the container of logical partitions\n",
                                      block->bsdName.c_str());
            continue;
        }
        if (IStorageDevice* volume = MakeVolume(disk, *block, table))
            list.push_back(volume);
    }
    CDevListSortAlgorithm::Sort(list);

    for (const PartitionEntry& e : table.entries) {
        for (IStorageDevice* volume : list) {
            auto* holder = dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData());
            CCollectedVolumeDeviceInfoStruct* info = holder ? holder->GetVolumeInfo() : nullptr;
            if (info && info->startSector == 0 && info->partitionNumber == e.index) {
                info->startSector = e.startSector;
                break;
            }
        }
    }

    std::vector<CCollectedVolumeDeviceInfoStruct> records;
    for (IStorageDevice* volume : list) {
        auto* holder = dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData());
        if (holder && holder->GetVolumeInfo())
            records.push_back(*holder->GetVolumeInfo());
    }
    SetDiskVolumes(disk, records);
    return VK_OK;
}

IStorageDevice* CEnumVolume::MakeVolume(IStorageDevice* disk, const BlockDevice& block,
                                        const DiskTable& table) {
    const std::string path = m_snapshot->naming.NodePath(block.bsdName);
    if (path.empty() || path.size() >= 128) {
        CatchExeception::WriteLog("Volume %s not listed: no usable node path\n",
                                  block.bsdName.c_str());
        return nullptr;
    }
    IStorageDevice* volume = CreateVolumeDevice(path.c_str());
    if (volume == nullptr)
        return nullptr;
    if (!volume->Open(nullptr) && volume->IsPermitted()) {
        CatchExeception::WriteLog("Volume %s not listed: its node %s does not open\n",
                                  block.bsdName.c_str(), path.c_str());
        delete volume;
        return nullptr;
    }
    auto* info = new CCollectedVolumeDeviceInfoStruct{};
    if (!FillVolumeInfo(*info, volume, disk, block, table)) {
        delete info;
        delete volume;
        return nullptr;
    }
    // Attached before the file system is named, so the recognisers read the
    // volume with its own sector size.
    if (!AttachRecord(volume, info)) {
        delete volume;
        return nullptr;
    }
    if (volume->IsPermitted())
        NameDeviceFileSystem(volume, info->fileSystemType, info->label);

    const std::string systemNode = "/dev/" + block.bsdName;
    const velmora::platform::VolumeDescriber describer(m_snapshot->mounts);
    const std::string name =
        describer.VolumeName(info->label, block.bsdName, block.deviceId, systemNode);
    CopyToBuffer(info->volumeName, sizeof(info->volumeName), name);

    // A volume that is a container of volumes is shown by the name of the
    // volume it holds, as its file system's listing gives it.
    if (const SearcherRow* row = vk::ContainerListingRowFor(info->fileSystemType)) {
        if (auto listed = m_snapshot->containers->Find(block.bsdName)) {
            CopyToBuffer(info->label, sizeof(info->label), listed->name);
            CopyToBuffer(info->volumeName, sizeof(info->volumeName), listed->name);
            if (row->setContainerDevice) {
                char device[1024] = {};
                CopyToBuffer(device, sizeof(device), listed->device);
                row->setContainerDevice(volume, device);
            }
        }
    }
    return volume;
}

bool CEnumVolume::FillVolumeInfo(CCollectedVolumeDeviceInfoStruct& info, IStorageDevice*,
                                 IStorageDevice* disk, const BlockDevice& block,
                                 const DiskTable& table) {
    const uint64_t ssz = GetDiskDevSectorSize(disk);
    if (block.sizeBytes == 0 || block.sizeBytes / ssz == 0) {
        CatchExeception::WriteLog("Volume %s not listed: size 0\n", block.bsdName.c_str());
        return false;
    }
    if (block.deviceId == 0) {
        CatchExeception::WriteLog("Volume %s not listed: no device number\n",
                                  block.bsdName.c_str());
        return false;
    }
    info.flag = 0;
    info.fileSystemType = FS_UNKNOWN;
    CopyToBuffer(info.bsdName, sizeof(info.bsdName), block.bsdName);
    info.sectorSize = static_cast<int64_t>(ssz);
    info.totalSectors = static_cast<int64_t>(block.sizeBytes / ssz);
    info.startSector = block.whole ? 0 : static_cast<int64_t>(block.startBytes / ssz);
    info.deviceId = static_cast<int32_t>(block.deviceId);
    info.disk = disk;
    info.partitionNumber = block.whole ? -1 : block.partitionNumber;

    const int scheme = GetDiskPartSchemeType(disk);
    if (!block.whole && (scheme == kSchemeGPT || scheme == kSchemeAPM)) {
        const PartitionEntry* entry = FindEntry(table, info.partitionNumber, info.startSector);
        if (entry == nullptr) {
            // The kernel may know partitions our reader does not: the volume
            // is still scannable, only its type is unknown.
            CatchExeception::WriteLog("Volume %s: no entry in the disk's table\n",
                                      block.bsdName.c_str());
        } else if (scheme == kSchemeGPT) {
            info.gptType = GuidFromDisk(entry->typeGuid);
            info.gptPartition = GuidFromDisk(entry->uniqueGuid);
        } else {
            std::memcpy(info.apmType, entry->typeText, sizeof(info.apmType));
        }
    }
    const velmora::platform::VolumeDescriber describer(m_snapshot->mounts);
    info.mounted = describer.MountPoint(block.deviceId, "/dev/" + block.bsdName).empty() ? 0 : 1;
    return true;
}
