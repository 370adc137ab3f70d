#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IRecoveryFilter.h"
#include "RecoveryController.h"
#include "RecoveryControllers.h"
#include "RecoveryInterfaces.h"
#include "RestoreScanSink.h"
#include "StorageDevices.h"
#include "TestSearchers.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestSupport.h"

namespace velmora::test {
namespace {

struct Reported {
    int state;
    long long total;
    long long done;
    bool operator==(const Reported&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Reported& r) {
    return os << "{" << r.state << "," << r.total << "," << r.done << "}";
}

class RecordingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override {
        reports.push_back({info->state, info->total, info->done});
        results.push_back(info->result);
        if (info->result != 0 || std::any_of(std::begin(info->reserved), std::end(info->reserved),
                                             [](uint8_t b) { return b != 0; })) {
            ++dirtyRecords;
        }
        if (info->state == PROGRESS_PREPARING)
            walking = true;
        else if (walking && info->state == PROGRESS_RUNNING)
            ++blockReports;
    }
    int Continued() override {
        ++continuedCalls;
        return stopAfterBlocks < 0 || blockReports < stopAfterBlocks ? 1 : 0;
    }
    int shouldBuild() override { return build; }

    std::vector<Reported> reports;
    std::vector<uint64_t> results;
    int dirtyRecords = 0;
    int continuedCalls = 0;
    bool walking = false;
    long long blockReports = 0;
    // Continued() answers 0 once this many blocks were walked (-1: never).
    long long stopAfterBlocks = -1;
    int build = 1;
};

class CountingTree : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned count, int) override { nodes += count; }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    long long nodes = 0;
    int roots = 0;
};

// A memory device that reports a chosen sector size (0 included) while its
// bytes are laid out in `layoutSize` sectors.
class SectorSizeDevice : public MemoryStorageDevice {
public:
    SectorSizeDevice(std::vector<uint8_t> bytes, int layoutSize, int reported)
        : MemoryStorageDevice(std::move(bytes), layoutSize), reported_(reported) {}
    int GetSectorSize() override { return reported_; }

private:
    int reported_;
};

class RecordingSink : public RestoreScanSink {
public:
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                 IStorageDevice* device) override {
        ++replays;
        gotAll = builder != nullptr && progress != nullptr && device != nullptr;
    }
    std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int type) override {
        askedTypes.push_back(type);
        return stored[type];
    }
    ~RecordingSink() override {
        for (auto& [type, list] : stored)
            for (CSearchedPartitionInfo* r : list)
                delete r;
    }
    int replays = 0;
    bool gotAll = false;
    std::vector<int> askedTypes;
    std::map<int, std::vector<CSearchedPartitionInfo*>> stored;
};

struct ControllerDeleter {
    void operator()(IRecoveryController* c) const { c->Release(); }
};
using ControllerPtr = std::unique_ptr<IRecoveryController, ControllerDeleter>;

ControllerPtr MakeController(_RECOVERY_CONTROLLER_TYPE type, bool withFilter = true) {
    ControllerPtr controller(CreateRecoveryController(type));
    if (controller && withFilter)
        controller->Initialize(CreateFilter());
    return controller;
}

std::vector<SearcherCall> CallsNamed(const std::string& what) {
    std::vector<SearcherCall> out;
    for (const SearcherCall& c : SearcherLog())
        if (c.what == what)
            out.push_back(c);
    return out;
}

std::vector<SearcherCall> CallsOf(int type) {
    std::vector<SearcherCall> out;
    for (const SearcherCall& c : SearcherLog())
        if (c.type == type)
            out.push_back(c);
    return out;
}

std::vector<std::string> NamesOf(const std::vector<SearcherCall>& calls) {
    std::vector<std::string> out;
    for (const SearcherCall& c : calls)
        out.push_back(c.what);
    return out;
}

const std::vector<int> kDeepOrder = {SEARCHER_HFSPLUS, SEARCHER_EXFAT, SEARCHER_FAT,
                                     SEARCHER_RAW,     SEARCHER_NTFS,  SEARCHER_APFS};

