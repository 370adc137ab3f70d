// The scan road without a device: the remaining-time text, the indexes the
// scan files nodes into, the type and date trees built from them, the
// refresh throttle, and the ways a scan request ends before scanning.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "BridgeServices.h"
#include "DeviceDoubles.h"
#include "IRecoveryFilter.h"
#include "SaveRestore.h"
#include "ScanSources.h"
#include "StorageDevices.h"
#include "VKTimeMgr.h"
#include "VKTypeMgr.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "VKUIScan.h"
#include "VKUITreeData.h"
#include "support/TestNode.h"
#include "support/TestSupport.h"

namespace {

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::NotificationLog;

// 100 ns ticks since 1601 of a UTC calendar time.
long long Ticks(int year, int month, int day) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    return (static_cast<long long>(timegm(&t)) + 11644473600LL) * 10000000LL;
}

class SettableClock final : public velmora::bridge::IClock {
public:
    explicit SettableClock(time_t now) : now_(now) {}
    time_t Now() const override { return now_.load(); }
    void Set(time_t now) { now_.store(now); }

private:
    std::atomic<time_t> now_;
};

// UTC for every time of this file.
class ScanRoad : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    std::unique_ptr<TestNode> File(const std::string& name, long long created, long long modified,
                                   long long size = 10) {
        auto node = std::make_unique<TestNode>(++id_, 1, name);
        node->created = created;
        node->modified = modified;
        node->size = size;
        node->ShowNode(1);
        return node;
    }
    long long id_ = 100;
};

TEST_F(ScanRoad, RemainingTimeText) {
    const struct {
        int64_t total, done;
        long elapsed;
        double percent;
        const char* text;
    } cases[] = {
        {0, 0, 10, 0, "-:-:-"},           // nothing known yet
        {0, 3, 10, 300, "-:-:-"},         // a total of 0 counts as 1 for the percent
        {1000, 9, 100, 0.9, "-:-:-"},     // under 1 %
        {1000, 500, 0, 50, "-:-:-"},      // no time elapsed
        {100, 20, 1000, 20, "00:33:20"},  // a fifth: halved (4000 s -> 2000)
        {100, 40, 1000, 40, "00:17:30"},  // two fifths: x 0.7 (1500 -> 1050)
        {100, 50, 1000, 50, "00:16:40"},  // half: as computed
        {2, 1, 360000, 50, "100:00:00"},  // exactly 100 hours
        {2, 1, 363600, 50, "-:-:-"},      // 101 hours
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.done));
        double percent = -1;
        EXPECT_EQ(VKUIController::RemainingTimeText(c.total, c.done, c.elapsed, &percent), c.text);
        EXPECT_DOUBLE_EQ(percent, c.percent);
    }
}

TEST_F(ScanRoad, NodeExtension) {
    const struct {
        const char* name;
        const char* ext;
    } cases[] = {{"photo.JPG", "jpg"},  {"a.tar.GZ", "gz"},
                 {"README", ""},        {"ends.", ""},
                 {".hidden", "hidden"}, {"x.\xC3\x89T\xC3\xA9", "\xC3\x89t\xC3\xA9"}};
    for (const auto& c : cases) {
        TestNode node(1, 0, c.name);
        EXPECT_EQ(VKUIScan::GetNodeExt(&node), c.ext) << c.name;
    }
    EXPECT_EQ(VKUIScan::GetNodeExt(nullptr), "");
}

TEST_F(ScanRoad, IndexesFileEachNodeByItsTimesAndCategory) {
    BridgeWorld world;
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    auto both = File("both.jpg", Ticks(2021, 3, 5), Ticks(2022, 7, 1), 100);
    auto noCreation = File("nocreate.pdf", 0, Ticks(2020, 1, 9), 20);
    auto noTimes = File("notimes.weird", 0, 0, 3);
    TestNode folder(2, 1, "Folder", true);
    IFileNode* batch[] = {both.get(), &folder, noCreation.get(), noTimes.get()};
    scan.ShowNodes(batch, 4, 0);

    EXPECT_EQ(scan.GetScanFileCnt(), 3u);
    EXPECT_EQ(scan.GetScanFileSize(), 123u);
    const VKDateIndex created = scan.GetCreateTimeMap();
    const VKDateIndex modified = scan.GetModifyTimeMap();
    EXPECT_EQ(created, (VKDateIndex{{2021, {{3, {both.get()}}}}}));
    EXPECT_EQ(modified,
              (VKDateIndex{{2020, {{1, {noCreation.get()}}}}, {2022, {{7, {both.get()}}}}}));
    EXPECT_TRUE(scan.GetAccessTimeMap().empty());
    // Every file is in the type index once, under the filter's category.
    IRecoveryFilter* filter = CreateFilter();
    size_t typed = 0;
    for (const auto& [category, nodes] : scan.GetTypeMap()) {
        for (IFileNode* node : nodes) {
            EXPECT_EQ(filter->GetNodeFileType(node), category);
            ++typed;
        }
    }
    EXPECT_EQ(typed, 3u);
    EXPECT_EQ(scan.GetTypeMap()[64], (std::vector<IFileNode*>{noTimes.get()}));
    // The folder went to the path index only.
    EXPECT_EQ(scan.VKGetAllPathNode(), (std::vector<IFileNode*>{&folder}));
    EXPECT_EQ(scan.VKGetNewPathNode(), (std::vector<IFileNode*>{&folder}));
    EXPECT_TRUE(scan.VKGetNewPathNode().empty());
    EXPECT_EQ(scan.FindRemoveData(&folder), 1);

    // An empty batch changes nothing and asks for no refresh.
    scan.SetNeedUIUpdate(0);
    scan.ShowNodes(batch, 0, 0);
    EXPECT_EQ(scan.GetScanFileCnt(), 3u);
    EXPECT_EQ(scan.IsNeedUIUpdate(), 0);

    // Hidden files no longer count in the total size.
    noCreation->ShowNode(0);
    scan.ReCalTotalSize();
    EXPECT_EQ(scan.GetScanFileSize(), 103u);

    scan.SetSearchKey("x");
    ASSERT_NE(scan.GetSearchKey(), nullptr);
    scan.SetSearchKey(nullptr);
    EXPECT_STREQ(scan.GetSearchKey(), "x");
    scan.SetSearchKey("");
    EXPECT_EQ(scan.GetSearchKey(), nullptr);

    std::vector<IFileNode*> found;
    scan.DoSearch(found);
    EXPECT_EQ(found.size(), 3u);
    EXPECT_EQ(noCreation->IsNodeShow(), 1);
    scan.SetSearchKey("both");
    scan.DoSearch(found);
    EXPECT_EQ(found, (std::vector<IFileNode*>{both.get()}));
    EXPECT_EQ(noTimes->IsNodeShow(), 0);
}

