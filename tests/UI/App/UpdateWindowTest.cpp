// The update check window: its panels, the feature list, the links and the
// close actions; a screenshot of the update panel for looking at.
#include "VKCheckUpdateWindowController.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "Resources/FontRegistry.h"
#include "ShellFixture.h"
#include "TopView/TCImageWindow.h"
#include "platform/desktop/Workspace.h"

using Panel = VKCheckUpdateWindowController::Panel;
using velmora::ui::PrivateSettings;

namespace {

class CountingDelegate : public VKUpdateWindowDelegate {
public:
    int roots = 0;
    void runRootWindow() override { ++roots; }
};

class UpdateWindowTest : public ShellTest {
protected:
    // Loads the window and waits for its own check.
    Panel Check(VKCheckUpdateWindowController& controller) {
        QSignalSpy done(&controller, &VKCheckUpdateWindowController::checkFinished);
        controller.window();
        EXPECT_TRUE(done.wait(15000)) << "the check never ended";
        return controller.panel();
    }
    velmora::platform::RecordingWorkspace workspace;
};

QList<QLabel*> FeatureLines(const VKCheckUpdateWindowController& controller) {
    QList<QLabel*> lines;
    for (int i = 1;; ++i) {
        auto* line = controller.showVersionScrollView()->findChild<QLabel*>(
            QStringLiteral("feature%1").arg(i), Qt::FindDirectChildrenOnly);
        if (!line)
            return lines;
        lines << line;
    }
}

}  // namespace

TEST_F(UpdateWindowTest, TheCheckChoosesItsPanel) {
    PrivateSettings::shared().setValue("VersionCheck", 11);
    struct Case {
        const char* what;
        QByteArray response;
        bool closedPort;
        Panel panel;
    } cases[] = {
        {"newer, as a string", Http(200, UpdatePlist("<string>12</string>")), false,
         Panel::HaveUpdate},
        {"equal", Http(200, UpdatePlist("<integer>11</integer>")), false, Panel::NoUpdate},
        {"not a property list", Http(200, "{\"VersionCheck\": 99}"), false, Panel::NoUpdate},
        {"nobody listens", QByteArray(), true, Panel::NoNetwork},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackServer server(c.response);
        SetLinks(c.closedPort ? QString("http://127.0.0.1:%1/").arg(ClosedPort())
                              : server.Url("/update.plist"));
        VKCheckUpdateWindowController controller(&workspace);
        EXPECT_EQ(controller.panel(), Panel::Checking);
        EXPECT_EQ(Check(controller), c.panel);
        for (const char* outlet :
             {"checkProgressView", "noNetworkView", "noUpdateView", "haveUpdateView"}) {
            const bool shown = !controller.window()->findChild<QWidget*>(outlet)->isHidden();
            const char* expected = c.panel == Panel::HaveUpdate ? "haveUpdateView"
                                   : c.panel == Panel::NoUpdate ? "noUpdateView"
                                                                : "noNetworkView";
            EXPECT_EQ(shown, QString(outlet) == expected) << outlet;
        }
    }
}

TEST_F(UpdateWindowTest, FeatureLinesRunTopDownAtTheirWrappedHeights) {
    VKCheckUpdateWindowController controller(&workspace);
    controller.window();
    const QString longLine =
        "Deep scans of large disks keep going past unreadable sectors and say which ranges "
        "could not be read, instead of stopping at the first one they meet on the way.";
    controller.whatIsNewVersionDiff(QVariantMap{
        {"VersionCheck", 2}, {"Version", "2.0"}, {"1", "Faster scans"}, {"2", longLine}});
    ASSERT_EQ(controller.panel(), Panel::HaveUpdate);
    EXPECT_EQ(controller.titleLable()->text(), "Velmora 2.0 has been released.");
    EXPECT_EQ(controller.versionLabel()->text(), "New features of Version 2.0:");

    const QFont measure = velmora::ui::FontRegistry::SystemFont(10);
    const qreal longHeight =
        VKCheckUpdateWindowController::heightForStringDrawing(longLine, measure, 200);
    ASSERT_GT(longHeight, 25) << "the long line wraps";
    const QList<QLabel*> lines = FeatureLines(controller);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0]->text(), "1.Faster scans");
    EXPECT_EQ(lines[0]->toolTip(), "Faster scans");
    EXPECT_EQ(lines[0]->geometry().top(), 0) << "line 1 on top";
    EXPECT_EQ(lines[0]->height(), 25);
    EXPECT_EQ(lines[1]->geometry().top(), 25);
    EXPECT_EQ(lines[1]->height(), qRound(longHeight));
    EXPECT_EQ(lines[1]->width(), 380);
    const int listHeight = controller.showVersionScrollView()->height();
    EXPECT_EQ(listHeight, std::max(99, static_cast<int>(30 + longHeight)));

    // Only the number and the name: an empty list, 99 high; a new check
    // leaves no lines of the old one behind.
    controller.whatIsNewVersionDiff(QVariantMap{{"VersionCheck", "3"}, {"Version", "3.0"}});
    EXPECT_TRUE(FeatureLines(controller).isEmpty());
    EXPECT_EQ(controller.showVersionScrollView()->height(), 99);
}

TEST_F(UpdateWindowTest, ClosingTellsTheDelegateAndTheLinkOpensTheDownloadPage) {
    SetLinks(QString(), "https://example.invalid/download");
    CountingDelegate delegate;
    VKCheckUpdateWindowController controller(&workspace);
    controller.setDelegate(&delegate);
    EXPECT_EQ(Check(controller), Panel::NoNetwork) << "no address: no network";
    controller.window()->show();
    // The title bar's close button and a panel's close button end the same way.
    controller.window()->close();
    EXPECT_EQ(delegate.roots, 1);
    EXPECT_TRUE(controller.window()->isHidden());
    controller.window()
        ->findChild<QWidget*>("noNetworkView")
        ->findChild<QPushButton*>("closeButton")
        ->click();
    EXPECT_EQ(delegate.roots, 2);

    controller.whatIsNewVersionDiff(QVariantMap{{"VersionCheck", 5}, {"Version", "5"}});
    controller.window()->findChild<QPushButton*>("updateClickHere")->click();
    EXPECT_EQ(workspace.urls, std::vector<std::string>{"https://example.invalid/download"});
    SetLinks(QString());
    controller.updateClickHereAction();
    EXPECT_EQ(workspace.urls.size(), 1u) << "no address: nothing opens";
}

TEST_F(UpdateWindowTest, UpdatePanelScreenshot) {
    VKCheckUpdateWindowController controller(&workspace);
    controller.window()->show();
    QDir().mkpath(VELMORA_SCREENSHOT_DIR);
    EXPECT_TRUE(controller.window()->grab().save(VELMORA_SCREENSHOT_DIR "/update_checking.png"));
    controller.whatIsNewVersionDiff(
        QVariantMap{{"VersionCheck", 2},
                    {"Version", "0.2.0"},
                    {"1", "Deep scans go on past unreadable sectors and list them."},
                    {"2", "Result files load faster."},
                    {"3",
                     "The disk list shows disks as they are attached, without a restart, and keeps "
                     "the chosen row."}});
    const QImage shot = controller.window()->grab().toImage();
    EXPECT_EQ(shot.size(),
              QSize(VKCheckUpdateWindowController::kWidth, VKCheckUpdateWindowController::kHeight));
    EXPECT_TRUE(shot.save(VELMORA_SCREENSHOT_DIR "/update_window.png"));
}
