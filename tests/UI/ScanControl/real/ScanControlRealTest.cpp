// The results browser's scan control, search, save and load on the
// program's own bridge and engine: a GPT disk whose FAT16 volume holds
// music and movies, live and deleted (tests/fixtures/windows/make_gpt_media.py),
// attached to a loop device and scanned from the main window as a user would. Run under Xvfb, as
// root (loop devices, a read-only tmpfs).
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "BridgeSeam/IBridge.h"
#include "Browser/FileListPane.h"
#include "Browser/VKDeletailWindowController.h"
#include "Browser/VKResultFilePane.h"
#include "Browser/VKScanControl.h"
#include "Browser/VKSearchController.h"
#include "EngineFactories.h"
#include "FileNode.h"
#include "RealDevices.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "VKUIController.h"
#include "VKUIPublic.h"
#include "VKUIScan.h"
#include "Windows/VKProgressWindow.h"
#include "Windows/VKRootWindowController.h"
#include "Windows/VKSelectDiskViewController.h"
#include "Windows/VKSelectTypeViewController.h"
#include "support/TestSupport.h"

namespace velmora::browser {
namespace {

// Loop devices, commands, bounded waits and the disk page's rows.
using namespace velmora::test::real;

// A folder no one can write into, root included: a tmpfs mounted read-only.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : path_(path) {
        QDir().mkpath(path_);
        mounted_ =
            ::mount("tmpfs", path_.toLocal8Bit().constData(), "tmpfs", MS_RDONLY, "size=1m") == 0;
    }
    ~ReadOnlyFolder() {
        if (mounted_)
            ::umount2(path_.toLocal8Bit().constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    QString path_;
    bool mounted_ = false;
};

// Lets the windows run for `ms` whatever happens.
void RunFor(int ms) {
    WaitFor([] { return false; }, ms);
}

// The path of a node below its volume's root ("/Docs/report.pdf").
std::string PathBelowRoot(IFileNode* node) {
    const std::string path = VKUIPublic::GetPathByFileNode(node);
    const size_t second = path.find('/', 1);
    return second == std::string::npos ? std::string() : path.substr(second);
}

// Every node of the current result below its root, folders ending in "/".
std::set<std::string> ResultTree() {
    std::set<std::string> paths;
    for (IFileNode* root : VKUIScan::instance().GetFileSystemNode()) {
        std::vector<std::pair<IFileNode*, std::string>> pending{{root, ""}};
        while (!pending.empty()) {
            auto [node, at] = pending.back();
            pending.pop_back();
            for (IFileNode* child = node->GetFirstChild(); child != nullptr;
                 child = child->GetNextNode()) {
                const std::string path =
                    at + "/" + (child->GetFileName() ? child->GetFileName() : "");
                paths.insert(child->IsDirectory() ? path + "/" : path);
                if (child->IsDirectory())
                    pending.emplace_back(child, path);
            }
        }
    }
    return paths;
}

int64_t FilesFound() {
    double percent = 0;
    int64_t count = 0;
    seam::Bridge().GetScanProgress(&percent, &count);
    return count;
}

// The browser the main window opens; with `pauseAtStart` it is paused the
// moment its scan starts, as a user's first click would: the engine then
// waits at its first question, after the volume's root folder.
class WatchedBrowser : public windows::IDetailWindow {
public:
    WatchedBrowser(const BrowserSeams& seams, VKDeletailWindowController** made, bool pauseAtStart)
        : inner_(seams), made_(made), pauseAtStart_(pauseAtStart) {
        *made_ = &inner_;
    }
    ~WatchedBrowser() override {
        if (*made_ == &inner_)
            *made_ = nullptr;
    }
    WatchedBrowser(const WatchedBrowser&) = delete;
    WatchedBrowser& operator=(const WatchedBrowser&) = delete;
    QWidget* window() override { return inner_.window(); }
    void setSelectDiskVolumeData(const DiskVolumeNodePtr& row) override {
        inner_.setSelectDiskVolumeData(row);
    }
    void setScanTypeNum(int kind) override { inner_.setScanTypeNum(kind); }
    void setSelectDesktop(int desktop) override { inner_.setSelectDesktop(desktop); }
    void getData() override {
        inner_.getData();
        if (pauseAtStart_)
            inner_.scanControl()->pauseButtonClick();
    }
    void getImportData(const QString& path) override { inner_.getImportData(path); }
    void clearImportData() override { inner_.clearImportData(); }

private:
    VKDeletailWindowController inner_;
    VKDeletailWindowController** made_;
    bool pauseAtStart_;
};

// Runs the program's own progress window; a window still open after a
// minute is closed, so that a lost finish fails the test instead of
// hanging it.
int RunProgress(const QString& postName, bool save, int* runs) {
    ++*runs;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QStringLiteral("ProgressXib") && w->isVisible()) {
                ADD_FAILURE() << "the progress window never finished";
                w->close();
            }
        }
    });
    guard.start(60000);
    return windows::RunProgressWindow(postName, save);
}