// A data-recovery object the test can count.
struct CountedRecovery : IDataRecovery {
    explicit CountedRecovery(int* released) : released_(released) {}
    VKRESULT Initialize(IFileSystemSearchController*, IStorageDevice*) override { return VK_OK; }
    IFileReader* SetRecoverNode(IFileNode*) override { return nullptr; }
    VKRESULT RecoverTo(const char*, IProgress*, int) override { return VK_OK; }
    int ReadSmallJPG(char*, unsigned) override { return 0; }
    void Release() override {
        ++*released_;
        delete this;
    }
    int* released_;
};

// A controller whose scan of each volume is scripted: the test says what
// each call of StartDataRecovery does and answers.
struct ScriptedController : IRecoveryController {
    _RECOVERY_CONTROLLER_TYPE thisType() override { return type; }
    int Initialize(IRecoveryFilter*) override { return 1; }
    VKRESULT StartDataRecovery(IStorageDevice* device, IProgress* progress,
                               IDrirectoryTree*) override {
        scanned.push_back(device);
        return onScan ? onScan(device, progress) : VK_OK;
    }
    IDataRecovery* GetDataRecovery(_tagSearcherType) const override {
        return new CountedRecovery(released);
    }
    void Release() override {}

    _RECOVERY_CONTROLLER_TYPE type = RECOVERY_CONTROLLER_DELETED;
    std::vector<int> made;
    std::vector<IStorageDevice*> scanned;
    std::function<VKRESULT(IStorageDevice*, IProgress*)> onScan;
    int* released = nullptr;
};

// Sends a finished record, as every controller does at the end.
void Finish(IProgress* progress) {
    _PROGRESS_INFO info{};
    info.state = PROGRESS_FINISHED;
    info.total = info.done = 1;
    progress->UpdateProgress(&info);
}

TEST_F(ScanRoad, ClearDataReleasesTheRootsRecoveryObjects) {
    // A quick scan makes one data-recovery object per file-system root;
    // clearing the result for the next scan forgot them without releasing.
    BridgeWorld world;
    int released = 0;
    ScriptedController controller;
    controller.released = &released;
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    scan.SetControllerFactory([&](_RECOVERY_CONTROLLER_TYPE t) {
        controller.made.push_back(t);
        return &controller;
    });
    scan.ResetRecoveryController(RECOVERY_CONTROLLER_DELETED);
    TestNode rootA(1, 0, "A", true, SEARCHER_FAT), rootB(2, 0, "B", true, SEARCHER_FAT);
    scan.ShowFilesystemNode(&rootA);
    scan.ShowFilesystemNode(&rootB);
    ASSERT_EQ(scan.GetFileSystemNode().size(), 2u);
    TestNode file(3, 1, "f.txt");
    rootA.AddChild(&file);
    EXPECT_NE(scan.GetFileNodeDataRecover(&file), nullptr);
    scan.ClearData();
    EXPECT_EQ(released, 2);
    EXPECT_TRUE(scan.GetFileSystemNode().empty());
    EXPECT_EQ(scan.GetFileNodeDataRecover(&file), nullptr);
    scan.SetControllerFactory(nullptr);
}

// A catalogue of made-up disks for the whole-disk loop.
struct DiskWorld {
    explicit DiskWorld(std::vector<velmora::bridgetest::FakeDisk> disks)
        : enumerator(std::move(disks)), catalogue(&enumerator) {
        catalogue.InitDeviceInfo();
        scan.SetControllerFactory([this](_RECOVERY_CONTROLLER_TYPE t) {
            controller.made.push_back(t);
            return &controller;
        });
    }
    velmora::bridgetest::FakeEnumerator enumerator;
    VKUIDeviceData catalogue;
    VKUIScan scan{&catalogue};
    ScriptedController controller;
};

velmora::bridgetest::FakeDisk DiskOf(std::vector<int32_t> fileSystems) {
    velmora::bridgetest::FakeDisk disk;
    disk.name = "disk";
    int n = 0;
    for (int32_t fs : fileSystems) {
        velmora::bridgetest::FakeVolume volume;
        volume.name = "V" + std::to_string(n++);
        volume.fileSystem = fs;
        disk.volumes.push_back(volume);
    }
    return disk;
}

