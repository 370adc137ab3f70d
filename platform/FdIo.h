// Whole reads and writes on a file descriptor: the system may move fewer
// bytes than asked (signals, pipes, device boundaries), so every caller that
// wants all of them loops; this is that loop, once.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace velmora::platform {

struct FdIoResult {
    size_t done = 0;      // bytes moved before the end or the failure
    bool failed = false;  // an error other than a signal's interruption
};

// Reads until `length` bytes, the end of the file or an error; an
// interrupted call is repeated.
FdIoResult ReadRetrying(int fd, void* buffer, size_t length);
// The same at `offset`, not moving the file position.
FdIoResult PreadRetrying(int fd, void* buffer, size_t length, off_t offset);
// Writes all `length` bytes; a write that moves nothing counts as failed (a
// full disk, a file-size limit), as it would repeat for ever, with errno
// ENOSPC.
FdIoResult WriteRetrying(int fd, const void* data, size_t length);
// The same at `offset`, not moving the file position.
FdIoResult PwriteRetrying(int fd, const void* data, size_t length, off_t offset);
// open(2), repeated while a signal interrupts it; -1 with errno otherwise.
int OpenRetrying(const char* path, int flags, mode_t mode = 0);

// The loop under all of them, for a transfer that is no plain system call
// (a read through IRawIo): `step(done, left)` moves up to `left` bytes after
// the first `done` and answers as read(2) does. A step that moves nothing
// ends a read (`zeroFails` false) and fails a write (true) instead of being
// asked again.
template <typename Step>
FdIoResult MoveRetrying(size_t length, bool zeroFails, Step&& step) {
    FdIoResult r;
    while (r.done < length) {
        const ssize_t n = step(r.done, length - r.done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 && zeroFails)
            errno = ENOSPC;
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

}  // namespace velmora::platform