class ScanControlReal : public ::testing::Test {
protected:
    // One disk for the suite: a loop device attached while the catalogue is
    // already built would wait for a device event the test machine may not
    // send.
    static void TearDownTestSuite() {
        disk_.reset();
        dir_.reset();
    }

    void SetUp() override {
        if (!velmora::test::IsRoot())
            GTEST_SKIP() << "needs root to attach loop devices and mount a tmpfs";
        if (!disk_) {
            dir_ = std::make_unique<velmora::test::TempDir>();
            const QString at = QString::fromStdString(dir_->path());
            const QString script = QString::fromStdString(velmora::test::SourceDir()) +
                                   "/tests/fixtures/windows/make_gpt_media.py";
            if (!RunTool({"python3", script, at}))
                GTEST_SKIP() << "make_gpt_media.py failed (needs sgdisk, mkfs.fat, mtools)";
            disk_ = std::make_unique<AttachedLoop>(at + "/gpt_media.img");
        }
        if (disk_->node().isEmpty())
            GTEST_SKIP() << "cannot attach a loop device (losetup failed)";
        folder_ = QString::fromStdString(dir_->path()) + "/" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir().mkpath(folder_);
        manifest_ = QString::fromStdString(dir_->path()) + "/gpt_media.json";
        ui::SetAlertPresenter(&alerts_);
        shots_ = QStringLiteral(VELMORA_WINDOW_SHOTS_DIR);
        QDir().mkpath(shots_);
    }
    void TearDown() override {
        VKUIController::StopScan(1);
        VKUIController::WaitForScanThread();
        ui::SetAlertPresenter(nullptr);
    }

    BrowserSeams Seams() {
        BrowserSeams seams;
        seams.goHome = [this] { ++wentHome_; };
        seams.chooseSaveFile = [this](const QString& proposed) -> std::optional<QString> {
            proposals_.push_back(proposed);
            if (savePaths_.empty())
                return std::nullopt;
            const QString path = savePaths_.front();
            savePaths_.pop_front();
            return path;
        };
        seams.runSaveProgress = [this](const QString& post) {
            return RunProgress(post, true, &saveProgressRuns_);
        };
        return seams;
    }

    // A main window whose browsers are `WatchedBrowser`s.
    std::unique_ptr<windows::VKRootWindowController> MainWindow(bool pauseAtStart) {
        windows::RootWindowSeams seams;
        seams.makeDetailWindow = [this, pauseAtStart]() -> std::unique_ptr<windows::IDetailWindow> {
            return std::make_unique<WatchedBrowser>(Seams(), &browser_, pauseAtStart);
        };
        seams.chooseResultFile = [this](const QString&) -> std::optional<QString> {
            return loadPath_;
        };
        seams.runLoadProgress = [this](const QString& post) {
            return RunProgress(post, false, &loadProgressRuns_);
        };
        auto main = std::make_unique<windows::VKRootWindowController>(seams);
        EXPECT_TRUE(main->windowDidLoad());
        main->showWindow();
        return main;
    }

