#include "Windows/VKRootWindowController.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <QTest>

#include "BridgeSeam/VKBridge.h"
#include "UIPlatform/Texts.h"
#include "Widgets/PLXCustemButton.h"
#include "WindowTestSupport.h"
#include "support/TestSupport.h"

namespace velmora::windows {
namespace {

using seam::FakeBridge;
using testing::PostRecorder;
using testing::Pump;

// A results browser that records what the main window asked of it.
class RecordingBrowser : public IDetailWindow {
public:
    explicit RecordingBrowser(std::vector<std::string>* log) : log_(log) {
        window_.setObjectName(QStringLiteral("ExhibitionXib"));
    }
    QWidget* window() override { return &window_; }
    void setSelectDiskVolumeData(const DiskVolumeNodePtr& row) override {
        log_->push_back("row:" + (row ? row->name() : std::string("nil")));
    }
    void setScanTypeNum(int kind) override { log_->push_back("kind:" + std::to_string(kind)); }
    void setSelectDesktop(int desktop) override {
        log_->push_back("desktop:" + std::to_string(desktop));
    }
    void getData() override { log_->push_back("getData"); }
    void getImportData(const QString& path) override {
        log_->push_back("getImportData:" + path.toStdString());
    }
    void clearImportData() override { log_->push_back("clearImportData"); }

private:
    std::vector<std::string>* log_;
    QWidget window_;
};

class MainWindowTest : public testing::WindowTest {
protected:
    RootWindowSeams Seams() {
        RootWindowSeams seams;
        seams.makeDetailWindow = [this] {
            ++browsersMade;
            auto browser = std::make_unique<RecordingBrowser>(&browserLog);
            lastBrowserWindow = browser->window();
            return browser;
        };
        seams.runLoadProgress = [this](const QString& postName) {
            loadPostNames.push_back(postName);
            if (duringLoad)
                duringLoad();
            return loadResult;
        };
        seams.chooseResultFile = [this](const QString& folder) {
            chooserFolders.push_back(folder);
            return chosenFile;
        };
        seams.exitProcess = [this](int code) { exits.push_back(code); };
        return seams;
    }

    // A main window on its first page.
    std::unique_ptr<VKRootWindowController> Open() {
        auto controller = std::make_unique<VKRootWindowController>(Seams());
        EXPECT_TRUE(controller->windowDidLoad());
        controller->showWindow();
        Pump();
        return controller;
    }

    // From the type page on: the next button, then the catalogue's answer.
    static void Next(VKRootWindowController& controller) {
        controller.selectTypeVC()->nextButtonAction();
        Pump();
    }

