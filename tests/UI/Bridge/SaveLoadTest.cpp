// The saving and loading road of the facade: a real FAT scan saved to a
// result file and loaded back through it, with the progress posts the
// windows see; the default names and the remembered folder.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "EngineResultAdapters.h"
#include "FatFixtureScan.h"
#include "VKUIController.h"
#include "VKUISaveLoad.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::FatFixtureScan;
using velmora::bridgetest::NotificationLog;
using velmora::test::TempDir;

namespace {

TEST(ResultFileNames, MonthBeforeDayAndAFileSafeTime) {
    struct tm local {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 9;
    local.tm_min = 7;
    local.tm_sec = 2;
    local.tm_isdst = -1;
    const time_t when = ::mktime(&local);
    EXPECT_EQ(velmora::bridge::ResultFileName("Backup", when, false),
              "Backup_03-05-2024 at 09:07:02");
    EXPECT_EQ(velmora::bridge::ResultFileName("Backup", when, true),
              "Backup_03-05-2024 at 09_07_02");
}

TEST(ResultFileNames, TheSaveFolderIsRemembered) {
    BridgeWorld world;
    EXPECT_EQ(VKUIController::GetSavePath(), "");
    VKUIController::SavePathToPList("/home/someone/Results");
    EXPECT_EQ(VKUIController::GetSavePath(), "/home/someone/Results");
}

// Drives the main loop until "QueryProgressFinish" has come.
void UntilFinished(BridgeWorld& world, NotificationLog& finished) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (finished.objects.empty() && std::chrono::steady_clock::now() < until) {
        world.poster->RunPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    velmora::bridge::JoinBackgroundThreads();
    world.poster->RunPending();
}

TEST(ResultFileNames, TheDefaultFolderIsMadeBesideTheProgram) {
    TempDir work;
    velmora::test::ScopedEnv env("VELMORA_WORK_PATH", work.path().c_str());
    EXPECT_EQ(VKUIController::GetDefaultSavePath(), work / "SaveScan");
    struct stat st {};
    ASSERT_EQ(::stat((work / "SaveScan").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // An existing folder is left alone.
    EXPECT_EQ(VKUIController::GetDefaultSavePath(), work / "SaveScan");
}

// A save that ends before the poller first looks: no progress post, and
// "QueryProgressFinish" exactly once; the progress of a finished save is
// whole whatever its done field says.
TEST(SaveLoadPoller, AnEarlyEndPostsOnlyTheFinish) {
    BridgeWorld world;
    NotificationLog progress("SaveProgress");
    NotificationLog finished("QueryProgressFinish");
    VKSaveAndRestoreNodeOperate& op = VKSaveAndRestoreNodeOperate::instance();
    VKUIController::RestorPostUIUpdate("SaveProgress", 1);
    _PROGRESS_INFO info{};
    info.state = PROGRESS_FINISHED;
    info.total = 100;
    info.done = 5;
    op.UpdateProgress(&info);
    UntilFinished(world, finished);
    EXPECT_EQ(progress.objects.size(), 0u);
    EXPECT_EQ(finished.objects.size(), 1u);
    unsigned long long total = 0, current = 0;
    long long code = -1;
    VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 1);
    EXPECT_EQ(total, 100u);
    EXPECT_EQ(current, 100u);
    EXPECT_EQ(code, 0);
}

// The scan operation as a load reports to it: its status ends with the
// finished record.
class ReplayedScan : public VKUIOperation {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override {
        if (info == nullptr)
            return;
        SetProgressInfo(*info);
        if (info->state == PROGRESS_FINISHED)
            SetStatus(VK_OP_IDLE);
        SetNeedUIUpdate(1);
    }
};

// The trees a load replays.
class ReplayedTrees : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        for (unsigned i = 0; i < count; ++i)
            files += nodes[i] != nullptr && !nodes[i]->IsDirectory();
    }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    long long files = 0;
    int roots = 0;
};

class FatSaveLoadSource : public ISaveLoadScanSource {
public:
    explicit FatSaveLoadSource(FatFixtureScan& fat)
        : entry_(SaveRestoreResult::DeviceRecordOf(fat.device(), 0, 0)),
          source_(fat.controller(), QuickScan(),
                  SaveRestoreResult::DeviceRecordOf(fat.device(), 0, 0),
                  std::vector<IFilesystemNode*>(fat.roots())),
          catalogue_(fat.device(), Entry(entry_)),
          runner_(&trees, &scan) {
        velmora::bridge::SetSaveLoadScanSource(this);
    }
    ~FatSaveLoadSource() override { velmora::bridge::SetSaveLoadScanSource(nullptr); }

