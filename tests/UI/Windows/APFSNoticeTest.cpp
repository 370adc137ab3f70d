#include "Windows/APFSScanWindowController.h"

#include <QLabel>
#include <QPushButton>

#include "UIPlatform/Texts.h"
#include "Widgets/VKHandButton.h"
#include "WindowTestSupport.h"
#include "platform/desktop/Workspace.h"

namespace velmora::windows {
namespace {

using testing::Pump;

class APFSNoticeTest : public testing::WindowTest {
protected:
    platform::RecordingWorkspace workspace;
};

// OK, the close button, Escape and Return on the focused OK end the run.
TEST_F(APFSNoticeTest, OkAndTheCloseButtonEndTheModalRun) {
    for (const char* how : {"ok", "close", "escape", "return"}) {
        SCOPED_TRACE(how);
        APFSScanWindowController notice(&workspace);
        bool ended = false;
        modal.script.push_back([&](QWidget* window) {
            Pump();  // the fade-in ends at 1 and closes nothing
            EXPECT_TRUE(window->isVisible());
            const std::string way = how;
            QWidget* focused = window->focusWidget() ? window->focusWidget() : window;
            if (way == "ok")
                notice.okButton()->click();
            else if (way == "escape")
                QTest::keyClick(focused, Qt::Key_Escape);
            else if (way == "return")
                QTest::keyClick(focused, Qt::Key_Return);
            else
                window->close();
            ended = !window->isVisible();
            return 99;
        });
        notice.runModal();
        EXPECT_TRUE(ended);
        EXPECT_EQ(modal.shown.back(), "APFSScanWindowController");
    }
    EXPECT_EQ(modal.unscripted, 0);
}

TEST_F(APFSNoticeTest, TheHelpLinkOpensItsAddressOrNothing) {
    const struct {
        const char* address;
        std::vector<std::string> opened;
    } cases[] = {{"https://example.org/apfs", {"https://example.org/apfs"}}, {"", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        workspace.urls.clear();
        APFSScanWindowController notice(&workspace);
        notice.setLinkResolver([&](const QString& key) {
            EXPECT_EQ(key, "APFS_HELP_URL");
            return QString::fromLatin1(c.address);
        });
        notice.linkButton()->click();
        EXPECT_EQ(workspace.urls, c.opened);
    }
}

TEST_F(APFSNoticeTest, QuittingWhileOpenFadesOutThenEndsTheRun) {
    APFSScanWindowController notice(&workspace);
    bool firstAnswer = true;
    modal.script.push_back([&](QWidget* window) {
        Pump();
        firstAnswer = notice.applicationShouldTerminate();
        Pump();  // the fade to 0 ends the run and closes the window
        EXPECT_FALSE(window->isVisible());
        return 0;
    });
    notice.runModal();
    EXPECT_FALSE(firstAnswer);
    EXPECT_TRUE(notice.shuttingDown());
    EXPECT_TRUE(notice.applicationShouldTerminate());
}

TEST_F(APFSNoticeTest, ItsTextsComeFromTheTable) {
    APFSScanWindowController notice(&workspace);
    EXPECT_EQ(notice.titleLabel()->text(), ui::texts::Text("WINDOW_TOP_TITLE"));
    for (auto* label : notice.window()->findChildren<QLabel*>())
        EXPECT_FALSE(label->text().startsWith("PLX_")) << label->text().toStdString();
    EXPECT_FALSE(notice.linkButton()->text().startsWith("PLX_"));
}

}  // namespace
}  // namespace velmora::windows
