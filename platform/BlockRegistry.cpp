#include "platform/BlockRegistry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

#include "platform/FdIo.h"

namespace velmora::platform {
namespace {

// sysfs attribute files are a page at most; anything longer is not ours.
constexpr size_t kMaxAttributeBytes = 4096;
// A machine with more block devices than this is not one we can describe.
constexpr size_t kMaxEntries = 16384;

std::string Join(const std::string& a, std::string_view b) {
    if (a.empty() || a.back() == '/')
        return a + std::string(b);
    return a + "/" + std::string(b);
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool LinkExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads a small attribute file, trimmed of surrounding white space.
std::optional<std::string> ReadAttribute(const std::string& path) {
    // Attributes are regular files; anything else planted in a fake tree (a
    // FIFO, a device node, a link to one) is not opened, or cannot block.
    struct stat before;
    if (lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode))
        return std::nullopt;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::string text(kMaxAttributeBytes, '\0');
    const FdIoResult got = ReadRetrying(fd, text.data(), text.size());
    close(fd);
    if (got.failed)
        return std::nullopt;
    text.resize(got.done);
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return text.substr(b, e - b);
}

std::optional<uint64_t> ParseUnsigned(std::string_view text) {
    uint64_t value = 0;
    if (text.empty())
        return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<uint64_t> ReadUnsigned(const std::string& path) {
    auto text = ReadAttribute(path);
    if (!text)
        return std::nullopt;
    return ParseUnsigned(*text);
}

// "8:17" → (8, 17); both must fit the kernel's 12/20-bit device numbers.
bool ParseDevNumbers(std::string_view text, uint32_t& major, uint32_t& minor) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    auto ma = ParseUnsigned(text.substr(0, colon));
    auto mi = ParseUnsigned(text.substr(colon + 1));
    if (!ma || !mi || *ma > 0xfff || *mi > 0xfffff)
        return false;
    major = static_cast<uint32_t>(*ma);
    minor = static_cast<uint32_t>(*mi);
    return true;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return names;
    while (dirent* ent = readdir(dir)) {
        std::string_view name = ent->d_name;
        if (name == "." || name == "..")
            continue;
        if (names.size() >= kMaxEntries)
            break;
        names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Where a link points: resolved when it can be, else its text, so a fake
// tree with dangling links still says which bus it means.
std::string ResolveLink(const std::string& path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf))
        return buf;
    ssize_t n = readlink(path.c_str(), buf, sizeof(buf) - 1);
    if (n > 0)
        return std::string(buf, static_cast<size_t>(n));
    return {};
}

bool StartsWithNumbered(std::string_view name, std::string_view prefix) {
    return name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix &&
           std::isdigit(static_cast<unsigned char>(name[prefix.size()]));
}

bool IsVirtualLogicalName(std::string_view name) {
    if (name.substr(0, 3) == "dm-")
        return true;
    if (StartsWithNumbered(name, "zram") || StartsWithNumbered(name, "ram"))
        return true;
    // md0, md127, md_d0; not mmcblk0.
    return name.size() > 2 && name.substr(0, 2) == "md" &&
           (std::isdigit(static_cast<unsigned char>(name[2])) || name[2] == '_');
}

uint32_t SaneBlockSize(std::optional<uint64_t> value) {
    if (!value || *value < 512 || *value > 65536 || (*value & (*value - 1)) != 0)
        return 512;
    return static_cast<uint32_t>(*value);
}

// Printable text of one attribute, blanks at either end dropped.
std::string PrintableAttribute(const std::string& path) {
    auto text = ReadAttribute(path);
    if (!text)
        return {};
    std::string out;
    for (char c : *text)
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

// "0x1af4": a bus's vendor number (virtio disks give only that), which
// names nothing a user would recognise.
bool IsVendorNumber(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    text.remove_prefix(2);
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// The disk's name for the user: its model, after the vendor when the vendor
// is a word. Without a model there is no name (the interface then says the
// disk is untitled): a vendor alone, or its number, is no disk's name.
std::string ReadModel(const std::string& deviceFolder) {
    const std::string model = PrintableAttribute(Join(deviceFolder, "model"));
    if (model.empty())
        return {};
    const std::string vendor = PrintableAttribute(Join(deviceFolder, "vendor"));
    std::string out = vendor.empty() || IsVendorNumber(vendor) ? model : vendor + ' ' + model;
    return out.substr(0, 256);
}

class Reader {
public:
    explicit Reader(BlockListing& out) : out_(out) {}

    void Skip(std::string name, std::string reason) {
        out_.skipped.push_back({std::move(name), std::move(reason)});
    }

    // The reason a required attribute is missing: the entry itself may have
    // gone (a device unplugged while we read), or only the file.
    std::string Missing(const std::string& folder, const char* what) {
        if (!Exists(folder))
            return "vanished while being read";
        return std::string(what) + " unreadable";
    }

    // Fields common to disks and partitions; false (and skipped) when one
    // that is needed is missing.
    bool ReadCommon(const std::string& folder, BlockDevice& dev) {
        auto devText = ReadAttribute(Join(folder, "dev"));
        if (!devText) {
            Skip(dev.bsdName, Missing(folder, "dev"));
            return false;
        }
        if (!ParseDevNumbers(*devText, dev.major, dev.minor)) {
            Skip(dev.bsdName, "dev is not major:minor");
            return false;
        }
        dev.deviceId = makedev(dev.major, dev.minor);
        auto sectors = ReadUnsigned(Join(folder, "size"));
        if (!sectors) {
            Skip(dev.bsdName, Missing(folder, "size"));
            return false;
        }
        if (*sectors > UINT64_MAX / 512) {
            Skip(dev.bsdName, "size out of range");
            return false;
        }
        dev.sizeBytes = *sectors * 512;  // sysfs counts 512-byte units whatever the block size
        // Unknown means read-only: we never write anyway, and saying a
        // device is writable when we cannot tell would be a lie.
        auto ro = ReadUnsigned(Join(folder, "ro"));
        dev.writable = ro && *ro == 0;
        return true;
    }

    void ReadDisk(const std::string& folder, const std::string& name) {
        BlockDevice disk;
        disk.bsdName = name;
        disk.whole = true;
        // Loop devices with nothing attached are listed by the kernel but
        // hold no medium.
        if (StartsWithNumbered(name, "loop")) {
            auto backing = ReadAttribute(Join(folder, "loop/backing_file"));
            if (!backing || backing->empty()) {
                Skip(name, Exists(folder) ? "loop device without a backing file"
                                          : "vanished while being read");
                return;
            }
            disk.backingFile = *backing;
        }
        // Hidden disks (paths of a multipath NVMe namespace) have no node.
        if (auto hidden = ReadUnsigned(Join(folder, "hidden")); hidden && *hidden != 0) {
            Skip(name, "hidden by the kernel");
            return;
        }
        if (!ReadCommon(folder, disk))
            return;
        disk.logicalBlockSize =
            SaneBlockSize(ReadUnsigned(Join(folder, "queue/logical_block_size")));
        auto removable = ReadUnsigned(Join(folder, "removable"));
        disk.removable = removable && *removable != 0;
        std::string deviceLink = Join(folder, "device");
        disk.devicePath = LinkExists(deviceLink) ? ResolveLink(deviceLink) : ResolveLink(folder);
        disk.protocol = ProtocolFromDevicePath(disk.devicePath, name);
        disk.bus = BusTypeFromProtocol(disk.protocol);
        auto scsiType = ReadUnsigned(Join(deviceLink, "type"));
        disk.optical = StartsWithNumbered(name, "sr") || (scsiType && *scsiType == 5);
        disk.virtualLogical = IsVirtualLogicalName(name);
        disk.model = ReadModel(deviceLink);

        std::vector<BlockDevice> partitions;
        for (const std::string& child : ListFolder(folder)) {
            std::string childFolder = Join(folder, child);
            // Partition folders carry a "partition" file; holders, queue,
            // power and the rest do not.
            if (!Exists(Join(childFolder, "partition")))
                continue;
            BlockDevice part;
            part.bsdName = child;
            part.parentBsd = name;
            part.whole = false;
            auto number = ReadUnsigned(Join(childFolder, "partition"));
            if (!number || *number == 0 || *number > INT_MAX) {
                Skip(child,
                     number ? "partition number out of range" : Missing(childFolder, "partition"));
                continue;
            }
            part.partitionNumber = static_cast<int>(*number);
            if (!ReadCommon(childFolder, part))
                continue;
            auto start = ReadUnsigned(Join(childFolder, "start"));
            if (!start) {
                Skip(child, Missing(childFolder, "start"));
                continue;
            }
            if (*start > UINT64_MAX / 512) {
                Skip(child, "start out of range");
                continue;
            }
            part.startBytes = *start * 512;
            part.writable = part.writable && disk.writable;
            part.removable = disk.removable;
            part.logicalBlockSize = disk.logicalBlockSize;
            part.optical = disk.optical;
            part.virtualLogical = disk.virtualLogical;
            part.devicePath = disk.devicePath;
            part.protocol = disk.protocol;
            part.bus = disk.bus;
            part.model = disk.model;
            part.backingFile = disk.backingFile;
            partitions.push_back(std::move(part));
        }
        std::stable_sort(partitions.begin(), partitions.end(),
                         [](const BlockDevice& a, const BlockDevice& b) {
                             return a.partitionNumber < b.partitionNumber;
                         });
        out_.devices.push_back(std::move(disk));
        for (auto& p : partitions)
            out_.devices.push_back(std::move(p));
    }

private:
    BlockListing& out_;
};

}  // namespace

BusType BusTypeFromProtocol(std::string_view protocol) {
    if (protocol == kProtocolAta)
        return BusType::Ata;
    if (protocol == kProtocolSata)
        return BusType::Sata;
    if (protocol.substr(0, 4) == "SCSI")
        return BusType::Scsi;
    if (protocol == kProtocolUsb)
        return BusType::Usb;
    if (protocol == kProtocolVirtual)
        return BusType::VirtualInterface;
    return BusType::Other;
}

std::string ProtocolFromDevicePath(std::string_view path, std::string_view name) {
    auto has = [&](std::string_view part) { return path.find(part) != std::string_view::npos; };
    // A USB stick's path also runs through a SCSI host, so USB goes first.
    if (has("/usb"))
        return kProtocolUsb;
    // libata serves parallel and serial ATA alike; serial is what machines
    // of this age have.
    if (has("/ata"))
        return kProtocolSata;
    if (has("/nvme") || StartsWithNumbered(name, "nvme"))
        return kProtocolNvme;
    if (has("/mmc") || StartsWithNumbered(name, "mmcblk"))
        return kProtocolSd;
    if (has("/virtio") || name.substr(0, 2) == "vd" || StartsWithNumbered(name, "loop") ||
        StartsWithNumbered(name, "nbd"))
        return kProtocolVirtual;
    if (has("/host") && has("/target"))
        return kProtocolScsi;
    return {};
}

SysfsBlockRegistry::SysfsBlockRegistry(std::string root)
    : root_(root.empty() ? "/" : std::move(root)) {}

BlockListing SysfsBlockRegistry::List() const {
    BlockListing listing;
    Reader reader(listing);
    // sys/block holds whole disks only; sys/class/block also lists every
    // partition beside its disk, and those are found under their disk.
    std::string base = Join(root_, "sys/block");
    if (!IsDirectory(base))
        base = Join(root_, "sys/class/block");
    for (const std::string& name : ListFolder(base)) {
        std::string folder = Join(base, name);
        if (Exists(Join(folder, "partition")))
            continue;
        reader.ReadDisk(folder, name);
    }
    return listing;
}

const BlockDevice* FindBlockDevice(const BlockListing& listing, std::string_view bsdName) {
    for (const auto& dev : listing.devices)
        if (dev.bsdName == bsdName)
            return &dev;
    return nullptr;
}

std::vector<const BlockDevice*> PartitionsOf(const BlockListing& listing,
                                             std::string_view diskBsd) {
    std::vector<const BlockDevice*> parts;
    for (const auto& dev : listing.devices)
        if (!dev.whole && dev.parentBsd == diskBsd)
            parts.push_back(&dev);
    return parts;
}

}  // namespace velmora::platform
