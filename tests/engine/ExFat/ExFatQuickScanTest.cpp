// Quick scans of exFAT volumes: the committed fixtures (written by
// exfat-fuse), copies of them damaged in memory, and a volume generated at
// test time. The exFAT quick searcher feeds the real tree builder, every
// found file is recovered into a folder, and the folder is checked against
// the manifests and against what Sleuth Kit lists and recovers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ExFatFileNode.h"
#include "ExFatQuickSearch.h"
#include "ExFatTestSupport.h"
#include "FatQuickScanHarness.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "RestoreScanSink.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "support/EngineRows.h"
#include "support/TestSupport.h"

using namespace velmora::exfattest;
using velmora::fattest::CollectingTree;
using velmora::fattest::HaveTool;
using velmora::fattest::NodePath;
using velmora::fattest::RecordingProgress;
using velmora::fattest::RecoverFolderStats;
using velmora::fattest::RecoverToFolder;
using velmora::fattest::RunTool;
using velmora::test::TempDir;

namespace {

std::string Script(const std::string& name) {
    return velmora::test::SourceDir() + "/tests/engine/" + name;
}

int RunPython(const std::string& script, std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), {"python3", Script(script)});
    return RunTool(args, out);
}

// One quick scan of a volume held in memory.
struct ExFatScan {
    ExFatScan(std::vector<uint8_t> bytes, int sectorSize, bool showLive = true)
        : device(std::make_unique<FlakyDevice>(std::move(bytes), sectorSize)) {
        device->AttachVolumeRecord();
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(showLive ? SCAN_COMPLETE : SCAN_QUICK);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("fixture", &tree, filter);
        searcher.reset(static_cast<CExFatQuickSearch*>(CreateEXFatQuickSearcher()));
        searcher->SetDirecotryTreeBuilder(builder);
    }
    ~ExFatScan() {
        searcher.reset();
        builder->Release();
    }
    VKRESULT Run() {
        result = searcher->QuickSearchFiles(device.get(), &progress);
        return result;
    }
    // Everything shown below the root, by path.
    std::map<std::string, IFileNode*> Files(bool withFolders = false) const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown)
            if (withFolders || !n->IsDirectory())
                out[NodePath(n)] = n;
        return out;
    }
    size_t CountBelow(const std::string& folder) const {
        size_t n = 0;
        for (const auto& [path, node] : Files())
            n += path.rfind(folder + "/", 0) == 0;
        return n;
    }
    CExFatFileNode* Node(const std::string& path) const {
        const auto files = Files(true);
        auto it = files.find(path);
        return it == files.end() ? nullptr : dynamic_cast<CExFatFileNode*>(it->second);
    }

    std::unique_ptr<FlakyDevice> device;
    IDirecotryTreeBuilder* builder = nullptr;
    CollectingTree tree;
    RecordingProgress progress;
    std::unique_ptr<CExFatQuickSearch> searcher;
    VKRESULT result = 0;
};

void ExpectFinished(const RecordingProgress& p, VKRESULT result) {
    ASSERT_FALSE(p.records.empty());
    EXPECT_EQ(p.records.back().state, PROGRESS_FINISHED);
    EXPECT_EQ(p.records.back().total, 1);
    EXPECT_EQ(p.records.back().done, 1);
    (void)result;
}

// The files and folders fls lists (path without the leading "/", deleted),
// without the entries it makes up for the file system's own structures.
std::set<std::pair<std::string, bool>> FlsListing(const std::string& image) {
    std::string out;
    if (RunTool({"fls", "-r", "-p", image}, &out) != 0)
        return {};
    std::set<std::pair<std::string, bool>> listed;
    for (const std::string& line : velmora::fattest::Split(out, '\n')) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.rfind("v/v", 0) == 0 || line.rfind("V/V", 0) == 0)
            continue;
        const std::string name = line.substr(tab + 1);
        if (name.empty() || name[0] == '$' ||
            name.find("(Volume Label Entry)") != std::string::npos)
            continue;
        listed.emplace(name, line.find(" * ") != std::string::npos);
    }
    return listed;
}

std::set<std::pair<std::string, bool>> OurListing(const ExFatScan& scan) {
    std::set<std::pair<std::string, bool>> listed;
    for (const auto& [path, node] : scan.Files(true))
        listed.emplace(path.substr(1), node->IsDeleted() != 0);
    return listed;
}

class ExFatQuickScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // exFAT times are local time; the fixtures were written in UTC.
        setenv("TZ", "UTC", 1);
        tzset();
        s_dir = new TempDir();
        for (const char* name : {"exfat", "exfat_nofatdir", "exfat_4k"})
            CommittedImage(name, s_dir->path());
        // /fragA.bin (eight clusters, FAT-chained) valid to 5,000 bytes.
        velmora::test::RunProgram(
            {"python3", velmora::test::SourceDir() + "/tests/fixtures/exfat/make_valid_length.py",
             Image("exfat"), Image("exfat_valid"), "fragA.bin", "5000"});
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        if (!std::filesystem::exists(Image("exfat")))
            GTEST_SKIP() << "the committed exFAT images cannot be unpacked here (python3)";
    }
    static std::string Image(const std::string& name) {
        return s_dir->path() + "/" + name + ".img";
    }
    static std::string Manifest(const std::string& name) {
        return s_dir->path() + "/" + name + ".json";
    }
    static std::vector<uint8_t> Bytes(const std::string& name) {
        return velmora::test::ReadFile(Image(name));
    }

    static inline TempDir* s_dir = nullptr;
    TempDir m_tmp;
};

struct FixtureCase {
    const char* name;
    int sectorSize;
    size_t manyFiles;  // in /Many
};

TEST_F(ExFatQuickScanTest, FixturesComeBackWholeAndMatchSleuthKit) {
    const FixtureCase cases[] = {
        {"exfat", 512, 120},
        // /Many as contiguous clusters with the no-FAT-chain flag and zero
        // FAT entries: read along the FAT, only its first cluster's files
        // would be found.
        {"exfat_nofatdir", 512, 120},
        {"exfat_4k", 4096, 0},
    };
    const bool sleuthKit =
        VELMORA_HAVE_TOOL(HaveTool("fls") && HaveTool("tsk_recover"), "Sleuth Kit");
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExFatScan scan(Bytes(c.name), c.sectorSize);
        EXPECT_EQ(scan.Run(), VK_OK);
        ExpectFinished(scan.progress, VK_OK);
        EXPECT_EQ(scan.tree.roots, 1);
        EXPECT_EQ(scan.searcher->GetDamageCount(), 0u);
        EXPECT_EQ(scan.CountBelow("/Many"), c.manyFiles);

        CSearchedPartitionInfo* records[2] = {};
        ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(records, 2), 1);
        std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
        EXPECT_EQ(record->fileSystemType, 7);
        EXPECT_EQ(record->GetSectorSize(), static_cast<unsigned>(c.sectorSize));
        EXPECT_EQ(record->runOriginSector,
                  static_cast<long long>(scan.searcher->GetPartition().GetDataRegionStartSector()));
        EXPECT_EQ(record->sectorsPerCluster, scan.searcher->GetPartition().GetSectorsPerCluster());

        // Names, paths and the deleted state as Sleuth Kit lists them: the
        // 284-byte name in /Docs included, whole.
        if (sleuthKit) {
            EXPECT_EQ(OurListing(scan), FlsListing(Image(c.name)));
        }

        const std::string out = m_tmp / (std::string(c.name) + "-out");
        const RecoverFolderStats stats =
            RecoverToFolder(scan.Files(true), scan.device.get(), scan.searcher.get(), out, false);
        EXPECT_EQ(stats.failed, 0);
        std::string report;
        EXPECT_EQ(RunPython("FAT/check_recovered.py", {Manifest(c.name), out}, &report), 0)
            << report;
        if (sleuthKit) {
            EXPECT_EQ(RunPython("FAT/compare_tsk.py", {Image(c.name), out}, &report), 0) << report;
        }

        std::unique_ptr<IVolumeAnalyze> analyze(CreateExfatVolumeAnalyze(scan.device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), 7);
        EXPECT_EQ(analyze->GetTotalSector(), scan.device->GetTotalSectors());
        char label[8] = "unset";
        EXPECT_EQ(analyze->GetLabel(label, sizeof(label)), 0);
        EXPECT_STREQ(label, "");
    }
}

