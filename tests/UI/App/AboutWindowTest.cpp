// The About window: its link opens the About page through the workspace
// (as the invoking user) and hides without an address; closing ends its
// modal run.
#include <QLabel>
#include <QPushButton>

#include "ShellFixture.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Texts.h"
#include "VKAboutWindowController.h"
#include "platform/desktop/Workspace.h"

namespace {

class AboutWindowTest : public ShellTest {};

TEST_F(AboutWindowTest, TheLinkOpensTheAboutPageOrIsNotThere) {
    const struct {
        const char* what;
        QString address;
        bool shown;
    } cases[] = {
        {"no address", QString(), false},
        {"an address", QStringLiteral("https://127.0.0.1/about"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        velmora::ui::PrivateSettings::shared().setValue("en", QVariantMap{{"AboutURL", c.address}});
        velmora::platform::RecordingWorkspace workspace;
        VKAboutWindowController about(&workspace);
        EXPECT_EQ(about.titleLabel()->text(),
                  velmora::ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")));
        EXPECT_EQ(!about.aboutLink()->isHidden(), c.shown);
        about.aboutLink()->click();
        EXPECT_EQ(workspace.urls, c.shown ? std::vector<std::string>{c.address.toStdString()}
                                          : std::vector<std::string>{});
    }
}

TEST_F(AboutWindowTest, ItsCloseButtonEndsTheModalRun) {
    VKAboutWindowController about(nullptr);
    bool ended = false;
    modal.script.push_back([&](QWidget* window) {
        EXPECT_EQ(window, about.window());
        about.window()->buttonToLayout(TCImageWindow::ButtonKind::Close)->click();
        ended = !velmora::ui::Modal().IsRunning(window);
        return 7;
    });
    about.runModal();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(about.window()->isVisible());
    EXPECT_EQ(modal.unscripted, 0);
}

}  // namespace