TEST(RecoveryControllerTest, CreateInitializeAndBlockLength) {
    for (auto [type, expected] : {std::pair{0, RECOVERY_CONTROLLER_DELETED},
                                  {1, RECOVERY_CONTROLLER_COMPLETE},
                                  {2, RECOVERY_CONTROLLER_PARTITION}}) {
        ControllerPtr c(CreateRecoveryController(static_cast<_RECOVERY_CONTROLLER_TYPE>(type)));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->thisType(), expected);
        EXPECT_EQ(c->Initialize(nullptr), 0);
        EXPECT_EQ(c->Initialize(CreateFilter()), 1);
        // Nothing scanned yet: nothing to recover.
        EXPECT_EQ(c->GetDataRecovery(SEARCHER_NTFS), nullptr);
    }
    EXPECT_EQ(CreateRecoveryController(static_cast<_RECOVERY_CONTROLLER_TYPE>(3)), nullptr);
    EXPECT_EQ(CreateRecoveryController(static_cast<_RECOVERY_CONTROLLER_TYPE>(-1)), nullptr);

    EXPECT_EQ(DeepScanBlockSectors(512), 8192);
    EXPECT_EQ(DeepScanBlockSectors(4096), 1024);
    EXPECT_EQ(DeepScanBlockSectors(0), 8192);
    EXPECT_EQ(DeepScanBlockSectors(-4), 8192);
    EXPECT_EQ(DeepScanBlockSectors(8 << 20), 8192);
}

// The walk offers every sector once, in order, in blocks of 4 MiB of
// sectors (the last one short), to every searcher in creation order, and
// reads each block from the device once.
TEST(RecoveryControllerTest, DeepWalkIsExact) {
    struct Case {
        int layoutSize;
        int reportedSize;
        long long sectors;
        long long block;
    };
    const Case cases[] = {
        {512, 512, 2 * 8192 + 1, 8192},  // the last block holds one sector
        {4096, 4096, 2 * 1024 + 1, 1024},
        {512, 512, 2 * 8192, 8192},       // an exact number of blocks
        {512, 512, 5, 8192},              // less than a block
        {4096, 4096, 1024 + 1023, 1024},  // the last block one sector short
        {512, 0, 2 * 8192 + 1, 8192},     // a sector size the device cannot tell
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << "ssz " << tc.reportedSize << " sectors " << tc.sectors);
        FactoryTableScope scope;
        FactoryTableScope::InstallAllDeep();
        SectorSizeDevice device(StampedSectors(tc.sectors, tc.layoutSize), tc.layoutSize,
                                tc.reportedSize);
        ASSERT_EQ(device.GetTotalSectors(), tc.sectors);
        RecordingProgress progress;
        CountingTree tree;
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
        ASSERT_EQ(controller->StartDataRecovery(&device, &progress, &tree), VK_OK);

        const long long blocks = (tc.sectors + tc.block - 1) / tc.block;
        std::vector<SearcherCall> offered = CallsNamed("AnalyzeBlock");
        ASSERT_EQ(offered.size(), static_cast<size_t>(blocks) * kDeepOrder.size());
        for (long long k = 0; k < blocks; ++k) {
            for (size_t i = 0; i < kDeepOrder.size(); ++i) {
                const SearcherCall& c = offered[static_cast<size_t>(k) * kDeepOrder.size() + i];
                EXPECT_EQ(c.type, kDeepOrder[i]);
                EXPECT_EQ(c.a, k * tc.block);
                EXPECT_EQ(c.b, std::min(tc.block, tc.sectors - k * tc.block));
            }
        }
        // One inner read per block: the searchers' own reads came from the cache.
        EXPECT_EQ(device.Reads(), blocks);
        ASSERT_EQ(RecordingDeepSearcher::Live().size(), kDeepOrder.size());
        for (RecordingDeepSearcher* s : RecordingDeepSearcher::Live()) {
            EXPECT_EQ(s->badBlocks, 0);
            EXPECT_EQ(s->bitmap_, RecordingDeepSearcher::Live()[0]->bitmap_);
            EXPECT_NE(s->builder_, nullptr);
        }

        for (int type : kDeepOrder) {
            std::vector<SearcherCall> calls = CallsOf(type);
            std::vector<std::string> names = NamesOf(calls);
            names.erase(std::remove(names.begin(), names.end(), "AnalyzeBlock"), names.end());
            std::vector<std::string> expected;
            if (type == SEARCHER_HFSPLUS)
                expected = {"SetIProgressSink"};
            if (type == SEARCHER_FAT)
                expected = {"SetFileSectorMap"};
            if (type == SEARCHER_RAW)
                expected = {"SetFileSectorMap", "SetIProgressSink"};
            for (const char* n : {"SetDevice", "SetBlockSize", "SetDirecotryTreeBuilder",
                                  "SetBitmap", "PreparetoSearch", "EndSearch"}) {
                expected.push_back(n);
            }
            EXPECT_EQ(names, expected) << "searcher " << type;
            for (const SearcherCall& c : calls) {
                if (c.what == "SetDevice") {
                    EXPECT_EQ(c.a, kDeviceCache);
                } else if (c.what == "SetBlockSize") {
                    EXPECT_EQ(c.a, tc.block);
                } else if (c.what == "EndSearch") {
                    EXPECT_EQ(c.a, 1);
                }
            }
        }
        // Every searcher is set up before the first block and ended after the last.
        const auto& log = SearcherLog();
        auto firstBlock =
            std::find_if(log.begin(), log.end(), [](auto& c) { return c.what == "AnalyzeBlock"; });
        auto lastBlock = std::find_if(log.rbegin(), log.rend(),
                                      [](auto& c) { return c.what == "AnalyzeBlock"; });
        EXPECT_EQ(std::count_if(log.begin(), firstBlock,
                                [](auto& c) { return c.what == "PreparetoSearch"; }),
                  6);
        EXPECT_EQ(
            std::count_if(log.rbegin(), lastBlock, [](auto& c) { return c.what == "EndSearch"; }),
            6);

        std::vector<Reported> expectedReports = {{PROGRESS_RUNNING, 1, 0},
                                                 {PROGRESS_PREPARING, blocks + 1, 0}};
        for (long long d = 1; d <= blocks; ++d) {
            expectedReports.push_back(
                {PROGRESS_RUNNING, blocks + 1, static_cast<long long>(d * 0.8)});
        }
        expectedReports.push_back({PROGRESS_FINISHED, 1, 1});
        EXPECT_EQ(progress.reports, expectedReports);
        EXPECT_EQ(progress.dirtyRecords, 0);

        controller.reset();
        EXPECT_EQ(CallsNamed("destroyed").size(), kDeepOrder.size());
    }
}