// A file whose valid data length lies inside its second cluster comes back
// as the volume shows it: its written bytes, then zeros where its clusters
// still hold its old bytes. (Sleuth Kit and exfat-fuse give those old bytes:
// the manifest, made from the format's rule, is the reference here.)
TEST_F(ExFatQuickScanTest, BytesPastTheValidDataLengthAreZeros) {
    ASSERT_TRUE(std::filesystem::exists(Image("exfat_valid")));
    ExFatScan scan(Bytes("exfat_valid"), 512);
    EXPECT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files(true);
    ASSERT_TRUE(files.count("/fragA.bin"));
    EXPECT_EQ(files.at("/fragA.bin")->GetFileSize(), 32768);
    const std::string out = m_tmp / "exfat_valid-out";
    const RecoverFolderStats stats =
        RecoverToFolder(files, scan.device.get(), scan.searcher.get(), out, false);
    EXPECT_EQ(stats.failed, 0);
    std::string report;
    EXPECT_EQ(RunPython("FAT/check_recovered.py", {Manifest("exfat_valid"), out}, &report), 0)
        << report;
}

TEST_F(ExFatQuickScanTest, ThroughTheScanControllers) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "the scan driver is not built in this configuration";
#endif
    for (const FixtureCase& c :
         {FixtureCase{"exfat", 512, 120}, FixtureCase{"exfat_4k", 4096, 0}}) {
        SCOPED_TRACE(c.name);
        std::string log, report;
        const std::string tree = velmora::fattest::DriveQuickScanAndRecover(
            Image(c.name), 7, c.sectorSize, m_tmp / (std::string(c.name) + "-driven"), &log);
        ASSERT_FALSE(tree.empty()) << log;
        EXPECT_EQ(RunPython("FAT/check_recovered.py", {Manifest(c.name), tree}, &report), 0)
            << report;
        if (VELMORA_HAVE_TOOL(HaveTool("tsk_recover") && HaveTool("fls"), "Sleuth Kit")) {
            EXPECT_EQ(RunPython("FAT/compare_tsk.py", {Image(c.name), tree}, &report), 0) << report;
        }
    }
}

TEST_F(ExFatQuickScanTest, OnlyDeletedFilesWhenAsked) {
    ExFatScan scan(Bytes("exfat"), 512, false);
    ASSERT_EQ(scan.Run(), VK_OK);
    std::set<std::string> deleted;
    for (const auto& [path, node] : scan.Files())
        deleted.insert(path);
    const std::set<std::string> expected = {"/Pics/deleted photo.jpg", "/Docs/deleted note.txt",
                                            "/Gone/lost photo.jpg", "/Gone/Inner/deep report.pdf"};
    EXPECT_EQ(deleted, expected);
    for (const char* folder : {"/Gone", "/Gone/Inner"}) {
        ASSERT_NE(scan.Node(folder), nullptr) << folder;
        EXPECT_TRUE(scan.Node(folder)->IsDeleted()) << folder;
    }
    EXPECT_FALSE(scan.Node("/Docs")->IsDeleted());
}

