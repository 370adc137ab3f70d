// The NTFS deep search: disks whose NTFS volume was lost (table wiped, boot
// sector zeroed, first MFT records zeroed, formatted again over the old
// contents, 4 KiB sectors) are scanned sector by sector; the volume must come
// back as the first candidate with its start and cluster size, its tree as
// the source image's manifest and Sleuth Kit show it, every file byte for
// byte. Records cut by block ends, unreadable blocks, hostile structures and
// a second scan by the same searcher must change nothing of that.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "IRecoveryFilter.h"
#include "NTFSFactories.h"
#include "NTFSIntelligentSearchInfo/NTFSEvidence.h"
#include "NTFSLib/NTFSDBR.h"
#include "NTFSLib/NTFSIndexRecord.h"
#include "NTFSSearch/NTFSDirectoryTreeBuilder.h"
#include "NTFSSearch/NTFSSearchController.h"
#include "NtfsFixtures.h"
#include "NtfsScanHarness.h"
#include "RecoveryInterfaces.h"
#include "ResultCode.h"
#include "SearchedPartitionInfo.h"
#include "support/EngineRows.h"

using namespace ntfstest;
using velmora::test::TempDir;

namespace {

using Candidate = std::unique_ptr<CSearchedNTFSPartitionInfo>;

// One in-process deep scan through the NTFS searcher and the real tree
// builder, blocks offered in order as the complete-scan controller does.
struct DeepScan {
    explicit DeepScan(IStorageDevice* d, int blockSectors = 2048) : device(d), block(blockSectors) {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("disk", &tree, filter);
        searcher.SetDirecotryTreeBuilder(builder);
        searcher.SetDevice(device);
        searcher.SetBlockSize(block);
    }
    ~DeepScan() { builder->Release(); }
    void Walk(long long from = 0) {
        const long long total = device->GetTotalSectors();
        for (long long at = from; at < total; at += block)
            searcher.AnalyzeBlock(at, std::min<long long>(block, total - at));
    }
    void Run() {
        searcher.PreparetoSearch();
        Walk();
        searcher.EndSearch(1);
    }
    std::vector<Candidate> Candidates() {
        std::vector<Candidate> out;
        const int n = searcher.GetSearchedPartitionInfo(nullptr, 0);
        std::vector<CSearchedPartitionInfo*> raw(static_cast<size_t>(n), nullptr);
        EXPECT_EQ(searcher.GetSearchedPartitionInfo(raw.data(), n), n);
        for (CSearchedPartitionInfo* r : raw)
            out.emplace_back(dynamic_cast<CSearchedNTFSPartitionInfo*>(r));
        return out;
    }
    // Every node shown, by path, with its partition index.
    std::map<std::string, int> Paths() const {
        std::map<std::string, int> out;
        for (IFileNode* n : tree.shown) {
            auto* f = dynamic_cast<CFileNode*>(n);
            out[NodePath(n)] = f ? f->GetBelongedPartition() : -1;
        }
        return out;
    }

    IStorageDevice* device;
    int block;
    IDirecotryTreeBuilder* builder;
    CollectingTree tree;
    CNTFSSearchController searcher;
};

class NTFSDeepScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (LostDiskDir().empty())
            GTEST_SKIP() << "the lost-volume disks cannot be made here (gzip, python3)";
    }
    static std::string Disk(const std::string& name) { return LostDiskDir() + "/" + name + ".img"; }
    static bool Have(const std::string& name) { return std::filesystem::exists(Disk(name)); }
    TempDir m_tmp;
};

// The paths of a manifest's files and folders (streams and recycle-bin
// index files aside) as a tree shows them.
std::set<std::string> ManifestPaths(const std::string& manifest) {
    std::string out;
    velmora::test::RunProgram(
        {"python3", "-c",
         "import json,sys\n"
         "m=json.load(open(sys.argv[1]))\n"
         "for v in m['volumes']:\n"
         "  for e in v['files']:\n"
         "    if (e['type'] == 'file' and not e.get('stream') and not e.get('recycle_index') and\n"
         "        'recycled_name' not in e):\n"
         "      print(e['path'])\n",
         manifest},
        &out);
    std::set<std::string> paths;
    size_t at = 0;
    while (at < out.size()) {
        const size_t nl = out.find('\n', at);
        paths.insert(out.substr(at, nl - at));
        at = nl == std::string::npos ? out.size() : nl + 1;
    }
    return paths;
}

// ---------------------------------------------------------------- lost disks

struct LostDisk {
    const char* name;
    int sectorSize;
    const char* source;
    long long start;
    unsigned spc;
    // A second volume that must be kept as well (the old one under a new
    // format); start -1 for none.
    long long secondStart;
    unsigned secondSpc;
};

const LostDisk kLostDisks[] = {
    {"lost_table", 512, "ntfs", 2048, 8, -1, 0},
    {"lost_noboot", 512, "ntfs", 2048, 8, -1, 0},
    {"lost_nomft", 512, "ntfs", 2048, 8, -1, 0},
    {"reformatted", 512, "ntfs", 2048, 2, 2048, 8},
    {"lost_log", 512, "ntfs_log", 2048, 8, -1, 0},
    {"lost_4k", 4096, "ntfs_4k", 256, 1, -1, 0},
    {"lost_4kdev", 4096, "ntfs_4kdev", 256, 1, -1, 0},
};

