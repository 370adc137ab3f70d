// The machine's own catalogue with a loop device attached to a partitioned
// image: the loop shows up as a disk whose partitions our own table reader
// finds (loop devices here scan no partitions of their own).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "EngineTypes.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "support/TestSupport.h"

namespace {

class AttachedLoop {
public:
    explicit AttachedLoop(const std::string& file) {
        std::string out;
        if (!enumtest::RunProgram({"losetup", "--find", "--show", "-r", file}, &out))
            return;
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        node_ = out;
    }
    ~AttachedLoop() {
        if (!node_.empty())
            enumtest::RunProgram({"losetup", "-d", node_});
    }
    AttachedLoop(const AttachedLoop&) = delete;
    AttachedLoop& operator=(const AttachedLoop&) = delete;
    const std::string& node() const { return node_; }

private:
    std::string node_;
};

TEST(EnumDeviceLoop, AttachedImageIsADiskWithItsPartitions) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach a loop device";
    velmora::test::TempDir dir;
    std::string script =
        velmora::test::SourceDir() + "/tests/fixtures/enumeration/make_enum_disks.sh";
    if (!enumtest::RunProgram({"bash", script, dir.path()}))
        GTEST_SKIP() << "make_enum_disks.sh failed (needs sfdisk, sgdisk, mkfs.fat, python3)";
    AttachedLoop loop(dir / "usb.img");
    if (loop.node().empty())
        GTEST_SKIP() << "cannot attach a loop device (losetup failed)";
    const std::string name = loop.node().substr(loop.node().rfind('/') + 1);

    CEnumDeviceEx e;
    ASSERT_EQ(e.Init(), VK_OK);
    int n = 0;
    ASSERT_EQ(e.EnumDiskDevice(nullptr, n), VK_OK);
    std::vector<IStorageDevice*> disks(static_cast<size_t>(n));
    ASSERT_EQ(e.EnumDiskDevice(disks.data(), n), VK_OK);
    IStorageDevice* disk = nullptr;
    for (IStorageDevice* d : disks)
        if (name == GetDiskDevName(d))
            disk = d;
    // Whether this sandbox lets the device be read is asked of the system,
    // not of the code under test.
    const int probe = ::open(loop.node().c_str(), O_RDONLY | O_CLOEXEC);
    if (probe < 0)
        GTEST_SKIP() << name << " cannot be opened for reading in this sandbox";
    ::close(probe);
    ASSERT_NE(disk, nullptr) << name << " not in the catalogue";
    EXPECT_NE(disk->IsPermitted(), 0);
    EXPECT_EQ(GetDiskInfo(disk)->partitionScheme, kSchemeMBR);
    EXPECT_EQ(GetDiskInfo(disk)->totalSectors, 131072);
    EXPECT_EQ(GetDiskInfo(disk)->writable, 0);

    ASSERT_EQ(e.EnumPartitionDevice(disk, nullptr, n), VK_OK);
    EXPECT_EQ(n, 3);
    // Live or converted, the three partitions are volumes, in table order.
    ASSERT_EQ(e.EnumVolumeDevice(disk, nullptr, n), VK_OK);
    std::vector<IStorageDevice*> volumes(static_cast<size_t>(n));
    ASSERT_EQ(e.EnumVolumeDevice(disk, volumes.data(), n), VK_OK);
    ASSERT_EQ(volumes.size(), 3u);
    const long long starts[] = {2048, 34816, 67584};
    for (size_t i = 0; i < 3; ++i) {
        auto* h = dynamic_cast<IVolumeDeviceData*>(volumes[i]->GetPrivateData());
        ASSERT_TRUE(h && h->GetVolumeInfo());
        EXPECT_EQ(h->GetVolumeInfo()->partitionNumber, static_cast<int>(i) + 1);
        EXPECT_EQ(h->GetVolumeInfo()->startSector, starts[i]);
    }
    EXPECT_EQ(e.Uninit(), VK_OK);
}

}  // namespace
