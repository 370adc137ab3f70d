#include <cstring>

#include "EnumDevice.h"
#include "SectorSize.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"
#include "platform/TextBuffer.h"

using velmora::platform::BlockDevice;
using velmora::platform::CopyToBuffer;

namespace {

// What the user knows a disk by: its model, or for a loop device the file
// it shows (two images of one size are told apart by their files). Empty
// when neither is known; the interface then names it by its node.
std::string DiskTitle(const BlockDevice& block) {
    if (!block.model.empty())
        return block.model;
    const std::string& file = block.backingFile;
    const size_t slash = file.find_last_of('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

}  // namespace

VKRESULT CEnumDisk::ExecEnum(DevList& list, std::map<const IStorageDevice*, DiskTable>* tables) {
    for (const BlockDevice& block : m_snapshot->blocks.devices) {
        if (!block.whole)
            continue;
        const char* reason = nullptr;
        if (block.optical)
            reason = "optical media";
        else if (block.virtualLogical)
            reason = "a logical device over other disks";
        else if (block.sizeBytes == 0)
            reason = "no medium (size 0)";
        else if (block.sizeBytes < kMinDiskBytes)
            reason = "smaller than 8 MiB";
        if (reason) {
            CatchExeception::WriteLog("Disk %s not listed: %s\n", block.bsdName.c_str(), reason);
            continue;
        }
        DiskTable table;
        if (IStorageDevice* disk = MakeDisk(block, table)) {
            list.push_back(disk);
            if (tables)
                (*tables)[disk] = std::move(table);
        }
    }
    CDevListSortAlgorithm::Sort(list);
    return VK_OK;
}

IStorageDevice* CEnumDisk::MakeDisk(const BlockDevice& block, DiskTable& table) {
    const std::string path = m_snapshot->naming.NodePath(block.bsdName);
    if (path.empty() || path.size() >= 128) {
        CatchExeception::WriteLog("Disk %s not listed: no usable node path\n",
                                  block.bsdName.c_str());
        return nullptr;
    }
    CatchExeception::WriteLog("CIOKitFunc::BSDName2DevPath = %s\n", path.c_str());
    IStorageDevice* disk = CreateDiskDevice(path.c_str());
    if (disk == nullptr)
        return nullptr;
    const bool opened = disk->Open(nullptr) != 0;
    // A disk the user may not read is still shown, so the interface can say
    // why it cannot be scanned; one whose node is gone is not.
    if (!opened && disk->IsPermitted()) {
        CatchExeception::WriteLog("Disk %s not listed: its node %s does not open\n",
                                  block.bsdName.c_str(), path.c_str());
        delete disk;
        return nullptr;
    }

    auto* info = new CCollectDiskDeviceInfoStruct{};
    info->flag = 0;
    info->busType = static_cast<int32_t>(block.bus);
    info->partitionScheme = 0;
    info->writable = block.writable ? 1 : 0;
    CopyToBuffer(info->registryName, sizeof(info->registryName), DiskTitle(block));
    CopyToBuffer(info->bsdName, sizeof(info->bsdName), block.bsdName);
    info->sectorSize = vk::NormaliseSectorSize(block.logicalBlockSize);
    info->totalSectors =
        static_cast<int64_t>(block.sizeBytes / static_cast<uint64_t>(info->sectorSize));
    info->cylinders = info->totalSectors / 16065;
    info->heads = 255;
    info->sectorsPerTrack = 63;
    info->deviceId = static_cast<int32_t>(block.deviceId);
    if (!AttachRecord(disk, info)) {
        delete disk;
        return nullptr;
    }

    // The scheme is what our own reader finds on the disk, not what the
    // kernel made of it.
    if (opened) {
        table = ReadDiskTable(disk);
        if (table.read)
            info->partitionScheme = table.scheme;
    }
    return disk;
}
