// The device catalogue over fake sysfs trees whose device nodes are image
// files made by sfdisk, sgdisk and mkfs.fat, so the partition tables are
// really read; and over the machine's own /sys and /proc.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DiskDevice.h"
#include "EngineTypes.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "PartitionDevice.h"
#include "StorageDevices.h"
#include "platform/RawIo.h"
#include "support/FakeSysfs.h"
#include "support/TestSupport.h"

using velmora::test::FakeBlockEntry;
using velmora::test::FakeSysfsTree;
using velmora::test::TempDir;

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsbPath =
    "sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
constexpr const char* kNvmePath = "sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
constexpr const char* kDvdPath =
    "sys/devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";

CCollectDiskDeviceInfoStruct* DiskRecord(IStorageDevice* d) {
    return GetDiskInfo(d);
}

CCollectedVolumeDeviceInfoStruct* VolumeRecord(IStorageDevice* d) {
    auto* h = dynamic_cast<IVolumeDeviceData*>(d->GetPrivateData());
    return h ? h->GetVolumeInfo() : nullptr;
}

CCollectedPartitionDeviceInfoStruct* PartitionRecord(IStorageDevice* d) {
    auto* h = dynamic_cast<IPartitionDeviceData*>(d->GetPrivateData());
    return h ? h->GetPartitionInfo() : nullptr;
}

