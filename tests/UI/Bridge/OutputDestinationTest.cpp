// The destination of the user's files: checked once, as the user who
// started the program, and refused on the scanned device or any device
// stacked on it.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "OutputDestination.h"
#include "support/TestSupport.h"

using velmora::bridge::DevicesOnScanned;
using velmora::bridge::OutputDestination;
using velmora::bridge::OutputProblem;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;

namespace {

constexpr uid_t kNobody = 65534;

// As root for the nobody user: each folder is judged by what that user may
// do there, never by root's rights.
TEST(OutputDestination, IsJudgedAsTheInvokingUser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to act for another user";
    ScopedEnv pkexec("PKEXEC_UID", nullptr), uid("SUDO_UID", "65534"), gid("SUDO_GID", "65534");
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(::mkdir((dir / "theirs").c_str(), 0755), 0);
    ASSERT_EQ(::chown((dir / "theirs").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::mkdir((dir / "roots").c_str(), 0755), 0);
    velmora::test::WriteFile(dir / "theirs/file", std::string("x"));
    // A link of someone else's on the way; one of the user's own is fine.
    ASSERT_EQ(::symlink((dir / "theirs").c_str(), (dir / "foreign").c_str()), 0);
    ASSERT_EQ(::lchown((dir / "foreign").c_str(), 4321, 4321), 0);
    ASSERT_EQ(::symlink((dir / "theirs").c_str(), (dir / "theirs/own").c_str()), 0);
    ASSERT_EQ(::lchown((dir / "theirs/own").c_str(), kNobody, kNobody), 0);
    struct Case {
        std::string folder;
        OutputProblem problem;
        std::string resolved;
    };
    const Case cases[] = {
        {dir / "theirs", OutputProblem::kNone, dir / "theirs"},
        {dir / "theirs/new/deeper/", OutputProblem::kNone, dir / "theirs/new/deeper"},
        {dir / "theirs/own/x", OutputProblem::kNone, dir / "theirs/x"},
        {dir / "roots", OutputProblem::kNoPermission, ""},
        {dir / "roots/new", OutputProblem::kNoPermission, ""},
        {"/etc", OutputProblem::kNoPermission, ""},
        {dir / "foreign/x", OutputProblem::kForeignLink, ""},
        {dir / "theirs/file", OutputProblem::kNotAFolder, ""},
        {"relative/path", OutputProblem::kNotChosen, ""},
        {"", OutputProblem::kNotChosen, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const OutputDestination d = OutputDestination::Choose(c.folder, {});
        EXPECT_EQ(d.problem(), c.problem);
        EXPECT_EQ(d.folder(), c.resolved);
        EXPECT_EQ(d.Words().empty(), c.problem == OutputProblem::kNone);
    }
    // Nothing was made by the checks.
    EXPECT_FALSE(std::filesystem::exists(dir / "theirs/new"));
}

// A sysfs tree in small: disk 8:0 with partitions 8:1 and 8:2; a LUKS
// mapping 253:0 on 8:2 and an LVM volume 253:1 on that; md 9:0 on 8:1; an
// unrelated disk 8:16 with partition 8:17.
TEST(OutputDestination, DevicesStackedOnTheScannedOneAreFound) {
    TempDir sys;
    auto device = [&](const std::string& path, const std::string& dev, const std::string& name,
                      bool partition) {
        std::filesystem::create_directories(sys / path + "/holders");
        velmora::test::WriteFile(sys / path + "/dev", dev + "\n");
        if (partition)
            velmora::test::WriteFile(sys / path + "/partition", std::string("1\n"));
        std::filesystem::create_directories(sys / "class/block");
        std::filesystem::create_directories(sys / "dev/block");
        std::filesystem::create_directory_symlink(sys / path, sys / "class/block/" + name);
        std::filesystem::create_directory_symlink(sys / path, sys / "dev/block/" + dev);
    };
    auto holder = [&](const std::string& path, const std::string& name) {
        std::filesystem::create_directory_symlink(sys / "class/block/" + name,
                                                  sys / path + "/holders/" + name);
    };
    device("devices/sda", "8:0", "sda", false);
    device("devices/sda/sda1", "8:1", "sda1", true);
    device("devices/sda/sda2", "8:2", "sda2", true);
    device("devices/virtual/dm-0", "253:0", "dm-0", false);
    device("devices/virtual/dm-1", "253:1", "dm-1", false);
    device("devices/virtual/md0", "9:0", "md0", false);
    device("devices/sdb", "8:16", "sdb", false);
    device("devices/sdb/sdb1", "8:17", "sdb1", true);
    holder("devices/sda/sda2", "dm-0");
    holder("devices/virtual/dm-0", "dm-1");
    holder("devices/sda/sda1", "md0");
    struct Case {
        dev_t scanned;
        std::vector<dev_t> found;
    };
    const Case cases[] = {
        {makedev(8, 0),
         {makedev(8, 0), makedev(8, 1), makedev(8, 2), makedev(9, 0), makedev(253, 0),
          makedev(253, 1)}},
        {makedev(8, 2), {makedev(8, 2), makedev(253, 0), makedev(253, 1)}},
        // The disk below a scanned mapping holds no other scanned data.
        {makedev(253, 0), {makedev(253, 0), makedev(253, 1)}},
        {makedev(8, 16), {makedev(8, 16), makedev(8, 17)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(major(c.scanned) * 1000 + minor(c.scanned));
        const std::set<dev_t> found = DevicesOnScanned({c.scanned}, sys.path());
        EXPECT_EQ(std::vector<dev_t>(found.begin(), found.end()), c.found);
    }

    // How each lies on the scanned disk: the words the user reads name it.
    std::filesystem::create_directories(sys / "devices/virtual/dm-0/dm");
    std::filesystem::create_directories(sys / "devices/virtual/dm-1/dm");
    velmora::test::WriteFile(sys / "devices/virtual/dm-0/dm/uuid",
                             std::string("CRYPT-LUKS2-0123456789abcdef-sda2_crypt\n"));
    velmora::test::WriteFile(sys / "devices/virtual/dm-1/dm/uuid",
                             std::string("LVM-AbCdEf0123456789\n"));
    std::filesystem::create_directories(sys / "devices/virtual/md0/md");
    const struct {
        dev_t dev;
        OutputProblem how;
        const char* words;
    } hows[] = {
        {makedev(8, 0), OutputProblem::kOnScannedDevice, "scanned;"},
        {makedev(8, 1), OutputProblem::kOnScannedDevice, "scanned;"},
        {makedev(253, 0), OutputProblem::kOnScannedThroughEncrypted,
         "(through an encrypted volume)"},
        {makedev(253, 1), OutputProblem::kOnScannedThroughLvm, "(through an LVM volume)"},
        {makedev(9, 0), OutputProblem::kOnScannedThroughRaid, "(through a RAID array)"},
    };
    for (const auto& h : hows) {
        SCOPED_TRACE(h.words);
        EXPECT_EQ(velmora::bridge::HowOnScannedDevice(h.dev, {makedev(8, 0)}, sys.path()), h.how);
        EXPECT_TRUE(velmora::bridge::IsOnScannedDevice(h.how));
        EXPECT_NE(velmora::bridge::OutputProblemWords(h.how).find(h.words), std::string::npos);
    }
}

// Real devices: an image attached to a loop device stands for the scanned
// disk; an image file on its file system, attached to a second loop device
// and mounted, is no place for the recovered files (they would land on the
// scanned disk), even in a folder not made yet.
TEST(OutputDestination, ALoopDeviceBackedByAFileOnTheScannedDeviceIsRefused) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root for loop devices and mounts";
    TempDir dir;
    const std::string outer = dir / "scanned.img";
    velmora::test::WriteFile(outer, std::string());
    ASSERT_EQ(::truncate(outer.c_str(), 16 << 20), 0);
    std::string outerLoop;
    if (!velmora::test::RunProgram({"losetup", "-f", "--show", outer}, &outerLoop))
        GTEST_SKIP() << "no loop device free";
    while (!outerLoop.empty() && outerLoop.back() == '\n')
        outerLoop.pop_back();
    std::string innerLoop;
    const std::string outerMount = dir / "outer";
    const std::string innerMount = dir / "inner";
    ::mkdir(outerMount.c_str(), 0755);
    ::mkdir(innerMount.c_str(), 0755);
    bool outerMounted = false;
    bool innerMounted = false;
    [&] {
        ASSERT_TRUE(velmora::test::RunProgram({"mkfs.ext2", "-q", "-F", outerLoop}));
        ASSERT_EQ(::mount(outerLoop.c_str(), outerMount.c_str(), "ext2", 0, nullptr), 0)
            << std::strerror(errno);
        outerMounted = true;
        const std::string inner = outerMount + "/inner.img";
        velmora::test::WriteFile(inner, std::string(4 << 20, '\0'));
        ASSERT_TRUE(velmora::test::RunProgram({"losetup", "-f", "--show", inner}, &innerLoop));
        while (!innerLoop.empty() && innerLoop.back() == '\n')
            innerLoop.pop_back();
        ASSERT_TRUE(velmora::test::RunProgram({"mkfs.ext2", "-q", "-F", innerLoop}));
        ASSERT_EQ(::mount(innerLoop.c_str(), innerMount.c_str(), "ext2", 0, nullptr), 0)
            << std::strerror(errno);
        innerMounted = true;

        struct stat st {};
        ASSERT_EQ(::stat(outerLoop.c_str(), &st), 0);
        const std::vector<dev_t> scanned = {st.st_rdev};
        // Through the image file the second loop device is backed by.
        EXPECT_EQ(OutputDestination::Choose(innerMount, scanned).problem(),
                  OutputProblem::kOnScannedThroughLoop);
        EXPECT_EQ(OutputDestination::Choose(innerMount + "/not yet/made", scanned).problem(),
                  OutputProblem::kOnScannedThroughLoop);
        EXPECT_EQ(OutputDestination::Choose(outerMount, scanned).problem(),
                  OutputProblem::kOnScannedDevice);
        // Beside the scanned image, on the disk that holds it, is fine.
        EXPECT_TRUE(OutputDestination::Choose(dir.path(), scanned).ok());
    }();
    if (innerMounted)
        ::umount2(innerMount.c_str(), MNT_DETACH);
    if (!innerLoop.empty())
        velmora::test::RunProgram({"losetup", "-d", innerLoop});
    if (outerMounted)
        ::umount2(outerMount.c_str(), MNT_DETACH);
    velmora::test::RunProgram({"losetup", "-d", outerLoop});
}

}  // namespace
