// The folder of generated test data that the test processes of a run share.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/SharedFolder.h"
#include "support/TestSupport.h"

namespace {

using velmora::test::SharedFolder;
using velmora::test::TempDir;
using velmora::test::WriteFile;

TEST(SharedFolder, MadeOnceForAllProcessesAndAgainWhenItsInputsChange) {
    TempDir root, inputs;
    WriteFile(inputs / "make.py", std::string("first"));
    int made = 0;
    const auto make = [&made](const std::string& out) {
        ++made;
        WriteFile(out + "/disk.img", std::string("image"));
        return true;
    };
    const std::string first = SharedFolder(root.path(), "disks", {inputs.path()}, make);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(std::filesystem::exists(first + "/disk.img"));
    EXPECT_EQ(SharedFolder(root.path(), "disks", {inputs.path()}, make), first);
    EXPECT_EQ(made, 1);

    // Another test process finds it made.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string seen =
            SharedFolder(root.path(), "disks", {inputs.path()}, [](const std::string&) {
                _exit(3);
                return false;
            });
        _exit(seen == first ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // An edited generator makes it anew, and the old folder goes.
    WriteFile(inputs / "make.py", std::string("second"));
    const std::string second = SharedFolder(root.path(), "disks", {inputs.path()}, make);
    EXPECT_NE(second, first);
    EXPECT_EQ(made, 2);
    EXPECT_FALSE(std::filesystem::exists(first));
    // A folder of another name beginning alike is not taken for an old one.
    const std::string other = SharedFolder(root.path(), "disks-big", {inputs.path()}, make);
    EXPECT_EQ(SharedFolder(root.path(), "disks", {inputs.path()}, make), second);
    EXPECT_TRUE(std::filesystem::exists(second + "/disk.img"));
    WriteFile(inputs / "make.py", std::string("third"));
    SharedFolder(root.path(), "disks", {inputs.path()}, make);
    EXPECT_TRUE(std::filesystem::exists(other + "/disk.img"));
}

TEST(SharedFolder, AFailedMakeLeavesNothingAndIsTriedAgain) {
    TempDir root, inputs;
    WriteFile(inputs / "make.sh", std::string("x"));
    int tries = 0;
    const auto failing = [&tries](const std::string& out) {
        ++tries;
        WriteFile(out + "/half.img", std::string("half"));
        return false;
    };
    EXPECT_EQ(SharedFolder(root.path(), "disks", {inputs.path()}, failing), "");
    EXPECT_EQ(SharedFolder(root.path(), "disks", {inputs.path()}, failing), "");
    EXPECT_EQ(tries, 2);
    for (const auto& entry : std::filesystem::directory_iterator(root.path()))
        EXPECT_FALSE(entry.is_directory()) << entry.path();
}

}  // namespace