// Asks for the number, then for that many devices.
template <typename Query>
std::vector<IStorageDevice*> Listed(Query query) {
    int n = 0;
    EXPECT_EQ(query(nullptr, n), VK_OK);
    std::vector<IStorageDevice*> out(static_cast<size_t>(n));
    EXPECT_EQ(query(out.data(), n), VK_OK);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::vector<IStorageDevice*> Disks(IEnumDeviceEx& e) {
    return Listed([&](IStorageDevice** out, int& n) { return e.EnumDiskDevice(out, n); });
}
std::vector<IStorageDevice*> Volumes(IEnumDeviceEx& e, IStorageDevice* disk) {
    return Listed([&](IStorageDevice** out, int& n) { return e.EnumVolumeDevice(disk, out, n); });
}
std::vector<IStorageDevice*> Partitions(IEnumDeviceEx& e, IStorageDevice* disk) {
    return Listed(
        [&](IStorageDevice** out, int& n) { return e.EnumPartitionDevice(disk, out, n); });
}

std::string Guid(const _GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// Refuses opens of chosen node paths with a chosen error, fails every read
// of chosen paths, and counts reads per path.
class DenyingRawIo : public velmora::platform::IRawIo {
public:
    void Deny(const std::string& path, int error) { denied_.push_back({path, error}); }
    void FailReads(const std::string& path) { failing_.push_back(path); }
    int Reads(const std::string& path) const {
        auto it = reads_.find(path);
        return it == reads_.end() ? 0 : it->second;
    }
    void ResetCounts() { reads_.clear(); }

    int Open(const char* path, int* error) override {
        for (const auto& [p, e] : denied_)
            if (p == path) {
                *error = e;
                return -1;
            }
        int fd = real_.Open(path, error);
        if (fd >= 0)
            paths_[fd] = path;
        return fd;
    }
    bool Geometry(int fd, int* s, long long* n) override { return real_.Geometry(fd, s, n); }
    ssize_t ReadAt(int fd, void* b, size_t l, long long o) override {
        const std::string& path = paths_[fd];
        ++reads_[path];
        for (const auto& f : failing_)
            if (f == path) {
                errno = EIO;
                return -1;
            }
        return real_.ReadAt(fd, b, l, o);
    }
    void Close(int fd) override {
        paths_.erase(fd);
        real_.Close(fd);
    }

private:
    velmora::platform::LinuxRawIo real_;
    std::vector<std::pair<std::string, int>> denied_;
    std::vector<std::string> failing_;
    std::map<int, std::string> paths_;
    std::map<std::string, int> reads_;
};

class EnumDeviceTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        images_ = new TempDir();
        std::string script =
            velmora::test::SourceDir() + "/tests/fixtures/enumeration/make_enum_disks.sh";
        if (!enumtest::RunProgram({"bash", script, images_->path()})) {
            skip_ = "make_enum_disks.sh failed (needs sfdisk, sgdisk, mkfs.fat, python3)";
            return;
        }
        // Volume nodes hold their partition's bytes only.
        const std::string& d = images_->path();
        bool ok = enumtest::CopySectors(d + "/usb.img", d + "/sdb1.img", 2048, 32768) &&
                  enumtest::CopySectors(d + "/usb.img", d + "/sdb2.img", 34816, 32768) &&
                  enumtest::CopySectors(d + "/nvme.img", d + "/nvme0n1p1.img", 2048, 32768) &&
                  enumtest::CopySectors(d + "/nvme.img", d + "/nvme0n1p2.img", 34816, 49152);
        if (!ok)
            skip_ = "cannot cut partition images";
    }
    static void TearDownTestSuite() {
        delete images_;
        images_ = nullptr;
    }

    void SetUp() override {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
        tree_ = std::make_unique<FakeSysfsTree>(dir_ / "root");
        fs::create_directories(dir_ / "dev");
        // A USB stick showing two of its three partitions, an NVMe disk with
        // GPT, a loop device without partition scanning, a loop device too
        // small to list, an idle loop device and a DVD drive.
        tree_->AddDisk({"sdb", "8:16", 131072, false, true, 512, kUsbPath, ""});
        tree_->AddPartition("sdb", "sdb1", "8:17", 1, 2048, 32768);
        tree_->AddPartition("sdb", "sdb2", "8:18", 2, 34816, 32768);
        velmora::test::WriteFile(dir_ / "root" + "/" + kUsbPath + "/vendor",
                                 std::string("Generic\n"));
        velmora::test::WriteFile(dir_ / "root" + "/" + kUsbPath + "/model",
                                 std::string("Flash Disk\n"));
        tree_->AddDisk({"nvme0n1", "259:0", 131072, false, false, 512, kNvmePath, ""});
        tree_->AddPartition("nvme0n1", "nvme0n1p1", "259:1", 1, 2048, 32768);
        tree_->AddPartition("nvme0n1", "nvme0n1p2", "259:2", 2, 34816, 49152);
        tree_->AddDisk({"loop0", "7:0", 65536, true, false, 512, "", Image("loop.img")});
        tree_->AddDisk({"loop1", "7:1", 8192, false, false, 512, "", Image("tiny.img")});
        tree_->AddDisk({"loop2", "7:2", 0, false, false, 512, "", ""});
        tree_->AddDisk({"sr0", "11:0", 9180416, true, true, 2048, kDvdPath, ""});
        velmora::test::WriteFile(dir_ / "root" + "/" + kDvdPath + "/type", std::string("5\n"));

        Node("sdb", "usb.img");
        Node("sdb1", "sdb1.img");
        Node("sdb2", "sdb2.img");
        Node("nvme0n1", "nvme.img");
        Node("nvme0n1p1", "nvme0n1p1.img");
        Node("nvme0n1p2", "nvme0n1p2.img");
        Node("loop0", "loop.img");
        Node("loop1", "tiny.img");
        Node("sr0", "tiny.img");

        velmora::test::WriteFile(
            dir_ / "mountinfo",
            std::string("28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                        "61 28 8:17 / /media/user/USB\\040STICK rw,nosuid - vfat /dev/sdb1 rw\n"));
        factories_ = std::make_unique<velmora::test::ScopedSearcherRows>(enumtest::FatOnlyRows());
    }

    static std::string Image(const std::string& name) { return images_->path() + "/" + name; }
    void Node(const std::string& bsd, const std::string& image) {
        fs::create_symlink(Image(image), dir_ / "dev" + "/" + bsd);
    }

    EnumDeviceEnvironment Env() const {
        EnumDeviceEnvironment env;
        env.sysfsRoot = dir_ / "root";
        env.mountInfoPath = dir_ / "mountinfo";
        env.devFolder = dir_ / "dev";
        return env;
    }

    static TempDir* images_;
    static std::string skip_;
    TempDir dir_;
    std::unique_ptr<FakeSysfsTree> tree_;
    std::unique_ptr<velmora::test::ScopedSearcherRows> factories_;
};

TempDir* EnumDeviceTest::images_ = nullptr;
std::string EnumDeviceTest::skip_;

TEST_F(EnumDeviceTest, CatalogueListsDisksVolumesAndPartitionsInOrder) {
    CEnumDeviceEx e(Env());
    ASSERT_EQ(e.Init(), VK_OK);

    // Disks by name; the 4 MiB loop, the idle loop and the DVD are left out.
    auto disks = Disks(e);
    ASSERT_EQ(disks.size(), 3u);
    struct DiskWant {
        const char* name;
        int bus, scheme, writable;
        long long sectors;
        unsigned major, minor;
        const char* registry;
    };
    const DiskWant want[] = {{"loop0", 5, 1, 0, 65536, 7, 0, "loop.img"},
                             {"nvme0n1", 0, 2, 1, 131072, 259, 0, ""},
                             {"sdb", 4, 1, 1, 131072, 8, 16, "Generic Flash Disk"}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(disks[i]->GetType(), kDeviceDisk);
        EXPECT_EQ(disks[i]->IsPermitted(), 1);
        auto* r = DiskRecord(disks[i]);
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(r->bsdName, want[i].name);
        EXPECT_EQ(r->flag, 0);
        EXPECT_EQ(r->busType, want[i].bus);
        EXPECT_EQ(r->partitionScheme, want[i].scheme);
        EXPECT_EQ(r->writable, want[i].writable);
        EXPECT_EQ(r->sectorSize, 512);
        EXPECT_EQ(r->totalSectors, want[i].sectors);
        EXPECT_EQ(r->cylinders, want[i].sectors / 16065);
        EXPECT_EQ(r->heads, 255);
        EXPECT_EQ(r->sectorsPerTrack, 63);
        EXPECT_EQ(static_cast<dev_t>(r->deviceId), makedev(want[i].major, want[i].minor));
        EXPECT_STREQ(r->registryName, want[i].registry);
    }
    IStorageDevice* loop = disks[0];
    IStorageDevice* nvme = disks[1];
    IStorageDevice* usb = disks[2];

    // USB: the two live volumes, then the third partition, which the kernel
    // does not show, converted. It is as large as sdb2 but starts elsewhere.
    auto usbVolumes = Volumes(e, usb);
    ASSERT_EQ(usbVolumes.size(), 3u);
    auto* v1 = VolumeRecord(usbVolumes[0]);
    auto* v2 = VolumeRecord(usbVolumes[1]);
    auto* v3 = VolumeRecord(usbVolumes[2]);
    ASSERT_TRUE(v1 && v2 && v3);
    EXPECT_NE(dynamic_cast<CVolumeDevice*>(usbVolumes[0]), nullptr);
    EXPECT_STREQ(v1->bsdName, "sdb1");
    EXPECT_EQ(v1->partitionNumber, 1);
    EXPECT_EQ(v1->startSector, 2048);
    EXPECT_EQ(v1->totalSectors, 32768);
    EXPECT_EQ(v1->sectorSize, 512);
    EXPECT_EQ(v1->fileSystemType, FS_FAT16);
    EXPECT_STREQ(v1->label, "USBSTICK");
    EXPECT_STREQ(v1->volumeName, "USBSTICK");
    EXPECT_EQ(v1->mounted, 1);
    EXPECT_EQ(v1->disk, usb);
    EXPECT_EQ(static_cast<dev_t>(v1->deviceId), makedev(8, 17));
    EXPECT_STREQ(v2->bsdName, "sdb2");
    EXPECT_EQ(v2->partitionNumber, 2);
    EXPECT_EQ(v2->startSector, 34816);
    EXPECT_EQ(v2->fileSystemType, FS_UNKNOWN);
    EXPECT_STREQ(v2->label, "");
    EXPECT_STREQ(v2->volumeName, "sdb2");  // no label, not mounted: the kernel name
    EXPECT_EQ(v2->mounted, 0);
    EXPECT_NE(dynamic_cast<CPartitionVirtualVolumeDevice*>(usbVolumes[2]), nullptr);
    EXPECT_EQ(usbVolumes[2]->GetType(), kDeviceVolume);
    EXPECT_EQ(v3->partitionNumber, 3);
    EXPECT_EQ(v3->startSector, 67584);
    EXPECT_EQ(v3->totalSectors, 32768);
    EXPECT_STREQ(v3->bsdName, "");
    EXPECT_STREQ(v3->volumeName, "");
    EXPECT_EQ(v3->mounted, 0);
    EXPECT_EQ(v3->disk, usb);
    // The disk keeps copies of its live volumes' records.
    std::vector<CCollectedVolumeDeviceInfoStruct> kept;
    ASSERT_EQ(dynamic_cast<CDiskDevice*>(usb)->GetVolumes(kept), 2);
    EXPECT_STREQ(kept[1].bsdName, "sdb2");

    auto usbParts = Partitions(e, usb);
    ASSERT_EQ(usbParts.size(), 3u);
    const long long starts[] = {2048, 34816, 67584};
    for (int i = 0; i < 3; ++i) {
        auto* p = PartitionRecord(usbParts[static_cast<size_t>(i)]);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->partitionIndex, i + 1);
        EXPECT_EQ(p->startSector, starts[i]);
        EXPECT_EQ(p->sectorCount, 32768);
        EXPECT_EQ(p->sectorSize, 512);
        EXPECT_EQ(p->disk, usb);
        EXPECT_EQ(p->deviceId, DiskRecord(usb)->deviceId);
        EXPECT_EQ(p->fileSystemType, i == 0 ? FS_FAT16 : FS_UNKNOWN);
    }

    // NVMe: both partitions live, with the GUIDs sgdisk was given; nothing
    // converted.
    auto nvmeVolumes = Volumes(e, nvme);
    ASSERT_EQ(nvmeVolumes.size(), 2u);
    auto* n1 = VolumeRecord(nvmeVolumes[0]);
    auto* n2 = VolumeRecord(nvmeVolumes[1]);
    ASSERT_TRUE(n1 && n2);
    EXPECT_STREQ(n1->bsdName, "nvme0n1p1");
    EXPECT_EQ(Guid(n1->gptType), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
    EXPECT_EQ(Guid(n1->gptPartition), "A1A1A1A1-0000-4000-8000-000000000001");
    EXPECT_EQ(n2->startSector, 34816);
    EXPECT_EQ(n2->totalSectors, 49152);
    EXPECT_EQ(Guid(n2->gptType), "0FC63DAF-8483-4772-8E79-3D69D8477DE4");
    EXPECT_EQ(Guid(n2->gptPartition), "A1A1A1A1-0000-4000-8000-000000000002");
    auto nvmeParts = Partitions(e, nvme);
    ASSERT_EQ(nvmeParts.size(), 2u);
    EXPECT_EQ(Guid(PartitionRecord(nvmeParts[1])->gptPartition),
              "A1A1A1A1-0000-4000-8000-000000000002");

    // Loop: no partition the kernel shows, so both table entries arrive as
    // converted volumes, the file system named through the window.
    auto loopVolumes = Volumes(e, loop);
    ASSERT_EQ(loopVolumes.size(), 2u);
    auto* l1 = VolumeRecord(loopVolumes[0]);
    auto* l2 = VolumeRecord(loopVolumes[1]);
    ASSERT_TRUE(l1 && l2);
    EXPECT_EQ(l1->partitionNumber, 1);
    EXPECT_EQ(l1->fileSystemType, FS_FAT16);
    EXPECT_STREQ(l1->label, "LOOPVOL");
    // Named by its label as a live volume is, not left untitled.
    EXPECT_STREQ(l1->volumeName, "LOOPVOL");
    EXPECT_EQ(l1->startSector, 2048);
    EXPECT_EQ(l1->totalSectors, 20480);
    EXPECT_EQ(l2->partitionNumber, 2);
    EXPECT_EQ(l2->startSector, 22528);
    // The converted volume reads its partition: sector 0 is the FAT boot sector.
    std::vector<uint8_t> sector(512);
    ASSERT_EQ(loopVolumes[0]->ReadSector(sector.data(), 0, 1), 1);
    EXPECT_EQ(std::memcmp(sector.data() + 54, "FAT16   ", 8), 0);

    // Converted volumes belong to the enumerator: asking again gives the
    // same devices (the sanitizer build sees a leak otherwise).
    EXPECT_EQ(Volumes(e, loop), loopVolumes);
    EXPECT_EQ(Volumes(e, usb), usbVolumes);
    EXPECT_EQ(e.Uninit(), VK_OK);
}

TEST_F(EnumDeviceTest, ArrayProtocolAndStates) {
    CEnumDeviceEx e(Env());
    int n = 5;
    IStorageDevice* slots[8] = {};
    // Before Init every query is refused.
    EXPECT_TRUE(ResultIs(e.EnumDiskDevice(nullptr, n), kModuleEnumDevice, kErrNotInitialised));
    EXPECT_TRUE(
        ResultIs(e.EnumVolumeDevice(slots[0], slots, n), kModuleEnumDevice, kErrNotInitialised));
    EXPECT_TRUE(
        ResultIs(e.EnumPartitionDevice(slots[0], slots, n), kModuleEnumDevice, kErrNotInitialised));
    EXPECT_TRUE(ResultIs(e.Uninit(), kModuleEnumDevice, kErrNotInitialised));

    ASSERT_EQ(e.Init(), VK_OK);
    auto disks = Disks(e);
    ASSERT_EQ(disks.size(), 3u);
    IStorageDevice* usb = disks[2];

    struct Case {
        const char* what;
        bool nullOut;
        int count;
        uint32_t error;  // 0: success
        int countAfter;
    };
    const Case cases[] = {
        {"null array asks for the number", true, 0, 0, 3},
        {"array one too small", false, 2, kErrArrayTooSmall, 2},
        {"array of the right size", false, 3, 0, 3},
        {"larger array", false, 8, 0, 3},
        {"count 0 fills nothing", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::fill(std::begin(slots), std::end(slots), nullptr);
        n = c.count;
        VKRESULT r = e.EnumVolumeDevice(usb, c.nullOut ? nullptr : slots, n);
        if (c.error) {
            EXPECT_TRUE(ResultIs(r, kModuleEnumDevice, c.error));
            EXPECT_EQ(slots[0], nullptr) << "nothing filled";
        } else {
            EXPECT_EQ(r, VK_OK);
        }
        EXPECT_EQ(n, c.countAfter);
        if (!c.nullOut && !c.error && c.count) {
            EXPECT_NE(slots[2], nullptr);
        }
    }
    n = 0;
    EXPECT_TRUE(
        ResultIs(e.EnumVolumeDevice(nullptr, nullptr, n), kModuleEnumDevice, kErrNoInformation));
    EXPECT_TRUE(
        ResultIs(e.EnumPartitionDevice(nullptr, nullptr, n), kModuleEnumDevice, kErrNoInformation));
    IStorageDevice* stranger = CreateDiskDevice("/nonexistent");
    EXPECT_TRUE(
        ResultIs(e.EnumVolumeDevice(stranger, nullptr, n), kModuleEnumDevice, kErrBadArgument));
    EXPECT_TRUE(
        ResultIs(e.EnumPartitionDevice(stranger, nullptr, n), kModuleEnumDevice, kErrBadArgument));
    delete stranger;

    // Re-enumeration after a disk left.
    EXPECT_EQ(e.Uninit(), VK_OK);
    tree_->Remove("nvme0n1");
    ASSERT_EQ(e.Init(), VK_OK);
    EXPECT_EQ(Disks(e).size(), 2u);
    EXPECT_EQ(e.Uninit(), VK_OK);
    EXPECT_TRUE(ResultIs(e.EnumDiskDevice(nullptr, n), kModuleEnumDevice, kErrNotInitialised));
}

TEST_F(EnumDeviceTest, NoDiskLeavesTheEnumeratorUninitialised) {
    for (const char* name : {"sdb", "nvme0n1", "loop0"})
        tree_->Remove(name);
    CEnumDeviceEx e(Env());
    EXPECT_TRUE(ResultIs(e.Init(), kModuleEnumDevice, kErrFailed));
    int n = 0;
    EXPECT_TRUE(ResultIs(e.EnumDiskDevice(nullptr, n), kModuleEnumDevice, kErrNotInitialised));
}

TEST_F(EnumDeviceTest, BadEntriesAreListedOrSkippedNeverFatal) {
    // sdb2's size vanished between reads; nvme0n1's node is gone; loop0 is
    // not ours to read; a disk whose table lies.
    tree_->Remove("sdb/sdb2/size");
    fs::remove(dir_ / "dev" + "/nvme0n1");
    tree_->AddDisk({"loop3", "7:3", 32768, false, false, 512, "", Image("liar.img")});
    Node("loop3", "liar.img");
    // A card reader without a card, and the kernel's view of an extended
    // partition (two sectors, no entry of that number in the table).
    tree_->AddDisk({"sdz", "65:144", 0, false, true, 512, kUsbPath, ""});
    Node("sdz", "tiny.img");
    tree_->AddPartition("sdb", "sdb4", "8:20", 4, 100352, 2);
    Node("sdb4", "tiny.img");
    DenyingRawIo io;
    io.Deny(dir_ / "dev" + "/loop0", EACCES);
    velmora::platform::ScopedRawIo scoped(&io);

    CEnumDeviceEx e(Env());
    ASSERT_EQ(e.Init(), VK_OK);
    auto disks = Disks(e);
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_STREQ(DiskRecord(disks[0])->bsdName, "loop0");
    EXPECT_STREQ(DiskRecord(disks[1])->bsdName, "loop3");
    EXPECT_STREQ(DiskRecord(disks[2])->bsdName, "sdb");

    // Listed with its record, marked as not readable; nothing inside it known.
    IStorageDevice* denied = disks[0];
    EXPECT_EQ(denied->IsPermitted(), 0);
    EXPECT_EQ(DiskRecord(denied)->totalSectors, 65536);
    EXPECT_EQ(DiskRecord(denied)->partitionScheme, 0);
    EXPECT_TRUE(Partitions(e, denied).empty());
    auto deniedVolumes = Volumes(e, denied);
    ASSERT_EQ(deniedVolumes.size(), 1u);
    EXPECT_EQ(deniedVolumes[0]->IsPermitted(), 0);
    EXPECT_EQ(VolumeRecord(deniedVolumes[0])->partitionNumber, -1);
    EXPECT_EQ(VolumeRecord(deniedVolumes[0])->fileSystemType, FS_UNKNOWN);

    // The lying table: the first entry is cut at the disk's end, the one
    // starting beyond it is left out.
    auto liar = Partitions(e, disks[1]);
    ASSERT_EQ(liar.size(), 1u);
    EXPECT_EQ(PartitionRecord(liar[0])->startSector, 2048);
    EXPECT_EQ(PartitionRecord(liar[0])->sectorCount, 32768 - 2048);
    EXPECT_EQ(Volumes(e, disks[1]).size(), 1u);

    // sdb2 is no longer a live volume, so its table entry is offered as one.
    auto usbVolumes = Volumes(e, disks[2]);
    ASSERT_EQ(usbVolumes.size(), 3u);
    EXPECT_STREQ(VolumeRecord(usbVolumes[0])->bsdName, "sdb1");
    EXPECT_EQ(VolumeRecord(usbVolumes[1])->partitionNumber, 2);
    EXPECT_STREQ(VolumeRecord(usbVolumes[1])->bsdName, "");
    EXPECT_EQ(VolumeRecord(usbVolumes[2])->partitionNumber, 3);
}

TEST_F(EnumDeviceTest, DiskThatFailsEveryReadIsListedAndItsTableReadOnce) {
    const std::string node = dir_ / "dev" + "/sdb";
    DenyingRawIo io;
    io.FailReads(node);
    velmora::platform::ScopedRawIo scoped(&io);
    CEnumDeviceEx e(Env());
    ASSERT_EQ(e.Init(), VK_OK);
    const int readsDuringInit = io.Reads(node);
    auto disks = Disks(e);
    ASSERT_EQ(disks.size(), 3u);
    IStorageDevice* usb = disks[2];
    EXPECT_EQ(DiskRecord(usb)->partitionScheme, 0);
    EXPECT_TRUE(Partitions(e, usb).empty());
    // Its kernel partitions are still offered: their own nodes read fine.
    auto volumes = Volumes(e, usb);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(VolumeRecord(volumes[0])->fileSystemType, FS_FAT16);

    // A dying disk may take long to fail each read: enumeration reads its
    // table once, not once per disk, volume and partition pass.
    io.ResetCounts();
    DiskTable again = ReadDiskTable(usb);
    EXPECT_FALSE(again.read);
    EXPECT_GT(readsDuringInit, 0);
    EXPECT_EQ(readsDuringInit, io.Reads(node));
}

TEST_F(EnumDeviceTest, UnpartitionedDiskIsItsOwnVolume) {
    // A FAT file system straight on a loop device, cut out of loop.img.
    ASSERT_TRUE(enumtest::CopySectors(Image("loop.img"), dir_ / "plain.img", 2048, 20480));
    for (const char* name : {"sdb", "nvme0n1", "loop0"})
        tree_->Remove(name);
    tree_->AddDisk({"loop4", "7:4", 20480, false, false, 512, "", dir_ / "plain.img"});
    fs::create_symlink(dir_ / "plain.img", dir_ / "dev" + "/loop4");
    CEnumDeviceEx e(Env());
    ASSERT_EQ(e.Init(), VK_OK);
    auto disks = Disks(e);
    ASSERT_EQ(disks.size(), 1u);
    auto volumes = Volumes(e, disks[0]);
    ASSERT_EQ(volumes.size(), 1u);
    auto* v = VolumeRecord(volumes[0]);
    EXPECT_EQ(v->partitionNumber, -1);
    EXPECT_STREQ(v->bsdName, "loop4");
    EXPECT_EQ(v->startSector, 0);
    EXPECT_EQ(v->totalSectors, 20480);
    EXPECT_EQ(v->fileSystemType, FS_FAT16);
    EXPECT_STREQ(v->volumeName, "LOOPVOL");
}

TEST_F(EnumDeviceTest, FourKiBSectorDiskCountsInItsOwnSectors) {
    // sysfs gives starts and sizes in 512-byte units whatever the sector size.
    ASSERT_TRUE(enumtest::CopySectors(Image("disk4k.img"), dir_ / "sdc1.img", 2048, 16384));
    for (const char* name : {"sdb", "nvme0n1", "loop0"})
        tree_->Remove(name);
    tree_->AddDisk({"sdc", "8:32", 32768, false, false, 4096, kUsbPath, ""});
    tree_->AddPartition("sdc", "sdc1", "8:33", 1, 2048, 16384);
    Node("sdc", "disk4k.img");
    fs::create_symlink(dir_ / "sdc1.img", dir_ / "dev" + "/sdc1");
    CEnumDeviceEx e(Env());
    ASSERT_EQ(e.Init(), VK_OK);
    auto disks = Disks(e);
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(DiskRecord(disks[0])->sectorSize, 4096);
    EXPECT_EQ(DiskRecord(disks[0])->totalSectors, 4096);
    EXPECT_EQ(DiskRecord(disks[0])->partitionScheme, 1);

    auto parts = Partitions(e, disks[0]);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(PartitionRecord(parts[0])->startSector, 256);
    EXPECT_EQ(PartitionRecord(parts[0])->sectorCount, 2048);
    EXPECT_EQ(PartitionRecord(parts[0])->sectorSize, 4096);

    // The live sdc1 covers table entry 1; entry 2 is converted.
    auto volumes = Volumes(e, disks[0]);
    ASSERT_EQ(volumes.size(), 2u);
    auto* v1 = VolumeRecord(volumes[0]);
    EXPECT_STREQ(v1->bsdName, "sdc1");
    EXPECT_EQ(v1->sectorSize, 4096);
    EXPECT_EQ(v1->startSector, 256);
    EXPECT_EQ(v1->totalSectors, 2048);
    auto* v2 = VolumeRecord(volumes[1]);
    EXPECT_EQ(v2->partitionNumber, 2);
    EXPECT_EQ(v2->startSector, 2304);
    EXPECT_EQ(v2->totalSectors, 1024);
    std::vector<char> sector(4096);
    ASSERT_EQ(volumes[0]->GetSectorSize(), 4096);
    ASSERT_EQ(volumes[0]->ReadSector(sector.data(), 0, 1), 1);
    EXPECT_EQ(std::string(sector.data(), 5), "P1-4K");
    ASSERT_EQ(volumes[1]->GetSectorSize(), 4096);
    ASSERT_EQ(volumes[1]->ReadSector(sector.data(), 0, 1), 1);
    EXPECT_EQ(std::string(sector.data(), 5), "P2-4K");
}

IVolumeAnalyze* FatAsApfs(IStorageDevice* device, unsigned long long start) {
    IVolumeAnalyze* fat = enumtest::CreateFakeFat(device, start);
    const bool known = fat->GetFileSystemType() != FS_UNKNOWN;
    delete fat;
    return new enumtest::FakeFatAnalyze(known ? FS_APFS : FS_UNKNOWN, known ? "container" : "");
}

TEST_F(EnumDeviceTest, ApfsVolumeTakesTheNameOfItsContainersFirstVolume) {
    // The row says which volumes the container listing names and how the
    // listed volume's device reaches the volume device: the planned APFS row
    // does both; a row that does not name from the listing leaves the
    // recogniser's label, one without a device setter only the names.
    struct Case {
        const char* what;
        bool rowNamesFromListing;
        bool rowSetsDevice;
    };
    for (const Case& c :
         {Case{"planned row", true, true}, Case{"row without the listing", false, true},
          Case{"row without a device setter", true, false}}) {
        SCOPED_TRACE(c.what);
        SearcherRow apfs = velmora::test::PlannedRow(SEARCHER_APFS);
        apfs.createVolumeAnalyze = &FatAsApfs;
        if (!c.rowNamesFromListing)
            apfs.namedByContainerListing = 0;
        if (!c.rowSetsDevice)
            apfs.setContainerDevice = nullptr;
        velmora::test::ScopedSearcherRows apfsOnly({apfs});
        auto listing = std::make_shared<velmora::platform::FixedContainerListing>();
        const std::string longName(150, 'N');
        listing->Add("SDB1", {longName, "disk3s1"});
        EnumDeviceEnvironment env = Env();
        env.containers = listing;
        CEnumDeviceEx e(env);
        ASSERT_EQ(e.Init(), VK_OK);
        auto disks = Disks(e);
        ASSERT_EQ(disks.size(), 3u);
        auto volumes = Volumes(e, disks[2]);
        ASSERT_GE(volumes.size(), 1u);
        auto* v = VolumeRecord(volumes[0]);
        EXPECT_EQ(v->fileSystemType, FS_APFS);
        const char* devicePath = dynamic_cast<CVolumeDevice*>(volumes[0])->GetApfsDevicePath();
        if (!c.rowNamesFromListing) {
            EXPECT_EQ(std::string(v->label), "container");
            EXPECT_STREQ(devicePath, "");
            continue;
        }
        // The name is cut to the label field, never written past it.
        EXPECT_EQ(std::string(v->label), longName.substr(0, sizeof(v->label) - 1));
        EXPECT_EQ(std::string(v->volumeName), longName);
        EXPECT_STREQ(devicePath, c.rowSetsDevice ? "disk3s1" : "");
    }
}

// ---- the merge rule on records alone ----

struct Geometry {
    long long ssz, start, count;
};

std::unique_ptr<IStorageDevice> FakeDisk() {
    auto* disk = new CDiskDevice("/nonexistent");
    auto* info = new CCollectDiskDeviceInfoStruct{};
    info->sectorSize = 512;
    info->totalSectors = 1 << 22;
    disk->SetPrivateData(CreateDiskDeviceData(info));
    return std::unique_ptr<IStorageDevice>(disk);
}

std::unique_ptr<IStorageDevice> FakePartition(IStorageDevice* disk, Geometry g, int index) {
    auto* p = CreatePartitionDevice(disk, g.start, g.count);
    auto* info = new CCollectedPartitionDeviceInfoStruct{};
    info->sectorSize = g.ssz;
    info->sectorCount = g.count;
    info->startSector = g.start;
    info->partitionIndex = index;
    info->disk = disk;
    info->fileSystemType = FS_UNKNOWN;
    p->SetPrivateData(CreatePartitionDeviceData(info));
    return std::unique_ptr<IStorageDevice>(p);
}

std::unique_ptr<IStorageDevice> FakeVolume(IStorageDevice* disk, Geometry g, int number) {
    auto* v = CreateVolumeDevice("/nonexistent");
    auto* info = new CCollectedVolumeDeviceInfoStruct{};
    info->sectorSize = g.ssz;
    info->totalSectors = g.count;
    info->startSector = g.start;
    info->partitionNumber = number;
    info->disk = disk;
    v->SetPrivateData(CreateVolumeDeviceData(info));
    return std::unique_ptr<IStorageDevice>(v);
}

TEST(MergeVolumeAndPartition, SameDeviceNeedsSameStartSectorSizeAndSizeWithinTenMiB) {
    auto disk = FakeDisk();
    struct Case {
        const char* what;
        Geometry partition, volume;
        int same;
    };
    const Case cases[] = {
        {"identical", {512, 2048, 40960}, {512, 2048, 40960}, 1},
        {"exactly 10 MiB larger", {512, 2048, 40960 + 20480}, {512, 2048, 40960}, 1},
        {"10 MiB and one sector larger", {512, 2048, 40960 + 20481}, {512, 2048, 40960}, 0},
        {"10 MiB smaller", {512, 2048, 40960}, {512, 2048, 40960 + 20480}, 1},
        {"other sector size", {512, 2048, 40960}, {4096, 256, 5120}, 0},
        {"same size, other start", {512, 43008, 40960}, {512, 2048, 40960}, 0},
        {"volume start not known", {512, 43008, 40960}, {512, 0, 40960}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = FakePartition(disk.get(), c.partition, 1);
        auto v = FakeVolume(disk.get(), c.volume, 1);
        int same = -1;
        EXPECT_EQ(CMergeVolumeAndPartition::IsSameDevice(p.get(), v.get(), same), VK_OK);
        EXPECT_EQ(same, c.same);
    }
}

TEST(MergeVolumeAndPartition, OneVolumeDoesNotHideTwoPartitionsOfItsSize) {
    auto disk = FakeDisk();
    auto v = FakeVolume(disk.get(), {512, 2048, 40960}, 1);
    auto p1 = FakePartition(disk.get(), {512, 2048, 40960}, 1);
    auto p2 = FakePartition(disk.get(), {512, 43008, 40960}, 2);
    IStorageDevice* volumes[] = {v.get()};
    IStorageDevice* parts[] = {p1.get(), p2.get()};
    DevList out;
    ASSERT_EQ(CMergeVolumeAndPartition::MergeAsVolume(out, volumes, 1, parts, 2), VK_OK);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], v.get());
    auto* converted = VolumeRecord(out[1]);
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->partitionNumber, 2);
    EXPECT_EQ(converted->startSector, 43008);
    EXPECT_EQ(converted->mounted, 0);
    delete out[1];
}

TEST(VolumePartitionConverter, RefusesWhatIsNotAPartitionWithARecord) {
    auto disk = FakeDisk();
    IStorageDevice* out = nullptr;
    EXPECT_TRUE(ResultIs(CVolumePartitionConverter::ConvertPartition2Volume(&out, disk.get()),
                         kModuleEnumDevice, kErrBadArgument));
    std::unique_ptr<IStorageDevice> bare(CreatePartitionDevice(disk.get(), 0, 10));
    EXPECT_TRUE(ResultIs(CVolumePartitionConverter::ConvertPartition2Volume(&out, bare.get()),
                         kModuleEnumDevice, kErrNoInformation));
    EXPECT_EQ(out, nullptr);

    CCollectedPartitionDeviceInfoStruct p{};
    CCollectedVolumeDeviceInfoStruct v{};
    v.flag = 1;
    EXPECT_TRUE(ResultIs(CVolumePartitionConverter::PartitionInfo2VolumeInfo(&v, &p),
                         kModuleEnumDevice, kErrNotSupported));
}

// A converted partition is named by its file system's label, as a live
// volume is; without a label it stays unnamed. A label that fills its whole
// field (no terminator) is cut, never read past.
TEST(VolumePartitionConverter, NamesTheVolumeByItsLabel) {
    const std::string full(sizeof(CCollectedPartitionDeviceInfoStruct{}.label), 'L');
    const struct {
        std::string label;
        std::string name;
    } cases[] = {
        {"PHOTOS", "PHOTOS"},
        {"", ""},
        {full, full.substr(0, full.size() - 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CCollectedPartitionDeviceInfoStruct p{};
        std::memcpy(p.label, c.label.data(), c.label.size());
        p.sectorSize = 512;
        p.sectorCount = 2048;
        p.partitionIndex = 1;
        CCollectedVolumeDeviceInfoStruct v{};
        std::memset(v.volumeName, 'x', sizeof(v.volumeName));
        std::memset(v.bsdName, 'x', sizeof(v.bsdName));
        ASSERT_EQ(CVolumePartitionConverter::PartitionInfo2VolumeInfo(&v, &p), VK_OK);
        EXPECT_EQ(std::string(v.volumeName, strnlen(v.volumeName, sizeof(v.volumeName))), c.name);
        EXPECT_EQ(std::string(v.label), c.name);
        EXPECT_STREQ(v.bsdName, "");
        EXPECT_EQ(v.partitionNumber, 1);
    }
}

TEST(DevListSort, OrdersEachKindByItsKeyAndGroupsKinds) {
    auto disk = FakeDisk();
    auto v3 = FakeVolume(disk.get(), {512, 0, 1}, 3);
    auto vWhole = FakeVolume(disk.get(), {512, 0, 1}, -1);
    auto p2 = FakePartition(disk.get(), {512, 0, 1}, 2);
    auto p1 = FakePartition(disk.get(), {512, 0, 1}, 1);
    DevList list = {v3.get(), p2.get(), nullptr, vWhole.get(), p1.get()};
    CDevListSortAlgorithm::Sort(list);
    EXPECT_EQ(list, (DevList{p1.get(), p2.get(), vWhole.get(), v3.get(), nullptr}));
    list.clear();
}

// ---- the machine's own devices ----

// Whether the kernel shows a disk of its own (not a loop, RAM or swap device)
// with sectors: read from sysfs, not from the code under test, so a listing
// that lost every disk fails rather than skips.
bool KernelShowsADisk() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/block", ec)) {
        const std::string name = entry.path().filename();
        if (name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0)
            continue;
        const std::string size = velmora::test::ReadText(entry.path() / "size");
        if (!size.empty() && std::strtoll(size.c_str(), nullptr, 10) > 0)
            return true;
    }
    return false;
}

TEST(EnumDeviceRealMachine, EnumeratesWithoutErrorWhateverItFinds) {
    if (!KernelShowsADisk())
        GTEST_SKIP() << "the kernel shows no disk on this machine";
    CEnumDeviceEx e;
    VKRESULT r = e.Init();
    ASSERT_EQ(r, VK_OK);
    for (IStorageDevice* disk : Disks(e)) {
        auto* record = DiskRecord(disk);
        ASSERT_NE(record, nullptr);
        EXPECT_GT(record->totalSectors, 0);
        for (IStorageDevice* v : Volumes(e, disk))
            EXPECT_NE(VolumeRecord(v), nullptr) << record->bsdName;
        for (IStorageDevice* p : Partitions(e, disk))
            EXPECT_EQ(p->GetType(), kDevicePartition);
    }
    EXPECT_EQ(e.Uninit(), VK_OK);
    // The process-wide one is the same kind of object and starts uninitialised.
    int n = 0;
    IEnumDeviceEx* shared = CreateEnumDeviceEx();
    EXPECT_EQ(shared, CreateEnumDeviceEx());
    EXPECT_TRUE(
        ResultIs(shared->EnumDiskDevice(nullptr, n), kModuleEnumDevice, kErrNotInitialised));
    // Left initialised on purpose: it is torn down at exit, after which the
    // sanitizer build would see any device freed twice or touched late.
    EXPECT_EQ(shared->Init(), r);
}

}  // namespace
