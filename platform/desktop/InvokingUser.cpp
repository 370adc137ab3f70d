#include "platform/desktop/InvokingUser.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/AppPaths.h"
#include "platform/FdIo.h"
#include "platform/UserFiles.h"

namespace velmora::platform {

std::optional<InvokingUser> FindInvokingUser() {
    InvokingUser user;
    if (!InvokingUserIds(&user.uid, &user.gid))
        return std::nullopt;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (getpwuid_r(user.uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return std::nullopt;
    user.name = pw.pw_name ? pw.pw_name : "";
    user.home = pw.pw_dir ? pw.pw_dir : "";
    if (user.name.empty())
        return std::nullopt;
    return user;
}

std::string InvokingUserConfigFolder() {
    if (auto user = FindInvokingUser(); user && !user->home.empty())
        return user->home + "/.config";
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return xdg;
    return InvokingUserHome() + "/.config";
}

AsInvokingUser::AsInvokingUser() {
    if (geteuid() != 0)
        return;
    auto user = FindInvokingUser();
    if (!user || user->uid == 0)
        return;
    // The group first: once the uid is the user's, the kernel has dropped the
    // file capabilities, though changing the group is still allowed.
    savedGid_ = static_cast<gid_t>(setfsgid(user->gid));
    savedUid_ = static_cast<uid_t>(setfsuid(user->uid));
    active_ = true;
}

AsInvokingUser::~AsInvokingUser() {
    if (!active_)
        return;
    setfsuid(savedUid_);
    setfsgid(savedGid_);
}

namespace {

bool MakeFolders(const std::string& path) {
    if (path.empty())
        return false;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash)))
        return false;
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

bool MakeFolderForInvokingUser(const std::string& path) {
    AsInvokingUser as;
    return MakeFolders(path);
}

// The same road as every other file written for the user: a link planted
// at the file itself is refused, not followed.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode) {
    return ReplaceUserFile(path, bytes, mode);
}

}  // namespace velmora::platform