// Damage done to a copy of exfat.img; each must cost only what depends on it.
TEST_F(ExFatQuickScanTest, DamagedVolumes) {
    const std::vector<uint8_t> good = Bytes("exfat");
    const RawVolume raw(good);
    const uint32_t docs = raw.FirstCluster(raw.FindSet("/Docs"));
    const uint32_t fragA = raw.FirstCluster(raw.FindSet("/fragA.bin"));
    const uint32_t fragB = raw.FirstCluster(raw.FindSet("/fragB.bin"));
    const uint32_t many = raw.FirstCluster(raw.FindSet("/Many"));
    ASSERT_TRUE(docs && fragA && fragB && many);
    ASSERT_EQ(raw.Clusters(many, 4 * 4096, false).size(), 4u);  // FAT-chained
    const uint64_t sub = raw.FindSet("/Docs/Sub");
    ASSERT_NE(sub, 0u);

    // A cyclic FAT: fragA's second cluster leads back to its first, /Many's
    // last cluster to its first.
    {
        std::vector<uint8_t> bytes = good;
        raw.SetFatEntry(bytes, raw.FatEntry(fragA), fragA);
        const auto chain = raw.Clusters(many, 4 * 4096, false);
        raw.SetFatEntry(bytes, chain.back(), many);
        ExFatScan scan(std::move(bytes), 512);
        EXPECT_EQ(scan.Run(), VK_OK);
        EXPECT_EQ(scan.CountBelow("/Many"), 120u);
        CExFatFileNode* a = scan.Node("/fragA.bin");
        ASSERT_NE(a, nullptr);
        auto* runs = dynamic_cast<CDataRunList*>(a->GetDataRunList());
        ASSERT_NE(runs, nullptr);
        EXPECT_EQ(runs->GetTotalLength(), 2);
    }
    // A chain into a cluster past the heap (which the FAT has room for):
    // never followed there.
    {
        std::vector<uint8_t> bytes = good;
        ASSERT_GT(raw.fatLength * 512 / 4, raw.count + 100);
        raw.SetFatEntry(bytes, fragB, raw.count + 20);
        ExFatScan scan(std::move(bytes), 512);
        EXPECT_EQ(scan.Run(), VK_OK);
        CExFatFileNode* b = scan.Node("/fragB.bin");
        ASSERT_NE(b, nullptr);
        IDataRunList* runs = b->GetDataRunList();
        ASSERT_NE(runs, nullptr);
        int n = 0;
        for (const DataRun* r = runs->GetFirst(); r; r = runs->GetNext(), ++n)
            EXPECT_LE(r->start + r->length, static_cast<long long>(raw.count)) << r->start;
        EXPECT_EQ(n, 1);
    }
    // A folder that holds itself, and one that holds its parent.
    for (const uint32_t target : {docs, raw.root}) {
        std::vector<uint8_t> bytes = good;
        vk::StoreLE<uint32_t>(&bytes[sub + 32 + 20], target);
        ExFatScan scan(std::move(bytes), 512);
        EXPECT_EQ(scan.Run(), VK_OK);
        EXPECT_TRUE(scan.Files().count("/Docs/report.pdf")) << target;
        EXPECT_TRUE(scan.Files().count("/Pics/photo one.jpg")) << target;
        EXPECT_EQ(scan.CountBelow("/Many"), 120u);
    }
    // A folder whose cluster cannot be read costs its own files only.
    {
        ExFatScan scan(good, 512);
        scan.device->bad.insert(static_cast<long long>(raw.ClusterOffset(docs) / 512));
        EXPECT_EQ(scan.Run(), VK_OK);
        EXPECT_FALSE(scan.Files().count("/Docs/report.pdf"));
        EXPECT_TRUE(scan.Files().count("/Pics/photo one.jpg"));
        EXPECT_TRUE(scan.Files().count("/Gone/Inner/deep report.pdf"));
        EXPECT_EQ(scan.CountBelow("/Many"), 120u);
        EXPECT_GE(scan.searcher->GetDamageCount(), 1u);
    }
    // The root folder unreadable: nothing to walk, and the caller is told.
    {
        ExFatScan scan(good, 512);
        scan.device->bad.insert(static_cast<long long>(raw.ClusterOffset(raw.root) / 512));
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kErrExFatRootUnreadable));
        ExpectFinished(scan.progress, scan.result);
        EXPECT_TRUE(scan.Files(true).empty());
    }
    // No boot sector, a boot sector for another sector size, a device whose
    // record claims sectors larger than exFAT has: refused with the
    // module's code and a finished record, nothing read as exFAT.
    struct Refusal {
        const char* what;
        std::vector<uint8_t> bytes;
        int sectorSize;
    };
    std::vector<uint8_t> zeroed = good;
    std::fill(zeroed.begin(), zeroed.begin() + 512, 0);
    const Refusal refusals[] = {
        {"boot sector zeroed", zeroed, 512},
        {"512-byte sectors read as 4096", good, 4096},
        {"4096-byte sectors read as 512", Bytes("exfat_4k"), 512},
        {"4096-byte sectors read as 8192", Bytes("exfat_4k"), 8192},
    };
    for (const Refusal& r : refusals) {
        ExFatScan scan(r.bytes, r.sectorSize);
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kErrExFatNoBootSector)) << r.what;
        ExpectFinished(scan.progress, scan.result);
        EXPECT_TRUE(scan.Files(true).empty()) << r.what;
        EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(nullptr, 0), 0) << r.what;
        EXPECT_EQ(CreateExfatVolumeAnalyze(scan.device.get(), 0), nullptr) << r.what;
    }
}