// The partition controller runs the same scan; the searchers missing from
// the rows are simply not part of it.
TEST(RecoveryControllerTest, DeepScanUsesWhatTheRowsHave) {
    FactoryTableScope scope;
    FactoryTableScope::SetRecordingDeep(SEARCHER_NTFS);
    FactoryTableScope::SetRecordingDeep(SEARCHER_HFSPLUS);
    MemoryStorageDevice device(StampedSectors(100, 512), 512);
    RecordingProgress progress;
    CountingTree tree;
    ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_PARTITION);
    ASSERT_EQ(controller->StartDataRecovery(&device, &progress, &tree), VK_OK);
    std::vector<SearcherCall> offered = CallsNamed("AnalyzeBlock");
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].type, SEARCHER_HFSPLUS);
    EXPECT_EQ(offered[1].type, SEARCHER_NTFS);

    // A recovery object only for a type that took part.
    IDataRecovery* recovery = controller->GetDataRecovery(SEARCHER_NTFS);
    ASSERT_NE(recovery, nullptr);
    recovery->Release();
    EXPECT_EQ(controller->GetDataRecovery(SEARCHER_FAT), nullptr);
    EXPECT_EQ(controller->GetDataRecovery(SEARCHER_RAW), nullptr);
}

TEST(RecoveryControllerTest, StoppedDeepScan) {
    // Stop after one of three blocks, and before the first.
    for (long long stopAfter : {1LL, 0LL}) {
        SCOPED_TRACE(stopAfter);
        FactoryTableScope scope;
        FactoryTableScope::InstallAllDeep();
        MemoryStorageDevice device(StampedSectors(2 * 8192 + 1, 512), 512);
        RecordingProgress progress;
        progress.stopAfterBlocks = stopAfter;
        progress.build = 0;
        CountingTree tree;
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
        ASSERT_EQ(controller->StartDataRecovery(&device, &progress, &tree), VK_OK);

        std::vector<SearcherCall> offered = CallsNamed("AnalyzeBlock");
        EXPECT_EQ(offered.size(), static_cast<size_t>(stopAfter) * kDeepOrder.size());
        for (const SearcherCall& c : offered)
            EXPECT_EQ(c.a, 0);
        // Every searcher but the signature search still finishes.
        std::vector<SearcherCall> ended = CallsNamed("EndSearch");
        std::vector<int> endedTypes;
        for (const SearcherCall& c : ended) {
            endedTypes.push_back(c.type);
            EXPECT_EQ(c.a, 0);  // shouldBuild answered 0
        }
        EXPECT_EQ(endedTypes, (std::vector<int>{SEARCHER_HFSPLUS, SEARCHER_EXFAT, SEARCHER_FAT,
                                                SEARCHER_NTFS, SEARCHER_APFS}));
        ASSERT_FALSE(progress.reports.empty());
        EXPECT_EQ(progress.reports.back(), (Reported{PROGRESS_FINISHED, 1, 1}));
        EXPECT_EQ(progress.blockReports, stopAfter);
    }
}

