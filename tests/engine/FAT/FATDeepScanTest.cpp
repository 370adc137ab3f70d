// Deep scans for lost FAT16 and FAT32 volumes: the FAT deep searcher walks
// the surface of disks whose partition table, boot sectors or root are gone
// and of a card reformatted over its old contents; each volume must come
// back with the start, cluster size and score its evidence earns, and its
// files byte for byte as the fixture manifests list them. Damaged and
// hostile surfaces must end the scan without a crash or a phantom volume.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FATCompleteSearch.h"
#include "FATDBR.h"
#include "FATFolderAnalyser.h"
#include "FatDeepScanHarness.h"
#include "FatTools.h"
#include "StorageDevices.h"
#include "support/FatMemDevice.h"
#include "support/TestSupport.h"

using namespace velmora::fattest;
using velmora::test::TempDir;

namespace {

class FatDeepScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        tzset();
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("python3") ||
            !HaveTool("sfdisk") || !HaveTool("sgdisk") || !HaveTool("parted"))
            return;
        s_dir = new TempDir();
        s_ok = true;
        // The disks pack the volumes of the other folders.
        for (const char* folder : {"fat", "exfat", "ntfs", "fatdeep", "disks"}) {
            std::string out;
            const std::string script =
                velmora::test::SourceDir() + "/tests/fixtures/" + folder + "/make.sh";
            if (RunTool({"sh", script, s_dir->path()}, &out) != 0) {
                s_why = std::string(folder) + ": " + out;
                s_ok = false;
                return;
            }
        }
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        if (!s_ok)
            GTEST_SKIP() << "the disk fixtures cannot be made here: " << s_why;
    }
    static std::string Path(const std::string& name) { return s_dir->path() + "/" + name; }
    static std::vector<uint8_t> Bytes(const std::string& name) {
        std::ifstream in(Path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    static inline TempDir* s_dir = nullptr;
    static inline bool s_ok = false;
    static inline std::string s_why = "mkfs.fat, mtools, sfdisk, sgdisk, parted or python3 missing";
    TempDir m_tmp;
};

struct ExpectedVolume {
    int fsType;
    long long start;  // -1: not checked (a volume rebuilt from its folders)
    long long firstDataSector;
    unsigned sectorsPerCluster;
    long long score;
    int manifestVolume;  // index in the manifest, -1 for none
    bool rootLost;
};

struct DiskCase {
    const char* image;  // below the fixture folder, without ".img"
    std::vector<ExpectedVolume> volumes;
};

// Recovers one partition's files into a folder and checks them against
// the manifest's volume.
void ExpectFilesBack(DeepScan& scan, const ExpectedVolume& v, int partition,
                     const std::string& manifest, const std::string& folder) {
    const RecoverFolderStats stats =
        RecoverToFolder(scan.Nodes(partition), scan.device, scan.searcher.get(), folder, false);
    EXPECT_EQ(stats.failed, 0);
    EXPECT_GT(stats.written, 0);
    std::string report;
    std::vector<std::string> args = {manifest, std::to_string(v.manifestVolume), folder};
    if (v.rootLost)
        args.push_back("--root-lost");
    EXPECT_EQ(RunScript("check_deep_recovered.py", args, &report), 0) << report;
}

void CheckDisk(const DiskCase& c, const std::string& dir, const std::string& out) {
    SCOPED_TRACE(c.image);
    const std::string image = dir + "/" + c.image + ".img";
    std::unique_ptr<IStorageDevice> device(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(device && device->Open(nullptr));
    DeepScan scan(device.get());
    scan.Run();
    EXPECT_EQ(scan.tree.roots, 1);
    const auto found = scan.Partitions();
    // Every volume, and nothing else: stale bytes make no phantom volume.
    ASSERT_EQ(found.size(), c.volumes.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const ExpectedVolume& v = c.volumes[i];
        const CFATSearchedPartitionInfo& p = *found[i];
        SCOPED_TRACE("partition " + std::to_string(i));
        EXPECT_EQ(p.partitionIndex, static_cast<int>(i));
        EXPECT_EQ(p.fileSystemType, v.fsType);
        if (v.start >= 0) {
            EXPECT_EQ(p.startSector, v.start);
        }
        EXPECT_EQ(p.GetDataStartSector(), v.firstDataSector);
        EXPECT_EQ(p.sectorsPerCluster, v.sectorsPerCluster);
        EXPECT_EQ(p.GetScore(), v.score);
        EXPECT_EQ(p.GetMatchedSubFolderCount(), 0) << "copies leave the counter out";
        if (v.manifestVolume >= 0)
            ExpectFilesBack(scan, v, static_cast<int>(i), dir + "/" + c.image + ".json",
                            out + "/" + c.image + "-" + std::to_string(i));
    }
}

// The FAT16 and FAT32 volumes of the partitioned disks (FAT16 at 67584 on
// MBR, 2048 on GPT; FAT32 at 135168 and 67584), with the data areas mkfs
// gave them: FAT16 4 reserved sectors, two FATs of 64 and 32 root sectors;
// FAT32 32 reserved and two FATs of 756 sectors.
TEST_F(FatDeepScanTest, LostPartitionsComeBackWithTheirScores) {
    const long long fat16Data = 4 + 2 * 64 + 32, fat32Data = 32 + 2 * 756;
    const DiskCase cases[] = {
        {"disks/lost_mbr",
         {{FS_FAT16, 67584, 67584 + fat16Data, 4, 100, 1, false},
          {FS_FAT32, 135168, 135168 + fat32Data, 1, 100, 2, false}}},
        {"disks/lost_gpt",
         {{FS_FAT16, 2048, 2048 + fat16Data, 4, 100, 0, false},
          {FS_FAT32, 67584, 67584 + fat32Data, 1, 100, 1, false}}},
        // FAT32 from its backup boot sector alone.
        {"disks/lost_mbr_noboot",
         {{FS_FAT16, 67584, 67584 + fat16Data, 4, 100, 1, false},
          {FS_FAT32, 135168, 135168 + fat32Data, 1, 95, 2, false}}},
        // FAT16 from its sub-folders alone; its root through the window in
        // front of the data area.
        {"disks/lost_gpt_noboot",
         {{FS_FAT16, -1, 2048 + fat16Data, 4, 20, 0, false},
          {FS_FAT32, 67584, 67584 + fat32Data, 1, 100, 1, false}}},
    };
    for (const DiskCase& c : cases)
        CheckDisk(c, s_dir->path(), m_tmp.path());
}

TEST_F(FatDeepScanTest, ZeroedRootAndReformattedCard) {
    const DiskCase cases[] = {
        // Boot sector and FATs intact: every sub-folder hangs under a
        // placeholder in the root.
        {"fatdeep/fat32_noroot", {{FS_FAT32, 0, 32 + 2 * 567, 1, 100, 0, true}}},
        // The new FAT16 from its boot sector; the old FAT32 from its
        // folders only.
        {"fatdeep/card_reformatted",
         {{FS_FAT16, 0, 4 + 2 * 128 + 32, 4, 100, 0, false},
          {FS_FAT32, -1, 32 + 2 * 1009, 1, 20, 1, true}}},
    };
    for (const DiskCase& c : cases)
        CheckDisk(c, s_dir->path(), m_tmp.path());
}

}  // namespace
