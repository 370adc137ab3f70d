#include "RealProgram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/TestSupport.h"

extern char** environ;

namespace velmora::e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, Millis limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(Millis(50));
    }
    return true;
}

Process::Process(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const std::string& outputPrefix)
    : outPath_(outputPrefix + ".out"), errPath_(outputPrefix + ".err") {
    std::vector<std::string> args = argv;
    std::vector<std::string> vars;
    for (const auto& [name, value] : env)
        vars.push_back(name + "=" + value);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(vars);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data()) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
    Kill();
}

bool Process::Running() {
    if (pid_ <= 0 || status_)
        return false;
    return !WaitExit(Millis(0));
}

std::optional<int> Process::WaitExit(Millis limit) {
    if (pid_ <= 0)
        return -1;
    if (status_)
        return status_;
    const auto end = Clock::now() + limit;
    for (;;) {
        int raw = 0;
        const pid_t got = waitpid(pid_, &raw, WNOHANG);
        if (got == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return status_;
        }
        if (got < 0)
            return status_ = -1;
        if (Clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(Millis(20));
    }
}

void Process::Kill() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        WaitExit(Millis(10000));
    }
}

std::string Process::Output() const {
    return Slurp(outPath_) + Slurp(errPath_);
}

XServer::XServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    // The display number comes back on the pipe once the server listens.
    std::vector<std::string> args = {"Xvfb", "-displayfd",   "3",         "-screen",
                                     "0",    "1280x1024x24", "-nolisten", "tcp"};
    std::vector<char*> argp = Pointers(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return;
    }
    pid_ = pid;
    std::string number;
    const auto end = Clock::now() + Millis(30000);
    while (Clock::now() < end) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char c;
        const ssize_t n = read(fds[0], &c, 1);
        if (n <= 0 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (!number.empty())
        display_ = ":" + number;
}

XServer::~XServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int raw = 0;
        if (!WaitUntil([&] { return waitpid(pid_, &raw, WNOHANG) != 0; }, Millis(10000))) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &raw, 0);
        }
    }
}

Walk::~Walk() {
    if (fd_ >= 0)
        close(fd_);
}

bool Walk::Connect(Millis limit) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    return WaitUntil(
        [&] {
            const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return false;
            if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                close(fd);
                return false;
            }
            fd_ = fd;
            return true;
        },
        limit);
}

