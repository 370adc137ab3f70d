#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileCopy.h"
#include "support/TestSupport.h"

using velmora::test::TempDir;

TEST(FileCopy, SymbolicLinksStayLinks) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "a").c_str(), 0700), 0);
    ASSERT_EQ(symlink("/etc/passwd", (dir / "a/link").c_str()), 0);
    ASSERT_EQ(velmora::platform::CopyTree(dir / "a", dir / "b"), 0);
    char target[64] = {};
    ASSERT_GT(readlink((dir / "b/link").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/etc/passwd");
}
