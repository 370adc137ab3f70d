// The real program as a user starts it, for the end-to-end tests: installed
// into a scratch root (cmake --install with DESTDIR), started with the
// launcher's argument vector (without pkexec) on an X server of the test's
// own (Xvfb), and driven by object names through the walk plugin
// (walk/WalkPlugin.cpp) that the test loads into it. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace velmora::e2e {

using Millis = std::chrono::milliseconds;

// A process started from an argument vector with an environment of its
// own; its standard output and error go to files.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& outputPrefix);
    ~Process();  // stops it (SIGKILL) when it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool Running();
    // The exit code once it has ended within `limit`; nothing when it still
    // runs then. A death by a signal is 128 + the signal.
    std::optional<int> WaitExit(Millis limit);
    void Kill();
    std::string Output() const;  // standard output and error so far

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string outPath_, errPath_;
};

// Xvfb on a display number it picks itself (-displayfd).
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    // ":N", or empty when it did not start.
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// A line-by-line conversation with the walk plugin inside the program.
class Walk {
public:
    explicit Walk(std::string socketPath) : path_(std::move(socketPath)) {}
    ~Walk();
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    // Connects, retrying until `limit` (the program is starting).
    bool Connect(Millis limit);
    // One command and its answer; "error no answer" when none came.
    std::string Ask(const std::string& command, Millis limit = Millis(20000));
    // Until the widget `name` is visible (and enabled when asked for).
    bool WaitVisible(const std::string& name, Millis limit, bool enabled = false);
    bool WaitGone(const std::string& name, Millis limit);

private:
    std::string path_;
    int fd_ = -1;
    std::string buffered_;
    // Answers still owed to asks that gave up waiting: they are skipped when
    // they come, so that a late answer is never taken for the next ask's.
    int owed_ = 0;
};

// The scratch root with the installed programs, made once per test program.
struct Installed {
    std::string root;      // the DESTDIR
    std::string app;       // <root>/usr/lib/tamsweld/Tamsweld
    std::string launcher;  // <root>/usr/bin/VexaLoader
    std::string error;     // why it is not there
};
const Installed& InstalledPrograms();

// The environment the program gets: the invoking user's folders inside
// `home`, the display, and the walk plugin listening on `walkSocket` (none
// when empty). Settings a test run leaves around (offscreen platform, work
// path override, sudo/pkexec users) are not passed on.
std::map<std::string, std::string> ProgramEnvironment(const std::string& home,
                                                      const std::string& display,
                                                      const std::string& walkSocket);

// The FAT16 fixture image (tests/fixtures/fat/make_fat16.py) and a result
// file of its quick scan saved by the scan driver, made once per test
// program; `error` says why one is missing.
struct Fixture {
    std::string image;
    std::string resultFile;
    std::string error;
    bool toolMissing = false;  // the image could not be made here
};
const Fixture& Fat16Fixture();

// Skips the test when the fixture could not be made for want of a tool
// (fails it where tools are required); fails it when anything else failed.
#define VELMORA_REQUIRE_FIXTURE(fixture)                                    \
    do {                                                                    \
        if (!(fixture).error.empty()) {                                     \
            if ((fixture).toolMissing && !::velmora::test::ToolsRequired()) \
                GTEST_SKIP() << (fixture).error;                            \
            FAIL() << (fixture).error;                                      \
        }                                                                   \
    } while (0)

// A fixture image attached read-only to a loop device for the holder's life.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& node() const { return node_; }
    // The kernel's name ("loop3"), as the disk page lists the device.
    std::string name() const { return node_.substr(node_.rfind('/') + 1); }

private:
    std::string node_;
};

// Declares `loop`, `image` attached to it for the rest of the test; fails
// the test when losetup cannot attach it.
#define VELMORA_ATTACH_LOOP(loop, image) \
    LoopDevice loop(image);              \
    ASSERT_FALSE((loop).node().empty()) << "losetup could not attach " << (image)

// The rows of a "rows" answer ("ok PATH=COL|COL ;; PATH=..."): the path of
// the first row one of whose columns mentions `text` (RowMentioning) or is
// exactly `text` (RowNamed); empty when none.
std::string RowMentioning(const std::string& rows, const std::string& text);
// Each row of a "rows" answer as its path and its columns.
std::vector<std::pair<std::string, std::vector<std::string>>> SplitRows(const std::string& rows);
std::string RowNamed(const std::string& rows, const std::string& text);

std::string Sha256Of(const std::string& path);

// Quits the program and answers the browser's questions on the way out (to
// stop a scan still running: yes; to save what was found: leave); the exit
// code, or nothing when it still runs after two minutes.
std::optional<int> QuitAnsweringAlerts(Walk& walk, Process& program);
// The same answers to whatever the program asks on its way out, once the
// user has started it on its way (closed its window, say).
std::optional<int> AnswerAlertsUntilExit(Walk& walk, Process& program);

// The program as each walk starts it: on an X server of its own, for an
// invoking user whose home (made at construction, so that a test can put
// folders in it first) the program can enter, with the walk plugin
// connected. Start it with VELMORA_START_WALK.
class WalkedProgram {
public:
    WalkedProgram();
    // Fails the test when the program is not installed or the walk does not
    // connect; skips it without Xvfb (fails it where tools are required).
    void Start();
    // Quits it (see QuitAnsweringAlerts); the test fails unless the program
    // ends, with 0.
    void QuitCleanly();

    const test::TempDir& home() const { return home_; }
    Process& program() { return *program_; }
    Walk& walk() { return *walk_; }

private:
    test::TempDir home_;
    std::unique_ptr<XServer> x_;
    std::unique_ptr<Process> program_;
    std::unique_ptr<Walk> walk_;
};

// Starts `run` and leaves the test when that failed or skipped it.
#define VELMORA_START_WALK(run)                 \
    do {                                        \
        ASSERT_NO_FATAL_FAILURE((run).Start()); \
        if (::testing::Test::IsSkipped())       \
            return;                             \
    } while (0)

// Where the tests put their pictures of the windows (looked at by eye).
std::string ShotPath(const std::string& name);

// Polls `done` every 50 ms until it holds or `limit` has passed.
bool WaitUntil(const std::function<bool()>& done, Millis limit);

}  // namespace velmora::e2e
