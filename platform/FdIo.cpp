#include "platform/FdIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

namespace velmora::platform {

FdIoResult ReadRetrying(int fd, void* buffer, size_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    return MoveRetrying(length, false,
                        [&](size_t at, size_t left) { return ::read(fd, out + at, left); });
}

FdIoResult PreadRetrying(int fd, void* buffer, size_t length, off_t offset) {
    auto* out = static_cast<uint8_t*>(buffer);
    return MoveRetrying(length, false, [&](size_t at, size_t left) {
        return ::pread(fd, out + at, left, offset + static_cast<off_t>(at));
    });
}

FdIoResult WriteRetrying(int fd, const void* data, size_t length) {
    const auto* in = static_cast<const uint8_t*>(data);
    return MoveRetrying(length, true,
                        [&](size_t at, size_t left) { return ::write(fd, in + at, left); });
}

FdIoResult PwriteRetrying(int fd, const void* data, size_t length, off_t offset) {
    const auto* in = static_cast<const uint8_t*>(data);
    return MoveRetrying(length, true, [&](size_t at, size_t left) {
        return ::pwrite(fd, in + at, left, offset + static_cast<off_t>(at));
    });
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace velmora::platform
