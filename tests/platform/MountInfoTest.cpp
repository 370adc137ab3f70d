#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "platform/MountInfo.h"
#include "support/TestSupport.h"

using namespace velmora::platform;
using velmora::test::TempDir;

namespace {
std::string ShippedMountInfo() {
    return velmora::test::SourceDir() + "/tests/platform/data/mountinfo";
}
}  // namespace

TEST(MountTable, ParsesTheShippedFileAndDropsBrokenLines) {
    MountTable t(ShippedMountInfo());
    ASSERT_EQ(t.entries().size(), 7u);
    const MountEntry& e = t.entries()[3];
    EXPECT_EQ(e.mountId, 61);
    EXPECT_EQ(e.parentId, 28);
    EXPECT_EQ(e.deviceId, makedev(8, 17));
    EXPECT_EQ(e.mountPoint, "/media/user/USB");
    EXPECT_EQ(e.fsType, "vfat");
    EXPECT_EQ(e.source, "/dev/sdb1");
    EXPECT_EQ(e.superOptions, "rw,fmask=0022");
}

TEST(MountTable, FindsMountsByDeviceNumberOrSource) {
    MountTable t(ShippedMountInfo());
    VolumeDescriber d(t);
    struct Case {
        const char* what;
        dev_t id;
        const char* node;
        const char* mountPoint;
        const char* fsType;
    };
    const Case cases[] = {
        // The bind mount of a subfolder comes first; the whole file system wins.
        {"by number, bind mount ignored", makedev(8, 17), "/dev/sdb1", "/media/user/USB", "vfat"},
        {"escaped space", makedev(8, 18), "/dev/sdb2", "/media/user/My Disk", "exfat"},
        // FUSE mounts carry an anonymous 0:N number; only the source names the device.
        {"FUSE by source", makedev(259, 2), "/dev/nvme0n1p2", "/media/user/Windows", "fuseblk"},
        {"not mounted", makedev(259, 1), "/dev/nvme0n1p1", "", ""},
        {"anonymous number never matches", makedev(0, 53), "", "", ""},
        {"a source that is no path matches nothing", makedev(8, 99), "tmpfs", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(d.MountPoint(c.id, c.node), c.mountPoint);
        EXPECT_EQ(d.FsType(c.id, c.node), c.fsType);
    }
    EXPECT_EQ(d.VolumeName("PHOTOS", "sdb2", makedev(8, 18), "/dev/sdb2"), "PHOTOS");
    EXPECT_EQ(d.VolumeName("", "sdb2", makedev(8, 18), "/dev/sdb2"), "My Disk");
    EXPECT_EQ(d.VolumeName("", "nvme0n1p1", makedev(259, 1), "/dev/nvme0n1p1"), "nvme0n1p1");
    auto bind = t.FindBySource("/dev/sdb1");
    ASSERT_TRUE(bind);
    EXPECT_EQ(bind->root, "/");
}

TEST(MountTable, EscapesAndOddLines) {
    auto entries = ParseMountInfo(
        "70 1 8:1 / /a\\040b\\011c\\134d\\012e rw - ext4 /dev/my\\040disk rw\n"
        "71 1 8:2 / /trailing\\04 rw - ext4 /dev/x rw\r\n"
        "72 1 8:3 / /no-separator rw ext4 /dev/y rw\n"
        "73 1 8:4 / /no-type rw -\n"
        "74 1 8:5 / /many-optional rw shared:1 master:2 propagate_from:3 unbindable - xfs /dev/z "
        "rw\n"
        "\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].mountPoint, "/a b\tc\\d\ne");
    EXPECT_EQ(entries[0].source, "/dev/my disk");
    EXPECT_EQ(entries[1].mountPoint, "/trailing\\04");
    EXPECT_EQ(entries[2].fsType, "xfs");
    EXPECT_EQ(entries[2].source, "/dev/z");
}

// Tests name devices by image files; a FUSE source given as another path to
// the same file still matches, and a folder inside the mount maps back to it.
TEST(MountTable, SourceMatchesTheSameFileAndContainingMountIsFound) {
    TempDir tmp;
    velmora::test::WriteFile(tmp / "disk.img", std::string(4096, '\0'));
    std::filesystem::create_directories(tmp / "dev");
    std::filesystem::create_symlink(tmp / "disk.img", tmp / "dev/sdx1");
    std::filesystem::create_directories(tmp / "mnt/sub dir");
    std::string text =
        "28 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "90 28 0:77 / " +
        tmp.path() + "/mnt rw - fuse.ntfs-3g " + tmp.path() + "/disk.img rw\n";
    MountTable t = MountTable::FromText(text);
    auto m = t.FindDevice(makedev(8, 113), tmp / "dev/sdx1");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->fsType, "fuse.ntfs-3g");
    auto c = t.FindContaining(tmp / "mnt/sub dir");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->mountId, 90);
    auto outside = t.FindContaining(tmp / "mntx");
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->mountPoint, "/");
}

TEST(MountTable, UnreadableFileIsAnEmptyTable) {
    MountTable t("/nonexistent/mountinfo");
    EXPECT_TRUE(t.entries().empty());
    EXPECT_FALSE(t.Reload());
}

TEST(MountTable, RealMountInfoHasTheRootFolder) {
    // Inside a chroot the root folder may be an ordinary folder of some
    // mount, and mountinfo then rightly names no mount point "/".
    struct statx sx;
    constexpr uint64_t kMountRoot = 0x2000;  // STATX_ATTR_MOUNT_ROOT
    if (statx(AT_FDCWD, "/", 0, STATX_BASIC_STATS, &sx) == 0 &&
        (sx.stx_attributes_mask & kMountRoot) && !(sx.stx_attributes & kMountRoot))
        GTEST_SKIP() << "the root folder is no mount point (a chroot)";
    MountTable t;
    ASSERT_TRUE(t.Reload());
    auto root = t.FindContaining("/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->mountPoint, "/");
    struct stat st;
    ASSERT_EQ(stat("/", &st), 0);
    if (major(st.st_dev) != 0) {
        // A block-backed root: the device number of the folder is the one
        // mountinfo gives, which is what device ids are compared against.
        auto byId = t.FindByDeviceId(st.st_dev);
        ASSERT_TRUE(byId);
        EXPECT_EQ(byId->deviceId, st.st_dev);
    }
}
