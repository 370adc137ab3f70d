#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace velmora::loader {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int Spawn(const std::vector<std::string>& argv, char** envp, int stdoutFd, pid_t* pid) {
    if (argv.empty() || argv[0].empty() || argv[0][0] != '/')
        return EINVAL;
    std::vector<std::string> args = argv;
    auto argp = Pointers(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    const int rc = posix_spawn(pid, args[0].c_str(), &actions, nullptr, argp.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::string OwnExecutableFolder() {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == 0 ? "/" : exe.substr(0, slash);
}

Environment CurrentEnvironment() {
    Environment env;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq)
            env.emplace(std::string(*e, static_cast<size_t>(eq - *e)), std::string(eq + 1));
    }
    return env;
}

int RunAndWait(const std::vector<std::string>& argv, const Environment& env, std::string* output) {
    std::vector<std::string> entries;
    for (const auto& [name, value] : env)
        entries.push_back(name + "=" + value);
    auto envp = Pointers(entries);

    int fds[2] = {-1, -1};
    if (output && pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    pid_t pid = 0;
    const int rc = Spawn(argv, envp.data(), fds[1], &pid);
    if (fds[1] >= 0)
        close(fds[1]);
    if (rc != 0) {
        if (fds[0] >= 0)
            close(fds[0]);
        std::fprintf(stderr, "VexaLoader: cannot start %s: %s\n",
                     argv.empty() ? "" : argv[0].c_str(), std::strerror(rc));
        return -1;
    }
    if (output) {
        output->clear();
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n > 0)
                output->append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                break;
        }
        close(fds[0]);
    }
    return Wait(pid);
}

bool StartDetached(const std::vector<std::string>& argv) {
    pid_t pid = 0;
    const int rc = Spawn(argv, environ, -1, &pid);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv.empty() ? "" : argv[0].c_str(),
                     std::strerror(rc));
        return false;
    }
    // Nobody waits for it: it outlives us and init reaps it.
    return true;
}

}  // namespace velmora::loader
