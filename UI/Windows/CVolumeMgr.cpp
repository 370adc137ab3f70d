#include "Windows/CVolumeMgr.h"

#include <QDebug>

#include "Windows/DiskTexts.h"
#include "platform/desktop/CommandRunner.h"

namespace velmora::windows {

namespace {

// Partitions that hold no user data: boot and firmware partitions, volume
// managers' containers, and Windows' data partitions.
bool IsHiddenContent(const std::string& partType) {
    static const char* const kHidden[] = {"EFI System", "BIOS boot", "Apple boot",
                                          "Apple Core storage", "Microsoft basic data"};
    for (const char* hidden : kHidden) {
        if (partType == hidden)
            return true;
    }
    return false;
}

// What the listing leaves out without a filter.
bool IsLeftOutDisk(const platform::BlockDeviceInfo& disk) {
    return disk.transport == "usb" || disk.transport == "ieee1394" || disk.type == "loop" ||
           disk.fsType == "linux_raid_member" || disk.fsType == "crypto_LUKS";
}

}  // namespace

std::optional<std::vector<DiskInfoRecord>> CVolumeMgr::enumDiskVolumesInfo(
    platform::CommandRunner& runner) {
    const std::vector<platform::BlockDeviceInfo> devices = platform::ListBlockDevices(runner);
    if (devices.empty()) {
        qWarning() << "lsblk list error";
        return std::nullopt;
    }
    return enumDiskVolumesInfo(devices);
}

std::vector<DiskInfoRecord> CVolumeMgr::enumDiskVolumesInfo(
    const std::vector<platform::BlockDeviceInfo>& devices) {
    std::vector<DiskInfoRecord> disks;
    bFindOSDisk = false;
    bFirstOSVolume = true;
    for (const platform::BlockDeviceInfo& disk : devices) {
        if (!disk.parent.empty() || (disk.type != "disk" && disk.type != "loop"))
            continue;
        QString show = QStringLiteral("YES");
        if (!filter_.empty()) {
            const QString name = QString::fromStdString(disk.name);
            auto it = std::find_if(filter_.begin(), filter_.end(),
                                   [&](const LocalDiskEntry& e) { return e.DiskPath == name; });
            if (it == filter_.end())
                continue;
            show = it->DiskShow;
        } else if (IsLeftOutDisk(disk)) {
            continue;
        }
        DiskInfoRecord record{
            QString::fromStdString(disk.model), QString::fromStdString(disk.name), show, {}};
        bool hasPartitions = false;
        for (const platform::BlockDeviceInfo& part : devices) {
            if (part.parent != disk.name || part.type != "part")
                continue;
            hasPartitions = true;
            if (IsHiddenContent(part.partTypeName))
                continue;
            if (part.mountPoint.empty() && part.freeBytes == 0)
                continue;
            JustOSVolume(part);
            record.DiskVolume.push_back(MakeVolumeInfo(part));
        }
        if (hasPartitions)
            disks.push_back(std::move(record));
    }
    return disks;
}

// The volume itself says where it is mounted, so the root volume is found
// by its own mount point rather than by a count of mounted volumes.
void CVolumeMgr::JustOSVolume(const platform::BlockDeviceInfo& volume) {
    if (bFindOSDisk)
        return;
    if (volume.mountPoint == "/")
        bFindOSDisk = true;
}

VolumeInfoRecord CVolumeMgr::MakeVolumeInfo(const platform::BlockDeviceInfo& volume) {
    VolumeInfoRecord record;
    record.OSvolume = QStringLiteral("NO");
    if (bFindOSDisk && bFirstOSVolume) {
        record.OSvolume = QStringLiteral("YES");
        bFirstOSVolume = false;
    }
    record.volumeName = QString::fromStdString(volume.label);
    record.volumePath = QString::fromStdString(volume.name);
    record.volumeTotalSize = ConvertVolSpace(volume.sizeBytes);
    record.volumeFreeSize = ConvertVolSpace(volume.freeBytes);
    return record;
}

}  // namespace velmora::windows
