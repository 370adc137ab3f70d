// Scans of the fixture images through the facade, as the windows run them,
// over the real engine: the indexes the bridge builds equal what the
// engine's own controller shows for the same device; pause holds the
// worker, stop ends it with what was found kept; a failing device ends the
// scan with the engine's code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "EnumDeviceEx.h"
#include "IRecoveryFilter.h"
#include "ImageScanWorld.h"
#include "RecoveryControllers.h"
#include "SearchInterfaces.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "VKTypeMgr.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "VKUIFilter.h"
#include "VKUIPublic.h"
#include "VKUIScan.h"
#include "platform/RawIo.h"
#include "support/EngineRows.h"
#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::FixturePath;
using velmora::bridgetest::ScanWorld;
using velmora::bridgetest::VolumePlan;

// What a tree shows of a node, as one line: its path from the root, kind,
// size and times.
std::string Fingerprint(IFileNode* node) {
    std::string path = node->GetFileName() ? node->GetFileName() : "";
    int steps = 0;
    for (IFileNode* p = node->GetParent(); p != nullptr && steps < 4096;
         p = p->GetParent(), ++steps)
        path = std::string(p->GetFileName() ? p->GetFileName() : "") + "/" + path;
    return path + "|" + std::to_string(node->IsDirectory()) + "|" +
           std::to_string(node->GetFileSize()) + "|" + std::to_string(node->GetCreationTime()) +
           "|" + std::to_string(node->GetModificationTime()) + "|" +
           std::to_string(node->IsDeleted());
}

std::vector<std::string> Fingerprints(const std::vector<IFileNode*>& nodes) {
    std::vector<std::string> out;
    for (IFileNode* n : nodes)
        out.push_back(Fingerprint(n));
    std::sort(out.begin(), out.end());
    return out;
}

// The engine's own run over the same device: what it shows.
struct Recorder : IDrirectoryTree, IProgress {
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        for (unsigned i = 0; i < count; ++i)
            (nodes[i]->IsDirectory() ? folders : files).push_back(nodes[i]);
    }
    void ShowFilesystemNode(IFilesystemNode* root) override {
        if (root != nullptr && root->IsDirectory())
            folders.push_back(root);
    }
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
    std::vector<IFileNode*> folders, files;
};

struct EngineRun {
    EngineRun(IStorageDevice* device, _RECOVERY_CONTROLLER_TYPE type) {
        controller = CreateRecoveryController(type);
        controller->Initialize(VKUIFilter::instance().GetFilter());
        VKUIFilter::instance().GetFilter()->SetScanType(
            type == RECOVERY_CONTROLLER_DELETED ? SCAN_QUICK : SCAN_COMPLETE);
        result = controller->StartDataRecovery(device, &recorder, &recorder);
    }
    ~EngineRun() { controller->Release(); }
    IRecoveryController* controller = nullptr;
    Recorder recorder;
    VKRESULT result = 0;
};

// Every file of the type index, once.
std::vector<IFileNode*> TypedFiles() {
    std::vector<IFileNode*> out;
    for (const auto& [category, nodes] : VKUIScan::instance().GetTypeMap())
        out.insert(out.end(), nodes.begin(), nodes.end());
    return out;
}

