// The recovery road of the results browser on the scripted bridge: the
// count and the Recover button, the folder checks in order, the tab's root
// array, and the progress, finished and stopped windows.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <deque>
#include <map>

#include "Browser/VKRecoverController.h"
#include "Browser/VKRecoverFolderSheet.h"
#include "Browser/VKRecoverHost.h"
#include "UIPlatform/Texts.h"
#include "WindowTestSupport.h"
#include "Windows/DiskTexts.h"
#include "Windows/OutputProblemText.h"
#include "Windows/VKScanEndSaveWindowController.h"
#include "Windows/VKScanNotEndSaveWindowController.h"
#include "platform/desktop/Workspace.h"

namespace velmora::browser {
namespace {

using windows::testing::Pump;
using Panel = windows::VKShowScanProgressWindowController::Panel;

struct FakeHost : VKRecoverHost {
    QWidget window;
    bool scanning = false;
    int64_t tab = 0;
    std::vector<OpNodePtr> arrays[4];
    bool buttonEnabled = false;
    int buttonChanges = 0;
    QString text;

    QWidget* browserWindow() override { return &window; }
    bool isScanRunningUnpaused() override { return scanning; }
    int64_t selectTypeCount() override { return tab; }
    std::vector<OpNodePtr>* rootArray(int kind) override { return &arrays[kind]; }
    void setRecoverButtonEnabled(bool enabled) override {
        buttonEnabled = enabled;
        ++buttonChanges;
    }
    void setSelectFilesText(const QString& t) override { text = t; }
};

// Answers each sheet from the script after Begin returned, as a real sheet
// does; an empty script cancels.
struct ScriptedSheet : VKRecoverFolderSheet {
    std::deque<std::optional<QString>> answers;
    int begun = 0;
    void Begin(QWidget*, const QString& message, const QString& prompt, const QRect& frame,
               Done done) override {
        ++begun;
        EXPECT_EQ(message, ui::texts::Text("PLX_FOUR_RECOVERY_NODE"));
        EXPECT_EQ(prompt, ui::texts::Text("PLX_FOUR_RECOVERY_WINDOW_SAVE_BUTTON"));
        std::optional<QString> answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        QMetaObject::invokeMethod(
            qApp, [done, answer, frame] { done(answer, frame); }, Qt::QueuedConnection);
    }
};

class RecoverControllerTest : public windows::testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ui::SetAlertPresenter(&alerts);
        bridge.selectedCount = 2;
        bridge.selectedSize = 1000;
    }
    void TearDown() override {
        WindowTest::TearDown();
        ui::SetAlertPresenter(nullptr);
    }

    // A controller whose folder "/dst" is writable or not and has `free`
    // bytes, with the count taken.
    std::unique_ptr<VKRecoverController> Make(bool writable = true, int64_t free = 1 << 30) {
        auto controller = std::make_unique<VKRecoverController>(host, &sheet, &workspace);
        if (writable)
            bridge.folderProblems.erase("/dst");
        else
            bridge.folderProblems["/dst"] = velmora::bridge::OutputProblem::kNoPermission;
        controller->setFolderChecks(
            {[free](const QString&) { return std::optional<int64_t>(free); }});
        controller->showSelectFilesCountAndSize();
        return controller;
    }
    // Presses Recover, picks "/dst" and lets the sheets answer.
    void Choose(VKRecoverController& controller) {
        sheet.answers.push_back(QStringLiteral("/dst"));
        controller.recoveryButtonClick();
        Pump();
    }
    void PostProgress(uint64_t current, uint64_t total, int64_t error = 0) {
        bridge.recoveryCurrent = current;
        bridge.recoveryTotal = total;
        bridge.recoveryError = error;
        ui::NotificationCenter::defaultCenter().post("DoRecovery", QStringLiteral("VKUIPublic"));
    }
    std::vector<QString> AlertTitles() const {
        std::vector<QString> titles;
        for (const auto& a : alerts.shown)
            titles.push_back(a.message);
        return titles;
    }

