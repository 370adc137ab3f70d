#include "platform/desktop/CommandRunner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include "platform/desktop/DiskInfo.h"
#include "platform/desktop/PowerInhibitor.h"
#include "support/TestSupport.h"

using namespace velmora::platform;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;

namespace {

void WriteScript(const std::string& path, const std::string& body) {
    velmora::test::WriteFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

// Waits for a file another process writes; false when it never comes.
bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

TEST(CommandRunner, RunsArgumentVectorsWithoutAShell) {
    struct Case {
        std::vector<std::string> argv;
        bool started;
        int exitCode;
        std::string output;
    } cases[] = {
        // Shell syntax arrives as plain text.
        {{"printf", "%s|", "a b", "$(id)", ";ls", "`x`"}, true, 0, "a b|$(id)|;ls|`x`|"},
        {{"false"}, true, 1, ""},
        {{"velmora-no-such-program"}, false, -1, ""},
        {{}, false, -1, ""},
        {{""}, false, -1, ""},
    };
    SystemCommandRunner runner;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.empty() ? "(empty)" : c.argv[0]);
        CommandResult r = runner.Run(c.argv);
        EXPECT_EQ(r.started, c.started);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.Succeeded(), c.started && c.exitCode == 0);
    }
}

TEST(CommandRunner, KeepsErrorsApartAndEndsAProgramPastItsTimeOut) {
    SystemCommandRunner runner;
    CommandResult listing = runner.Run({"ls", "/velmora-missing-folder"});
    EXPECT_TRUE(listing.started);
    EXPECT_NE(listing.exitCode, 0);
    EXPECT_TRUE(listing.output.empty());
    EXPECT_NE(listing.error.find("velmora-missing-folder"), std::string::npos);

    CommandResult slow = runner.Run({"sleep", "30"}, {std::chrono::milliseconds(200)});
    EXPECT_TRUE(slow.timedOut);
    EXPECT_FALSE(slow.Succeeded());

    // Much output with a small limit: the program still ends, the text is cut.
    CommandResult big =
        runner.Run({"head", "-c", "1000000", "/dev/zero"}, {std::chrono::seconds(30), 1000});
    EXPECT_TRUE(big.Succeeded());
    EXPECT_EQ(big.output.size(), 1000u);
}

TEST(CommandRunner, StartedProgramEndsWithItsWholeGroup) {
    TempDir dir;
    // The grandchild records its pid: ending the started program must end it too.
    WriteScript(dir / "tree", "sleep 300 &\necho $! > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\nwait\n");
    SystemCommandRunner runner;
    auto child = runner.Start({dir / "tree", dir / "pid"});
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(WaitForFile(dir / "pid"));
    pid_t grandchild = std::stoi(velmora::test::ReadText(dir / "pid"));
    EXPECT_TRUE(child->Running());
    child->Terminate();
    EXPECT_FALSE(child->Running());
    // Reaped by init shortly after; a zombie still answers kill(0), so wait.
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) {
        std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
        std::string pid, comm, state;
        gone = !(stat >> pid >> comm >> state) || state == "Z";
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(gone);
}

TEST(CommandRunner, FindProgramSearchesOnlyAbsolutePathEntries) {
    TempDir dir;
    WriteScript(dir / "velmora-tool", "exit 0\n");
    ScopedEnv path("PATH", ("relative:" + dir.path()).c_str());
    EXPECT_EQ(FindProgram("velmora-tool"), dir / "velmora-tool");
    EXPECT_EQ(FindProgram("velmora-absent"), "");
    EXPECT_EQ(FindProgram(dir / "velmora-tool"), dir / "velmora-tool");
}

TEST(PowerInhibitor, HoldsOneRequestAndIgnoresFailure) {
    RecordingCommandRunner runner;
    {
        PowerInhibitor inhibitor(runner);
        EXPECT_TRUE(inhibitor.Acquire("Velmora is running"));
        EXPECT_TRUE(inhibitor.Acquire("Velmora is running"));
        ASSERT_EQ(runner.starts.size(), 1u);
        const auto& argv = runner.starts[0];
        EXPECT_EQ(argv[0], "systemd-inhibit");
        EXPECT_NE(std::find(argv.begin(), argv.end(), "--why=Velmora is running"), argv.end());
        inhibitor.Release();
        EXPECT_FALSE(inhibitor.Held());
    }
    runner.launchSucceeds = false;
    PowerInhibitor failing(runner);
    EXPECT_FALSE(failing.Acquire("Velmora is running"));
    EXPECT_FALSE(failing.Held());
}

TEST(PowerInhibitor, ReleaseEndsTheInhibitingProgram) {
    TempDir dir;
    WriteScript(dir / "systemd-inhibit", "echo $$ > \"" + dir.path() + "/pid.tmp\"\nmv \"" +
                                             dir.path() + "/pid.tmp\" \"" + dir.path() +
                                             "/pid\"\nexec sleep 300\n");
    ScopedEnv path("PATH", (dir.path() + ":/usr/bin:/bin").c_str());
    SystemCommandRunner runner;
    PowerInhibitor inhibitor(runner);
    ASSERT_TRUE(inhibitor.Acquire("Velmora is running"));
    ASSERT_TRUE(WaitForFile(dir / "pid"));
    pid_t pid = std::stoi(velmora::test::ReadText(dir / "pid"));
    EXPECT_EQ(kill(pid, 0), 0);
    inhibitor.Release();
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_NE(kill(pid, 0), 0);
}