TEST_F(ScanRoad, WholeDiskQuickScanRunsOverTheSupportedVolumes) {
    BridgeWorld world;
    // A (supported) then B (the EFI partition): A's finished record leaves
    // the scan running, B ends it.
    {
        auto disk = DiskOf({FS_FAT32, FS_FAT16});
        disk.volumes[1].gptType = velmora::bridgetest::kEfiGuid;
        DiskWorld w({disk});
        IStorageDevice* storage = w.catalogue.GetDiskStorageByIndex(0);
        int statusAfterA = -1;
        w.controller.onScan = [&](IStorageDevice*, IProgress* progress) {
            Finish(progress);
            statusAfterA = w.scan.GetStatus();
            return VK_OK;
        };
        w.scan.SetStatus(VK_OP_RUNNING);
        EXPECT_EQ(w.scan.DoScan(storage, nullptr), VK_OK);
        EXPECT_EQ(w.controller.made, (std::vector<int>{RECOVERY_CONTROLLER_DELETED}));
        EXPECT_EQ(w.controller.scanned.size(), 1u);
        EXPECT_EQ(statusAfterA, VK_OP_RUNNING);
        EXPECT_EQ(w.scan.GetStatus(), VK_OP_IDLE);
    }
    // A stop during volume 1 of 3 scans neither 2 nor 3, whether volume 1
    // ended with its finished record or with a failure.
    for (bool fails : {false, true}) {
        SCOPED_TRACE(fails);
        DiskWorld w({DiskOf({FS_FAT32, FS_NTFS, FS_EXFAT})});
        w.controller.onScan = [&](IStorageDevice*, IProgress* progress) -> VKRESULT {
            w.scan.StopOperation(1);
            if (fails)
                return VK_ERROR(kModuleStorageDevice, kErrFailed);
            Finish(progress);
            return VK_OK;
        };
        w.scan.SetStatus(VK_OP_RUNNING);
        w.scan.DoScan(w.catalogue.GetDiskStorageByIndex(0), nullptr);
        EXPECT_EQ(w.controller.scanned.size(), 1u);
        EXPECT_EQ(w.scan.GetStatus(), VK_OP_IDLE);
    }
    // The last volume failing without a stop and without a finished record
    // still ends the scan (it looked running for ever before).
    {
        DiskWorld w({DiskOf({FS_FAT32, FS_NTFS})});
        w.controller.onScan = [&](IStorageDevice*, IProgress*) -> VKRESULT {
            return VK_ERROR(kModuleStorageDevice, kErrFailed);
        };
        w.scan.SetStatus(VK_OP_RUNNING);
        EXPECT_TRUE(ResultFailed(w.scan.DoScan(w.catalogue.GetDiskStorageByIndex(0), nullptr)));
        EXPECT_EQ(w.controller.scanned.size(), 2u);
        EXPECT_EQ(w.scan.GetStatus(), VK_OP_IDLE);
    }
}

TEST_F(ScanRoad, AnUnrecognisedVolumeIsScannedDeep) {
    BridgeWorld world;
    DiskWorld w({DiskOf({FS_UNKNOWN})});
    IStorageDevice* volume = w.catalogue.GetStorageByDiskVolumeIndex(0, 0);
    w.controller.onScan = [&](IStorageDevice*, IProgress* progress) {
        Finish(progress);
        return VK_OK;
    };
    w.scan.SetStatus(VK_OP_RUNNING);
    w.scan.DoScan(volume, nullptr);
    EXPECT_EQ(w.controller.made, (std::vector<int>{RECOVERY_CONTROLLER_COMPLETE}));
    EXPECT_EQ(w.scan.IsDeepScan(), 1);
    // A deep scan of the whole disk runs the partition controller.
    w.scan.SetStatus(VK_OP_RUNNING);
    w.scan.DoScan(w.catalogue.GetDiskStorageByIndex(0), nullptr);
    EXPECT_EQ(w.controller.made.back(), RECOVERY_CONTROLLER_PARTITION);
}

// The windows follow a scan by its posts alone: whatever way a scan ends,
// a post finds it idle, or its browser waits for ever. The main thread takes
// each post as soon as it comes.
TEST_F(ScanRoad, EveryEndOfAScanIsPostedWithTheScanIdle) {
    BridgeWorld world;
    const VKRESULT failed = VK_ERROR(kModuleStorageDevice, kErrFailed);
    const struct {
        const char* how;
        std::vector<int32_t> volumes;
        bool whole;  // the whole disk, else its first volume
        int deep;
        bool stop;      // a stop is asked while the volume is read
        bool finishes;  // the controller's finished record, else a failure
    } cases[] = {
        {"deep scan stopped before its volume was read", {FS_FAT32}, false, 1, true, false},
        {"deep scan of a volume that cannot be read", {FS_FAT32}, false, 1, false, false},
        {"whole disk stopped in its first volume", {FS_FAT32, FS_NTFS}, true, 0, true, false},
        {"whole disk whose last volume is not scanned", {FS_FAT32, FS_FAT16}, true, 0, false, true},
        {"whole disk whose last volume fails", {FS_FAT32, FS_NTFS}, true, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        auto disk = DiskOf(c.volumes);
        if (c.volumes.size() > 1 && c.volumes.back() == FS_FAT16)
            disk.volumes.back().gptType = velmora::bridgetest::kEfiGuid;
        DiskWorld w({disk});
        std::vector<int> seen;
        const auto token = velmora::bridge::NotificationCentre::Default().AddObserver(
            "NormalScranValue",
            [&](const velmora::bridge::Notification&) { seen.push_back(w.scan.GetStatus()); });
        w.controller.onScan = [&](IStorageDevice*, IProgress* progress) -> VKRESULT {
            if (c.stop)
                w.scan.StopOperation(1);
            if (!c.finishes)
                return failed;
            Finish(progress);
            world.poster->RunPending();
            return VK_OK;
        };
        w.scan.SetDeepScan(c.deep);
        w.scan.SetStatus(VK_OP_RUNNING);
        w.scan.DoScan(c.whole ? w.catalogue.GetDiskStorageByIndex(0)
                              : w.catalogue.GetStorageByDiskVolumeIndex(0, 0),
                      nullptr);
        world.poster->RunPending();
        velmora::bridge::NotificationCentre::Default().RemoveObserver(token);
        EXPECT_EQ(w.scan.GetStatus(), VK_OP_IDLE);
        EXPECT_TRUE(!seen.empty() && seen.back() == VK_OP_IDLE)
            << "no post found the scan ended (" << seen.size() << " posts)";
    }
}

TEST_F(ScanRoad, EveryEarlyEndLeavesTheScanIdleAndTellsTheWindows) {
    // Each of these returned with the status the facade had set (running),
    // so the scan looked busy for ever and every later request was dropped.
    BridgeWorld world;
    NotificationLog log("NormalScranValue");
    const struct {
        const char* why;
        std::function<VKRESULT(DiskWorld&)> run;
    } cases[] = {
        {"no storage", [](DiskWorld& w) { return w.scan.DoScan(nullptr, nullptr); }},
        {"disk without volumes",
         [](DiskWorld& w) { return w.scan.DoScan(w.catalogue.GetDiskStorageByIndex(0), nullptr); }},
        {"result files busy",
         [](DiskWorld& w) {
             using SaveRestoreResult::ResultFilesGate;
             EXPECT_TRUE(ResultFilesGate::TryBegin(ResultFilesGate::kSaving));
             const VKRESULT r = w.scan.DoScan(w.catalogue.GetDiskStorageByIndex(0), nullptr);
             ResultFilesGate::End(ResultFilesGate::kSaving);
             return r;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DiskWorld w({DiskOf({})});
        w.scan.SetStatus(VK_OP_RUNNING);
        const size_t before = log.objects.size();
        EXPECT_EQ(c.run(w), VKUIScan::kResultBadArgument);
        EXPECT_EQ(w.scan.GetStatus(), VK_OP_IDLE);
        EXPECT_TRUE(w.controller.scanned.empty());
        world.poster->RunPending();
        EXPECT_GT(log.objects.size(), before);
    }
}

TEST_F(ScanRoad, TimedRefreshesPostAtMostEveryTwoSecondsAndNeverQueueTwice) {
    BridgeWorld world;
    auto clock = std::make_shared<SettableClock>(1000);
    velmora::bridge::InstallClock(clock);
    NotificationLog log("NormalScranValue");
    VKUIController::VKResetTreeNodeData();  // the last post's time back to 0
    VKNotifyUIUpdateData(0);
    world.poster->RunPending();
    ASSERT_EQ(log.objects.size(), 1u);
    clock->Set(1001);
    VKNotifyUIUpdateData(0);
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 1u);  // 1 s later: nothing
    clock->Set(1002);
    VKNotifyUIUpdateData(0);
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 2u);  // 2 s later: posted
    // Forced posts are not throttled, but one waiting is enough.
    for (int i = 0; i < 5; ++i)
        VKNotifyUIUpdateData(1);
    EXPECT_EQ(world.poster->PendingCount(), 1u);
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 3u);
    VKNotifyUIUpdateData(1);
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 4u);
    // While the windows rebuild their trees nothing is posted.
    VKUIScan::instance().SetOpTreeFinished(0);
    VKNotifyUIUpdateData(1);
    EXPECT_EQ(world.poster->PendingCount(), 0u);
    VKUIScan::instance().SetOpTreeFinished(1);
}