TEST_F(NTFSDeepScanTest, LostVolumeIsTheFirstCandidateWithItsTree) {
    for (const LostDisk& d : kLostDisks) {
        SCOPED_TRACE(d.name);
        if (!Have(d.name))
            continue;  // reformatted.img needs mkntfs
        auto device = MemoryStorageDevice::FromFile(Disk(d.name), d.sectorSize);
        DeepScan scan(device.get());
        scan.Run();
        const auto kept = scan.Candidates();
        ASSERT_FALSE(kept.empty());
        const CSearchedNTFSPartitionInfo& first = *kept[0];
        EXPECT_EQ(first.fileSystemType, 3);
        EXPECT_EQ(first.runOriginSector, d.start);
        EXPECT_EQ(first.startSector, d.start);
        EXPECT_EQ(first.sectorsPerCluster, d.spc);
        EXPECT_EQ(first.partitionIndex, 0);
        EXPECT_EQ(first.GetSectorSize(), static_cast<unsigned>(d.sectorSize));
        EXPECT_EQ(first.mftLocated, 1);
        // Best first: scores never rise down the list, and recovery's score
        // follows that order.
        // One candidate per reading: a volume found from several pieces of
        // evidence is one volume.
        std::set<std::pair<long long, unsigned>> readings;
        for (const Candidate& c : kept)
            EXPECT_TRUE(readings.emplace(c->runOriginSector, c->sectorsPerCluster).second)
                << c->runOriginSector;
        for (size_t i = 1; i < kept.size(); ++i) {
            EXPECT_LE(kept[i]->ReliabilityScore(), kept[i - 1]->ReliabilityScore());
            EXPECT_LT(kept[i]->score, kept[i - 1]->score);
            EXPECT_EQ(kept[i]->partitionIndex, static_cast<int>(i));
        }
        int volumeIndex = 0;
        if (d.secondStart >= 0) {
            auto old = std::find_if(kept.begin(), kept.end(), [&](const Candidate& c) {
                return c->runOriginSector == d.secondStart && c->sectorsPerCluster == d.secondSpc;
            });
            ASSERT_NE(old, kept.end());
            volumeIndex = (*old)->partitionIndex;
        }
        // Every file and folder of the source volume, deleted ones included,
        // in the tree of its volume.
        const auto paths = scan.Paths();
        const std::string source = LostDiskDir() + "/" + d.source + ".json";
        const std::set<std::string> files = ManifestPaths(source);
        ASSERT_GT(files.size(), 10u);
        for (const std::string& p : files) {
            auto it = paths.find(p);
            ASSERT_NE(it, paths.end()) << p;
            EXPECT_EQ(it->second, volumeIndex) << p;
        }
        EXPECT_EQ(scan.searcher.DamagedCount(), 0u);
    }
}

TEST_F(NTFSDeepScanTest, LostVolumesRecoverAsTheirSourcesAndSleuthKitSay) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "built without the scan driver";
#else
    if (!HaveTool("tsk_recover") || !HaveTool("fls"))
        GTEST_SKIP() << "Sleuth Kit (tsk_recover, fls) is not installed";
    for (const LostDisk& d : kLostDisks) {
        SCOPED_TRACE(d.name);
        if (!Have(d.name))
            continue;
        const std::string out = m_tmp / (std::string(d.name) + "-out");
        std::filesystem::create_directories(out);
        std::string log;
        velmora::test::RunProgram(
            {VELMORA_SCAN_DRIVER, "--deep", "--only", "35", "--sector-size",
             std::to_string(d.sectorSize), "--rounds", "1", "--recover", out, Disk(d.name)},
            &log);
        ASSERT_NE(log.find("result 0x0000000000000000"), std::string::npos) << log;
        ASSERT_NE(log.find(" 0 failed"), std::string::npos) << log;
        // The recovered tree is the one folder under the run's folder.
        std::string folder;
        for (const auto& e : std::filesystem::directory_iterator(out + "/0001"))
            folder = e.path();
        ASSERT_FALSE(folder.empty()) << log;
        const std::string source = LostDiskDir() + "/" + d.source;
        const std::string json = LostDiskDir() + "/" + d.name + ".json";
        std::string report;
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", std::string(VELMORA_NTFS_TEST_DIR) + "/check_quick_scan.py",
             source + ".img", source + ".json", folder, json},
            &report))
            << report;
    }
#endif
}

