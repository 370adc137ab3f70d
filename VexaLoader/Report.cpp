#include "Report.h"

#include <csignal>
#include <cstring>

namespace velmora::loader {

std::optional<std::string> LaunchFailureMessage(int status) {
    if (status == 0 || status == 126)
        return std::nullopt;
    if (status == -1)
        return std::string(
            "Velmora could not be started: pkexec, which asks for the administrator "
            "password, could not be run. Check that the polkit package (pkexec) is installed.");
    if (status == 127)
        return std::string(
            "Velmora was not started: the administrator right was refused, or no "
            "authentication agent could ask for the password in this session.");
    if (status > 128 && status < 128 + 65) {
        const int signal = status - 128;
        const char* name = strsignal(signal);
        return "Velmora ended abnormally (" + std::string(name ? name : "signal") + ", signal " +
               std::to_string(signal) +
               "). Files already recovered are kept; a scan that was running has to be started "
               "again.";
    }
    return "Velmora could not start or ended with an error (exit status " + std::to_string(status) +
           "). Its messages are in the system log or the terminal it "
           "was started from.";
}

std::string UnreachableDisplayMessage(const std::string& x11, const std::string& wayland,
                                      const std::string& toolkitMessage) {
    std::string where;
    if (!wayland.empty())
        where = "WAYLAND_DISPLAY=" + wayland;
    if (!x11.empty())
        where += (where.empty() ? "" : " and ") + std::string("DISPLAY=") + x11;
    if (where.empty())
        where = "none is set";
    std::string message = "Velmora cannot open its windows: the display it was given (" + where +
                          ") cannot be reached.\n"
                          "Start Velmora from the desktop's menu in the session you are looking "
                          "at, or check that its display server runs and lets this user in.\n";
    // Its first sentence only: what follows is the advice to reinstall.
    const std::string first = toolkitMessage.substr(0, toolkitMessage.find_first_of(".\n"));
    if (!first.empty())
        message += "(The window toolkit said: " + first + ".)\n";
    return message;
}

}  // namespace velmora::loader
