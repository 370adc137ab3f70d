#include <cstring>
#include <mutex>

#include "StorageDevices.h"
#include "platform/FdIo.h"
#include "platform/RawIo.h"

namespace {

// Serialises every raw read of the process: a damaged disk answers one
// request at a time far better than many.
std::mutex& ReadLock() {
    static std::mutex lock;
    return lock;
}

// Reads one piece straight into the caller's buffer. No transfer buffer is
// shared between calls, so nothing can write into memory the caller has been
// given back. A piece that ends early at the end of the file keeps what was
// read, zeros behind it, and fails: the sectors asked for do not exist.
bool ReadPiece(velmora::platform::IRawIo& io, int fd, uint8_t* out, long long offset,
               size_t length) {
    const velmora::platform::FdIoResult r =
        velmora::platform::MoveRetrying(length, false, [&](size_t at, size_t left) {
            return io.ReadAt(fd, out + at, left, offset + static_cast<long long>(at));
        });
    if (r.failed) {
        std::memset(out, 0, length);
        return false;
    }
    std::memset(out + r.done, 0, length - r.done);
    return r.done == length;
}

}  // namespace

long long VKReadAsyncData(void* buffer, int fd, long long byteOffset, long long byteCount) {
    if (buffer == nullptr || fd < 0 || byteOffset < 0 || byteCount < 0)
        return 0;
    if (byteCount == 0)
        return 0;
    if (byteOffset > INT64_MAX - byteCount)
        return 0;

    velmora::platform::IRawIo& io = velmora::platform::CurrentRawIo();
    // A read of a whole piece or more is a walk's: the range after it is
    // asked for next. The system starts reading it while this one is served,
    // so a disk is kept busy; its own read-ahead gives up as soon as other
    // reads of the same device come between the walk's.
    if (byteCount >= kReadPieceBytes && byteOffset <= INT64_MAX - 2 * byteCount)
        io.WillRead(fd, byteOffset + byteCount, byteCount);
    std::lock_guard<std::mutex> lock(ReadLock());
    auto* out = static_cast<uint8_t*>(buffer);
    bool allRead = true;
    for (long long done = 0; done < byteCount; done += kReadPieceBytes) {
        long long piece = byteCount - done < kReadPieceBytes ? byteCount - done : kReadPieceBytes;
        if (!ReadPiece(io, fd, out + done, byteOffset + done, static_cast<size_t>(piece)))
            allRead = false;
    }
    return allRead ? byteCount : 0;
}