// A program that crashes never releases its inhibitor: what it holds must
// end with it all the same, or the session could never go idle again.
TEST(PowerInhibitor, EndsWithAProgramThatNeverReleasedIt) {
    TempDir dir;
    // Stands in for systemd-inhibit: skips its options, runs the command.
    WriteScript(dir / "systemd-inhibit",
                "while [ \"${1#--}\" != \"$1\" ]; do shift; done\n"
                "echo $$ > \"" +
                    dir.path() + "/pid.tmp\"\nmv \"" + dir.path() + "/pid.tmp\" \"" + dir.path() +
                    "/pid\"\nexec \"$@\"\n");
    ScopedEnv path("PATH", (dir.path() + ":/usr/bin:/bin").c_str());
    const pid_t program = fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        SystemCommandRunner runner;
        auto* inhibitor = new PowerInhibitor(runner);
        const bool held = inhibitor->Acquire("Velmora is running");
        for (int i = 0; held && i < 200 && access((dir / "pid").c_str(), F_OK) != 0; ++i)
            usleep(20000);
        _exit(held ? 0 : 3);  // as a crash ends it: nothing released
    }
    int status = 0;
    ASSERT_EQ(waitpid(program, &status, 0), program);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(WaitForFile(dir / "pid"));
    const pid_t held = std::stoi(velmora::test::ReadText(dir / "pid"));
    bool ended = false;
    for (int i = 0; i < 250 && !ended; ++i) {
        // Gone, or ended and waiting for a parent that may never reap it.
        std::ifstream stat("/proc/" + std::to_string(held) + "/stat");
        std::string pidField, name, state;
        ended = !(stat >> pidField >> name >> state) || state == "Z";
        if (!ended)
            usleep(20000);
    }
    if (!ended)
        kill(held, SIGKILL);
    EXPECT_TRUE(ended) << "the inhibition outlived its program";
}

TEST(DiskInfo, ParsesListingsOfOldAndNewLsblk) {
    const std::string current = R"({"blockdevices":[
        {"name":"sdb","kname":"sdb","pkname":null,"path":"/dev/sdb","size":16008609792,
         "type":"disk","rm":true,"ro":false,"tran":"usb","model":"Flash Disk","label":null,
         "fstype":null,"mountpoint":null,
         "children":[{"name":"sdb1","kname":"sdb1","pkname":"sdb","path":"/dev/sdb1",
                      "size":16007561216,"type":"part","rm":true,"ro":false,"tran":null,
                      "model":null,"label":"CARD","fstype":"vfat","mountpoint":"/media/u/CARD"}]},
        {"name":"bad entry without a kernel name"},
        {"kname":"loop0","size":-5,"type":"loop","rm":7,"ro":true},
        "not an object"]})";
    const std::string older = R"({"blockdevices":[
        {"name":"sda","size":"500107862016","type":"disk","rm":"0","ro":"1","tran":"sata",
         "children":[{"name":"sda1","size":"x12","type":"part","rm":"1","ro":"0"}]}]})";
    auto now = ParseLsblkJson(current);
    ASSERT_EQ(now.size(), 4u);
    EXPECT_EQ(now[0].name, "sdb");
    EXPECT_EQ(now[0].sizeBytes, 16008609792u);
    EXPECT_TRUE(now[0].removable);
    EXPECT_EQ(now[0].transport, "usb");
    EXPECT_EQ(now[1].name, "sdb1");
    EXPECT_EQ(now[1].parent, "sdb");
    EXPECT_EQ(now[1].fsType, "vfat");
    EXPECT_EQ(now[1].mountPoint, "/media/u/CARD");
    EXPECT_EQ(now[2].name, "bad entry without a kernel name");
    EXPECT_EQ(now[3].name, "loop0");
    EXPECT_EQ(now[3].sizeBytes, 0u);
    EXPECT_EQ(now[3].path, "/dev/loop0");
    EXPECT_TRUE(now[3].removable);
    EXPECT_TRUE(now[3].readOnly);

    auto old = ParseLsblkJson(older);
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(old[0].sizeBytes, 500107862016u);
    EXPECT_FALSE(old[0].removable);
    EXPECT_TRUE(old[0].readOnly);
    EXPECT_EQ(old[1].parent, "sda");
    EXPECT_EQ(old[1].sizeBytes, 0u);
    EXPECT_TRUE(old[1].removable);

    for (const char* junk : {"", "{", "[1,2]", "{\"blockdevices\":5}", "null"})
        EXPECT_TRUE(ParseLsblkJson(junk).empty()) << junk;
}

TEST(DiskInfo, DescribesOnlyPlainDeviceNames) {
    RecordingCommandRunner runner;
    CommandResult answer;
    answer.started = true;
    answer.exitCode = 0;
    answer.output = R"({"blockdevices":[{"kname":"sdb1","size":512,"type":"part"}]})";
    runner.script.push_back(answer);
    auto info = DescribeBlockDevice(runner, "sdb1");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->sizeBytes, 512u);
    ASSERT_EQ(runner.runs.size(), 1u);
    const auto& argv = runner.runs[0];
    ASSERT_GE(argv.size(), 2u);
    EXPECT_EQ(argv[0], "lsblk");
    EXPECT_EQ(argv[argv.size() - 2], "--");
    EXPECT_EQ(argv.back(), "/dev/sdb1");

    for (const char* name :
         {"", "../sda", "sda'; rm -rf /", "-h", "a/b", "disk 2",
          "a-name-far-longer-than-any-kernel-device-name-could-ever-be-in-practice"}) {
        EXPECT_FALSE(DescribeBlockDevice(runner, name)) << name;
    }
    EXPECT_EQ(runner.runs.size(), 1u) << "refused names never reach lsblk";

    CommandResult failed;
    failed.started = true;
    failed.exitCode = 32;
    runner.script.push_back(failed);
    EXPECT_FALSE(DescribeBlockDevice(runner, "sdz"));
}
