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

// The process entry: reads the arguments, hands over to the launcher when
// asked to and able (returning 0 at once), else runs the application with
// the plan and returns its result.
int RunEntry(int argc, char** argv, const std::function<bool()>& runLoader,
             const std::function<int(const EntryPlan&)>& runApplication);

}  // namespace velmora::app
