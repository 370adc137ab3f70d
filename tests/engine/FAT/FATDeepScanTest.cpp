// Deep scans for lost FAT16 and FAT32 volumes: the FAT deep searcher walks
// the surface of disks whose partition table, boot sectors or root are gone
// and of a card reformatted over its old contents; each volume must come
// back with the start, cluster size and score its evidence earns, and its
// files byte for byte as the fixture manifests list them. Damaged and
// hostile surfaces must end the scan without a crash or a phantom volume.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FATCompleteSearch.h"
#include "FATDBR.h"
#include "FATFolderAnalyser.h"
#include "FatDeepScanHarness.h"
#include "FatTools.h"
#include "StorageDevices.h"
#include "support/MemoryStorageDevice.h"
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
    // No FAT to follow: live files of more than a cluster are taken as
    // contiguous, marked damaged, and recovered as incomplete.
    bool guessed = false;
};

struct DiskCase {
    const char* image;  // below the fixture folder, without ".img"
    std::vector<ExpectedVolume> volumes;
    // The volumes lie side by side (none reformatted over another): each
    // lists only files of its own.
    bool sideBySide = true;
};

// The names of the files of a manifest's volume.
std::set<std::string> ManifestNames(const std::string& manifest, int volume) {
    std::string out;
    RunTool({"python3", "-c",
             "import json, os, sys\n"
             "for e in json.load(open(sys.argv[1]))['volumes'][int(sys.argv[2])]['files']:\n"
             "    print(os.path.basename(e['path']))\n",
             manifest, std::to_string(volume)},
            &out);
    std::set<std::string> names;
    for (const std::string& line : Split(out, '\n'))
        if (!line.empty())
            names.insert(line);
    return names;
}

// A file of that volume, as the scan names it: a deleted entry that kept
// only its 8.3 name shows "#" for its first byte.
bool OneOf(const std::set<std::string>& names, const std::string& name) {
    if (names.count(name))
        return true;
    if (name.size() < 2 || name[0] != '#')
        return false;
    for (const std::string& n : names) {
        std::string upper = n;
        for (char& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (n.size() == name.size() &&
            (n.substr(1) == name.substr(1) || upper.substr(1) == name.substr(1)))
            return true;
    }
    return false;
}

// Recovers one partition's files into a folder and checks them against
// the manifest's volume.
void ExpectFilesBack(DeepScan& scan, const ExpectedVolume& v, int partition,
                     const std::string& manifest, const std::string& folder) {
    const auto nodes = scan.Nodes(partition);
    const RecoverFolderStats stats =
        RecoverToFolder(nodes, scan.device, scan.searcher.get(), folder, false);
    long long marked = 0;
    for (const auto& [path, node] : nodes)
        if (!node->IsDirectory() && node->GetFileSize() > 0 &&
            static_cast<CFileNode*>(node)->IsDamaged())
            ++marked;
    // Only files marked as damaged are reported incomplete (and written).
    EXPECT_EQ(stats.failed, marked);
    EXPECT_EQ(marked > 0, v.guessed);
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
        EXPECT_FALSE(scan.VolumeName(static_cast<int>(i)).empty()) << "a folder of its own";
        EXPECT_EQ(p.fileSystemType, v.fsType);
        if (v.start >= 0) {
            EXPECT_EQ(p.startSector, v.start);
        }
        EXPECT_EQ(p.GetDataStartSector(), v.firstDataSector);
        EXPECT_EQ(p.sectorsPerCluster, v.sectorsPerCluster);
        EXPECT_EQ(p.GetScore(), v.score);
        EXPECT_EQ(p.GetMatchedSubFolderCount(), 0) << "copies leave the counter out";
        if (c.sideBySide && v.manifestVolume >= 0) {
            // Nothing read in another volume's directories with this one's
            // geometry.
            const std::set<std::string> names =
                ManifestNames(dir + "/" + c.image + ".json", v.manifestVolume);
            for (const auto& [path, node] : scan.Nodes(static_cast<int>(i))) {
                if (!node->IsDirectory()) {
                    EXPECT_TRUE(OneOf(names, node->GetFileName())) << path;
                }
            }
        }
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
         {{FS_FAT16, -1, 2048 + fat16Data, 4, 20, 0, false, true},
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
          {FS_FAT32, -1, 32 + 2 * 1009, 1, 20, 1, true}},
         false},
    };
    for (const DiskCase& c : cases)
        CheckDisk(c, s_dir->path(), m_tmp.path());
}

