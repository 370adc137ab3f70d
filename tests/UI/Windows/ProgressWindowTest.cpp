// The save and load progress window driven by scripted poller notices.
#include <QDir>
#include <QLabel>
#include <QProgressBar>

#include "TopView/TCImageWindow.h"
#include "UIPlatform/Texts.h"
#include "WindowTestSupport.h"
#include "Windows/VKProgressWindow.h"

namespace velmora::windows {
namespace {

using testing::PostRecorder;
using testing::Pump;

class ProgressWindowTest : public testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ui::SetAlertPresenter(&alerts);
    }
    void TearDown() override {
        ui::SetAlertPresenter(nullptr);
        WindowTest::TearDown();
    }
    void Post(const QString& name) { ui::NotificationCenter::defaultCenter().post(name); }

    ui::ScriptedAlerts alerts;
};

// The bar follows current x 100 / total and never moves back.
TEST_F(ProgressWindowTest, BarOnlyMovesForward) {
    struct Report {
        uint64_t total, current;
        int bar;
    };
    const Report reports[] = {{0, 0, 0},      {200, 50, 25}, {200, 30, 25},
                              {400, 200, 50}, {100, 40, 50}, {100, 100, 100}};
    VKProgressWindow window(QStringLiteral("QueryProgressInfo"), true);
    for (const Report& r : reports) {
        bridge.saveTotal = r.total;
        bridge.saveCurrent = r.current;
        Post(QStringLiteral("QueryProgressInfo"));
        EXPECT_EQ(window.progress()->value(), r.bar) << r.current << "/" << r.total;
    }
}

// The end: the codes that count as success, the alert of a failure, and
// "ShowDetailWindow" posted once after a successful load only.
TEST_F(ProgressWindowTest, EndOfWorkByCodeAndMode) {
    struct Case {
        bool save;
        int64_t code;
        int result;
        size_t alertsShown;
        size_t detailPosts;
    };
    const Case cases[] = {
        {false, 0, 1, 0, 1},
        {false, 6, 1, 0, 1},
        {false, 3, 0, 1, 0},
        // Only the low half of this code is 6.
        {false, (int64_t{1} << 32) | 6, 0, 1, 0},
        {true, 0, 1, 0, 0},
        {true, 9, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "save " << c.save << " code " << c.code);
        alerts.shown.clear();
        alerts.answers = {1};
        PostRecorder detail(QStringLiteral("ShowDetailWindow"));
        const QString name =
            c.save ? QStringLiteral("QueryProgressInfo") : QStringLiteral("NormalScranValue");
        VKProgressWindow window(name, c.save);
        bridge.saveTotal = 10;
        bridge.saveCurrent = 10;
        bridge.saveError = c.code;
        modal.script.push_back([&](QWidget* w) {
            Post(name);
            Post(QStringLiteral("QueryProgressFinish"));
            // The end runs on the window's next timer tick.
            for (int i = 0; i < 200 && modal.IsRunning(w); ++i)
                QTest::qWait(5);
            return ui::kModalAborted;
        });
        window.runModal();
        Pump();
        EXPECT_EQ(window.getResult(), c.result);
        EXPECT_EQ(window.getErrorCode(), c.code);
        EXPECT_EQ(alerts.shown.size(), c.alertsShown);
        EXPECT_EQ(detail.posts.size(), c.detailPosts);
        EXPECT_FALSE(window.window()->isVisible());
        // A second end notice after the window is gone changes nothing.
        Post(QStringLiteral("QueryProgressFinish"));
        Pump();
        EXPECT_EQ(detail.posts.size(), c.detailPosts);
        EXPECT_EQ(alerts.shown.size(), c.alertsShown);
    }
}