TEST(RecoveryControllerTest, DeepScanReplaysFromRestoreSink) {
    FactoryTableScope scope;
    FactoryTableScope::InstallAllDeep();
    MemoryStorageDevice device(StampedSectors(100, 512), 512);
    RecordingProgress progress;
    CountingTree tree;
    RecordingSink sink;
    // Stored lowest score first: a replay keeps the stored order.
    for (double score : {1.0, 5.0}) {
        auto* stored = new CSearchedPartitionInfo(512);
        stored->sectorsPerCluster = 8;
        stored->totalSectors = 1000;
        stored->score = score;
        sink.stored[SEARCHER_FAT].push_back(stored);
    }
    ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
    ASSERT_TRUE(SetRecoveryRestoreSink(controller.get(), &sink));
    ASSERT_EQ(controller->StartDataRecovery(&device, &progress, &tree), VK_OK);

    EXPECT_EQ(sink.replays, 1);
    EXPECT_TRUE(sink.gotAll);
    EXPECT_TRUE(CallsNamed("AnalyzeBlock").empty());
    EXPECT_TRUE(CallsNamed("PreparetoSearch").empty());
    EXPECT_EQ(CallsNamed("EndSearch").size(), kDeepOrder.size());
    EXPECT_EQ(device.Reads(), 0);
    EXPECT_EQ(progress.reports.back(), (Reported{PROGRESS_FINISHED, 1, 1}));

    // Recovery objects come from copies of the stored records of the asked
    // type; a type with nothing stored still gets its (empty) object.
    IDataRecovery* recovery = controller->GetDataRecovery(SEARCHER_FAT);
    ASSERT_NE(recovery, nullptr);
    ASSERT_NE(GetDataRecoveryPartitions(recovery), nullptr);
    const auto& records = *GetDataRecoveryPartitions(recovery);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->score, 1.0);
    EXPECT_EQ(records[1]->score, 5.0);
    EXPECT_NE(records[0], sink.stored[SEARCHER_FAT][0]);
    recovery->Release();
    recovery = controller->GetDataRecovery(SEARCHER_NTFS);
    ASSERT_NE(recovery, nullptr);
    recovery->Release();
    EXPECT_EQ(sink.askedTypes, (std::vector<int>{SEARCHER_FAT, SEARCHER_NTFS}));
}

