#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/RawIo.h"
#include "support/TestSupport.h"

using velmora::platform::LinuxRawIo;
using velmora::test::TempDir;

TEST(RawIo, OpensReadOnlyAndCloseOnExec) {
    TempDir dir;
    velmora::test::WriteFile(dir / "img", std::vector<uint8_t>(1000, 7));
    LinuxRawIo io;
    int error = -1;
    int fd = io.Open((dir / "img").c_str(), &error);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_LT(write(fd, "x", 1), 0);

    int ssz = 0;
    long long sectors = -1;
    EXPECT_TRUE(io.Geometry(fd, &ssz, &sectors));
    EXPECT_EQ(ssz, 512);
    EXPECT_EQ(sectors, 1);  // whole sectors only

    std::vector<uint8_t> buf(2048, 0);
    EXPECT_EQ(io.ReadAt(fd, buf.data(), buf.size(), 900), 100);  // short only at the end
    EXPECT_EQ(buf[99], 7);
    EXPECT_EQ(io.ReadAt(fd, buf.data(), buf.size(), 5000), 0);
    io.Close(fd);

    EXPECT_LT(io.Open((dir / "missing").c_str(), &error), 0);
    EXPECT_EQ(error, ENOENT);
}

TEST(RawIo, DeviceNamesMapIntoTheConfiguredFolder) {
    EXPECT_EQ(velmora::platform::DevicePath("sdb1"), "/dev/sdb1");
    velmora::platform::SetDeviceFolder("/tmp/fake-dev");
    EXPECT_EQ(velmora::platform::DevicePath("sdb1"), "/tmp/fake-dev/sdb1");
    velmora::platform::SetDeviceFolder("");
    EXPECT_EQ(velmora::platform::DeviceFolder(), "/dev");
}

TEST(RawIo, FaultyDoubleFailsChosenRangesAndCutsReads) {
    TempDir dir;
    velmora::test::WriteFile(dir / "img", std::vector<uint8_t>(8192, 3));
    velmora::platform::FaultyRawIo io;
    io.FailRange(4096, 512);
    io.SetShortReads(100);
    int error = 0;
    int fd = io.Open((dir / "img").c_str(), &error);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(1024);
    EXPECT_EQ(io.ReadAt(fd, buf.data(), 1024, 0), 100);
    EXPECT_EQ(io.ReadAt(fd, buf.data(), 1024, 3600), -1);  // touches the failed range
    EXPECT_EQ(io.ReadAt(fd, buf.data(), 1024, 4608), 100);
    EXPECT_EQ(io.ReadCount(), 3);
    io.Close(fd);
    io.SetOpenError(EACCES);
    EXPECT_LT(io.Open((dir / "img").c_str(), &error), 0);
    EXPECT_EQ(error, EACCES);
}
