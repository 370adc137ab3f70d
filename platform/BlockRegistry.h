// The machine's block devices as the kernel lists them in sysfs: whole disks
// and their partitions with sizes, block sizes, device numbers and the bus
// they hang on. The root is configurable so tests can point it at a fake tree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// Bus codes kept in the disk record.
enum class BusType : int {
    Other = 0,
    Ata = 1,
    Sata = 2,
    Scsi = 3,
    Usb = 4,
    VirtualInterface = 5,
};

// Protocol texts a device path maps to; BusTypeFromProtocol turns them into
// the codes above ("ATA", "SATA", "SCSI...", "USB", "Virtual Interface").
inline constexpr const char* kProtocolAta = "ATA";
inline constexpr const char* kProtocolSata = "SATA";
inline constexpr const char* kProtocolScsi = "SCSI";
inline constexpr const char* kProtocolUsb = "USB";
inline constexpr const char* kProtocolVirtual = "Virtual Interface";
inline constexpr const char* kProtocolNvme = "PCI-Express";
inline constexpr const char* kProtocolSd = "Secure Digital";

BusType BusTypeFromProtocol(std::string_view protocol);

// The protocol text for a resolved sysfs device path and a kernel name;
// empty when nothing is known about the bus.
std::string ProtocolFromDevicePath(std::string_view devicePath, std::string_view name);

struct BlockDevice {
    std::string bsdName;    // kernel name: "sdb", "sdb1", "nvme0n1p2"
    std::string parentBsd;  // the whole disk of a partition; empty for a disk
    bool whole = true;      // a whole disk, not a partition
    bool writable = false;  // sysfs ro is 0 (for a partition: and its disk's)
    bool removable = false;
    bool optical = false;             // CD/DVD/BD drive (sr*, SCSI type 5)
    bool virtualLogical = false;      // device-mapper, md RAID, zram, ram disks
    uint64_t sizeBytes = 0;           // 0 when the medium is empty
    uint32_t logicalBlockSize = 512;  // 512 when unknown
    int partitionNumber = -1;         // kernel partition number; -1 for a disk
    uint64_t startBytes = 0;          // byte offset of a partition in its disk
    uint32_t major = 0;
    uint32_t minor = 0;
    dev_t deviceId = 0;    // makedev(major, minor): compares with st_dev
    std::string protocol;  // see kProtocol*; empty when unknown
    BusType bus = BusType::Other;
    std::string devicePath;   // resolved sysfs device path the bus came from
    std::string model;        // vendor and model text, may be empty
    std::string backingFile;  // loop devices: the attached file
};

// An entry that was seen but not listed, and why (it vanished between two
// reads, a file needed was unreadable, an idle loop device...).
struct SkippedBlockEntry {
    std::string name;
    std::string reason;
};

struct BlockListing {
    // Disks sorted by name, each followed by its partitions in partition
    // number order.
    std::vector<BlockDevice> devices;
    std::vector<SkippedBlockEntry> skipped;
};

class IBlockRegistry {
public:
    virtual ~IBlockRegistry() = default;
    virtual BlockListing List() const = 0;
};

// Reads <root>/sys/block (or <root>/sys/class/block when the former is
// missing). Entries may come and go while it reads: anything missing or
// unreadable is skipped with a reason, never fatal.
class SysfsBlockRegistry : public IBlockRegistry {
public:
    explicit SysfsBlockRegistry(std::string root = "/");
    BlockListing List() const override;
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// Helpers over a listing.
const BlockDevice* FindBlockDevice(const BlockListing& listing, std::string_view bsdName);
std::vector<const BlockDevice*> PartitionsOf(const BlockListing& listing, std::string_view diskBsd);

}  // namespace velmora::platform
