// A picture of the About window with its link, for a person to look at; the
// test checks that no raw key and no placeholder picture is drawn.
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "Resources/ImageRegistry.h"
#include "ShellFixture.h"
#include "TopView/TCImageWindow.h"
#include "VKAboutWindowController.h"
#include "platform/desktop/Workspace.h"

namespace {

class AboutShotTest : public ShellTest {};

TEST_F(AboutShotTest, PictureOfTheAboutWindow) {
    velmora::ui::PrivateSettings::shared().setValue(
        "en", QVariantMap{{"AboutURL", QStringLiteral("https://127.0.0.1/about")}});
    velmora::platform::RecordingWorkspace workspace;
    VKAboutWindowController about(&workspace);
    about.window()->show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QDir().mkpath(VELMORA_SCREENSHOT_DIR);
    EXPECT_TRUE(about.window()->grab().save(VELMORA_SCREENSHOT_DIR "/about.png"));
    for (auto* label : about.window()->findChildren<QLabel*>()) {
        if (label->isVisibleTo(about.window()))
            EXPECT_FALSE(label->text().contains(QRegularExpression("^[A-Z_]+$")))
                << label->text().toStdString();
    }
    for (auto* button : about.window()->findChildren<QPushButton*>()) {
        if (button->isVisibleTo(about.window()))
            EXPECT_FALSE(button->text().contains(QRegularExpression("^[A-Z_]+$")))
                << button->text().toStdString();
    }
    EXPECT_TRUE(velmora::ui::ImageRegistry::PlaceholderNamesAsked().isEmpty())
        << velmora::ui::ImageRegistry::PlaceholderNamesAsked().join(", ").toStdString();
    about.window()->hide();
}

}  // namespace