    VKUIOperation& ScanOperation() override { return scan; }
    SaveRestoreResult::IScanResultSource* ResultSource() override { return &source_; }
    SaveRestoreResult::IResultDeviceCatalogue* Catalogue() override { return &catalogue_; }
    void ClearData() override { ++cleared; }
    SaveRestoreResult::IResultScanRunner* Runner() override { return &runner_; }
    std::string SavedStorageName() override { return "VOL16"; }

    ReplayedScan scan;
    ReplayedTrees trees;
    int cleared = 0;

private:
    static SaveRestoreResult::ScanKindRecord QuickScan() {
        SaveRestoreResult::ScanKindRecord kind;
        kind.controllerType = 0;
        return kind;
    }
    static SaveRestoreResult::CatalogueEntry Entry(const SaveRestoreResult::DiskVolumeRecord& r) {
        SaveRestoreResult::CatalogueEntry e;
        e.diskIndex = r.diskIndex;
        e.volumeIndex = r.volumeIndex;
        e.name = r.name;
        e.fileSystem = r.fileSystem;
        e.size = r.size;
        return e;
    }
    SaveRestoreResult::DiskVolumeRecord entry_;
    SaveRestoreResult::ControllerResultSource source_;
    SaveRestoreResult::SingleDeviceCatalogue catalogue_;
    SaveRestoreResult::EngineReplayRunner runner_;
};

TEST(SaveLoadRoad, RealScanSavedAndLoadedBackWithProgress) {
    TempDir dir;
    std::string why;
    if (!FatFixtureScan::MakeImage(dir.path(), &why))
        VELMORA_REQUIRE_TOOL(false, why);
    BridgeWorld world;
    FatFixtureScan fat(dir / "fat16.img");
    velmora::bridgetest::RunToEnd run;
    ASSERT_EQ(fat.Run(&run), VK_OK);
    FatSaveLoadSource source(fat);
    EXPECT_EQ(VKUIController::GetSaveFileName().rfind("VOL16_", 0), 0u);

    const std::string result = dir / "scan.result";
    {
        NotificationLog progress("SaveProgress");
        NotificationLog finished("QueryProgressFinish");
        VKUIController::RestorPostUIUpdate("SaveProgress", 1);
        VKUIController::beginSaveOrRestoreNode(1, result, nullptr);
        UntilFinished(world, finished);
        EXPECT_EQ(finished.objects.size(), 1u);
        unsigned long long total = 0, current = 1;
        long long code = -1;
        VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 1);
        EXPECT_EQ(code, 0);
        EXPECT_GT(total, 0u);
        EXPECT_EQ(current, total);
        struct stat st {};
        ASSERT_EQ(::stat(result.c_str(), &st), 0);
        EXPECT_GT(st.st_size, 0);
    }
    {
        NotificationLog progress("NormalScranValue");
        NotificationLog finished("QueryProgressFinish");
        VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
        VKUIController::beginSaveOrRestoreNode(0, result, nullptr);
        UntilFinished(world, finished);
        EXPECT_EQ(finished.objects.size(), 1u);
        EXPECT_GE(progress.objects.size(), 1u);
        EXPECT_EQ(source.cleared, 1);
        unsigned long long total = 0, current = 1;
        long long code = -1;
        VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 0);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(current, total);
        // Every file of the scan came back.
        EXPECT_EQ(source.trees.roots, 1);
        EXPECT_EQ(source.trees.files, static_cast<long long>(fat.Files().size()));
    }
}

TEST(SaveLoadRoad, AFailedLoadEndsWithItsCode) {
    TempDir dir;
    std::string why;
    if (!FatFixtureScan::MakeImage(dir.path(), &why))
        VELMORA_REQUIRE_TOOL(false, why);
    BridgeWorld world;
    FatFixtureScan fat(dir / "fat16.img");
    velmora::bridgetest::RunToEnd run;
    ASSERT_EQ(fat.Run(&run), VK_OK);
    FatSaveLoadSource source(fat);
    velmora::test::WriteFile(dir / "junk.result", std::string(4096, 'j'));
    NotificationLog finished("QueryProgressFinish");
    VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
    VKUIController::beginSaveOrRestoreNode(0, dir / "junk.result", nullptr);
    UntilFinished(world, finished);
    EXPECT_EQ(finished.objects.size(), 1u);
    unsigned long long total = 0, current = 0;
    long long code = 0;
    VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 0);
    EXPECT_NE(code, 0);
    EXPECT_EQ(source.trees.files, 0);
}

}  // namespace