TEST(RecoveryControllerTest, DeepScanBadInput) {
    FactoryTableScope scope;
    FactoryTableScope::InstallAllDeep();
    MemoryStorageDevice device(StampedSectors(16, 512), 512);
    RecordingProgress progress;
    CountingTree tree;
    {
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
        EXPECT_TRUE(ResultIs(controller->StartDataRecovery(nullptr, &progress, &tree),
                             kModuleController, kErrBadScanRange));
        EXPECT_TRUE(ResultIs(controller->StartDataRecovery(&device, nullptr, &tree),
                             kModuleController, kErrBadScanRange));
        EXPECT_TRUE(ResultIs(controller->StartDataRecovery(&device, &progress, nullptr),
                             kModuleController, kErrBadScanRange));
        EXPECT_TRUE(progress.reports.empty());
        EXPECT_TRUE(SearcherLog().empty());
    }
    {
        // Without a filter the tree builder refuses to start.
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE, false);
        EXPECT_TRUE(ResultIs(controller->StartDataRecovery(&device, &progress, &tree),
                             kModuleController, kErrFailed));
        EXPECT_EQ(progress.reports, (std::vector<Reported>{{PROGRESS_RUNNING, 1, 0}}));
        EXPECT_TRUE(SearcherLog().empty());
    }
    {
        // An empty device: one empty block, nothing offered to the
        // searchers, which still end; nothing found is no error.
        progress.reports.clear();
        MemoryStorageDevice empty({}, 512);
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
        EXPECT_EQ(controller->StartDataRecovery(&empty, &progress, &tree), VK_OK);
        EXPECT_TRUE(CallsNamed("AnalyzeBlock").empty());
        ASSERT_GE(progress.reports.size(), 3u);
        EXPECT_EQ(progress.reports[1], (Reported{PROGRESS_PREPARING, 2, 0}));
        EXPECT_EQ(CallsNamed("EndSearch").size(), kDeepOrder.size());
        EXPECT_EQ(progress.reports.back(), (Reported{PROGRESS_FINISHED, 1, 1}));
        EXPECT_EQ(empty.Reads(), 0);
    }
    {
        // No searcher at all.
        progress.reports.clear();
        FactoryTableScope::RemoveAll();
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
        EXPECT_TRUE(ResultIs(controller->StartDataRecovery(&device, &progress, &tree),
                             kModuleController, kErrNoDeepSearcher));
        EXPECT_EQ(progress.reports, (std::vector<Reported>{{PROGRESS_RUNNING, 1, 0}}));
    }
}

TEST(RecoveryControllerTest, SearchDataRanges) {
    FactoryTableScope scope;
    FactoryTableScope::SetRecordingDeep(SEARCHER_NTFS);
    MemoryStorageDevice device(StampedSectors(3 * 8192, 512), 512);
    RecordingProgress progress;
    CountingTree tree;
    CCompleteRecoveryController controller;
    controller.Initialize(CreateFilter());
    // No cache before a scan.
    EXPECT_TRUE(
        ResultIs(controller.SearchData(0, 10, &progress), kModuleController, kErrBadArgument));
    ASSERT_EQ(controller.StartDataRecovery(&device, &progress, &tree), VK_OK);

    EXPECT_TRUE(
        ResultIs(controller.SearchData(0, 10, nullptr), kModuleController, kErrBadArgument));
    EXPECT_TRUE(
        ResultIs(controller.SearchData(10, 9, &progress), kModuleController, kErrBadScanRange));
    // Entirely past the end: one empty block, nothing offered.
    SearcherLog().clear();
    progress.reports.clear();
    EXPECT_EQ(controller.SearchData(5 * 8192, 6 * 8192, &progress), VK_OK);
    EXPECT_TRUE(CallsNamed("AnalyzeBlock").empty());
    EXPECT_EQ(progress.reports,
              (std::vector<Reported>{{PROGRESS_PREPARING, 2, 0}, {PROGRESS_RUNNING, 2, 0}}));

    struct Range {
        long long first, last;
        std::vector<std::pair<long long, long long>> offered;
    };
    const Range ranges[] = {
        {100, 200, {{100, 101}}},
        {8000, 8300, {{8000, 192}, {8192, 109}}},
        {-50, 10, {{0, 11}}},                            // clamped to the device
        {3 * 8192 - 2, 1LL << 40, {{3 * 8192 - 2, 2}}},  // likewise
    };
    for (const Range& r : ranges) {
        SearcherLog().clear();
        ASSERT_EQ(controller.SearchData(r.first, r.last, &progress), VK_OK);
        std::vector<std::pair<long long, long long>> got;
        for (const SearcherCall& c : CallsNamed("AnalyzeBlock"))
            got.emplace_back(c.a, c.b);
        EXPECT_EQ(got, r.offered) << r.first << ".." << r.last;
    }
    EXPECT_EQ(RecordingDeepSearcher::Live()[0]->badBlocks, 0);
}