    FakeHost host;
    ScriptedSheet sheet;
    ui::ScriptedAlerts alerts;
    platform::RecordingWorkspace workspace;
};

TEST_F(RecoverControllerTest, TheCountDecidesTheRecoverButton) {
    const struct {
        const char* name;
        bool scanning;
        int count;
        uint64_t size;
        bool asked, enabled;
        const char* text;
    } cases[] = {
        {"none ticked", false, 0, 0, true, false, "You have selected 0.00 KB in 0 file(s)."},
        {"three ticked", false, 3, 1'500'000, true, true,
         "You have selected 1.50 MB in 3 file(s)."},
        {"scan running", true, 3, 1'500'000, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.calls.clear();
        host.buttonEnabled = false;
        host.buttonChanges = 0;
        host.text.clear();
        host.scanning = c.scanning;
        bridge.selectedCount = c.count;
        bridge.selectedSize = c.size;
        VKRecoverController controller(host, &sheet, &workspace);
        controller.showSelectFilesCountAndSize();
        EXPECT_EQ(bridge.CountOf("GetSelectedFilesAmout"), c.asked ? 1 : 0);
        EXPECT_EQ(host.buttonChanges, c.asked ? 1 : 0);
        EXPECT_EQ(host.buttonEnabled, c.enabled);
        EXPECT_EQ(host.text, c.text);
    }
}

TEST_F(RecoverControllerTest, TheFolderChecksRunInOrder) {
    const QString unwritable = ui::texts::Text("PLX_FOUR_RECOVERY_NO_COMPETENCE_TITLE");
    const QString same = ui::texts::Text("PLX_FOUR_SAVE_SAME_PATH_TITLE");
    const QString full = ui::texts::Text("PLX_FOUR_RECOVERY_NO_SPACE_TITLE");
    const struct {
        const char* name;
        std::optional<QString> folder;
        bool writable, sameDevice;
        int64_t free;
        std::deque<int> answers;
        std::vector<QString> shown;
        bool starts;
        int sheets;
    } cases[] = {
        {"cancelled", std::nullopt, true, false, 5000, {}, {}, false, 1},
        {"unwritable: the first sheet only", "/dst", false, true, 0, {1}, {unwritable}, false, 1},
        // The bridge never writes onto the scanned device: the sheet only
        // asks for another folder.
        {"same device asks again", "/dst", true, true, 5000, {1}, {same}, false, 2},
        {"same device sheet dismissed", "/dst", true, true, 5000, {-1}, {same}, false, 1},
        {"1,050 free for 1,000 bytes refused", "/dst", true, false, 1050, {1}, {full}, false, 1},
        {"1,050 free, alternate goes anyway", "/dst", true, false, 1050, {0}, {full}, true, 1},
        {"1,051 free goes", "/dst", true, false, 1051, {}, {}, true, 1},
        {"free space unknown counts as none", "/dst", true, false, -1, {1}, {full}, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.calls.clear();
        bridge.sameDevicePaths =
            c.sameDevice ? std::vector<std::string>{"/dst"} : std::vector<std::string>{};
        alerts.shown.clear();
        alerts.answers = c.answers;
        sheet.begun = 0;
        auto controller = Make(c.writable, c.free);
        sheet.answers = {c.folder};
        controller->recoveryButtonClick();
        EXPECT_FALSE(host.buttonEnabled);  // while the sheet is up
        Pump();
        EXPECT_TRUE(host.buttonEnabled);
        EXPECT_EQ(AlertTitles(), c.shown);
        EXPECT_EQ(bridge.CountOf("CheckOutputFolder"), c.folder ? 1 : 0);
        EXPECT_EQ(bridge.CountOf("DoRecovery"), c.starts ? 1 : 0);
        if (c.starts) {
            EXPECT_EQ(bridge.calls.back(), "DoRecovery:/dst:DoRecovery");
        }
        EXPECT_EQ(sheet.begun, c.sheets);
        EXPECT_EQ(alerts.unscripted, 0);
        // No sheet offers a button that does nothing.
        for (const auto& alert : alerts.shown) {
            if (alert.message == same)
                EXPECT_TRUE(alert.alternateButton.isEmpty()) << alert.alternateButton.toStdString();
        }
    }
}

// Each reason the bridge gives for refusing the folder reaches the user in
// its own words, in the sheet of its kind; none starts a recovery.
TEST_F(RecoverControllerTest, EachFolderProblemIsSaidInItsOwnWords) {
    using velmora::bridge::OutputProblem;
    const QString unwritable = ui::texts::Text("PLX_FOUR_RECOVERY_NO_COMPETENCE_TITLE");
    const QString same = ui::texts::Text("PLX_FOUR_SAVE_SAME_PATH_TITLE");
    const struct {
        OutputProblem problem;
        const QString& title;
        const char* words;
    } cases[] = {
        {OutputProblem::kNotChosen, unwritable, "No folder was chosen."},
        {OutputProblem::kNoParent, unwritable, "This folder cannot be reached."},
        {OutputProblem::kNotAFolder, unwritable, "not a folder"},
        {OutputProblem::kNoPermission, unwritable, "You are not allowed to write in this folder."},
        {OutputProblem::kForeignLink, unwritable, "belongs to another user"},
        {OutputProblem::kOnScannedDevice, same, "This folder is on the disk being scanned."},
        {OutputProblem::kOnScannedThroughEncrypted, same,
         "This folder is on the disk being scanned (through an encrypted volume)."},
        {OutputProblem::kOnScannedThroughLvm, same, "(through an LVM volume)"},
        {OutputProblem::kOnScannedThroughRaid, same, "(through a RAID array)"},
        {OutputProblem::kOnScannedThroughLoop, same, "(through a disk image stored on it)"},
        {OutputProblem::kOnScannedThroughMapping, same, "(through a mapped device)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.problem));
        bridge.calls.clear();
        alerts.shown.clear();
        alerts.answers = {-1};
        auto controller = Make();
        bridge.folderProblems["/dst"] = c.problem;
        Choose(*controller);
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(alerts.shown[0].message, c.title);
        EXPECT_TRUE(alerts.shown[0].informative.contains(QString::fromUtf8(c.words)))
            << alerts.shown[0].informative.toStdString();
        EXPECT_EQ(alerts.shown[0].informative, windows::OutputProblemText(c.problem));
        EXPECT_EQ(bridge.CountOf("DoRecovery"), 0);
    }
    bridge.folderProblems.clear();
}

// The warning of too little room gives both sizes, so the user knows how
// much to free.
TEST_F(RecoverControllerTest, TheNoSpaceWarningGivesBothSizes) {
    bridge.selectedSize = 5'000'000;
    alerts.answers = {1};
    auto controller = Make(true, 1'200'000);
    Choose(*controller);
    ASSERT_EQ(alerts.shown.size(), 1u);
    const QString said = alerts.shown[0].informative;
    for (int64_t size : {int64_t{5'000'000}, int64_t{1'200'000}})
        EXPECT_TRUE(said.contains(windows::LongLongDiskSize(size))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("%@"))) << said.toStdString();
    EXPECT_EQ(bridge.CountOf("DoRecovery"), 0);
}

// A start the bridge refuses (a recovery still finishing, the folder on the
// scanned device) is said in a sheet the user can read, never silence.
TEST_F(RecoverControllerTest, AStartTheBridgeRefusesIsToldToTheUser) {
    const QString same = ui::texts::Text("PLX_FOUR_SAVE_SAME_PATH_TITLE");
    const QString full = ui::texts::Text("PLX_FOUR_RECOVERY_NO_SPACE_TITLE");
    const QString notStarted = ui::texts::Text("RECOVERY_NOT_STARTED_TITLE");
    struct HookedAlerts : ui::ScriptedAlerts {
        std::function<void()> onSheet;
        void BeginSheet(const ui::AlertContent& alert, QWidget* window,
                        std::function<void(int)> done) override {
            if (onSheet)
                onSheet();
            ui::ScriptedAlerts::BeginSheet(alert, window, std::move(done));
        }
    } hooked;
    ui::SetAlertPresenter(&hooked);
    const struct {
        const char* name;
        int64_t free;
        // The folder lies on the scanned device by the time the recovery
        // starts (mounted after the check).
        bool mountedMeanwhile;
        std::deque<int> answers;
        std::vector<QString> shown;
        int sheets;
    } cases[] = {
        {"refused at once", 1 << 30, false, {1}, {notStarted}, 1},
        {"refused after going on with little room", 1050, false, {0, 1}, {full, notStarted}, 1},
        {"the folder came onto the scanned device", 1050, true, {0, 1}, {full, same}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.calls.clear();
        bridge.sameDevicePaths.clear();
        bridge.doRecoveryResult = 0x0102052400000001LL;  // the bridge's refusal
        hooked.shown.clear();
        hooked.answers = c.answers;
        hooked.onSheet = [&] {
            if (c.mountedMeanwhile)
                bridge.sameDevicePaths = {"/dst"};
        };
        sheet.begun = 0;
        modal.shown.clear();
        auto controller = Make(true, c.free);
        Choose(*controller);
        EXPECT_EQ(bridge.CountOf("DoRecovery"), 1);
        std::vector<QString> titles;
        for (const auto& alert : hooked.shown) {
            titles.push_back(alert.message);
            // Every text is the user's, never a key.
            for (const QString& text : {alert.message, alert.informative, alert.defaultButton}) {
                EXPECT_FALSE(text.isEmpty());
                EXPECT_FALSE(text.contains(QStringLiteral("_")) && text == text.toUpper())
                    << text.toStdString();
            }
        }
        EXPECT_EQ(titles, c.shown);
        EXPECT_EQ(sheet.begun, c.sheets);
        EXPECT_TRUE(host.buttonEnabled);
        EXPECT_TRUE(modal.shown.empty());
        EXPECT_EQ(controller->recoveryProgressWindow(), nullptr);
        EXPECT_EQ(hooked.unscripted, 0);
        // A late post of the bridge runs no progress window.
        PostProgress(0, 0);
        EXPECT_TRUE(modal.shown.empty());
    }
    bridge.doRecoveryResult = 0;
    ui::SetAlertPresenter(&alerts);
}

TEST_F(RecoverControllerTest, TheRoomNeededIsRoundedDownAndNeverOverflows) {
    const struct {
        uint64_t selected, needed;
    } cases[] = {
        {0, 0}, {1000, 1050}, {19, 19}, {20, 21}, {UINT64_MAX / 105 * 100, UINT64_MAX / 105 * 105}};
    for (const auto& c : cases)
        EXPECT_EQ(RecoveryRoomNeeded(c.selected), c.needed) << c.selected;
}

TEST_F(RecoverControllerTest, TheSelectedTabGivesTheRootArray) {
    for (int64_t tab : {0, 1, 2, 3, 4, -1}) {
        SCOPED_TRACE(tab);
        bridge.calls.clear();
        bridge.recoveryRoots = nullptr;
        host.tab = tab;
        auto controller = Make();
        Choose(*controller);
        const bool inRange = tab >= 0 && tab <= 3;
        EXPECT_EQ(bridge.CountOf("DoRecovery"), inRange ? 1 : 0);
        EXPECT_EQ(bridge.recoveryRoots, inRange ? &host.arrays[tab] : nullptr);
    }
}

TEST(RecoveryTimeLeft, FromTheShareDoneAndTheTimeSpent) {
    const struct {
        double percent;
        qint64 elapsed;
        const char* left;
    } cases[] = {
        {0, 10, "-:-:-"},      {0.5, 10, "-:-:-"},     {25, 0, "-:-:-"},
        {25, 10, "00:00:30"},  {50, 3600, "01:00:00"}, {99, 99, "00:00:01"},
        {100, 50, "00:00:00"}, {1, 3600 * 2, "-:-:-"},  // 198 hours: not told
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecoveryTimeLeft(c.percent, c.elapsed), QString::fromLatin1(c.left))
            << c.percent << "% after " << c.elapsed << " s";
}

TEST_F(RecoverControllerTest, ARecoveryRunsItsProgressWindowAndEndsFinished) {
    auto controller = Make();
    Choose(*controller);
    bridge.recoveryFileName = "IMG_0001.JPG";
    modal.script.push_back([&](QWidget* window) {
        auto* progress = controller->recoveryProgressWindow();
        EXPECT_EQ(progress->window(), window);
        EXPECT_EQ(progress->progressBar()->value(), 25);
        EXPECT_EQ(progress->scaningFileName()->text(), "IMG_0001.JPG");
        // How many files, and the time left once it can be told.
        EXPECT_EQ(progress->detailLabel()->text(), QStringLiteral("2 file(s) · time left -:-:-"));
        PostProgress(2, 4, 1);  // the destination is full
        EXPECT_EQ(progress->visiblePanel(), Panel::NoSpace);
        progress->continueButton()->click();
        EXPECT_EQ(bridge.CountOf("PauseOrResumeRecovery"), 1);
        PostProgress(3, 4);
        EXPECT_EQ(progress->progressBar()->value(), 75);
        bridge.recoveryStatus = 4;
        PostProgress(4, 4);  // shows the finished window inside this run
        EXPECT_FALSE(modal.IsRunning(window));
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(controller->recoveryProgressWindow(), nullptr);
        PostProgress(4, 4);  // a late post changes nothing
        return 7;
    });
    modal.script.push_back([&](QWidget* window) {
        EXPECT_EQ(controller->scanEndSaveWC()->savePathLabel()->toolTip(), "/dst");
        controller->scanEndSaveWC()->okButton()->click();
        EXPECT_FALSE(window->isVisible());
        return 7;
    });
    PostProgress(1, 4);
    std::vector<QString> expected = {"VKShowScanProgressWindowController",
                                     "VKScanEndSaveWindowController"};
    EXPECT_EQ(modal.shown, expected);
    EXPECT_EQ(modal.unscripted, 0);
    EXPECT_EQ(bridge.CountOf("StopRecvoery"), 0);
}

TEST_F(RecoverControllerTest, StoppingShowsTheStoppedWindowWithTheCountNeverTheFinishedOne) {
    // By the stop button or by the title bar's close button: both ask first.
    for (const char* how : {"stop button", "title bar"}) {
        SCOPED_TRACE(how);
        bridge.calls.clear();
        modal.shown.clear();
        auto controller = Make();
        Choose(*controller);
        bridge.recoveredFiles = 2;
        modal.script.push_back([&](QWidget* window) {
            auto* progress = controller->recoveryProgressWindow();
            if (std::string(how) == "stop button")
                progress->stopButton()->click();
            else
                EXPECT_FALSE(window->close());
            EXPECT_EQ(bridge.CountOf("PauseOrResumeRecovery"), 1);
            EXPECT_EQ(progress->visiblePanel(), Panel::StopConfirmation);
            progress->yesButton()->click();
            EXPECT_EQ(bridge.CountOf("StopRecvoery"), 1);
            // The bridge's last post after the stop.
            PostProgress(2, 4);
            return 7;
        });
        modal.script.push_back([&](QWidget*) {
            EXPECT_EQ(controller->scanNotEndSaceWC()->noteLabel()->text(),
                      "The recovery was stopped after 2 file(s).");
            controller->scanNotEndSaceWC()->okButton()->click();
            return 7;
        });
        bridge.recoveryStatus = 2;
        PostProgress(1, 4);
        bridge.recoveryStatus = 4;
        PostProgress(2, 4);
        std::vector<QString> expected = {"VKShowScanProgressWindowController",
                                         "VKScanNotEndSaveWindowController"};
        EXPECT_EQ(modal.shown, expected);
        EXPECT_EQ(controller->scanEndSaveWC(), nullptr);
        EXPECT_EQ(modal.unscripted, 0);
    }
}

TEST_F(RecoverControllerTest, ARecoveryThatEndsBeforeItsFirstPostShowsOnlyTheFinishedWindow) {
    auto controller = Make();
    Choose(*controller);
    bridge.recoveryStatus = 4;
    modal.script.push_back([&](QWidget*) { return 7; });
    PostProgress(4, 4);
    EXPECT_EQ(modal.shown, std::vector<QString>{"VKScanEndSaveWindowController"});
}

// The two sheets as the user sees them (pictures for a person to look at):
// the same-device sheet with its one button, the sheet of a refused start;
// nothing shown is a raw key.
TEST_F(RecoverControllerTest, SheetPictures) {
    ui::MessageBoxAlerts boxes;
    ui::SetAlertPresenter(&boxes);
    host.window.resize(640, 420);
    host.window.show();
    const struct {
        const char* picture;
        bool sameDevice;
        int buttons;
        bool encrypted;
    } cases[] = {{"recover_sheet_same_device", true, 1, false},
                 {"recover_sheet_same_device_encrypted", true, 1, true},
                 {"recover_sheet_not_started", false, 1, false}};
    static const QRegularExpression rawKey(QStringLiteral("^[A-Z0-9]+_[A-Z0-9_]+$"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        bridge.sameDevicePaths =
            c.sameDevice ? std::vector<std::string>{"/dst"} : std::vector<std::string>{};
        bridge.doRecoveryResult = 0x0102052400000001LL;  // the bridge's refusal
        auto controller = Make();
        if (c.encrypted)
            bridge.folderProblems["/dst"] =
                velmora::bridge::OutputProblem::kOnScannedThroughEncrypted;
        Choose(*controller);
        bridge.folderProblems.clear();
        auto* box = host.window.findChild<QMessageBox*>();
        ASSERT_NE(box, nullptr);
        Pump();
        QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
        EXPECT_TRUE(
            box->grab().save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/") + c.picture + ".png"));
        EXPECT_EQ(box->buttons().size(), c.buttons);
        for (const QString& text : {box->text(), box->informativeText()}) {
            EXPECT_FALSE(text.isEmpty());
            EXPECT_FALSE(rawKey.match(text).hasMatch()) << text.toStdString();
        }
        for (QAbstractButton* button : box->buttons())
            EXPECT_FALSE(rawKey.match(button->text()).hasMatch()) << button->text().toStdString();
        box->buttons().front()->click();
        Pump();
        EXPECT_EQ(host.window.findChild<QMessageBox*>(), nullptr);
    }
    bridge.doRecoveryResult = 0;
    ui::SetAlertPresenter(&alerts);
}

// Files the recovery could not write are counted in whichever window ends
// it: a loss never reads as a plain success.
TEST_F(RecoverControllerTest, TheEndWindowsSayHowManyFilesWereNotRecovered) {
    const struct {
        const char* name;
        bool stop;
        uint64_t refused;
        const char* list;
        const char* title;  // finished window
        const char* note;
    } cases[] = {
        {"finished, all written", false, 0, "", "Recovery finished",
         "The recovered files are in the folder you chose."},
        {"finished, three not written", false, 3, "", "Some files were not recovered",
         "3 of the ticked file(s) could not be recovered. The others are in the folder you "
         "chose."},
        {"finished, listed", false, 1, "/dst/list.txt", "Some files were not recovered",
         "1 of the ticked file(s) could not be recovered. The others are in the folder you "
         "chose. The file \u201clist.txt\u201d in that folder names the missing ones."},
        {"stopped, all written", true, 0, "", nullptr, "The recovery was stopped after 4 file(s)."},
        {"stopped, two not written", true, 2, "", nullptr,
         "The recovery was stopped after 4 file(s). 2 file(s) could not be recovered."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        modal.shown.clear();
        bridge.recoveredFiles = 4;
        bridge.refusedFiles = c.refused;
        bridge.refusedList = c.list;
        auto controller = Make();
        Choose(*controller);
        QString title, note;
        if (c.stop) {
            modal.script.push_back([&](QWidget*) {
                controller->recoveryProgressWindow()->stopButton()->click();
                controller->recoveryProgressWindow()->yesButton()->click();
                return 7;
            });
            modal.script.push_back([&](QWidget*) {
                note = controller->scanNotEndSaceWC()->noteLabel()->text();
                return 7;
            });
            PostProgress(1, 4);
        } else {
            bridge.recoveryStatus = 4;
            modal.script.push_back([&](QWidget*) {
                title = controller->scanEndSaveWC()->titleLabel()->text();
                note = controller->scanEndSaveWC()->noteLabel()->text();
                return 7;
            });
            PostProgress(4, 4);
        }
        if (c.title)
            EXPECT_EQ(title, c.title);
        EXPECT_EQ(note, QString::fromUtf8(c.note));
        EXPECT_EQ(modal.unscripted, 0);
    }
    bridge.refusedFiles = 0;
}

// The same roads on real nested event loops: the progress window is taken
// away from inside its own button, and the end windows run inside the run
// of the progress window. Every run must come back, and nothing is touched
// after it is gone.
TEST_F(RecoverControllerTest, OnRealModalLoopsBothEndsComeBack) {
    for (const char* how : {"finished", "stopped"}) {
        SCOPED_TRACE(how);
        ui::EventLoopModalRunner loops;
        ui::SetModalRunner(&loops);
        auto controller = Make();
        Choose(*controller);
        const bool stop = std::string(how) == "stopped";
        std::vector<std::string> seen;
        // Each step runs from a timer of its own: a timer is never delivered
        // again while its own handler is still running, and a step may run
        // a loop of its own.
        bool pending = false;
        auto step = [&](const char* name, std::function<void()> act) {
            pending = true;
            QTimer::singleShot(0, [&pending, &seen, name, act] {
                pending = false;
                seen.push_back(name);
                act();
            });
        };
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (pending)
                return;
            if (auto* end = controller->scanEndSaveWC(); end && end->window()->isVisible()) {
                step("finished", [end] { end->okButton()->click(); });
            } else if (auto* notEnd = controller->scanNotEndSaceWC();
                       notEnd && notEnd->window()->isVisible()) {
                step("stopped", [notEnd] { notEnd->okButton()->click(); });
            } else if (auto* progress = controller->recoveryProgressWindow();
                       progress && progress->window()->isVisible()) {
                step("progress", [&, progress] {
                    if (stop) {
                        progress->stopButton()->click();
                        progress->yesButton()->click();
                    } else {
                        bridge.recoveryStatus = 4;
                        PostProgress(4, 4);
                    }
                });
            }
        });
        driver.start(0);
        PostProgress(1, 4);
        driver.stop();
        EXPECT_EQ(loops.Depth(), 0);
        const std::vector<std::string> expected = {"progress", stop ? "stopped" : "finished"};
        EXPECT_EQ(seen, expected);
        ui::SetModalRunner(&modal);
        Pump();
    }
}

TEST_F(RecoverControllerTest, AStoppedSentenceWhoseTranslationDoesNotFitIsShownAsItStands) {
    // The test translation's sentence carries "%n": handed to printf it
    // would write through the number.
    ASSERT_TRUE(ui::texts::LoadLanguage("xx"));
    windows::VKScanNotEndSaveWindowController stopped(&workspace);
    stopped.changeRecoveryFilesPoint(42, QStringLiteral("/dst"));
    ui::texts::LoadLanguage("en");
    EXPECT_EQ(stopped.noteLabel()->text(), "Arr\u00eat \u00e0 %n%%");
}

}  // namespace
}  // namespace velmora::browser
