// Helpers every benchmark shares: a clock, the median of rounds, and running
// a peer tool or fixture script from an argument vector (never a shell).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs a program with its output thrown away, or its standard output written
// to `stdoutPath`. Times are UTC and mtools skips its geometry check, so
// fixture scripts and peers give the same listings on every machine. The
// exit status, or -1 when it did not exit.
inline int RunProgram(const std::vector<std::string>& args, const char* stdoutPath = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int sink = stdoutPath != nullptr
                             ? ::open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                             : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (sink >= 0)
            dup2(sink, 1);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0)
            dup2(null, 2);
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        setenv("TZ", "UTC", 1);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
