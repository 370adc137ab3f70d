#include "platform/FdIo.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace velmora::platform {

namespace {

// `step(at, left)` moves bytes at `at`; it answers what read(2) would.
template <typename Step>
FdIoResult Loop(size_t length, bool zeroFails, Step&& step) {
    FdIoResult r;
    while (r.done < length) {
        const ssize_t n = step(r.done, length - r.done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n == 0 && zeroFails)) {
            r.failed = true;
            break;
        }
        if (n == 0)
            break;
        r.done += static_cast<size_t>(n);
    }
    return r;
}

}  // namespace

FdIoResult ReadRetrying(int fd, void* buffer, size_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    return Loop(length, false, [&](size_t at, size_t left) { return ::read(fd, out + at, left); });
}

FdIoResult PreadRetrying(int fd, void* buffer, size_t length, off_t offset) {
    auto* out = static_cast<uint8_t*>(buffer);
    return Loop(length, false, [&](size_t at, size_t left) {
        return ::pread(fd, out + at, left, offset + static_cast<off_t>(at));
    });
}

FdIoResult WriteRetrying(int fd, const void* data, size_t length) {
    const auto* in = static_cast<const uint8_t*>(data);
    return Loop(length, true, [&](size_t at, size_t left) { return ::write(fd, in + at, left); });
}

}  // namespace velmora::platform
