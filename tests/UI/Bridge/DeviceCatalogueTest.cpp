#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "DeviceDoubles.h"
#include "DmgImageCheck.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "support/TestSupport.h"

namespace {

using velmora::bridgetest::FakeDisk;
using velmora::bridgetest::FakeEnumerator;
using velmora::bridgetest::FakeVolume;

std::string Name(const _DiskVolumeData& r) {
    return r.name ? r.name : "";
}

std::vector<FakeDisk> TwoDisks() {
    FakeDisk a{.name = "Samsung SSD 870", .busType = 2};
    a.volumes = {{.name = "EFI", .fileSystem = 2, .gptType = velmora::bridgetest::kEfiGuid},
                 {.name = "Mac", .fileSystem = 8, .gptType = velmora::bridgetest::kHfsGuid},
                 {.name = "Boot", .fileSystem = 8, .gptType = velmora::bridgetest::kAppleBootGuid},
                 {.name = "Data", .fileSystem = 3}};
    FakeDisk b{.name = "Stick", .busType = 4, .scheme = 3};
    b.volumes = {{.name = "map", .apmType = "Apple_partition_map"},
                 {.name = "free", .apmType = "Apple_Free"},
                 {.name = "Photos", .fileSystem = 8, .apmType = "Apple_HFS"}};
    return {a, b};
}

class CatalogueTest : public testing::Test {
protected:
    std::string Edi(const std::string& name, const std::string& ctime = "1700000000") {
        const std::string out = dir / name;
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", velmora::test::SourceDir() + "/tests/fixtures/images/make_edi.py", out,
             "--sectors", "64", "--ctime", ctime}));
        return out;
    }
    std::string Udif(const std::string& kind) {
        const std::string out = dir / (kind + ".dmg");
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", velmora::test::SourceDir() + "/tests/fixtures/images/make_udif.py", out,
             "--kind", kind}));
        return out;
    }
    int OpenDmg(VKUIDeviceData& catalogue, const std::string& path) {
        CDMGDeviceInfoStruct record;
        if (!InitDmgRecord(path.c_str(), record) || ParseDmgFile(path.c_str(), record) == 0)
            return 0;
        return catalogue.VKOpenDmgFileImp(path.c_str(), record);
    }
    velmora::test::TempDir dir;
    velmora::bridgetest::BridgeWorld world;
};

TEST_F(CatalogueTest, DisksThenEdiImagesThenDiskImagesAreNumberedInOrder) {
    FakeEnumerator enumerator(TwoDisks());
    VKUIDeviceData catalogue(&enumerator);
    EXPECT_EQ(catalogue.GetInitState(), 0);
    catalogue.InitDeviceInfo();
    ASSERT_EQ(catalogue.GetInitState(), 2);

    const std::string edi = Edi("first.edi");
    ASSERT_EQ(catalogue.VKOpenEdiFileImp(edi.c_str()), 1);
    const std::string dmg = Udif("raw");
    ASSERT_EQ(OpenDmg(catalogue, dmg), 1);
    ASSERT_NE(catalogue.GetDiskStorageByIndex(3), nullptr);
    EXPECT_EQ(catalogue.GetDiskStorageByIndex(3)->GetType(), kDeviceDiskImage);
    EXPECT_EQ(catalogue.GetDiskStorageByIndex(2)->GetType(), kDeviceEdiImage);
    // Reopening either keeps the numbering and the count.
    EXPECT_EQ(catalogue.VKOpenEdiFileImp(edi.c_str()), 1);
    EXPECT_EQ(OpenDmg(catalogue, dmg), 1);
    // A second edi image opened later comes after the first, before the disk image.
    ASSERT_EQ(catalogue.VKOpenEdiFileImp(Edi("second.edi", "1700000001").c_str()), 1);

    std::vector<_DiskVolumeData> rows;
    catalogue.GetAllDeviceInfo(rows);
    ASSERT_EQ(rows.size(), 5u);
    struct Expect {
        std::string name;
        int isEdi, isAppleDmg;
        int64_t capacity;
    } expect[] = {{"Samsung SSD 870", 0, 0, 16384 * 512},
                  {"Stick", 0, 0, 16384 * 512},
                  {"Test Disk", 1, 0, 64 * 512},
                  {"Test Disk", 1, 0, 64 * 512},
                  {"raw.dmg", 0, 1, 32 * 512}};
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Name(rows[i]), expect[i].name);
        EXPECT_EQ(rows[i].diskIndex, static_cast<int>(i));
        EXPECT_EQ(rows[i].volumeIndex, -1);
        EXPECT_EQ(rows[i].isEdi, expect[i].isEdi);
        EXPECT_EQ(rows[i].isAppleDmg, expect[i].isAppleDmg);
        EXPECT_EQ(rows[i].capacity, expect[i].capacity);
    }
    EXPECT_EQ(std::string(rows[2].bsdName), edi);
    EXPECT_EQ(rows[2].ediInfoSize, 1192);
    EXPECT_EQ(std::string(rows[4].bsdName), dmg);
    EXPECT_EQ(rows[4].dmgInfoSize, 2088);

    // An image is its own disk, with no volumes of its own.
    IStorageDevice* image = catalogue.GetDiskStorageByIndex(2);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(catalogue.GetDiskStorageByVolumeStorage(image), image);
    EXPECT_EQ(catalogue.IsDiskStorage(image), 0);
    int d = -7, v = -7;
    EXPECT_EQ(catalogue.GetDiskVolumeIndexByStorage(image, d, v), 1);
    EXPECT_EQ(d, 2);
    EXPECT_EQ(v, -1);
    _DiskVolumeData asVolume;
    ASSERT_EQ(catalogue.GetVolumeDataByStorage(image, asVolume), 1);
    EXPECT_EQ(asVolume.diskIndex, 2);
    EXPECT_EQ(asVolume.volumeIndex, -1);

    // Images that cannot be opened leave the catalogue as it was.
    EXPECT_EQ(catalogue.VKOpenEdiFileImp((dir / "missing.edi").c_str()), 0);
    EXPECT_EQ(catalogue.VKOpenEdiFileImp(nullptr), 0);
    EXPECT_EQ(catalogue.GetDiskStorageByIndex(5), nullptr);
}

