// One running copy of the program: an advisory lock on a file held for the
// process's life. The kernel drops it when the process ends, so a crash
// never leaves a stale lock behind.
#pragma once

#include <string>

namespace velmora::platform {

class SingleInstance {
public:
    explicit SingleInstance(const std::string& lockPath = DefaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process (or another holder in this one) has the lock,
    // or the lock file cannot be opened.
    bool Acquired() const { return fd_ >= 0; }

    // /run/lock for root, the user's runtime folder otherwise.
    static std::string DefaultLockPath();

private:
    int fd_ = -1;
};

}  // namespace velmora::platform
