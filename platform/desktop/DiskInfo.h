// What the system knows of its block devices, from lsblk's JSON output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/CommandRunner.h"

namespace velmora::platform {

struct BlockDeviceInfo {
    std::string name;    // kernel name, such as "sdb1"
    std::string parent;  // the disk of a partition, "" for a disk
    std::string path;    // device node
    std::string type;    // "disk", "part", "loop", "rom", ...
    uint64_t sizeBytes = 0;
    bool removable = false;
    bool readOnly = false;
    std::string transport;  // "usb", "sata", "nvme" or ""
    std::string model, label, fsType, mountPoint;
    uint64_t freeBytes = 0;    // free space of a mounted file system
    std::string partTypeName;  // the partition table's type, "EFI System", ...
};

// Every device of an `lsblk -J -b` listing, parents before their children;
// entries of the wrong shape are skipped, text that is no JSON gives nothing.
std::vector<BlockDeviceInfo> ParseLsblkJson(const std::string& json);

// All block devices, or nothing when lsblk fails.
std::vector<BlockDeviceInfo> ListBlockDevices(CommandRunner& runner);

// One device by its kernel name ("sdb", "nvme0n1p2"); nothing for a name that
// is not a plain device name or a device lsblk does not know.
std::optional<BlockDeviceInfo> DescribeBlockDevice(CommandRunner& runner, const std::string& name);

// Kernel names are short and made of letters, digits and a few marks.
bool IsPlainDeviceName(const std::string& name);

}  // namespace velmora::platform
