// Opens links in the user's browser and folders in their file manager. The
// program runs as root; the browser and file manager run as the user who
// started it (runuser), never as root.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/CommandRunner.h"
#include "platform/desktop/InvokingUser.h"

namespace velmora::platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // http, https and mailto addresses only.
    virtual bool OpenUrl(const std::string& url) = 0;
    // An absolute path to an existing folder.
    virtual bool OpenFolder(const std::string& path) = 0;
};

class DesktopWorkspace : public Workspace {
public:
    explicit DesktopWorkspace(CommandRunner& runner) : runner_(runner) {}
    bool OpenUrl(const std::string& url) override;
    bool OpenFolder(const std::string& path) override;

private:
    CommandRunner& runner_;
};

// Test double: remembers what it was asked to open.
class RecordingWorkspace : public Workspace {
public:
    std::vector<std::string> urls, folders;
    bool OpenUrl(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
    bool OpenFolder(const std::string& path) override {
        folders.push_back(path);
        return true;
    }
};

// The argument vector that opens `target` with the opener at `opener`: as
// `user` through runuser when we are root on their behalf, directly
// otherwise.
std::vector<std::string> OpenerCommand(const std::string& opener, const std::string& target,
                                       const std::optional<InvokingUser>& user, bool runningAsRoot);

// Whether a text is an address we hand to the browser.
bool IsOpenableUrl(const std::string& url);

}  // namespace velmora::platform
