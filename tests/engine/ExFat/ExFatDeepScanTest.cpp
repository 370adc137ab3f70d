// Deep scans for lost exFAT volumes: the exFAT deep searcher walks disks
// whose partition table, boot regions, root or FAT are gone; each volume
// must come back with the heap, cluster size and evidence it has, and its
// files byte for byte as the fixture manifests and Sleuth Kit (on the
// intact volume) list them. The pieces (directory runs, split entry sets,
// tree matching, boot sectors) are checked in memory, and damaged and
// hostile surfaces must end the scan without a crash or a phantom volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ExFatCompleteSearch.h"
#include "ExFatDBR.h"
#include "ExFatFileNode.h"
#include "ExFatFileSet.h"
#include "ExFatPartitionBuilder.h"
#include "ExFatPreAnalyze.h"
#include "ExFatTestSupport.h"
#include "FatQuickScanHarness.h"
#include "IRecoveryFilter.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestSupport.h"

using namespace velmora::exfattest;
using velmora::fattest::CollectingTree;
using velmora::fattest::HaveTool;
using velmora::fattest::NodePath;
using velmora::fattest::RecoverToFolder;
using velmora::fattest::RunTool;
using velmora::test::TempDir;

namespace {

// Evidence words as the builder sets them.
constexpr uint32_t kMain = kExFatMainBoot, kBackup = kExFatBackupBoot, kRoot = kExFatRootDir,
                   kFat1 = kExFatFirstFat;

int RunPython(const std::string& script, std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), {"python3", velmora::test::SourceDir() + "/tests/engine/" + script});
    return RunTool(args, out);
}

// One deep scan through the exFAT deep searcher alone, fed block by block as
// the deep-scan controller feeds it, with the real tree builder.
struct ExFatDeepScan {
    explicit ExFatDeepScan(IStorageDevice* device) : device(device) {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("disk", &tree, filter);
        searcher.reset(static_cast<CExFatCompleteSearch*>(CreateEXFatSearcher()));
        searcher->SetDirecotryTreeBuilder(builder);
    }
    ~ExFatDeepScan() {
        // The builder's trees hold the searcher's nodes: it goes first.
        builder->Release();
    }
    void Run(long long block = 0) {
        Start(block);
        for (long long first = 0; first < device->GetTotalSectors(); first += m_block)
            Feed(first);
        searcher->EndSearch(1);
    }
    // Run in steps, for scans fed in turns.
    void Start(long long block = 0) {
        const int sectorSize = device->GetSectorSize() > 0 ? device->GetSectorSize() : 512;
        m_block = block > 0 ? block : std::max(1, 0x400000 / sectorSize);
        searcher->SetDevice(device);
        searcher->SetBlockSize(static_cast<int>(m_block));
        searcher->PreparetoSearch();
    }
    void Feed(long long first) {
        const long long total = device->GetTotalSectors();
        if (first < total)
            searcher->AnalyzeBlock(first, std::min(m_block, total - first));
    }
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> Records() {
        std::vector<std::unique_ptr<CSearchedPartitionInfo>> out;
        const int n = searcher->GetSearchedPartitionInfo(nullptr, 0);
        std::vector<CSearchedPartitionInfo*> raw(static_cast<size_t>(std::max(n, 1)), nullptr);
        const int got = searcher->GetSearchedPartitionInfo(raw.data(), n);
        for (int i = 0; i < got; ++i)
            out.emplace_back(raw[static_cast<size_t>(i)]);
        return out;
    }
    // Paths below the node's volume folder (each volume found has one).
    static std::string PathInVolume(IFileNode* n) {
        std::string path;
        for (IFileNode* p = n; p && p->GetParent(); p = p->GetParent()) {
            if (p->GetCurrentNodeID() == kVolumeFolderNodeId)
                return path;
            std::string name = p->GetFileName() ? p->GetFileName() : "";
            std::replace(name.begin(), name.end(), '/', '_');
            path = "/" + name + path;
        }
        return NodePath(n);
    }
    std::map<std::string, IFileNode*> Nodes(int partition) const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown) {
            auto* node = dynamic_cast<CFileNode*>(n);
            if (node && node->GetBelongedPartition() == partition &&
                n->GetCurrentNodeID() != kVolumeFolderNodeId)
                out[PathInVolume(n)] = n;
        }
        return out;
    }
    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (IFileNode* n : tree.shown)
            if (!n->IsDirectory())
                paths.push_back(PathInVolume(n));
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    // The name of the folder the tree gives one partition's volume.
    std::string VolumeName(int partition) const {
        for (IFileNode* n : tree.shown) {
            auto* node = dynamic_cast<CFileNode*>(n);
            if (node && node->GetBelongedPartition() == partition &&
                n->GetCurrentNodeID() == kVolumeFolderNodeId && n->GetFileName())
                return n->GetFileName();
        }
        return {};
    }

    IStorageDevice* device;
    IDirecotryTreeBuilder* builder = nullptr;
    CollectingTree tree;
    std::unique_ptr<CExFatCompleteSearch> searcher;
    long long m_block = 0;
};

// What a volume must come back as.
struct Expected {
    long long start;  // -1: not checked (a volume rebuilt without its boot sector)
    long long heap;
    unsigned sectorsPerCluster;
    uint32_t evidence;
};

