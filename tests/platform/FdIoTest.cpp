#include "platform/FdIo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace {

using velmora::platform::FdIoResult;
using velmora::platform::MoveRetrying;
using velmora::platform::OpenRetrying;
using velmora::platform::PreadRetrying;
using velmora::platform::PwriteRetrying;
using velmora::platform::ReadRetrying;
using velmora::platform::WriteRetrying;

// A pipe holds at most its capacity: a read of more than that arrives in
// pieces, and only the writer's close ends it.
TEST(FdIo, ReadGathersPiecesUntilTheEndAndNoFurther) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const int capacity = fcntl(fds[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::string sent(16 * static_cast<size_t>(capacity), 'x');
    std::thread writer([&] {
        EXPECT_FALSE(WriteRetrying(fds[1], sent.data(), sent.size()).failed);
        close(fds[1]);
    });
    std::string got(sent.size() + 100, '\0');
    const auto r = ReadRetrying(fds[0], got.data(), got.size());
    writer.join();
    close(fds[0]);
    EXPECT_FALSE(r.failed);
    ASSERT_EQ(r.done, sent.size());
    EXPECT_EQ(got.substr(0, r.done), sent);
}

TEST(FdIo, FailuresAreReportedWithWhatWasMoved) {
    char buffer[8];
    // A closed descriptor: an error before any byte.
    const auto bad = ReadRetrying(-1, buffer, sizeof buffer);
    EXPECT_TRUE(bad.failed);
    EXPECT_EQ(bad.done, 0u);
    EXPECT_TRUE(PreadRetrying(-1, buffer, sizeof buffer, 0).failed);

    // A full disk: the write fails rather than passing a short file off.
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full >= 0) {
        EXPECT_TRUE(WriteRetrying(full, "data", 4).failed);
        close(full);
    }
    // An empty write is done at once.
    EXPECT_FALSE(WriteRetrying(-1, "", 0).failed);
}

TEST(FdIo, PreadReadsAtItsOffsetAndStopsAtTheEnd) {
    // A file with no name, gone when closed.
    const int fd = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const auto w = WriteRetrying(fd, "0123456789", 10);
    EXPECT_FALSE(w.failed);
    EXPECT_EQ(w.done, 10u);
    char buffer[8] = {};
    const auto r = PreadRetrying(fd, buffer, sizeof buffer, 6);
    EXPECT_FALSE(r.failed);
    ASSERT_EQ(r.done, 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    close(fd);
}

TEST(FdIo, PwriteWritesAtItsOffsetWithoutMovingThePosition) {
    const int fd = OpenRetrying("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(PwriteRetrying(fd, "abcdef", 6, 0).failed);
    const auto w = PwriteRetrying(fd, "XY", 2, 4);
    EXPECT_FALSE(w.failed);
    EXPECT_EQ(w.done, 2u);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
    char buffer[6] = {};
    ASSERT_EQ(PreadRetrying(fd, buffer, sizeof buffer, 0).done, 6u);
    EXPECT_EQ(std::string(buffer, 6), "abcdXY");
    close(fd);
    // No such folder: the open's own error, not a loop.
    EXPECT_LT(OpenRetrying("/nonexistent-folder/x", O_RDONLY), 0);
    EXPECT_EQ(errno, ENOENT);
}

// The loop as other transfers use it: each step answers from a script
// (bytes moved, or -1 with an error number). Interruptions are asked again,
// short pieces are continued, and a step that moves nothing ends a read or
// fails a write rather than being asked for ever.
TEST(FdIo, LoopRetriesInterruptionsContinuesPiecesAndNeverSpins) {
    struct Step {
        ssize_t n;
        int error;
    };
    struct Case {
        const char* what;
        bool zeroFails;
        std::vector<Step> steps;
        size_t done;
        bool failed;
        int error;  // errno after a failure
    };
    const Case cases[] = {
        {"pieces and interruptions",
         false,
         {{3, 0}, {-1, EINTR}, {4, 0}, {-1, EINTR}, {3, 0}},
         10,
         false,
         0},
        {"read ends at nothing", false, {{4, 0}, {0, 0}}, 4, false, 0},
        {"write fails at nothing", true, {{4, 0}, {0, 0}}, 4, true, ENOSPC},
        {"error after a piece", false, {{6, 0}, {-1, EIO}}, 6, true, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t next = 0;
        std::vector<size_t> asked;  // `done` at each step
        const FdIoResult r = MoveRetrying(10, c.zeroFails, [&](size_t at, size_t) -> ssize_t {
            asked.push_back(at);
            // A loop that asks again after the script's last answer spins:
            // it is ended here with an error of its own, so that it fails at
            // once instead of asking for ever.
            if (asked.size() > c.steps.size()) {
                errno = ELOOP;
                return -1;
            }
            const Step s = c.steps[next++];
            errno = s.error;
            return s.n;
        });
        EXPECT_EQ(r.done, c.done);
        EXPECT_EQ(r.failed, c.failed);
        if (c.failed)
            EXPECT_EQ(errno, c.error);
        EXPECT_EQ(next, c.steps.size());
        EXPECT_LE(asked.size(), c.steps.size());
    }
}

}  // namespace
