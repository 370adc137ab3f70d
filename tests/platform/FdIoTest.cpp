#include "platform/FdIo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

using velmora::platform::PreadRetrying;
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

}  // namespace
