#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "DeviceTestHelpers.h"
#include "ImageDevice.h"
#include "StorageDevices.h"

using devtest::AllZero;
using devtest::PatternMismatch;

namespace {

class EdiImageTest : public testing::Test {
protected:
    // Makes an edi image with the fixture script.
    std::string MakeEdi(const std::string& name, int sectorSize = 512, int sectors = 64,
                        const std::string& label = "Test Disk", long long ctime = 1700000000) {
        std::string out = dir / name;
        const bool ran = velmora::test::RunProgram(
            {"python3", devtest::FixtureScript("make_edi.py"), out, "--sector-size",
             std::to_string(sectorSize), "--sectors", std::to_string(sectors), "--name", label,
             "--ctime", std::to_string(ctime)});
        EXPECT_TRUE(ran);
        return out;
    }
    velmora::test::TempDir dir;
};

TEST_F(EdiImageTest, OpensAndReadsSectorZeroAtTheDataOffset) {
    for (int ssz : {512, 4096}) {
        SCOPED_TRACE(ssz);
        std::string path = MakeEdi("disk" + std::to_string(ssz) + ".edi", ssz, 40);
        std::unique_ptr<IStorageDevice> dev(CreateEdiDevice(path.c_str()));
        ASSERT_NE(dev, nullptr);
        auto* edi = static_cast<CEdiDevice*>(dev.get());
        EXPECT_EQ(dev->GetType(), kDeviceEdiImage);
        EXPECT_EQ(dev->GetSectorSize(), ssz);  // the record's, not Open's 512
        EXPECT_EQ(dev->GetTotalSectors(), 40);
        EXPECT_EQ(edi->GetDataOffset(), ssz == 512 ? 1536 : 4096);
        ASSERT_NE(edi->GetEDIInfo(), nullptr);
        EXPECT_STREQ(edi->GetEDIInfo()->deviceName, "Test Disk");
        EXPECT_STREQ(edi->GetEDIInfo()->imagePath, path.c_str());

        std::vector<uint8_t> buf(2 * static_cast<size_t>(ssz), 0xAA);
        ASSERT_EQ(dev->ReadSector(buf.data(), 0, 2), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), 0, buf.size()), -1);
        ASSERT_EQ(dev->ReadSector(buf.data(), 38, 2), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), 38LL * ssz, buf.size()), -1);
        // Past the image's end: a failure, and zeros rather than old bytes.
        EXPECT_EQ(dev->ReadSector(buf.data(), 40, 2), 0);
        EXPECT_TRUE(ResultIs(dev->GetLastError(), kModuleStorageDevice, kErrFailed));
        EXPECT_TRUE(AllZero(buf.data(), buf.size()));
        // Reopening keeps the record's geometry.
        EXPECT_EQ(dev->Open(nullptr), 1);
        EXPECT_EQ(dev->GetSectorSize(), ssz);
    }
}

void Patch64(std::vector<uint8_t>& f, size_t off, int64_t v) {
    vk::StoreLE<int64_t>(f.data() + off, v);
}