    int browsersMade = 0;
    QWidget* lastBrowserWindow = nullptr;
    std::vector<std::string> browserLog;
    std::vector<QString> loadPostNames;
    std::function<void()> duringLoad;
    int loadResult = 1;
    std::vector<QString> chooserFolders;
    std::optional<QString> chosenFile;
    std::vector<int> exits;
};

TEST_F(MainWindowTest, OneVolumeSkipsTheDiskPageUnlessItsDiskHasSpaceOutsideIt) {
    const int64_t volume = 500'000'000;
    const struct {
        const char* name;
        std::vector<DiskVolumeNodePtr> devices;
        bool diskPage;
    } cases[] = {
        {"disk 99999 larger",
         {FakeBridge::Disk("sda", volume + 99'999, {FakeBridge::Volume("sda1", volume, 2)})},
         false},
        {"disk exactly as large",
         {FakeBridge::Disk("sda", volume, {FakeBridge::Volume("sda1", volume, 2)})},
         false},
        {"disk 100000 larger",
         {FakeBridge::Disk("sda", volume + 100'000, {FakeBridge::Volume("sda1", volume, 2)})},
         true},
        {"two volumes",
         {FakeBridge::Disk(
             "sda", 2 * volume,
             {FakeBridge::Volume("sda1", volume, 2), FakeBridge::Volume("sda2", volume, 3)})},
         true},
        {"two disks of one volume each",
         {FakeBridge::Disk("sda", volume, {FakeBridge::Volume("sda1", volume, 2)}),
          FakeBridge::Disk("sdb", volume, {FakeBridge::Volume("sdb1", volume, 3)})},
         true},
        {"a disk without volumes", {FakeBridge::Disk("sda", volume, {})}, true},
        {"no disk at all", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.devices = c.devices;
        browserLog.clear();
        browsersMade = 0;
        auto controller = Open();
        Next(*controller);
        EXPECT_EQ(controller->whichPage(), 3);
        EXPECT_EQ(controller->selectDiskVC() != nullptr, c.diskPage);
        if (c.diskPage) {
            EXPECT_EQ(browsersMade, 0);
            EXPECT_TRUE(controller->window()->isVisible());
            EXPECT_EQ(controller->selectDiskVC()->pos(), QPoint(0, 0));
            EXPECT_EQ(controller->selectTypeVC()->pos(),
                      QPoint(-VKRootWindowController::kWidth, 0));
            EXPECT_FALSE(controller->continueButton()->isHidden());
            EXPECT_EQ(controller->continueButton()->currentImageName().left(4), "scan");
        } else {
            // The scan starts on the one volume, with the first mode's kind.
            EXPECT_EQ(browsersMade, 1);
            EXPECT_EQ(browserLog,
                      (std::vector<std::string>{"row:sda1", "kind:1", "desktop:0", "getData"}));
            EXPECT_FALSE(controller->window()->isVisible());
            EXPECT_TRUE(lastBrowserWindow->isVisible());
        }
    }
}

TEST_F(MainWindowTest, BackFromTheDiskPageRestoresTheTypePageAndItsButtons) {
    bridge.devices = {FakeBridge::Disk(
        "sda", 3000, {FakeBridge::Volume("sda1", 1000, 2), FakeBridge::Volume("sda2", 1000, 3)})};
    auto controller = Open();
    // First visit: the lower-left button continues, the scan button hides.
    EXPECT_EQ(controller->backHomeButton()->currentImageName(), "continue_normal");
    EXPECT_EQ(controller->backLabel()->text(),
              ui::texts::Text(QStringLiteral("PLX_TWO_CONTINUE_BUTTON")));
    EXPECT_TRUE(controller->continueButton()->isHidden());

    Next(*controller);
    ASSERT_TRUE(controller->selectDiskVC());
    EXPECT_EQ(controller->backHomeButton()->currentImageName(), "back_normal");
    EXPECT_EQ(controller->backLabel()->text(), ui::texts::Text(QStringLiteral("COMM_BACK_BUTTON")));
    EXPECT_FALSE(controller->continueLabel()->isHidden());

    controller->backHomeButton()->click();
    EXPECT_EQ(controller->whichPage(), 2);
    EXPECT_EQ(controller->selectTypeVC()->pos(), QPoint(0, 0));
    EXPECT_EQ(controller->selectDiskVC()->pos(), QPoint(VKRootWindowController::kWidth, 0));
    EXPECT_EQ(controller->backHomeButton()->currentImageName(), "continue_normal");
    EXPECT_EQ(controller->backLabel()->text(),
              ui::texts::Text(QStringLiteral("PLX_TWO_CONTINUE_BUTTON")));
    EXPECT_TRUE(controller->continueButton()->isHidden());
    EXPECT_TRUE(controller->continueLabel()->isHidden());

    // The lower-left button continues again, to the disk page.
    controller->backHomeButton()->click();
    Pump();
    EXPECT_EQ(controller->whichPage(), 3);
    EXPECT_EQ(controller->selectDiskVC()->pos(), QPoint(0, 0));
}

TEST_F(MainWindowTest, ARowThatCannotBeOpenedGetsTheNoticeAndNoBrowser) {
    const struct {
        const char* name;
        std::vector<DiskVolumeNodePtr> devices;
        bool chooseOnDiskPage;
    } cases[] = {
        {"single volume, page skipped",
         {FakeBridge::Disk("sda", 1000, {FakeBridge::Volume("apfs", 1000, 9, false)})},
         false},
        {"chosen on the disk page",
         {FakeBridge::Disk(
             "sda", 3000,
             {FakeBridge::Volume("apfs", 1000, 9, false), FakeBridge::Volume("sda2", 1000, 3)})},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.devices = c.devices;
        modal.shown.clear();
        modal.Answer(0);
        auto controller = Open();
        Next(*controller);
        if (c.chooseOnDiskPage) {
            ASSERT_TRUE(controller->selectDiskVC());
            controller->selectDiskVC()->scanButtonAction();
        }
        EXPECT_EQ(modal.shown, (std::vector<QString>{"APFSScanWindowController"}));
        EXPECT_EQ(browsersMade, 0);
        EXPECT_TRUE(controller->window()->isVisible());
        EXPECT_EQ(controller->whichPage(), 3);
    }
}

// With no volume at all nothing is chosen: a double-click scans nothing
// and shows no notice either.
TEST_F(MainWindowTest, NothingChosenStartsNothingAndShowsNoNotice) {
    bridge.devices = {FakeBridge::Disk("sda", 1000, {})};
    auto controller = Open();
    Next(*controller);
    ASSERT_TRUE(controller->selectDiskVC());
    EXPECT_FALSE(controller->continueButton()->isButtonUsable());
    controller->selectDiskVC()->scanButtonAction();
    EXPECT_TRUE(modal.shown.empty());
    EXPECT_EQ(browsersMade, 0);
    EXPECT_TRUE(controller->window()->isVisible());
}

TEST_F(MainWindowTest, ImportCancelFailureAndSuccess) {
    bridge.savePath = "/home/user/Results";
    const struct {
        const char* name;
        std::optional<QString> chosen;
        int loadResult;
        std::vector<int> masks;
        std::vector<std::string> browserLog;
        bool mainVisible, browserKept;
    } cases[] = {
        {"cancelled", std::nullopt, 1, {}, {}, true, false},
        {"load failed",
         QStringLiteral("/tmp/a.Velmora"),
         0,
         {127},
         {"getImportData:/tmp/a.Velmora", "clearImportData"},
         true,
         false},
        {"loaded",
         QStringLiteral("/tmp/b.Velmora"),
         1,
         {127},
         {"getImportData:/tmp/b.Velmora"},
         false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.recoveryTypes.clear();
        bridge.calls.clear();
        browserLog.clear();
        chooserFolders.clear();
        chosenFile = c.chosen;
        loadResult = c.loadResult;
        auto controller = Open();
        controller->importButton()->click();
        Pump();
        EXPECT_EQ(chooserFolders, (std::vector<QString>{"/home/user/Results"}));
        EXPECT_EQ(bridge.recoveryTypes, c.masks);
        EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode"), c.chosen ? 1 : 0);
        if (c.chosen) {
            EXPECT_EQ(bridge.calls.back(), "beginSaveOrRestoreNode:0:" + c.chosen->toStdString());
            EXPECT_EQ(loadPostNames.back(), "NormalScranValue");
        }
        EXPECT_EQ(browserLog, c.browserLog);
        EXPECT_EQ(controller->window()->isVisible(), c.mainVisible);
        EXPECT_EQ(controller->deletailWC() != nullptr, c.browserKept);
        if (c.browserKept) {
            EXPECT_TRUE(controller->deletailWC()->window()->isVisible());
        }
    }
}

// Run as root through pkexec, the process's home is root's: the panel opens
// in the saved-results folder, else in the home of the user who started it.
// Puts an environment variable back as it was when the test is done.
class KeptVariable {
public:
    explicit KeptVariable(const char* name)
        : name_(name), was_(qEnvironmentVariableIsSet(name)), value_(qgetenv(name)) {}
    ~KeptVariable() {
        if (was_)
            qputenv(name_, value_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool was_;
    QByteArray value_;
};

TEST_F(MainWindowTest, ImportPanelStartsInTheSavedFolderElseTheInvokingUsersHome) {
    // A user whose home is not this process's: the test may run as root.
    const struct passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const QByteArray nobodyUid = QByteArray::number(nobody->pw_uid);
    const QString nobodyHome = QString::fromLocal8Bit(nobody->pw_dir);
    KeptVariable pkexec("PKEXEC_UID"), sudo("SUDO_UID"), home("HOME");
    qunsetenv("SUDO_UID");
    qputenv("HOME", "/tmp/velmora-process-home");
    ASSERT_NE(nobodyHome, QStringLiteral("/tmp/velmora-process-home"));
    const struct {
        const char* name;
        std::optional<std::string> savePath;
        QByteArray pkexecUid;  // empty: not started through pkexec
        QString folder;
    } cases[] = {
        {"saved folder", "/home/user/Results", nobodyUid, "/home/user/Results"},
        {"no saved folder, started through pkexec", std::nullopt, nobodyUid, nobodyHome},
        {"empty saved folder, started through pkexec", "", nobodyUid, nobodyHome},
        {"no saved folder, no invoking user", std::nullopt, {}, "/tmp/velmora-process-home"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.pkexecUid.isEmpty())
            qunsetenv("PKEXEC_UID");
        else
            qputenv("PKEXEC_UID", c.pkexecUid);
        bridge.savePath = c.savePath;
        chooserFolders.clear();
        chosenFile.reset();
        auto controller = Open();
        controller->importButton()->click();
        Pump();
        EXPECT_EQ(chooserFolders, std::vector<QString>{c.folder});
    }
}

// The key goes where the keyboard is: to the window's focused control, and
// from there up to the window when the control leaves it.
void Press(VKRootWindowController& controller, Qt::Key key) {
    QWidget* target = controller.window()->focusWidget();
    QTest::keyClick(target ? target : controller.window(), key);
    Pump();
}

TEST_F(MainWindowTest, TheWizardGoesFromModeToScanWithoutAMouse) {
    bridge.devices = {FakeBridge::Disk(
        "sda", 3000, {FakeBridge::Volume("sda1", 1000, 2), FakeBridge::Volume("sda2", 1000, 3)})};
    auto controller = Open();
    VKSelectTypeViewController* page = controller->selectTypeVC();
    // The keyboard starts on the page's default button.
    EXPECT_EQ(controller->window()->focusWidget(), page->nextButton());

    // Tab walks the modes, the box, the next button, the lower button.
    page->deleteButton()->setFocus();
    const std::vector<QWidget*> order = {page->formatButton(), page->completeButton(),
                                         page->alltypesButton(), page->nextButton(),
                                         controller->backHomeButton()};
    for (QWidget* expected : order) {
        Press(*controller, Qt::Key_Tab);
        EXPECT_EQ(controller->window()->focusWidget(), expected)
            << expected->objectName().toStdString();
    }
    // Return on a mode chooses it; Return on a control that has no use for
    // it (the box) presses the default button.
    page->completeButton()->setFocus();
    Press(*controller, Qt::Key_Return);
    EXPECT_EQ(controller->selectScanType(), 2);
    EXPECT_EQ(controller->whichPage(), 2);
    page->alltypesButton()->setFocus();
    Press(*controller, Qt::Key_Return);
    EXPECT_EQ(controller->whichPage(), 3);
    ASSERT_TRUE(controller->selectDiskVC());

    // On the disk page Escape goes back, and Return comes again.
    Press(*controller, Qt::Key_Escape);
    EXPECT_EQ(controller->whichPage(), 2);
    EXPECT_EQ(controller->window()->focusWidget(), page->nextButton());
    Press(*controller, Qt::Key_Enter);
    EXPECT_EQ(controller->whichPage(), 3);

    // The arrows choose the row; Return scans it.
    VKSelectDiskViewController* disks = controller->selectDiskVC();
    EXPECT_EQ(controller->window()->focusWidget(), disks);
    const qint64 first = disks->selectedRow();
    Press(*controller, Qt::Key_Down);
    EXPECT_EQ(disks->selectedRow(), first + 1);
    EXPECT_EQ(disks->selectDiskVolume()->name(), "sda2");
    Press(*controller, Qt::Key_Return);
    EXPECT_EQ(browsersMade, 1);
    EXPECT_EQ(browserLog, (std::vector<std::string>{"row:sda2", "kind:2", "desktop:0", "getData"}));
}

TEST_F(MainWindowTest, ReturnDoesNothingWhileTheDefaultButtonCannotBeUsed) {
    bridge.devices = {FakeBridge::Disk(
        "sda", 3000, {FakeBridge::Volume("sda1", 1000, 2), FakeBridge::Volume("sda2", 1000, 3)})};
    auto controller = Open();
    // No category: the next button is off, and so is Return.
    controller->selectTypeVC()->alltypesButton()->click();
    ASSERT_FALSE(controller->selectTypeVC()->nextButton()->isButtonUsable());
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        controller->selectTypeVC()->nextButton()->setFocus();
        Press(*controller, key);
        EXPECT_EQ(controller->whichPage(), 2);
    }
    EXPECT_EQ(bridge.CountOf("NotifiyDeviceInfoAfterInit"), 0);
}

// The scan looks for what the first page has ticked: everything unless the
// user narrows it with the category boxes; a loaded result shows everything.
TEST_F(MainWindowTest, TheScanLooksForTheTickedCategoriesAndALoadedResultForEverything) {
    bridge.devices = {FakeBridge::Disk("sda", 1000, {FakeBridge::Volume("sda1", 1000, 2)})};
    const struct {
        const char* name;
        std::vector<int> boxes;  // category bits clicked after unticking "All file types"
        bool untickAll;
        int mask;
    } cases[] = {
        {"as the page opens", {}, false, 127},
        {"pictures and documents", {2, 1}, true, 3},
        {"music only", {8}, true, 8},
        {"every box one by one", {1, 2, 4, 8, 16, 32, 64}, true, 127},
        {"a box ticked and unticked", {4, 16, 4}, true, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.recoveryTypes.clear();
        auto controller = Open();
        VKSelectTypeViewController* page = controller->selectTypeVC();
        if (c.untickAll)
            page->alltypesButton()->click();
        for (int bit : c.boxes) {
            auto* box =
                page->findChild<PLXCustemButton*>(QStringLiteral("categoryButton%1").arg(bit));
            ASSERT_TRUE(box);
            ASSERT_TRUE(box->isVisible()) << "the categories are not offered";
            QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        }
        Next(*controller);
        EXPECT_EQ(bridge.recoveryTypes, std::vector<int>{c.mask});
        EXPECT_EQ(controller->selectValues(), c.mask);
    }
    bridge.recoveryTypes.clear();
    chosenFile = QStringLiteral("/tmp/c.Velmora");
    auto controller = Open();
    controller->importButtonAction();
    EXPECT_EQ(bridge.recoveryTypes, std::vector<int>{127});
}

// Unticking "All file types" offers the boxes; with none ticked neither the
// next button nor the lower-left continue goes on, and both come back with
// the first box. Back from the disk page keeps the choice as it was.
TEST_F(MainWindowTest, NextAndContinueAgreeAndBackKeepsTheChoice) {
    bridge.devices = {FakeBridge::Disk(
        "sda", 3000, {FakeBridge::Volume("sda1", 1000, 2), FakeBridge::Volume("sda2", 1000, 3)})};
    auto controller = Open();
    VKSelectTypeViewController* page = controller->selectTypeVC();
    ASSERT_TRUE(page->categoryPanel());
    EXPECT_FALSE(page->categoryPanel()->isVisible());
    page->alltypesButton()->click();
    EXPECT_TRUE(page->categoryPanel()->isVisible());
    EXPECT_FALSE(page->nextButton()->isButtonUsable());
    EXPECT_FALSE(controller->backHomeButton()->isButtonUsable());
    controller->backHomeButton()->click();
    Pump();
    EXPECT_EQ(controller->whichPage(), 2);
    EXPECT_EQ(bridge.CountOf("NotifiyDeviceInfoAfterInit"), 0);

    auto* music = page->findChild<PLXCustemButton*>(QStringLiteral("categoryButton8"));
    ASSERT_TRUE(music);
    QTest::mouseClick(music, Qt::LeftButton, {}, music->rect().center());
    EXPECT_TRUE(music->isSelected());
    EXPECT_TRUE(page->nextButton()->isButtonUsable());
    EXPECT_TRUE(controller->backHomeButton()->isButtonUsable());
    controller->backHomeButton()->click();
    Pump();
    ASSERT_EQ(controller->whichPage(), 3);
    EXPECT_EQ(controller->selectValues(), 8);

    // Back: music is still ticked, in the list and on its box.
    controller->backHomeButton()->click();
    EXPECT_EQ(controller->whichPage(), 2);
    EXPECT_EQ(page->selectArr(), QStringList{"8"});
    EXPECT_TRUE(music->isSelected());
    EXPECT_TRUE(controller->backHomeButton()->isButtonUsable());
    controller->backHomeButton()->click();
    Pump();
    EXPECT_EQ(controller->whichPage(), 3);
    EXPECT_EQ(controller->selectValues(), 8);
}

TEST_F(MainWindowTest, ImportShowsTheBrowserOnTheLoadsWordFromWhereTheWindowListens) {
    bridge.devices = {FakeBridge::Disk(
        "sda", 3000, {FakeBridge::Volume("sda1", 1000, 2), FakeBridge::Volume("sda2", 1000, 3)})};
    chosenFile = QStringLiteral("/tmp/d.Velmora");
    loadResult = 0;  // the browser stays hidden unless the post shows it
    const struct {
        const char* name;
        int nexts, backs;
        bool shown;
    } cases[] = {
        {"fresh type page", 0, 0, true},
        {"disk page", 1, 0, true},
        {"type page again", 1, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto controller = Open();
        for (int i = 0; i < c.nexts; ++i)
            Next(*controller);
        for (int i = 0; i < c.backs; ++i)
            controller->backHome();
        bool shown = false;
        duringLoad = [&] {
            ui::NotificationCenter::defaultCenter().post(QStringLiteral("ShowDetailWindow"));
            shown = lastBrowserWindow->isVisible();
        };
        controller->importButtonClick();
        EXPECT_EQ(shown, c.shown);
    }
}

TEST_F(MainWindowTest, AResultFileGivenAtStartIsLoadedOnceTheWindowIsUp) {
    for (const bool beforeSetUp : {true, false}) {
        SCOPED_TRACE(beforeSetUp);
        bridge.calls.clear();
        browserLog.clear();
        VKRootWindowController controller(Seams());
        if (beforeSetUp)
            controller.SetImportPath(QStringLiteral("/tmp/start.Velmora"));
        ASSERT_TRUE(controller.windowDidLoad());
        if (!beforeSetUp)
            controller.SetImportPath(QStringLiteral("/tmp/start.Velmora"));
        Pump();
        EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode"), 1);
        EXPECT_EQ(bridge.CountOf("SetRecoveryType:127"), 1);
        EXPECT_EQ(browserLog, std::vector<std::string>{"getImportData:/tmp/start.Velmora"});
    }
}

TEST_F(MainWindowTest, ASecondCopyHandsItsFileOverAndEndsBeforeAnyWindowShows) {
    ui::ScriptedAlerts alerts;
    alerts.answers = {1};
    ui::SetAlertPresenter(&alerts);
    const struct {
        const char* name;
        QString rsfPath;
        bool taken;
    } cases[] = {
        {"no file", QString(), false},
        {"taken by the running copy", QStringLiteral("/home/u/scan.Velmora"), true},
        {"no running copy answered", QStringLiteral("/home/u/scan.Velmora"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        exits.clear();
        alerts.shown.clear();
        bridge.appRunning = 1;
        std::vector<QString> handed;
        RootWindowSeams seams = Seams();
        seams.handOverResultFile = [&](const QString& path) {
            handed.push_back(path);
            return c.taken;
        };
        VKRootWindowController controller(seams);
        controller.SetImportPath(c.rsfPath);
        EXPECT_FALSE(controller.windowDidLoad());
        EXPECT_EQ(exits, std::vector<int>{0});
        EXPECT_EQ(bridge.CountOf("initFileType"), 0);
        EXPECT_FALSE(controller.window()->isVisible());
        EXPECT_EQ(handed,
                  c.rsfPath.isEmpty() ? std::vector<QString>{} : std::vector<QString>{c.rsfPath});
        // A file the running copy took needs no word; one it did not is not
        // dropped without one.
        if (c.rsfPath.isEmpty() || c.taken) {
            EXPECT_TRUE(alerts.shown.empty());
        } else {
            ASSERT_EQ(alerts.shown.size(), 1u);
            EXPECT_TRUE(alerts.shown[0].informative.contains(c.rsfPath));
            EXPECT_TRUE(alerts.shown[0].informative.contains(QStringLiteral("did not answer")));
            EXPECT_EQ(alerts.shown[0].message, QStringLiteral("Velmora is already running"));
        }
    }
    ui::SetAlertPresenter(nullptr);
}

// A file a second start handed over is opened as an import, but never over
// a recovery under way or a result on show: the user is told why instead.
TEST_F(MainWindowTest, AHandedOverFileOpensOnlyWhenNothingIsUnderWay) {
    ui::ScriptedAlerts alerts;
    alerts.answers = {1, 1, 1};
    ui::SetAlertPresenter(&alerts);
    const QString path = QStringLiteral("/home/u/handed.Velmora");
    {
        SCOPED_TRACE("recovering");
        bridge.recoveryStatus = 2;
        auto controller = Open();
        bridge.calls.clear();
        controller->openHandedOverFile(path);
        Pump();
        EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode"), 0);
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_TRUE(alerts.shown[0].informative.contains(path));
        EXPECT_TRUE(alerts.shown[0].informative.contains(QStringLiteral("being recovered")));
        bridge.recoveryStatus = 0;
    }
    alerts.shown.clear();
    browserLog.clear();
    {
        SCOPED_TRACE("idle, then a result on show");
        auto controller = Open();
        bridge.calls.clear();
        controller->openHandedOverFile(path);
        Pump();
        EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode"), 1);
        EXPECT_EQ(browserLog, std::vector<std::string>{"getImportData:" + path.toStdString()});
        EXPECT_TRUE(alerts.shown.empty());
        ASSERT_TRUE(lastBrowserWindow && lastBrowserWindow->isVisible());

        controller->openHandedOverFile(QStringLiteral("/home/u/second.Velmora"));
        Pump();
        EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode"), 1) << "the result on show was replaced";
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_TRUE(alerts.shown[0].informative.contains(QStringLiteral("on show")));
    }
    ui::SetAlertPresenter(nullptr);
}

TEST_F(MainWindowTest, TheCloseButtonHidesTheWindowAndAsksTheProgramToEnd) {
    PostRecorder terminate(QStringLiteral("appWillTerminate"));
    auto controller = Open();
    EXPECT_EQ(bridge.CountOf("initFileType"), 1);
    EXPECT_EQ(bridge.CountOf("ReleaseDataRecovery"), 1);
    controller->window()->close();
    Pump();
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(terminate.posts.size(), 1u);
    // Closing it for the browser is no request to end.
    bridge.devices = {FakeBridge::Disk("sda", 1000, {FakeBridge::Volume("sda1", 1000, 2)})};
    auto scanning = Open();
    Next(*scanning);
    Pump();
    EXPECT_EQ(browsersMade, 1);
    EXPECT_FALSE(scanning->window()->isVisible());
    EXPECT_EQ(terminate.posts.size(), 1u);
}

TEST_F(MainWindowTest, OnlyADiskImageThatOpensRefreshesTheDiskList) {
    bridge.devices = {FakeBridge::Disk(
        "sda", 3000, {FakeBridge::Volume("sda1", 1000, 2), FakeBridge::Volume("sda2", 1000, 3)})};
    const struct {
        const char* path;
        int opens;
        int dmgCalls, ediCalls, refreshes;
    } cases[] = {
        {"/tmp/x.dmg", 1, 1, 0, 1}, {"/tmp/x.dmg", 0, 1, 0, 0}, {"/tmp/x.edi", 1, 0, 1, 1},
        {"/tmp/x.edi", 0, 0, 1, 0}, {"/tmp/x.img", 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        bridge.calls.clear();
        bridge.openDmgResult = c.opens;
        bridge.openEdiResult = c.opens;
        auto controller = Open();
        Next(*controller);
        controller->loadEdiWithPath(QString::fromLatin1(c.path));
        DeviceListRefresher::shared().waitIdle();
        EXPECT_EQ(bridge.CountOf("VKOpenDmgFile"), c.dmgCalls);
        EXPECT_EQ(bridge.CountOf("VKOpenEdiFile"), c.ediCalls);
        EXPECT_EQ(bridge.CountOf("RefreshDeviceInfo"), c.refreshes);
    }
}

// The program's bridge tells a second copy by the lock file, whatever the
// programs are called.
TEST(VKBridge, ASecondHolderOfTheLockIsASecondCopy) {
    velmora::test::TempDir dir;
    const std::string lock = dir.path() + "/velmora.lock";
    seam::VKBridge first(lock);
    seam::VKBridge second(lock);
    EXPECT_EQ(first.IsAppRunning(), 0);
    EXPECT_EQ(first.IsAppRunning(), 0);
    EXPECT_EQ(second.IsAppRunning(), 1);
}

}  // namespace
}  // namespace velmora::windows