// Recovers a partition's files and checks them against a manifest volume
// (and, when given, against what Sleuth Kit recovers from the intact image).
void ExpectFilesBack(ExFatDeepScan& scan, int partition, const std::string& manifest, int volume,
                     const std::string& folder, std::vector<std::string> extra = {},
                     const std::string& intactImage = {}) {
    const auto nodes = scan.Nodes(partition);
    const auto stats = RecoverToFolder(nodes, scan.device, scan.searcher.get(), folder, false);
    // Only files marked as damaged (their clusters a guess) are reported
    // incomplete; they are written all the same.
    long long marked = 0;
    for (const auto& [path, node] : nodes)
        if (!node->IsDirectory() && node->GetFileSize() > 0 &&
            static_cast<CFileNode*>(node)->IsDamaged())
            ++marked;
    EXPECT_EQ(stats.failed, marked);
    EXPECT_GT(stats.written, 0);
    std::string report;
    std::vector<std::string> args = {manifest, std::to_string(volume), folder};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(RunPython("FAT/check_deep_recovered.py", args, &report), 0) << report;
    if (!intactImage.empty() && HaveTool("tsk_recover") && HaveTool("fls")) {
        EXPECT_EQ(RunPython("FAT/compare_tsk.py", {intactImage, folder}, &report), 0) << report;
    }
}

void ExpectVolume(const CSearchedPartitionInfo& p, const Expected& e) {
    if (e.start >= 0) {
        EXPECT_EQ(p.startSector, e.start);
    }
    EXPECT_EQ(p.runOriginSector, e.heap);
    EXPECT_EQ(p.sectorsPerCluster, e.sectorsPerCluster);
    EXPECT_EQ(static_cast<uint32_t>(p.fsValue), e.evidence) << std::hex << p.fsValue;
    EXPECT_EQ(p.fileSystemType, 7);
}

class ExFatDeepScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    // A committed fixture volume (tests/fixtures/exfat) unpacked here.
    std::string Image(const std::string& name) { return CommittedImage(name, m_tmp.path()); }
    std::string Manifest(const std::string& name) {
        Image(name);
        return m_tmp / (name + ".json");
    }
    std::vector<uint8_t> Bytes(const std::string& name) {
        return velmora::test::ReadFile(Image(name));
    }
    TempDir m_tmp;
};

// exfat.img: 512-byte sectors, 8 per cluster, FAT at 2048 (64 sectors),
// heap at 4096, root at cluster 5, up-case table at cluster 3; placed at
// sector 2048 of a 40 MiB disk without a partition table.
constexpr long long kAt = 2048, kHeap = kAt + 4096;
constexpr size_t kDiskSectors = 40 * 2048;

std::vector<uint8_t> DiskWith(const std::vector<uint8_t>& volume, long long at = kAt) {
    std::vector<uint8_t> disk(kDiskSectors * 512, 0);
    std::copy(volume.begin(), volume.end(), disk.begin() + at * 512);
    return disk;
}

void Zero(std::vector<uint8_t>& disk, long long sector, long long count = 1) {
    std::fill_n(disk.begin() + sector * 512, count * 512, 0);
}

// ---------------------------------------------------------------------------
// Whole volumes

