#include <gtest/gtest.h>

#include "platform/ApfsListing.h"
#include "platform/DeviceNaming.h"

using namespace velmora::platform;

TEST(DeviceNaming, NodePathStaysInsideTheFolder) {
    struct Case {
        const char* folder;
        const char* name;
        const char* path;
    };
    const Case cases[] = {
        {"/dev", "sdb1", "/dev/sdb1"},
        {"/dev/", "nvme0n1p2", "/dev/nvme0n1p2"},
        {"/tmp/t/devs//", "loop0", "/tmp/t/devs/loop0"},
        {"", "sda", "/dev/sda"},
        {"/", "sda", "/sda"},
        {"/dev", "", ""},
        {"/dev", "..", ""},
        {"/dev", ".", ""},
        {"/dev", "../etc/passwd", ""},
        {"/dev", "sd\nb", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DeviceNaming(c.folder).NodePath(c.name), c.path) << c.folder << " " << c.name;
    EXPECT_EQ(DeviceNaming().NodePath("sdb"), "/dev/sdb");
}

TEST(ApfsListing, AnswersNothingUntilFilled) {
    NoApfsListing none;
    EXPECT_FALSE(none.Find("disk0s2"));
    FixedApfsListing fixed;
    fixed.Add("nvme0n1p2", {"Macintosh HD", "nvme0n1p2v1"});
    fixed.Add("NVME0N1P2", {"Data", "nvme0n1p2v2"});
    auto found = fixed.Find("Nvme0n1P2");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Macintosh HD");
    EXPECT_EQ(found->device, "nvme0n1p2v1");
    EXPECT_FALSE(fixed.Find("nvme0n1p1"));
}
