#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <functional>
#include <map>

#include "platform/BlockRegistry.h"
#include "support/FakeSysfs.h"
#include "support/TestSupport.h"

using namespace velmora::platform;
using velmora::test::FakeBlockEntry;
using velmora::test::FakeSysfsTree;
using velmora::test::TempDir;

namespace {

std::string ShippedTree() {
    return velmora::test::SourceDir() + "/tests/platform/data/sysfs";
}

std::vector<std::string> Names(const BlockListing& l) {
    std::vector<std::string> names;
    for (const auto& d : l.devices)
        names.push_back(d.bsdName);
    return names;
}

std::string SkipReason(const BlockListing& l, const std::string& name) {
    for (const auto& s : l.skipped)
        if (s.name == name)
            return s.reason;
    return {};
}

struct Expected {
    std::string name, parent;
    bool whole, writable, optical, virtualLogical;
    uint64_t size;
    uint32_t blockSize;
    int number;
    uint64_t start;
    uint32_t major, minor;
    std::string protocol;
    BusType bus;
};

}  // namespace

TEST(BlockRegistry, ListsTheShippedTreeWithEveryField) {
    TempDir tmp;
    velmora::test::MaterialiseSysfsTree(ShippedTree(), tmp.path());
    BlockListing l = SysfsBlockRegistry(tmp.path()).List();

    ASSERT_EQ(Names(l), (std::vector<std::string>{"dm-0", "loop0", "nvme0n1", "nvme0n1p1",
                                                  "nvme0n1p2", "sdb", "sdb1", "sdb2", "sr0"}));
    ASSERT_EQ(l.skipped.size(), 1u);
    EXPECT_EQ(l.skipped[0].name, "loop1");
    EXPECT_EQ(l.skipped[0].reason, "loop device without a backing file");

    const BusType O = BusType::Other;
    const std::vector<Expected> table = {
        {"dm-0", "", true, true, false, true, 209715200, 512, -1, 0, 253, 0, "", O},
        {"loop0", "", true, false, false, false, 4194304, 512, -1, 0, 7, 0, kProtocolVirtual,
         BusType::VirtualInterface},
        {"nvme0n1", "", true, true, false, false, 1073741824, 4096, -1, 0, 259, 0, kProtocolNvme,
         O},
        {"nvme0n1p1", "nvme0n1", false, true, false, false, 209715200, 4096, 1, 1048576, 259, 1,
         kProtocolNvme, O},
        {"nvme0n1p2", "nvme0n1", false, true, false, false, 862953472, 4096, 2, 210763776, 259, 2,
         kProtocolNvme, O},
        {"sdb", "", true, true, false, false, 67108864, 512, -1, 0, 8, 16, kProtocolUsb,
         BusType::Usb},
        {"sdb1", "sdb", false, true, false, false, 33554432, 512, 1, 1048576, 8, 17, kProtocolUsb,
         BusType::Usb},
        {"sdb2", "sdb", false, true, false, false, 32505856, 512, 2, 34603008, 8, 18, kProtocolUsb,
         BusType::Usb},
        {"sr0", "", true, false, true, false, 4700372992, 2048, -1, 0, 11, 0, kProtocolSata,
         BusType::Sata},
    };
    for (const auto& e : table) {
        SCOPED_TRACE(e.name);
        const BlockDevice* d = FindBlockDevice(l, e.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->parentBsd, e.parent);
        EXPECT_EQ(d->whole, e.whole);
        EXPECT_EQ(d->writable, e.writable);
        EXPECT_EQ(d->optical, e.optical);
        EXPECT_EQ(d->virtualLogical, e.virtualLogical);
        EXPECT_EQ(d->sizeBytes, e.size);
        EXPECT_EQ(d->logicalBlockSize, e.blockSize);
        EXPECT_EQ(d->partitionNumber, e.number);
        EXPECT_EQ(d->startBytes, e.start);
        EXPECT_EQ(d->major, e.major);
        EXPECT_EQ(d->minor, e.minor);
        EXPECT_EQ(d->deviceId, makedev(e.major, e.minor));
        EXPECT_EQ(d->protocol, e.protocol);
        EXPECT_EQ(d->bus, e.bus);
    }
    EXPECT_EQ(FindBlockDevice(l, "loop0")->backingFile, "/var/tmp/disk image.img");
    EXPECT_EQ(FindBlockDevice(l, "sdb")->model, "Generic Flash Disk");
    EXPECT_TRUE(FindBlockDevice(l, "sdb")->removable);
    EXPECT_EQ(FindBlockDevice(l, "sr0")->model, "DVD-RW DRIVE");
    auto parts = PartitionsOf(l, "nvme0n1");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->bsdName, "nvme0n1p1");
}

