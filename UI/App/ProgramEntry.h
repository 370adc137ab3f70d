// What the application's arguments ask for. The launcher starts it with
// two: the interface language with the loader flag appended, and the path
// of a result file to open (or nothing). Opened any other way, it hands
// over to the launcher, which obtains the administrator right first.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::app {

inline constexpr const char* kLoaderFlag = "*loaderflag*";

struct EntryPlan {
    // Start the launcher; when that works the process ends with 0.
    bool startLauncher = false;
    // The interface language; nothing when the arguments name none.
    std::optional<std::string> language;
    // The result file to open at start, or empty.
    std::string rsfPath;
};

// `args` are the arguments after the program's own path.
EntryPlan ParseEntryArgs(const std::vector<std::string>& args);

// Starts the launcher installed with us (an argument vector, our own
// environment). True when it started.
bool WQManRunLoader();

// Reads an environment variable (nullptr when unset).
using EnvLookup = std::function<const char*(const char*)>;

// What to tell the user when there is no display for the windows: no X
// display, no Wayland display and no platform named for the toolkit
// (QT_QPA_PLATFORM). Nothing when there is one.
std::optional<std::string> MissingDisplayMessage(const EnvLookup& env);

// What to tell the user when the display named in the environment is set
// but cannot be reached (no server there, no right to it): the toolkit's
// own words are `toolkitMessage`, which on its own would send the user to
// reinstall the program.
std::string UnreachableDisplayMessage(const EnvLookup& env, const std::string& toolkitMessage);

// The process entry: reads the arguments, hands over to the launcher when
// asked to and able (returning 0 at once), else keeps the session awake
// (`preventSleep`, once, for as long as the caller holds what it took) and
// runs the application with the plan and returns its result. Without a
// display it says so and returns 1 instead of starting the windows. `env`
// defaults to the process's own.
int RunEntry(int argc, char** argv, const std::function<bool()>& runLoader,
             const std::function<int(const EntryPlan&)>& runApplication,
             const EnvLookup& env = nullptr, const std::function<void()>& preventSleep = nullptr);

}  // namespace velmora::app
