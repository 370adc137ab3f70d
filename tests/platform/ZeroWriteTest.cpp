// A destination that takes nothing (write answers 0 bytes) must fail the
// copy of a recovered file at once: a loop that asks again spins for ever.
// pwrite is replaced in this test program so that it can answer 0 on
// request; otherwise it is the system's.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "RecoveryOutput.h"
#include "support/TestSupport.h"

namespace {

thread_local bool t_takeNothing = false;
thread_local int t_calls = 0;
// More asks than any sound loop makes: past it the replacement fails with
// an error of its own, so that a spinning loop ends (and its test fails).
constexpr int kAskBound = 64;

}  // namespace

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    if (t_takeNothing) {
        if (++t_calls > kAskBound) {
            errno = ELOOP;
            return -1;
        }
        return 0;
    }
    using Pwrite = ssize_t (*)(int, const void*, size_t, off_t);
    static const auto next = reinterpret_cast<Pwrite>(dlsym(RTLD_NEXT, "pwrite"));
    return next(fd, data, size, offset);
}

TEST(ZeroWrite, ARecoveredFileWhoseWriteMovesNothingFailsAtOnce) {
    velmora::test::TempDir dir;
    const std::string path = dir / "out.bin";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const char data[16] = "recovered bytes";
    // The replacement itself, through the system's write path.
    EXPECT_TRUE(velmora::recovery::WriteAllAt(fd, data, sizeof data, 0));

    t_calls = 0;
    t_takeNothing = true;
    const bool written = velmora::recovery::WriteAllAt(fd, data, sizeof data, 0);
    const int error = errno;
    t_takeNothing = false;
    ::close(fd);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(t_calls, 1);
}
