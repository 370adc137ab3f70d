// Running other programs from argument vectors. No shell ever sees the
// arguments: they reach the program exactly as given, whatever they hold.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velmora::loader {

using Environment = std::map<std::string, std::string>;

// The folder of the running executable.
std::string OwnExecutableFolder();

// This process's environment.
Environment CurrentEnvironment();

// Runs `argv` (argv[0] an absolute path) with exactly `env` and waits for it.
// The exit status; 128 plus the signal number when it was killed; -1 when it
// could not be started. With `output`, its standard output is collected.
int RunAndWait(const std::vector<std::string>& argv, const Environment& env,
               std::string* output = nullptr);

// Starts `argv` with this process's environment and does not wait for it.
// True when the program was started.
bool StartDetached(const std::vector<std::string>& argv);

}  // namespace velmora::loader
