#include "platform/FileCopy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/FdIo.h"

namespace velmora::platform {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close (a delayed write error) is seen.
    int release_close() {
        int r = close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

// Extended attributes are best effort where the destination file system
// refuses them (ENOTSUP), but any other failure is reported.
int CopyXattrs(int in, int out) {
    ssize_t len = flistxattr(in, nullptr, 0);
    if (len < 0)
        return errno == ENOTSUP ? 0 : -1;
    if (len == 0)
        return 0;
    std::vector<char> names(static_cast<size_t>(len));
    len = flistxattr(in, names.data(), names.size());
    if (len < 0)
        return -1;
    for (size_t i = 0; i < static_cast<size_t>(len);) {
        const char* name = names.data() + i;
        i += std::strlen(name) + 1;
        ssize_t vlen = fgetxattr(in, name, nullptr, 0);
        if (vlen < 0)
            continue;
        std::vector<char> value(static_cast<size_t>(vlen) + 1);
        vlen = fgetxattr(in, name, value.data(), value.size());
        if (vlen < 0)
            continue;
        if (fsetxattr(out, name, value.data(), static_cast<size_t>(vlen), 0) != 0 &&
            errno != ENOTSUP && errno != EPERM)
            return -1;
    }
    return 0;
}

int CopyData(int in, int out, off_t size) {
    off_t done = 0;
    bool useRange = true;
    std::vector<char> buf;
    while (done < size) {
        ssize_t n;
        if (useRange) {
            n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
            if (n < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                useRange = false;
                if (lseek(in, done, SEEK_SET) < 0 || lseek(out, done, SEEK_SET) < 0)
                    return -1;
                continue;
            }
        } else {
            if (buf.empty())
                buf.resize(1 << 20);
            n = read(in, buf.data(), buf.size());
            if (n > 0 && WriteRetrying(out, buf.data(), static_cast<size_t>(n)).failed)
                return -1;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;  // the source shrank while we copied
        done += n;
    }
    return 0;
}

int CopyFile(const std::string& from, const std::string& to, const struct stat& st) {
    Fd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return -1;
    Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (out.get() < 0)
        return -1;
    if (CopyData(in.get(), out.get(), st.st_size) != 0)
        return -1;
    if (fchmod(out.get(), st.st_mode & 07777) != 0)
        return -1;
    if (CopyXattrs(in.get(), out.get()) != 0)
        return -1;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(out.get(), times) != 0)
        return -1;
    return out.release_close() == 0 ? 0 : -1;
}

int CopyOne(const std::string& from, const std::string& to, int depth) {
    // A tree deeper than this is a loop through bind mounts or a damaged file system.
    if (depth > 256) {
        errno = ELOOP;
        return -1;
    }
    struct stat st {};
    if (lstat(from.c_str(), &st) != 0)
        return -1;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1);
        ssize_t n = readlink(from.c_str(), target.data(), target.size() - 1);
        if (n < 0)
            return -1;
        target[static_cast<size_t>(n)] = '\0';
        return symlink(target.data(), to.c_str());
    }
    if (S_ISREG(st.st_mode))
        return CopyFile(from, to, st);
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTSUP;
        return -1;
    }
    if (mkdir(to.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    DIR* dir = opendir(from.c_str());
    if (!dir)
        return -1;
    int rc = 0;
    while (struct dirent* e = readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        if (CopyOne(from + "/" + e->d_name, to + "/" + e->d_name, depth + 1) != 0) {
            rc = -1;
            break;
        }
    }
    int saved = errno;
    closedir(dir);
    if (rc != 0) {
        errno = saved;
        return -1;
    }
    Fd out(open(to.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd in(open(from.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (out.get() < 0 || in.get() < 0)
        return -1;
    if (fchmod(out.get(), st.st_mode & 07777) != 0)
        return -1;
    if (CopyXattrs(in.get(), out.get()) != 0)
        return -1;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    return futimens(out.get(), times);
}

}  // namespace

int CopyTree(const std::string& from, const std::string& to) {
    return CopyOne(from, to, 0);
}

}  // namespace velmora::platform
