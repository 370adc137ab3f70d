// The saving and loading road of the facade: a real FAT scan saved to a
// result file and loaded back through it, with the progress posts the
// windows see; the default names and the remembered folder.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "EngineResultAdapters.h"
#include "FatFixtureScan.h"
#include "StartThread.h"
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

// Drives the main loop until "QueryProgressFinish" has come. A poller that
// never ends is not joined: the test fails instead of hanging.
bool UntilFinished(BridgeWorld& world, NotificationLog& finished, int seconds = 120) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (finished.objects.empty() && std::chrono::steady_clock::now() < until) {
        world.poster->RunPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (finished.objects.empty())
        return false;
    velmora::bridge::JoinBackgroundThreads();
    world.poster->RunPending();
    return true;
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
          runner_(&trees, &scan),
          counting_(runner_, cleared) {
        velmora::bridge::SetSaveLoadScanSource(this);
    }
    ~FatSaveLoadSource() override { velmora::bridge::SetSaveLoadScanSource(nullptr); }

    VKUIOperation& ScanOperation() override { return scan; }
    SaveRestoreResult::IScanResultSource* ResultSource() override { return &source_; }
    SaveRestoreResult::IResultDeviceCatalogue* Catalogue() override { return &catalogue_; }
    void ClearData() override { ++cleared; }
    SaveRestoreResult::IResultScanRunner* Runner() override {
        return replayer != nullptr ? replayer : &counting_;
    }
    std::string SavedStorageName() override { return "VOL16"; }

    ReplayedScan scan;
    ReplayedTrees trees;
    // Clears of the scan's result, by the bridge or by the load's runner.
    int cleared = 0;
    // A runner of the test's own in place of the engine's (null: the engine's).
    SaveRestoreResult::IResultScanRunner* replayer = nullptr;

private:
    // The engine's replay, counting the clears the load makes through it.
    class CountingRunner : public SaveRestoreResult::IResultScanRunner {
    public:
        CountingRunner(SaveRestoreResult::IResultScanRunner& inner, int& cleared)
            : inner_(inner), cleared_(cleared) {}
        void ClearData() override {
            ++cleared_;
            inner_.ClearData();
        }
        void SetImageResult(int diskImage, int edi) override {
            inner_.SetImageResult(diskImage, edi);
        }
        void Replay(IStorageDevice* device, const SaveRestoreResult::ScanKindRecord& kind,
                    SaveRestoreResult::CRestoreScanSink* sink) override {
            inner_.Replay(device, kind, sink);
        }

    private:
        SaveRestoreResult::IResultScanRunner& inner_;
        int& cleared_;
    };

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
    CountingRunner counting_;
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
        ASSERT_TRUE(UntilFinished(world, finished));
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
        ASSERT_TRUE(UntilFinished(world, finished));
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

namespace {

// A scanned FAT image with its result saved through the facade, for the
// loads below.
struct SavedFatScan {
    SavedFatScan() {
        std::string why;
        made = FatFixtureScan::MakeImage(dir.path(), &why);
        reason = why;
    }
    bool Scan(BridgeWorld& world) {
        fat = std::make_unique<FatFixtureScan>(dir / "fat16.img");
        velmora::bridgetest::RunToEnd run;
        if (fat->Run(&run) != VK_OK)
            return false;
        source = std::make_unique<FatSaveLoadSource>(*fat);
        NotificationLog finished("QueryProgressFinish");
        VKUIController::RestorPostUIUpdate("SaveProgress", 1);
        VKUIController::beginSaveOrRestoreNode(1, result, nullptr);
        return UntilFinished(world, finished, 60);
    }
    TempDir dir;
    bool made = false;
    std::string reason;
    const std::string result = dir / "scan.Velmora";
    std::unique_ptr<FatFixtureScan> fat;
    std::unique_ptr<FatSaveLoadSource> source;
};

struct LoadProgress {
    unsigned long long total = 0, current = 0;
    long long code = -1;
};

LoadProgress ReadProgress(int save) {
    LoadProgress p;
    VKUIController::GetSaveorRestoreProgress(&p.total, &p.current, &p.code, save);
    return p;
}

// The code the windows read when "QueryProgressFinish" reaches them.
class CodeAtFinish {
public:
    explicit CodeAtFinish(int save) {
        token_ = velmora::bridge::NotificationCentre::Default().AddObserver(
            "QueryProgressFinish", [this, save](const velmora::bridge::Notification&) {
                codes.push_back(ReadProgress(save).code);
            });
    }
    ~CodeAtFinish() { velmora::bridge::NotificationCentre::Default().RemoveObserver(token_); }
    std::vector<long long> codes;

private:
    velmora::bridge::NotificationCentre::Token token_ = 0;
};

}  // namespace

// A load while a save or another load holds the result files would wipe
// the result they read or write: it is refused before the scan's result is
// touched, and its progress ends with the busy code, whether the browser
// starts watching before the load is begun or, as the main window does it,
// after.
TEST(SaveLoadRoad, ALoadWhileTheResultIsBusyTouchesNothingAndEnds) {
    SavedFatScan saved;
    if (!saved.made)
        VELMORA_REQUIRE_TOOL(false, saved.reason);
    BridgeWorld world;
    ASSERT_TRUE(saved.Scan(world));
    FatSaveLoadSource& source = *saved.source;

    using Gate = SaveRestoreResult::ResultFilesGate;
    const struct {
        const char* holder;
        Gate::Operation op;
        bool watchFirst;
    } cases[] = {{"save, watched first", Gate::kSaving, true},
                 {"save, begun first", Gate::kSaving, false},
                 {"load, begun first", Gate::kLoading, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holder);
        ASSERT_TRUE(Gate::TryBegin(c.op));
        NotificationLog finished("QueryProgressFinish");
        CodeAtFinish code(0);
        if (c.watchFirst)
            VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
        VKUIController::beginSaveOrRestoreNode(0, saved.result, nullptr);
        if (!c.watchFirst)
            VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
        const bool ended = UntilFinished(world, finished, 10);
        Gate::End(c.op);
        ASSERT_TRUE(ended) << "the refused load's progress never finished";
        EXPECT_EQ(finished.objects.size(), 1u);
        EXPECT_EQ(source.cleared, 0);
        EXPECT_EQ(source.trees.files, 0);
        EXPECT_EQ(code.codes, std::vector<long long>{SaveRestoreResult::kResultBusy});
        const LoadProgress p = ReadProgress(0);
        EXPECT_EQ(p.current, p.total);
    }
}

// The save's finishing record is its last word: by then the result files
// are free, so a load begun on it (as the windows do on "QueryProgressFinish")
// goes, and the same the other way round.
TEST(SaveLoadRoad, TheFinishComesWhenTheResultFilesAreFree) {
    SavedFatScan saved;
    if (!saved.made)
        VELMORA_REQUIRE_TOOL(false, saved.reason);
    BridgeWorld world;
    ASSERT_TRUE(saved.Scan(world));
    FatSaveLoadSource& source = *saved.source;

    // Seen from the sink, on the operation's own thread.
    class GateAtFinish : public IProgress {
    public:
        void UpdateProgress(_PROGRESS_INFO* info) override {
            if (info != nullptr && info->state == PROGRESS_FINISHED) {
                gate = SaveRestoreResult::ResultFilesGate::Current();
                ++finishes;
                done = true;
            }
        }
        int Continued() override { return 1; }
        int shouldBuild() override { return 1; }
        std::atomic<bool> done{false};
        std::atomic<int> finishes{0};
        std::atomic<int> gate{-1};
    };
    const auto wait = [](GateAtFinish& sink) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!sink.done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return sink.done.load();
    };
    {
        SCOPED_TRACE("save");
        GateAtFinish sink;
        ASSERT_EQ(SaveRestoreResult::DoSaveScanResult((saved.dir / "again.Velmora").c_str(), &sink,
                                                      source.ResultSource()),
                  0);
        ASSERT_TRUE(wait(sink));
        EXPECT_EQ(sink.gate, SaveRestoreResult::ResultFilesGate::kIdle);
    }
    for (const char* path : {"again.Velmora", "missing.Velmora"}) {
        SCOPED_TRACE(path);
        GateAtFinish sink;
        ASSERT_EQ(SaveRestoreResult::DoRestoreScanResult((saved.dir / path).c_str(), &sink, nullptr,
                                                         source.Catalogue(), source.Runner()),
                  0);
        ASSERT_TRUE(wait(sink));
        EXPECT_EQ(sink.gate, SaveRestoreResult::ResultFilesGate::kIdle);
        // A failure is reported once, with the end.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(sink.finishes, 1);
    }

    // Through the facade, the way the windows go: save, and on its finish
    // the main window begins the load, which the browser then watches.
    source.trees.files = 0;
    source.trees.roots = 0;
    source.cleared = 0;
    {
        NotificationLog finished("QueryProgressFinish");
        VKUIController::RestorPostUIUpdate("SaveProgress", 1);
        VKUIController::beginSaveOrRestoreNode(1, saved.result, nullptr);
        ASSERT_TRUE(UntilFinished(world, finished, 60));
        EXPECT_EQ(ReadProgress(1).code, 0);
    }
    NotificationLog finished("QueryProgressFinish");
    CodeAtFinish code(0);
    VKUIController::beginSaveOrRestoreNode(0, saved.result, nullptr);
    VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
    ASSERT_TRUE(UntilFinished(world, finished, 60));
    EXPECT_EQ(finished.objects.size(), 1u);
    EXPECT_EQ(code.codes, std::vector<long long>{0});
    EXPECT_EQ(source.cleared, 1);
    EXPECT_EQ(source.trees.files, static_cast<long long>(saved.fat->Files().size()));
}