// Records torn by a power cut (one sector still the previous write's) keep
// their files: each is shown marked damaged, and its recovery says it is
// incomplete, zeros and reports the bytes that lay in the torn sector and
// gives back every other byte as it was.
TEST_F(NTFSDeepScanTest, TornRecordsKeepTheirFilesMarkedWithTheirLostBytes) {
    struct Torn {
        std::string path;
        std::vector<LostRange> lost;
        std::string sha256;
    };
    std::string text;
    ASSERT_TRUE(velmora::test::RunProgram(
        {"python3", "-c",
         "import json,sys\n"
         "for t in json.load(open(sys.argv[1]))['torn']:\n"
         "  print(t['path'], t['sha256_lost_zeroed'], *[x for r in t['lost'] for x in r], "
         "sep='\\t')\n",
         Disk("torn_record").substr(0, Disk("torn_record").size() - 4) + ".json"},
        &text));
    std::vector<Torn> torn;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Torn t;
        std::getline(fields, t.path, '\t');
        std::getline(fields, t.sha256, '\t');
        for (std::string a, b; std::getline(fields, a, '\t') && std::getline(fields, b, '\t');)
            t.lost.push_back({std::stoll(a), std::stoll(b)});
        torn.push_back(t);
    }
    ASSERT_EQ(torn.size(), 2u) << text;

    // Resident data is read through the NTFS row's service.
    velmora::test::ScopedEngineRows rows;
    auto device = MemoryStorageDevice::FromFile(Disk("torn_record"), 512);
    DeepScan scan(device.get());
    scan.Run();
    std::vector<Candidate> kept = scan.Candidates();
    ASSERT_FALSE(kept.empty());
    ASSERT_EQ(kept[0]->runOriginSector, 2048);
    std::vector<CSearchedPartitionInfo*> records;
    for (const Candidate& c : kept)
        records.push_back(c.get());
    int made = 0;
    for (const Torn& t : torn) {
        SCOPED_TRACE(t.path);
        auto* node = [&]() -> CFileNode* {
            for (IFileNode* n : scan.tree.shown)
                if (NodePath(n) == t.path)
                    return dynamic_cast<CFileNode*>(n);
            return nullptr;
        }();
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->IsDamaged(), 1);
        IDataRecovery* recovery = CreateDataRecoveryObj();
        ASSERT_NE(recovery, nullptr);
        ASSERT_FALSE(
            ResultFailed(InitializeDataRecoveryFromRecords(recovery, records, device.get())));
        IFileReader* reader = recovery->SetRecoverNode(node);
        ASSERT_NE(reader, nullptr);
        reader->Release();
        // Recovery makes new files only: each file gets a name of its own.
        const std::string out = m_tmp / ("recovered_" + std::to_string(++made));
        EXPECT_TRUE(ResultIs(recovery->RecoverTo(out.c_str(), nullptr, 0), kModuleDataRecovery,
                             kErrRecoveryIncomplete));
        EXPECT_EQ(recovery->GetLostRanges().Ranges(), t.lost);
        recovery->Release();
        std::string sum;
        ASSERT_TRUE(velmora::test::RunProgram({"sha256sum", out}, &sum));
        EXPECT_EQ(sum.substr(0, 64), t.sha256);
    }
}

// Two lost copies of one volume on a disk: every folder has a twin with
// the same number, parent and name. Each volume keeps its own folders, and
// every file sits in a folder of its own volume.
TEST_F(NTFSDeepScanTest, TwoLostVolumesKeepTheirOwnFolders) {
    auto device = MemoryStorageDevice::FromFile(Disk("two_volumes"), 512);
    DeepScan scan(device.get());
    scan.Run();
    std::map<long long, int> volumes;  // start sector -> partition index
    for (const Candidate& c : scan.Candidates())
        if (c->runOriginSector == 2048 || c->runOriginSector == 69632)
            volumes.emplace(c->runOriginSector, c->partitionIndex);
    ASSERT_EQ(volumes.size(), 2u);
    std::map<std::string, std::set<int>> found;
    for (IFileNode* n : scan.tree.shown) {
        auto* node = dynamic_cast<CFileNode*>(n);
        if (!node || dynamic_cast<CFilesystemNode*>(node))
            continue;
        found[NodePath(n)].insert(node->GetBelongedPartition());
        auto* parent = dynamic_cast<CFileNode*>(node->GetParent());
        if (parent && !dynamic_cast<CFilesystemNode*>(parent)) {
            EXPECT_EQ(parent->GetBelongedPartition(), node->GetBelongedPartition())
                << NodePath(n) << " lies in another volume's folder";
        }
    }
    const std::set<int> both{volumes[2048], volumes[69632]};
    const std::set<std::string> files = ManifestPaths(LostDiskDir() + "/ntfs.json");
    ASSERT_GT(files.size(), 10u);
    for (const std::string& p : files)
        EXPECT_EQ(found[p], both) << p;
    for (const char* folder : {"/Docs", "/Docs/Sub", "/a", "/a/b"})
        EXPECT_EQ(found[folder], both) << folder;
}

// ---------------------------------------------------------------- blocks

// What a scan found, to compare scans of the same surface.
struct Findings {
    std::vector<
        std::tuple<long long, unsigned, uint32_t, long long, long long, long long, long long>>
        candidates;
    std::map<std::string, int> paths;
    // One line per candidate and per path, to compare in a readable way.
    std::string Text() const {
        std::string out;
        for (const auto& [start, spc, flags, folders, up, ad, mft] : candidates)
            out += "volume " + std::to_string(start) + " spc " + std::to_string(spc) + " flags " +
                   std::to_string(flags) + " folders " + std::to_string(folders) + " upcase " +
                   std::to_string(up) + " attrdef " + std::to_string(ad) + " mft " +
                   std::to_string(mft) + "\n";
        for (const auto& [path, index] : paths)
            out += path + " @" + std::to_string(index) + "\n";
        return out;
    }
};

