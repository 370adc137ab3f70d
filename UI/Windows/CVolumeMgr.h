// A list of the local disks with their usable volumes, marking the volume
// that holds the root folder, from lsblk's listing (run with an argument
// vector through the command runner). It stands beside the device
// catalogue, which is what the disk page shows.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "platform/desktop/DiskInfo.h"

namespace velmora::platform {
class CommandRunner;
}

namespace velmora::windows {

struct LocalDiskEntry {
    QString DiskPath;  // kernel name, "sda"
    QString DiskShow;  // "YES" or other text
};

struct VolumeInfoRecord {
    QString OSvolume;  // "YES" for the volume holding "/", else "NO"
    QString volumeName;
    QString volumePath;  // kernel name, "sda2"
    QString volumeTotalSize;
    QString volumeFreeSize;
};

struct DiskInfoRecord {
    QString DiskName;  // the disk's model
    QString DiskPath;
    QString DiskShow;
    std::vector<VolumeInfoRecord> DiskVolume;
};

class CVolumeMgr {
public:
    // `filter`: the disks to list (none: every local disk but USB and
    // FireWire disks, disk images, RAID members and encrypted disks).
    explicit CVolumeMgr(std::vector<LocalDiskEntry> filter = {}) : filter_(std::move(filter)) {}

    // Nothing when lsblk gives no listing.
    std::optional<std::vector<DiskInfoRecord>> enumDiskVolumesInfo(platform::CommandRunner& runner);
    // The same from a listing already made.
    std::vector<DiskInfoRecord> enumDiskVolumesInfo(
        const std::vector<platform::BlockDeviceInfo>& devices);

    bool bFindOSDisk = false;
    bool bFirstOSVolume = false;

private:
    void JustOSVolume(const platform::BlockDeviceInfo& volume);
    VolumeInfoRecord MakeVolumeInfo(const platform::BlockDeviceInfo& volume);

    std::vector<LocalDiskEntry> filter_;
};

}  // namespace velmora::windows