TEST_F(ExFatQuickScanTest, VolumeCutShortGivesOnlyWholeFiles) {
    // Cut 40 clusters into the heap: the boot sector still claims 32 MiB.
    std::vector<uint8_t> bytes = Bytes("exfat");
    const RawVolume raw(bytes);
    const uint64_t cut = raw.ClusterOffset(42);
    bytes.resize(cut);
    ExFatScan scan(std::move(bytes), 512);
    EXPECT_EQ(scan.Run(), VK_OK);
    ExpectFinished(scan.progress, scan.result);
    EXPECT_TRUE(scan.Files().count("/short.txt"));
    const std::string out = m_tmp / "cut";
    const RecoverFolderStats stats =
        RecoverToFolder(scan.Files(), scan.device.get(), scan.searcher.get(), out, false);
    EXPECT_GE(stats.written, 1);
    // Every file with a cluster past the end is reported as not recovered.
    int pastTheEnd = 0;
    for (const auto& [path, node] : scan.Files()) {
        IDataRunList* runs = static_cast<CExFatFileNode*>(node)->GetDataRunList();
        bool past = false;
        for (const DataRun* r = runs ? runs->GetFirst() : nullptr; r; r = runs->GetNext())
            past |= raw.ClusterOffset(static_cast<uint64_t>(r->start + r->length) + 2) > cut;
        pastTheEnd += past;
    }
    EXPECT_GE(pastTheEnd, 2);
    EXPECT_EQ(stats.failed, pastTheEnd);
}

// A file that was FAT-chained when it was deleted: its FAT entries were
// freed, so its clusters are taken contiguously from its first one.
TEST_F(ExFatQuickScanTest, DeletedChainedFileComesBackContiguously) {
    std::vector<uint8_t> bytes = Bytes("exfat");
    const RawVolume raw(bytes);
    const uint64_t set = raw.FindSet("/Pics/photo one.jpg");
    ASSERT_NE(set, 0u);
    const uint32_t first = raw.FirstCluster(set);
    const uint64_t length = vk::LoadLE<uint64_t>(&bytes[set + 32 + 24]);
    ASSERT_GT(length, 4096u);
    const std::vector<uint8_t> expected(bytes.begin() + raw.ClusterOffset(first),
                                        bytes.begin() + raw.ClusterOffset(first) + length);
    // The set says "FAT chain" and is deleted; the chain's entries are 0.
    bytes[set + 33] &= static_cast<uint8_t>(~0x02);
    for (unsigned k = 0; k <= bytes[set + 1]; ++k)
        bytes[set + 32 * k] &= 0x7F;
    for (uint32_t c = first; c < first + (length + 4095) / 4096; ++c)
        raw.SetFatEntry(bytes, c, 0);
    ExFatScan scan(std::move(bytes), 512);
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files();
    ASSERT_TRUE(files.count("/Pics/photo one.jpg"));
    EXPECT_TRUE(files.at("/Pics/photo one.jpg")->IsDeleted());
    const std::string out = m_tmp / "chained";
    RecoverToFolder({{"/photo one.jpg", files.at("/Pics/photo one.jpg")}}, scan.device.get(),
                    scan.searcher.get(), out, false);
    EXPECT_EQ(velmora::test::ReadFile(out + "/photo one.jpg"), expected);
}

// A volume keeping two FATs whose second is the active one: chains are read
// from that one, the first may be stale.
TEST_F(ExFatQuickScanTest, ChainsComeFromTheActiveFat) {
    std::vector<uint8_t> bytes = Bytes("exfat");
    const RawVolume raw(bytes);
    const uint64_t fatBytes = raw.fatLength * 512ull;
    const uint64_t fat2 = (raw.fatOffset + raw.fatLength) * 512ull;
    ASSERT_LE((raw.fatOffset + 2 * raw.fatLength), raw.heap);  // room in the alignment gap
    std::copy(bytes.begin() + raw.fatOffset * 512, bytes.begin() + raw.fatOffset * 512 + fatBytes,
              bytes.begin() + fat2);
    bytes[110] = 2;                              // two FATs
    vk::StoreLE<uint16_t>(&bytes[106], 0x0001);  // the second is active
    const uint32_t fragA = raw.FirstCluster(raw.FindSet("/fragA.bin"));
    raw.SetFatEntry(bytes, fragA, 0xFFFFFFFF);  // the first FAT ends fragA at once
    ExFatScan scan(std::move(bytes), 512);
    ASSERT_EQ(scan.Run(), VK_OK);
    const std::string out = m_tmp / "active";
    RecoverToFolder(scan.Files(), scan.device.get(), scan.searcher.get(), out, false);
    std::string report;
    EXPECT_EQ(RunPython("FAT/check_recovered.py", {Manifest("exfat"), out}, &report), 0) << report;
}