// The replay's scan controllers mark the scan operation done before the
// load has judged what was replayed; the load's watch ends with the load's
// own verdict, never with the controllers' success. Also when the load
// fails before the browser starts watching it.
TEST(SaveLoadRoad, TheLoadsWatchEndsWithTheLoadsOwnVerdict) {
    SavedFatScan saved;
    if (!saved.made)
        VELMORA_REQUIRE_TOOL(false, saved.reason);
    BridgeWorld world;
    ASSERT_TRUE(saved.Scan(world));
    FatSaveLoadSource& source = *saved.source;

    // Reports a finished scan, then lingers past a poll without replaying.
    class FinishesEarly : public SaveRestoreResult::IResultScanRunner {
    public:
        explicit FinishesEarly(VKUIOperation& scan) : scan_(scan) {}
        void ClearData() override {}
        void SetImageResult(int, int) override {}
        void Replay(IStorageDevice*, const SaveRestoreResult::ScanKindRecord&,
                    SaveRestoreResult::CRestoreScanSink*) override {
            _PROGRESS_INFO info{};
            info.state = PROGRESS_FINISHED;
            info.total = 100;
            info.done = 100;
            scan_.UpdateProgress(&info);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }

    private:
        VKUIOperation& scan_;
    };
    FinishesEarly early(source.scan);
    source.replayer = &early;
    {
        NotificationLog finished("QueryProgressFinish");
        CodeAtFinish code(0);
        VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
        VKUIController::beginSaveOrRestoreNode(0, saved.result, nullptr);
        ASSERT_TRUE(UntilFinished(world, finished, 60));
        EXPECT_EQ(code.codes, std::vector<long long>{SaveRestoreResult::kResultNoDevice});
    }
    source.replayer = nullptr;
    velmora::test::WriteFile(saved.dir / "junk.Velmora", std::string(4096, 'j'));
    {
        NotificationLog finished("QueryProgressFinish");
        CodeAtFinish code(0);
        VKUIController::beginSaveOrRestoreNode(0, saved.dir / "junk.Velmora", nullptr);
        // The load has failed by the time the browser watches it.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (SaveRestoreResult::ResultFilesGate::Current() !=
                   SaveRestoreResult::ResultFilesGate::kIdle &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
        ASSERT_TRUE(UntilFinished(world, finished, 10)) << "a load over before its watch hung";
        ASSERT_EQ(code.codes.size(), 1u);
        EXPECT_NE(code.codes[0], 0);
    }
}