TEST_F(CatalogueTest, LookupsByIndexAndByDevice) {
    FakeEnumerator enumerator(TwoDisks());
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    IStorageDevice* disk0 = catalogue.GetDiskStorageByIndex(0);
    ASSERT_NE(disk0, nullptr);
    IStorageDevice* data = catalogue.GetVolumeStorageByIndex(disk0, 3);
    ASSERT_NE(data, nullptr);
    struct Case {
        int disk, volume;
        IStorageDevice* expect;
    } cases[] = {
        {-1, 0, nullptr}, {-1, -1, nullptr}, {0, -1, disk0},  {0, 3, data},
        {0, 4, nullptr},  {2, -1, nullptr},  {7, 0, nullptr}, {0, -2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.disk) + "," + std::to_string(c.volume));
        EXPECT_EQ(catalogue.GetStorageByDiskVolumeIndex(c.disk, c.volume), c.expect);
    }
    int d = -7, v = -7;
    ASSERT_EQ(catalogue.GetDiskVolumeIndexByStorage(data, d, v), 1);
    EXPECT_EQ(d, 0);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(catalogue.GetDiskStorageByVolumeStorage(data), disk0);
    EXPECT_EQ(catalogue.IsDiskStorage(disk0), 1);
    EXPECT_EQ(catalogue.IsDiskStorage(data), 0);
    EXPECT_EQ(catalogue.GetDiskIndexByStorage(data), -1);
    EXPECT_EQ(catalogue.GetVolumeIndexByStorage(disk0, disk0), -1);
    EXPECT_EQ(catalogue.GetDiskVolumeIndexByStorage(nullptr, d, v), 0);
    std::vector<IStorageDevice*> volumes;
    catalogue.GetDiskVolumeStorage(disk0, volumes);
    EXPECT_EQ(volumes.size(), 4u);
    EXPECT_EQ(catalogue.GetVolumeInfo(disk0), nullptr);
    EXPECT_NE(catalogue.GetVolumeInfo(data), nullptr);
}