// Some systems only offer /sys/class/block, where partitions also sit flat
// beside their disks: each must be listed once, under its disk.
TEST(BlockRegistry, ClassBlockLayoutGivesTheSameListing) {
    TempDir tmp;
    velmora::test::MaterialiseSysfsTree(ShippedTree(), tmp.path());
    auto expected = Names(SysfsBlockRegistry(tmp.path()).List());
    namespace fs = std::filesystem;
    fs::create_directories(tmp / "sys/class");
    fs::rename(tmp / "sys/block", tmp / "sys/class/block");
    fs::create_directory_symlink(tmp / "sys/class/block/sdb/sdb1", tmp / "sys/class/block/sdb1");
    fs::create_directory_symlink(tmp / "sys/class/block/nvme0n1/nvme0n1p2",
                                 tmp / "sys/class/block/nvme0n1p2");
    EXPECT_EQ(Names(SysfsBlockRegistry(tmp.path()).List()), expected);
}

TEST(BlockRegistry, PartitionOfAReadOnlyDiskIsReadOnlyAndPartitionsSortByNumber) {
    TempDir tmp;
    FakeSysfsTree tree(tmp.path());
    tree.AddDisk({"sdc", "8:32", 40960, true, false, 512,
                  "sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", ""});
    tree.AddPartition("sdc", "sdc5", "8:37", 5, 8192, 2048);
    tree.AddPartition("sdc", "sdc10", "8:42", 10, 12288, 2048);
    tree.AddPartition("sdc", "sdc2", "8:34", 2, 2048, 4096);
    BlockListing l = SysfsBlockRegistry(tmp.path()).List();
    EXPECT_EQ(Names(l), (std::vector<std::string>{"sdc", "sdc2", "sdc5", "sdc10"}));
    for (const auto& d : l.devices)
        EXPECT_FALSE(d.writable) << d.bsdName;
    EXPECT_EQ(FindBlockDevice(l, "sdc")->bus, BusType::Sata);
}

