#include "UIPlatform/Modal.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "UIPlatform/Timing.h"

using namespace velmora::ui;

namespace {

class ShowHook : public QObject {
public:
    explicit ShowHook(std::function<void()> fn) : fn_(std::move(fn)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            fn_();
        return false;
    }

private:
    std::function<void()> fn_;
};

}  // namespace

TEST(Modal, NestedLoopsEndInOrder) {
    EventLoopModalRunner runner;
    QWidget outer, inner;
    QStringList order;
    QTimer::singleShot(0, &outer, [&] {
        EXPECT_TRUE(runner.IsRunning(&outer));
        QTimer::singleShot(0, &inner, [&] {
            // The outer window is ended first: its caller must still wait
            // for the inner loop, and the inner loop must keep running.
            runner.StopModal(&outer, 1);
            EXPECT_TRUE(runner.IsRunning(&inner));
            EXPECT_FALSE(runner.IsRunning(&outer));
            QTimer::singleShot(0, &inner, [&] { runner.StopModal(&inner, 2); });
        });
        order << QString("inner %1").arg(runner.RunModal(&inner));
        EXPECT_EQ(runner.Depth(), 1);
    });
    order << QString("outer %1").arg(runner.RunModal(&outer));
    EXPECT_EQ(order, (QStringList{"inner 2", "outer 1"}));
    EXPECT_EQ(runner.Depth(), 0);
    EXPECT_FALSE(outer.isVisible());
}

TEST(Modal, StoppingAWindowWithoutALoopOrAGoneWindowNeverHangs) {
    EventLoopModalRunner runner;
    QWidget stranger;
    runner.StopModal(&stranger, 5);  // nothing runs: nothing happens

    // Ended while being shown, before its loop started.
    QWidget quick;
    ShowHook hook([&] { runner.StopModal(&quick, 3); });
    quick.installEventFilter(&hook);
    EXPECT_EQ(runner.RunModal(&quick), 3);

    // Destroyed under its loop.
    auto* doomed = new QWidget;
    QTimer::singleShot(0, doomed, [doomed] { delete doomed; });
    EXPECT_EQ(runner.RunModal(doomed), kModalAborted);
    EXPECT_EQ(runner.Depth(), 0);
}

TEST(Modal, FadingWindowEndsItsLoopWhenTheFadeReachesZero) {
    // The small windows' close: fade to 0, then end the loop and close.
    EventLoopModalRunner runner;
    QWidget window;
    QTimer::singleShot(0, &window, [&] {
        Fade(&window, 0.0, 300, [&] {
            EXPECT_EQ(window.windowOpacity(), 0.0);
            runner.StopModal(&window, 7);
        });
    });
    EXPECT_EQ(runner.RunModal(&window), 7);
}

