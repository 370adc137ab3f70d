#include "platform/RawIo.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "platform/FdIo.h"

namespace velmora::platform {

namespace {

DeviceRawIo& DefaultIo() {
    static DeviceRawIo* io = new DeviceRawIo();  // lives as long as reads may run
    return *io;
}
std::atomic<IRawIo*> g_current{nullptr};

std::mutex g_folderMutex;
std::string g_deviceFolder = "/dev";

}  // namespace

int LinuxRawIo::Open(const char* path, int* error) {
    const int fd = OpenRetrying(path, O_RDONLY | O_CLOEXEC);
    if (error)
        *error = fd < 0 ? errno : 0;
    return fd;
}

bool LinuxRawIo::Geometry(int fd, int* sectorSize, long long* sectors) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    if (S_ISREG(st.st_mode)) {
        *sectorSize = 512;
        *sectors = static_cast<long long>(st.st_size) / 512;
        return true;
    }
    bool ok = true;
    int ssz = 0;
    if (ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz > 0) {
        *sectorSize = ssz;
    } else {
        ok = false;
    }
    uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) == 0 && *sectorSize > 0) {
        *sectors = static_cast<long long>(bytes / static_cast<uint64_t>(*sectorSize));
    } else {
        ok = false;
    }
    return ok;
}

ssize_t LinuxRawIo::ReadAt(int fd, void* buffer, size_t length, long long offset) {
    // pread may stop early (signals, device boundaries); only the end of the
    // file or an error ends a read short.
    const FdIoResult r = PreadRetrying(fd, buffer, length, static_cast<off_t>(offset));
    return r.failed ? -1 : static_cast<ssize_t>(r.done);
}

void LinuxRawIo::WillRead(int fd, long long offset, long long length) {
    if (fd >= 0 && offset >= 0 && length > 0)
        ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                        POSIX_FADV_WILLNEED);
}

void LinuxRawIo::Close(int fd) {
    if (fd >= 0)
        ::close(fd);
}

IRawIo& CurrentRawIo() {
    IRawIo* io = g_current.load();
    return io ? *io : DefaultIo();
}

ScopedRawIo::ScopedRawIo(IRawIo* io) : previous_(g_current.exchange(io)) {}
ScopedRawIo::~ScopedRawIo() {
    g_current.store(previous_);
}

std::string DevicePath(const char* name) {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    return g_deviceFolder + "/" + (name ? name : "");
}

void SetDeviceFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    g_deviceFolder = folder.empty() ? "/dev" : folder;
}

std::string DeviceFolder() {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    return g_deviceFolder;
}

TimedRawIo::TimedRawIo(std::shared_ptr<IRawIo> inner, int limitMs)
    : inner_(inner ? std::move(inner) : std::make_shared<LinuxRawIo>()),
      limitMs_(limitMs > 0 ? limitMs : 1) {}

ssize_t TimedRawIo::ReadAt(int fd, void* buffer, size_t length, long long offset) {
    // Everything the reading thread touches is owned by the job, so a read
    // that outlives this call writes only into memory nobody else uses.
    struct Job {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        ssize_t result = -1;
        int error = 0;
        std::unique_ptr<uint8_t[]> data;
    };
    auto job = std::make_shared<Job>();
    job->data.reset(new (std::nothrow) uint8_t[length == 0 ? 1 : length]);
    if (!job->data) {
        errno = ENOMEM;
        return -1;
    }
    try {
        std::thread([job, inner = inner_, fd, length, offset] {
            ssize_t n = inner->ReadAt(fd, job->data.get(), length, offset);
            int error = errno;
            std::lock_guard<std::mutex> lock(job->mutex);
            job->result = n;
            job->error = error;
            job->finished = true;
            job->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        errno = EAGAIN;
        return -1;
    }
    std::unique_lock<std::mutex> lock(job->mutex);
    if (!job->done.wait_for(lock, std::chrono::milliseconds(limitMs_),
                            [&] { return job->finished; })) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (job->result > 0)
        std::memcpy(buffer, job->data.get(), static_cast<size_t>(job->result));
    errno = job->error;
    return job->result;
}

void TimedRawIo::WillRead(int fd, long long offset, long long length) {
    try {
        std::thread([inner = inner_, fd, offset, length] {
            inner->WillRead(fd, offset, length);
        }).detach();
    } catch (const std::system_error&) {
        // A hint that cannot be given costs only speed.
    }
}

DeviceRawIo::DeviceRawIo()
    : linux_(std::make_shared<LinuxRawIo>()), timed_(linux_, kReadTimeLimitMs) {}

namespace {

// A device node may stop answering; a regular file does not.
bool IsDeviceNode(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
}

}  // namespace

ssize_t DeviceRawIo::ReadAt(int fd, void* buffer, size_t length, long long offset) {
    if (IsDeviceNode(fd))
        return timed_.ReadAt(fd, buffer, length, offset);
    return linux_->ReadAt(fd, buffer, length, offset);
}

void DeviceRawIo::WillRead(int fd, long long offset, long long length) {
    if (IsDeviceNode(fd))
        timed_.WillRead(fd, offset, length);
    else
        linux_->WillRead(fd, offset, length);
}

void FaultyRawIo::FailRange(long long offset, long long length) {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_.emplace_back(offset, length);
}

void FaultyRawIo::SetShortReads(size_t maxBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    shortReads_ = maxBytes;
}

void FaultyRawIo::SetDelayMs(int ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    delayMs_ = ms;
}

void FaultyRawIo::SetOpenError(int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    openError_ = error;
}

int FaultyRawIo::ReadCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

int FaultyRawIo::Open(const char* path, int* error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (openError_ != 0) {
            if (error)
                *error = openError_;
            errno = openError_;
            return -1;
        }
    }
    return real_.Open(path, error);
}

bool FaultyRawIo::Geometry(int fd, int* sectorSize, long long* sectors) {
    return real_.Geometry(fd, sectorSize, sectors);
}

ssize_t FaultyRawIo::ReadAt(int fd, void* buffer, size_t length, long long offset) {
    int delay;
    size_t limit;
    bool fail = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++reads_;
        delay = delayMs_;
        limit = shortReads_;
        long long end = offset + static_cast<long long>(length);
        for (const auto& [from, len] : failed_) {
            if (offset < from + len && from < end)
                fail = true;
        }
    }
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (fail) {
        errno = EIO;
        return -1;
    }
    if (limit != 0 && length > limit)
        length = limit;
    return real_.ReadAt(fd, buffer, length, offset);
}

void FaultyRawIo::Close(int fd) {
    real_.Close(fd);
}

}  // namespace velmora::platform