// A load of a damaged file (code 8) tells the user how many records were
// left out; the browser opens on what was loaded, and a file that fails its
// checks, or of which nothing was loaded, stays a failure.
TEST_F(ProgressWindowTest, DamagedLoadTellsWhatWasLeftOut) {
    struct Case {
        const char* what;
        seam::IBridge::LoadDamage damage;
        int result;
        std::vector<const char*> told;  // in the alert, in order
    };
    const Case cases[] = {
        {"records left out",
         {3, 10, false, false},
         1,
         {"3 damaged records were left out", "Everything else was loaded"}},
        {"cut short", {0, 4, true, false}, 1, {"read only up to the damage", "Everything else"}},
        {"frames fail their checks", {0, 0, false, true}, 0, {"no longer match", "Nothing could"}},
        {"nothing kept", {2, 0, false, false}, 0, {"2 damaged records", "Nothing could"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        alerts.shown.clear();
        alerts.answers = {1};
        PostRecorder detail(QStringLiteral("ShowDetailWindow"));
        VKProgressWindow window(QStringLiteral("NormalScranValue"), false);
        bridge.saveTotal = 10;
        bridge.saveCurrent = 10;
        bridge.saveError = 8;
        bridge.loadDamage = c.damage;
        modal.script.push_back([&](QWidget* w) {
            Post(QStringLiteral("QueryProgressFinish"));
            for (int i = 0; i < 200 && modal.IsRunning(w); ++i)
                QTest::qWait(5);
            return ui::kModalAborted;
        });
        window.runModal();
        Pump();
        EXPECT_EQ(window.getResult(), c.result);
        ASSERT_EQ(alerts.shown.size(), 1u);
        const QString text = alerts.shown[0].informative;
        EXPECT_TRUE(text.startsWith(QStringLiteral("The scan result file is damaged.")))
            << text.toStdString();
        int from = 0;
        for (const char* part : c.told) {
            const int at = text.indexOf(QString::fromUtf8(part), from);
            EXPECT_GE(at, from) << part << " in: " << text.toStdString();
            from = std::max(at, from);
        }
        EXPECT_EQ(detail.posts.size(), static_cast<size_t>(c.result));
    }
    bridge.loadDamage = {};
}

// Closed by the user before the end, the window hears no more: the late
// end notice shows no failure alert and opens nothing.
TEST_F(ProgressWindowTest, EarlyClosedWindowIgnoresLateNotices) {
    PostRecorder detail(QStringLiteral("ShowDetailWindow"));
    VKProgressWindow window(QStringLiteral("NormalScranValue"), false);
    bridge.saveTotal = 10;
    bridge.saveCurrent = 5;
    modal.script.push_back([&](QWidget*) {
        Post(QStringLiteral("NormalScranValue"));
        window.closeWindow();
        return 0;
    });
    window.runModal();
    EXPECT_EQ(window.progress()->value(), 50);
    bridge.saveCurrent = 10;
    Post(QStringLiteral("NormalScranValue"));
    Post(QStringLiteral("QueryProgressFinish"));
    Pump();
    EXPECT_EQ(window.progress()->value(), 50);
    EXPECT_EQ(window.getResult(), 0);
    EXPECT_TRUE(alerts.shown.empty());
    EXPECT_TRUE(detail.posts.empty());
    EXPECT_EQ(ui::NotificationCenter::defaultCenter().observerCount(
                  QStringLiteral("QueryProgressFinish")),
              0);
}

TEST_F(ProgressWindowTest, TextsByModeAndPicture) {
    for (bool save : {true, false}) {
        VKProgressWindow window(QStringLiteral("X"), save);
        EXPECT_EQ(window.titleLabel()->text(),
                  ui::texts::Text(save ? QStringLiteral("SAVE_SCAN_RESULT")
                                       : QStringLiteral("LOAD_SCAN_RESULT")));
        EXPECT_EQ(window.descriptionLabel()->text(),
                  ui::texts::Text(save ? QStringLiteral("SAVE_RESULT_WAIT")
                                       : QStringLiteral("LOAD_RESULT_WAIT")));
        if (save) {
            bridge.saveTotal = 100;
            bridge.saveCurrent = 40;
            Post(QStringLiteral("X"));
            window.window()->show();
            Pump();
            QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
            EXPECT_TRUE(window.window()->grab().save(
                QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/progress_window_save.png")));
        }
    }
}

}  // namespace
}  // namespace velmora::windows
