// The registry on the machine the tests run on: whatever it finds must hold
// together, and a loop device attached here must show up as a disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/BlockRegistry.h"
#include "platform/DeviceNaming.h"
#include "support/TestSupport.h"

extern char** environ;

using namespace velmora::platform;
using velmora::test::TempDir;

namespace {

// Runs a program with an argument vector (no shell), feeding `input` and
// collecting standard output. Returns the exit status, -1 when it could not run.
int RunProgram(const std::vector<std::string>& argv, const std::string& input,
               std::string* output) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return -1;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return -1;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        return -1;
    }
    if (!input.empty() &&
        write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        // The program reports its own failure through its status.
    }
    close(in[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        if (output)
            output->append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const char* name) {
    for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"})
        if (access((std::string(dir) + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

}  // namespace

TEST(RealBlockDevices, ListingOfThisMachineHoldsTogether) {
    BlockListing l = SysfsBlockRegistry().List();
    DeviceNaming naming;
    std::string lastDisk;
    for (const auto& d : l.devices) {
        SCOPED_TRACE(d.bsdName);
        std::printf("  %-12s %s size=%llu bs=%u %u:%u %s %s\n", d.bsdName.c_str(),
                    d.whole ? "disk" : "part", static_cast<unsigned long long>(d.sizeBytes),
                    d.logicalBlockSize, d.major, d.minor, d.protocol.c_str(),
                    d.backingFile.c_str());
        EXPECT_EQ(d.deviceId, makedev(d.major, d.minor));
        EXPECT_GE(d.logicalBlockSize, 512u);
        EXPECT_EQ(d.logicalBlockSize & (d.logicalBlockSize - 1), 0u);
        if (d.whole) {
            lastDisk = d.bsdName;
            EXPECT_EQ(d.partitionNumber, -1);
        } else {
            EXPECT_EQ(d.parentBsd, lastDisk) << "partitions follow their disk";
            EXPECT_GT(d.partitionNumber, 0);
        }
        if (d.bsdName.rfind("loop", 0) == 0 && d.whole) {
            EXPECT_FALSE(d.backingFile.empty());
        }
        // The node's device number is what stat() will report for it.
        struct stat st;
        std::string node = naming.NodePath(d.bsdName);
        if (stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            EXPECT_EQ(st.st_rdev, d.deviceId);
        }
    }
    for (const auto& s : l.skipped) {
        std::printf("  skipped %s: %s\n", s.name.c_str(), s.reason.c_str());
        EXPECT_FALSE(s.reason.empty());
    }
}

class RealLoopDevice : public ::testing::Test {
protected:
    void SetUp() override {
        if (!velmora::test::IsRoot())
            GTEST_SKIP() << "attaching a loop device needs root";
        if (!HaveProgram("losetup") || !HaveProgram("sfdisk"))
            GTEST_SKIP() << "losetup or sfdisk is not installed";
        image_ = tmp_ / "disk.img";
        int fd = open(image_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 16 << 20), 0);
        close(fd);
        std::string script =
            "label: dos\nstart=2048, size=8192, type=83\nstart=10240, size=20480, type=7\n";
        ASSERT_EQ(RunProgram({"sfdisk", "-q", image_}, script, nullptr), 0);
        std::string out;
        if (RunProgram({"losetup", "--find", "--show", "-P", image_}, "", &out) != 0 || out.empty())
            GTEST_SKIP() << "no loop device could be attached here";
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        node_ = out;
        name_ = node_.substr(node_.rfind('/') + 1);
        char* real = realpath(image_.c_str(), nullptr);
        ASSERT_NE(real, nullptr);
        image_ = real;
        std::free(real);
    }
    void TearDown() override {
        if (!node_.empty())
            RunProgram({"losetup", "-d", node_}, "", nullptr);
    }

    // The kernel adds partitions a moment after attaching; wait a little.
    BlockListing ListUntil(size_t partitions) {
        BlockListing l;
        for (int i = 0; i < 30; ++i) {
            l = SysfsBlockRegistry().List();
            if (FindBlockDevice(l, name_) && PartitionsOf(l, name_).size() >= partitions)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return l;
    }

    TempDir tmp_;
    std::string image_, node_, name_;
};

TEST_F(RealLoopDevice, AttachedImageIsListedAsADisk) {
    BlockListing l = ListUntil(0);
    const BlockDevice* d = FindBlockDevice(l, name_);
    ASSERT_NE(d, nullptr) << name_ << " not listed";
    EXPECT_TRUE(d->whole);
    EXPECT_EQ(d->sizeBytes, 16u << 20);
    EXPECT_EQ(d->logicalBlockSize, 512u);
    EXPECT_EQ(d->backingFile, image_);
    EXPECT_EQ(d->bus, BusType::VirtualInterface);
    struct stat st;
    ASSERT_EQ(stat(node_.c_str(), &st), 0);
    EXPECT_EQ(d->deviceId, st.st_rdev);
}

TEST_F(RealLoopDevice, PartitionsOfTheAttachedImageAreListed) {
    // Whether the kernel made partitions of the loop device is read from
    // sysfs, not from the listing under test.
    bool kernelShows = false;
    for (int i = 0; i < 50 && !kernelShows; ++i) {
        struct stat st {};
        kernelShows = stat(("/sys/block/" + name_ + "/" + name_ + "p1").c_str(), &st) == 0;
        if (!kernelShows)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!kernelShows)
        GTEST_SKIP() << "the kernel shows no partitions of " << name_
                     << " here (loop max_part is 0 or partition scanning is off)";
    BlockListing l = ListUntil(2);
    ASSERT_NE(FindBlockDevice(l, name_), nullptr);
    auto parts = PartitionsOf(l, name_);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->partitionNumber, 1);
    EXPECT_EQ(parts[0]->startBytes, 1u << 20);
    EXPECT_EQ(parts[0]->sizeBytes, 4u << 20);
    EXPECT_EQ(parts[1]->partitionNumber, 2);
    EXPECT_EQ(parts[1]->startBytes, 5u << 20);
    EXPECT_EQ(parts[1]->sizeBytes, 10u << 20);
    EXPECT_EQ(parts[1]->bsdName, name_ + "p2");
}
