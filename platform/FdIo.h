// Whole reads and writes on a file descriptor: the system may move fewer
// bytes than asked (signals, pipes, device boundaries), so every caller that
// wants all of them loops; this is that loop, once.
#pragma once

#include <sys/types.h>

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
// full disk, a file-size limit), as it would repeat for ever.
FdIoResult WriteRetrying(int fd, const void* data, size_t length);

}  // namespace velmora::platform