// A deep scan walks a long way before its first file: its progress records
// alone tell the windows, at the timed pace, so the bar and the count move
// before the end.
TEST_F(ScanRoad, ProgressRecordsWithoutFilesReachTheWindowsTimed) {
    BridgeWorld world;
    auto clock = std::make_shared<SettableClock>(5000);
    velmora::bridge::InstallClock(clock);
    NotificationLog log("NormalScranValue");
    VKUIController::VKResetTreeNodeData();
    VKUIScan& scan = VKUIScan::instance();
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    info.total = 100;
    const struct {
        time_t now;
        int64_t done;
        size_t posts;
    } steps[] = {{5000, 10, 1}, {5001, 20, 1}, {5002, 42, 2}, {5003, 50, 2}, {5006, 60, 3}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.done);
        clock->Set(step.now);
        info.done = step.done;
        scan.UpdateProgress(&info);
        world.poster->RunPending();
        EXPECT_EQ(log.objects.size(), step.posts);
    }
    double percent = 0;
    unsigned long long count = 7;
    VKUIController::GetScanProgress(&percent, &count);
    EXPECT_EQ(percent, 60);
    EXPECT_EQ(count, 0u);
    // Nothing is posted while the windows rebuild their trees.
    scan.SetOpTreeFinished(0);
    clock->Set(5010);
    scan.UpdateProgress(&info);
    EXPECT_EQ(world.poster->PendingCount(), 0u);
    scan.SetOpTreeFinished(1);
    scan.ClearData();
}

TEST_F(ScanRoad, APollerWhoseOperationEndsEarlyPostsOnce) {
    BridgeWorld world;
    NotificationLog log("PollerDone");
    struct Operation : VKUIOperation {
        void UpdateProgress(_PROGRESS_INFO*) override {}
    } operation;
    operation.SetStatus(VK_OP_RUNNING);
    VKUIController::DoOperation(
        &operation, "PollerDone", [&] { operation.SetStatus(VK_OP_IDLE); }, 1);
    VKUIController::WaitForScanThread();
    velmora::bridge::JoinBackgroundThreads();
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 1u);
}

TEST_F(ScanRoad, ASecondRequestWhileAScanRunsIsIgnored) {
    BridgeWorld world;
    velmora::bridgetest::FakeEnumerator enumerator({DiskOf({FS_FAT32})});
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    VKUIController::UseCatalogue(&catalogue);
    VKUIScan& scan = VKUIScan::instance();
    ScriptedController controller;
    scan.SetControllerFactory([&](_RECOVERY_CONTROLLER_TYPE) { return &controller; });
    std::atomic<bool> release{false};
    controller.onScan = [&](IStorageDevice*, IProgress* progress) {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Finish(progress);
        return VK_OK;
    };
    VKUIController::DoScanWithDiskIndex(0, 0);
    EXPECT_EQ(VKUIController::IsScanRunning(), 1);
    VKUIController::DoScanWithDiskIndex(0, -1);
    release.store(true);
    VKUIController::WaitForScanThread();
    EXPECT_EQ(controller.scanned.size(), 1u);
    EXPECT_EQ(VKUIController::IsScanRunning(), 0);
    // Once it is over the next request runs.
    VKUIController::DoScanWithDiskIndex(0, 0);
    VKUIController::WaitForScanThread();
    EXPECT_EQ(controller.scanned.size(), 2u);
    scan.SetControllerFactory(nullptr);
    scan.ResetRecoveryController(RECOVERY_CONTROLLER_DELETED);
    VKUIController::UseCatalogue(nullptr);
}

