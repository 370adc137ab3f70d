#include "platform/RawIo.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace velmora::platform {

namespace {

LinuxRawIo g_linuxIo;
std::atomic<IRawIo*> g_current{&g_linuxIo};

std::mutex g_folderMutex;
std::string g_deviceFolder = "/dev";

}  // namespace

int LinuxRawIo::Open(const char* path, int* error) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (error) *error = fd < 0 ? errno : 0;
    return fd;
}

bool LinuxRawIo::Geometry(int fd, int* sectorSize, long long* sectors) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
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
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < length) {
        ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + static_cast<long long>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

void LinuxRawIo::Close(int fd) {
    if (fd >= 0) ::close(fd);
}

IRawIo& CurrentRawIo() { return *g_current.load(); }

ScopedRawIo::ScopedRawIo(IRawIo* io) : previous_(g_current.exchange(io ? io : &g_linuxIo)) {}
ScopedRawIo::~ScopedRawIo() { g_current.store(previous_); }

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
            if (error) *error = openError_;
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
            if (offset < from + len && from < end) fail = true;
        }
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (fail) {
        errno = EIO;
        return -1;
    }
    if (limit != 0 && length > limit) length = limit;
    return real_.ReadAt(fd, buffer, length, offset);
}

void FaultyRawIo::Close(int fd) { real_.Close(fd); }

}  // namespace velmora::platform
