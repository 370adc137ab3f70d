// Raw, read-only access to block devices and image files. The engine reaches
// the disk only through the process's current IRawIo, so tests can swap in a
// double that fails, shortens or delays chosen reads.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmora::platform {

class IRawIo {
public:
    virtual ~IRawIo() = default;
    // Opens `path` read-only; returns the descriptor, or -1 with *error set
    // to the system error number.
    virtual int Open(const char* path, int* error) = 0;
    // Sector size and sector count: BLKSSZGET and BLKGETSIZE64 on a block
    // device, 512 and the size in whole sectors for a regular file. A value
    // that cannot be asked for is left as the caller set it; false then.
    virtual bool Geometry(int fd, int* sectorSize, long long* sectors) = 0;
    // Reads up to `length` bytes at `offset`; returns the count read (short
    // only at the end of the file), or -1 with errno set.
    virtual ssize_t ReadAt(int fd, void* buffer, size_t length, long long offset) = 0;
    virtual void Close(int fd) = 0;
    // Says that `length` bytes at `offset` will be read soon, so that the
    // system can start reading them now. Only a hint: it reads nothing into
    // the caller's memory and reports nothing.
    virtual void WillRead(int fd, long long offset, long long length) {
        (void)fd;
        (void)offset;
        (void)length;
    }
};

// The Linux implementation.
class LinuxRawIo : public IRawIo {
public:
    int Open(const char* path, int* error) override;
    bool Geometry(int fd, int* sectorSize, long long* sectors) override;
    ssize_t ReadAt(int fd, void* buffer, size_t length, long long offset) override;
    void Close(int fd) override;
    void WillRead(int fd, long long offset, long long length) override;
};

// Gives every read a time limit. A read still running when the limit passes
// is left to finish into a buffer of its own, which is then thrown away:
// the caller gets -1 (ETIMEDOUT) and nothing writes into its memory after
// ReadAt returns. Costs one copy per read, so it is for devices that may
// stop answering, not the default.
class TimedRawIo : public IRawIo {
public:
    TimedRawIo(std::shared_ptr<IRawIo> inner, int limitMs);
    int Open(const char* path, int* error) override { return inner_->Open(path, error); }
    bool Geometry(int fd, int* sectorSize, long long* sectors) override {
        return inner_->Geometry(fd, sectorSize, sectors);
    }
    ssize_t ReadAt(int fd, void* buffer, size_t length, long long offset) override;
    void Close(int fd) override { inner_->Close(fd); }
    // Handed to a thread of its own and not waited for: asking a device that
    // stopped answering to read ahead can block as long as a read.
    void WillRead(int fd, long long offset, long long length) override;

private:
    std::shared_ptr<IRawIo> inner_;
    int limitMs_;
};

// What the process reads with unless replaced: block and character devices
// through TimedRawIo with the 30-second limit (a dying disk may stop
// answering), regular files straight through LinuxRawIo.
class DeviceRawIo : public IRawIo {
public:
    static constexpr int kReadTimeLimitMs = 30000;
    DeviceRawIo();
    int Open(const char* path, int* error) override { return linux_->Open(path, error); }
    bool Geometry(int fd, int* sectorSize, long long* sectors) override {
        return linux_->Geometry(fd, sectorSize, sectors);
    }
    ssize_t ReadAt(int fd, void* buffer, size_t length, long long offset) override;
    void Close(int fd) override { linux_->Close(fd); }
    void WillRead(int fd, long long offset, long long length) override;

private:
    std::shared_ptr<LinuxRawIo> linux_;
    TimedRawIo timed_;
};

// The process's current raw I/O (DeviceRawIo unless replaced).
IRawIo& CurrentRawIo();

// Replaces the current raw I/O for its lifetime (tests only; not for use
// while another thread reads).
class ScopedRawIo {
public:
    explicit ScopedRawIo(IRawIo* io);
    ~ScopedRawIo();
    ScopedRawIo(const ScopedRawIo&) = delete;
    ScopedRawIo& operator=(const ScopedRawIo&) = delete;

private:
    IRawIo* previous_;
};

// The device node of a BSD-style name ("sdb1" -> "/dev/sdb1"). The folder
// can be changed so that tests map names to image files.
std::string DevicePath(const char* name);
void SetDeviceFolder(const std::string& folder);
std::string DeviceFolder();

// A test double over LinuxRawIo: fails reads that touch chosen byte ranges,
// cuts reads short, delays every read, or refuses opens with a chosen error.
class FaultyRawIo : public IRawIo {
public:
    void FailRange(long long offset, long long length);
    // Every read returns at most this many bytes (0: no limit).
    void SetShortReads(size_t maxBytes);
    void SetDelayMs(int ms);
    // Open fails with this system error number (0: open normally).
    void SetOpenError(int error);
    int ReadCount() const;

    int Open(const char* path, int* error) override;
    bool Geometry(int fd, int* sectorSize, long long* sectors) override;
    ssize_t ReadAt(int fd, void* buffer, size_t length, long long offset) override;
    void Close(int fd) override;

private:
    mutable std::mutex mutex_;
    LinuxRawIo real_;
    std::vector<std::pair<long long, long long>> failed_;
    size_t shortReads_ = 0;
    int delayMs_ = 0;
    int openError_ = 0;
    int reads_ = 0;
};

}  // namespace velmora::platform
