// The catalogue and the imager on a real device: a GPT disk with FAT32 and
// NTFS volumes (tests/fixtures/disks/gpt_fat_ntfs.py) attached read-only to
// a loop device. The catalogue lists it as lsblk does, and an edi image the
// imager makes of it is accepted by the engine's reader and scans to the
// same trees as the disk itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "EngineFactories.h"
#include "FatFixtureScan.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "StorageDevices.h"
#include "VKMakeDMG.h"
#include "VKUIDeviceData.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

class ReadOnlyLoop {
public:
    explicit ReadOnlyLoop(const std::string& file) {
        std::string out;
        if (velmora::test::RunProgram({"losetup", "--find", "--show", "-r", file}, &out))
            node_ = Trimmed(out);
    }
    ~ReadOnlyLoop() {
        if (!node_.empty())
            velmora::test::RunProgram({"losetup", "-d", node_});
    }
    ReadOnlyLoop(const ReadOnlyLoop&) = delete;
    ReadOnlyLoop& operator=(const ReadOnlyLoop&) = delete;
    const std::string& node() const { return node_; }

private:
    std::string node_;
};

// What lsblk -J reports: name → (size, fstype or "").
struct Block {
    long long size = 0;
    std::string fstype;
};
std::map<std::string, Block> Lsblk(const std::string& node) {
    std::string json;
    std::map<std::string, Block> out;
    if (!velmora::test::RunProgram({"lsblk", "-J", "-b", "-o", "NAME,SIZE,FSTYPE", node}, &json))
        return out;
    static const std::regex entry(
        R"re("name":\s*"([^"]+)",\s*"size":\s*(\d+),\s*"fstype":\s*(null|"([^"]*)"))re");
    for (std::sregex_iterator it(json.begin(), json.end(), entry), end; it != end; ++it)
        out[(*it)[1]] = {std::stoll((*it)[2]), (*it)[4]};
    return out;
}

// The file-system names lsblk and blkid give our codes.
std::string FsName(int code) {
    static const std::map<int, std::string> names = {{1, "vfat"},  {2, "vfat"},    {3, "ntfs"},
                                                     {7, "exfat"}, {8, "hfsplus"}, {9, "apfs"}};
    auto it = names.find(code);
    return it != names.end() ? it->second : "";
}

// One sorted line per node of every tree a whole-disk deep scan shows:
// searcher type, path below the tree's root, size, deleted.
class TreeListing : public IDrirectoryTree {
public:
    std::vector<std::string> Scan(IStorageDevice* device) {
        InstallEngineFactories();
        IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_PARTITION);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        controller->Initialize(filter);
        velmora::bridgetest::RunToEnd progress;
        roots_.clear();
        controller->StartDataRecovery(device, &progress, this);
        std::vector<std::string> lines;
        for (IFilesystemNode* root : roots_)
            Walk(root, std::to_string(root->GetSearcheType()) + "\t", lines, 0);
        controller->Release();
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode* root) override { roots_.push_back(root); }

private:
    static void Walk(IFileNode* node, const std::string& path, std::vector<std::string>& lines,
                     int depth) {
        if (depth > 64)
            return;
        for (IFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextNode()) {
            const std::string p = path + (c->GetFileName() ? c->GetFileName() : "?");
            lines.push_back(p + "\t" + std::to_string(c->GetFileSize()) + "\t" +
                            std::to_string(c->IsDeleted()));
            Walk(c, p + "/", lines, depth + 1);
        }
    }
    std::vector<IFilesystemNode*> roots_;
};

// The names of the trees' roots a quick scan of a volume shows.
class RootNames : public IDrirectoryTree {
public:
    std::vector<std::string> Scan(IStorageDevice* volume) {
        IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_DELETED);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_QUICK);
        filter->SetFilterTypes(CATEGORY_ALL);
        controller->Initialize(filter);
        velmora::bridgetest::RunToEnd progress;
        names_.clear();
        controller->StartDataRecovery(volume, &progress, this);
        controller->Release();
        return names_;
    }
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode* root) override {
        names_.push_back(std::string(root->GetFileName()) + " in " + root->GetVolumeName());
    }

private:
    std::vector<std::string> names_;
};

class Recorder : public VKMakeDMGDelegate {
public:
    void VKGetPrecent(const VKMakeDMGProgress* p) override { last = *p; }
    VKMakeDMGProgress last;
};