    // From the main window's first page: every file type, the fixture's
    // volume, a quick scan; the browser that opened.
    VKDeletailWindowController* StartQuickScan(windows::VKRootWindowController& main) {
        browser_ = nullptr;
        windows::VKSelectTypeViewController* types = main.selectTypeVC();
        if (types->selectAllCount() != 1)
            types->allTypesButtonClick();
        types->nextButtonAction();
        if (!WaitFor([&] { return main.whichPage() == 3; }, 10000))
            return nullptr;
        if (!WaitFor(
                [&] { return main.selectDiskVC() && RowOf(*main.selectDiskVC(), disk_->node()); },
                10000)) {
            ADD_FAILURE() << disk_->node().toStdString() << " not listed";
            return nullptr;
        }
        windows::VKSelectDiskViewController* page = main.selectDiskVC();
        const DiskVolumeNodePtr listed = RowOf(*page, disk_->node());
        page->clickRow(page->rowForItem(listed->childAtIndex(0).get()));
        page->scanButtonAction();
        WaitFor([&] { return browser_ != nullptr && seam::Bridge().IsScanRunning() != 0; }, 10000);
        return browser_;
    }

    static bool Ended(VKDeletailWindowController* browser) {
        return seam::Bridge().IsScanRunning() == 0 && !browser->selectFilesLabel()->isHidden();
    }

    void Shot(QWidget* window, const char* name) {
        window->grab().save(shots_ + "/" + name + ".png");
    }

    static inline std::unique_ptr<velmora::test::TempDir> dir_;
    static inline std::unique_ptr<AttachedLoop> disk_;
    QString folder_;
    QString manifest_;
    QString shots_;
    ui::ScriptedAlerts alerts_;
    VKDeletailWindowController* browser_ = nullptr;
    int wentHome_ = 0;
    std::deque<QString> savePaths_;
    std::vector<QString> proposals_;
    int saveProgressRuns_ = 0;
    int loadProgressRuns_ = 0;
    std::optional<QString> loadPath_;
};