TEST(RecoveryControllerTest, HfsSearcherToldOfLiveHfsVolume) {
    TempDir dir;
    const std::string path = dir / "volume.img";
    WriteFile(path, StampedSectors(64, 512));
    for (int fsType : {FS_HFSPLUS, FS_NTFS}) {
        SCOPED_TRACE(fsType);
        FactoryTableScope scope;
        FactoryTableScope::SetRecordingDeep(SEARCHER_HFSPLUS);
        std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(path.c_str()));
        ASSERT_EQ(volume->Open(nullptr), 1);
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = fsType;
        record->sectorSize = 512;
        record->totalSectors = 64;
        volume->SetPrivateData(CreateVolumeDeviceData(record));
        RecordingProgress progress;
        CountingTree tree;
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_COMPLETE);
        ASSERT_EQ(controller->StartDataRecovery(volume.get(), &progress, &tree), VK_OK);
        std::vector<SearcherCall> active = CallsNamed("SetActivePartition");
        if (fsType == FS_HFSPLUS) {
            ASSERT_EQ(active.size(), 1u);
            EXPECT_EQ(active[0].a, 1);
        } else {
            EXPECT_TRUE(active.empty());
        }
        EXPECT_EQ(RecordingDeepSearcher::Live()[0]->badBlocks, 0);
    }
}

// A memory volume with a volume record of the given file system.
std::unique_ptr<MemoryStorageDevice> MemoryVolume(int fsType, const char* name = "") {
    auto device = std::make_unique<MemoryStorageDevice>(StampedSectors(64, 512), 512, false);
    device->SetType(kDeviceVolume);
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = fsType;
    std::snprintf(record->volumeName, sizeof(record->volumeName), "%s", name);
    device->SetPrivateData(CreateVolumeDeviceData(record));
    return device;
}

void InstallQuickFakes() {
    using Scope = FactoryTableScope;
    Scope::EditRow(SEARCHER_FAT, [](SearcherRow& r) {
        r.createQuickSearcher = &MakeFakeQuickSearcher<FS_FAT32>;
    });
    Scope::EditRow(SEARCHER_NTFS,
                   [](SearcherRow& r) { r.createQuickSearcher = &MakeFakeQuickSearcher<FS_NTFS>; });
    Scope::EditRow(SEARCHER_EXFAT, [](SearcherRow& r) {
        r.createQuickSearcher = &MakeFakeQuickSearcher<FS_EXFAT>;
    });
    Scope::EditRow(SEARCHER_HFSPLUS, [](SearcherRow& r) {
        r.createQuickSearcher = &MakeFakeQuickSearcher<FS_HFSPLUS>;
    });
    // The APFS quick factory exists but never makes a searcher.
    Scope::EditRow(SEARCHER_APFS, [](SearcherRow& r) {
        r.createQuickSearcher = []() -> IQuickFileSystemSearchController* { return nullptr; };
    });
}