TEST_F(ExFatQuickScanTest, ProgressRisesAndStopKeepsDeliveredNodes) {
    {
        ExFatScan scan(Bytes("exfat"), 512);
        ASSERT_EQ(scan.Run(), VK_OK);
        const auto& r = scan.progress.records;
        ASSERT_GE(r.size(), 3u);
        long long last = -1;
        for (size_t i = 0; i + 1 < r.size(); ++i) {
            EXPECT_EQ(r[i].state, PROGRESS_RUNNING);
            EXPECT_GT(r[i].done * 100 / r[i].total, last) << i;
            last = r[i].done * 100 / r[i].total;
        }
    }
    {
        ExFatScan scan(Bytes("exfat"), 512);
        scan.progress.stopAfter = 1;
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kErrExFatCancelled));
        ExpectFinished(scan.progress, scan.result);
        const auto files = scan.Files(true);
        // The root's entries and the first folder's were handed over.
        EXPECT_TRUE(files.count("/short.txt"));
        EXPECT_TRUE(files.count("/Docs/report.pdf"));
        EXPECT_FALSE(files.count("/Docs/Sub/A very long file name with spaces.txt"));
    }
}

TEST_F(ExFatQuickScanTest, RefusedCallsStillFinish) {
    ExFatScan scan(Bytes("exfat"), 512);
    RecordingProgress progress;
    EXPECT_TRUE(ResultIs(scan.searcher->QuickSearchFiles(nullptr, &progress), kModuleFATSearch,
                         kErrBadArgument));
    ExpectFinished(progress, 0);
    EXPECT_TRUE(ResultIs(scan.searcher->QuickSearchFiles(scan.device.get(), nullptr),
                         kModuleFATSearch, kErrBadArgument));
    CExFatQuickSearch noBuilder;
    RecordingProgress p2;
    EXPECT_TRUE(ResultIs(noBuilder.QuickSearchFiles(scan.device.get(), &p2), kModuleFATSearch,
                         kErrNoInformation));
    ExpectFinished(p2, 0);
    EXPECT_EQ(noBuilder.GetSearchedPartitionInfo(nullptr, 0), 0);
    EXPECT_EQ(CreateExfatVolumeAnalyze(nullptr, 0), nullptr);
}

// A saved result replayed later: the data-recovery object is picked by the
// node's searcher type, as the interface does, and must know the node's
// volume.
class ReplaySink : public RestoreScanSink {
public:
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress*,
                                 IStorageDevice*) override {
        builder->AddSearcherInfo(SEARCHER_EXFAT, rootId);
        for (IFileNode* n : nodes)
            if (!builder->AddNode(n, SEARCHER_EXFAT))
                n->Release();
        nodes.clear();
        builder->FlashBuild(SEARCHER_EXFAT);
    }
    std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int type) override {
        return stored[type];
    }
    ~ReplaySink() override {
        for (IFileNode* n : nodes)
            n->Release();
        for (auto& [type, list] : stored)
            for (CSearchedPartitionInfo* r : list)
                delete r;
    }
    long long rootId = 0;
    std::vector<IFileNode*> nodes;
    std::map<int, std::vector<CSearchedPartitionInfo*>> stored;
};

