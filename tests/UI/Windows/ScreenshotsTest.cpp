// Pictures of the wizard and the notice for a person to look at; the test
// checks only that nothing drawn is a placeholder or a raw key.
#include <QDir>
#include <QLabel>

#include "Resources/ImageRegistry.h"
#include "WindowTestSupport.h"
#include "Windows/APFSScanWindowController.h"
#include "Windows/InterfaceTexts.h"
#include "Windows/VKRootWindowController.h"

namespace velmora::windows {
namespace {

using seam::FakeBridge;
using testing::Pump;

void Save(QWidget* window, const QString& name) {
    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    const QPixmap shot = window->grab();
    EXPECT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/") + name));
    for (auto* label : window->findChildren<QLabel*>()) {
        if (label->isVisibleTo(window)) {
            EXPECT_FALSE(label->text().contains(QRegularExpression("^[A-Z_]+$")))
                << label->text().toStdString();
        }
    }
}

class ScreenshotsTest : public testing::WindowTest {
protected:
    void TearDown() override {
        bridge::InstallTextCatalog(nullptr);
        testing::WindowTest::TearDown();
    }
};

TEST_F(ScreenshotsTest, TypePageDiskPageAndNotice) {
    VKRootWindowController controller;
    // The rows are made once the window is there, as the bridge makes them;
    // the loop disk has no name of its own.
    bridge.devices = {
        FakeBridge::Disk("Samsung SSD 860 EVO", 500'107'862'016,
                         {FakeBridge::Volume("EFI", 209'715'200, 2),
                          FakeBridge::Volume("Windows", 499'000'000'000, 3)}),
        FakeBridge::Disk("SanDisk Cruzer", 16'008'609'792,
                         {FakeBridge::Volume("STICK", 16'000'000'000, 7)}),
        FakeBridge::Disk("", 67'108'864, {FakeBridge::Volume("DATA", 66'060'288, 7)}),
    };
    EXPECT_EQ(bridge.devices.back()->name(), "Untitled");
    ASSERT_TRUE(controller.windowDidLoad());
    controller.showWindow();
    Pump();
    const QSize full = controller.window()->size();
    // Asked to be smaller, the window keeps its pages whole (the buttons
    // that lead on sit at its lower edge and right side).
    const QSize small(640, 420);
    Save(controller.window(), QStringLiteral("type_page.png"));
    controller.window()->resize(small);
    Pump();
    EXPECT_EQ(controller.window()->size(), full);
    Save(controller.window(), QStringLiteral("type_page_small.png"));
    controller.window()->resize(full);
    Pump();

    controller.selectTypeVC()->nextButtonAction();
    Pump();
    ASSERT_TRUE(controller.selectDiskVC());
    Save(controller.window(), QStringLiteral("disk_page.png"));
    controller.window()->resize(small);
    Pump();
    Save(controller.window(), QStringLiteral("disk_page_small.png"));
    controller.window()->resize(full);
    Pump();

    APFSScanWindowController notice;
    notice.window()->show();
    Pump();
    Save(notice.window(), QStringLiteral("apfs_notice.png"));
    EXPECT_TRUE(ui::ImageRegistry::PlaceholderNamesAsked().isEmpty())
        << ui::ImageRegistry::PlaceholderNamesAsked().join(", ").toStdString();
}

}  // namespace
}  // namespace velmora::windows