// A save refused because the result files are busy ends its progress with
// the busy code; a save under way keeps its own progress.
TEST(SaveLoadRoad, ARefusedSaveEndsWithTheBusyCode) {
    SavedFatScan saved;
    if (!saved.made)
        VELMORA_REQUIRE_TOOL(false, saved.reason);
    BridgeWorld world;
    ASSERT_TRUE(saved.Scan(world));
    using Gate = SaveRestoreResult::ResultFilesGate;
    for (Gate::Operation holder : {Gate::kLoading, Gate::kScanning}) {
        SCOPED_TRACE(holder);
        ASSERT_TRUE(Gate::TryBegin(holder));
        NotificationLog finished("QueryProgressFinish");
        CodeAtFinish code(1);
        VKUIController::RestorPostUIUpdate("SaveProgress", 1);
        VKUIController::beginSaveOrRestoreNode(1, saved.dir / "busy.Velmora", nullptr);
        const bool ended = UntilFinished(world, finished, 10);
        Gate::End(holder);
        ASSERT_TRUE(ended);
        EXPECT_EQ(code.codes, std::vector<long long>{SaveRestoreResult::kResultBusy});
        struct stat st {};
        EXPECT_NE(::stat((saved.dir / "busy.Velmora").c_str(), &st), 0);
    }
}