TEST_F(CatalogueTest, VolumeRowsLeaveOutBootAndMapEntries) {
    FakeEnumerator enumerator(TwoDisks());
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    std::vector<_DiskVolumeData> rows;
    catalogue.GetAllDeviceInfo(rows);
    ASSERT_EQ(rows.size(), 2u);
    // GPT: the EFI system and Apple boot partitions are no rows, HFS+ is.
    // Apple map: the map and free entries are no rows.
    const std::vector<std::vector<std::string>> names = {{"Mac", "Data"}, {"Photos"}};
    const std::vector<std::vector<int>> positions = {{1, 3}, {2}};
    for (size_t d = 0; d < rows.size(); ++d) {
        ASSERT_EQ(rows[d].volumes.size(), names[d].size());
        for (size_t i = 0; i < names[d].size(); ++i) {
            const _DiskVolumeData& v = rows[d].volumes[i];
            EXPECT_EQ(Name(v), names[d][i]);
            EXPECT_EQ(v.diskIndex, static_cast<int>(d));
            // The volume index is the position in the disk's own list.
            EXPECT_EQ(v.volumeIndex, positions[d][i]);
            EXPECT_EQ(v.capacity, 2048 * 512);
            EXPECT_STREQ(
                v.bsdName,
                ("fake" + std::to_string(d) + "p" + std::to_string(positions[d][i] + 1)).c_str());
        }
    }
    EXPECT_EQ(rows[0].volumes[1].fileSystem, 3);
    IStorageDevice* disk0 = catalogue.GetDiskStorageByIndex(0);
    EXPECT_EQ(catalogue.IsVolumeStorageSupported(catalogue.GetVolumeStorageByIndex(disk0, 0)), 0);
    EXPECT_EQ(catalogue.IsVolumeStorageSupported(catalogue.GetVolumeStorageByIndex(disk0, 1)), 1);
    EXPECT_EQ(catalogue.IsVolumeStorageSupported(disk0), 0);
    // On a disk of another scheme an EFI-typed partition is an ordinary volume.
    CCollectedVolumeDeviceInfoStruct info{};
    info.disk = catalogue.GetDiskStorageByIndex(1);
    info.gptType = velmora::bridgetest::kEfiGuid;
    EXPECT_EQ(catalogue.IsSupportVolume(&info), 1);
    info.disk = nullptr;
    std::strcpy(info.apmType, "Apple_Free");
    EXPECT_EQ(catalogue.IsSupportVolume(&info), 1);
}

TEST_F(CatalogueTest, DiskFlagsFollowNameAndConnection) {
    struct Case {
        const char* name;
        int32_t bus;
        int isSSD, isDmg, isUSB;
    } cases[] = {
        {"Crucial SSD", 2, 1, 0, 0}, {"ssd lower", 2, 0, 0, 0}, {"Image", 5, 0, 1, 0},
        {"Stick", 4, 0, 0, 1},       {"NVMe", 1, 0, 0, 0},
    };
    std::vector<FakeDisk> disks;
    for (const Case& c : cases)
        disks.push_back({.name = c.name, .busType = c.bus});
    FakeEnumerator enumerator(disks);
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    std::vector<_DiskVolumeData> rows;
    catalogue.GetAllDeviceInfo(rows);
    ASSERT_EQ(rows.size(), std::size(cases));
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(rows[i].isSSD, cases[i].isSSD);
        EXPECT_EQ(rows[i].isDmg, cases[i].isDmg);
        EXPECT_EQ(rows[i].isUSB, cases[i].isUSB);
        EXPECT_TRUE(rows[i].volumes.empty());
    }
}

TEST_F(CatalogueTest, NoDiskFoundLeavesTheCatalogueEmptyImagesIncluded) {
    FakeEnumerator enumerator;
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    EXPECT_EQ(catalogue.GetInitState(), 1);
    EXPECT_EQ(catalogue.VKOpenEdiFileImp(Edi("x.edi").c_str()), 1);
    std::vector<_DiskVolumeData> rows;
    catalogue.GetAllDeviceInfo(rows);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(catalogue.GetStorageByDiskVolumeIndex(0, -1), nullptr);

    // Disks arrive: the image opened before is listed behind them.
    enumerator.SetDisks({{.name = "Disk"}});
    catalogue.InitDeviceInfo();
    catalogue.GetAllDeviceInfo(rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].isEdi, 1);

    // Clear lets the disks go; opened images stay for the next build.
    catalogue.Clear();
    EXPECT_EQ(catalogue.GetInitState(), 2);
    EXPECT_EQ(catalogue.GetDiskStorageByIndex(0), nullptr);
    catalogue.InitDeviceInfo();
    EXPECT_NE(catalogue.GetDiskStorageByIndex(1), nullptr);
}

