#include "platform/desktop/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace velmora::platform {

SingleInstance::SingleInstance(const std::string& lockPath) {
    // O_NOFOLLOW: a link planted at the lock path must not make root open
    // (and create) some other file.
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd_, 0) == 0 && pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
        // The pid is only a hint for people; the lock is what counts.
    }
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0)
        close(fd_);
}

std::string SingleInstance::DefaultLockPath() {
    if (geteuid() == 0)
        return "/run/lock/Tamsweld.lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return std::string(runtime) + "/Tamsweld.lock";
    return "/tmp/Tamsweld-" + std::to_string(geteuid()) + ".lock";
}

}  // namespace velmora::platform