// The indexes against the nodes and the type tree: each file under its
// filter category, under its extension's group (or straight under "other"),
// in the date index of each non-zero time.
void ExpectIndexesMatchNodes() {
    VKUIScan& scan = VKUIScan::instance();
    IRecoveryFilter* filter = VKUIFilter::instance().GetFilter();
    for (const auto& [category, nodes] : scan.GetTypeMap()) {
        for (IFileNode* node : nodes)
            EXPECT_EQ(filter->GetNodeFileType(node), category) << Fingerprint(node);
    }
    const struct {
        VKDateIndex index;
        long long (IFileNode::*time)();
    } dates[] = {{scan.GetCreateTimeMap(), &IFileNode::GetCreationTime},
                 {scan.GetModifyTimeMap(), &IFileNode::GetModificationTime}};
    const std::vector<IFileNode*> files = TypedFiles();
    for (const auto& date : dates) {
        std::vector<IFileNode*> dated;
        for (const auto& [year, months] : date.index) {
            for (const auto& [month, nodes] : months) {
                for (IFileNode* node : nodes) {
                    int y = 0, m = 0;
                    VKCPPPublic::instance().GetYearMonthByFileTime(
                        &y, &m, U64ToFileTime(static_cast<uint64_t>((node->*date.time)())));
                    EXPECT_EQ(y * 100 + m, year * 100 + month) << Fingerprint(node);
                    dated.push_back(node);
                }
            }
        }
        std::vector<IFileNode*> expected;
        for (IFileNode* node : files) {
            if ((node->*date.time)() != 0)
                expected.push_back(node);
        }
        std::sort(dated.begin(), dated.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(dated, expected);
    }

    // The type tree, filed from the index.
    VKTypeMgr& types = VKTypeMgr::share();
    types.refreshTypeTree();
    std::map<IFileNode*, std::string> placed;
    const unsigned bits[] = {1, 2, 4, 8, 16, 32, 64};
    const std::vector<OpNodePtr> roots = types.getRootNode();
    for (size_t i = 0; i < roots.size(); ++i) {
        for (const OpChild& child : roots[i]->children()) {
            if (IFileNode* const* leaf = std::get_if<IFileNode*>(&child)) {
                EXPECT_TRUE(placed.emplace(*leaf, std::to_string(bits[i])).second);
                continue;
            }
            const OpNodePtr& group = std::get<OpNodePtr>(child);
            for (const OpChild& inner : group->children()) {
                EXPECT_TRUE(placed
                                .emplace(std::get<IFileNode*>(inner),
                                         std::to_string(bits[i]) + "/" + group->name())
                                .second);
            }
        }
    }
    size_t shown = 0;
    for (IFileNode* node : files) {
        if (node->IsNodeShow() == 0)
            continue;
        ++shown;
        const std::string ext = VKUIScan::GetNodeExt(node);
        const unsigned category = types.CategoryOf(ext);
        EXPECT_EQ(placed[node], category == 64 ? "64" : std::to_string(category) + "/" + ext)
            << Fingerprint(node);
    }
    EXPECT_EQ(placed.size(), shown);
}

struct QuickCase {
    const char* image;
    int32_t fileSystem;
};

class QuickScanImages : public ::testing::TestWithParam<QuickCase> {};

TEST_P(QuickScanImages, IndexesEqualTheEnginesTree) {
    const QuickCase c = GetParam();
    const std::string image = FixturePath(c.image);
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
    ScanWorld world(image, {{-1, 0, c.fileSystem}});
    ASSERT_TRUE(world.ScanToEnd(0, 0, false));
    EXPECT_EQ(VKUIScan::instance().IsDeepScan(), 0);

    // The catalogue's devices are open only under a lease.
    const auto lease = world.catalogue.LeaseDevice(0, -1);
    EngineRun engine(world.enumerator.Volume(0), RECOVERY_CONTROLLER_DELETED);
    ASSERT_FALSE(engine.recorder.folders.empty());
    EXPECT_EQ(Fingerprints(VKUIScan::instance().VKGetAllPathNode()),
              Fingerprints(engine.recorder.folders));
    EXPECT_EQ(Fingerprints(TypedFiles()), Fingerprints(engine.recorder.files));
    EXPECT_FALSE(TypedFiles().empty());
    unsigned long long count = 0, size = 0;
    VKUIController::GetScanFileSize(&size, &count);
    EXPECT_EQ(count, engine.recorder.files.size());
    ExpectIndexesMatchNodes();
    // A quick scan keeps a data-recovery object per root.
    for (IFileNode* file : TypedFiles())
        EXPECT_NE(VKUIScan::instance().GetFileNodeDataRecover(file), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, QuickScanImages,
                         ::testing::Values(QuickCase{"fat/fat16.img", FS_FAT16},
                                           QuickCase{"fat/fat32.img", FS_FAT32},
                                           QuickCase{"exfat/exfat.img", FS_EXFAT},
                                           QuickCase{"ntfs/ntfs.img", FS_NTFS},
                                           QuickCase{"hfsplus/hfsplus.img", FS_HFSPLUS}),
                         [](const ::testing::TestParamInfo<QuickCase>& info) {
                             std::string name = std::filesystem::path(info.param.image).stem();
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// The GPT disk of wholedisk/: FAT32, exFAT, NTFS, HFS+ and APFS.
std::vector<VolumePlan> WholeDiskVolumes() {
    return {{2048, 98304, FS_FAT32},
            {100352, 81920, FS_EXFAT},
            {182272, 98304, FS_NTFS},
            {280576, 16384, FS_HFSPLUS},
            {296960, 1048576, FS_APFS}};
}

TEST(ScanImages, WholeDiskQuickScanCoversEveryVolume) {
    const std::string image = FixturePath("wholedisk/wholedisk.img");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
    ScanWorld world(image, WholeDiskVolumes());
    ASSERT_TRUE(world.ScanToEnd(0, -1, false));
    std::vector<IFileNode*> folders, files;
    const auto lease = world.catalogue.LeaseDevice(0, -1);
    std::vector<std::unique_ptr<EngineRun>> runs;
    for (size_t i = 0; i < WholeDiskVolumes().size(); ++i) {
        runs.push_back(
            std::make_unique<EngineRun>(world.enumerator.Volume(i), RECOVERY_CONTROLLER_DELETED));
        folders.insert(folders.end(), runs.back()->recorder.folders.begin(),
                       runs.back()->recorder.folders.end());
        files.insert(files.end(), runs.back()->recorder.files.begin(),
                     runs.back()->recorder.files.end());
    }
    EXPECT_GE(VKUIScan::instance().GetFileSystemNode().size(), 4u);
    EXPECT_EQ(Fingerprints(VKUIScan::instance().VKGetAllPathNode()), Fingerprints(folders));
    EXPECT_EQ(Fingerprints(TypedFiles()), Fingerprints(files));
    ExpectIndexesMatchNodes();
}

TEST(ScanImages, DeepScanOfALostPartitionDisk) {
    const std::string image = FixturePath("wholedisk/wholedisk_notable.img");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
    ScanWorld world(image, {});
    ASSERT_TRUE(world.ScanToEnd(0, -1, true, 600));
    EXPECT_EQ(VKUIController::IsDeepScan(), 1);
    const auto lease = world.catalogue.LeaseDevice(0, -1);
    EngineRun engine(world.enumerator.Disk(), RECOVERY_CONTROLLER_PARTITION);
    ASSERT_FALSE(engine.recorder.files.empty());
    EXPECT_EQ(Fingerprints(VKUIScan::instance().VKGetAllPathNode()),
              Fingerprints(engine.recorder.folders));
    EXPECT_EQ(Fingerprints(TypedFiles()), Fingerprints(engine.recorder.files));
    ExpectIndexesMatchNodes();
    double percent = 0;
    unsigned long long count = 0;
    VKUIController::GetScanProgress(&percent, &count);
    EXPECT_EQ(count, engine.recorder.files.size());
    EXPECT_DOUBLE_EQ(percent, 100.0);
}

TEST(ScanImages, AFailingDeviceEndsTheScanWithTheEnginesCode) {
    // Every read from the middle of the NTFS volume on fails, as when the
    // disk is pulled out during the scan.
    const std::string image = FixturePath("wholedisk/wholedisk.img");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
    velmora::platform::FaultyRawIo faulty;
    faulty.FailRange((182272LL + 49152) * 512, 1LL << 40);
    velmora::platform::ScopedRawIo scoped(&faulty);
    ScanWorld world(image, WholeDiskVolumes());
    // The bridge's own result, on a thread of its own as the facade runs it.
    VKUIScan& scan = VKUIScan::instance();
    VKRESULT bridgeResult = 0;
    auto lease = world.catalogue.LeaseDevice(0, -1);
    scan.SetDeepScan(0);
    scan.SetStatus(VK_OP_RUNNING);
    std::thread worker([&] { bridgeResult = scan.DoScan(world.enumerator.Volume(2), nullptr); });
    ASSERT_TRUE(ScanWorld::WaitUntil([&] { return scan.GetStatus() == VK_OP_IDLE; }, 120));
    worker.join();
    const std::vector<std::string> kept = Fingerprints(TypedFiles());
    EngineRun engine(world.enumerator.Volume(2), RECOVERY_CONTROLLER_DELETED);
    EXPECT_EQ(bridgeResult, engine.result);
    EXPECT_EQ(kept, Fingerprints(engine.recorder.files));
    lease = VKUIDeviceData::DeviceLease();
    // Through the facade the whole disk ends too, with the other volumes'
    // results kept.
    ASSERT_TRUE(world.ScanToEnd(0, -1, false, 120));
    EXPECT_FALSE(VKUIScan::instance().GetFileSystemNode().empty());
    EXPECT_FALSE(TypedFiles().empty());
}

// Reads slowed down so that the test sees each phase of a deep scan.
class SlowScan : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = FixturePath("wholedisk/wholedisk_notable.img");
        if (!std::filesystem::exists(image_))
            GTEST_SKIP() << image_ << " was not made (the \"fixtures\" test)";
        faulty_.SetDelayMs(2);
        scoped_ = std::make_unique<velmora::platform::ScopedRawIo>(&faulty_);
    }
    std::string image_;
    velmora::platform::FaultyRawIo faulty_;
    std::unique_ptr<velmora::platform::ScopedRawIo> scoped_;
};

int64_t Done() {
    return VKUIScan::instance().GetProgressInfo().done;
}

TEST_F(SlowScan, PauseHoldsTheWorkerResumeGoesOnStopKeepsTheResults) {
    ScanWorld world(image_, {});
    VKUIScan::instance().SetDeepScan(1);
    VKUIController::DoScanWithDiskIndex(0, -1);
    ASSERT_TRUE(ScanWorld::WaitUntil([] { return Done() > 0; }, 120));
    VKUIController::PauseOrResumeScan();
    EXPECT_EQ(VKUIController::IsPause(), 1);
    EXPECT_EQ(VKUIController::IsScanRunning(), 1);
    // The worker stops at its next question; from then on nothing moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const int64_t held = Done();
    const int reads = faulty_.ReadCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(Done(), held);
    EXPECT_LE(faulty_.ReadCount(), reads + 64);  // at most the read-ahead in flight
    VKUIController::PauseOrResumeScan();
    EXPECT_EQ(VKUIController::IsPause(), 0);
    ASSERT_TRUE(ScanWorld::WaitUntil([&] { return Done() > held; }, 120));
    const auto asked = Clock::now();
    VKUIController::StopScan(0);
    ASSERT_TRUE(ScanWorld::WaitUntil([] { return VKUIController::IsScanRunning() == 0; }, 60));
    VKUIController::WaitForScanThread();
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(10));
    // What was found stays: a second look finds the same.
    const auto files = Fingerprints(TypedFiles());
    EXPECT_EQ(Fingerprints(TypedFiles()), files);
    EXPECT_GE(VKUIScan::instance().GetScanFileCnt(), files.size());
}

TEST_F(SlowScan, StopInEachPhaseEndsTheScanPromptly) {
    const struct {
        const char* phase;
        std::function<bool()> reached;
    } phases[] = {
        {"volume analysis", [] { return true; }},
        {"searching", [] { return Done() > 0; }},
        {"tree building", [] { return !VKUIScan::instance().GetFileSystemNode().empty(); }},
    };
    for (const auto& p : phases) {
        SCOPED_TRACE(p.phase);
        ScanWorld world(image_, {});
        VKUIScan::instance().SetDeepScan(1);
        VKUIController::DoScanWithDiskIndex(0, -1);
        // A phase the scan passes too quickly to see is stopped after it.
        ScanWorld::WaitUntil([&] { return p.reached() || !VKUIController::IsScanRunning(); }, 300);
        const auto asked = Clock::now();
        VKUIController::StopScan(0);
        ASSERT_TRUE(ScanWorld::WaitUntil([] { return VKUIController::IsScanRunning() == 0; }, 60));
        VKUIController::WaitForScanThread();
        EXPECT_LT(Clock::now() - asked, std::chrono::seconds(10));
        // A new request runs once the stopped scan is over.
        EXPECT_EQ(VKUIScan::instance().GetStatus(), VK_OP_IDLE);
    }
}

}  // namespace
