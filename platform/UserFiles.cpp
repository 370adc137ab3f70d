#include "platform/UserFiles.h"

#include <fcntl.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/AppPaths.h"
#include "platform/FdIo.h"

namespace velmora::platform {

namespace {

std::atomic<SyncFunction> gSync{nullptr};
thread_local int gOwnerScopes = 0;

// Closes a descriptor without touching errno.
void CloseQuietly(int fd) {
    if (fd < 0)
        return;
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

bool IsPlainPart(const std::string& part) {
    return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos;
}

}  // namespace

AsProcessOwner::AsProcessOwner() {
    ++gOwnerScopes;
}

AsProcessOwner::~AsProcessOwner() {
    --gOwnerScopes;
}

AsFileUser::AsFileUser() {
    if (gOwnerScopes > 0 || ::geteuid() != 0)
        return;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!InvokingUserIds(&uid, &gid) || uid == 0)
        return;
    // The group first: it may still be changed once the uid is the user's.
    savedGid_ = static_cast<gid_t>(::setfsgid(gid));
    savedUid_ = static_cast<uid_t>(::setfsuid(uid));
    active_ = true;
}

AsFileUser::~AsFileUser() {
    if (!active_)
        return;
    const int saved = errno;
    ::setfsuid(savedUid_);
    ::setfsgid(savedGid_);
    errno = saved;
}

int OpenFolderNoFollow(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        errno = EINVAL;
        return -1;
    }
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t pos = 1;
    while (pos < path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            CloseQuietly(fd);
            errno = EINVAL;
            return -1;
        }
        const int next =
            ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        CloseQuietly(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    return fd;
}

int OpenFolderBelow(int dirFd, const std::string& rel, bool make) {
    int fd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t slash = rel.find('/', pos);
        if (slash == std::string::npos)
            slash = rel.size();
        const std::string part = rel.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty())
            continue;
        if (!IsPlainPart(part)) {
            CloseQuietly(fd);
            errno = EINVAL;
            return -1;
        }
        if (make && ::mkdirat(fd, part.c_str(), 0755) != 0 && errno != EEXIST) {
            CloseQuietly(fd);
            return -1;
        }
        const int next =
            ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        CloseQuietly(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    return fd;
}

int CreateNewFileAt(int dirFd, const std::string& name, mode_t mode) {
    if (!IsPlainPart(name)) {
        errno = EINVAL;
        return -1;
    }
    const int fd =
        ::openat(dirFd, name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        CloseQuietly(fd);
        return -1;
    }
    return fd;
}

std::string PathOfDescriptor(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink(link, target, PATH_MAX);
    if (n <= 0 || target[0] != '/')
        return {};
    return std::string(target, static_cast<size_t>(n));
}

bool PathIsBelow(const std::string& path, const std::string& root) {
    if (root.empty() || path.empty() || root[0] != '/' || path[0] != '/')
        return false;
    if (root == "/")
        return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

FolderCheck CheckFolderForUser(const std::string& path, std::string* existing,
                               std::string* missing) {
    if (path.empty() || path[0] != '/')
        return FolderCheck::kNotAbsolute;
    uid_t user = 0;
    gid_t group = 0;
    const bool invoked = InvokingUserIds(&user, &group);
    AsFileUser as;
    // Every part as given, a link's owner checked where the walk meets one
    // (the kernel's own rule for links in shared folders, applied to all).
    std::string walked;
    std::string rest;
    size_t pos = 1;
    bool ended = false;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (ended) {
            if (part == "..")
                return FolderCheck::kNoParent;
            rest += (rest.empty() ? "" : "/") + part;
            continue;
        }
        const std::string next = walked + "/" + part;
        struct stat st {};
        if (::lstat(next.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return errno == EACCES ? FolderCheck::kNoPermission : FolderCheck::kNoParent;
            if (part == "..")
                return FolderCheck::kNoParent;
            ended = true;
            rest = part;
            continue;
        }
        if (S_ISLNK(st.st_mode) && st.st_uid != 0 && !(invoked && st.st_uid == user))
            return FolderCheck::kForeignLink;
        walked = next;
    }
    const std::string there = walked.empty() ? "/" : walked;
    char* real = ::realpath(there.c_str(), nullptr);
    if (real == nullptr)
        return errno == EACCES ? FolderCheck::kNoPermission : FolderCheck::kNoParent;
    const std::string resolved = real;
    std::free(real);
    struct stat st {};
    if (::stat(resolved.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return FolderCheck::kNotAFolder;
    if (::faccessat(AT_FDCWD, resolved.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return FolderCheck::kNoPermission;
    if (existing)
        *existing = resolved;
    if (missing)
        *missing = rest;
    return FolderCheck::kUsable;
}

void SetSyncFunctionForTests(SyncFunction sync) {
    gSync.store(sync);
}

int SyncDescriptor(int fd) {
    if (SyncFunction sync = gSync.load())
        return sync(fd);
    return ::fsync(fd);
}

bool RemoveMadeFile(int dirFd, const std::string& name, const struct stat& made) {
    struct stat now {};
    if (dirFd < 0 || !IsPlainPart(name) ||
        ::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISREG(now.st_mode) || now.st_dev != made.st_dev || now.st_ino != made.st_ino)
        return false;
    return ::unlinkat(dirFd, name.c_str(), 0) == 0;
}

ReplacingFile::~ReplacingFile() {
    Abandon();
}

bool ReplacingFile::Begin(const std::string& target, mode_t mode, bool replaceLink) {
    Abandon();
    const size_t slash = target.rfind('/');
    if (target.empty() || target[0] != '/' || slash == std::string::npos) {
        errno = EINVAL;
        return false;
    }
    const std::string folder = slash == 0 ? "/" : target.substr(0, slash);
    name_ = target.substr(slash + 1);
    if (!IsPlainPart(name_)) {
        errno = EINVAL;
        return false;
    }
    AsFileUser as;
    dirFd_ = OpenFolderNoFollow(folder);
    if (dirFd_ < 0)
        return false;
    struct stat old {};
    if (::fstatat(dirFd_, name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(old.st_mode) &&
        !(replaceLink && S_ISLNK(old.st_mode))) {
        CloseQuietly(dirFd_);
        dirFd_ = -1;
        errno = S_ISDIR(old.st_mode) ? EISDIR : EEXIST;
        return false;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(random()));
        // A hidden name, cut so that the suffix always fits.
        std::string stem = "." + name_;
        if (stem.size() + sizeof suffix > NAME_MAX)
            stem.resize(NAME_MAX - sizeof suffix);
        tempName_ = stem + suffix;
        fd_ = CreateNewFileAt(dirFd_, tempName_, mode);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0 || ::fstat(fd_, &made_) != 0 || ::fchmod(fd_, mode) != 0) {
        Abandon();
        return false;
    }
    return true;
}

bool ReplacingFile::Commit() {
    if (fd_ < 0 || dirFd_ < 0) {
        errno = EBADF;
        return false;
    }
    AsFileUser as;
    bool ok = SyncDescriptor(fd_) == 0;
    int error = errno;
    if (::close(fd_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    fd_ = -1;
    if (ok && ::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        Abandon();
        errno = error;
        return false;
    }
    tempName_.clear();
    // The rename is on the disk only once its folder is.
    ok = SyncDescriptor(dirFd_) == 0;
    error = errno;
    CloseQuietly(dirFd_);
    dirFd_ = -1;
    errno = error;
    return ok;
}

void ReplacingFile::Abandon() {
    if (fd_ >= 0)
        CloseQuietly(fd_);
    fd_ = -1;
    if (dirFd_ >= 0) {
        if (!tempName_.empty()) {
            AsFileUser as;
            const int saved = errno;
            RemoveMadeFile(dirFd_, tempName_, made_);
            errno = saved;
        }
        CloseQuietly(dirFd_);
    }
    dirFd_ = -1;
    tempName_.clear();
}

std::string ResolveUserFileTarget(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos ||
        !IsPlainPart(path.substr(slash + 1))) {
        errno = EINVAL;
        return {};
    }
    std::string existing;
    std::string missing;
    const FolderCheck check =
        CheckFolderForUser(slash == 0 ? "/" : path.substr(0, slash), &existing, &missing);
    if (check != FolderCheck::kUsable || !missing.empty()) {
        errno = check == FolderCheck::kNoPermission || check == FolderCheck::kForeignLink ? EACCES
                : check == FolderCheck::kNotAFolder                                       ? ENOTDIR
                                                                                          : ENOENT;
        return {};
    }
    return (existing == "/" ? "" : existing) + path.substr(slash);
}

bool ReplaceUserFile(const std::string& path, const std::string& bytes, mode_t mode) {
    const std::string target = ResolveUserFileTarget(path);
    if (target.empty())
        return false;
    ReplacingFile file;
    if (!file.Begin(target, mode, true))
        return false;
    if (WriteRetrying(file.fd(), bytes.data(), bytes.size()).failed) {
        const int error = errno;
        file.Abandon();
        errno = error;
        return false;
    }
    return file.Commit();
}

}  // namespace velmora::platform