TEST(RecoveryControllerTest, QuickScanChoosesSearcherByFileSystem) {
    struct Case {
        int fsType;
        int searcher;  // -1: none
    };
    const Case cases[] = {{FS_FAT12, FS_FAT32}, {FS_FAT16, FS_FAT32},
                          {FS_FAT32, FS_FAT32}, {FS_NTFS, FS_NTFS},
                          {FS_EXFAT, FS_EXFAT}, {FS_HFSPLUS, FS_HFSPLUS},
                          {FS_APFS, -1},        {FS_EXT3, -1},
                          {FS_UNKNOWN, -1},     {-7, -1}};
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.fsType);
        FactoryTableScope scope;
        InstallQuickFakes();
        auto volume = MemoryVolume(tc.fsType);
        RecordingProgress progress;
        CountingTree tree;
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_DELETED);
        VKRESULT result = controller->StartDataRecovery(volume.get(), &progress, &tree);
        if (tc.searcher < 0) {
            EXPECT_TRUE(ResultIs(result, kModuleController, kErrNoQuickSearch));
            EXPECT_EQ(progress.reports,
                      (std::vector<Reported>{{PROGRESS_RUNNING, 1, 0}, {PROGRESS_FINISHED, 1, 1}}));
            EXPECT_TRUE(SearcherLog().empty());
            EXPECT_EQ(controller->GetDataRecovery(SEARCHER_FAT), nullptr);
        } else {
            EXPECT_EQ(result, VK_OK);
            ASSERT_EQ(SearcherLog().size(), 2u);
            EXPECT_EQ(SearcherLog()[0].what, "SetDirecotryTreeBuilder");
            EXPECT_EQ(SearcherLog()[1].what, "QuickSearchFiles");
            EXPECT_EQ(SearcherLog()[1].type, tc.searcher);
            EXPECT_EQ(SearcherLog()[1].a, 1);
            EXPECT_EQ(SearcherLog()[1].b, 1);
            // The searcher reports its own progress after the start report,
            // its finished record included.
            EXPECT_EQ(progress.reports,
                      (std::vector<Reported>{{PROGRESS_RUNNING, 1, 0}, {PROGRESS_FINISHED, 7, 7}}));
            // Whatever type is asked, the recovery object reads the quick searcher's volume.
            IDataRecovery* recovery = controller->GetDataRecovery(SEARCHER_APFS);
            ASSERT_NE(recovery, nullptr);
            recovery->Release();
        }
    }
}

TEST(RecoveryControllerTest, QuickScanPassesOnTheSearchersFailure) {
    FactoryTableScope scope;
    InstallQuickFakes();
    FakeQuickSearcher::Answer() = VK_ERROR(kModuleNTFSQuickSearch, kErrFailed);
    auto volume = MemoryVolume(FS_NTFS);
    RecordingProgress progress;
    CountingTree tree;
    ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_DELETED);
    EXPECT_TRUE(ResultIs(controller->StartDataRecovery(volume.get(), &progress, &tree),
                         kModuleNTFSQuickSearch, kErrFailed));
}

// A searcher that returns without its finished record still leaves the
// caller's progress finished, with the searcher's result in it; one that
// sent it gets no second one.
TEST(RecoveryControllerTest, QuickScanAlwaysEndsFinished) {
    for (bool finishes : {false, true}) {
        SCOPED_TRACE(finishes);
        FactoryTableScope scope;
        InstallQuickFakes();
        FakeQuickSearcher::Finishes() = finishes;
        FakeQuickSearcher::Answer() = VK_ERROR(kModuleNTFSQuickSearch, kErrFailed);
        auto volume = MemoryVolume(FS_NTFS);
        RecordingProgress progress;
        CountingTree tree;
        ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_DELETED);
        controller->StartDataRecovery(volume.get(), &progress, &tree);
        const Reported end =
            finishes ? Reported{PROGRESS_FINISHED, 7, 7} : Reported{PROGRESS_FINISHED, 1, 1};
        EXPECT_EQ(progress.reports, (std::vector<Reported>{{PROGRESS_RUNNING, 1, 0}, end}));
        ASSERT_FALSE(progress.results.empty());
        EXPECT_TRUE(ResultIs(progress.results.back(), kModuleNTFSQuickSearch, kErrFailed));
    }
}

