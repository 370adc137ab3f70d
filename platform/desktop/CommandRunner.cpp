#include "platform/desktop/CommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace velmora::platform {

namespace {

std::vector<char*> ArgPointers(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// Spawns argv with stdin from /dev/null and stdout/stderr on the given
// descriptors (-1: /dev/null), in a process group of its own.
pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd) {
    if (argv.empty() || argv[0].empty())
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    auto args = ArgPointers(argv);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

void ReadInto(int fd, std::string* text, size_t limit, bool* open) {
    char buf[8192];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
        size_t room = text->size() < limit ? limit - text->size() : 0;
        text->append(buf, std::min(room, static_cast<size_t>(n)));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        *open = false;
    }
}

void Decode(int status, CommandResult* result) {
    if (WIFEXITED(status)) {
        result->exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result->signaled = true;
    }
}

class SpawnedChild : public ChildProcess {
public:
    explicit SpawnedChild(pid_t pid) : pid_(pid) {}
    ~SpawnedChild() override { Terminate(); }
    bool Running() override {
        if (pid_ <= 0)
            return false;
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            return false;
        }
        return true;
    }
    void Terminate() override {
        if (!Running())
            return;
        kill(-pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (!Running())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(-pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    pid_t pid_;
};

}  // namespace

CommandResult SystemCommandRunner::Run(const std::vector<std::string>& argv,
                                       const CommandOptions& options) {
    CommandResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    pid_t pid = Spawn(argv, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return result;
    }
    result.started = true;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        int waitMs = -1;
        if (options.timeout.count() > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result.timedOut = true;
                kill(-pid, SIGKILL);
                break;
            }
            waitMs = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        int n = poll(fds, 2, waitMs);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        if (fds[0].revents)
            ReadInto(out[0], &result.output, options.outputLimit, &outOpen);
        if (fds[1].revents)
            ReadInto(err[0], &result.error, options.outputLimit, &errOpen);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (options.timeout.count() > 0 && !result.timedOut) {
        // The streams closed, but a program may close them and go on running.
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                result.timedOut = true;
                kill(-pid, SIGKILL);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!result.timedOut) {
            Decode(status, &result);
            return result;
        }
    }
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut)
        Decode(status, &result);
    return result;
}

bool SystemCommandRunner::Launch(const std::vector<std::string>& argv) {
    pid_t pid = Spawn(argv, -1, -1);
    if (pid < 0)
        return false;
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

std::unique_ptr<ChildProcess> SystemCommandRunner::Start(const std::vector<std::string>& argv) {
    pid_t pid = Spawn(argv, -1, -1);
    if (pid < 0)
        return nullptr;
    return std::make_unique<SpawnedChild>(pid);
}

CommandResult RecordingCommandRunner::Run(const std::vector<std::string>& argv,
                                          const CommandOptions&) {
    runs.push_back(argv);
    if (script.empty()) {
        CommandResult ok;
        ok.started = true;
        ok.exitCode = 0;
        return ok;
    }
    CommandResult next = script.front();
    script.pop_front();
    return next;
}

bool RecordingCommandRunner::Launch(const std::vector<std::string>& argv) {
    launches.push_back(argv);
    return launchSucceeds;
}

namespace {
class RecordedChild : public ChildProcess {
public:
    bool Running() override { return running_; }
    void Terminate() override { running_ = false; }

private:
    bool running_ = true;
};
}  // namespace

std::unique_ptr<ChildProcess> RecordingCommandRunner::Start(const std::vector<std::string>& argv) {
    starts.push_back(argv);
    if (!launchSucceeds)
        return nullptr;
    return std::make_unique<RecordedChild>();
}

std::string FindProgram(const std::string& name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        // An empty or relative entry would search the working folder.
        if (!dir.empty() && dir[0] == '/') {
            std::string candidate = dir + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace velmora::platform