// A save reads the result the browser shows: a scan asked for while it runs
// is refused before anything of that result is cleared, and once the save
// is over the scan runs.
TEST_F(ScanRoad, AScanAskedForWhileASaveRunsLeavesTheResultAlone) {
    using SaveRestoreResult::ResultFilesGate;
    BridgeWorld world;
    velmora::bridgetest::FakeEnumerator enumerator({DiskOf({FS_FAT32})});
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    VKUIController::UseCatalogue(&catalogue);
    VKUIScan& scan = VKUIScan::instance();
    ScriptedController controller;
    scan.SetControllerFactory([&](_RECOVERY_CONTROLLER_TYPE) { return &controller; });
    controller.onScan = [&](IStorageDevice*, IProgress* progress) {
        Finish(progress);
        return VK_OK;
    };
    auto shown = File("shown.jpg", 0, 0, 10);
    IFileNode* batch[] = {shown.get()};
    scan.ShowNodes(batch, 1, 0);
    ASSERT_EQ(scan.GetScanFileCnt(), 1u);

    ASSERT_TRUE(ResultFilesGate::TryBegin(ResultFilesGate::kSaving));
    VKUIController::DoScanWithDiskIndex(0, 0);
    VKUIController::WaitForScanThread();
    EXPECT_EQ(scan.GetScanFileCnt(), 1u);
    EXPECT_EQ(scan.GetTypeMap().size(), 1u);
    EXPECT_TRUE(controller.scanned.empty());
    EXPECT_EQ(ResultFilesGate::Current(), ResultFilesGate::kSaving);
    ResultFilesGate::End(ResultFilesGate::kSaving);

    VKUIController::DoScanWithDiskIndex(0, 0);
    VKUIController::WaitForScanThread();
    EXPECT_EQ(controller.scanned.size(), 1u);
    EXPECT_EQ(scan.GetScanFileCnt(), 0u);
    // The scan let the flag go: a save may run again.
    EXPECT_EQ(ResultFilesGate::Current(), ResultFilesGate::kIdle);
    scan.SetControllerFactory(nullptr);
    scan.ResetRecoveryController(RECOVERY_CONTROLLER_DELETED);
    VKUIController::UseCatalogue(nullptr);
}

TEST_F(ScanRoad, ARebuildOfTheCatalogueWaitsForTheScanToLetGoOfItsDevice) {
    // The scan looks over once its last record came, but the engine may
    // still read; the rebuild freed the devices under it.
    BridgeWorld world;
    velmora::bridgetest::FakeEnumerator enumerator({DiskOf({FS_FAT32})});
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    VKUIController::UseCatalogue(&catalogue);
    VKUIScan& scan = VKUIScan::instance();
    ScriptedController controller;
    scan.SetControllerFactory([&](_RECOVERY_CONTROLLER_TYPE) { return &controller; });
    std::atomic<bool> reading{false}, freedWhileReading{false};
    enumerator.onUninit = [&] { freedWhileReading = freedWhileReading || reading.load(); };
    controller.onScan = [&](IStorageDevice*, IProgress* progress) {
        reading = true;
        Finish(progress);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reading = false;
        return VK_OK;
    };
    VKUIController::DoScanWithDiskIndex(0, 0);
    ASSERT_TRUE([&] {
        for (int i = 0; i < 2000 && !reading; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return reading.load();
    }());
    std::thread rebuild([] { VKUIController::RefreshDeviceInfo(); });
    rebuild.join();
    VKUIController::WaitForScanThread();
    enumerator.onUninit = nullptr;
    EXPECT_FALSE(freedWhileReading.load());
    EXPECT_EQ(catalogue.GetInitState(), 2);
    EXPECT_EQ(scan.GetSavedStorage(), nullptr);
    scan.SetControllerFactory(nullptr);
    scan.ResetRecoveryController(RECOVERY_CONTROLLER_DELETED);
    VKUIController::UseCatalogue(nullptr);
}

TEST_F(ScanRoad, CatalogueStartUpAndTheDeepRepeatOfTheLastScan) {
    BridgeWorld world;
    NotificationLog log("DevicesReady");
    // Not built: built in the background, then the name is posted.
    velmora::bridgetest::FakeEnumerator enumerator({DiskOf({FS_FAT32})});
    VKUIDeviceData catalogue(&enumerator);
    VKUIController::UseCatalogue(&catalogue);
    VKUIController::NotifiyDeviceInfoAfterInit("DevicesReady");
    velmora::bridge::JoinBackgroundThreads();
    world.poster->RunPending();
    EXPECT_EQ(catalogue.GetInitState(), 2);
    EXPECT_EQ(log.objects.size(), 1u);
    // Ready: posted at once.
    VKUIController::NotifiyDeviceInfoAfterInit("DevicesReady");
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 2u);

    // The last scan's storage again, deep.
    VKUIScan& scan = VKUIScan::instance();
    ScriptedController controller;
    std::vector<int> kinds;
    scan.SetControllerFactory([&](_RECOVERY_CONTROLLER_TYPE t) {
        kinds.push_back(t);
        return &controller;
    });
    controller.onScan = [&](IStorageDevice*, IProgress* progress) {
        Finish(progress);
        return VK_OK;
    };
    _DiskVolumeData record;
    record.diskIndex = 0;
    record.volumeIndex = 0;
    auto row = std::make_shared<DiskVolumeNodeData>(record);
    VKUIController::DoScanWithData(row);
    VKUIController::WaitForScanThread();
    EXPECT_EQ(VKUIController::IsDeepScan(), 0);
    VKUIController::DoDeepScan();
    VKUIController::WaitForScanThread();
    EXPECT_EQ(kinds, (std::vector<int>{RECOVERY_CONTROLLER_DELETED, RECOVERY_CONTROLLER_COMPLETE}));
    EXPECT_EQ(controller.scanned.size(), 2u);
    EXPECT_EQ(controller.scanned[0], controller.scanned[1]);
    EXPECT_EQ(VKUIController::IsDeepScan(), 1);
    scan.SetDeepScan(0);
    scan.SetControllerFactory(nullptr);
    scan.ResetRecoveryController(RECOVERY_CONTROLLER_DELETED);

    // Building found nothing: nothing is posted.
    velmora::bridgetest::FakeEnumerator none;
    VKUIDeviceData empty(&none);
    empty.InitDeviceInfo();
    VKUIController::UseCatalogue(&empty);
    VKUIController::NotifiyDeviceInfoAfterInit("DevicesReady");
    velmora::bridge::JoinBackgroundThreads();
    world.poster->RunPending();
    EXPECT_EQ(log.objects.size(), 2u);
    VKUIController::UseCatalogue(nullptr);
}

