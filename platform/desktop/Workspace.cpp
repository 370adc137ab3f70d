#include "platform/desktop/Workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace velmora::platform {

bool IsOpenableUrl(const std::string& url) {
    static const char* const kSchemes[] = {"http://", "https://", "mailto:"};
    for (const char* scheme : kSchemes) {
        const std::string prefix = scheme;
        if (url.size() > prefix.size() && url.compare(0, prefix.size(), prefix) == 0) {
            for (unsigned char c : url) {
                if (c < 0x21 || c == 0x7f)
                    return false;
            }
            return true;
        }
    }
    return false;
}

std::vector<std::string> OpenerCommand(const std::string& opener, const std::string& target,
                                       const std::optional<InvokingUser>& user,
                                       bool runningAsRoot) {
    if (runningAsRoot && user && user->uid != 0) {
        // pkexec clears the environment: the user's browser or file manager
        // finds their session through their runtime folder.
        const std::string runtime = "/run/user/" + std::to_string(user->uid);
        return {"runuser",
                "-u",
                user->name,
                "--",
                "/usr/bin/env",
                "XDG_RUNTIME_DIR=" + runtime,
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus",
                opener,
                target};
    }
    return {opener, target};
}

namespace {

bool OpenAsUser(CommandRunner& runner, const std::string& target) {
    // Resolved here: runuser may give the user another PATH.
    std::string opener = FindProgram("xdg-open");
    if (opener.empty()) {
        std::fprintf(stderr, "Workspace: xdg-open is not installed; cannot open %s\n",
                     target.c_str());
        return false;
    }
    return runner.Launch(OpenerCommand(opener, target, FindInvokingUser(), geteuid() == 0));
}

}  // namespace

bool DesktopWorkspace::OpenUrl(const std::string& url) {
    if (!IsOpenableUrl(url))
        return false;
    return OpenAsUser(runner_, url);
}

bool DesktopWorkspace::OpenFolder(const std::string& path) {
    struct stat st {};
    if (path.empty() || path[0] != '/' || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return OpenAsUser(runner_, path);
}

}  // namespace velmora::platform