// A volume that fills its disk (no partition table) is named by its label,
// and a loop disk by the file it shows, so that two images of one size are
// told apart on the disk page.
TEST(DeviceLoop, AWholeDiskVolumeByItsLabelAndTheLoopDiskByItsFile) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach a loop device";
    struct stat st {};
    if (::stat("/usr/sbin/mkfs.exfat", &st) != 0)
        GTEST_SKIP() << "mkfs.exfat is not installed (exfatprogs)";
    velmora::test::TempDir dir;
    const std::string image = dir / "recovtest.img";
    {
        const int fd = ::open(image.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
        ::close(fd);
    }
    ASSERT_TRUE(velmora::test::RunProgram({"/usr/sbin/mkfs.exfat", "-L", "RECOVTEST", image}));
    ReadOnlyLoop loop(image);
    if (loop.node().empty())
        GTEST_SKIP() << "cannot attach a loop device (losetup failed)";
    const std::string name = loop.node().substr(loop.node().rfind('/') + 1);

    velmora::bridgetest::BridgeWorld world;
    InstallEngineFactories();
    VKUIDeviceData catalogue(CreateEnumDeviceEx());
    catalogue.InitDeviceInfo();
    std::vector<_DiskVolumeData> disks;
    catalogue.GetAllDeviceInfo(disks);
    auto it = std::find_if(disks.begin(), disks.end(), [&](const _DiskVolumeData& d) {
        return d.bsdName != nullptr && name == d.bsdName;
    });
    ASSERT_NE(it, disks.end()) << name << " is not in the catalogue";
    ASSERT_NE(it->name, nullptr);
    EXPECT_STREQ(it->name, "recovtest.img");
    ASSERT_EQ(it->volumes.size(), 1u);
    ASSERT_NE(it->volumes[0].name, nullptr);
    EXPECT_STREQ(it->volumes[0].name, "RECOVTEST");
}