namespace {

// A save's source that takes its time over the result's nodes: the save is
// under way, its file half written, while the test ends the program.
class SlowSaveSource : public FatSaveLoadSource {
public:
    explicit SlowSaveSource(FatFixtureScan& fat) : FatSaveLoadSource(fat) {}
    SaveRestoreResult::IScanResultSource* ResultSource() override { return &slow_; }

    std::atomic<bool> entered{false};
    std::atomic<bool> left{false};

private:
    class Slow : public SaveRestoreResult::IScanResultSource {
    public:
        explicit Slow(SlowSaveSource& owner) : owner_(owner) {}
        SaveRestoreResult::ScanKindRecord ScanKind() override { return owner_.Inner()->ScanKind(); }
        SaveRestoreResult::DiskVolumeRecord DeviceRecord() override {
            return owner_.Inner()->DeviceRecord();
        }
        std::vector<SaveRestoreResult::SavedRoot> Roots() override {
            owner_.entered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            auto roots = owner_.Inner()->Roots();
            owner_.left = true;
            return roots;
        }

    private:
        SlowSaveSource& owner_;
    };
    SaveRestoreResult::IScanResultSource* Inner() { return FatSaveLoadSource::ResultSource(); }
    Slow slow_{*this};
};

// The program's end while a save runs: the end waits for the save (which is
// never cut off, nor left running past the objects it reads, which go right
// after), and the file it replaces is then whole and loads.
TEST(SaveLoadRoad, TheProgramsEndWaitsForASaveUnderWay) {
    SavedFatScan saved;
    if (!saved.made)
        VELMORA_REQUIRE_TOOL(false, saved.reason);
    BridgeWorld world;
    ASSERT_TRUE(saved.Scan(world));
    saved.source.reset();
    {
        SlowSaveSource slow(*saved.fat);
        VKUIController::RestorPostUIUpdate("SaveProgress", 1);
        VKUIController::beginSaveOrRestoreNode(1, saved.result, nullptr);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!slow.entered && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(slow.entered) << "the save never read the result";
        velmora::bridge::StopAndJoinOperations();
        EXPECT_TRUE(slow.left) << "the end did not wait for the save";
    }
    world.poster->RunPending();
    // No half-written file is left beside the result.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(saved.dir.path())) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("fat16."))
            names.push_back(name);
    }
    EXPECT_EQ(names, std::vector<std::string>{"scan.Velmora"});

    FatSaveLoadSource source(*saved.fat);
    NotificationLog finished("QueryProgressFinish");
    VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
    VKUIController::beginSaveOrRestoreNode(0, saved.result, nullptr);
    ASSERT_TRUE(UntilFinished(world, finished));
    unsigned long long total = 0, current = 0;
    long long code = -1;
    VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(source.trees.files, static_cast<long long>(saved.fat->Files().size()));
}

}  // namespace
