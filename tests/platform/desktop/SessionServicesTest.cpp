// The single-instance lock, the invoking user's files and opening links and
// folders as that user.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/desktop/InvokingUser.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/desktop/Workspace.h"
#include "support/TestSupport.h"

using namespace velmora::platform;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;

namespace {

// The user tests hand files to when they run as root.
constexpr uid_t kNobody = 65534;

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(SingleInstance, OneHolderAtATimeAndNoFollowedLinks) {
    TempDir dir;
    {
        SingleInstance first(dir / "lock");
        EXPECT_TRUE(first.Acquired());
        SingleInstance second(dir / "lock");
        EXPECT_FALSE(second.Acquired());
    }
    SingleInstance again(dir / "lock");
    EXPECT_TRUE(again.Acquired()) << "the lock goes with its holder";

    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "planted").c_str()), 0);
    SingleInstance planted(dir / "planted");
    EXPECT_FALSE(planted.Acquired());
    struct stat st {};
    EXPECT_NE(lstat((dir / "victim").c_str(), &st), 0) << "a planted link made root create a file";
}

// The running copy and a second start in one process: paths handed over
// reach the running copy's handler; other users' claims and peers, and
// clients that stall, get nothing in.
TEST(InstanceChannel, SecondStartHandsItsFileToTheRunningCopyOnly) {
    TempDir dir;
    const std::string socket = dir / "instance.sock";
    const uid_t me = geteuid();
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::string> received;
    const auto waitFor = [&](std::size_t count) {
        std::unique_lock<std::mutex> hold(lock);
        return arrived.wait_for(hold, std::chrono::seconds(20),
                                [&] { return received.size() >= count; });
    };
    {
        InstanceChannel running(socket, me, [&](const std::string& path) {
            std::lock_guard<std::mutex> hold(lock);
            received.push_back(path);
            arrived.notify_all();
        });
        ASSERT_TRUE(running.Listening());

        // A client that connects and says nothing does not hold up the next.
        const int staller = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(connect(staller, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

        EXPECT_EQ(InstanceChannel::HandOver(socket, me, "/home/u/scan.Velmora", 10000),
                  InstanceChannel::Handover::Taken);
        ASSERT_TRUE(waitFor(1));
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        EXPECT_EQ(InstanceChannel::HandOver(socket, me, "rel/scan.Velmora"),
                  InstanceChannel::Handover::Taken)
            << "a relative name is made absolute by the second start";
        ASSERT_TRUE(waitFor(2));
        close(staller);

        // Another invoking user's start (root acting for them, or that user
        // itself) is answered with a refusal.
        EXPECT_EQ(InstanceChannel::HandOver(socket, me + 1000, "/home/other/theirs.Velmora"),
                  InstanceChannel::Handover::Refused);
        if (velmora::test::IsRoot()) {
            // A process of another user that reaches the socket: the kernel's
            // credentials of the peer are what the running copy goes by.
            chmod(dir.path().c_str(), 0777);
            chmod(socket.c_str(), 0666);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
                    _exit(90);
                // It claims to act for the running copy's user.
                const auto answer = InstanceChannel::HandOver(socket, me, "/tmp/x.Velmora");
                _exit(answer == InstanceChannel::Handover::Refused ? 0
                      : answer == InstanceChannel::Handover::Taken ? 1
                                                                   : 2);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0) << "1: taken, 2: no answer, 90: no setuid";
        }
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(received, (std::vector<std::string>{"/home/u/scan.Velmora",
                                                      std::string(cwd) + "/rel/scan.Velmora"}));
    }
    // The copy ended: its socket is gone and a start is told nobody answered.
    struct stat st {};
    EXPECT_NE(lstat(socket.c_str(), &st), 0);
    EXPECT_EQ(InstanceChannel::HandOver(socket, me, "/home/u/scan.Velmora"),
              InstanceChannel::Handover::NoAnswer);
}

TEST(InvokingUser, AtomicWriteReplacesWholeFilesAndLeavesNothingBehind) {
    TempDir dir;
    ScopedEnv pkexec("PKEXEC_UID", nullptr);
    ScopedEnv sudo("SUDO_UID", velmora::test::IsRoot() ? std::to_string(kNobody).c_str() : nullptr);
    ScopedEnv sudoGid("SUDO_GID",
                      velmora::test::IsRoot() ? std::to_string(kNobody).c_str() : nullptr);
    chmod(dir.path().c_str(), 0777);  // the user's own folder
    const std::string file = dir / "settings.plist";
    velmora::test::WriteFile(file, "old contents");
    ASSERT_TRUE(WriteFileAtomically(file, "new", 0600));
    EXPECT_EQ(velmora::test::ReadText(file), "new");
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"settings.plist"});
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, velmora::test::IsRoot() ? kNobody : geteuid());

    // A failed write keeps the old file and cleans up its temporary.
    ASSERT_EQ(mkdir((dir / "taken").c_str(), 0755), 0);
    velmora::test::WriteFile(dir / "taken/inside", "x");
    EXPECT_FALSE(WriteFileAtomically(dir / "taken", "replacement"));
    EXPECT_FALSE(WriteFileAtomically(dir / "missing-folder/file", "x"));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"settings.plist", "taken"}));
    EXPECT_EQ(velmora::test::ReadText(dir / "taken/inside"), "x");
}

