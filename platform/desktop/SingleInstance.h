// One running copy of the program: an advisory lock on a file held for the
// process's life. The kernel drops it when the process ends, so a crash
// never leaves a stale lock behind.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

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

// The user a program started through pkexec or sudo acts for; the process's
// own user otherwise.
uid_t InvokingUidOrSelf();

// How a second start gives the running copy a result file to open: a local
// socket in a folder that only the program's user may write, so no other
// user can stand in for the running copy or put a socket of their own there.
// The running copy listens on a thread of its own (the interface thread
// never waits on a client that stalls); it takes a path only from a peer
// acting for the same invoking user (the kernel's peer credentials: that
// user, or root speaking for that user).
class InstanceChannel {
public:
    // Called on the channel's thread with the absolute path handed over.
    using Handler = std::function<void(const std::string& path)>;

    // Listens at `socketPath` for peers acting for `invokingUid`. Only the
    // holder of the single-instance lock may call this: a stale socket
    // left by a crash is replaced.
    InstanceChannel(std::string socketPath, uid_t invokingUid, Handler onPath);
    // Stops listening and joins the thread.
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    bool Listening() const { return listenFd_ >= 0; }

    enum class Handover {
        Taken,     // the running copy has the path
        Refused,   // it answered, but not for this user or not this path
        NoAnswer,  // nobody listens, or no answer in time
    };
    // Gives `path` (made absolute against the working folder) to the copy
    // listening at `socketPath`, acting for `invokingUid`. Waits at most
    // `timeoutMs` in all.
    static Handover HandOver(const std::string& socketPath, uid_t invokingUid,
                             const std::string& path, int timeoutMs = 5000);

    // /run/Tamsweld for root, the user's runtime folder otherwise (made
    // with mode 0700 and checked to be ours); empty when no safe folder.
    static std::string DefaultSocketPath();

private:
    void Loop();
    void Serve(int client);

    std::string socketPath_;
    uid_t invokingUid_;
    Handler onPath_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace velmora::platform