Findings Find(IStorageDevice* device, int blockSectors) {
    DeepScan scan(device, blockSectors);
    scan.Run();
    Findings f;
    for (const Candidate& c : scan.Candidates())
        f.candidates.emplace_back(c->runOriginSector, c->sectorsPerCluster, c->flags,
                                  c->FolderMatches(), c->upCaseMatch, c->attrDefMatch,
                                  c->mftRecordSector);
    f.paths = scan.Paths();
    return f;
}

// FILE records (1 KiB and 4 KiB) and index blocks cut by block ends are
// joined with the next blocks: whatever the block size, the same volume, the
// same evidence and the same tree. lost_4k read as a disk of 512-byte
// sectors has records of eight sectors.
TEST_F(NTFSDeepScanTest, BlockSizeChangesNothingFound) {
    for (const auto& [name, sectorSize, sizes] :
         std::vector<std::tuple<std::string, int, std::vector<int>>>{
             {"lost_table", 512, {1, 3, 7, 13, 64}},
             {"lost_4k", 512, {1, 5, 9}},
             {"lost_4kdev", 4096, {1, 3}}}) {
        SCOPED_TRACE(name);
        auto device = MemoryStorageDevice::FromFile(Disk(name), sectorSize);
        const Findings reference = Find(device.get(), 2048);
        ASSERT_FALSE(reference.candidates.empty());
        ASSERT_GT(reference.paths.size(), 20u);
        for (int size : sizes) {
            SCOPED_TRACE(size);
            EXPECT_EQ(Find(device.get(), size).Text(), reference.Text());
        }
    }
}

// A block that cannot be read is not analysed as what the buffer held
// before: a boot sector seen in one block must not come back as a volume
// one block later.
TEST_F(NTFSDeepScanTest, UnreadableBlockMakesNoPhantomVolume) {
    const std::vector<uint8_t> ntfs = LoadBytes("ntfs");
    std::vector<uint8_t> bytes(4096 * 512, 0);
    std::copy(ntfs.begin(), ntfs.begin() + 512, bytes.begin() + 100 * 512);
    // The next block unreadable whole, or only in the sector where the
    // block before held the boot sector.
    const struct { long long firstBad, badCount; } cases[] = {{128, 128}, {228, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstBad);
        FailingDevice device(bytes, 512);
        for (long long s = c.firstBad; s < c.firstBad + c.badCount; ++s)
            device.bad.insert(s);
        DeepScan scan(&device, 128);
        scan.searcher.PreparetoSearch();
        scan.Walk();
        std::set<long long> starts;
        for (const CSearchedNTFSPartitionInfo* found : scan.searcher.Candidates().Items())
            starts.insert(found->Start());
        EXPECT_EQ(starts, std::set<long long>{100});
        EXPECT_EQ(scan.searcher.DamagedCount(), static_cast<uint64_t>(c.badCount));
        scan.searcher.EndSearch(1);
    }
}

// On the lost disk, unreadable blocks in the MFT cost the records there and
// nothing else: the scan ends, the volume is still found first.
TEST_F(NTFSDeepScanTest, UnreadableMftBlocksCostOnlyTheirRecords) {
    FailingDevice device(LoadBytes("lost_table"), 512);
    for (long long s = 2080 + 64; s < 2080 + 64 + 16; ++s)
        device.bad.insert(s);
    DeepScan scan(&device, 32);
    scan.Run();
    const auto kept = scan.Candidates();
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept[0]->runOriginSector, 2048);
    EXPECT_EQ(kept[0]->sectorsPerCluster, 8u);
    EXPECT_GT(scan.searcher.DamagedCount(), 0u);
    EXPECT_GT(scan.Paths().size(), 20u);
}

