// Runs outside programs from argument vectors, never through a shell, so no
// name or path that came from a disk or a user can turn into a command.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace velmora::platform {

struct CommandResult {
    bool started = false;   // the program could be run at all
    bool timedOut = false;  // killed after the time-out
    bool signaled = false;  // ended by a signal
    int exitCode = -1;
    std::string output;  // standard output
    std::string error;   // standard error
    bool Succeeded() const { return started && !timedOut && !signaled && exitCode == 0; }
};

struct CommandOptions {
    // Zero waits as long as the program runs.
    std::chrono::milliseconds timeout{0};
    // What is kept of each output stream; the rest is read and dropped so the
    // program never blocks on a full pipe.
    size_t outputLimit = 16u << 20;
};

// A program started in its own process group, ended with the whole group.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    virtual bool Running() = 0;
    // Sends SIGTERM to the group, then SIGKILL when it does not end, and reaps.
    virtual void Terminate() = 0;
};

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs argv[0] (searched on PATH) and waits for it.
    virtual CommandResult Run(const std::vector<std::string>& argv,
                              const CommandOptions& options = {}) = 0;
    // Starts a program that outlives the call and is reaped in the background
    // (a browser, a file manager). False when it could not be started.
    virtual bool Launch(const std::vector<std::string>& argv) = 0;
    // Starts a program the caller ends; null when it could not be started.
    virtual std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv) = 0;
};

class SystemCommandRunner : public CommandRunner {
public:
    CommandResult Run(const std::vector<std::string>& argv,
                      const CommandOptions& options = {}) override;
    bool Launch(const std::vector<std::string>& argv) override;
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv) override;
};

// Test double: records every argument vector and answers Run from a script
// (a default success with no output once the script is used up).
class RecordingCommandRunner : public CommandRunner {
public:
    std::vector<std::vector<std::string>> runs, launches, starts;
    std::deque<CommandResult> script;
    bool launchSucceeds = true;

    CommandResult Run(const std::vector<std::string>& argv, const CommandOptions& = {}) override;
    bool Launch(const std::vector<std::string>& argv) override;
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv) override;
};

// The absolute path of a program found on PATH, or "" (names with a slash
// are taken as they are when executable).
std::string FindProgram(const std::string& name);

}  // namespace velmora::platform