std::vector<std::string> Titles(const OpNodePtr& node) {
    std::vector<std::string> out;
    for (const OpChild& child : node->children()) {
        if (const OpNodePtr* group = std::get_if<OpNodePtr>(&child))
            out.push_back((*group)->name());
    }
    return out;
}

std::vector<IFileNode*> Leaves(const OpNodePtr& node) {
    std::vector<IFileNode*> out;
    for (const OpChild& child : node->children()) {
        if (IFileNode* const* leaf = std::get_if<IFileNode*>(&child))
            out.push_back(*leaf);
    }
    return out;
}

TEST_F(ScanRoad, TypeTreeFilesByExtensionIncrementally) {
    BridgeWorld world;
    velmora::test::TempDir dir;
    const std::string table = dir / "FileType.plist";
    std::ofstream(table) << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>1</key><array><string>pdf</string><string>doc</string></array>
<key>2</key><array><string>jpg</string><string>png</string></array>
<key>16</key><array><string>zip</string><string>doc</string></array>
</dict></plist>)";
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    VKTypeMgr types(table, &scan);
    EXPECT_EQ(types.getTypeString(2), "jpg;png");
    EXPECT_EQ(types.getTypeString(4), std::nullopt);
    EXPECT_EQ(types.getTypeString(64), std::nullopt);
    // Listed twice: the later category wins.
    EXPECT_EQ(types.CategoryOf("doc"), 16u);
    EXPECT_EQ(types.CategoryOf("weird"), 64u);

    auto jpg = File("a.JPG", 0, 0);
    auto doc = File("b.doc", 0, 0);
    auto odd = File("c.weird", 0, 0);
    auto hidden = File("d.png", 0, 0);
    hidden->ShowNode(0);
    IFileNode* batch[] = {jpg.get(), doc.get(), odd.get(), hidden.get()};
    scan.ShowNodes(batch, 4, 0);
    types.refreshTypeTree();
    const std::vector<OpNodePtr> roots = types.getRootNode();
    ASSERT_EQ(roots.size(), 7u);
    std::map<unsigned, OpNodePtr> byBit;
    const unsigned bits[] = {1, 2, 4, 8, 16, 32, 64};
    for (size_t i = 0; i < 7; ++i)
        byBit[bits[i]] = roots[i];
    EXPECT_EQ(Titles(byBit[2]), (std::vector<std::string>{"jpg"}));
    EXPECT_EQ(Titles(byBit[16]), (std::vector<std::string>{"doc"}));
    EXPECT_TRUE(Titles(byBit[1]).empty());
    // Unknown extensions go straight under "other", without a group.
    EXPECT_TRUE(Titles(byBit[64]).empty());
    EXPECT_EQ(Leaves(byBit[64]), (std::vector<IFileNode*>{odd.get()}));
    EXPECT_TRUE(types.isOtherNode(byBit[64].get()));

    // Nothing new: nothing filed twice. A node shown after it was passed is
    // filed only when it is still at the resume position.
    auto late = File("e.jpg", 0, 0);
    late->ShowNode(0);
    IFileNode* second[] = {late.get()};
    scan.ShowNodes(second, 1, 0);
    types.refreshTypeTree();
    types.refreshTypeTree();
    const auto jpgGroup = std::get<OpNodePtr>(byBit[2]->children()[0]);
    EXPECT_EQ(Leaves(jpgGroup), (std::vector<IFileNode*>{jpg.get()}));
    hidden->ShowNode(1);
    late->ShowNode(1);
    types.refreshTypeTree();
    size_t filed = 0;
    for (const OpNodePtr& root : roots) {
        filed += Leaves(root).size();
        for (const OpChild& child : root->children()) {
            if (const OpNodePtr* group = std::get_if<OpNodePtr>(&child))
                filed += Leaves(*group).size();
        }
    }
    EXPECT_EQ(filed, 4u);  // jpg, doc, weird and the last one of its category

    // Marks: "other" keeps its mark when it has no leaves.
    odd->SetCheck(CHECK_CHECKED);
    types.VKSetNeedRefreshTree();
    types.refreshTypeTreeState();
    EXPECT_EQ(byBit[64]->state(), CHECK_CHECKED);
    types.clearData();
    EXPECT_TRUE(byBit[2]->children().empty());
    byBit[64]->setNodeState(CHECK_PARTLY);
    types.refreshTypeTreeState();
    EXPECT_EQ(byBit[64]->state(), CHECK_PARTLY);
}

// The manager is made before the windows install their texts: the groups
// must still be named in the user's language, never by their keys.
TEST_F(ScanRoad, TypeTreeGroupsTakeTheTextsInstalledAfterTheManagerWasMade) {
    BridgeWorld world;
    // Made while the bridge has no texts but its keys, as at the program's start.
    velmora::bridge::InstallTextCatalog(nullptr);
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    VKTypeMgr types("", &scan);
    struct Words final : velmora::bridge::ITextCatalog {
        std::string Text(const std::string& key, const std::string& fallback) const override {
            return key == "PLX_TWO_MOVIE_TITLE" ? "Movies" : fallback;
        }
        std::string DateTimeText(time_t) const override { return {}; }
    };
    velmora::bridge::InstallTextCatalog(std::make_shared<Words>());
    const std::vector<OpNodePtr> roots = types.getRootNode();
    velmora::bridge::InstallTextCatalog(nullptr);
    ASSERT_EQ(roots.size(), 7u);
    EXPECT_EQ(roots[2]->fadeName(), "Movies");
    for (const OpNodePtr& root : roots)
        EXPECT_EQ(root->fadeName().find("PLX_"), std::string::npos) << root->fadeName();
}