TEST(DeviceLoop, CatalogueListsTheDiskAsLsblkAndItsEdiImageScansTheSame) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach a loop device";
    for (const char* tool : {"/usr/sbin/sgdisk", "/usr/sbin/mkfs.fat", "/usr/sbin/mkntfs",
                             "/usr/bin/mcopy", "/usr/bin/lsblk", "/usr/sbin/losetup"}) {
        struct stat st {};
        if (::stat(tool, &st) != 0)
            GTEST_SKIP() << tool << " is not installed (gdisk, dosfstools, mtools, ntfs-3g)";
    }
    velmora::test::TempDir dir;
    const std::string image = dir / "disk.img";
    ASSERT_TRUE(velmora::test::RunProgram(
        {"python3", velmora::test::SourceDir() + "/tests/fixtures/disks/gpt_fat_ntfs.py", image}));
    ReadOnlyLoop loop(image);
    if (loop.node().empty())
        GTEST_SKIP() << "cannot attach a loop device (losetup failed)";
    const int probe = ::open(loop.node().c_str(), O_RDONLY | O_CLOEXEC);
    if (probe < 0)
        GTEST_SKIP() << loop.node() << " cannot be opened for reading in this sandbox";
    ::close(probe);
    const std::string name = loop.node().substr(loop.node().rfind('/') + 1);

    velmora::bridgetest::BridgeWorld world;
    // The program installs the file systems before it lists devices, so
    // that enumeration names each volume's file system.
    InstallEngineFactories();
    VKUIDeviceData catalogue(CreateEnumDeviceEx());
    catalogue.InitDeviceInfo();
    ASSERT_EQ(catalogue.GetInitState(), 2);
    std::vector<_DiskVolumeData> disks;
    catalogue.GetAllDeviceInfo(disks);
    auto it = std::find_if(disks.begin(), disks.end(), [&](const _DiskVolumeData& d) {
        return d.bsdName != nullptr && name == d.bsdName;
    });
    ASSERT_NE(it, disks.end()) << name << " is not in the catalogue";
    const _DiskVolumeData& disk = *it;

    const std::map<std::string, Block> blocks = Lsblk(loop.node());
    ASSERT_EQ(blocks.count(name), 1u);
    EXPECT_EQ(disk.capacity, blocks.at(name).size);
    // Where the kernel shows the partitions, lsblk lists them; where it
    // does not (loop devices without partition scanning), the same facts
    // come from the partition table and blkid's probe at each offset.
    struct Expected {
        long long size;
        std::string fstype;
    };
    std::vector<Expected> expected;
    for (const auto& [child, block] : blocks) {
        if (child != name)
            expected.push_back({block.size, block.fstype});
    }
    if (expected.empty()) {
        std::string table;
        ASSERT_TRUE(velmora::test::RunProgram({"sfdisk", "-J", image}, &table));
        static const std::regex part(R"re("start":\s*(\d+),\s*"size":\s*(\d+))re");
        for (std::sregex_iterator p(table.begin(), table.end(), part), end; p != end; ++p) {
            const long long start = std::stoll((*p)[1]) * 512;
            std::string type;
            velmora::test::RunProgram({"blkid", "-p", "-o", "value", "-s", "TYPE", "-O",
                                       std::to_string(start), loop.node()},
                                      &type);
            expected.push_back({std::stoll((*p)[2]) * 512, Trimmed(type)});
        }
    }
    ASSERT_EQ(expected.size(), 2u);
    ASSERT_EQ(disk.volumes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(disk.volumes[i].capacity, expected[i].size);
        EXPECT_EQ(FsName(disk.volumes[i].fileSystem), expected[i].fstype);
        EXPECT_EQ(disk.volumes[i].diskIndex, disk.diskIndex);
        EXPECT_EQ(disk.volumes[i].volumeIndex, static_cast<int>(i));
    }
    // The FAT volume is named by its label whether the kernel shows it as a
    // partition or the partition table alone gives it; its quick scan's
    // tree is named after it.
    ASSERT_NE(disk.volumes[0].name, nullptr);
    EXPECT_STREQ(disk.volumes[0].name, "VELFAT");
    {
        VKUIDeviceData::DeviceLease volume = catalogue.LeaseDevice(disk.diskIndex, 0);
        ASSERT_TRUE(volume);
        RootNames roots;
        EXPECT_EQ(roots.Scan(volume.get()),
                  std::vector<std::string>{"VELFAT(FAT/FAT32) in VELFAT"});
    }

    // The imager copies the disk into an edi image the engine accepts.
    VKMakeDMG imager(catalogue);
    Recorder recorder;
    imager.setVKDelegate(&recorder);
    const std::string edi = dir / "disk.edi";
    ASSERT_EQ(imager.VKStart(loop.node(), edi, disk.diskIndex, -1, 0), 0);
    imager.WaitForCopy();
    world.poster->RunPending();
    ASSERT_EQ(recorder.last.errorCode, 0);
    EXPECT_EQ(recorder.last.doneSectors, disk.capacity / 512);
    std::unique_ptr<IStorageDevice> copy(CreateEdiDevice(edi.c_str()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetTotalSectors() * copy->GetSectorSize(), disk.capacity);

    // It opens in the catalogue as the disk after the machine's disks, and
    // scans to the same trees as the disk.
    ASSERT_EQ(catalogue.VKOpenEdiFileImp(edi.c_str()), 1);
    std::vector<_DiskVolumeData> after;
    catalogue.GetAllDeviceInfo(after);
    ASSERT_EQ(after.size(), disks.size() + 1);
    EXPECT_EQ(after.back().isEdi, 1);
    VKUIDeviceData::DeviceLease fromDisk = catalogue.LeaseDevice(disk.diskIndex, -1);
    VKUIDeviceData::DeviceLease fromImage =
        catalogue.LeaseDevice(static_cast<int>(after.size()) - 1, -1);
    ASSERT_TRUE(fromDisk && fromImage);
    TreeListing listing;
    const std::vector<std::string> diskTrees = listing.Scan(fromDisk.get());
    const std::vector<std::string> imageTrees = listing.Scan(fromImage.get());
    EXPECT_EQ(imageTrees, diskTrees);
    const auto has = [&](const std::string& suffix) {
        return std::any_of(diskTrees.begin(), diskTrees.end(), [&](const std::string& l) {
            return l.find(suffix) != std::string::npos;
        });
    };
    EXPECT_TRUE(has("notes.txt\t5400\t0")) << testing::PrintToString(diskTrees);
    EXPECT_TRUE(has("photo.bin\t16384\t0"));

    // A copy cut short is refused.
    const std::string cut = dir / "cut.edi";
    fs::copy_file(edi, cut);
    fs::resize_file(cut, fs::file_size(edi) - 4096);
    EXPECT_EQ(std::unique_ptr<IStorageDevice>(CreateEdiDevice(cut.c_str())), nullptr);
}

}  // namespace