// ---------------------------------------------------------------------------
// The searcher over copies of one small FAT32 volume (36 MiB, one sector
// per cluster, 32 reserved sectors, FATs of 567 sectors; root at cluster
// 2, sub-folders at clusters 3 to 7 in sectors 1167 to 1171), damaged in
// memory.

constexpr long long kFats = 567, kData = 32 + 2 * kFats;

// An image in memory whose reads fail inside one range of sectors.
class PatchyDevice final : public velmora::test::MemoryStorageDevice {
public:
    explicit PatchyDevice(std::vector<uint8_t> bytes, int sectorSize = 512)
        : MemoryStorageDevice(std::move(bytes), sectorSize, false) {}
    void FailReads(long long first, long long end) { FailSectors(first, end - first); }
    // The first cluster of the "." or ".." entry of a sub-folder's sector.
    void SetDotCluster(long long sector, int entry, uint32_t cluster) {
        uint8_t* e = Sector(sector) + 32 * entry;
        e[26] = cluster & 0xFF, e[27] = (cluster >> 8) & 0xFF;
        e[20] = (cluster >> 16) & 0xFF, e[21] = (cluster >> 24) & 0xFF;
    }
};

std::vector<std::string> FileNames(DeepScan& scan) {
    std::vector<std::string> names;
    for (IFileNode* n : scan.tree.shown)
        if (!n->IsDirectory() && n->GetFileName())
            names.push_back(n->GetFileName());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(FatDeepScanTest, ScoresFollowTheEvidence) {
    struct Case {
        const char* what;
        std::vector<long long> zeroed;
        long long start, score;
        uint32_t bootFlags;
    };
    const Case cases[] = {
        {"everything seen", {}, 0, 100, 0x4 | 0x8},
        {"backup boot sector gone", {6}, 0, 95, 0x4},
        {"boot sector gone, backup at +6", {0}, 0, 95, 0x8},
        {"second FAT's start gone", {32 + kFats}, 0, 95, 0x4 | 0x8},
        {"only the boot sector and the first FAT", {6, 32 + kFats}, 0, 90, 0x4},
        // One reserved sector and two FATs sized for the space up to the
        // device's end are assumed in front of the data.
        {"both boot sectors gone: sub-folders only", {0, 6}, kData - 2 * kFats - 1, 20, 0},
    };
    const std::vector<uint8_t> volume = Bytes("fatdeep/fat32_noroot_src.img");
    ASSERT_FALSE(volume.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PatchyDevice device(volume);
        for (long long s : c.zeroed)
            device.Zero(s);
        DeepScan scan(&device);
        scan.Run();
        const auto found = scan.Partitions();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0]->startSector, c.start);
        EXPECT_EQ(found[0]->GetDataStartSector(), kData);
        EXPECT_EQ(found[0]->sectorsPerCluster, 1u);
        EXPECT_EQ(found[0]->GetScore(), c.score);
        EXPECT_EQ(found[0]->GetFlag() & 0xF, c.bootFlags);
        EXPECT_FALSE(FileNames(scan).empty());
    }
}

TEST_F(FatDeepScanTest, CandidatesAndTheirWinnowing) {
    const std::vector<uint8_t> volume = Bytes("fatdeep/fat32_noroot_src.img");
    ASSERT_FALSE(volume.empty());
    PatchyDevice device(volume);
    const std::vector<uint8_t> boot(device.Sector(0), device.Sector(1));

    // A searcher serving a second scan starts afresh.
    {
        DeepScan scan(&device);
        scan.Run();
        scan.Run();
        EXPECT_EQ(scan.Partitions().size(), 1u);
    }

    // A FAT32 boot sector at sector 6 is also read as the backup of a
    // volume at 0; below sector 6 it is not.
    for (const auto& [sector, candidates] : {std::pair{6LL, 2u}, std::pair{3LL, 1u}}) {
        std::vector<uint8_t> bytes(volume.size(), 0);
        std::memcpy(bytes.data() + sector * 512, boot.data(), 512);
        PatchyDevice lone(bytes);
        CFATCompleteFSearcher searcher;
        searcher.SetDevice(&lone);
        EXPECT_TRUE(searcher.AnalyzeFATDBRSector(static_cast<uint64_t>(sector), boot.data()));
        EXPECT_EQ(searcher.CandidateCount(), candidates) << "boot sector at " << sector;
    }

    // One sub-folder proposes a volume for every cluster size that fits in
    // front of it; a second sub-folder of the same volume confirms one and
    // proposes nothing. Unconfirmed, none is kept, and the tree builder is
    // never told of a FAT tree.
    {
        std::vector<uint8_t> bytes(volume.size(), 0);
        std::memcpy(bytes.data() + 1169 * 512, volume.data() + 1169 * 512, 512);
        PatchyDevice lone(bytes);
        DeepScan scan(&lone);
        scan.Run();
        EXPECT_TRUE(scan.Partitions().empty());
        EXPECT_EQ(scan.tree.roots, 0);
    }
    {
        CFATCompleteFSearcher searcher;
        searcher.SetDevice(&device);
        searcher.AnalyzeSector(1169, device.Sector(1169));
        const size_t proposed = searcher.CandidateCount();
        EXPECT_GE(proposed, 2u);
        searcher.AnalyzeSector(1171, device.Sector(1171));
        EXPECT_EQ(searcher.CandidateCount(), proposed);
        std::vector<CFATSearchedPartitionInfo*> kept;
        searcher.AddSearchedPartitionInfoList2(kept);
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0]->GetDataStartSector(), kData);
        EXPECT_EQ(kept[0]->GetMatchedSubFolderCount(), 1);
        EXPECT_EQ(kept[0]->GetScore(), 20);
        for (auto* p : kept)
            delete p;
        EXPECT_EQ(searcher.CandidateCount(), 0u);
    }
}

