// The application delegate: the weekly version check, the main window once,
// quitting with and without a running scan, the menus and links, and the
// disk callbacks.
#include "VKAppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "ShellFixture.h"
#include "TopView/ApplicationMenuButton.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"
#include "platform/desktop/Workspace.h"
#include "support/TestSupport.h"

using velmora::ui::Notification;
using velmora::ui::NotificationCenter;
using velmora::ui::PrivateSettings;
using velmora::ui::UserDefaults;

namespace {

class FakeScan : public VKScanControl {
public:
    bool running = false, paused = false;
    int toggles = 0;
    bool IsScanRunning() override { return running; }
    bool IsPause() override { return paused; }
    void PauseOrResumeScan() override {
        ++toggles;
        paused = !paused;
    }
};

class DelegateTest : public ShellTest {
protected:
    std::unique_ptr<VKAppDelegate> MakeDelegate(bool watchDevices = false) {
        VKAppDelegateWiring wiring;
        wiring.makeRootWindow = [this](const QString& rsfPath) {
            events.push_back("root " + rsfPath);
            roots.push_back(std::make_unique<QWidget>());
            return roots.back().get();
        };
        wiring.makeAboutWindow = [this]() -> QWidget* {
            events.push_back("about");
            auto* about = new QWidget();
            about->setObjectName("AboutWindow");
            return about;
        };
        wiring.scan = &scan;
        wiring.closeApp = [this] { events.push_back("closeApp"); };
        wiring.workspace = &workspace;
        wiring.watchDevices = watchDevices;
        return std::make_unique<VKAppDelegate>(std::move(wiring));
    }

    // Launches and waits until the version check has ended; `early` tells
    // whether it had ended before the launch call returned.
    void Launch(VKAppDelegate& delegate, bool* early = nullptr) {
        QSignalSpy finished(&delegate, &VKAppDelegate::launchCheckFinished);
        delegate.applicationDidFinishLaunching();
        if (early)
            *early = finished.count() > 0;
        ASSERT_TRUE(finished.count() > 0 || finished.wait(15000)) << "the launch check never ended";
    }

    FakeScan scan;
    velmora::platform::RecordingWorkspace workspace;
    std::vector<QString> events;
    std::vector<std::unique_ptr<QWidget>> roots;
};

}  // namespace