// A window its owner has already put on screen (faded in) is modal for
// its loop all the same: the windows under it take no clicks.
TEST(Modal, WindowShownBeforeItsLoopBlocksTheOthers) {
    EventLoopModalRunner runner;
    QWidget under, window;
    under.show();
    for (bool shownFirst : {true, false}) {
        SCOPED_TRACE(shownFirst);
        if (shownFirst)
            FadeIn(&window, 0);
        QWidget* modal = nullptr;
        bool anyRunning = false;
        QTimer::singleShot(0, &window, [&] {
            modal = QApplication::activeModalWidget();
            anyRunning = runner.AnyRunning();
            runner.StopModal(&window, 1);
        });
        EXPECT_EQ(runner.RunModal(&window), 1);
        EXPECT_EQ(modal, &window);
        EXPECT_TRUE(anyRunning);
        EXPECT_FALSE(runner.AnyRunning());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST(Modal, ScriptedRunnerAnswersWithoutWaiting) {
    ScriptedModalRunner runner;
    QWidget progress, notice;
    progress.setObjectName("ProgressXib");
    notice.setObjectName("APFSScanWindowController");
    runner.Answer(1);
    runner.script.push_back([&](QWidget* w) {
        // The window ends itself (as its own button would) and, meanwhile,
        // runs another window modally.
        runner.Answer(4);
        EXPECT_EQ(runner.RunModal(&notice), 4);
        runner.StopModal(w, 9);
        return 0;
    });
    EXPECT_EQ(runner.RunModal(&progress), 1);
    EXPECT_EQ(runner.RunModal(&progress), 9);
    EXPECT_EQ(runner.RunModal(&progress), kModalAborted);
    EXPECT_EQ(runner.unscripted, 1);
    EXPECT_EQ(runner.shown, (std::vector<QString>{"ProgressXib", "ProgressXib",
                                                  "APFSScanWindowController", "ProgressXib"}));
}

TEST(Alerts, ScriptedAlertsGiveOneZeroAndMinusOne) {
    ScriptedAlerts alerts;
    SetAlertPresenter(&alerts);
    alerts.answers = {1, 0, -1};
    const AlertContent stop = AlertFromKeys("PLX_FOUR_SCAN_STOP_");
    EXPECT_EQ(Alerts().Run(stop, nullptr), 1);
    EXPECT_EQ(Alerts().Run(stop, nullptr), 0);
    QWidget window;
    int sheetAnswer = 99;
    Alerts().BeginSheet(stop, &window, [&](int answer) { sheetAnswer = answer; });
    EXPECT_EQ(sheetAnswer, 99) << "a sheet answers after BeginSheet returned";
    QCoreApplication::processEvents();
    EXPECT_EQ(sheetAnswer, -1);
    EXPECT_EQ(Alerts().Run(stop, nullptr), -1);
    EXPECT_EQ(alerts.unscripted, 1);
    ASSERT_EQ(alerts.shown.size(), 4u);
    EXPECT_EQ(alerts.shown[0].message, "Stop the scan?");
    EXPECT_EQ(alerts.shown[0].defaultButton, "Stop");
    EXPECT_EQ(alerts.shown[0].alternateButton, "Continue Scanning");
    SetAlertPresenter(nullptr);
}

TEST(Alerts, KeyFamiliesLeaveOutButtonsWithoutText) {
    AlertContent alert = AlertFromKeys("PLX_FOUR_RECOVERY_NO_COMPETENCE_");
    EXPECT_EQ(alert.message, "The chosen folder cannot be written.");
    EXPECT_EQ(alert.defaultButton, "OK");
    EXPECT_TRUE(alert.alternateButton.isEmpty());
    AlertContent unknown = AlertFromKeys("PLX_NOTHING_");
    EXPECT_EQ(unknown.message, "PLX_NOTHING_TITLE");
    EXPECT_TRUE(unknown.informative.isEmpty());
}

TEST(Alerts, MessageBoxButtonsGiveOneZeroAndMinusOne) {
    AlertContent alert;
    alert.message = "Stop the scan?";
    alert.informative = "Found files stay.";
    alert.defaultButton = "Stop";
    alert.alternateButton = "Continue";
    alert.otherButton = "Details";
    struct Case {
        QString press;  // "" closes the box without a button
        int answer;
    } cases[] = {{"Stop", 1}, {"Continue", 0}, {"Details", -1}, {"", 0}};
    MessageBoxAlerts alerts;
    for (const auto& c : cases) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            if (c.press.isEmpty()) {
                box->reject();
                return;
            }
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == c.press)
                    b->click();
            }
        });
        EXPECT_EQ(alerts.Run(alert, nullptr), c.answer) << c.press.toStdString();
    }

    QWidget window;
    window.show();
    int answer = 99;
    alerts.BeginSheet(alert, &window, [&](int a) { answer = a; });
    auto* sheet = window.findChild<QMessageBox*>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(answer, 99);
    for (QAbstractButton* b : sheet->buttons()) {
        if (b->text() == "Continue")
            b->click();
    }
    EXPECT_EQ(answer, 0);
}