// Half a record at the end of one scan is not completed by the next scan's
// first block, and no evidence of the first scan survives into the second.
TEST_F(NTFSDeepScanTest, EachScanStartsAfresh) {
    const std::vector<uint8_t> disk = LoadBytes("lost_table");
    // The $MFT record (two sectors at 2080): its first half ends the first
    // device, its second half begins the second one's block at 128.
    std::vector<uint8_t> a(128 * 512, 0), b(512 * 512, 0);
    std::copy(disk.begin() + 2080 * 512, disk.begin() + 2081 * 512, a.begin() + 127 * 512);
    std::copy(disk.begin() + 2081 * 512, disk.begin() + 2082 * 512, b.begin() + 128 * 512);
    MemoryStorageDevice first(a, 512), second(b, 512);
    DeepScan scan(&first, 128);
    scan.searcher.PreparetoSearch();
    scan.Walk();
    scan.searcher.SetDevice(&second);
    scan.searcher.PreparetoSearch();
    scan.searcher.AnalyzeBlock(128, 128);
    scan.searcher.EndSearch(1);
    EXPECT_EQ(scan.searcher.GetSearchedPartitionInfo(nullptr, 0), 0);

    // The same for a file's record: joined within one scan, not across two.
    const ImageBytes volume(LoadBytes("ntfs"));
    const int64_t file = volume.Find(u"short.txt");
    ASSERT_GT(file, 0);
    const auto record = volume.bytes.begin() + static_cast<long>(volume.RecordAt(file));
    std::vector<uint8_t> e(128 * 512, 0), f(256 * 512, 0), joined(256 * 512, 0);
    std::copy_n(record, 512, e.begin() + 127 * 512);
    std::copy_n(record + 512, 512, f.begin() + 128 * 512);
    std::copy_n(record, 1024, joined.begin() + 127 * 512);
    MemoryStorageDevice fifth(e, 512), sixth(f, 512), oneScan(joined, 512);
    DeepScan records(&oneScan, 128);
    records.searcher.PreparetoSearch();
    records.Walk();
    EXPECT_EQ(records.searcher.Positions().size(), 1u);
    records.searcher.EndSearch(1);
    records.searcher.SetDevice(&fifth);
    records.searcher.PreparetoSearch();
    records.Walk();
    records.searcher.EndSearch(1);
    records.searcher.SetDevice(&sixth);
    records.searcher.PreparetoSearch();
    records.searcher.AnalyzeBlock(128, 128);
    EXPECT_TRUE(records.searcher.Positions().empty());
    records.searcher.EndSearch(1);

    // The same for a $LogFile record page cut by the end of a scan: the next
    // scan's first block does not complete it.
    const std::vector<uint8_t> log = LoadBytes("ntfs_log");
    size_t page = 0;
    while (page + 4096 <= log.size() && !CRCRDRecord::IsValid(log.data() + page, 4096))
        page += 4096;
    ASSERT_LT(page + 4096, log.size());
    std::vector<uint8_t> c(128 * 512, 0), d(256 * 512, 0), whole(256 * 512, 0);
    std::copy_n(log.begin() + static_cast<long>(page), 2048, c.begin() + 124 * 512);
    std::copy_n(log.begin() + static_cast<long>(page) + 2048, 2048, d.begin() + 128 * 512);
    std::copy_n(log.begin() + static_cast<long>(page), 4096, whole.begin() + 124 * 512);
    MemoryStorageDevice third(c, 512), fourth(d, 512), together(whole, 512);
    DeepScan pages(&together, 128);
    pages.searcher.PreparetoSearch();
    pages.Walk();
    EXPECT_EQ(pages.searcher.LogRecordPageSectors(), 8);  // joined within one scan
    pages.searcher.EndSearch(1);
    pages.searcher.SetDevice(&third);
    pages.searcher.PreparetoSearch();
    pages.Walk();
    pages.searcher.EndSearch(1);
    pages.searcher.SetDevice(&fourth);
    pages.searcher.PreparetoSearch();
    pages.searcher.AnalyzeBlock(128, 128);
    EXPECT_EQ(pages.searcher.LogRecordPageSectors(), 0);
    pages.searcher.EndSearch(1);

    // A whole scan, then a scan of an empty disk: nothing is left over.
    auto lost = MemoryStorageDevice::FromFile(Disk("lost_table"), 512);
    MemoryStorageDevice empty(std::vector<uint8_t>(1 << 20, 0), 512);
    DeepScan again(lost.get());
    again.Run();
    EXPECT_GT(again.searcher.GetSearchedPartitionInfo(nullptr, 0), 0);
    again.searcher.SetDevice(&empty);
    again.Run();
    EXPECT_EQ(again.searcher.GetSearchedPartitionInfo(nullptr, 0), 0);
}

// ---------------------------------------------------------------- bad input

struct SurfaceCase {
    const char* name;
    // Edits the volume before it is put on the disk, or the disk's free
    // tail.
    std::function<void(ImageBytes& volume, std::vector<uint8_t>& disk)> damage;
    bool tailVolume;  // a volume may be read at the planted boot sector
};

// A boot sector written over sector `at` of the disk (its tail is free).
void PlantBootSector(std::vector<uint8_t>& disk, const std::vector<uint8_t>& volume, size_t at,
                     const std::function<void(uint8_t*)>& edit) {
    uint8_t* b = disk.data() + at * 512;
    std::copy(volume.begin(), volume.begin() + 512, b);
    edit(b);
}

