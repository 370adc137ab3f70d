#include "platform/AppPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace velmora::platform {

std::string ExecutableFolder() {
    if (const char* env = std::getenv(kWorkPathEnv); env && *env)
        return env;
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return exe.substr(0, slash);
}

namespace {

std::string HomeOfUid(uid_t uid) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) == 0 && result && pw.pw_dir)
        return pw.pw_dir;
    return {};
}

bool ParseUid(const char* text, uid_t* out) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (*end != '\0')
        return false;
    *out = static_cast<uid_t>(v);
    return true;
}

}  // namespace

std::string InvokingUserHome() {
    uid_t uid = 0;
    if (ParseUid(std::getenv("PKEXEC_UID"), &uid) || ParseUid(std::getenv("SUDO_UID"), &uid)) {
        std::string home = HomeOfUid(uid);
        if (!home.empty())
            return home;
    }
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    return HomeOfUid(getuid());
}

bool InvokingUserIds(uid_t* uid, gid_t* gid) {
    uid_t u = 0;
    const bool pkexec = ParseUid(std::getenv("PKEXEC_UID"), &u);
    if (!pkexec && !ParseUid(std::getenv("SUDO_UID"), &u))
        return false;
    gid_t g = 0;
    uid_t parsed = 0;
    if (!pkexec && ParseUid(std::getenv("SUDO_GID"), &parsed)) {
        g = static_cast<gid_t>(parsed);
    } else {
        long size = sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
        struct passwd pw {};
        struct passwd* result = nullptr;
        if (getpwuid_r(u, &pw, buf.data(), buf.size(), &result) != 0 || !result)
            return false;
        g = pw.pw_gid;
    }
    if (uid)
        *uid = u;
    if (gid)
        *gid = g;
    return true;
}

}  // namespace velmora::platform