TEST_F(EdiImageTest, DamagedOrLyingImagesAreRefused) {
    const std::string good = MakeEdi("good.edi", 512, 16);
    const std::vector<uint8_t> bytes = velmora::test::ReadFile(good);
    const int64_t size = static_cast<int64_t>(bytes.size());
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } cases[] = {
        {"file one byte longer than its record says", [](auto& f) { f.push_back(0); }},
        {"file one byte shorter", [](auto& f) { f.pop_back(); }},
        {"header length 1193", [](auto& f) { vk::StoreLE<int32_t>(f.data() + 4, 1193); }},
        {"header length 16: no image size",
         [](auto& f) { vk::StoreLE<int32_t>(f.data() + 4, 16); }},
        {"header length negative", [](auto& f) { vk::StoreLE<int32_t>(f.data() + 4, -1); }},
        {"magic \"ed\"", [](auto& f) { f[2] = 0; }},
        {"magic empty", [](auto& f) { f[0] = 0; }},
        {"magic without its zero byte", [](auto& f) { f[3] = 'x'; }},
        {"header only", [](auto& f) { f.resize(8); }},
        {"truncated header", [](auto& f) { f.resize(5); }},
        {"empty file", [](auto& f) { f.clear(); }},
        {"record cut short",
         [&](auto& f) {
             f.resize(600);
             Patch64(f, 8 + 24, 600);
         }},
        {"sector size 0", [](auto& f) { Patch64(f, 8, 0); }},
        {"sector size 1000", [](auto& f) { Patch64(f, 8, 1000); }},
        {"data offset past the file", [&](auto& f) { Patch64(f, 8 + 16, size + 512); }},
        {"data offset inside the header", [](auto& f) { Patch64(f, 8 + 16, 512); }},
        {"more sectors than the file holds", [](auto& f) { Patch64(f, 8 + 8, 17); }},
        {"negative sector count", [](auto& f) { Patch64(f, 8 + 8, -1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> f = bytes;
        c.damage(f);
        std::string path = dir / "bad.edi";
        velmora::test::WriteFile(path, f);
        CEDIDeviceInfoStruct info;
        std::memset(&info, 0x77, sizeof(info));
        EXPECT_EQ(VkFillEdiFileInfo(&info, path.c_str()), 0xFFFFFFFFu);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(&info)[0], 0x77);  // untouched on failure
        EXPECT_EQ(CreateEdiDevice(path.c_str()), nullptr);
    }
    EXPECT_EQ(VkFillEdiFileInfo(nullptr, good.c_str()), 0xFFFFFFFFu);
    CEDIDeviceInfoStruct info{};
    EXPECT_EQ(VkFillEdiFileInfo(&info, nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(VkFillEdiFileInfo(&info, (dir / "missing.edi").c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(VkFillEdiFileInfo(&info, good.c_str()), 0u);
}

// A record shorter than the full 1,192 bytes is read as far as it goes; what
// it leaves out is zero.
TEST_F(EdiImageTest, ShorterRecordIsReadAsFarAsItGoes) {
    std::vector<uint8_t> f = velmora::test::ReadFile(MakeEdi("full.edi", 512, 16));
    for (int length : {1191, 160}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> cut = f;
        vk::StoreLE<int32_t>(cut.data() + 4, length);
        std::fill(cut.begin() + 8 + length, cut.begin() + 8 + 1192, 0);
        const std::string path = dir / "short.edi";
        velmora::test::WriteFile(path, cut);
        std::unique_ptr<IStorageDevice> dev(CreateEdiDevice(path.c_str()));
        ASSERT_NE(dev, nullptr);
        const CEDIDeviceInfoStruct* info = static_cast<CEdiDevice*>(dev.get())->GetEDIInfo();
        ASSERT_NE(info, nullptr);
        EXPECT_STREQ(info->deviceName, "Test Disk");
        EXPECT_EQ(info->creationTime, length == 1191 ? 1700000000LL & 0x00FFFFFFFFFFFFFFLL : 0);
        EXPECT_EQ(dev->GetTotalSectors(), 16);
        std::vector<uint8_t> buf(512, 0xAA);
        ASSERT_EQ(dev->ReadSector(buf.data(), 3, 1), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), 3 * 512, buf.size()), -1);
    }
}

TEST_F(EdiImageTest, NameIsEndedInsideItsField) {
    std::string path = MakeEdi("name.edi");
    std::vector<uint8_t> f = velmora::test::ReadFile(path);
    std::memset(f.data() + 8 + 32, 'N', 128);  // no terminator at all
    velmora::test::WriteFile(path, f);
    CEDIDeviceInfoStruct info{};
    ASSERT_EQ(VkFillEdiFileInfo(&info, path.c_str()), 0u);
    EXPECT_EQ(std::strlen(info.deviceName), 127u);
}

TEST_F(EdiImageTest, SavedRecordFindsOnlyTheVeryImage) {
    std::string path = MakeEdi("saved.edi");
    CEDIDeviceInfoStruct saved{};
    ASSERT_EQ(VkFillEdiFileInfo(&saved, path.c_str()), 0u);

    std::unique_ptr<IStorageDevice> same(CreateEdiDeviceByEdiInfo(&saved, sizeof(saved), nullptr));
    EXPECT_NE(same, nullptr);
    std::string moved = dir / "moved.edi";
    ASSERT_EQ(rename(path.c_str(), moved.c_str()), 0);
    EXPECT_EQ(CreateEdiDeviceByEdiInfo(&saved, sizeof(saved), nullptr), nullptr);
    std::unique_ptr<IStorageDevice> found(
        CreateEdiDeviceByEdiInfo(&saved, sizeof(saved), moved.c_str()));
    EXPECT_NE(found, nullptr);

    struct Case {
        const char* what;
        std::function<void(CEDIDeviceInfoStruct&)> change;
    } cases[] = {
        {"name", [](auto& r) { r.deviceName[0] = 'X'; }},
        {"creation time", [](auto& r) { r.creationTime += 1; }},
        {"sector count", [](auto& r) { r.totalSectors -= 1; }},
        {"image size", [](auto& r) { r.imageSize += 512; }},
        {"data offset", [](auto& r) { r.dataOffset = 2048; }},
        {"sector size", [](auto& r) { r.sectorSize = 4096; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CEDIDeviceInfoStruct changed = saved;
        c.change(changed);
        EXPECT_EQ(CreateEdiDeviceByEdiInfo(&changed, sizeof(changed), moved.c_str()), nullptr);
    }
    EXPECT_EQ(CreateEdiDeviceByEdiInfo(&saved, sizeof(saved) - 1, moved.c_str()), nullptr);
    EXPECT_EQ(CreateEdiDeviceByEdiInfo(nullptr, sizeof(saved), moved.c_str()), nullptr);
}

class DmgImageTest : public testing::Test {
protected:
    // A raw payload behind 0x2000 bytes of something else, and its record.
    void SetUp() override {
        std::vector<uint8_t> file(0x2000, 0xEE);
        std::vector<uint8_t> payload = devtest::Pattern(0, 100 * 512);
        file.insert(file.end(), payload.begin(), payload.end());
        velmora::test::WriteFile(path, file);
        std::memset(&record, 0, sizeof(record));
        record.sectorSize = 512;
        record.totalSectors = 100;
        record.dataOffset = 0x2000;
        record.fileSize = static_cast<int64_t>(file.size());
        std::strcpy(record.fileName, "raw.img");
        ASSERT_EQ(VkFillDmgFileInfo(&record, path.c_str()), 0u);
    }
    velmora::test::TempDir dir;
    std::string path = dir / "raw.img";
    CDMGDeviceInfoStruct record;
};

TEST_F(DmgImageTest, ReadsFromTheRecordsDataOffsetAndKeepsTheRecordWhole) {
    EXPECT_STREQ(record.filePath, path.c_str());
    std::unique_ptr<IStorageDevice> dev(CreateDmgDevice(path.c_str(), &record));
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->GetType(), kDeviceDiskImage);
    EXPECT_EQ(dev->GetTotalSectors(), 100);
    auto* dmg = static_cast<CDmgDevice*>(dev.get());
    ASSERT_NE(dmg->GetDMGInfo(), nullptr);
    EXPECT_EQ(std::memcmp(dmg->GetDMGInfo(), &record, sizeof(record)), 0);
    std::vector<uint8_t> buf(3 * 512);
    ASSERT_EQ(dev->ReadSector(buf.data(), 0, 3), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 0, buf.size()), -1);

    std::unique_ptr<IStorageDevice> again(
        CreateDmgDeviceByDmgInfo(&record, sizeof(record), "/ignored"));
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(again->ReadSector(buf.data(), 97, 3), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 97 * 512, buf.size()), -1);
}

TEST_F(DmgImageTest, BadRecordsGiveNoDevice) {
    EXPECT_EQ(CreateDmgDevice(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(CreateDmgDevice((dir / "missing.img").c_str(), &record), nullptr);
    CDMGDeviceInfoStruct bad = record;
    bad.sectorSize = 0;
    EXPECT_EQ(CreateDmgDevice(path.c_str(), &bad), nullptr);
    // A saved record cut before its path names no file.
    EXPECT_EQ(CreateDmgDeviceByDmgInfo(&record, 1056, nullptr), nullptr);
    EXPECT_EQ(CreateDmgDeviceByDmgInfo(&record, sizeof(record) + 1, nullptr), nullptr);
    EXPECT_EQ(CreateDmgDeviceByDmgInfo(&record, 0, nullptr), nullptr);
    // A path without its terminator is ended inside the field, never read past.
    std::vector<uint8_t> raw(sizeof(record));
    std::memcpy(raw.data(), &record, sizeof(record));
    std::memset(raw.data() + 1056, 'p', 1032);
    EXPECT_EQ(CreateDmgDeviceByDmgInfo(raw.data(), static_cast<int>(raw.size()), nullptr), nullptr);

    CDMGDeviceInfoStruct info{};
    EXPECT_EQ(VkFillDmgFileInfo(&info, (dir / "missing.img").c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(VkFillDmgFileInfo(nullptr, path.c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(VkFillDmgFileInfo(&info, nullptr), 0xFFFFFFFFu);
}

TEST_F(DmgImageTest, ImageDeviceBadArgumentsAndMissingRecord) {
    std::unique_ptr<IStorageDevice> dev(CreateDmgDeviceImp(path.c_str()));
    auto* dmg = static_cast<CDmgDevice*>(dev.get());
    EXPECT_EQ(dmg->GetDMGInfo(), nullptr);
    EXPECT_TRUE(ResultIs(dmg->GetLastError(), kModuleStorageDevice, kErrNoInformation));
    EXPECT_EQ(dev->Close(), 0);
    ASSERT_EQ(dev->Open(nullptr), 1);
    EXPECT_EQ(dev->GetSectorSize(), 512);
    std::vector<uint8_t> buf(512, 0x44);
    for (auto [first, count] : {std::pair<long long, long long>{-1, 1}, {0, 0}, {0, -2}}) {
        EXPECT_EQ(dev->ReadSector(buf.data(), first, count), 0);
        EXPECT_TRUE(ResultIs(dev->GetLastError(), kModuleStorageDevice, kErrBadArgument));
    }
    EXPECT_EQ(dev->ReadSector(nullptr, 0, 1), 0);
    EXPECT_EQ(buf[0], 0x44);
    EXPECT_EQ(dev->Close(), 1);
}

}  // namespace
