// Starting the application with the administrator right, and choosing the
// language it runs in.
//
// The right comes from pkexec. When the polkit action installed with the
// package names the application's executable, pkexec runs it directly:
// the action's allow_gui keeps DISPLAY and XAUTHORITY, pkexec's own way of
// letting a graphical program reach the user's display, and the user sees
// the action's own message. Anywhere else (a build tree) only pkexec's
// generic action applies, which keeps no display: the program then runs
// through env with the two variables given as its assignments. Either way
// the application sees only its own arguments: the language with the
// loader flag, and the result file when there is one.
#pragma once

#include <string>
#include <vector>

#include "PrivateData.h"
#include "Process.h"

namespace velmora::loader {

inline constexpr const char* kLoaderFlag = "*loaderflag*";
inline constexpr const char* kPolicyActionId = "org.velmora.tamsweld.run";

// Where the helpers live; tests put doubles there.
struct LaunchTools {
    std::string pkexec = "/usr/bin/pkexec";
    std::string env = "/usr/bin/env";
    std::string xhost = "/usr/bin/xhost";
    std::string polkitActions = "/usr/share/polkit-1/actions";
};

struct LaunchPlan {
    std::vector<std::string> argv;  // empty when nothing can be started
    Environment env;                // what pkexec runs with
    bool grantXWayland = false;     // a Wayland session with an X display
    std::string error;
};

// The system language of `env` as the settings name languages: the first
// of LANGUAGE's list, LC_ALL, LC_MESSAGES and LANG that is set, without its
// character set and modifier, "_" as "-" (zh_HK.UTF-8 gives zh-HK). China's
// and Singapore's Chinese is named by its script, zh-Hans. C and POSIX, or
// nothing set, give en.
std::string SystemLanguage(const Environment& env);

// The language code to hand the application (see the .cpp for the rules);
// may remember the choice under "CurLanguage" in the settings overlay.
std::string GetCurrentLanaguage(const std::string& systemLanguage, PrivateData& settings);

// True when an installed polkit action names `appPath` as its program.
bool PolicyNamesProgram(const std::string& actionsFolder, const std::string& appPath);

// The exact pkexec call that runs `appPath` with `language` and, when not
// empty, `rsfPath`.
LaunchPlan PlanLaunch(const std::string& appPath, const std::string& language,
                      const std::string& rsfPath, const Environment& env, const LaunchTools& tools);

// Runs the plan: on a Wayland session root is let into the X display for
// the program's life (and only when it was not let in already, let out
// after). pkexec's status: 126 or 127 when the right was refused or the
// dialog dismissed, in which case the application never ran; otherwise
// the application's own exit status; -1 when pkexec could not be started.
int RunTool(const LaunchPlan& plan, const LaunchTools& tools);

// The application beside us: Tamsweld in our folder (a build tree), or
// where the package puts it relative to us. Empty when neither exists.
std::string FindApplication(const std::string& launcherFolder);

}  // namespace velmora::loader
