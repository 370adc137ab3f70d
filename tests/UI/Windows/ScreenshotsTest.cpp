// Pictures of the wizard and the notice for a person to look at; the test
// checks only that nothing drawn is a placeholder or a raw key.
#include <QDir>
#include <QLabel>

#include "Resources/ImageRegistry.h"
#include "WindowTestSupport.h"
#include "Windows/APFSScanWindowController.h"
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

class ScreenshotsTest : public testing::WindowTest {};

TEST_F(ScreenshotsTest, TypePageDiskPageAndNotice) {
    bridge.devices = {
        FakeBridge::Disk("Samsung SSD 860 EVO", 500'107'862'016,
                         {FakeBridge::Volume("EFI", 209'715'200, 2),
                          FakeBridge::Volume("Windows", 499'000'000'000, 3)}),
        FakeBridge::Disk("SanDisk Cruzer", 16'008'609'792,
                         {FakeBridge::Volume("STICK", 16'000'000'000, 7)}),
    };
    VKRootWindowController controller;
    ASSERT_TRUE(controller.windowDidLoad());
    controller.showWindow();
    Pump();
    Save(controller.window(), QStringLiteral("type_page.png"));

    controller.selectTypeVC()->nextButtonAction();
    Pump();
    ASSERT_TRUE(controller.selectDiskVC());
    Save(controller.window(), QStringLiteral("disk_page.png"));

    APFSScanWindowController notice;
    notice.window()->show();
    Pump();
    Save(notice.window(), QStringLiteral("apfs_notice.png"));
    EXPECT_TRUE(ui::ImageRegistry::PlaceholderNamesAsked().isEmpty())
        << ui::ImageRegistry::PlaceholderNamesAsked().join(", ").toStdString();
}

}  // namespace
}  // namespace velmora::windows