TEST_F(NTFSDeepScanTest, HostileSurfacesEndTheScanWithTheVolumeFirst) {
    const size_t tail = 2048 + 65536 + 64;  // a free sector after the volume
    const SurfaceCase cases[] = {
        {"boot sector with clusters of 3 sectors",
         [&](ImageBytes& v, std::vector<uint8_t>& d) {
             PlantBootSector(d, v.bytes, tail, [](uint8_t* b) { b[13] = 3; });
         },
         false},
        {"boot sector of a volume larger than the disk, its $MFT past the end",
         [&](ImageBytes& v, std::vector<uint8_t>& d) {
             PlantBootSector(d, v.bytes, tail, [](uint8_t* b) {
                 vk::StoreLE<uint64_t>(b + 0x28, uint64_t{1} << 40);
                 vk::StoreLE<uint64_t>(b + 0x30, uint64_t{1} << 36);
             });
         },
         true},
        {"boot sector whose sector size is absurd",
         [&](ImageBytes& v, std::vector<uint8_t>& d) {
             PlantBootSector(d, v.bytes, tail,
                             [](uint8_t* b) { vk::StoreLE<uint16_t>(b + 11, 1000); });
         },
         false},
        {"a folder that is its own parent",
         [&](ImageBytes& v, std::vector<uint8_t>&) {
             const int64_t a = v.Find(u"a");
             const size_t fn = v.AttributeOf(a, 0x30);
             v.Patch(a, [&](uint8_t* r) {
                 const uint16_t value = vk::LoadLE<uint16_t>(r + fn + 0x14);
                 vk::StoreLE<uint64_t>(r + fn + value,
                                       static_cast<uint64_t>(a) | (uint64_t{1} << 48));
             });
         },
         false},
        {"two folders, each the other's parent",
         [&](ImageBytes& v, std::vector<uint8_t>&) {
             const int64_t a = v.Find(u"a"), b = v.Find(u"b");
             const size_t fn = v.AttributeOf(a, 0x30);
             v.Patch(a, [&](uint8_t* r) {
                 const uint16_t value = vk::LoadLE<uint16_t>(r + fn + 0x14);
                 vk::StoreLE<uint64_t>(r + fn + value,
                                       static_cast<uint64_t>(b) | (uint64_t{1} << 48));
             });
         },
         false},
        {"an $MFT record whose runs reach past the disk",
         [&](ImageBytes& v, std::vector<uint8_t>&) {
             const size_t data = v.AttributeOf(0, 0x80);
             v.Patch(0, [&](uint8_t* r) {
                 const uint16_t pairs = vk::LoadLE<uint16_t>(r + data + 0x20);
                 // First run: a 4-byte length field of clusters beyond any disk.
                 r[data + pairs] = 0x14;
                 vk::StoreLE<uint32_t>(r + data + pairs + 1, 0x7FFFFFF0);
                 r[data + pairs + 5] = 4;
                 r[data + pairs + 6] = 0;
             });
         },
         false},
        {"index blocks whose entries run past their block",
         [&](ImageBytes& v, std::vector<uint8_t>&) {
             for (size_t s = 0; s + 4096 <= v.bytes.size(); s += 512) {
                 if (std::memcmp(v.bytes.data() + s, "INDX", 4) == 0)
                     vk::StoreLE<uint32_t>(v.bytes.data() + s + 0x1C, 0xFFFF);
             }
         },
         false},
    };
    const std::vector<uint8_t> original = LoadBytes("ntfs");
    for (const SurfaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        ImageBytes volume(original);
        std::vector<uint8_t> disk((2048 + 65536 + 4096) * 512, 0);
        c.damage(volume, disk);
        std::copy(volume.bytes.begin(), volume.bytes.end(), disk.begin() + 2048 * 512);
        MemoryStorageDevice device(disk, 512);
        DeepScan scan(&device);
        scan.Run();
        const auto kept = scan.Candidates();
        ASSERT_FALSE(kept.empty());
        EXPECT_EQ(kept[0]->runOriginSector, 2048);
        EXPECT_EQ(kept[0]->sectorsPerCluster, 8u);
        for (const Candidate& k : kept) {
            EXPECT_LE(k->runOriginSector + k->totalSectors, device.GetTotalSectors());
            if (!c.tailVolume) {
                EXPECT_NE(k->runOriginSector, static_cast<long long>(tail));
            }
        }
        // The files outside the damage are still shown.
        const auto paths = scan.Paths();
        EXPECT_TRUE(std::any_of(paths.begin(), paths.end(), [](const auto& e) {
            return e.first.find("short.txt") != std::string::npos;
        }));
    }
}

// A folder whose record is gone: its files are still shown, under the tree
// builder's "Other lost files", not dropped; the rest of the tree stands.
TEST_F(NTFSDeepScanTest, FilesOfALostFolderAreShownAsOtherLostFiles) {
    ImageBytes volume(LoadBytes("ntfs"));
    const int64_t b = volume.Find(u"b");
    ASSERT_GT(b, 0);
    std::fill_n(volume.bytes.begin() + static_cast<long>(volume.RecordAt(b)), volume.recordSize, 0);
    std::vector<uint8_t> disk((2048 + 65536 + 4096) * 512, 0);
    std::copy(volume.bytes.begin(), volume.bytes.end(), disk.begin() + 2048 * 512);
    MemoryStorageDevice device(disk, 512);
    DeepScan scan(&device);
    scan.Run();
    const auto paths = scan.Paths();
    for (const char* p : {"/Other lost files/f00.txt", "/Other lost files/f39.txt",
                          "/comp/comp.txt", "/Docs/report.pdf"}) {
        auto it = paths.find(p);
        ASSERT_NE(it, paths.end()) << p;
        EXPECT_EQ(it->second, 0) << p;
    }
    EXPECT_EQ(paths.count("/a/b/f00.txt"), 0u);
}

// ---------------------------------------------------------------- candidates

Candidate MakeCandidate(long long start, unsigned spc, uint32_t flags, long long folders = 0) {
    auto c = std::make_unique<CSearchedNTFSPartitionInfo>(512);
    c->runOriginSector = start;
    c->sectorsPerCluster = spc;
    c->flags = flags;
    c->position2 = folders;
    c->totalClusters = 1000;
    c->totalSectors = 1000LL * spc;
    return c;
}

