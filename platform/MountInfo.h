// What the kernel says is mounted, from /proc/self/mountinfo: the mount
// point and file system of a device, found by its device number or, for
// FUSE mounts (which carry an anonymous 0:N number), by their source.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    dev_t deviceId = 0;      // makedev(major, minor)
    std::string root;        // the mounted subtree of the file system ("/" for whole)
    std::string mountPoint;  // unescaped
    std::string options;
    std::string fsType;  // "ext4", "fuseblk", "fuse.ntfs-3g"...
    std::string source;  // unescaped; "/dev/sdb1", an image path, "none"
    std::string superOptions;
};

// Parses mountinfo text; malformed lines are dropped. Octal escapes
// (\040 space, \011 tab, \012 newline, \134 backslash) are decoded.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

class MountTable {
public:
    // Reads the file once; Reload() reads it again. An unreadable file gives
    // an empty table (nothing is mounted as far as we can tell).
    explicit MountTable(std::string mountInfoPath = "/proc/self/mountinfo");
    static MountTable FromText(std::string_view text);

    bool Reload();  // false when the file could not be read
    const std::vector<MountEntry>& entries() const { return entries_; }

    // The mount of a block device: first by its device number, then by its
    // source matching the node path (same text or the same file once links
    // are resolved; only absolute paths). Several mounts of one device (bind mounts) give the
    // one showing the whole file system, earliest first.
    std::optional<MountEntry> FindDevice(dev_t deviceId, std::string_view nodePath) const;
    std::optional<MountEntry> FindByDeviceId(dev_t deviceId) const;
    std::optional<MountEntry> FindBySource(std::string_view nodePath) const;

    // The mount holding a path (longest mount point that is a prefix of the
    // resolved path); lets a caller see that a folder sits on a FUSE mount
    // whose source is a device being scanned.
    std::optional<MountEntry> FindContaining(std::string_view path) const;

private:
    std::string path_;
    std::vector<MountEntry> entries_;
};

// Describes volumes the way the interface shows them.
class VolumeDescriber {
public:
    explicit VolumeDescriber(const MountTable& mounts) : mounts_(mounts) {}

    // Empty when not mounted.
    std::string MountPoint(dev_t deviceId, std::string_view nodePath) const;
    std::string FsType(dev_t deviceId, std::string_view nodePath) const;
    // The name a volume is shown by: its label when it has one (labels come
    // from the project's own recognisers), else the last component of its
    // mount folder, else the kernel name.
    std::string VolumeName(std::string_view label, std::string_view bsdName, dev_t deviceId,
                           std::string_view nodePath) const;

private:
    const MountTable& mounts_;
};

}  // namespace velmora::platform
