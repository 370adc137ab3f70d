#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/AppPaths.h"

using namespace velmora::platform;

TEST(AppPaths, InvokingUserHomePrefersTheUserBehindPkexecOrSudo) {
    const char* savedHome = std::getenv("HOME");
    std::string saved = savedHome ? savedHome : "";
    setenv("HOME", "/root-home-should-not-win", 1);
    setenv("PKEXEC_UID", "0", 1);
    EXPECT_EQ(InvokingUserHome(), "/root") << "uid 0's passwd home";
    unsetenv("PKEXEC_UID");
    setenv("SUDO_UID", "not-a-number", 1);
    EXPECT_EQ(InvokingUserHome(), "/root-home-should-not-win");
    unsetenv("SUDO_UID");
    if (savedHome)
        setenv("HOME", saved.c_str(), 1);
}

TEST(AppPaths, ExecutableFolderIsAbsolute) {
    unsetenv(kWorkPathEnv);
    std::string dir = ExecutableFolder();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir[0], '/');
}