TEST_F(FatDeepScanTest, PlaceholdersForFoldersWhoseParentsAreGone) {
    const std::vector<uint8_t> volume = Bytes("fatdeep/fat32_noroot_src.img");
    ASSERT_FALSE(volume.empty());
    PatchyDevice device(volume);
    device.Zero(kData);  // the root's one cluster
    std::vector<std::string> firstNames;
    for (int round = 0; round < 2; ++round) {
        DeepScan scan(&device);
        scan.Run();
        ASSERT_EQ(scan.Partitions().size(), 1u);
        std::vector<std::string> placeholders;
        for (IFileNode* n : scan.tree.shown)
            if (n->IsDirectory() && std::strncmp(n->GetFileName(), "DIR", 3) == 0)
                placeholders.push_back(n->GetFileName());
        // The top folders (clusters 3, 5 and 7) stand in placeholders; the
        // folders inside them keep their names.
        EXPECT_EQ(placeholders.size(), 3u);
        // A second scan goes on numbering.
        if (round == 0)
            firstNames = placeholders;
        else
            for (const std::string& name : placeholders)
                EXPECT_EQ(std::count(firstNames.begin(), firstNames.end(), name), 0) << name;
        EXPECT_FALSE(FileNames(scan).empty());
    }
}

// Two copies of one FAT32 volume on a disk without a partition table: their
// folders share first clusters (the nodes' ids), parents and names. Each
// volume keeps its own folders, and every node sits in its own volume's.
TEST_F(FatDeepScanTest, TwoLostVolumesKeepTheirOwnFolders) {
    const std::vector<uint8_t> volume = Bytes("fatdeep/fat32_noroot_src.img");
    ASSERT_FALSE(volume.empty());
    const size_t second = 40 << 20;
    ASSERT_LE(volume.size(), second);
    std::vector<uint8_t> disk(2 * second, 0);
    std::copy(volume.begin(), volume.end(), disk.begin());
    std::copy(volume.begin(), volume.end(), disk.begin() + static_cast<long>(second));
    velmora::test::MemoryStorageDevice device(std::move(disk), 512);
    DeepScan scan(&device);
    scan.Run();
    const auto found = scan.Partitions();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->startSector, 0);
    EXPECT_EQ(found[1]->startSector, static_cast<long long>(second / 512));
    // Each volume is a folder of its own under the tree's root; the copy's
    // label is taken, so it is told by its place.
    EXPECT_EQ(scan.VolumeName(0), "NOROOT");
    EXPECT_EQ(scan.VolumeName(1), "NOROOT (FAT32 at 41943040)");
    for (IFileNode* n : scan.tree.shown) {
        auto* node = dynamic_cast<CFileNode*>(n);
        auto* parent = node ? dynamic_cast<CFileNode*>(node->GetParent()) : nullptr;
        if (parent && !dynamic_cast<CFilesystemNode*>(node) &&
            !dynamic_cast<CFilesystemNode*>(parent)) {
            EXPECT_EQ(parent->GetBelongedPartition(), node->GetBelongedPartition())
                << NodePath(n) << " lies in another volume's folder";
        }
    }
    std::set<std::string> folders[2], files[2];
    for (int i : {0, 1})
        for (const auto& [path, node] : scan.Nodes(i))
            (node->IsDirectory() ? folders : files)[i].insert(path);
    EXPECT_GT(folders[0].size(), 2u);
    EXPECT_GT(files[0].size(), 5u);
    EXPECT_EQ(folders[0], folders[1]);
    EXPECT_EQ(files[0], files[1]);
}