TEST_F(ScanRoad, DateTreeFilesYearsAndMonthsInOrder) {
    BridgeWorld world;
    // The 31st of January: a group for a 30-day month is stamped on the
    // 1st of the next month.
    velmora::bridge::InstallClock(std::make_shared<SettableClock>(1675166400));  // 2023-01-31 12:00
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    VKTimeMgr times(&scan);
    OpNodePtr root = OpNodeData::makeGroup(OP_TREE_CREATION_DATE, "");
    auto a = File("a", Ticks(2019, 4, 2), Ticks(2019, 4, 2));
    auto b = File("b", Ticks(2021, 1, 2), Ticks(2021, 1, 2));
    IFileNode* first[] = {a.get(), b.get()};
    scan.ShowNodes(first, 2, 0);
    times.refreshTimeTree(root, OP_TREE_CREATION_DATE);
    auto c = File("c", Ticks(2020, 11, 2), Ticks(2020, 11, 2));
    auto d = File("d", Ticks(2020, 2, 2), Ticks(2020, 2, 2));
    auto hidden = File("h", Ticks(2020, 2, 3), Ticks(2020, 2, 3));
    hidden->ShowNode(0);
    IFileNode* second[] = {c.get(), d.get(), hidden.get()};
    scan.ShowNodes(second, 3, 0);
    times.refreshTimeTree(root, OP_TREE_CREATION_DATE);
    EXPECT_EQ(Titles(root), (std::vector<std::string>{"2019", "2020", "2021"}));
    const auto year2020 = std::get<OpNodePtr>(root->children()[1]);
    EXPECT_EQ(Titles(year2020), (std::vector<std::string>{"02", "11"}));
    const auto year2019 = std::get<OpNodePtr>(root->children()[0]);
    const auto april = std::get<OpNodePtr>(year2019->children()[0]);
    EXPECT_EQ(april->createtime(), 1556712000);  // 2019-05-01 12:00
    // Passed while hidden: not filed later, and nothing twice.
    hidden->ShowNode(1);
    times.refreshTimeTree(root, OP_TREE_CREATION_DATE);
    const auto february = std::get<OpNodePtr>(year2020->children()[0]);
    EXPECT_EQ(Leaves(february), (std::vector<IFileNode*>{d.get()}));
    // Last access: positions only.
    OpNodePtr access = OpNodeData::makeGroup(OP_TREE_ACCESS_DATE, "");
    times.refreshTimeTree(access, OP_TREE_ACCESS_DATE);
    EXPECT_TRUE(access->children().empty());
    // Which tree must work its marks out again follows the view.
    times.clear();
    scan.SetScanType(OP_TREE_CREATION_DATE);
    times.VKResetNeedRefreshTree();
    EXPECT_EQ(times.VKGetNeedRefreshTree(), 0);
    times.VKSetNeedRefreshTree();
    EXPECT_EQ(times.VKGetNeedRefreshTree(), 0);
    scan.SetScanType(OP_TREE_MODIFICATION_DATE);
    EXPECT_EQ(times.VKGetNeedRefreshTree(), 1);
    scan.SetScanType(OP_TREE_PATH);
    EXPECT_EQ(times.VKGetNeedRefreshTree(), 1);
}

}  // namespace

namespace {

// One tree as text: each group's title, then its groups and files in order.
void DumpInto(std::string& out, const OpNodeData& node, int depth) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + node.name() + "\n";
    for (const OpChild& child : node.children()) {
        if (const OpNodePtr* group = std::get_if<OpNodePtr>(&child))
            DumpInto(out, **group, depth + 1);
        else
            out += std::string(static_cast<size_t>(depth + 1) * 2, ' ') + "- " +
                   std::get<IFileNode*>(child)->GetFileName() + "\n";
    }
}

std::string Dump(const std::vector<OpNodePtr>& top) {
    std::string out;
    for (const OpNodePtr& node : top)
        DumpInto(out, *node, 0);
    return out;
}

// The type and date trees over the scan operation's indexes, with their own
// file-type and date indexes.
struct ScanTrees {
    ScanTrees(VKUIScan& scan, const std::string& table)
        : types(table, &scan),
          times(&scan),
          trees(std::make_shared<velmora::bridge::ScanTreeSource>(scan, types, times)) {}
    std::string Of(int kind) { return Dump(trees.Snapshot(kind)); }
    VKTypeMgr types;
    VKTimeMgr times;
    VKUITreeData trees;
};

}  // namespace

