// Devices over real block devices: loop devices attached to pattern files.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DeviceTestHelpers.h"
#include "StorageDeviceWithCache.h"
#include "StorageDevices.h"
#include "platform/RawIo.h"

using devtest::AllZero;
using devtest::PatternMismatch;

namespace {

// A loop device attached for the test's lifetime; always detached.
class LoopDevice {
public:
    LoopDevice(const std::string& file, int sectorSize) {
        if (!velmora::test::IsRoot())
            return;
        std::string out;
        if (!velmora::test::RunProgram(
                {"losetup", "--find", "--show", "-r", "-b", std::to_string(sectorSize), file},
                &out))
            return;
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        node_ = out;
    }
    ~LoopDevice() {
        if (!node_.empty())
            velmora::test::RunProgram({"losetup", "-d", node_});
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& node() const { return node_; }

private:
    std::string node_;
};

class LoopDeviceTest : public testing::Test {
protected:
    void Attach(long long bytes, int sectorSize) {
        devtest::WritePatternFile(file, bytes);
        loop = std::make_unique<LoopDevice>(file, sectorSize);
    }
    velmora::test::TempDir dir;
    std::string file = dir / "backing.img";
    std::unique_ptr<LoopDevice> loop;
};

#define SKIP_WITHOUT_LOOP()                                                                        \
    if (!loop || loop->node().empty())                                                             \
    GTEST_SKIP() << "cannot attach a loop device (needs root and losetup); block-device geometry " \
                    "is not checked here"

TEST_F(LoopDeviceTest, FourKiBSectorDeviceReportsItsGeometryAndReads) {
    const long long bytes = 9LL << 20;
    Attach(bytes, 4096);
    SKIP_WITHOUT_LOOP();
    // Device names map to nodes of the configured folder.
    std::string name = loop->node().substr(loop->node().rfind('/') + 1);
    EXPECT_EQ(velmora::platform::DevicePath(name.c_str()), loop->node());
    std::unique_ptr<IStorageDevice> disk(
        CreateDiskDevice(velmora::platform::DevicePath(name.c_str()).c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    EXPECT_EQ(disk->GetSectorSize(), 4096);
    EXPECT_EQ(disk->GetTotalSectors(), bytes / 4096);

    std::vector<uint8_t> buf(5 * 4096, 0xAA);
    ASSERT_EQ(disk->ReadSector(buf.data(), 1000, 5), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 1000LL * 4096, buf.size()), -1);
    // Across the end of the device: a failure with zeros for the missing part.
    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_EQ(disk->ReadSector(buf.data(), bytes / 4096 - 1, 2), 0);
    EXPECT_EQ(PatternMismatch(buf.data(), bytes - 4096, 4096), -1);
    EXPECT_TRUE(AllZero(buf.data() + 4096, 4096));

    // A deep-scan style pass through the cache with blocks of 4 MiB.
    CStorageDeviceWithCache cache(disk.get());
    cache.SetBlockSize(1024);
    cache.BeginCache();
    std::vector<uint8_t> block(1024 * 4096);
    for (long long k = 0; k < 3; ++k) {
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        long long n = std::min<long long>(1024, bytes / 4096 - k * 1024);
        ASSERT_EQ(cache.ReadSector(block.data(), k * 1024, n), 1);
        EXPECT_EQ(PatternMismatch(block.data(), k * 1024 * 4096, static_cast<size_t>(n * 4096)),
                  -1);
    }
    EXPECT_EQ(cache.SetCurCacheBlock(3), 0);
    cache.EndCache();
}

TEST_F(LoopDeviceTest, PartitionWindowOnAFourKiBDisk) {
    Attach(4LL << 20, 4096);
    SKIP_WITHOUT_LOOP();
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(loop->node().c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    auto* rec = new CCollectDiskDeviceInfoStruct{};
    rec->sectorSize = disk->GetSectorSize();
    rec->totalSectors = disk->GetTotalSectors();
    disk->SetPrivateData(CreateDiskDeviceData(rec));
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 256, 512));
    ASSERT_EQ(window->Open(nullptr), 1);
    EXPECT_EQ(window->GetSectorSize(), 4096);
    std::vector<uint8_t> buf(100 * 4096, 0xAA);
    ASSERT_EQ(window->ReadSector(buf.data(), 502, 100), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), (256 + 502) * 4096LL, 10 * 4096), -1);
    EXPECT_TRUE(AllZero(buf.data() + 10 * 4096, 90 * 4096));
}

}  // namespace
