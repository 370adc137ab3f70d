#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <string>

#include "Utility/FileUtility.h"
#include "support/TestSupport.h"

using velmora::test::TempDir;

TEST(FileUtility, GetFileSizeOfMissingEmptyAndRealFiles) {
    TempDir dir;
    EXPECT_EQ(GetFileSize(nullptr), 0u);
    EXPECT_EQ(GetFileSize((dir / "missing").c_str()), 0u);
    velmora::test::WriteFile(dir / "empty", std::string());
    EXPECT_EQ(GetFileSize((dir / "empty").c_str()), 0u);
    velmora::test::WriteFile(dir / "five", std::string("12345"));
    EXPECT_EQ(GetFileSize((dir / "five").c_str()), 5u);
}

TEST(FileUtility, CopyFileAKeepsDataModeTimesAndXattrsRecursively) {
    TempDir dir;
    const std::string src = dir / "src";
    ASSERT_EQ(mkdir(src.c_str(), 0750), 0);
    ASSERT_EQ(mkdir((src + "/sub").c_str(), 0700), 0);
    std::string big(3 * 1024 * 1024 + 17, 'z');
    big[12345] = 'q';
    velmora::test::WriteFile(src + "/sub/big.bin", big);
    ASSERT_EQ(chmod((src + "/sub/big.bin").c_str(), 0640), 0);
    bool haveXattr = setxattr((src + "/sub/big.bin").c_str(), "user.velmora", "v1", 2, 0) == 0;
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (src + "/sub/big.bin").c_str(), times, 0), 0);

    const std::string dst = dir / "dst";
    ASSERT_EQ(CopyFileA(src.c_str(), dst.c_str(), 0), 0);
    EXPECT_EQ(velmora::test::ReadText(dst + "/sub/big.bin"), big);
    struct stat st {};
    ASSERT_EQ(stat((dst + "/sub/big.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    ASSERT_EQ(stat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    if (haveXattr) {
        char value[8] = {};
        EXPECT_EQ(getxattr((dst + "/sub/big.bin").c_str(), "user.velmora", value, sizeof value), 2);
        EXPECT_STREQ(value, "v1");
    }
}

TEST(FileUtility, CopyFileAReportsFailure) {
    TempDir dir;
    EXPECT_EQ(CopyFileA((dir / "missing").c_str(), (dir / "out").c_str(), 0), -1);
    EXPECT_EQ(CopyFileA(nullptr, (dir / "out").c_str(), 0), -1);
    velmora::test::WriteFile(dir / "in", std::string("abc"));
    EXPECT_EQ(CopyFileA((dir / "in").c_str(), (dir / "no/such/folder/out").c_str(), 0), -1);
}

TEST(FileUtility, CopyFileAToAFullDeviceFails) {
    TempDir dir;
    velmora::test::WriteFile(dir / "in", std::string(1 << 16, 'x'));
    struct stat st {};
    if (stat("/dev/full", &st) != 0)
        GTEST_SKIP() << "no /dev/full here";
    EXPECT_EQ(CopyFileA((dir / "in").c_str(), "/dev/full", 0), -1);
}

TEST(FileUtility, ValidUtf8) {
    struct Case {
        const char* bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"caf\xc3\xa9", true},
        {"\xe2\x82\xac", true},       // euro sign
        {"\xf0\x9f\x98\x80", true},   // emoji
        {"\xc3", false},              // truncated
        {"\x80", false},              // lone continuation
        {"\xc0\xaf", false},          // overlong slash
        {"\xe0\x80\xaf", false},      // overlong, three bytes
        {"\xed\xa0\x80", false},      // surrogate
        {"\xf4\x90\x80\x80", false},  // past U+10FFFF
        {"ok\xff", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidString(c.bytes), c.valid) << c.bytes;
    EXPECT_FALSE(isValidString(nullptr));
}

TEST(FileUtility, WorkPathHonoursOverride) {
    velmora::test::ScopedEnv workPath("VELMORA_WORK_PATH", "/some/where");
    EXPECT_EQ(GetAppWorkPath(), "/some/where");
    workPath.Set(nullptr);
    std::string exeDir = GetAppWorkPath();
    EXPECT_FALSE(exeDir.empty());
    struct stat st {};
    EXPECT_EQ(stat(exeDir.c_str(), &st), 0);
}