std::string Walk::Ask(const std::string& command, Millis limit) {
    if (fd_ < 0)
        return "error not connected";
    const std::string line = command + "\n";
    if (send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
        return "error not sent";
    const auto end = Clock::now() + limit;
    for (;;) {
        const size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string answer = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            if (owed_ > 0) {
                --owed_;
                continue;
            }
            return answer;
        }
        const auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
        if (left <= 0) {
            ++owed_;
            return "error no answer";
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return "error no answer";
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

bool Walk::WaitVisible(const std::string& name, Millis limit, bool enabled) {
    return WaitUntil(
        [&] {
            const std::string answer = Ask("find " + name, Millis(5000));
            return answer.rfind(enabled ? "ok 1 1 " : "ok 1 ", 0) == 0;
        },
        limit);
}

bool Walk::WaitGone(const std::string& name, Millis limit) {
    return WaitUntil(
        [&] {
            const std::string answer = Ask("find " + name, Millis(5000));
            return answer == "none" || answer.rfind("ok 0 ", 0) == 0;
        },
        limit);
}

const Installed& InstalledPrograms() {
    static test::TempDir scratch;
    static const Installed installed = [] {
        Installed out;
        // Readable by the program whoever runs it.
        chmod(scratch.path().c_str(), 0755);
        out.root = scratch / "root";
        const std::string log = scratch / "install.log";
        Process install({VELMORA_CMAKE, "--install", VELMORA_BUILD_DIR, "--prefix", "/usr"},
                        {{"DESTDIR", out.root},
                         {"PATH", std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"}},
                        log);
        const std::optional<int> status = install.WaitExit(Millis(120000));
        out.app = out.root + "/usr/lib/tamsweld/Tamsweld";
        out.launcher = out.root + "/usr/bin/VexaLoader";
        if (status != 0)
            out.error = "cmake --install failed: " + install.Output();
        else if (access(out.app.c_str(), X_OK) != 0 || access(out.launcher.c_str(), X_OK) != 0)
            out.error = "cmake --install put no programs into " + out.root;
        return out;
    }();
    return installed;
}

const Fixture& Fat16Fixture() {
    static test::TempDir scratch;
    static const Fixture fixture = [] {
        Fixture out;
        chmod(scratch.path().c_str(), 0755);
        const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        Process make(
            {"python3", test::SourceDir() + "/tests/fixtures/fat/make_fat16.py", scratch.path()},
            {{"PATH", path}, {"LC_ALL", "C.UTF-8"}}, scratch / "make");
        if (make.WaitExit(Millis(120000)) != 0) {
            out.error = "make_fat16.py failed (mkfs.fat and mtools?): " + make.Output();
            out.toolMissing = true;
            return out;
        }
        out.image = scratch / "fat16.img";
        out.resultFile = scratch / "fat16 quick.Velmora";
        Process save({VELMORA_SCAN_DRIVER, "--quick", "--fs-type", "1", "--rounds", "1", "--save",
                      out.resultFile, out.image},
                     {{"PATH", path}, {"TZ", "UTC"}, {"VELMORA_WORK_PATH", scratch.path()}},
                     scratch / "save");
        const std::optional<int> saved = save.WaitExit(Millis(120000));
        if (saved != 0 || save.Output().find("save result 0") == std::string::npos) {
            out.error = "scan_driver --save failed: " + save.Output();
            out.resultFile.clear();
        }
        return out;
    }();
    return fixture;
}

LoopDevice::LoopDevice(const std::string& image) {
    test::RunProgram({"losetup", "--find", "--show", "--read-only", image}, &node_);
    while (!node_.empty() && (node_.back() == '\n' || node_.back() == ' '))
        node_.pop_back();
}

LoopDevice::~LoopDevice() {
    if (!node_.empty())
        test::RunProgram({"losetup", "--detach", node_});
}

std::vector<std::pair<std::string, std::vector<std::string>>> SplitRows(const std::string& rows) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    if (rows.rfind("ok ", 0) != 0)
        return out;
    const std::string rest = rows.substr(3);
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find(" ;; ", start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string row = rest.substr(start, end - start);
        const size_t equals = row.find('=');
        if (equals != std::string::npos) {
            std::vector<std::string> columns;
            size_t from = equals + 1;
            for (;;) {
                const size_t bar = row.find('|', from);
                columns.push_back(row.substr(from, bar == std::string::npos ? bar : bar - from));
                if (bar == std::string::npos)
                    break;
                from = bar + 1;
            }
            out.emplace_back(row.substr(0, equals), std::move(columns));
        }
        start = end + 4;
    }
    return out;
}

std::string RowMentioning(const std::string& rows, const std::string& text) {
    for (const auto& [path, columns] : SplitRows(rows)) {
        for (const std::string& column : columns) {
            if (column.find(text) != std::string::npos)
                return path;
        }
    }
    return {};
}

std::string RowNamed(const std::string& rows, const std::string& text) {
    for (const auto& [path, columns] : SplitRows(rows)) {
        for (const std::string& column : columns) {
            if (column == text)
                return path;
        }
    }
    return {};
}

std::string Sha256Of(const std::string& path) {
    std::string out;
    test::RunProgram({"sha256sum", "--", path}, &out);
    return out.substr(0, out.find(' '));
}

std::optional<int> QuitAnsweringAlerts(Walk& walk, Process& program) {
    walk.Ask("quit", Millis(5000));
    return AnswerAlertsUntilExit(walk, program);
}

std::optional<int> AnswerAlertsUntilExit(Walk& walk, Process& program) {
    std::optional<int> status;
    auto shown = [&](const std::string& name) {
        return walk.Ask("find " + name, Millis(2000)).rfind("ok 1 ", 0) == 0;
    };
    for (int round = 0; round < 120 && !status; ++round) {
        // An alert's buttons come up together: asked for the default one
        // first, the other one cannot be missed for having come a moment
        // later (which would save instead of leave).
        if (shown("alertDefaultButton")) {
            walk.Ask(
                shown("alertOtherButton") ? "click alertOtherButton" : "click alertDefaultButton",
                Millis(2000));
        } else if (shown("QFileDialog")) {
            walk.Ask("key QFileDialog Escape", Millis(2000));
        }
        status = program.WaitExit(Millis(1000));
    }
    return status;
}

WalkedProgram::WalkedProgram() {
    chmod(home_.path().c_str(), 0755);
}

void WalkedProgram::Start() {
    const Installed& installed = InstalledPrograms();
    ASSERT_TRUE(installed.error.empty()) << installed.error;
    x_ = std::make_unique<XServer>();
    VELMORA_REQUIRE_TOOL(!x_->display().empty(), "Xvfb");
    const std::string socket = home_ / "walk.sock";
    program_ = std::make_unique<Process>(std::vector<std::string>{installed.app, "en*loaderflag*"},
                                         ProgramEnvironment(home_.path(), x_->display(), socket),
                                         home_ / "program");
    walk_ = std::make_unique<Walk>(socket);
    ASSERT_TRUE(walk_->Connect(Millis(60000))) << program_->Output();
}

void WalkedProgram::QuitCleanly() {
    const std::optional<int> status = QuitAnsweringAlerts(*walk_, *program_);
    ASSERT_TRUE(status.has_value()) << "still running after quit: " << walk_->Ask("windows") << " "
                                    << walk_->Ask("state") << "\n"
                                    << program_->Output();
    EXPECT_EQ(*status, 0) << program_->Output();
}

std::string ShotPath(const std::string& name) {
    const std::string folder = VELMORA_SHOTS_DIR;
    mkdir(folder.c_str(), 0755);
    return folder + "/" + name + ".png";
}

std::map<std::string, std::string> ProgramEnvironment(const std::string& home,
                                                      const std::string& display,
                                                      const std::string& walkSocket) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const size_t equals = entry.find('=');
        if (equals != std::string::npos)
            env[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    for (const char* gone :
         {"QT_QPA_PLATFORM", "VELMORA_WORK_PATH", "PKEXEC_UID", "SUDO_UID", "SUDO_GID", "SUDO_USER",
          "WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_GENERIC_PLUGINS", "QT_PLUGIN_PATH", "DISPLAY"}) {
        env.erase(gone);
    }
    env["HOME"] = home;
    env["XDG_CONFIG_HOME"] = home + "/.config";
    env["XDG_RUNTIME_DIR"] = home;
    env["LANG"] = "C.UTF-8";
    if (!display.empty())
        env["DISPLAY"] = display;
    if (!walkSocket.empty()) {
        env["QT_PLUGIN_PATH"] = VELMORA_WALK_PLUGIN_DIR;
        env["QT_QPA_GENERIC_PLUGINS"] = "velmorawalk:" + walkSocket;
    }
    return env;
}

}  // namespace velmora::e2e

namespace {

// As root the program's single-instance lock is /run/lock/Tamsweld.lock,
// and its socket for a second start lies in /run/Tamsweld, which any other
// copy on this machine (another test run, a developer's) would hold too:
// this test program and the programs it starts get both folders of their
// own, in a mount namespace of their own.
class PrivateLockFolder : public ::testing::Environment {
public:
    void SetUp() override {
        if (geteuid() != 0)
            return;  // the lock then lies in XDG_RUNTIME_DIR, the test's home
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/run/lock", "tmpfs", 0, "mode=1777,size=1m") != 0 ||
            // Where the running copy listens for a second start's file.
            (mkdir("/run/Tamsweld", 0700) != 0 && errno != EEXIST) ||
            mount("tmpfs", "/run/Tamsweld", "tmpfs", 0, "mode=0700,size=1m") != 0) {
            std::fprintf(stderr,
                         "note: no private /run/lock (%s); a running copy of the program "
                         "would be taken for the first\n",
                         std::strerror(errno));
        }
    }
};

[[maybe_unused]] const ::testing::Environment* const kPrivateLock =
    ::testing::AddGlobalTestEnvironment(new PrivateLockFolder);

}  // namespace