// A search files the hits it found into the type and date trees without
// walking the indexes again: the trees come out as a walk over the indexes
// makes them from the files the search left shown (groups, files, their
// order: within a month the files arrived across categories), and a
// refresh after the search files only what arrived since. A search that
// shows few files takes the hits, one that shows many walks.
TEST_F(ScanRoad, SearchTreesMatchAWalkOverTheIndexes) {
    BridgeWorld world;
    velmora::test::TempDir dir;
    const std::string table = dir / "FileType.plist";
    std::ofstream(table) << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>1</key><array><string>pdf</string><string>doc</string></array>
<key>2</key><array><string>jpg</string><string>png</string></array>
<key>16</key><array><string>zip</string></array>
</dict></plist>)";
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    ScanTrees searched(scan, table);
    // The engine's filter sorts files into categories by the same table.
    std::map<int, std::string> lists;
    for (int bit : {1, 2, 16})
        lists[bit] = searched.types.getTypeString(bit).value_or("");
    InitializeFileTypeLists(lists);
    const char* exts[] = {"jpg", "weird", "zip", "pdf", "png", "doc"};
    std::vector<std::unique_ptr<TestNode>> files;
    const auto arrive = [&](int from, int to) {
        std::vector<IFileNode*> batch;
        for (int i = from; i < to; ++i) {
            // Months hold files of every category, in arrival order (n7
            // of "other" before n17 of documents); one file in five has no
            // creation time.
            const long long modified = Ticks(2019 + i / 40, 1 + (i / 20) % 2, 1 + i % 27);
            const long long created = i % 5 == 0 ? 0 : Ticks(2018 + i % 2, 1 + i % 3, 2);
            files.push_back(File("n" + std::to_string(i) + "." + exts[i % 6], created, modified));
            batch.push_back(files.back().get());
        }
        scan.ShowNodes(batch.data(), static_cast<unsigned>(batch.size()), 0);
    };
    arrive(0, 30);
    searched.trees.VKGetTreeNodeData(0);
    arrive(30, 80);
    searched.trees.VKGetTreeNodeData(0);
    ASSERT_GE(scan.GetTypeMap().size(), 3u);

    const struct {
        const char* key;
        size_t hits;
    } cases[] = {
        {"7.", 8},   // n7., n17. ... n77.: few, filed from the hits
        {"n1", 11},  // n1, n10 ... n19: past an eighth, walked
        {"zz", 0},   // nothing
        {"", 80},    // every file shown again
    };
    int later = 80;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        searched.trees.StopSearch();
        ASSERT_EQ(searched.trees.DoSearchWithString(c.key, "DoSearchValue"), 1);
        searched.trees.WaitSearch();
        std::vector<IFileNode*> hits;
        searched.trees.GetSearchResultToArr(hits);
        EXPECT_EQ(hits.size(), c.key[0] != '\0' ? c.hits : 0u);

        // The walk: trees made afresh from the files the search left shown.
        ScanTrees walked(scan, table);
        walked.trees.VKGetTreeNodeData(1);
        for (int kind : {OP_TREE_FILE_TYPE, OP_TREE_CREATION_DATE, OP_TREE_MODIFICATION_DATE})
            EXPECT_EQ(searched.Of(kind), walked.Of(kind)) << "tree kind " << kind;
        // The scan goes on: both file just the new arrivals.
        arrive(later, later + 7);
        later += 7;
        searched.trees.VKGetTreeNodeData(0);
        walked.trees.VKGetTreeNodeData(0);
        for (int kind : {OP_TREE_FILE_TYPE, OP_TREE_CREATION_DATE, OP_TREE_MODIFICATION_DATE})
            EXPECT_EQ(searched.Of(kind), walked.Of(kind)) << "after the search, kind " << kind;
    }
    {
        auto hold = searched.trees.Lock();
        searched.types.clear();
        searched.times.clear();
    }
}

// The scan filing files while searches (few hits and many) rebuild the
// trees from what they found, forced refreshes run and the browser asks its
// questions: no race (the ThreadSanitizer build), and once the scan has
// ended a last search leaves the trees a walk over the indexes makes.
TEST_F(ScanRoad, SearchesFromTheScanIndexesWhileTheScanFiles) {
    BridgeWorld world;
    velmora::test::TempDir dir;
    const std::string table = dir / "FileType.plist";
    std::ofstream(table) << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>1</key><array><string>pdf</string></array>
<key>2</key><array><string>jpg</string></array>
</dict></plist>)";
    VKUIDeviceData catalogue(nullptr);
    VKUIScan scan(&catalogue);
    ScanTrees searched(scan, table);
    constexpr int kFiles = 1200;
    const char* exts[] = {"jpg", "weird", "pdf"};
    std::vector<std::unique_ptr<TestNode>> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(File("n" + std::to_string(i) + "." + exts[i % 3],
                             Ticks(2018 + i % 2, 1 + i % 3, 2),
                             Ticks(2019 + i / 400, 1 + (i / 50) % 12, 3)));
    }
    std::atomic<bool> scanning{true};
    std::thread filing([&] {
        for (int i = 0; i < kFiles; i += 40) {
            std::vector<IFileNode*> batch;
            for (int j = i; j < i + 40; ++j)
                batch.push_back(files[static_cast<size_t>(j)].get());
            scan.ShowNodes(batch.data(), static_cast<unsigned>(batch.size()), 0);
            searched.trees.VKGetTreeNodeData(0);
        }
        scanning = false;
    });
    std::thread searching([&] {
        for (int round = 0; scanning || round < 2; ++round) {
            if (searched.trees.DoSearchWithString(round % 2 == 0 ? "7." : "n1", "DoSearchValue") ==
                1) {
                searched.trees.WaitSearch();
                searched.trees.StopSearch();
            }
        }
    });
    std::thread refreshing([&] {
        while (scanning)
            searched.trees.VKGetTreeNodeData(1);
    });
    while (scanning) {
        for (int kind : {OP_TREE_FILE_TYPE, OP_TREE_CREATION_DATE, OP_TREE_MODIFICATION_DATE}) {
            for (const OpNodePtr& top : searched.trees.Snapshot(kind)) {
                std::vector<OpChild> list;
                searched.trees.GetFileNodeToArray(list, top.get());
                searched.trees.GetNodeChildrenCnt(top.get());
            }
        }
        std::vector<IFileNode*> hits;
        searched.trees.GetSearchResultToArr(hits);
    }
    filing.join();
    searching.join();
    refreshing.join();

    ASSERT_EQ(searched.trees.DoSearchWithString("7.", "DoSearchValue"), 1);
    searched.trees.WaitSearch();
    ScanTrees walked(scan, table);
    walked.trees.VKGetTreeNodeData(1);
    for (int kind : {OP_TREE_FILE_TYPE, OP_TREE_CREATION_DATE, OP_TREE_MODIFICATION_DATE})
        EXPECT_EQ(searched.Of(kind), walked.Of(kind)) << "tree kind " << kind;
    searched.trees.StopSearch();
    world.poster->RunPending();
    {
        auto hold = searched.trees.Lock();
        searched.types.clear();
        searched.times.clear();
    }
}