TEST_F(DelegateTest, VersionCheckRunsOnTheFirstRunAndThenWeekly) {
    LoopbackServer server(Http(200, UpdatePlist("<integer>1</integer>")));
    const QDateTime now = clock.Now();
    struct Case {
        const char* what;
        QVariant stored;  // invalid: nothing stored
        bool due;
    } cases[] = {
        {"first run", QVariant(), true},
        {"a single blank", QString(" "), true},
        {"six days and 23 hours",
         velmora::app::FormatCheckTime(now.addSecs(-(6 * 86400 + 23 * 3600))), false},
        {"exactly seven days", velmora::app::FormatCheckTime(now.addDays(-7)), true},
        {"eight days", velmora::app::FormatCheckTime(now.addDays(-8)), true},
        {"unparsable", QString("last Tuesday"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        SetLinks(server.Url("/update.plist"));
        if (c.stored.isValid())
            PrivateSettings::shared().setValue("upDataTimeStr", c.stored);
        const int before = server.connections;
        auto delegate = MakeDelegate();
        Launch(*delegate);

        EXPECT_EQ(server.connections - before, c.due ? 1 : 0);
        const QString after = PrivateSettings::shared().stringValue("upDataTimeStr");
        EXPECT_EQ(after, c.due ? velmora::app::FormatCheckTime(now) : c.stored.toString())
            << "the time is stored before the fetch, and only when checking";
        EXPECT_EQ(events, std::vector<QString>{"root "});
        EXPECT_TRUE(modal.shown.empty());
        // Taking part in the usage statistics is never switched on unasked.
        EXPECT_FALSE(UserDefaults::standard().contains("Participate"));
        events.clear();
        roots.clear();
    }
}

TEST_F(DelegateTest, OnlyANewerRemoteVersionShowsTheUpdateWindowBeforeTheMainWindow) {
    struct Case {
        const char* what;
        QByteArray response;  // empty: the server stays silent
        bool update;
    } cases[] = {
        {"newer", Http(200, UpdatePlist("<integer>2</integer>")), true},
        {"newer, as a string", Http(200, UpdatePlist("<string>12</string>")), true},
        {"equal", Http(200, UpdatePlist("<integer>1</integer>")), false},
        {"older", Http(200, UpdatePlist("<integer>0</integer>")), false},
        {"not a property list", Http(200, "<html>maintenance</html>"), false},
        {"server error", Http(500, UpdatePlist("<integer>9</integer>")), false},
        {"silent past the time-out", QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        velmora::app::NetworkTimeouts() = {2000, 300};
        LoopbackServer server(c.response);
        SetLinks(server.Url("/update.plist"));
        auto delegate = MakeDelegate();
        if (c.update) {
            modal.script.push_back([&](QWidget* window) {
                events.push_back("update window " + window->objectName());
                // The window checks again for itself, then the user closes it.
                VKCheckUpdateWindowController* controller = delegate->checkUpdateWindow();
                QSignalSpy done(controller, &VKCheckUpdateWindowController::checkFinished);
                EXPECT_TRUE(done.wait(15000));
                EXPECT_EQ(controller->panel(), VKCheckUpdateWindowController::Panel::HaveUpdate);
                controller->closeWindow();
                return 0;
            });
        }
        bool early = true;
        Launch(*delegate, &early);
        EXPECT_FALSE(early) << "the launch waited for the network";
        if (c.update) {
            EXPECT_EQ(events, (std::vector<QString>{"update window UpdateVersionXib", "root "}));
            EXPECT_TRUE(delegate->checkUpdateWindow()->window()->windowFlags().testFlag(
                Qt::WindowStaysOnTopHint));
        } else {
            EXPECT_EQ(events, std::vector<QString>{"root "});
            EXPECT_TRUE(modal.shown.empty());
        }
        EXPECT_EQ(modal.unscripted, 0);
        events.clear();
        roots.clear();
    }
}

TEST_F(DelegateTest, TheShippedSettingsMakeNoRequestAtAll) {
    // First run with the settings as installed: the check is due, but the
    // addresses are empty.
    auto delegate = MakeDelegate();
    Launch(*delegate);
    EXPECT_EQ(events, std::vector<QString>{"root "});
    // The menu's update check says there is no network, asking nobody.
    modal.script.push_back([&](QWidget*) {
        VKCheckUpdateWindowController* controller = delegate->checkUpdateWindow();
        QSignalSpy done(controller, &VKCheckUpdateWindowController::checkFinished);
        EXPECT_TRUE(done.count() > 0 || done.wait(5000));
        EXPECT_EQ(controller->panel(), VKCheckUpdateWindowController::Panel::NoNetwork);
        controller->closeWindow();
        return 0;
    });
    delegate->applicationMenu();
    delegate->menuItem("checkUpdate")->trigger();
    EXPECT_EQ(modal.shown.size(), 1u);
    EXPECT_EQ(events, std::vector<QString>{"root "}) << "the main window opens once";
    EXPECT_TRUE(asked.empty()) << asked.size() << " requests, first "
                               << asked.front().toString().toStdString();
}

TEST_F(DelegateTest, TheMainWindowOpensOnceWithTheResultFileToOpen) {
    UserDefaults::standard().setValue("rsfPath", "/home/u/scan.Velmora");
    auto delegate = MakeDelegate();
    delegate->runRootWindow();
    delegate->runRootWindow();
    EXPECT_EQ(events, std::vector<QString>{"root /home/u/scan.Velmora"});
    ASSERT_NE(delegate->rootWindow(), nullptr);
    EXPECT_TRUE(delegate->rootWindow()->isVisible());
}

TEST_F(DelegateTest, QuittingAsksOnlyWhileAScanRunsAndNoResumesIt) {
    struct Case {
        const char* what;
        bool running, pausedByUser;
        int answer;  // -2: no question expected
        bool closes, pausedAfter;
    } cases[] = {
        {"no scan", false, false, -2, true, false},
        {"scan, yes", true, false, 1, true, true},
        {"scan, no", true, false, 0, false, false},
        {"scan paused by the user, no", true, true, 0, false, false},
        {"scan paused by the user, yes", true, true, 1, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        scan = FakeScan{};
        scan.running = c.running;
        scan.paused = c.pausedByUser;
        events.clear();
        auto delegate = MakeDelegate();
        delegate->applicationDidFinishLaunching();
        std::vector<QString> posted;
        QObject observer;
        NotificationCenter::defaultCenter().addObserver(
            &observer, "ExportRSFFile", [&](const Notification& n) { posted.push_back(n.name); });
        if (c.answer != -2)
            alerts.answers.push_back(c.answer);

        delegate->applicationMenu();
        delegate->menuItem("exit")->trigger();
        if (c.running) {
            EXPECT_TRUE(scan.paused) << "paused while the question is open";
            EXPECT_TRUE(std::find(events.begin(), events.end(), "closeApp") == events.end());
        }
        QTest::qWait(0);

        const bool closed = std::find(events.begin(), events.end(), "closeApp") != events.end();
        EXPECT_EQ(closed, c.closes);
        EXPECT_EQ(scan.paused, c.pausedAfter);
        EXPECT_EQ(alerts.shown.size(), c.answer == -2 ? 0u : 1u) << "one question at most";
        EXPECT_EQ(posted.size(), c.running ? 0u : 1u);
        if (!alerts.shown.empty()) {
            EXPECT_EQ(alerts.shown[0].message,
                      velmora::ui::texts::Text("PLX_FOUR_SCAN_STOP_TITLE"));
            EXPECT_EQ(alerts.shown[0].defaultButton,
                      velmora::ui::texts::Text("PLX_FOUR_SCAN_STOP_YES_BUTTON"));
            EXPECT_FALSE(alerts.shown[0].icon.isNull());
        }
        EXPECT_EQ(alerts.unscripted, 0);
    }
}

TEST_F(DelegateTest, AppWillTerminateEndsWithoutAskingAndTitlesAreReposted) {
    scan.running = true;
    auto delegate = MakeDelegate();
    delegate->applicationDidFinishLaunching();
    QTest::qWait(0);
    int titles = 0;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(&observer, "ChangeWindowTitle",
                                                    [&](const Notification&) { ++titles; });
    NotificationCenter::defaultCenter().post("ChangeAllWindowTitle");
    EXPECT_EQ(titles, 1);
    NotificationCenter::defaultCenter().post("appWillTerminate");
    EXPECT_EQ(events.back(), "closeApp");
    EXPECT_TRUE(alerts.shown.empty());
    EXPECT_FALSE(delegate->rootWindow()->isVisible());
    // Gone from the centre: a second post reaches nobody.
    NotificationCenter::defaultCenter().post("appWillTerminate");
    EXPECT_EQ(std::count(events.begin(), events.end(), "closeApp"), 1);
}

TEST_F(DelegateTest, MenusCarryTheirKeysTextsAndLinksOpenThroughTheWorkspace) {
    velmora::ui::PrivateSettings::shared().setValue(
        "en", QVariantMap{{"OnlineHelp", "https://help.example/"},
                          {"SupportTeam", "https://support.example/"},
                          {"Translate", ""}});
    UserDefaults::standard().setValue("Participate", true);
    auto delegate = MakeDelegate();
    delegate->applicationMenu();
    namespace texts = velmora::ui::texts;
    EXPECT_EQ(delegate->menuItem("about")->text(),
              texts::Format("MENU_ABOUT_NAME", {texts::Text("WINDOW_TOP_TITLE")}));
    for (const auto& [outlet, key] : {std::pair{"checkUpdate", "MENU_CHECK_UPDTE"},
                                      {"exit", "MENU_EXIT"},
                                      {"onlineHelp", "MENU_ONLINE_HELP"},
                                      {"supportCenter", "MENU_SUPPORT_CENTER"},
                                      {"minimize", "MENU_MINIMIZE"},
                                      {"participate", "MENU_PARTICIPATE"}}) {
        EXPECT_EQ(delegate->menuItem(outlet)->text(), texts::Text(key)) << outlet;
        EXPECT_NE(texts::Text(key), key) << "no English text for " << key;
    }
    EXPECT_TRUE(delegate->menuItem("pInCustomer")->isChecked());

    delegate->menuItem("pInCustomer")->trigger();
    EXPECT_FALSE(UserDefaults::standard().boolValue("Participate", true));
    delegate->menuItem("pInCustomer")->trigger();
    EXPECT_TRUE(UserDefaults::standard().boolValue("Participate", false));

    delegate->menuItem("onlineHelp")->trigger();
    delegate->contactUSAction();
    delegate->menuItem("supportCenter")->trigger();
    delegate->helpTranslate();  // no address: nothing opens
    EXPECT_EQ(workspace.urls,
              (std::vector<std::string>{"https://help.example/", "https://help.example/",
                                        "https://support.example/"}));
}

// The windows draw their own title bars: the menu is reached by a button
// there. It opens the delegate's menu with the application's items in
// order, every item does its work, Quit asks while a scan runs, and the
// key equivalents work in the window holding the button.
TEST_F(DelegateTest, TheTitleBarButtonOpensTheApplicationMenuAndItsKeysWork) {
    velmora::ui::PrivateSettings::shared().setValue(
        "en", QVariantMap{{"OnlineHelp", "https://help.example/"},
                          {"SupportTeam", "https://support.example/"}});
    auto delegate = MakeDelegate();
    TCImageWindow window;
    window.resize(400, 200);
    auto* button = new ApplicationMenuButton(QRect(370, 10, 16, 16), window.titleBarView(),
                                             [&] { return delegate->applicationMenu(); });
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(button->isVisible());

    QMenu* menu = delegate->applicationMenu();
    QStringList order;
    for (QAction* item : menu->actions())
        order << (item->isSeparator() ? "-"
                  : item->menu()      ? item->menu()->objectName()
                                      : item->objectName());
    EXPECT_EQ(order,
              QStringList({"about", "checkUpdate", "participate", "-", "hideSelf", "hideOther",
                           "showAll", "-", "windowMenu", "helpMenu", "-", "exit"}));
    EXPECT_EQ(delegate->submenu("aWindow")->title(), velmora::ui::texts::Text("MENU_WINDOW"));
    EXPECT_EQ(delegate->submenu("help")->title(), velmora::ui::texts::Text("MENU_HELP"));
    // Every title is a text, never a key.
    for (QMenu* m : {menu, delegate->submenu("aWindow"), delegate->submenu("help")})
        for (QAction* item : m->actions())
            if (!item->isSeparator())
                EXPECT_FALSE(item->text().isEmpty() || item->text().startsWith("MENU_"))
                    << item->objectName().toStdString();

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == menu; }, 2000));
    menu->hide();

    // Each item does what it says.
    modal.script.push_back([&](QWidget* about) {
        EXPECT_EQ(about->objectName(), "AboutWindow");
        return 0;
    });
    delegate->menuItem("about")->trigger();
    modal.script.push_back([&](QWidget*) {
        VKCheckUpdateWindowController* controller = delegate->checkUpdateWindow();
        QSignalSpy done(controller, &VKCheckUpdateWindowController::checkFinished);
        EXPECT_TRUE(done.count() > 0 || done.wait(5000));
        controller->closeWindow();
        return 0;
    });
    delegate->menuItem("checkUpdate")->trigger();
    EXPECT_EQ(modal.shown.size(), 2u) << "About, then the update window";
    delegate->menuItem("participate")->trigger();
    EXPECT_TRUE(UserDefaults::standard().boolValue("Participate", false));
    delegate->menuItem("onlineHelp")->trigger();
    delegate->menuItem("supportCenter")->trigger();
    EXPECT_EQ(workspace.urls,
              (std::vector<std::string>{"https://help.example/", "https://support.example/"}));
    // Quit during a scan asks first; no keeps the program and its scan.
    scan.running = true;
    alerts.answers.push_back(0);
    delegate->menuItem("exit")->trigger();
    QTest::qWait(0);
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, velmora::ui::texts::Text("PLX_FOUR_SCAN_STOP_TITLE"));
    EXPECT_FALSE(scan.paused);
    EXPECT_EQ(std::count(events.begin(), events.end(), "closeApp"), 0);

    // The key equivalents, typed into the window with the button.
    EXPECT_EQ(delegate->menuItem("exit")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(delegate->menuItem("onlineHelp")->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(delegate->menuItem("minimize")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    EXPECT_EQ(delegate->menuItem("hideSelf")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_EQ(workspace.urls.size(), 3u) << "F1 opens the online help";
    alerts.answers.push_back(0);
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QTest::qWait(0);
    EXPECT_EQ(alerts.shown.size(), 2u) << "Ctrl+Q asks as the Quit item does";
    scan.running = false;
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QTest::qWait(0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "closeApp"), 1);
    EXPECT_EQ(alerts.unscripted, 0);
    EXPECT_EQ(modal.unscripted, 0);
}

// Without a menu (a window made by a test, say) there is no button.
TEST(ApplicationMenuButtonTest, NoMenuNoButton) {
    QWidget bar;
    ApplicationMenuButton button(QRect(0, 0, 16, 16), &bar, [] { return nullptr; });
    bar.show();
    EXPECT_FALSE(button.isVisible());
    button.popupMenu();  // nothing to open, nothing happens
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(DelegateTest, DiskCallbacksPostOneDictionaryPerArrival) {
    using velmora::platform::BlockDeviceEvent;
    auto delegate = MakeDelegate();
    std::vector<std::pair<QString, QVariant>> posted;
    QObject observer;
    for (const char* name : {"RefreshAttachDevice", "RefreshDetachDevice"})
        NotificationCenter::defaultCenter().addObserver(&observer, name,
                                                        [&](const Notification& n) {
                                                            posted.push_back({n.name, n.object});
                                                        });
    delegate->diskEvent({BlockDeviceEvent::Kind::Appeared, "add", "sdz", "disk", 1u << 20});
    delegate->diskEvent({BlockDeviceEvent::Kind::Appeared, "add", "sdz1", "partition", 4096});
    delegate->diskEvent({BlockDeviceEvent::Kind::Gone, "remove", "sdz", "disk", 0});
    ASSERT_EQ(posted.size(), 3u);
    const QVariantMap disk = posted[0].second.toList().value(0).toMap();
    EXPECT_EQ(posted[0].second.toList().size(), 1);
    EXPECT_EQ(disk.value("VolumePath").toString(), "/dev/sdz");
    EXPECT_EQ(disk.value("VolumeSize").toULongLong(), 1u << 20);
    EXPECT_TRUE(disk.value("isDisk").toBool());
    EXPECT_TRUE(disk.contains("VolumeName"));
    const QVariantMap volume = posted[1].second.toList().value(0).toMap();
    EXPECT_EQ(volume.value("VolumePath").toString(), "/dev/sdz1");
    EXPECT_FALSE(volume.value("isDisk").toBool());
    EXPECT_EQ(posted[2].first, "RefreshDetachDevice");
    // Named as the results browser knows the disk of its scan.
    EXPECT_EQ(posted[2].second.toMap().value("USBPath").toString(), "sdz");
}

TEST_F(DelegateTest, ALoopDeviceAppearingAndGoingIsPosted) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "attaching a loop device needs root";
    auto delegate = MakeDelegate(true);
    delegate->applicationDidFinishLaunching();
    if (!delegate->isWatchingDevices())
        GTEST_SKIP() << "no device events can be received here";
    std::vector<std::pair<QString, QVariantMap>> posted;
    QObject observer;
    for (const char* name : {"RefreshAttachDevice", "RefreshDetachDevice"})
        NotificationCenter::defaultCenter().addObserver(
            &observer, name, [&](const Notification& n) {
                posted.push_back({n.name, n.object.toList().value(0).toMap()});
            });

    velmora::test::TempDir dir;
    velmora::test::WriteFile(dir / "disk.img", std::vector<uint8_t>(4 << 20, 0));
    std::string device;
    if (!velmora::test::RunProgram({"losetup", "-f", "--show", dir / "disk.img"}, &device))
        GTEST_SKIP() << "no loop device could be attached here";
    device = device.substr(0, device.find('\n'));
    const QString path = QString::fromStdString(device);
    auto attached = [&] {
        for (const auto& [name, info] : posted)
            if (name == "RefreshAttachDevice" && info.value("VolumePath") == path)
                return true;
        return false;
    };
    const bool appeared = QTest::qWaitFor(attached, 20000);
    const size_t before = posted.size();
    velmora::test::RunProgram({"losetup", "-d", device});
    ASSERT_TRUE(appeared) << device << " attached but nothing was posted";
    for (const auto& [name, info] : posted) {
        if (name == "RefreshAttachDevice" && info.value("VolumePath") == path) {
            EXPECT_TRUE(info.value("isDisk").toBool());
            EXPECT_EQ(info.value("VolumeSize").toULongLong(), 4u << 20);
        }
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (size_t i = before; i < posted.size(); ++i)
                if (posted[i].first == "RefreshDetachDevice")
                    return true;
            return false;
        },
        20000))
        << device << " detached unseen";
}