TEST(NTFSCandidates, ReliabilityScores) {
    struct Case {
        uint32_t flags;
        int64_t upCase, logFile, attrDef;
        unsigned sectorSize;
        int64_t score;
    } cases[] = {
        {kNTFSFromBootSector | kNTFSFromBackupBootSector, -1, -1, -1, 512, 40},
        {kNTFSFromFolders, -1, -1, -1, 512, 0},
        {0xFF, -1, -1, -1, 512, 110},
        {0xFF, 256, 10000, 5, 512, 140},
        {0xFF, 255, 9999, 4, 512, 110},
        // The same bytes of content on 4 KiB sectors.
        {kNTFSFromMft, 32, 1250, 1, 4096, 40},
        {kNTFSFromMft, 31, 1249, 0, 4096, 10},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.flags);
        CSearchedNTFSPartitionInfo c(t.sectorSize);
        c.flags = t.flags;
        c.upCaseMatch = t.upCase;
        c.logFileMatch = t.logFile;
        c.attrDefMatch = t.attrDef;
        EXPECT_EQ(CalcFileSystemReliabilityScore(c), t.score);
    }
}

TEST(NTFSCandidates, BuildMergeAndRemove) {
    // A structure at cluster 0, or too near the start, places no volume;
    // 4 KiB sectors need one sector of lead, 512-byte ones eight.
    EXPECT_EQ(CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(100, 0, 8, 8,
                                                                                  1000, 512),
              nullptr);
    EXPECT_EQ(
        CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(10, 2, 8, 8, 1000, 512),
        nullptr);
    EXPECT_EQ(CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(100, 1, 4, 8,
                                                                                  1000, 512),
              nullptr);
    auto c = CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(132, 4, 8, 8, 1000,
                                                                                 512);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Start(), 100);
    EXPECT_EQ(c->totalClusters, 112);
    EXPECT_EQ(c->totalSectors, 896);
    EXPECT_NE(CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(104, 4, 1, 8,
                                                                                  1000, 4096),
              nullptr);

    CNTFSCandidateSet set;
    CNTFSPartitionInfoBuilder builder(set);
    builder.Merge(MakeCandidate(100, 8, kNTFSFromMft));
    builder.Merge(MakeCandidate(100, 4, kNTFSFromMft));
    builder.Merge(MakeCandidate(100, 8, kNTFSFromFirstRestartPage));
    ASSERT_EQ(set.Size(), 2u);  // same start, another cluster size: distinct
    EXPECT_EQ((*set.Items().rbegin())->flags, kNTFSFromMft | kNTFSFromFirstRestartPage);
    // Clearing the last flag removes the candidate.
    EXPECT_EQ(builder.AdjustPartitionBuildFromFlag(*MakeCandidate(100, 4, 0), 0, kNTFSFromMft), 1);
    EXPECT_EQ(set.Size(), 1u);
    EXPECT_EQ(builder.AdjustPartitionBuildFromFlag(*MakeCandidate(200, 4, 0), 1, 0), 0);
}

struct Frame {
    std::vector<uint8_t> bytes;
    size_t read = 0;
    int WriteCurFrame(const uint8_t* p, size_t n) {
        bytes.insert(bytes.end(), p, p + n);
        return 1;
    }
    int ReadCurFrame(uint8_t* p, size_t n) {
        if (read + n > bytes.size())
            return 0;
        std::memcpy(p, bytes.data() + read, n);
        read += n;
        return 1;
    }
};

TEST(NTFSCandidates, SavedAndRestoredAsNinetySixBytes) {
    CSearchedNTFSPartitionInfo c(4096);
    c.serialNumber = 0x1122334455667788;
    c.sectorsPerFileRecord = 1;
    c.flags = 0xC7;
    c.mftLocated = 1;
    c.totalClusters = 12345;
    c.logFileMatch = 7;
    c.attrDefMatch = 1;
    c.upCaseMatch = 32;
    c.mftRecordSector = 260;
    c.logFileRecordSector = 260;
    c.attrDefRecordSector = 261;
    c.upCaseRecordSector = 262;
    c.bitmapSectors = 16384;
    Frame f;
    ASSERT_TRUE(c.Save(f));
    ASSERT_EQ(f.bytes.size(), 96u);
    EXPECT_EQ(vk::LoadLE<uint64_t>(f.bytes.data()), 0x1122334455667788u);
    EXPECT_EQ(vk::LoadLE<uint32_t>(f.bytes.data() + 12), 0xC7u);
    EXPECT_EQ(vk::LoadLE<int64_t>(f.bytes.data() + 88), 16384);
    CSearchedNTFSPartitionInfo back(4096);
    ASSERT_TRUE(back.Restore(f));
    Frame again;
    back.Save(again);
    EXPECT_EQ(again.bytes, f.bytes);
    Frame shortFrame;
    shortFrame.bytes.assign(95, 0);
    EXPECT_FALSE(back.Restore(shortFrame));
}