// The disk's name comes from its model; a vendor only ever precedes a model
// and is left out when it is a bus number (virtio gives "0x1af4" and no
// model: the disk then has no name rather than a number for one).
TEST(BlockRegistry, DiskNameIsTheModelNeverAVendorNumber) {
    struct Case {
        const char* what;
        const char* vendor;  // null: no such file
        const char* model;
        std::string name;
    } cases[] = {
        {"virtio: vendor number, no model", "0x1af4", nullptr, ""},
        {"vendor number before a model", "0x1AF4", "QEMU HARDDISK", "QEMU HARDDISK"},
        {"vendor word of hex letters", "DEC", "RZ26", "DEC RZ26"},
        {"word vendor and padded model", "ATA     ", "Samsung SSD 860 ", "ATA Samsung SSD 860"},
        {"model alone", nullptr, "Fake NVMe 1GB", "Fake NVMe 1GB"},
        {"vendor word alone", "Kingston", nullptr, ""},
        {"blank model", "SanDisk", "   ", ""},
        {"control characters become blanks", nullptr, "Card\tReader", "Card Reader"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        FakeSysfsTree tree(tmp.path());
        const std::string device = "sys/devices/pci0000:00/0000:00:04.0/virtio1";
        tree.AddDisk({"vda", "252:0", 40960, false, false, 512, device, ""});
        if (c.vendor)
            velmora::test::fake_sysfs_detail::Write(tmp / (device + "/vendor"), c.vendor);
        if (c.model)
            velmora::test::fake_sysfs_detail::Write(tmp / (device + "/model"), c.model);
        BlockListing l = SysfsBlockRegistry(tmp.path()).List();
        const BlockDevice* vda = FindBlockDevice(l, "vda");
        ASSERT_NE(vda, nullptr);
        EXPECT_EQ(vda->model, c.name);
    }
}

// Damaged, half-written or vanishing entries: each is skipped with a reason
// (or listed with a safe value), never fatal, and the rest is still listed.
TEST(BlockRegistry, DamagedEntriesAreSkippedWithAReasonOrGivenSafeValues) {
    struct Case {
        const char* what;
        std::function<void(FakeSysfsTree&, const std::string& root)> damage;
        std::vector<std::string> listed;
        std::map<std::string, std::string> skipped;  // name → part of the reason
        std::function<void(const BlockListing&)> check;
    };
    const std::vector<std::string> all = {"sdc", "sdc1", "sdd"};
    const std::vector<Case> cases = {
        {"no dev file",
         [](FakeSysfsTree& t, auto&) { t.Remove("sdc/dev"); },
         {"sdd"},
         {{"sdc", "dev unreadable"}},
         {}},
        {"dev not numbers",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdc", "dev", "eight"); },
         {"sdd"},
         {{"sdc", "major:minor"}},
         {}},
        {"minor too large",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdc/sdc1", "dev", "8:99999999"); },
         {"sdc", "sdd"},
         {{"sdc1", "major:minor"}},
         {}},
        {"size not a number",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdc", "size", "12x"); },
         {"sdd"},
         {{"sdc", "size unreadable"}},
         {}},
        {"size overflows bytes",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdc", "size", "18446744073709551615"); },
         {"sdd"},
         {{"sdc", "out of range"}},
         {}},
        {"size is a folder",
         [](FakeSysfsTree& t, auto& root) {
             t.Remove("sdc/size");
             std::filesystem::create_directories(root + "/sys/block/sdc/size");
         },
         {"sdd"},
         {{"sdc", "size unreadable"}},
         {}},
        {"size is a FIFO",
         [](FakeSysfsTree& t, auto& root) {
             t.Remove("sdc/size");
             ASSERT_EQ(mkfifo((root + "/sys/block/sdc/size").c_str(), 0600), 0);
         },
         {"sdd"},
         {{"sdc", "size unreadable"}},
         {}},
        {"empty medium",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdd", "size", "0"); },
         all,
         {},
         [](const BlockListing& l) { EXPECT_EQ(FindBlockDevice(l, "sdd")->sizeBytes, 0u); }},
        {"block size 0, odd or missing",
         [](FakeSysfsTree& t, auto&) {
             t.SetAttribute("sdc", "queue/logical_block_size", "0");
             t.Remove("sdd/queue");
         },
         all,
         {},
         [](const BlockListing& l) {
             EXPECT_EQ(FindBlockDevice(l, "sdc")->logicalBlockSize, 512u);
             EXPECT_EQ(FindBlockDevice(l, "sdd")->logicalBlockSize, 512u);
         }},
        {"block size not a power of two",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdc", "queue/logical_block_size", "3000"); },
         all,
         {},
         [](const BlockListing& l) {
             EXPECT_EQ(FindBlockDevice(l, "sdc1")->logicalBlockSize, 512u);
         }},
        {"unreadable ro means read-only",
         [](FakeSysfsTree& t, auto&) { t.Remove("sdc/ro"); },
         all,
         {},
         [](const BlockListing& l) {
             EXPECT_FALSE(FindBlockDevice(l, "sdc")->writable);
             EXPECT_FALSE(FindBlockDevice(l, "sdc1")->writable);
             EXPECT_TRUE(FindBlockDevice(l, "sdd")->writable);
         }},
        {"partition without start",
         [](FakeSysfsTree& t, auto&) { t.Remove("sdc/sdc1/start"); },
         {"sdc", "sdd"},
         {{"sdc1", "start unreadable"}},
         {}},
        {"partition number 0",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdc/sdc1", "partition", "0"); },
         {"sdc", "sdd"},
         {{"sdc1", "out of range"}},
         {}},
        {"disk gone between listing and reading",
         [](FakeSysfsTree&, auto& root) {
             std::filesystem::create_directory_symlink(root + "/sys/devices/gone/block/sdb",
                                                       root + "/sys/block/sdb");
         },
         all,
         {{"sdb", "vanished"}},
         {}},
        {"hidden namespace",
         [](FakeSysfsTree& t, auto&) { t.SetAttribute("sdd", "hidden", "1"); },
         {"sdc", "sdc1"},
         {{"sdd", "hidden"}},
         {}},
        {"partition gone",
         [](FakeSysfsTree& t, auto&) { t.Remove("sdc/sdc1"); },
         {"sdc", "sdd"},
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        FakeSysfsTree tree(tmp.path());
        tree.AddDisk({"sdc", "8:32", 40960, false, false, 512, "", ""});
        tree.AddPartition("sdc", "sdc1", "8:33", 1, 2048, 20480);
        tree.AddDisk({"sdd", "8:48", 40960, false, false, 512, "", ""});
        c.damage(tree, tmp.path());
        BlockListing l = SysfsBlockRegistry(tmp.path()).List();
        EXPECT_EQ(Names(l), c.listed);
        EXPECT_EQ(l.skipped.size(), c.skipped.size());
        for (const auto& [name, reason] : c.skipped)
            EXPECT_NE(SkipReason(l, name).find(reason), std::string::npos)
                << name << ": " << SkipReason(l, name);
        if (c.check)
            c.check(l);
    }
}

TEST(BlockRegistry, MissingRootListsNothing) {
    BlockListing l = SysfsBlockRegistry("/nonexistent/velmora-root").List();
    EXPECT_TRUE(l.devices.empty());
    EXPECT_TRUE(l.skipped.empty());
}

TEST(BlockRegistry, BusFromDevicePath) {
    struct Case {
        const char* path;
        const char* name;
        const char* protocol;
        BusType bus;
    };
    const Case cases[] = {
        {"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "sdb",
         kProtocolUsb, BusType::Usb},
        {"/sys/devices/pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "sda",
         kProtocolSata, BusType::Sata},
        {"/sys/devices/pci0000:00/0000:00:10.0/host0/target0:0:1/0:0:1:0", "sda", kProtocolScsi,
         BusType::Scsi},
        {"/sys/devices/pci0000:00/0000:00:02.0/virtio1", "vda", kProtocolVirtual,
         BusType::VirtualInterface},
        {"/sys/devices/pci0000:00/0000:00:02.0/virtio0/host0/target0:0:0/0:0:0:0", "sda",
         kProtocolVirtual, BusType::VirtualInterface},
        {"/sys/devices/virtual/block/loop3", "loop3", kProtocolVirtual, BusType::VirtualInterface},
        {"/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "nvme0n1", kProtocolNvme,
         BusType::Other},
        {"/sys/devices/platform/soc/mmc0/mmc0:0001", "mmcblk0", kProtocolSd, BusType::Other},
        {"/sys/devices/virtual/block/dm-0", "dm-0", "", BusType::Other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProtocolFromDevicePath(c.path, c.name), c.protocol) << c.path;
        EXPECT_EQ(BusTypeFromProtocol(ProtocolFromDevicePath(c.path, c.name)), c.bus) << c.path;
    }
    EXPECT_EQ(BusTypeFromProtocol("ATA"), BusType::Ata);
    EXPECT_EQ(BusTypeFromProtocol("SCSI-RAID"), BusType::Scsi);
}