TEST(RecoveryControllerTest, QuickScanRefusals) {
    FactoryTableScope scope;
    InstallQuickFakes();
    RecordingProgress progress;
    CountingTree tree;
    auto volume = MemoryVolume(FS_NTFS);
    ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_DELETED);
    EXPECT_TRUE(ResultIs(controller->StartDataRecovery(nullptr, &progress, &tree),
                         kModuleController, kErrFailed));
    EXPECT_TRUE(ResultIs(controller->StartDataRecovery(volume.get(), nullptr, &tree),
                         kModuleController, kErrFailed));
    EXPECT_TRUE(ResultIs(controller->StartDataRecovery(volume.get(), &progress, nullptr),
                         kModuleController, kErrFailed));
    EXPECT_TRUE(progress.reports.empty());

    // A whole disk: refused after the start report, with no end report.
    MemoryStorageDevice disk(StampedSectors(64, 512), 512);
    EXPECT_TRUE(ResultIs(controller->StartDataRecovery(&disk, &progress, &tree), kModuleController,
                         kErrQuickScanOfDisk));
    EXPECT_EQ(progress.reports, (std::vector<Reported>{{PROGRESS_RUNNING, 1, 0}}));

    // An image without a volume record has no quick search.
    progress.reports.clear();
    MemoryStorageDevice image(StampedSectors(64, 512), 512, false);
    image.SetType(kDeviceDiskImage);
    EXPECT_TRUE(ResultIs(controller->StartDataRecovery(&image, &progress, &tree), kModuleController,
                         kErrNoQuickSearch));
    EXPECT_EQ(progress.reports.back(), (Reported{PROGRESS_FINISHED, 1, 1}));

    // Without a filter the tree builder refuses.
    ControllerPtr unfiltered = MakeController(RECOVERY_CONTROLLER_DELETED, false);
    EXPECT_TRUE(ResultIs(unfiltered->StartDataRecovery(volume.get(), &progress, &tree),
                         kModuleController, kErrFailed));
    EXPECT_TRUE(SearcherLog().empty());
}

TEST(RecoveryControllerTest, QuickScanReplaysFromRestoreSink) {
    FactoryTableScope scope;
    InstallQuickFakes();
    auto volume = MemoryVolume(FS_HFSPLUS);
    RecordingProgress progress;
    CountingTree tree;
    RecordingSink sink;
    sink.stored[SEARCHER_HFSPLUS].push_back(new CSearchedPartitionInfo(512));
    ControllerPtr controller = MakeController(RECOVERY_CONTROLLER_DELETED);
    ASSERT_TRUE(SetRecoveryRestoreSink(controller.get(), &sink));
    EXPECT_EQ(controller->StartDataRecovery(volume.get(), &progress, &tree), VK_OK);
    EXPECT_EQ(sink.replays, 1);
    EXPECT_TRUE(CallsNamed("QuickSearchFiles").empty());
    IDataRecovery* recovery = controller->GetDataRecovery(SEARCHER_HFSPLUS);
    ASSERT_NE(recovery, nullptr);
    recovery->Release();
    EXPECT_EQ(sink.askedTypes, std::vector<int>{SEARCHER_HFSPLUS});
}

TEST(RecoveryControllerTest, DeviceDescription) {
    auto named = MemoryVolume(FS_NTFS, "Photos");
    EXPECT_EQ(DeviceDescription(named.get()), "Photos");

    // A volume record whose name fills its field without an end.
    auto full = MemoryVolume(FS_NTFS);
    auto* record = dynamic_cast<IVolumeDeviceData*>(full->GetPrivateData())->GetVolumeInfo();
    std::memset(record->volumeName, 'x', sizeof(record->volumeName));
    EXPECT_EQ(DeviceDescription(full.get()), std::string(sizeof(record->volumeName), 'x'));
    // A converted partition (flag set) shows no name.
    record->flag = 1;
    EXPECT_EQ(DeviceDescription(full.get()), "");

    MemoryStorageDevice edi(StampedSectors(8, 512), 512, false);
    edi.SetType(kDeviceEdiImage);
    EXPECT_EQ(DeviceDescription(&edi), "");
    auto* info = new CEDIDeviceInfoStruct{};
    std::snprintf(info->deviceName, sizeof(info->deviceName), "%s", "USB stick");
    edi.SetPrivateData(CreateEDIDeviceData(info));
    EXPECT_EQ(DeviceDescription(&edi), "USB stick");

    MemoryStorageDevice disk(StampedSectors(8, 512), 512);
    EXPECT_EQ(DeviceDescription(&disk), "");
    EXPECT_EQ(DeviceDescription(nullptr), "");
}

}  // namespace
}  // namespace velmora::test