TEST_F(ExFatQuickScanTest, ReplayedResultRecoversByTheNodesType) {
    ExFatScan scan(Bytes("exfat"), 512);
    ASSERT_EQ(scan.Run(), VK_OK);
    ReplaySink sink;
    CSearchedPartitionInfo* record = nullptr;
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(&record, 1), 1);
    sink.stored[SEARCHER_EXFAT].push_back(record);
    sink.rootId = static_cast<long long>(scan.searcher->GetPartition().ConvertClusterNumToSector(
        scan.searcher->GetPartition().GetRootDirCluster()));
    // What a result file keeps of each node: copies.
    for (const auto& [path, node] : scan.Files(true))
        sink.nodes.push_back(node->Clone());

    velmora::test::ScopedEngineRows engine;
    IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_DELETED);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    controller->Initialize(filter);
    ASSERT_TRUE(SetRecoveryRestoreSink(controller, &sink));
    CollectingTree tree;
    RecordingProgress progress;
    EXPECT_EQ(controller->StartDataRecovery(scan.device.get(), &progress, &tree), VK_OK);
    IFileNode* photo = nullptr;
    for (IFileNode* n : tree.shown) {
        if (NodePath(n) == "/Pics/photo one.jpg")
            photo = n;
    }
    ASSERT_NE(photo, nullptr);
    IDataRecovery* recovery = controller->GetDataRecovery(photo->GetSearcheType());
    ASSERT_NE(recovery, nullptr);
    IFileReader* reader = recovery->SetRecoverNode(photo);
    ASSERT_NE(reader, nullptr);
    reader->Release();
    const std::string out = m_tmp / "replayed.jpg";
    EXPECT_EQ(recovery->RecoverTo(out.c_str(), nullptr, 0), VK_OK);
    EXPECT_EQ(std::filesystem::file_size(out), static_cast<uintmax_t>(photo->GetFileSize()));
    recovery->Release();
    controller->Release();
}

// A Windows recycle bin on a card: its "$R" files are shown under the names
// their "$I" files keep, read through the volume's own geometry.
TEST_F(ExFatQuickScanTest, RecycledFilesGetTheirNamesBack) {
    if (!HaveTool("mkfs.exfat"))
        GTEST_SKIP() << "mkfs.exfat is not installed";
    const std::string image = m_tmp / "recycle.img";
    std::string out;
    ASSERT_EQ(RunPython("ExFat/make_exfat_recycle.py", {image}, &out), 0) << out;
    // "path<TAB>original name" for every recycled entry of the manifest.
    ASSERT_EQ(
        RunTool({"python3", "-c",
                 "import json, sys\n"
                 "for e in json.load(open(sys.argv[1]))['volumes'][0]['files']:\n"
                 "    if 'recycled_name' in e: print(e['path'] + '\\t' + e['recycled_name'])\n",
                 m_tmp / "recycle.json"},
                &out),
        0);
    velmora::test::ScopedEngineRows engine;
    ExFatScan scan(velmora::test::ReadFile(image), 512);
    EXPECT_EQ(scan.Run(), VK_OK);
    std::set<std::string> paths;
    for (const auto& [path, node] : scan.Files(true))
        paths.insert(path);
    int recycled = 0;
    for (const std::string& line : velmora::fattest::Split(out, '\n')) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string onDisk = line.substr(0, tab);
        const std::string original = onDisk.substr(0, onDisk.rfind('/') + 1) + line.substr(tab + 1);
        EXPECT_TRUE(paths.count(original)) << onDisk << " should be shown as " << original;
        EXPECT_FALSE(paths.count(onDisk)) << onDisk << " kept its recycled name";
        ++recycled;
    }
    EXPECT_GE(recycled, 4);
    for (const std::string& p : paths)
        EXPECT_EQ(p.find("/$I"), std::string::npos) << p;
    EXPECT_TRUE(paths.count("/keep.txt"));
}

// A volume made at test time with many folders and deleted files.
TEST_F(ExFatQuickScanTest, GeneratedVolumeMatchesManifestAndSleuthKit) {
    VELMORA_REQUIRE_TOOL(HaveTool("mkfs.exfat") && HaveTool("fls") && HaveTool("tsk_recover"),
                         "mkfs.exfat or Sleuth Kit");
    const std::string image = m_tmp / "generated.img";
    std::string out;
    ASSERT_EQ(RunPython("ExFat/make_exfat_volume.py",
                        {image, "64M", "1500", "--per-folder", "150", "--cluster", "2048"}, &out),
              0)
        << out;
    ExFatScan scan(velmora::test::ReadFile(image), 512);
    ASSERT_EQ(scan.Run(), VK_OK);
    EXPECT_EQ(OurListing(scan), FlsListing(image));
    const std::string folder = m_tmp / "generated";
    const RecoverFolderStats stats =
        RecoverToFolder(scan.Files(true), scan.device.get(), scan.searcher.get(), folder, false);
    EXPECT_EQ(stats.failed, 0);
    std::string report;
    EXPECT_EQ(RunPython("FAT/check_recovered.py", {m_tmp / "generated.json", folder}, &report), 0)
        << report;
    EXPECT_EQ(RunPython("FAT/compare_tsk.py", {image, folder}, &report), 0) << report;
}

}  // namespace
