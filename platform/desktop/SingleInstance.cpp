#include "platform/desktop/SingleInstance.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AppPaths.h"

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

uid_t InvokingUidOrSelf() {
    uid_t uid = 0;
    gid_t gid = 0;
    if (geteuid() == 0 && InvokingUserIds(&uid, &gid))
        return uid;
    return geteuid();
}

namespace {

constexpr const char* kGreeting = "VELMORA-OPEN";
constexpr std::size_t kMaxHeader = 64;
// A client has this long to say what it wants; one that stalls is dropped.
constexpr int kServeTimeoutMs = 2000;

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, MillisLeft(deadline));
        if (n > 0)
            return (p.revents & (events | POLLHUP)) != 0;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

bool WriteAll(int fd, const std::string& data, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Reads until `until` is seen (kept) or `limit` bytes, whichever first.
bool ReadUntil(int fd, std::string* out, char until, std::size_t limit,
               Clock::time_point deadline) {
    while (out->size() < limit) {
        if (!out->empty() && out->back() == until)
            return true;
        if (!WaitFor(fd, POLLIN, deadline))
            return false;
        char c;
        const ssize_t n = recv(fd, &c, 1, 0);
        if (n == 1)
            out->push_back(c);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
    }
    return !out->empty() && out->back() == until;
}

bool ReadExactly(int fd, std::string* out, std::size_t size, Clock::time_point deadline) {
    out->resize(size);
    std::size_t done = 0;
    while (done < size) {
        if (!WaitFor(fd, POLLIN, deadline))
            return false;
        const ssize_t n = recv(fd, out->data() + done, size - done, 0);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
    }
    return true;
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

// A folder of ours that no one else may write or read: made with 0700 when
// missing; one that exists must be a real folder (no link) owned by us and
// closed to others, else someone else could have put a socket there.
bool PrivateFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
    close(fd);
    return ours;
}

bool PeerUid(int fd, uid_t* uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials)
        return false;
    *uid = credentials.uid;
    return true;
}

}  // namespace

std::string InstanceChannel::DefaultSocketPath() {
    std::string folder;
    if (geteuid() == 0) {
        folder = "/run/Tamsweld";
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        folder = std::string(runtime) + "/Tamsweld";
    } else {
        folder = "/tmp/Tamsweld-" + std::to_string(geteuid());
    }
    if (!PrivateFolder(folder))
        return {};
    return folder + "/instance.sock";
}

InstanceChannel::InstanceChannel(std::string socketPath, uid_t invokingUid, Handler onPath)
    : socketPath_(std::move(socketPath)), invokingUid_(invokingUid), onPath_(std::move(onPath)) {
    sockaddr_un address{};
    if (!FillAddress(socketPath_, &address))
        return;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    // Only the lock's holder gets here: a socket at the path is a dead
    // copy's.
    unlink(socketPath_.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        std::fprintf(stderr, "no channel for a second start at %s: %s\n", socketPath_.c_str(),
                     std::strerror(errno));
        close(fd);
        return;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        close(fd);
        unlink(socketPath_.c_str());
        return;
    }
    listenFd_ = fd;
    try {
        thread_ = std::thread(&InstanceChannel::Loop, this);
    } catch (const std::exception&) {
        close(listenFd_);
        listenFd_ = -1;
        unlink(socketPath_.c_str());
    }
}

InstanceChannel::~InstanceChannel() {
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        if (write(wakeFd_, &one, sizeof one) < 0) {
            // The thread also ends when the listening socket goes.
        }
    }
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.c_str());
    }
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void InstanceChannel::Loop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & (POLLERR | POLLNVAL))
            return;
        const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            continue;
        Serve(client);
        close(client);
    }
}

void InstanceChannel::Serve(int client) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kServeTimeoutMs);
    const auto answer = [&](const char* word) { WriteAll(client, word, deadline); };
    uid_t peer = 0;
    // Another user's process (or root acting for another user) gets no say
    // in what this user's windows open.
    if (!PeerUid(client, &peer) || (peer != 0 && peer != invokingUid_)) {
        answer("refused\n");
        return;
    }
    std::string header;
    if (!ReadUntil(client, &header, '\n', kMaxHeader, deadline))
        return;
    unsigned long claimed = 0;
    unsigned long size = 0;
    char greeting[16] = {};
    if (std::sscanf(header.c_str(), "%15s %lu %lu", greeting, &claimed, &size) != 3 ||
        std::strcmp(greeting, kGreeting) != 0 || size == 0 || size >= PATH_MAX) {
        answer("refused\n");
        return;
    }
    if (claimed != invokingUid_ || (peer != 0 && claimed != peer)) {
        answer("refused\n");
        return;
    }
    std::string path;
    if (!ReadExactly(client, &path, size, deadline))
        return;
    if (path.front() != '/' || path.find('\0') != std::string::npos) {
        answer("refused\n");
        return;
    }
    answer("taken\n");
    if (onPath_)
        onPath_(path);
}

InstanceChannel::Handover InstanceChannel::HandOver(const std::string& socketPath,
                                                    uid_t invokingUid, const std::string& path,
                                                    int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string absolute = path;
    if (absolute.empty())
        return Handover::Refused;
    if (absolute.front() != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd))
            return Handover::Refused;
        absolute = std::string(cwd) + "/" + absolute;
    }
    sockaddr_un address{};
    if (!FillAddress(socketPath, &address))
        return Handover::NoAnswer;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Handover::NoAnswer;
    Handover result = Handover::NoAnswer;
    uid_t server = 0;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        PeerUid(fd, &server) && (server == 0 || server == geteuid())) {
        const std::string message = std::string(kGreeting) + " " + std::to_string(invokingUid) +
                                    " " + std::to_string(absolute.size()) + "\n" + absolute;
        std::string reply;
        // A refusal may come before the whole message is read (the peer's
        // credentials are known at once): the answer is read either way.
        WriteAll(fd, message, deadline);
        if (ReadUntil(fd, &reply, '\n', 16, deadline))
            result = reply == "taken\n" ? Handover::Taken : Handover::Refused;
    }
    close(fd);
    return result;
}

}  // namespace velmora::platform
