#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "DeviceTestHelpers.h"
#include "DmgImageCheck.h"
#include "StorageDevices.h"

using devtest::PatternMismatch;

namespace {

class DmgCheckTest : public testing::Test {
protected:
    std::string Make(const std::string& kind) {
        std::string out = dir / (kind + ".dmg");
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", devtest::FixtureScript("make_udif.py"), out, "--kind", kind}));
        return out;
    }
    velmora::test::TempDir dir;
};

TEST_F(DmgCheckTest, AcceptsOnlyImagesWhoseSectorsLieWhereTheDeviceReadsThem) {
    struct Case {
        const char* kind;
        int accepted;
        unsigned long long sectors;
    } cases[] = {
        {"raw", 1, 32},      {"plain", 1, 33}, {"zlib", 0, 0},    {"gap", 0, 0},
        {"encrypted", 0, 0}, {"badxml", 0, 0}, {"garbled", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        std::string path = Make(c.kind);
        CDMGDeviceInfoStruct record;
        ASSERT_TRUE(InitDmgRecord(path.c_str(), record));
        EXPECT_EQ(ParseDmgFile(path.c_str(), record), c.accepted);
        if (!c.accepted)
            continue;
        EXPECT_EQ(record.totalSectors, c.sectors);
        EXPECT_EQ(record.sectorSize, 512u);
        EXPECT_EQ(record.dataOffset, 0u);
        EXPECT_EQ(record.fileSize, static_cast<int64_t>(std::filesystem::file_size(path)));
        EXPECT_STREQ(record.fileName, (std::string(c.kind) + ".dmg").c_str());
        std::unique_ptr<IStorageDevice> dev(CreateDmgDevice(path.c_str(), &record));
        ASSERT_NE(dev, nullptr);
        std::vector<uint8_t> buf(4 * 512);
        ASSERT_EQ(dev->ReadSector(buf.data(), 28, 4), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), 28 * 512, buf.size()), -1);
    }
    // The check reads the property list in memory: nothing appears beside the images.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.path().extension() == ".dmg" ? 0 : 1;
    EXPECT_EQ(files, 0u);

    CDMGDeviceInfoStruct record;
    InitDmgRecord("/x", record);
    EXPECT_EQ(ParseDmgFile((dir / "missing.dmg").c_str(), record), 0);
    velmora::test::WriteFile(dir / "tiny.dmg", std::vector<uint8_t>(512, 1));
    EXPECT_EQ(ParseDmgFile((dir / "tiny.dmg").c_str(), record), 0);
    EXPECT_FALSE(InitDmgRecord(std::string(1100, 'a').c_str(), record));
}

std::vector<uint8_t> Table(uint32_t entries, size_t stored, uint32_t type = 1) {
    std::vector<uint8_t> t(204 + 40 * stored);
    vk::StoreBE<uint32_t>(t.data(), 0x6D697368);
    vk::StoreBE<uint32_t>(t.data() + 200, entries);
    for (size_t i = 0; i < stored; ++i) {
        uint8_t* c = t.data() + 204 + 40 * i;
        vk::StoreBE<uint32_t>(c, type);
        vk::StoreBE<uint64_t>(c + 8, 8 * i);
        vk::StoreBE<uint64_t>(c + 16, 8);
        vk::StoreBE<uint64_t>(c + 24, 4096 * i);
        vk::StoreBE<uint64_t>(c + 32, 4096);
    }
    return t;
}

TEST(DmgChunkTableTest, TablesThatCannotBeCheckedAreRefused) {
    EXPECT_EQ(ParseChunkEntry({}), 1);
    EXPECT_EQ(ParseChunkEntry({Table(3, 3)}), 1);
    EXPECT_EQ(ParseChunkEntry({Table(3, 3, 0x80000004)}), 0);
    EXPECT_EQ(ParseChunkEntry({Table(3, 3, 0x80000006)}), 0);
    EXPECT_EQ(ParseChunkEntry({Table(1000, 3)}), 0);  // counts more entries than it holds
    EXPECT_EQ(ParseChunkEntry({std::vector<uint8_t>(100, 0)}), 0);
    EXPECT_EQ(ParseChunkEntry({Table(3, 3, 0x1234)}), 0);  // unknown kind
    EXPECT_EQ(swap_uint32(0x11223344u), 0x44332211u);
    EXPECT_EQ(swap_int64(0x0102030405060708LL), 0x0807060504030201LL);
}

}  // namespace
