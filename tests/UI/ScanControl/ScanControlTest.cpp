// Scan control in the results browser over the scripted bridge, with time
// moved by hand.
#include "Browser/VKSaveResultController.h"
#include "Browser/VKScanControl.h"
#include "Browser/VKSearchController.h"
#include "BrowserDoubles.h"
#include "UIPlatform/Texts.h"
#include "Widgets/MAAttachedWindow.h"

namespace velmora::browser {
namespace {

using C = BrowserControl;
using windows::testing::Pump;

class ScanControlTest : public testing::BrowserTest {
protected:
    std::unique_ptr<VKScanControl> Make(VKSaveResultController* save = nullptr) {
        return std::make_unique<VKScanControl>(browser, nullptr, save, &timers);
    }
};

// Until a file is found and while at most 1 % is done the labels wait;
// past that the count, the time left and the bar show, files found or not
// (a deep scan walks most of the disk before its first file). The 1.5 s
// progress timer starts with the first file.
TEST_F(ScanControlTest, WaitingTextsAndProgressTimer) {
    struct Case {
        double percent;
        int64_t files;
        const char* found;
        const char* remain;
        bool timer;
        double bar;  // -1: left as it was
    };
    const Case cases[] = {
        {0, 0, "Please wait...", "Prepare to scan your drive", false, -1},
        {1, 0, "Please wait...", "Prepare to scan your drive", false, -1},
        {42, 0, "Files found: 0", "Remaining time: 00:02:00", false, 42},
        {0.5, 3, "Files found: 3", "Remaining time: 00:02:00", true, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.found);
        bridge.setScanStatus(2);
        bridge.scanPercent = c.percent;
        bridge.scanFiles = c.files;
        bridge.remainingTime = "00:02:00";
        browser.progress = -1;
        auto control = Make();
        control->scanDataArrived();
        EXPECT_EQ(browser.text(C::FoundFiles), QString::fromUtf8(c.found));
        EXPECT_EQ(browser.text(C::RemainTime), QString::fromUtf8(c.remain));
        EXPECT_EQ(browser.progress, c.bar);
        EXPECT_EQ(control->progressTimerRunning(), c.timer);
        // No file yet: time passing starts nothing either.
        timers.advanceMs(5000);
        EXPECT_EQ(control->progressTimerRunning(), c.timer);
    }
}

// The offer of a deep scan follows the first two quick scans of a device,
// never a deep scan or a loaded result, and closes itself after 8 s.
TEST_F(ScanControlTest, DeepScanOfferAfterFirstTwoQuickScans) {
    struct Scan {
        bool deep;
        bool import;
        bool offer;
    };
    const Scan scans[] = {{false, false, true},
                          {true, false, false},
                          {false, true, false},
                          {false, false, true},
                          {false, false, false}};
    int n = 0;
    for (const Scan& s : scans) {
        SCOPED_TRACE(::testing::Message() << "scan " << n++);
        bridge.deepScan = s.deep ? 1 : 0;
        bridge.setScanStatus(4);
        browser.setControlEnabled(C::Adv, false);
        auto control = Make();
        control->setIsImport(s.import);
        control->scanDataArrived();
        EXPECT_TRUE(browser.visible(C::Recovery));
        EXPECT_EQ(control->attachedWindow() != nullptr, s.offer);
        EXPECT_EQ(browser.enabled(C::Adv), !s.deep && !s.import);
        timers.advanceMs(7900);
        EXPECT_EQ(control->attachedWindow() != nullptr, s.offer);
        timers.advanceMs(200);
        EXPECT_EQ(control->attachedWindow(), nullptr);
        Pump();
    }
}

// Stop keeps what was found; going home during the scan drops it and goes
// home at the scan's end without offering to save.
TEST_F(ScanControlTest, StopKeepsResultsHomeDiscardsThem) {
    struct Case {
        bool home;
        int stopFlag;
        int homes;
    };
    for (const Case& c : {Case{false, 0, 0}, Case{true, 1, 1}}) {
        SCOPED_TRACE(c.home ? "home" : "stop");
        bridge.calls.clear();
        alerts.shown.clear();
        bridge.setScanStatus(2);
        bridge.scanFiles = 4;
        browser.homes = 0;
        auto control = Make();
        control->scanDataArrived();
        alerts.answers = {1};
        if (c.home)
            control->backButtonAction();
        else
            control->stopButtonClick();
        Pump();
        timers.advanceMs(500);
        EXPECT_EQ(bridge.CountOf("StopScan:" + std::to_string(c.stopFlag)), 1);
        EXPECT_EQ(bridge.CountOf("StopScan:" + std::to_string(1 - c.stopFlag)), 0);
        EXPECT_EQ(bridge.scanStatus(), 1);
        // The worker ends; the next poll sees it.
        bridge.setScanStatus(4);
        timers.advanceMs(1500);
        control->scanDataArrived();
        EXPECT_TRUE(browser.visible(C::Recovery));
        EXPECT_EQ(browser.homes, c.homes);
        // Only the sheet: no offer to save on the way home.
        EXPECT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(alerts.unscripted, 0);
    }
}

// The sheet's alternate button leaves the scan as the user had it.
TEST_F(ScanControlTest, AlternateButtonKeepsUsersPause) {
    struct Case {
        bool userPaused;
        bool home;
    };
    for (const Case& c :
         {Case{true, false}, Case{false, false}, Case{true, true}, Case{false, true}}) {
        SCOPED_TRACE(::testing::Message() << "paused " << c.userPaused << " home " << c.home);
        bridge.setScanStatus(2);
        bridge.scanFiles = 1;
        auto control = Make();
        control->scanDataArrived();
        if (c.userPaused)
            control->pauseButtonClick();
        ASSERT_EQ(bridge.scanStatus(), c.userPaused ? 3 : 2);
        alerts.answers = {0};
        if (c.home)
            control->backButtonAction();
        else
            control->stopButtonClick();
        EXPECT_EQ(bridge.scanStatus(), 3);
        Pump();
        timers.advanceMs(2000);
        EXPECT_EQ(bridge.scanStatus(), c.userPaused ? 3 : 2);
        EXPECT_EQ(control->isPause(), c.userPaused);
        EXPECT_TRUE(control->isCanClick());
        EXPECT_EQ(bridge.CountOf("StopScan"), 0);
    }
}

// Animated dots after 30 s without new data, gone within 3 s of new data.
TEST_F(ScanControlTest, WaitingDotsFollowTheData) {
    bridge.setScanStatus(2);
    bridge.scanFiles = 7;
    auto control = Make();
    control->scanDataArrived();
    timers.advanceMs(29000);
    EXPECT_FALSE(control->dotsRunning());
    EXPECT_FALSE(browser.text(C::FoundFiles).endsWith(QLatin1Char('.')));
    timers.advanceMs(2500);
    EXPECT_TRUE(control->dotsRunning());
    EXPECT_TRUE(browser.text(C::FoundFiles).endsWith(QLatin1Char('.')));
    control->scanDataArrived();
    timers.advanceMs(3000);
    EXPECT_FALSE(control->dotsRunning());
    EXPECT_FALSE(browser.text(C::FoundFiles).endsWith(QLatin1Char('.')));
    timers.advanceMs(5000);
    EXPECT_FALSE(browser.text(C::FoundFiles).endsWith(QLatin1Char('.')));
}

// Going home after a finished scan offers to save, in words that say so;
// a save that did not happen keeps the user in the browser, and after a
// save going home asks nothing more.
TEST_F(ScanControlTest, SaveOfferOnGoingHome) {
    struct Case {
        int answer;
        bool panelGivesFile;
        int homes;
        int panels;
    };
    for (const Case& c :
         {Case{1, true, 1, 1}, Case{1, false, 0, 1}, Case{0, true, 0, 0}, Case{-1, true, 1, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.answer << c.panelGivesFile);
        alerts.shown.clear();
        browser.homes = 0;
        int panels = 0;
        VKSaveResultController save(
            browser.window(),
            [&](const QString&) {
                ++panels;
                return c.panelGivesFile ? std::optional<QString>(QStringLiteral("/r/x.Velmora"))
                                        : std::nullopt;
            },
            [](const QString&) { return 1; }, [](const QString&) { return true; });
        bridge.setScanStatus(4);
        auto control = Make(&save);
        control->scanDataArrived();
        alerts.answers = {c.answer};
        control->backButtonAction();
        EXPECT_EQ(browser.homes, c.homes);
        EXPECT_EQ(panels, c.panels);
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(alerts.shown[0].message, ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_TITLE")));
        EXPECT_EQ(alerts.shown[0].alternateButton,
                  ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_STAY_BUTTON")));
        EXPECT_NE(alerts.shown[0].message,
                  ui::texts::Text(QStringLiteral("SAVE_SAME_DISK_WARNING")));
        if (save.bSave()) {
            auto again = Make(&save);
            again->backButtonAction();
            EXPECT_EQ(alerts.shown.size(), 1u);
            EXPECT_EQ(browser.homes, 2);
        }
        Pump();
    }
}

// Pausing lets the user search and tick; resuming takes both back and
// clears the ticks (unless a cleared search rebuilt the trees anyway). A
// pause that finds the scan ended stops it for good.
TEST_F(ScanControlTest, PauseAndResume) {
    bridge.setScanStatus(2);
    bridge.scanFiles = 2;
    auto control = Make();
    control->scanDataArrived();
    control->pauseButtonClick();
    EXPECT_EQ(bridge.scanStatus(), 3);
    EXPECT_TRUE(control->isPause());
    EXPECT_TRUE(browser.visible(C::ContinueScan));
    EXPECT_FALSE(browser.visible(C::Pause));
    EXPECT_TRUE(browser.enabled(C::Search));
    EXPECT_EQ(bridge.CountOf("VKCleanOpNodeSate"), 0);
    control->pauseButtonClick();
    EXPECT_EQ(bridge.scanStatus(), 2);
    EXPECT_FALSE(control->isPause());
    EXPECT_TRUE(browser.visible(C::Pause));
    EXPECT_FALSE(browser.enabled(C::Search));
    EXPECT_FALSE(browser.enabled(C::Recovery));
    EXPECT_EQ(bridge.CountOf("VKCleanOpNodeSate"), 1);

    bridge.setScanStatus(4);
    control->pauseButtonClick();
    EXPECT_EQ(bridge.CountOf("StopScan:1"), 1);
    EXPECT_EQ(bridge.CountOf("VKSetFlag:0"), 1);
    EXPECT_TRUE(browser.visible(C::Recovery));
}

// At the end of the scan: a quit asked during it ends the program, the
// Desktop entry searches "Desktop" 0.3 s later.
TEST_F(ScanControlTest, EndOfScanByEntry) {
    struct Case {
        bool closeWindow, desktop;
        size_t terminations;
        int desktopSearches;
    };
    for (const Case& c :
         {Case{false, false, 0, 0}, Case{true, false, 1, 0}, Case{false, true, 0, 1}}) {
        SCOPED_TRACE(::testing::Message() << c.closeWindow << c.desktop);
        bridge.calls.clear();
        bridge.searchKey.clear();
        windows::testing::PostRecorder quit(QStringLiteral("appWillTerminate"));
        VKSearchController search(browser);
        search.setSelectDesktop(c.desktop);
        VKScanControl control(browser, &search, nullptr, &timers);
        control.setSelectDesktop(c.desktop);
        control.setIsCloseWindow(c.closeWindow);
        bridge.setScanStatus(4);
        control.scanDataArrived();
        EXPECT_EQ(quit.posts.size(), c.terminations);
        EXPECT_EQ(bridge.CountOf("DoSearchWithString"), 0);
        timers.advanceMs(300);
        EXPECT_EQ(bridge.CountOf("DoSearchWithString:Desktop:DoSearchValue"), c.desktopSearches);
        timers.advanceMs(8000);
        Pump();
    }
}

// A resize attaches the open offer anew; it still closes 8 s after it
// was shown.
TEST_F(ScanControlTest, ResizeReattachesTheOffer) {
    bridge.setScanStatus(4);
    auto control = Make();
    control->scanDataArrived();
    QPointer<MAAttachedWindow> first = control->attachedWindow();
    ASSERT_NE(first, nullptr);
    timers.advanceMs(4000);
    browser.window()->resize(1000, 700);
    control->windowDidResize();
    MAAttachedWindow* second = control->attachedWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first.data());
    EXPECT_EQ(second->parentWidget(), browser.window());
    timers.advanceMs(4100);
    EXPECT_EQ(control->attachedWindow(), nullptr);
    // Closed, a resize brings nothing back.
    control->windowDidResize();
    EXPECT_EQ(control->attachedWindow(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(first, nullptr);
}

// The deep scan offered from the browser repeats the device deeply.
TEST_F(ScanControlTest, DeepScanFromTheBrowser) {
    bridge.setScanStatus(4);
    auto control = Make();
    control->scanDataArrived();
    ASSERT_NE(control->attachedWindow(), nullptr);
    control->deepSrcanButtonAction();
    EXPECT_EQ(control->attachedWindow(), nullptr);
    EXPECT_EQ(browser.text(C::FoundFiles), QStringLiteral("Files found: 0"));
    EXPECT_EQ(bridge.CountOf("DoDeepScan"), 0);
    timers.advanceMs(200);
    EXPECT_EQ(bridge.CountOf("DoDeepScan:NormalScranValue"), 1);
    EXPECT_FALSE(browser.enabled(C::Search));
    Pump();
}

}  // namespace
}  // namespace velmora::browser