// A quick scan paused as it starts, continued and run to its end; the deep
// scan offer; a search checked against find(1) over the manifest's files;
// the results saved (a read-only folder refused first) and loaded back from
// a new main window.
TEST_F(ScanControlReal, PauseContinueSearchSaveAndLoad) {
    auto main = MainWindow(true);
    VKDeletailWindowController* browser = StartQuickScan(*main);
    ASSERT_NE(browser, nullptr);
    seam::IBridge& bridge = seam::Bridge();

    // Paused: the engine holds still, the continue button shows.
    ASSERT_TRUE(WaitFor([&] { return browser->window()->isVisible(); }, 5000));
    RunFor(600);
    const int64_t heldAt = FilesFound();
    RunFor(1200);
    EXPECT_EQ(bridge.IsScanRunning(), 1);
    EXPECT_EQ(bridge.IsPause(), 1);
    EXPECT_TRUE(browser->scanControl()->isPause());
    EXPECT_EQ(FilesFound(), heldAt);
    EXPECT_TRUE(browser->pauseButton()->isHidden());
    EXPECT_FALSE(browser->continueScanButton()->isHidden());
    Shot(browser->window(), "scancontrol_real_paused");

    // Continued: the scan runs to its end.
    browser->scanControl()->pauseButtonClick();
    EXPECT_FALSE(browser->scanControl()->isPause());
    ASSERT_TRUE(WaitFor([&] { return Ended(browser); }, 60000)) << "the scan never ended";
    EXPECT_TRUE(browser->pauseButton()->isHidden());
    EXPECT_TRUE(browser->stopButton()->isHidden());
    EXPECT_FALSE(browser->recovertyButton()->isHidden());
    const std::set<std::string> scanned = ResultTree();
    ASSERT_FALSE(scanned.empty());
    EXPECT_GT(FilesFound(), heldAt);

    // The offer of a deep scan after the installation's first quick scan.
    EXPECT_NE(browser->scanControl()->deepScanOffer(), nullptr);
    EXPECT_TRUE(browser->advButton()->isEnabled());
    Shot(browser->window(), "scancontrol_real_offer");

    // A search lists exactly what find(1) finds among the manifest's files
    // that a quick scan shows (the deleted ones).
    const QString layout = folder_ + "/layout";
    ASSERT_TRUE(RunTool({"python3", "-c",
                         "import json, os, sys\n"
                         "m = json.load(open(sys.argv[1]))\n"
                         "for f in m['volumes'][0]['files']:\n"
                         "    p = sys.argv[2] + f['path']\n"
                         "    if f['type'] == 'dir':\n"
                         "        os.makedirs(p, exist_ok=True)\n"
                         "    elif f['state'] == 'deleted':\n"
                         "        os.makedirs(os.path.dirname(p), exist_ok=True)\n"
                         "        open(p, 'w').close()\n",
                         manifest_, layout}));
    for (const char* key : {"SONG", "clip"}) {
        SCOPED_TRACE(key);
        QString out;
        ASSERT_TRUE(RunTool({"find", layout, "-type", "f", "-iname",
                             QStringLiteral("*%1*").arg(QString::fromUtf8(key))},
                            &out));
        std::set<std::string> expected;
        for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
            expected.insert(line.mid(layout.size()).toStdString());
        ASSERT_FALSE(expected.empty());
        browser->searchField()->setText(QString::fromUtf8(key));
        ASSERT_TRUE(browser->searchController()->doSearch());
        FileListPane* list = browser->resultFilePane()->list();
        ASSERT_TRUE(WaitFor(
            [&] {
                return bridge.VKGetIsSearching() == 0 && list->arrList().size() == expected.size();
            },
            30000))
            << "listed " << list->arrList().size();
        std::set<std::string> listed;
        for (IFileNode* node : list->arrList())
            listed.insert(PathBelowRoot(node));
        EXPECT_EQ(listed, expected);
    }
    Shot(browser->window(), "scancontrol_real_search");
    browser->searchController()->searchClearButtonClick();
    WaitFor([&] { return bridge.VKGetIsSearching() == 0; }, 30000);

    // Saving into a read-only folder: the warning, then the panel again;
    // the second choice is saved with the progress window.
    ReadOnlyFolder readOnly(folder_ + "/readonly");
    ASSERT_TRUE(readOnly.mounted()) << "cannot mount a read-only tmpfs";
    const QString saved = folder_ + "/saved/results.Velmora";
    QDir().mkpath(folder_ + "/saved");
    savePaths_ = {folder_ + "/readonly/results.Velmora", saved};
    alerts_.answers = {1};
    ASSERT_TRUE(browser->saveController()->exportButtonAction());
    ASSERT_EQ(alerts_.shown.size(), 1u);
    // The bridge's own reason, not a general "cannot be saved".
    EXPECT_EQ(alerts_.shown[0].informative,
              ui::texts::Text(QStringLiteral("OUTPUT_NO_PERMISSION")));
    EXPECT_EQ(proposals_.size(), 2u);
    EXPECT_EQ(saveProgressRuns_, 1);
    EXPECT_FALSE(QFileInfo::exists(folder_ + "/readonly/results.Velmora"));
    ASSERT_TRUE(QFileInfo(saved).size() > 0);
    EXPECT_EQ(QString::fromStdString(*bridge.GetSavePath()), folder_ + "/saved");
    EXPECT_EQ(alerts_.unscripted, 0);

    // Home: the results were saved, so no offer to save them.
    browser->backHomeButton()->click();
    ASSERT_TRUE(WaitFor([&] { return wentHome_ == 1; }, 5000));
    EXPECT_EQ(alerts_.shown.size(), 1u);

    // A new main window loads the file: the progress window, then the
    // browser with the same tree.
    auto home = MainWindow(false);
    loadPath_ = saved;
    browser_ = nullptr;
    home->importButtonAction();
    EXPECT_EQ(loadProgressRuns_, 1);
    ASSERT_NE(browser_, nullptr);
    ASSERT_TRUE(WaitFor([&] { return browser_->window()->isVisible(); }, 5000));
    EXPECT_FALSE(home->window()->isVisible());
    EXPECT_EQ(browser_->isImport(), 1);
    EXPECT_EQ(ResultTree(), scanned);
    RunFor(300);
    Shot(browser_->window(), "scancontrol_real_loaded");
}