TEST_F(FatDeepScanTest, HostileSurfacesEndTheScanWithoutPhantoms) {
    const std::vector<uint8_t> volume = Bytes("fatdeep/fat32_noroot_src.img");
    ASSERT_FALSE(volume.empty());
    const std::vector<std::string> intactFiles = [&] {
        PatchyDevice device(volume);
        DeepScan scan(&device);
        scan.Run();
        return FileNames(scan);
    }();
    ASSERT_FALSE(intactFiles.empty());

    struct Case {
        const char* what;
        std::function<void(PatchyDevice&)> damage;
        size_t partitions;
        bool allFiles;  // every file of the intact volume still comes back
    };
    auto put16 = [](uint8_t* p, unsigned v) { p[0] = v & 0xFF, p[1] = (v >> 8) & 0xFF; };
    auto put32 = [](uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[i] = (v >> (8 * i)) & 0xFF;
    };
    const Case cases[] = {
        // Both boot sectors say the same absurd thing; the volume still
        // comes back from its folders, never from the boot sectors.
        {"no sectors per cluster",
         [](PatchyDevice& d) { d.Sector(0)[13] = 0, d.Sector(6)[13] = 0; }, 1, true},
        {"FATs bigger than the disk",
         [&](PatchyDevice& d) {
             put32(d.Sector(0) + 36, 0x7FFFFFFF), put32(d.Sector(6) + 36, 0x7FFFFFFF);
         },
         1, true},
        {"reserved area past the disk",
         [&](PatchyDevice& d) { put16(d.Sector(0) + 14, 0xFFFF), put16(d.Sector(6) + 14, 0xFFFF); },
         1, true},
        {"root cluster past the volume",
         [&](PatchyDevice& d) {
             put32(d.Sector(0) + 44, 0x0FFFFFF0), put32(d.Sector(6) + 44, 0x0FFFFFF0);
         },
         1, true},
        // FAT starts and directory sectors without any boot sector or
        // sub-folder: nothing to build a volume on.
        {"FAT starts without a volume",
         [](PatchyDevice& d) {
             d.Zero(0, 32);
             d.Zero(kData, static_cast<long long>(d.GetTotalSectors()) - kData);
         },
         0, false},
        // Folders naming each other as parent, and one naming itself.
        {"folders pointing at each other",
         [](PatchyDevice& d) {
             d.Zero(kData);
             d.SetDotCluster(1167, 1, 4);
             d.SetDotCluster(1171, 1, 7);
         },
         1, false},
        // A "." naming cluster 0 names no cluster of the data area: no
        // volume may be worked out from it (taken as a cluster it would put
        // a data area two clusters on, which the folder behind, its "."
        // off by two, would confirm).
        {"'.' below cluster 2",
         [](PatchyDevice& d) {
             d.SetDotCluster(1167, 0, 0);
             d.SetDotCluster(1171, 0, 4);
         },
         1, false},
        {"unreadable blocks", [](PatchyDevice& d) { d.FailReads(1000, 1100); }, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PatchyDevice device(volume);
        c.damage(device);
        DeepScan scan(&device);
        scan.Run();
        const auto found = scan.Partitions();
        ASSERT_EQ(found.size(), c.partitions);
        for (const auto& p : found) {
            EXPECT_EQ(p->GetDataStartSector(), kData);
            EXPECT_EQ(p->sectorsPerCluster, 1u);
        }
        const std::vector<std::string> names = FileNames(scan);
        if (c.allFiles) {
            for (const std::string& name : intactFiles)
                EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
        }
        if (std::string(c.what) == "folders pointing at each other") {
            // The files of the folder that names itself are still read.
            EXPECT_NE(std::find(names.begin(), names.end(), "photo one.jpg"), names.end());
        }
    }

    // Sector sizes the FAT code does not read are refused whole.
    for (int size : {256, 1000, 8192}) {
        PatchyDevice device(volume, size);
        DeepScan scan(&device);
        scan.Run();
        EXPECT_TRUE(scan.Partitions().empty()) << size;
        EXPECT_EQ(scan.tree.roots, 0) << size;
    }
}

}  // namespace
