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

// A fixture image attached read-only to a loop device for the test's life.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image) {
        test::RunProgram({"losetup", "--find", "--show", "--read-only", image}, &node_);
        while (!node_.empty() && (node_.back() == '\n' || node_.back() == ' '))
            node_.pop_back();
    }
    ~LoopDevice() {
        if (!node_.empty())
            test::RunProgram({"losetup", "--detach", node_});
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& node() const { return node_; }

private:
    std::string node_;
};

// The row of the disk page's outline whose columns mention `text`: its path
// ("1/0"), or empty. The answer is "ok PATH=COL|COL ;; PATH=..." .
std::string RowMentioning(const std::string& rows, const std::string& text) {
    if (rows.rfind("ok ", 0) != 0)
        return {};
    std::string rest = rows.substr(3);
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find(" ;; ", start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string row = rest.substr(start, end - start);
        const size_t equals = row.find('=');
        if (equals != std::string::npos && row.find(text, equals) != std::string::npos)
            return row.substr(0, equals);
        start = end + 4;
    }
    return {};
}

std::string ImageHash(const std::string& path) {
    std::string out;
    test::RunProgram({"sha256sum", path}, &out);
    return out.substr(0, out.find(' '));
}

TEST(WizardWalk, ModeDiskAndScanStartOnALoopAttachedFixture) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const Installed& installed = InstalledPrograms();
    ASSERT_TRUE(installed.error.empty()) << installed.error;
    XServer x;
    VELMORA_REQUIRE_TOOL(!x.display().empty(), "Xvfb");
    const Fixture& fixture = Fat16Fixture();
    VELMORA_REQUIRE_FIXTURE(fixture);
    const std::string before = ImageHash(fixture.image);
    LoopDevice loop(fixture.image);
    ASSERT_FALSE(loop.node().empty()) << "losetup could not attach " << fixture.image;

    test::TempDir home;
    chmod(home.path().c_str(), 0755);
    const std::string socket = home / "walk.sock";
    Process program({installed.app, "en*loaderflag*"},
                    ProgramEnvironment(home.path(), x.display(), socket), home / "program");
    Walk walk(socket);
    ASSERT_TRUE(walk.Connect(Millis(60000))) << program.Output();

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
    walk.Ask("quit", Millis(5000));
    std::optional<int> status;
    for (int round = 0; round < 120 && !status; ++round) {
        if (walk.Ask("find alertOtherButton", Millis(2000)).rfind("ok 1 ", 0) == 0)
            walk.Ask("click alertOtherButton", Millis(2000));
        else if (walk.Ask("find alertDefaultButton", Millis(2000)).rfind("ok 1 ", 0) == 0)
            walk.Ask("click alertDefaultButton", Millis(2000));
        status = program.WaitExit(Millis(1000));
    }
    ASSERT_TRUE(status.has_value()) << "still running after quit\n" << program.Output();
    EXPECT_EQ(*status, 0) << program.Output();
    EXPECT_EQ(ImageHash(fixture.image), before) << "the scanned image changed";
}

}  // namespace
}  // namespace velmora::e2e