TEST(InvokingUser, FoldersAndConfigurationBelongToTheInvokingUser) {
    ScopedEnv pkexec("PKEXEC_UID", nullptr);
    ScopedEnv sudo("SUDO_UID", "0");
    ScopedEnv sudoGid("SUDO_GID", "0");
    EXPECT_EQ(InvokingUserConfigFolder(), "/root/.config");
    auto user = FindInvokingUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name, "root");
    sudo.Set(nullptr);
    EXPECT_FALSE(FindInvokingUser());

    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "handing folders to another user needs root";
    TempDir dir;
    sudo.Set(std::to_string(kNobody).c_str());
    sudoGid.Set(std::to_string(kNobody).c_str());
    chmod(dir.path().c_str(), 0777);
    ASSERT_TRUE(MakeFolderForInvokingUser(dir / "a/b"));
    for (const char* sub : {"a", "a/b"}) {
        struct stat st {};
        ASSERT_EQ(stat((dir / sub).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody) << sub;
    }
    struct stat top {};
    ASSERT_EQ(stat(dir.path().c_str(), &top), 0);
    EXPECT_EQ(top.st_uid, 0u) << "folders that were there stay as they were";
}

TEST(Workspace, OpensAsTheInvokingUserThroughRunuser) {
    const InvokingUser user{1000, 1000, "alice", "/home/alice"};
    const InvokingUser root{0, 0, "root", "/root"};
    struct Case {
        std::optional<InvokingUser> user;
        bool asRoot;
        std::vector<std::string> argv;
    } cases[] = {
        {user,
         true,
         {"runuser", "-u", "alice", "--", "/usr/bin/env", "XDG_RUNTIME_DIR=/run/user/1000",
          "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus", "/usr/bin/xdg-open",
          "https://x.test/"}},
        {user, false, {"/usr/bin/xdg-open", "https://x.test/"}},
        {std::nullopt, true, {"/usr/bin/xdg-open", "https://x.test/"}},
        {root, true, {"/usr/bin/xdg-open", "https://x.test/"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OpenerCommand("/usr/bin/xdg-open", "https://x.test/", c.user, c.asRoot), c.argv);

    for (const char* good : {"https://example.test/help?a=1", "http://x", "mailto:a@b"})
        EXPECT_TRUE(IsOpenableUrl(good)) << good;
    for (const char* bad : {"", "https://", "-https://x", "file:///etc/shadow",
                            "javascript:alert(1)", "https://a b", "https://x\n--help", "x"})
        EXPECT_FALSE(IsOpenableUrl(bad)) << bad;
}

TEST(Workspace, RefusesWhatIsNoLinkOrFolder) {
    TempDir dir;
    velmora::test::WriteFile(dir / "xdg-open", "#!/bin/sh\nexit 0\n");
    chmod((dir / "xdg-open").c_str(), 0755);
    ScopedEnv path("PATH", dir.path().c_str());
    RecordingCommandRunner runner;
    DesktopWorkspace workspace(runner);
    EXPECT_FALSE(workspace.OpenUrl("ftp://x"));
    EXPECT_FALSE(workspace.OpenFolder("relative/folder"));
    EXPECT_FALSE(workspace.OpenFolder(dir / "xdg-open")) << "a file is no folder";
    EXPECT_FALSE(workspace.OpenFolder(dir / "missing"));
    EXPECT_TRUE(runner.launches.empty());
    EXPECT_TRUE(workspace.OpenFolder(dir.path()));
    ASSERT_EQ(runner.launches.size(), 1u);
    EXPECT_EQ(runner.launches[0].back(), dir.path());
}

TEST(Workspace, RealOpenerRunsAsTheInvokingUser) {
    TempDir dir;
    // The opener and its output folder must be reachable by the user it runs as.
    chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0777), 0);
    chmod((dir / "out").c_str(), 0777);
    velmora::test::WriteFile(dir / "xdg-open",
                             "#!/bin/sh\nprintf '%s %s\\n' \"$(id -u)\" \"$*\" > \"" + dir.path() +
                                 "/out/tmp\"\nmv \"" + dir.path() + "/out/tmp\" \"" + dir.path() +
                                 "/out/opened\"\n");
    chmod((dir / "xdg-open").c_str(), 0755);
    ScopedEnv path("PATH", (dir.path() + ":/usr/sbin:/usr/bin:/sbin:/bin").c_str());
    ScopedEnv pkexec("PKEXEC_UID",
                     velmora::test::IsRoot() ? std::to_string(kNobody).c_str() : nullptr);
    ScopedEnv sudo("SUDO_UID", nullptr);

    SystemCommandRunner runner;
    DesktopWorkspace workspace(runner);
    ASSERT_TRUE(workspace.OpenUrl("https://example.test/a?b=c"));
    bool arrived = false;
    for (int i = 0; i < 500 && !arrived; ++i) {
        arrived = access((dir / "out/opened").c_str(), F_OK) == 0;
        if (!arrived)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(arrived) << "the opener never ran";
    const uid_t expected = velmora::test::IsRoot() ? kNobody : geteuid();
    EXPECT_EQ(velmora::test::ReadText(dir / "out/opened"),
              std::to_string(expected) + " https://example.test/a?b=c\n");
}