TEST_F(CatalogueTest, ClearWaitsUntilNoScanHoldsADevice) {
    std::atomic<bool> reading{false};
    std::atomic<bool> freedWhileRead{false};
    FakeEnumerator enumerator({{.name = "Disk", .volumes = {{.name = "V"}}}});
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    enumerator.onUninit = [&] { freedWhileRead = freedWhileRead || reading.load(); };

    VKUIDeviceData::DeviceLease lease = catalogue.LeaseDevice(0, 0);
    ASSERT_TRUE(lease);
    EXPECT_FALSE(catalogue.LeaseDevice(0, 1));
    reading = true;
    auto clear = std::async(std::launch::async, [&] { catalogue.Clear(); });
    // The clear must not end while the device is in use; give it every
    // chance to do so wrongly, then end the use.
    const bool endedEarly =
        clear.wait_for(std::chrono::milliseconds(300)) == std::future_status::ready;
    EXPECT_FALSE(endedEarly) << "the devices were freed while a scan held one";
    if (!endedEarly) {
        std::vector<uint8_t> sector(512);
        EXPECT_NE(lease.get()->ReadSector(sector.data(), 0, 1), 0);
    }
    reading = false;
    lease = {};
    clear.get();
    EXPECT_FALSE(freedWhileRead);
    EXPECT_EQ(catalogue.GetDiskStorageByIndex(0), nullptr);

    // A rebuild waits the same way.
    catalogue.InitDeviceInfo();
    auto lease2 = catalogue.LeaseDevice(0, -1);
    ASSERT_TRUE(lease2);
    reading = true;
    auto rebuild = std::async(std::launch::async, [&] { catalogue.InitDeviceInfo(); });
    EXPECT_NE(rebuild.wait_for(std::chrono::milliseconds(100)), std::future_status::ready);
    reading = false;
    lease2 = {};
    rebuild.get();
    EXPECT_FALSE(freedWhileRead);
}

TEST_F(CatalogueTest, DiskImagesAreCheckedBeforeTheyOpen) {
    auto sized = [&](const std::string& name, size_t bytes, const std::string& tail = "") {
        std::vector<uint8_t> data(bytes, 0x5a);
        if (!tail.empty())
            std::copy(tail.begin(), tail.end(), data.end() - static_cast<long>(512));
        velmora::test::WriteFile(dir / name, data);
        return dir / name;
    };
    struct Case {
        const char* what;
        std::string path;
        int accepted;
        uint64_t sectors;
    } cases[] = {
        {"empty file", sized("empty.img", 0), 0, 0},
        {"511 bytes", sized("511.img", 511), 0, 0},
        {"512 bytes", sized("512.img", 512), 0, 0},
        {"raw, whole sectors", sized("raw.img", 1049088), 1, 2049},
        {"raw, a partial sector", sized("raw1.img", 1049089), 1, 2050},
        {"three letters of the trailer", sized("kol.img", 4096, "kol"), 1, 8},
        {"missing", dir / "missing.dmg", 0, 0},
        {"UDIF, raw chunks", Udif("raw"), 1, 32},
        {"UDIF, a zero-fill chunk", Udif("zero"), 1, 32},
        {"UDIF, a zlib chunk", Udif("zlib"), 0, 0},
        {"encrypted", Udif("encrypted"), 0, 0},
        {"property list past the file", Udif("badxml"), 0, 0},
        {"property list starting past the file", Udif("kolypast"), 0, 0},
        {"property list of 1 GiB", Udif("hugexml"), 0, 0},
        {"chunk count past the table", Udif("mishcount"), 0, 0},
        {"not a property list", Udif("garbled"), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VKUIController::VKOpenDmgFile(c.path), c.accepted);
        CDMGDeviceInfoStruct record;
        ASSERT_TRUE(c.path.empty() || InitDmgRecord(c.path.c_str(), record));
        EXPECT_EQ(ParseDmgFile(c.path.c_str(), record), c.accepted);
        if (c.accepted)
            EXPECT_EQ(record.totalSectors, c.sectors);
    }
    // The check reads in memory: nothing is written beside the images.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string ext = entry.path().extension();
        EXPECT_TRUE(ext == ".img" || ext == ".dmg") << entry.path();
    }
    // An accepted image opens as a disk image of the catalogue, sized by
    // its record.
    FakeEnumerator enumerator({{.name = "Disk"}});
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    ASSERT_EQ(OpenDmg(catalogue, dir / "raw1.img"), 1);
    std::vector<_DiskVolumeData> rows;
    catalogue.GetAllDeviceInfo(rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].isAppleDmg, 1);
    EXPECT_EQ(Name(rows[1]), "raw1.img");
    // 2,050 sectors would be more than the file holds: the file's size.
    EXPECT_EQ(rows[1].capacity, 1049089);
    EXPECT_EQ(VKUIController::VKOpenEdiFile(dir / "raw.img"), 0);
}

}  // namespace