// End-of-scan pruning: the first two in start order stay; later ones need a
// score of 11 and a folder match; with three or more left, weak candidates
// whose $MFT was never seen go. The kept ones come best first.
TEST(NTFSCandidates, PruningAndOrder) {
    struct Case {
        const char* name;
        std::vector<std::tuple<long long, uint32_t, long long, long long>>
            in;                       // start, flags, folders, mft
        std::vector<long long> kept;  // starts, best first
    } cases[] = {
        {"two are always kept",
         {{100, kNTFSFromFolders, 0, -1}, {200, kNTFSFromFolders, 0, -1}},
         {100, 200}},
        {"a third without folder match goes",
         {{100, 0x03, 0, -1}, {200, 0x03, 0, -1}, {300, 0x0F, 0, -1}},
         {100, 200}},
        {"weak ones go when three are left, unless their $MFT was seen",
         {{100, 0x01, 0, -1}, {200, 0x08, 0, 232}, {300, 0x07, 3, -1}},
         {300, 200}},
        {"folders decide between equal scores",
         {{100, kNTFSFromMft, 0, 132}, {200, kNTFSFromMirror, 5, 9000}},
         {200, 100}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        MemoryStorageDevice device(std::vector<uint8_t>(64 * 512, 0), 512);
        CNTFSSearchController searcher;
        searcher.SetDevice(&device);
        searcher.SetBlockSize(64);
        searcher.PreparetoSearch();
        for (const auto& [start, flags, folders, mft] : t.in) {
            Candidate c = MakeCandidate(start, 8, flags, folders);
            c->mftRecordSector = mft;
            searcher.Candidates().Insert(std::move(c));
        }
        searcher.EndSearch(1);
        std::vector<long long> kept;
        for (const CSearchedNTFSPartitionInfo* c : searcher.Kept())
            kept.push_back(c->Start());
        EXPECT_EQ(kept, t.kept);
    }
}

TEST(NTFSCandidates, RecordNumbersFromTheirPlaceInTheMft) {
    // An $MFT of 1 KiB records in two runs: clusters 4-7 and 20-21 of a
    // volume at sector 1000 with clusters of 8 sectors.
    std::vector<uint8_t> r(1024, 0);
    CNTFSDataRunList runs;
    runs.AddDataRun({4, 0, 4});
    runs.AddDataRun({20, 4, 2});
    CMFTInfo mft;
    mft.GetNTFSDataRunList() = runs;
    struct Case {
        int64_t sector;
        uint32_t offset;
        int64_t number;
    } cases[] = {
        {1000 + 32, 0, 0},   {1000 + 34, 0, 1},    {1000 + 38, 0, 3},   {1000 + 33, 0, -1},
        {1000 + 160, 0, 16}, {1000 + 174, 0, 23},  {1000 + 176, 0, -1}, {1000 + 40 + 32, 0, -1},
        {999, 0, -1},        {1000 + 32, 512, -1},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.sector);
        EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(t.sector, t.offset, mft, 1000, 8, 512),
                  t.number);
    }
    // 1 KiB records four to a 4 KiB sector.
    EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(1004, 3072, mft, 1000, 1, 4096), 3);
}

// ---------------------------------------------------------------- $UpCase

TEST_F(NTFSDeepScanTest, UpCaseSlicesOfMkntfsAndWindowsTablesAreRecognised) {
    // The table of the fixture volume (mkntfs), record 10's data.
    const std::vector<uint8_t> img = LoadBytes("ntfs");
    ImageBytes volume(img);
    std::vector<uint8_t> rec(img.begin() + static_cast<long>(volume.RecordAt(10)),
                             img.begin() + static_cast<long>(volume.RecordAt(10) + 1024));
    CNTFSFileRecord record(rec.data(), rec.size());
    ASSERT_TRUE(record.IsValid());
    CNTFSDataRunList runs;
    int64_t size = 0;
    ASSERT_TRUE(
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, false, &size));
    ASSERT_EQ(size, 131072);
    const uint8_t* table = img.data() + runs.GetLCN(0) * volume.cluster;
    std::vector<uint8_t> windows(table, table + size);
    int differ = 0;
    for (size_t s = 0; s < 256; ++s) {
        SCOPED_TRACE(s);
        EXPECT_TRUE(CUpCaseFileAnalyzer::IsUpCaseSlice(table + 512 * s));
        // A table that maps fewer code units (as Windows' does): some
        // entries mkntfs maps are left as they are.
        for (size_t i = 0; i < 256; ++i) {
            const uint16_t code = static_cast<uint16_t>(256 * s + i);
            if (s >= 2 && vk::LoadLE<uint16_t>(windows.data() + 2 * code) != code && differ < 340) {
                vk::StoreLE<uint16_t>(windows.data() + 2 * code, code);
                ++differ;
            }
        }
        EXPECT_TRUE(CUpCaseFileAnalyzer::IsUpCaseSlice(windows.data() + 512 * s));
    }
    EXPECT_EQ(differ, 340);
    // Not an upper-case table: a lower-case letter mapped elsewhere, the
    // first slice with its second unit zero (it opens like an empty
    // sector), text, zeros.
    std::vector<uint8_t> wrong(table, table + 512);
    vk::StoreLE<uint16_t>(wrong.data() + 2 * 'a', 'B');
    EXPECT_FALSE(CUpCaseFileAnalyzer::IsUpCaseSlice(wrong.data()));
    std::vector<uint8_t> secondZero(table, table + 512);
    vk::StoreLE<uint16_t>(secondZero.data() + 2, 0);
    EXPECT_FALSE(CUpCaseFileAnalyzer::IsUpCaseSlice(secondZero.data()));
    std::vector<uint8_t> text(512, 'x'), zeros(512, 0);
    EXPECT_FALSE(CUpCaseFileAnalyzer::IsUpCaseSlice(text.data()));
    EXPECT_FALSE(CUpCaseFileAnalyzer::IsUpCaseSlice(zeros.data()));
}

}  // namespace
