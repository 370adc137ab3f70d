// A picture of the progress window while a saved result loads, for a person
// to look at; the test checks that it shows the load's own texts and bar,
// no raw key and no placeholder picture.
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>

#include "Resources/ImageRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Texts.h"
#include "WindowTestSupport.h"
#include "Windows/VKProgressWindow.h"

namespace velmora::windows {
namespace {

using testing::Pump;

class LoadProgressShotTest : public testing::WindowTest {};

TEST_F(LoadProgressShotTest, PictureOfALoadUnderWay) {
    VKProgressWindow window(QStringLiteral("QueryProgressInfo"), false);
    bridge.saveTotal = 100;
    bridge.saveCurrent = 60;
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("QueryProgressInfo"));
    window.window()->show();
    Pump();
    EXPECT_EQ(window.titleLabel()->text(), ui::texts::Text(QStringLiteral("LOAD_SCAN_RESULT")));
    EXPECT_EQ(window.progress()->value(), 60);
    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    EXPECT_TRUE(window.window()->grab().save(
        QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/progress_window_load.png")));
    for (auto* label : window.window()->findChildren<QLabel*>()) {
        if (label->isVisibleTo(window.window())) {
            EXPECT_FALSE(label->text().contains(QRegularExpression("^[A-Z_]+$")))
                << label->text().toStdString();
        }
    }
    EXPECT_TRUE(ui::ImageRegistry::PlaceholderNamesAsked().isEmpty())
        << ui::ImageRegistry::PlaceholderNamesAsked().join(", ").toStdString();
}

}  // namespace
}  // namespace velmora::windows
