// Disks coming and going while the real program is open, as a user plugs
// them in and pulls them: the disk page follows without Back and Next and
// names the disks by their files and the volumes by their labels; the
// results browser goes on with its scan; the interface thread is not held
// while the device list is made again. Needs root (loop devices).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>

#include "RealProgram.h"
#include "support/TestSupport.h"

namespace velmora::e2e {
namespace {

constexpr const char* kLabel = "RECOVTEST";

// A blank file of 64 MiB made an exFAT volume labelled RECOVTEST by
// mkfs.exfat; empty when that failed.
std::string MakeExfat(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return {};
    const bool sized = ::ftruncate(fd, 64 << 20) == 0;
    ::close(fd);
    if (!sized || !test::RunProgram({"/usr/sbin/mkfs.exfat", "-L", kLabel, path}))
        return {};
    return path;
}

// The longest time the main loop was held since "stall start", in ms.
double LongestStall(Walk& walk) {
    std::istringstream answer(walk.Ask("stall"));
    std::string ok;
    double ms = -1;
    answer >> ok >> ms;
    return ok == "ok" ? ms : -1;
}

// Until the disk page's outline has a row named `name` (present) or none
// (gone); the rows seen last go to `rows`.
bool WaitForDisk(Walk& walk, const std::string& name, bool present, std::string* rows) {
    return WaitUntil(
        [&] {
            *rows = walk.Ask("rows outlineView");
            return rows->rfind("ok ", 0) == 0 && RowNamed(*rows, name).empty() != present;
        },
        Millis(60000));
}

TEST(DeviceWalk, DisksComeAndGoWhileTheDiskPageAndTheBrowserAreOpen) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach images to loop devices";
    struct stat st {};
    if (::stat("/usr/sbin/mkfs.exfat", &st) != 0) {
        if (!test::ToolsRequired())
            GTEST_SKIP() << "mkfs.exfat is not installed (exfatprogs)";
        FAIL() << "mkfs.exfat is not installed (exfatprogs)";
    }
    test::TempDir scratch;
    chmod(scratch.path().c_str(), 0755);
    // Two images of one size: told apart by their files' names.
    const std::string first = MakeExfat(scratch / "walk-first.img");
    const std::string second = MakeExfat(scratch / "walk-second.img");
    ASSERT_FALSE(first.empty() || second.empty()) << "mkfs.exfat failed";
    VELMORA_ATTACH_LOOP(loop, first);

    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();

    ASSERT_TRUE(walk.WaitVisible("TypeXib", Millis(60000))) << program.Output();
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ListDiskXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                << program.Output();
    std::string rows;
    ASSERT_TRUE(WaitForDisk(walk, "walk-first.img", true, &rows))
        << "the loop disk is not named by its file:\n"
        << rows;
    const std::string disk = RowNamed(rows, "walk-first.img");
    // The volume fills the disk: it is the disk's first row, by its label.
    const std::string volume = disk + "/0";
    EXPECT_NE(rows.find(volume + "=" + kLabel + "|"), std::string::npos) << rows;

    // Plugged in while the page is open: listed without Back and Next.
    ASSERT_EQ(walk.Ask("stall start"), "ok");
    auto plugged = std::make_unique<LoopDevice>(second);
    ASSERT_FALSE(plugged->node().empty()) << "losetup could not attach " << second;
    EXPECT_TRUE(WaitForDisk(walk, "walk-second.img", true, &rows)) << rows;
    const std::string other = RowNamed(rows, "walk-second.img");
    EXPECT_NE(rows.find(other + "/0=" + kLabel + "|"), std::string::npos) << rows;
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("disk_page_after_attach")).rfind("ok ", 0), 0u);

    // Pulled: gone from the list, the first disk still there.
    plugged.reset();
    EXPECT_TRUE(WaitForDisk(walk, "walk-second.img", false, &rows)) << rows;
    EXPECT_FALSE(RowNamed(rows, "walk-first.img").empty()) << rows;
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("disk_page_after_removal")).rfind("ok ", 0), 0u);
    // The list is made on a thread of its own; a hold of seconds would be
    // the interface waiting for it (a generous bound on a loaded machine).
    const double held = LongestStall(walk);
    EXPECT_GE(held, 0);
    EXPECT_LT(held, 5000) << "the interface was held for " << held << " ms";

    // The browser on the first volume; a disk coming and going meanwhile is
    // none of its scan's business.
    const std::string chosen = RowNamed(rows, "walk-first.img") + "/0";
    ASSERT_EQ(walk.Ask("clickrow outlineView " + chosen), "ok");
    ASSERT_TRUE(walk.WaitVisible("continueButton", Millis(20000)));
    ASSERT_EQ(walk.Ask("click continueButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                  << program.Output();
    ASSERT_EQ(walk.Ask("stall start"), "ok");
    plugged = std::make_unique<LoopDevice>(second);
    ASSERT_FALSE(plugged->node().empty());
    plugged.reset();
    EXPECT_EQ(walk.Ask("ping"), "ok");
    EXPECT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(5000))) << walk.Ask("windows");
    // Another disk's removal says nothing to the user.
    EXPECT_EQ(walk.Ask("find alertDefaultButton"), "none") << walk.Ask("windows");
    const double heldInBrowser = LongestStall(walk);
    EXPECT_LT(heldInBrowser, 5000) << "the interface was held for " << heldInBrowser << " ms";
    EXPECT_TRUE(program.Running()) << program.Output();
    EXPECT_EQ(
        walk.Ask("shot ExhibitionXib " + ShotPath("browser_after_device_events")).rfind("ok ", 0),
        0u);

    run.QuitCleanly();
}

}  // namespace
}  // namespace velmora::e2e