TEST_F(ExFatDeepScanTest, VolumesComeBackFromWhatIsLeftOfThem) {
    const std::vector<uint8_t> image = Bytes("exfat");
    const RawVolume intact(image);
    const long long rootSector = kAt + intact.heap + (intact.root - 2) * intact.spc;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        Expected volume;
        std::vector<std::string> checkArgs;  // for check_deep_recovered.py
        bool sleuthKit;                      // everything comes back as from the intact volume
    };
    const Case cases[] = {
        {"intact",
         [](std::vector<uint8_t>&) {},
         {kAt, kHeap, 8, kMain | kBackup | kRoot | kFat1},
         {},
         true},
        // The backup region 12 sectors on says where the volume starts.
        {"main boot region zeroed",
         [](std::vector<uint8_t>& d) { Zero(d, kAt, 12); },
         {kAt, kHeap, 8, kBackup | kRoot | kFat1},
         {},
         true},
        {"backup boot region zeroed",
         [](std::vector<uint8_t>& d) { Zero(d, kAt + 12, 12); },
         {kAt, kHeap, 8, kMain | kRoot | kFat1},
         {},
         true},
        // The root directory alone, placed by its up-case table; the FAT in
        // front of the heap still follows the fragmented files.
        {"both boot regions zeroed",
         [](std::vector<uint8_t>& d) { Zero(d, kAt, 24); },
         {-1, kHeap, 8, kRoot},
         {},
         true},
        // An empty file has no cluster: it bounds nothing where the root
        // may lie.
        {"both boot regions zeroed, an empty file in the root",
         [&](std::vector<uint8_t>& d) {
             Zero(d, kAt, 24);
             uint8_t* root = &d[rootSector * 512];
             size_t end = 0;
             while (root[end] != 0)
                 end += 32;
             const std::vector<uint8_t> set = Set(u"nothing.txt", 0, 0);
             std::copy(set.begin(), set.end(), root + end);
         },
         {-1, kHeap, 8, kRoot},
         {},
         false},
        // Boot sectors and FAT intact, root gone: the files of its folders
        // come back among the lost files (an empty one has nothing to give).
        {"root directory zeroed",
         [&](std::vector<uint8_t>& d) { Zero(d, rootSector, intact.spc); },
         {kAt, kHeap, 8, kMain | kBackup | kFat1},
         {"--root-lost", "--skip", "/short.txt", "--skip", "/fragA.bin", "--skip", "/fragB.bin",
          "--skip", "/Docs/empty.txt"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> disk = DiskWith(Bytes("exfat"));
        c.damage(disk);
        velmora::test::MemoryStorageDevice device(std::move(disk), 512);
        ExFatDeepScan scan(&device);
        scan.Run();
        EXPECT_EQ(scan.tree.roots, 1);
        const auto found = scan.Records();
        // One volume, and no second reading of a boot sector beside it.
        ASSERT_EQ(found.size(), 1u);
        ExpectVolume(*found[0], c.volume);
        EXPECT_EQ(found[0]->partitionIndex, 0);
        ExpectFilesBack(scan, 0, Manifest("exfat"), 0, m_tmp / (std::string("out-") + c.what),
                        c.checkArgs, c.sleuthKit ? Image("exfat") : std::string());
    }
}

// A folder whose clusters follow each other without a FAT chain (its FAT
// entries zero): the runs in its later clusters still hang under it.
TEST_F(ExFatDeepScanTest, ContiguousFolderKeepsItsFilesUnderIt) {
    for (bool bootKept : {true, false}) {
        SCOPED_TRACE(bootKept ? "boot sectors kept" : "boot regions zeroed");
        std::vector<uint8_t> disk = DiskWith(Bytes("exfat_nofatdir"));
        if (!bootKept)
            Zero(disk, kAt, 24);
        velmora::test::MemoryStorageDevice device(std::move(disk), 512);
        ExFatDeepScan scan(&device);
        scan.Run();
        ASSERT_EQ(scan.Records().size(), 1u);
        EXPECT_FALSE(scan.VolumeName(0).empty()) << "a folder of its own";
        const std::vector<std::string> paths = scan.Paths();
        EXPECT_EQ(std::count_if(paths.begin(), paths.end(),
                                [](const std::string& p) { return p.rfind("/Many/", 0) == 0; }),
                  120);
        ExpectFilesBack(scan, 0, Manifest("exfat_nofatdir"), 0,
                        m_tmp / (bootKept ? "nofat-boot" : "nofat-noboot"));
    }
}

// A volume written the way a driver that allocates contiguously writes it
// (every folder in one run of clusters, without a FAT chain; some holding a
// sub-folder first, whose length cuts their runs at each cluster, so that
// the runs of their later clusters hang under them only through where the
// folder's clusters lie), 1,500 files,
// with its main boot region gone (the backup and the FAT lead the build)
// or both (the root is placed by its up-case table): every file comes back
// as Sleuth Kit reads the intact volume.
TEST_F(ExFatDeepScanTest, GeneratedVolumeWithoutItsBootRegions) {
    if (!HaveTool("mkfs.exfat") || !HaveTool("fls") || !HaveTool("tsk_recover"))
        GTEST_SKIP() << "mkfs.exfat or Sleuth Kit is not installed";
    const std::string image = m_tmp / "generated.img";
    std::string out;
    ASSERT_EQ(
        RunPython("ExFat/make_exfat_volume.py",
                  {image, "64M", "1500", "--per-folder", "150", "--cluster", "2048", "--sub-first"},
                  &out),
        0)
        << out;
    const std::vector<uint8_t> volume = velmora::test::ReadFile(image);
    const RawVolume raw(volume);
    for (const long long zeroed : {12, 24}) {
        SCOPED_TRACE(zeroed == 12 ? "main boot region zeroed" : "both boot regions zeroed");
        std::vector<uint8_t> disk(volume.size() + (kAt + 2048) * 512, 0);
        std::copy(volume.begin(), volume.end(), disk.begin() + kAt * 512);
        Zero(disk, kAt, zeroed);
        velmora::test::MemoryStorageDevice device(std::move(disk), 512);
        ExFatDeepScan scan(&device);
        scan.Run();
        const auto found = scan.Records();
        ASSERT_EQ(found.size(), 1u);
        if (zeroed == 12)
            ExpectVolume(*found[0], {kAt, kAt + raw.heap, raw.spc, kBackup | kRoot | kFat1});
        else
            ExpectVolume(*found[0], {-1, kAt + raw.heap, raw.spc, kRoot});
        ExpectFilesBack(scan, 0, m_tmp / "generated.json", 0,
                        m_tmp / ("generated-" + std::to_string(zeroed)), {}, image);
    }
}

// Without boot sectors and without a FAT, clusters are taken as contiguous:
// every file that is contiguous on disk comes back whole, also one whose
// entry does not say so (as drivers that always chain write them). What a
// chained file's entry says cannot be checked: such files of more than a
// cluster, the fragmented ones among them, are marked as guesses and
// recovered as incomplete; files whose entry says contiguous are not.
TEST_F(ExFatDeepScanTest, WithoutAnyFatContiguousFilesComeBackWhole) {
    const std::vector<uint8_t> image = Bytes("exfat");
    const RawVolume intact(image);
    std::vector<uint8_t> disk = DiskWith(image);
    for (const char* path : {"/Docs/report.pdf", "/Pics/deleted photo.jpg"}) {
        const uint64_t set = intact.FindSet(path);
        ASSERT_NE(set, 0u) << path;
        disk[kAt * 512 + set + 32 + 1] &= ~0x02;  // the stream's no-FAT-chain flag
    }
    Zero(disk, kAt, 24);
    Zero(disk, kAt + 2048, 64);  // the FAT
    velmora::test::MemoryStorageDevice device(std::move(disk), 512);
    ExFatDeepScan scan(&device);
    scan.Run();
    const auto found = scan.Records();
    ASSERT_EQ(found.size(), 1u);
    ExpectVolume(*found[0], {-1, kHeap, 8, kRoot});
    const auto nodes = scan.Nodes(0);
    const struct {
        const char* path;
        bool marked;
    } cases[] = {{"/fragA.bin", true},
                 {"/fragB.bin", true},
                 {"/Docs/report.pdf", true},
                 {"/Pics/photo one.jpg", false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(nodes.count(c.path)) << c.path;
        EXPECT_EQ(static_cast<CFileNode*>(nodes.at(c.path))->IsDamaged(), c.marked ? 1 : 0)
            << c.path;
    }
    // The fragmented files and the FAT-chained folder /Many need the FAT.
    ExpectFilesBack(scan, 0, Manifest("exfat"), 0, m_tmp / "nofat",
                    {"--skip", "/fragA.bin", "--skip", "/fragB.bin", "--skip", "/Many"});
}

// ---------------------------------------------------------------------------
// The lost-partition disks of tests/fixtures/disks (made by the "fixtures"
// test): the exFAT volume at 235520 (MBR) or 165888 (GPT), intact, with its
// main boot region zeroed (lost_mbr_noboot) or both (lost_gpt_noboot).

TEST_F(ExFatDeepScanTest, LostPartitionDisks) {
    const std::string fixtures = velmora::test::BinaryDir() + "/fixtures/disks";
    if (!std::filesystem::exists(fixtures + "/lost_gpt_noboot.json"))
        GTEST_SKIP() << "the disk fixtures were not made (the \"fixtures\" test)";
    struct Case {
        const char* disk;
        int manifestVolume;
        Expected volume;
    };
    const Case cases[] = {
        {"disk_mbr", 3, {235520, 235520 + 4096, 8, kMain | kBackup | kRoot | kFat1}},
        {"lost_mbr", 3, {235520, 235520 + 4096, 8, kMain | kBackup | kRoot | kFat1}},
        {"lost_gpt", 2, {165888, 165888 + 4096, 8, kMain | kBackup | kRoot | kFat1}},
        {"lost_mbr_noboot", 3, {235520, 235520 + 4096, 8, kBackup | kRoot | kFat1}},
        {"lost_gpt_noboot", 2, {-1, 165888 + 4096, 8, kRoot}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disk);
        const std::string image = fixtures + "/" + c.disk + ".img";
        std::unique_ptr<IStorageDevice> device(CreateDiskDevice(image.c_str()));
        ASSERT_TRUE(device && device->Open(nullptr));
        ExFatDeepScan scan(device.get());
        scan.Run();
        const auto found = scan.Records();
        // The FAT and NTFS volumes beside it hold nothing exFAT.
        ASSERT_EQ(found.size(), 1u);
        ExpectVolume(*found[0], c.volume);
        ExpectFilesBack(scan, 0, fixtures + "/" + c.disk + ".json", c.manifestVolume,
                        m_tmp / c.disk);
        device->Close();
    }
}

// ---------------------------------------------------------------------------
// Directory runs and split entry sets

// One directory sector built from entries, padded with zeros; `after` more
// zero bytes follow it in memory.
struct Sector {
    explicit Sector(std::vector<uint8_t> entries, size_t after = 1024) : bytes(512 + after, 0) {
        std::copy(entries.begin(), entries.begin() + std::min<size_t>(entries.size(), bytes.size()),
                  bytes.begin());
    }
    const uint8_t* data() const { return bytes.data(); }
    size_t after() const { return bytes.size() - 512; }
    std::vector<uint8_t> bytes;
};

// A whole set with its checksum.
std::vector<uint8_t> CheckedSet(const std::u16string& name, uint32_t cluster, uint64_t length,
                                uint16_t attributes = 0x20, bool inUse = true) {
    std::vector<uint8_t> set = Set(name, cluster, length, attributes, inUse);
    vk::StoreLE<uint16_t>(&set[2], exfat::EntrySetChecksum(set.data(), set.size(), false));
    return set;
}

std::vector<std::string> Names(const CFileSet& set) {
    std::vector<std::string> names;
    for (const auto* list : {&set.live, &set.deleted})
        for (const _tagFileBaseInfo& r : *list)
            names.push_back(r.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ExFatPreAnalysis, SplitEntrySetsAreJoinedAcrossSectors) {
    // Five whole sets, then a file entry whose stream and name lie in
    // another cluster, elsewhere on the disk.
    std::vector<uint8_t> head;
    for (uint32_t i = 0; i < 5; ++i) {
        const std::vector<uint8_t> s =
            CheckedSet(u"file" + std::u16string(1, u'0' + i), 10 + i, 100);
        head.insert(head.end(), s.begin(), s.end());
    }
    const std::vector<uint8_t> split = CheckedSet(u"split name", 30, 5000);
    head.insert(head.end(), split.begin(), split.begin() + 32);
    std::vector<uint8_t> tail(split.begin() + 32, split.end());
    const std::vector<uint8_t> more = CheckedSet(u"after it", 40, 100);
    tail.insert(tail.end(), more.begin(), more.end());

    for (bool headFirst : {true, false}) {
        SCOPED_TRACE(headFirst ? "head seen first" : "tail seen first");
        const uint64_t headAt = headFirst ? 100 : 300, tailAt = headFirst ? 300 : 100;
        CFDTPreAnaylze pre;
        pre.PrepareAnayze(512, 25, 1 << 20);
        std::vector<std::unique_ptr<CFileSet>> sets;
        for (uint64_t at : {uint64_t{100}, uint64_t{300}}) {
            const Sector sector(at == headAt ? head : tail);
            EXPECT_TRUE(pre.Analyze(at, sector.data(), sector.after())) << at;
            sets.push_back(pre.GetFileSet());
            ASSERT_TRUE(sets.back());
        }
        CFileSet& h = *sets[headFirst ? 0 : 1];
        CFileSet& t = *sets[headFirst ? 1 : 0];
        EXPECT_TRUE(h.flags & kFileSetNotEnded);
        EXPECT_TRUE(t.IsAbridged());
        // The joined file goes to the run met second, which found its half.
        std::vector<std::string> headNames = {"file0", "file1", "file2", "file3", "file4"};
        std::vector<std::string> tailNames = {"after it"};
        (headFirst ? tailNames : headNames).push_back("split name");
        std::sort(headNames.begin(), headNames.end());
        std::sort(tailNames.begin(), tailNames.end());
        EXPECT_EQ(Names(h), headNames);
        EXPECT_EQ(Names(t), tailNames);
        EXPECT_EQ(pre.GetNext(headAt), static_cast<int64_t>(tailAt));
        EXPECT_EQ(pre.GetLast(tailAt), static_cast<int64_t>(headAt));
        EXPECT_EQ(pre.KeptHeads() + pre.KeptTails(), 0u);
    }

    // The split tried that the checksum does not pass joins nothing.
    std::vector<uint8_t> wrong = tail;
    wrong[40] ^= 1;
    CFDTPreAnaylze pre;
    pre.PrepareAnayze(512, 25, 1 << 20);
    EXPECT_FALSE(pre.Joint(head.data() + 15 * 32, 32, 100, wrong.data(), 576));
    EXPECT_TRUE(pre.Joint(head.data() + 15 * 32, 32, 100, tail.data(), 576));

    // A set that runs past its sector into the next one goes on there.
    std::vector<uint8_t> twoSectors(head.begin(), head.begin() + 15 * 32);
    twoSectors.insert(twoSectors.end(), split.begin(), split.end());
    const Sector joined(twoSectors);
    EXPECT_FALSE(pre.Analyze(500, joined.data(), joined.after()));
    EXPECT_TRUE(pre.Analyze(501, joined.data() + 512, 512));
    const auto set = pre.GetFileSet();
    ASSERT_TRUE(set);
    EXPECT_EQ(set->sectorCount, 2u);
    EXPECT_EQ(set->live.size(), 6u);
    EXPECT_FALSE(set->flags & kFileSetNotEnded);
}

TEST(ExFatPreAnalysis, RunsEndWhereTheyMust) {
    CFDTPreAnaylze pre;
    pre.PrepareAnayze(512, 25, 1 << 20);
    // A folder of 1 KiB makes 2-sector clusters the largest: a run filling
    // two sectors ends there even though the next sector goes on.
    std::vector<uint8_t> full;
    for (uint32_t i = 0; full.size() < 512; ++i) {
        const auto s = CheckedSet(u"entry number " + std::u16string(1, u'a' + i) + u"xxx", 20 + i,
                                  i == 0 ? 1024 : 100, i == 0 ? 0x10 : 0x20);
        full.insert(full.end(), s.begin(), s.end());
    }
    full.resize(512);
    const Sector sector(full, 1024);
    EXPECT_FALSE(pre.Analyze(10, sector.data(), 512));
    EXPECT_TRUE(pre.Analyze(11, sector.data(), 512));
    auto set = pre.GetFileSet();
    ASSERT_TRUE(set);
    EXPECT_EQ(set->sectorCount, 2u);
    EXPECT_EQ(set->maxClusterSize, 2u);

    // A root directory without a file is handed out, with its volume facts.
    std::vector<uint8_t> root = RawEntry(0x83);
    root[1] = 2;
    root[2] = 'V', root[4] = 'L';
    Entry bitmap = RawEntry(0x81), upcase = RawEntry(0x82);
    vk::StoreLE<uint32_t>(&bitmap[20], 2);
    vk::StoreLE<uint64_t>(&bitmap[24], 960);
    vk::StoreLE<uint32_t>(&upcase[20], 3);
    vk::StoreLE<uint64_t>(&upcase[24], 5836);
    root.insert(root.end(), bitmap.begin(), bitmap.end());
    root.insert(root.end(), upcase.begin(), upcase.end());
    const Sector rootSector(root);
    EXPECT_TRUE(pre.Analyze(20, rootSector.data(), rootSector.after()));
    set = pre.GetFileSet();
    ASSERT_TRUE(set);
    EXPECT_TRUE(set->IsRoot());
    EXPECT_FALSE(set->HasFiles());
    EXPECT_EQ(set->label, "VL");
    EXPECT_EQ(set->totalClusters, 7680u);
    EXPECT_EQ(set->upcaseCluster, 3u);
    EXPECT_EQ(set->rootMinCluster, 4u);

    // Junk ends a run and makes none.
    const Sector junk({0xC1, 0x20, 0x41});
    EXPECT_TRUE(pre.Analyze(30, junk.data(), junk.after()));
    EXPECT_FALSE(pre.GetFileSet());
}

// Every sector of the surface is analysed, the last two (which have no two
// sectors after them) with zeros behind them.
TEST(ExFatDeepSearch, TheLastTwoSectorsAreAnalysedToo) {
    const int sectors = 16;
    std::vector<uint8_t> bytes(sectors * 512, 0);
    const uint8_t upcase[16] = {0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0};
    std::memcpy(&bytes[14 * 512], upcase, sizeof(upcase));
    const std::vector<uint8_t> set = CheckedSet(u"last.txt", 9, 10);
    std::copy(set.begin(), set.end(), bytes.begin() + 15 * 512);
    velmora::test::MemoryStorageDevice device(std::move(bytes), 512);
    CollectingTree tree;
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    CExFatCompleteSearch searcher;
    searcher.SetDirecotryTreeBuilder(builder);
    searcher.SetDevice(&device);
    searcher.SetBlockSize(8);
    searcher.AnalyzeBlock(0, 8);
    searcher.AnalyzeBlock(8, 8);
    searcher.FinishWalk();
    EXPECT_EQ(searcher.Builder().UpcaseStarts(), std::vector<uint64_t>{14});
    ASSERT_EQ(searcher.Builder().PendingCount(), 1u);
    EXPECT_NE(searcher.Builder().FindFileSet(15), nullptr);
    builder->Release();
}

// ---------------------------------------------------------------------------
// The partition builder

// A finished run at `sector` holding folders and files.
std::unique_ptr<CFileSet> RunAt(uint64_t sector, std::vector<uint32_t> folders,
                                std::vector<uint32_t> files) {
    auto set = std::make_unique<CFileSet>();
    for (uint32_t f : folders) {
        _tagFileBaseInfo r;
        r.firstCluster = f;
        r.dataLength = 2048;
        r.noFatChain = 1;
        r.inUse = 1;
        r.attributes = 0x10;
        r.name = "folder" + std::to_string(f);
        set->UpdateFileList(std::move(r));
    }
    for (uint32_t f : files) {
        _tagFileBaseInfo r;
        r.firstCluster = f;
        r.dataLength = 100;
        r.noFatChain = 1;
        r.inUse = 1;
        r.attributes = 0x20;
        r.name = "file" + std::to_string(f);
        set->UpdateFileList(std::move(r));
    }
    set->RecordSector(sector);
    return set;
}

TEST(ExFatPartitionBuilder, TreeChecksScoreByDepth) {
    // Heap at 1000, 4 sectors per cluster. A (cluster 10) holds folders 20,
    // 21, 22; folder 20 holds folders 30 and 31.
    constexpr uint64_t h = 1000, c = 4;
    auto at = [](uint32_t cluster) { return h + (cluster - 2) * c; };
    struct Case {
        const char* what;
        std::function<void(std::map<uint32_t, std::unique_ptr<CFileSet>>&)> change;
        int minimum;
        int score;
    };
    const Case cases[] = {
        {"3 x 1 + 2 x 2", [](auto&) {}, 7, 7},
        {"below the minimum", [](auto&) {}, 8, 0},
        {"a folder back at the top", [&](auto& runs) { runs[31] = RunAt(at(31), {10}, {}); }, 1, 0},
        {"two files on one cluster", [&](auto& runs) { runs[22] = RunAt(at(22), {}, {40}); }, 1, 0},
        {"a run that allows no such cluster",
         [&](auto& runs) {
             runs[21] = RunAt(at(21), {}, {42});
             runs[21]->maxClusterSize = 1024;  // bytes: 2 sectors once finished
         },
         1, 0},
        {"a missing run costs only its folder", [](auto& runs) { runs.erase(30); }, 1,
         1 * 3 + 2 * 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::map<uint32_t, std::unique_ptr<CFileSet>> runs;
        runs[10] = RunAt(at(10), {20, 21, 22}, {});
        runs[20] = RunAt(at(20), {30, 31}, {});
        runs[21] = RunAt(at(21), {}, {40});
        runs[22] = RunAt(at(22), {}, {41});
        runs[30] = RunAt(at(30), {}, {43});
        runs[31] = RunAt(at(31), {}, {44});
        k.change(runs);
        CPartitionBuilder builder;
        builder.PrepareBuild(512, 1 << 20);
        for (auto& [cluster, run] : runs)
            builder.PushFileSet(std::move(run), -1, -1);
        std::vector<CFileSet*> found;
        EXPECT_EQ(builder.CheckTree(builder.FindFileSet(at(10)), h, c, &found, k.minimum), k.score);
        if (k.score == 0) {
            EXPECT_TRUE(found.empty());
        }
    }
}

TEST(ExFatPartitionBuilder, BootSectorsAndTheirBackups) {
    std::vector<uint8_t> volume(512 * 64, 0);
    {
        TempDir tmp;
        const std::vector<uint8_t> image =
            velmora::test::ReadFile(CommittedImage("exfat", tmp.path()));
        std::copy(image.begin(), image.begin() + 512, volume.begin());
    }
    const CExFatDBR boot(volume.data(), 512);
    ASSERT_TRUE(boot.IsValid(512));
    struct Case {
        const char* what;
        std::vector<uint64_t> sectors;
        std::vector<std::pair<uint64_t, uint32_t>> partitions;  // start, evidence
    };
    const Case cases[] = {
        {"main and backup", {2048, 2060}, {{2048, kMain | kBackup}}},
        // Each boot sector could also be the backup of a volume 12 sectors
        // before it, unless it lies below sector 12.
        {"main alone", {2048}, {{2048, kMain}, {2036, kBackup}}},
        {"main alone at sector 5", {5}, {{5, kMain}}},
        {"backup alone", {2060}, {{2060, kMain}, {2048, kBackup}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPartitionBuilder builder;
        builder.PrepareBuild(512, 1 << 20);
        for (uint64_t s : c.sectors)
            builder.Build(s, boot);
        std::vector<std::pair<uint64_t, uint32_t>> got;
        for (const auto& p : builder.Partitions())
            got.emplace_back(p->GetStartSector(), p->evidence);
        EXPECT_EQ(got, c.partitions);
        for (const auto& p : builder.Partitions()) {
            EXPECT_EQ(p->GetDataRegionStartSector(), p->GetStartSector() + 4096);
            EXPECT_EQ(p->GetSectorsPerCluster(), 8u);
        }
    }
    // Its first FAT 2048 sectors on confirms the volume the main sector
    // proposed.
    CPartitionBuilder builder;
    builder.PrepareBuild(512, 1 << 20);
    builder.Build(2048, boot);
    builder.RecordFAT(4096);
    EXPECT_EQ(builder.FindPartition(2048 + 4096, 8)->evidence, kMain | kFat1);
    ASSERT_NE(builder.FindPartition(2036 + 4096, 8), nullptr);
    EXPECT_EQ(builder.FindPartition(2036 + 4096, 8)->evidence, kBackup);

    // A backup alone whose FAT lies where its backup reading puts it: the
    // main reading of that sector goes (with 4-sector clusters its heap,
    // 12 sectors on, would meet the volume's runs on cluster boundaries).
    CPartitionBuilder backup;
    backup.PrepareBuild(512, 1 << 20);
    backup.Build(2060, boot);
    backup.RecordFAT(4096);
    std::vector<std::pair<uint64_t, uint32_t>> got;
    for (const auto& p : backup.Partitions())
        got.emplace_back(p->GetStartSector(), p->evidence);
    EXPECT_EQ(got, (std::vector<std::pair<uint64_t, uint32_t>>{{2048, kBackup | kFat1}}));
}

// A folder has a run in each of its clusters where a run ends at a
// cluster's end (no set crosses into the next cluster): the runs of its
// later clusters hang under it through where its clusters lie, along its
// FAT chain or, without one, contiguously.
TEST(ExFatPartitionBuilder, RunsOfAFoldersLaterClustersHangUnderIt) {
    constexpr uint64_t h = 1000, c = 4;
    auto at = [](uint32_t cluster) { return h + (cluster - 2) * c; };
    struct Case {
        const char* what;
        bool noFatChain;
        std::vector<std::pair<uint32_t, uint32_t>> fat;  // cluster, entry
        uint32_t second;                                 // the folder's second cluster
    };
    const Case cases[] = {
        {"contiguous, FAT entries zero", true, {}, 11},
        {"along its FAT chain", false, {{10, 13}, {13, 0xFFFFFFFF}}, 13},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        // The FAT at sector 100 of a small device.
        std::vector<uint8_t> bytes(4096 * 512, 0);
        for (const auto& [cluster, entry] : k.fat)
            vk::StoreLE<uint32_t>(&bytes[100 * 512 + cluster * 4], entry);
        velmora::test::MemoryStorageDevice device(std::move(bytes), 512);

        std::unique_ptr<CFileSet> root = RunAt(at(5), {}, {});
        _tagFileBaseInfo folder;
        folder.firstCluster = 10;
        folder.dataLength = 2 * c * 512;
        folder.noFatChain = k.noFatChain ? 1 : 0;
        folder.inUse = 1;
        folder.attributes = 0x10;
        folder.name = "Folder";
        root->UpdateFileList(std::move(folder));
        std::unique_ptr<CFileSet> first = RunAt(at(10), {}, {20});
        std::unique_ptr<CFileSet> second = RunAt(at(k.second), {}, {21, 22});
        for (CFileSet* s : {root.get(), first.get(), second.get()})
            s->CalculateClusterSize(512);

        CPartitionBuilder builder;
        builder.PrepareBuild(512, 4096);
        CExFatPartitionEx p;
        p.SetDataRegionStartSector(h);
        p.SetSectorsPerCluster(c);
        p.SetTotalClusters(500);
        p.SetRootDirCluster(5);
        for (CFileSet* s : {root.get(), first.get(), second.get()})
            p.MatchSet(s, 1);
        p.GetFatTable().CreateFatTable(&device, 100, 8, 500);
        ASSERT_TRUE(p.GetFatTable().IsValid());
        std::map<std::string, long long> parents;
        builder.BuildFileTree(p, [&](CExFatFileNode* node) {
            parents[node->GetFileName()] = node->GetParentNodeID();
            node->Release();
        });
        const long long folderId = static_cast<long long>(at(10));
        EXPECT_EQ(parents["Folder"], -1);
        EXPECT_EQ(parents["file20"], folderId);
        EXPECT_EQ(parents["file21"], folderId);
        EXPECT_EQ(parents["file22"], folderId);
    }
}

// A hypothesis whose runs a stronger volume claims is gone at the end, and
// a boot sector that no directory confirms leaves no empty volume behind.
TEST(ExFatPartitionBuilder, WinnowingKeepsTheStrongerClaim) {
    std::vector<uint8_t> sector(512, 0);
    {
        TempDir tmp;
        const std::vector<uint8_t> image =
            velmora::test::ReadFile(CommittedImage("exfat", tmp.path()));
        std::copy(image.begin(), image.begin() + 512, sector.begin());
    }
    const CExFatDBR boot(sector.data(), 512);
    CPartitionBuilder builder;
    builder.PrepareBuild(512, 1 << 20);
    // A leaf folder at cluster 100 (heap 4096, 8 sectors per cluster) whose
    // files follow it: taken as such for every cluster size it allows, then
    // the boot sector of the volume it belongs to.
    const uint64_t at = 4096 + 98 * 8;
    builder.PushFileSet(RunAt(at, {}, {101, 102}), -1, -1);
    CFileSet* run = builder.FindFileSet(at);
    builder.BuildFromAllocBackWard(run);
    const size_t guesses = builder.Partitions().size();
    EXPECT_GT(guesses, 1u);
    builder.Build(0, boot);
    EXPECT_EQ(builder.Partitions().size(), guesses);
    EXPECT_EQ(builder.FindPartition(4096, 8)->evidence, kMain | kExFatBackward);
    std::vector<std::unique_ptr<CExFatPartitionEx>> out;
    builder.FinishBuid(out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->GetDataRegionStartSector(), 4096u);
    EXPECT_TRUE(out[0]->IsMatched(run));
    EXPECT_TRUE(run->IsMatched());
}

// Two deep scans of two disks running at once, their searchers fed a few
// sectors in turns: an entry set is assembled across sectors and blocks,
// and each searcher must do so in its own working state.
TEST_F(ExFatDeepScanTest, SearchersFedInTurnsKeepTheirOwnState) {
    std::vector<uint8_t> moved = DiskWith(Bytes("exfat"), 3000);
    Zero(moved, 3000, 12);
    const std::vector<uint8_t> plain = DiskWith(Bytes("exfat"));
    velmora::test::MemoryStorageDevice aloneA(plain, 512), aloneB(moved, 512);
    velmora::test::MemoryStorageDevice togetherA(plain, 512), togetherB(moved, 512);
    constexpr long long kBlock = 3;
    ExFatDeepScan soloA(&aloneA), soloB(&aloneB);
    soloA.Run(kBlock);
    soloB.Run(kBlock);
    ASSERT_EQ(soloA.Records().size(), 1u);
    ASSERT_EQ(soloB.Records().size(), 1u);
    ASSERT_EQ(soloA.Paths().size(), soloB.Paths().size());
    ASSERT_GT(soloA.Paths().size(), 120u);

    ExFatDeepScan a(&togetherA), b(&togetherB);
    a.Start(kBlock);
    b.Start(kBlock);
    for (long long first = 0; first < static_cast<long long>(kDiskSectors); first += kBlock) {
        a.Feed(first);
        b.Feed(first);
    }
    a.searcher->EndSearch(1);
    b.searcher->EndSearch(1);
    EXPECT_EQ(a.Paths(), soloA.Paths());
    EXPECT_EQ(b.Paths(), soloB.Paths());
    ASSERT_EQ(b.Records().size(), 1u);
    EXPECT_EQ(b.Records()[0]->runOriginSector, 3000 + 4096);
}

// ---------------------------------------------------------------------------
// Damaged and hostile surfaces

TEST_F(ExFatDeepScanTest, HostileSurfacesEndTheScanWithoutPhantoms) {
    const std::vector<uint8_t> image = Bytes("exfat");
    const RawVolume intact(image);
    const uint64_t docs = intact.FindSet("/Docs"), sub = intact.FindSet("/Docs/Sub");
    ASSERT_NE(docs, 0u);
    ASSERT_NE(sub, 0u);
    const uint32_t docsCluster = intact.FirstCluster(docs);
    auto both = [](std::vector<uint8_t>& d, const std::function<void(uint8_t*)>& f) {
        f(&d[kAt * 512]);
        f(&d[(kAt + 12) * 512]);
    };
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        size_t volumes;
        bool rootRoute;  // the volume comes back from its root, not its boot sectors
    };
    const Case cases[] = {
        {"clusters of 64 MiB",
         [&](std::vector<uint8_t>& d) { both(d, [](uint8_t* b) { b[109] = 17; }); }, 1, true},
        {"FAT past the heap",
         [&](std::vector<uint8_t>& d) {
             both(d, [](uint8_t* b) { vk::StoreLE<uint32_t>(b + 80, 0x7FFFFFF0); });
         },
         1, true},
        {"sector shift of 4 KiB on a 512-byte device",
         [&](std::vector<uint8_t>& d) { both(d, [](uint8_t* b) { b[108] = 12; }); }, 1, true},
        // Consistent in itself, far larger than the device: found, bounded.
        {"volume far larger than the disk",
         [&](std::vector<uint8_t>& d) {
             both(d, [](uint8_t* b) {
                 vk::StoreLE<uint64_t>(b + 72, uint64_t{1} << 40);
                 vk::StoreLE<uint32_t>(b + 92, 0x7FFFFFFF);
             });
         },
         1, false},
        // FAT starts and up-case tables alone make no volume.
        {"FAT start without a volume",
         [](std::vector<uint8_t>& d) {
             std::vector<uint8_t> keep(d.begin() + (kAt + 2048) * 512,
                                       d.begin() + (kAt + 2049) * 512);
             std::fill(d.begin(), d.end(), 0);
             std::copy(keep.begin(), keep.end(), d.begin() + 100 * 512);
             std::copy(keep.begin(), keep.end(), d.begin() + 9000 * 512);
         },
         0, false},
        // Sub names Docs as its folder, and Docs names itself.
        {"folders pointing at each other",
         [&](std::vector<uint8_t>& d) {
             vk::StoreLE<uint32_t>(&d[kAt * 512 + sub + 32 + 20], docsCluster);
             vk::StoreLE<uint32_t>(&d[kAt * 512 + docs + 32 + 20], docsCluster + 1);
         },
         1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> disk = DiskWith(Bytes("exfat"));
        c.damage(disk);
        velmora::test::MemoryStorageDevice device(std::move(disk), 512);
        ExFatDeepScan scan(&device);
        scan.Run();
        const auto found = scan.Records();
        ASSERT_EQ(found.size(), c.volumes);
        EXPECT_EQ(scan.tree.roots, c.volumes == 0 ? 0 : 1);
        for (const auto& p : found) {
            EXPECT_EQ(p->runOriginSector, kHeap);
            EXPECT_EQ(p->sectorsPerCluster, 8u);
            EXPECT_EQ((static_cast<uint32_t>(p->fsValue) & (kMain | kBackup)) == 0, c.rootRoute)
                << std::hex << p->fsValue;
        }
        if (c.volumes != 0) {
            const auto paths = scan.Paths();
            EXPECT_NE(std::find(paths.begin(), paths.end(), "/Pics/photo one.jpg"), paths.end());
        }
    }

    // Unreadable blocks cost only what lies in them.
    {
        std::vector<uint8_t> disk = DiskWith(Bytes("exfat"));
        FlakyDevice device(std::move(disk), 512);
        const uint64_t many = intact.ClusterOffset(intact.FirstCluster(intact.FindSet("/Many")));
        const long long manySector = kAt + static_cast<long long>(many / 512);
        for (long long s = manySector; s < manySector + 8; ++s)
            device.bad.insert(s);
        ExFatDeepScan scan(&device);
        scan.Run();
        ASSERT_EQ(scan.Records().size(), 1u);
        const auto paths = scan.Paths();
        EXPECT_NE(std::find(paths.begin(), paths.end(), "/Docs/report.pdf"), paths.end());
        EXPECT_EQ(std::count_if(paths.begin(), paths.end(),
                                [](const std::string& p) { return p.rfind("/Many/", 0) == 0; }),
                  120 - 32)
            << "the first of the four clusters of /Many";
    }

    // Sector sizes exFAT does not have are refused whole.
    for (int size : {256, 1000, 8192}) {
        velmora::test::MemoryStorageDevice device(DiskWith(Bytes("exfat")), size);
        ExFatDeepScan scan(&device);
        scan.Run();
        EXPECT_TRUE(scan.Records().empty()) << size;
        EXPECT_EQ(scan.tree.roots, 0) << size;
    }
}

// A volume of 4096-byte sectors on a device of that sector size.
TEST_F(ExFatDeepScanTest, FourKibSectors) {
    const std::vector<uint8_t> volume = Bytes("exfat_4k");
    std::vector<uint8_t> disk(volume.size() + 64 * 4096, 0);
    std::copy(volume.begin(), volume.end(), disk.begin() + 16 * 4096);
    std::fill_n(disk.begin() + 16 * 4096, 12 * 4096, 0);  // main boot region
    velmora::test::MemoryStorageDevice device(std::move(disk), 4096);
    ExFatDeepScan scan(&device);
    scan.Run();
    const auto found = scan.Records();
    ASSERT_EQ(found.size(), 1u);
    ExpectVolume(*found[0], {16, 16 + 512, 4, kBackup | kRoot | kFat1});
    ExpectFilesBack(scan, 0, Manifest("exfat_4k"), 0, m_tmp / "4k");
}

}  // namespace