// A quick scan paused half-way through its walk of the volume's folders and
// stopped keeps what it had found and ends; the second quick scan's offer
// of a deep scan starts one over the same volume.
TEST_F(ScanControlReal, StopKeepsResultsAndTheOfferStartsADeepScan) {
    auto main = MainWindow(false);
    VKDeletailWindowController* browser = StartQuickScan(*main);
    ASSERT_NE(browser, nullptr);
    seam::IBridge& bridge = seam::Bridge();
    // The walk has begun (its first progress report) with thousands of
    // folders to go: the pause holds it at the next one.
    ASSERT_TRUE(WaitFor(
        [] { return VKUIScan::instance().GetProgressInfo().state == PROGRESS_RUNNING; }, 20000));
    browser->scanControl()->pauseButtonClick();
    ASSERT_EQ(bridge.IsPause(), 1) << "the walk ended before it could be paused";
    RunFor(800);
    EXPECT_EQ(bridge.IsScanRunning(), 1);
    IStorageDevice* scannedVolume = VKUIScan::instance().GetSavedStorage();
    ASSERT_NE(scannedVolume, nullptr);

    alerts_.answers = {1};
    browser->scanControl()->stopButtonClick();
    ASSERT_TRUE(WaitFor([&] { return Ended(browser); }, 30000)) << "the stopped scan never ended";
    EXPECT_EQ(alerts_.unscripted, 0);
    // What the engine had found before it stopped is kept: the root
    // folder's deleted file.
    const std::set<std::string> kept = ResultTree();
    EXPECT_TRUE(kept.count("/root song.mp3")) << ::testing::PrintToString(kept);
    uint64_t bytes = 0;
    int64_t files = 0;
    bridge.GetScanFileSize(&bytes, &files);
    EXPECT_GE(files, 1);
    EXPECT_FALSE(browser->recovertyButton()->isHidden());

    // Whether or not the first test ran, this is at most the second quick
    // scan: the offer shows, and the deep-scan button starts a deep scan of
    // the same volume.
    EXPECT_NE(browser->scanControl()->deepScanOffer(), nullptr);
    Shot(browser->window(), "scancontrol_real_stopped");
    ASSERT_TRUE(browser->advButton()->isEnabled());
    browser->advButton()->click();
    ASSERT_TRUE(
        WaitFor([&] { return bridge.IsScanRunning() != 0 && bridge.IsDeepScan() != 0; }, 10000))
        << "no deep scan started";
    EXPECT_EQ(VKUIScan::instance().GetSavedStorage(), scannedVolume);
    EXPECT_TRUE(browser->advButton()->isHidden());
    RunFor(500);
    Shot(browser->window(), "scancontrol_real_deep");
    VKUIController::StopScan(1);
    VKUIController::WaitForScanThread();
}

}  // namespace
}  // namespace velmora::browser

int main(int argc, char** argv) {
    return velmora::test::real::RunRealWindowTests(argc, argv, {.workFolderWithFileTypes = true});
}
