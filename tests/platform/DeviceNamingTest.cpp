#include <gtest/gtest.h>

#include <cstring>

#include "platform/ContainerListing.h"
#include "platform/DeviceNaming.h"
#include "platform/TextBuffer.h"

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
    for (const auto& c : cases)
        EXPECT_EQ(DeviceNaming(c.folder).NodePath(c.name), c.path) << c.folder << " " << c.name;
    EXPECT_EQ(DeviceNaming().NodePath("sdb"), "/dev/sdb");
}

TEST(ContainerListing, AnswersNothingUntilFilled) {
    NoContainerListing none;
    EXPECT_FALSE(none.Find("disk0s2"));
    FixedContainerListing fixed;
    fixed.Add("nvme0n1p2", {"Macintosh HD", "nvme0n1p2v1"});
    fixed.Add("NVME0N1P2", {"Data", "nvme0n1p2v2"});
    auto found = fixed.Find("Nvme0n1P2");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Macintosh HD");
    EXPECT_EQ(found->device, "nvme0n1p2v1");
    EXPECT_FALSE(fixed.Find("nvme0n1p1"));
}

TEST(TextBuffer, CopiesBoundedAndWholeCharacters) {
    struct Case {
        const char* text;
        size_t size;
        const char* expect;
        bool truncated;
    };
    const Case cases[] = {
        {"USB", 100, "USB", false},
        {"Flash", 4, "Fla", true},
        {"ab\xc3\xa9", 4, "ab", true},  // é would need 2 bytes, only 1 left
        {"ab\xc3\xa9", 5, "ab\xc3\xa9", false},
        {"\xe2\x82\xac\xe2\x82\xac", 6, "\xe2\x82\xac", true},  // second € cut
        {"", 1, "", false},
    };
    for (const auto& c : cases) {
        char buf[128];
        std::memset(buf, 'x', sizeof buf);
        bool truncated = false;
        ASSERT_TRUE(CopyToBuffer(buf, c.size, c.text, &truncated));
        EXPECT_STREQ(buf, c.expect) << c.text;
        EXPECT_EQ(truncated, c.truncated) << c.text;
        EXPECT_EQ(buf[c.size], 'x') << "wrote past the field";
    }
    char one[1];
    EXPECT_FALSE(CopyToBuffer(nullptr, 10, "a"));
    EXPECT_FALSE(CopyToBuffer(one, 0, "a"));
}
