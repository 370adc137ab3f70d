// The wizard walked as a user walks it, in the real program on an X server
// of the test's own: the scan-mode page, the disk page with a fixture image
// attached read-only to a loop device, and the scan started on its volume,
// up to where the results browser takes over. Needs root (loop devices).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <sstream>
#include <string>

#include "RealProgram.h"
#include "support/TestSupport.h"

namespace velmora::e2e {
namespace {

TEST(WizardWalk, ModeDiskAndScanStartOnALoopAttachedFixture) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const Fixture& fixture = Fat16Fixture();
    VELMORA_REQUIRE_FIXTURE(fixture);
    const std::string before = Sha256Of(fixture.image);
    VELMORA_ATTACH_LOOP(loop, fixture.image);

    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();

    // The scan-mode page; its lower-left button goes on to the disks.
    ASSERT_TRUE(walk.WaitVisible("TypeXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                            << program.Output();
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("wizard_mode_page")).rfind("ok ", 0), 0u);
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");

    // The disk page lists the attached image's volume by its label.
    ASSERT_TRUE(walk.WaitVisible("ListDiskXib", Millis(60000))) << program.Output();
    std::string rows, row;
    EXPECT_TRUE(WaitUntil(
        [&] {
            rows = walk.Ask("rows outlineView");
            row = RowMentioning(rows, "VOL16");
            return !row.empty();
        },
        Millis(60000)))
        << "no row names the fixture's volume VOL16 on " << loop.node() << ":\n"
        << rows;
    ASSERT_FALSE(row.empty());
    // A loop disk has no model: it is listed as untitled, never by a key.
    EXPECT_EQ(rows.find("DEVICE_NAME_"), std::string::npos) << rows;
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("wizard_disk_page_start")).rfind("ok ", 0), 0u);

    // Back to the mode page (the scan button goes) and on again.
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    EXPECT_TRUE(walk.WaitGone("continueButton", Millis(20000))) << walk.Ask("find continueButton");
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("continueButton", Millis(60000))) << program.Output();
    EXPECT_TRUE(WaitUntil(
        [&] { return RowMentioning(rows = walk.Ask("rows outlineView"), "VOL16") == row; },
        Millis(60000)))
        << rows;

    ASSERT_EQ(walk.Ask("clickrow outlineView " + row), "ok");
    // The scan button's own state is not the widget's enabled flag: whether
    // the choice took is seen from what the click on it does below.
    ASSERT_TRUE(walk.WaitVisible("continueButton", Millis(20000)));
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("wizard_disk_page")).rfind("ok ", 0), 0u);

    // The scan starts: the main window makes way for the results browser.
    ASSERT_EQ(walk.Ask("click continueButton"), "ok");
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::string answer = walk.Ask("find MainXib", Millis(5000));
            return answer == "none" || answer.rfind("ok 0 ", 0) == 0 ||
                   answer.rfind("error no answer", 0) == 0;
        },
        Millis(60000)))
        << walk.Ask("windows") << "\n"
        << program.Output();
    // The results browser takes its place.
    EXPECT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                  << program.Output();
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath("browser_after_scan")).rfind("ok ", 0), 0u);

    // Quitting closes the results browser, which asks first: to stop a scan
    // still running (yes), then whether to save what was found (leave).
    run.QuitCleanly();
    EXPECT_EQ(Sha256Of(fixture.image), before) << "the scanned image changed";
}

// The application menu as a user reaches it: the button at the title bar's
// right end opens it with every item named in words and its key
// equivalents; Escape closes it and Ctrl+Q quits the program (no scan runs,
// so nothing is asked).
TEST(WizardWalk, ApplicationMenuFromTheTitleBarButton) {
    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    ASSERT_TRUE(walk.WaitVisible("TypeXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                            << program.Output();
    ASSERT_TRUE(walk.WaitVisible("menuButton", Millis(20000))) << walk.Ask("windows");
    ASSERT_EQ(walk.Ask("userclick menuButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("applicationMenu", Millis(20000))) << walk.Ask("windows");
    EXPECT_NE(walk.Ask("state").find("popup=applicationMenu"), std::string::npos)
        << walk.Ask("state");

    const std::string items = walk.Ask("items applicationMenu");
    for (const char* expected : {"About Velmora", "Check for Updates", "Online Help\tF1",
                                 "Support Center", "Quit Velmora\tCtrl+Q", "Minimize\tCtrl+M"}) {
        EXPECT_NE(items.find(expected), std::string::npos) << expected << " in " << items;
    }
    EXPECT_EQ(items.find("MENU_"), std::string::npos) << items;
    const std::string shot = ShotPath("application_menu");
    EXPECT_EQ(walk.Ask("screen MainXib " + shot).rfind("ok ", 0), 0u);

    ASSERT_EQ(walk.Ask("key applicationMenu Escape"), "ok");
    EXPECT_TRUE(walk.WaitGone("applicationMenu", Millis(20000)));
    ASSERT_EQ(walk.Ask("key @focus Ctrl+Q"), "ok");
    const std::optional<int> status = program.WaitExit(Millis(60000));
    ASSERT_TRUE(status.has_value()) << "Ctrl+Q did not quit: " << walk.Ask("windows");
    EXPECT_EQ(*status, 0) << program.Output();
}

}  // namespace
}  // namespace velmora::e2e
