// The recovery's progress window and the two windows that close a recovery.
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

#include "UIPlatform/Texts.h"
#include "WindowTestSupport.h"
#include "Windows/VKScanEndSaveWindowController.h"
#include "Windows/VKScanNotEndSaveWindowController.h"
#include "Windows/VKShowScanProgressWindowController.h"
#include "platform/desktop/Workspace.h"

namespace velmora::windows {
namespace {

using Panel = VKShowScanProgressWindowController::Panel;
using testing::Pump;

struct RecordingDelegate : VKShowScanProgressWindowControllerDelegate {
    std::vector<int> codes;
    void stopButtonAction(int code) override { codes.push_back(code); }
};

class RecoveryWindowsTest : public testing::WindowTest {
protected:
    platform::RecordingWorkspace workspace;
};

TEST_F(RecoveryWindowsTest, ProgressPanelsFollowTheButtons) {
    // Steps: "stop", "no", "yes", "full" (the bridge's no-space report),
    // "continue", "cancel".
    const struct {
        const char* name;
        std::vector<const char*> steps;
        Panel panel;
        std::vector<int> codes;
        bool runEnded;
    } cases[] = {
        {"opens on progress", {}, Panel::Progress, {}, false},
        {"stop asks", {"stop"}, Panel::StopConfirmation, {1}, false},
        {"stop then no resumes", {"stop", "no"}, Panel::Progress, {1, 1}, false},
        {"stop then yes stops", {"stop", "yes"}, Panel::StopConfirmation, {1, 2}, true},
        {"full", {"full"}, Panel::NoSpace, {}, false},
        {"full replaces the question", {"stop", "full"}, Panel::NoSpace, {1}, false},
        {"full then continue", {"full", "continue"}, Panel::Progress, {1}, false},
        {"full then cancel", {"full", "cancel"}, Panel::NoSpace, {2}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VKShowScanProgressWindowController progress;
        RecordingDelegate delegate;
        progress.setDelegate(&delegate);
        modal.script.push_back([&](QWidget*) {
            for (const std::string step : c.steps) {
                if (step == "stop")
                    progress.stopButton()->click();
                else if (step == "no")
                    progress.noButton()->click();
                else if (step == "yes")
                    progress.yesButton()->click();
                else if (step == "full")
                    progress.setNoMemeryViewHidden();
                else if (step == "continue")
                    progress.continueButton()->click();
                else if (step == "cancel")
                    progress.cancelButton()->click();
            }
            return 7;
        });
        const int answer = ui::Modal().RunModal(progress.window());
        EXPECT_EQ(progress.visiblePanel(), c.panel);
        EXPECT_EQ(delegate.codes, c.codes);
        // Yes and cancel end the run (answer 0) before the delegate hears.
        EXPECT_EQ(answer == 0, c.runEnded);
        EXPECT_EQ(progress.warningNode()->text(), ui::texts::Text("PLX_FOUR_RECOVERY_STOP_NODE"));
    }
}

TEST_F(RecoveryWindowsTest, YesEndsTheRunBeforeTheDelegateHears) {
    VKShowScanProgressWindowController progress;
    struct : VKShowScanProgressWindowControllerDelegate {
        QWidget* window = nullptr;
        ui::ScriptedModalRunner* modal = nullptr;
        bool runningWhenTold = true;
        void stopButtonAction(int code) override {
            if (code == 2)
                runningWhenTold = modal->IsRunning(window);
        }
    } delegate;
    delegate.window = progress.window();
    delegate.modal = &modal;
    progress.setDelegate(&delegate);
    for (auto* button : {progress.yesButton(), progress.cancelButton()}) {
        delegate.runningWhenTold = true;
        modal.script.push_back([&](QWidget*) {
            button->click();
            return 7;
        });
        ui::Modal().RunModal(progress.window());
        EXPECT_FALSE(delegate.runningWhenTold) << button->objectName().toStdString();
    }
}

TEST_F(RecoveryWindowsTest, ClosingTheProgressWindowAsksToStop) {
    // From the progress panel the close pauses and asks, as the stop button
    // does; from the no-space panel (already paused by the bridge) it only
    // asks; the window stays, so the recovery never runs on out of reach.
    const struct {
        const char* name;
        bool full;
        std::vector<int> codes;
    } cases[] = {{"progress", false, {1}}, {"no space", true, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VKShowScanProgressWindowController progress;
        RecordingDelegate delegate;
        progress.setDelegate(&delegate);
        progress.window()->show();
        if (c.full)
            progress.setNoMemeryViewHidden();
        EXPECT_FALSE(progress.window()->close());
        Pump();
        EXPECT_TRUE(progress.window()->isVisible());
        EXPECT_EQ(progress.visiblePanel(), Panel::StopConfirmation);
        EXPECT_EQ(delegate.codes, c.codes);
    }
}

TEST_F(RecoveryWindowsTest, ProgressMovesTheBarAndANullNameKeepsTheLast) {
    VKShowScanProgressWindowController progress;
    const QString name = QStringLiteral("IMG_0001.JPG");
    progress.changeProgressValue(25.0, &name);
    progress.changeProgressValue(60.0, nullptr);
    EXPECT_EQ(progress.progressBar()->value(), 60);
    EXPECT_EQ(progress.scaningFileName()->text(), name);
    // No delegate: the buttons tell nobody and nothing breaks.
    progress.stopButton()->click();
    progress.noButton()->click();
    EXPECT_EQ(progress.visiblePanel(), Panel::Progress);
}

TEST_F(RecoveryWindowsTest, TheFolderLinkOpensTheFolderOrNothing) {
    const struct {
        const char* path;
        std::vector<std::string> opened;
    } cases[] = {{"/home/ann/Recovered <1>", {"/home/ann/Recovered <1>"}}, {"", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        workspace.folders.clear();
        VKScanEndSaveWindowController finished(QString::fromUtf8(c.path), &workspace);
        EXPECT_EQ(finished.savePathLabel()->toolTip(), QString::fromUtf8(c.path));
        // The path is shown as text, never read as markup.
        EXPECT_EQ(finished.savePathLabel()->text().contains("<1>"), false);
        emit finished.savePathLabel()->linkActivated(QStringLiteral("folder"));
        VKScanNotEndSaveWindowController stopped(&workspace);
        stopped.changeRecoveryFilesPoint(3, QString::fromUtf8(c.path));
        stopped.jumpToSavePath();
        std::vector<std::string> twice = c.opened;
        twice.insert(twice.end(), c.opened.begin(), c.opened.end());
        EXPECT_EQ(workspace.folders, twice);
    }
}

// A folder no program could open: the user is told where the files are.
TEST_F(RecoveryWindowsTest, AFolderThatCannotBeOpenedIsSaidWithItsPath) {
    struct NoOpener : platform::Workspace {
        bool OpenUrl(const std::string&) override { return false; }
        bool OpenFolder(const std::string&) override { return false; }
    } none;
    ui::ScriptedAlerts alerts;
    ui::SetAlertPresenter(&alerts);
    alerts.answers = {1, 1};
    VKScanEndSaveWindowController finished(QStringLiteral("/home/ann/Recovered"), &none);
    emit finished.savePathLabel()->linkActivated(QStringLiteral("folder"));
    VKScanNotEndSaveWindowController stopped(&none);
    stopped.changeRecoveryFilesPoint(3, QStringLiteral("/home/ann/Stopped"));
    stopped.jumpToSavePath();
    Pump();
    ui::SetAlertPresenter(nullptr);
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[0].message, ui::texts::Text("RECOVERY_FOLDER_NOT_OPENED_TITLE"));
    EXPECT_TRUE(alerts.shown[0].informative.endsWith("/home/ann/Recovered"))
        << alerts.shown[0].informative.toStdString();
    EXPECT_TRUE(alerts.shown[1].informative.endsWith("/home/ann/Stopped"));
    EXPECT_EQ(alerts.unscripted, 0);
}

TEST_F(RecoveryWindowsTest, TheStoppedWindowSaysHowManyFilesWereWrittenAndHowManyNot) {
    const struct {
        double files;
        uint64_t notRecovered;
        const char* sentence;
    } cases[] = {
        {0, 0, "The recovery was stopped after 0 file(s)."},
        {1234, 0, "The recovery was stopped after 1234 file(s)."},
        {5, 2, "The recovery was stopped after 5 file(s). 2 file(s) could not be recovered."},
    };
    for (const auto& c : cases) {
        VKScanNotEndSaveWindowController stopped(&workspace);
        stopped.changeRecoveryFilesPoint(c.files, QStringLiteral("/tmp/out"), c.notRecovered);
        EXPECT_EQ(stopped.noteLabel()->text(), c.sentence);
    }
}

// Files the recovery could not write turn the finished window's heading
// and message from success into a count of what is missing.
TEST_F(RecoveryWindowsTest, TheFinishedWindowSaysHowManyFilesWereNotRecovered) {
    const struct {
        uint64_t notRecovered;
        const char* list;
        const char* title;
        const char* note;
    } cases[] = {
        {0, "", "Recovery finished", "The recovered files are in the folder you chose."},
        {3, "", "Some files were not recovered",
         "3 of the ticked file(s) could not be recovered. The others are in the folder you "
         "chose."},
        {18446744073709551615ull, "", "Some files were not recovered",
         "18446744073709551615 of the ticked file(s) could not be recovered. The others are in "
         "the folder you chose."},
        {2, "/tmp/out/Velmora - files not recovered_0001.txt", "Some files were not recovered",
         "2 of the ticked file(s) could not be recovered. The others are in the folder you "
         "chose. The file \u201cVelmora - files not recovered_0001.txt\u201d in that folder "
         "names the missing ones."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        VKScanEndSaveWindowController finished(QStringLiteral("/tmp/out"), &workspace);
        const int height = finished.window()->height();
        finished.setNotRecoveredFiles(c.notRecovered, QString::fromUtf8(c.list));
        EXPECT_EQ(finished.titleLabel()->text(), c.title);
        EXPECT_EQ(finished.noteLabel()->text(), QString::fromUtf8(c.note));
        // A longer message makes the window taller, never runs into the
        // link below it or is cut.
        QLabel* note = finished.noteLabel();
        EXPECT_GE(note->height(), note->heightForWidth(note->width()));
        EXPECT_GE(finished.savePathLabel()->y(), note->geometry().bottom());
        EXPECT_GE(finished.okButton()->y(), finished.savePathLabel()->geometry().bottom());
        EXPECT_GE(finished.window()->height(), height);
    }
}

TEST_F(RecoveryWindowsTest, EndWindowsCloseAtOnceByOkAndFadingByTheTitleBar) {
    for (const char* how : {"ok", "close"}) {
        SCOPED_TRACE(how);
        VKScanEndSaveWindowController finished(QStringLiteral("/tmp/out"), &workspace);
        modal.script.push_back([&](QWidget* window) {
            Pump();
            if (std::string(how) == "ok") {
                finished.okButton()->click();
                EXPECT_FALSE(window->isVisible());
            } else {
                EXPECT_FALSE(window->close());  // fades first
                EXPECT_TRUE(window->isVisible());
                Pump();
                EXPECT_FALSE(window->isVisible());
            }
            EXPECT_FALSE(modal.IsRunning(window));
            return 7;
        });
        finished.runModal();
    }
    EXPECT_EQ(modal.unscripted, 0);
}

// Pictures for a person to look at: each panel of the progress window and
// both end windows; nothing drawn may be a raw key.
TEST_F(RecoveryWindowsTest, Pictures) {
    // A text that is still its key: capitals, digits and underscores.
    static const QRegularExpression rawKey(QStringLiteral("^[A-Z0-9]+_[A-Z0-9_]+$"));
    auto save = [](QWidget* window, const char* name) {
        window->show();
        Pump();
        QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
        EXPECT_TRUE(
            window->grab().save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/") + name + ".png"));
        for (auto* label : window->findChildren<QLabel*>()) {
            if (label->isVisibleTo(window)) {
                EXPECT_FALSE(rawKey.match(label->text()).hasMatch()) << label->text().toStdString();
            }
        }
        for (auto* button : window->findChildren<QPushButton*>()) {
            if (button->isVisibleTo(window)) {
                EXPECT_FALSE(rawKey.match(button->text()).hasMatch())
                    << button->text().toStdString();
            }
        }
    };
    VKShowScanProgressWindowController progress;
    const QString name = QStringLiteral("Holiday 2024/IMG_0412.JPG");
    progress.changeProgressValue(42, &name);
    save(progress.window(), "recovery_progress");
    progress.stopButton()->click();
    save(progress.window(), "recovery_progress_stop");
    progress.setNoMemeryViewHidden();
    save(progress.window(), "recovery_progress_no_space");
    VKScanEndSaveWindowController finished(QStringLiteral("/home/ann/Recovered files"), &workspace);
    save(finished.window(), "recovery_finished");
    VKScanNotEndSaveWindowController stopped(&workspace);
    stopped.changeRecoveryFilesPoint(17, QStringLiteral("/home/ann/Recovered files"));
    save(stopped.window(), "recovery_stopped");
    VKScanEndSaveWindowController missing(QStringLiteral("/home/ann/Recovered files"), &workspace);
    missing.setNotRecoveredFiles(
        3, QStringLiteral("/home/ann/Recovered files/Velmora - files not recovered.txt"));
    save(missing.window(), "recovery_finished_not_all");
    VKScanNotEndSaveWindowController stoppedMissing(&workspace);
    stoppedMissing.changeRecoveryFilesPoint(17, QStringLiteral("/home/ann/Recovered files"), 2);
    save(stoppedMissing.window(), "recovery_stopped_not_all");
}

}  // namespace
}  // namespace velmora::windows
