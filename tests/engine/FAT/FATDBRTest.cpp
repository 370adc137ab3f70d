#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "FATDBR.h"

namespace {

std::vector<uint8_t> Fat16Boot() {
    std::vector<uint8_t> s(512, 0);
    s[0] = 0xEB;
    vk::StoreLE<uint16_t>(&s[11], 512);
    s[13] = 4;                             // sectors per cluster
    vk::StoreLE<uint16_t>(&s[14], 4);      // reserved
    s[16] = 2;                             // FATs
    vk::StoreLE<uint16_t>(&s[17], 512);    // root entries
    vk::StoreLE<uint16_t>(&s[19], 0);      // total (16-bit) unused
    vk::StoreLE<uint16_t>(&s[22], 64);     // sectors per FAT
    vk::StoreLE<uint32_t>(&s[32], 65536);  // total (32-bit)
    std::memcpy(&s[54], "FAT16   ", 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

std::vector<uint8_t> Fat32Boot() {
    std::vector<uint8_t> s(512, 0);
    s[0] = 0xEB;
    vk::StoreLE<uint16_t>(&s[11], 512);
    s[13] = 1;
    vk::StoreLE<uint16_t>(&s[14], 32);
    s[16] = 2;
    vk::StoreLE<uint32_t>(&s[32], 98304);
    vk::StoreLE<uint32_t>(&s[36], 757);
    vk::StoreLE<uint32_t>(&s[44], 2);
    std::memcpy(&s[82], "fat32   ", 8);  // the type text is compared ignoring case
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

struct BootCase {
    const char* name;
    bool fat32;
    std::function<void(std::vector<uint8_t>&)> change;
    uint32_t deviceSectorSize;
    int expectedType;
};

TEST(FATBootSector, RecognisesFat16AndFat32AndRefusesTheRest) {
    const std::vector<BootCase> cases = {
        {"fat16 as made", false, [](auto&) {}, 512, 1},
        {"fat32 as made", true, [](auto&) {}, 512, 2},
        {"fat12 text", false, [](auto& s) { std::memcpy(&s[54], "FAT12   ", 8); }, 512, 10},
        {"one FAT", false, [](auto& s) { s[16] = 1; }, 512, 10},
        {"three FATs on fat32", true, [](auto& s) { s[16] = 3; }, 512, 10},
        {"3 sectors per cluster", false, [](auto& s) { s[13] = 3; }, 512, 10},
        {"0 sectors per cluster", true, [](auto& s) { s[13] = 0; }, 512, 10},
        {"128 sectors per cluster", false, [](auto& s) { s[13] = 128; }, 512, 1},
        {"bytes per sector differ from the device", false, [](auto&) {}, 4096, 10},
        {"device sector size 0", true, [](auto&) {}, 0, 10},
        {"223 root entries", false, [](auto& s) { vk::StoreLE<uint16_t>(&s[17], 223); }, 512, 10},
        {"224 root entries", false, [](auto& s) { vk::StoreLE<uint16_t>(&s[17], 224); }, 512, 1},
        {"root entries not whole sectors", false,
         [](auto& s) { vk::StoreLE<uint16_t>(&s[17], 232); }, 512, 10},
        {"fat16 sectors per FAT 0", false, [](auto& s) { vk::StoreLE<uint16_t>(&s[22], 0); }, 512,
         10},
        {"fat32 sectors per FAT 0", true, [](auto& s) { vk::StoreLE<uint32_t>(&s[36], 0); }, 512,
         10},
        {"no signature", false, [](auto& s) { s[511] = 0; }, 512, 10},
        {"all zero", false, [](auto& s) { std::fill(s.begin(), s.end(), 0); }, 512, 10},
        // A damaged type text: the layout's cluster count decides, as the
        // format defines it.
        {"fat16 type text damaged", false, [](auto& s) { s[56] = 'X'; }, 512, 1},
        {"fat16 type text wiped", false, [](auto& s) { std::memset(&s[54], 0, 8); }, 512, 1},
        {"fat32 type text damaged", true, [](auto& s) { s[83] = '@'; }, 512, 2},
        {"damaged text, too few clusters: FAT12", false,
         [](auto& s) {
             s[56] = 'X';
             vk::StoreLE<uint32_t>(&s[32], 8000);
         },
         512, 10},
        {"damaged text, a FAT too small for the clusters", false,
         [](auto& s) {
             s[56] = 'X';
             vk::StoreLE<uint16_t>(&s[22], 12);
         },
         512, 10},
        {"damaged text, FAT32 count in a FAT16 layout", false,
         [](auto& s) {
             s[56] = 'X';
             vk::StoreLE<uint32_t>(&s[32], 4000000);
             vk::StoreLE<uint16_t>(&s[22], 0xFFFF);
         },
         512, 10},
        {"damaged text and no signature", false,
         [](auto& s) {
             s[56] = 'X';
             s[510] = 0;
         },
         512, 10},
        {"damaged text, both layouts at once", true,
         [](auto& s) {
             s[83] = '@';
             vk::StoreLE<uint16_t>(&s[22], 64);
             vk::StoreLE<uint16_t>(&s[17], 512);
         },
         512, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = c.fat32 ? Fat32Boot() : Fat16Boot();
        c.change(s);
        CTempFATDBR dbr(s.data(), s.size(), c.deviceSectorSize);
        EXPECT_EQ(dbr.GetFileSystemType(), c.expectedType);
        EXPECT_EQ(dbr.IsValidDBR(), c.expectedType != 10);
    }
}

TEST(FATBootSector, FieldsFollowTheType) {
    auto s16 = Fat16Boot();
    CTempFATDBR fat16(s16.data(), s16.size(), 512);
    EXPECT_EQ(fat16.GetSectorsPerFat(), 64u);
    EXPECT_EQ(fat16.GetTotalSectors(), 65536u);  // 16-bit field 0: the 32-bit one
    vk::StoreLE<uint16_t>(&s16[19], 40000);
    EXPECT_EQ(CTempFATDBR(s16.data(), s16.size(), 512).GetTotalSectors(), 40000u);
    EXPECT_EQ(fat16.GetRootDirStartCluster(), 0u);

    auto s32 = Fat32Boot();
    vk::StoreLE<uint16_t>(&s32[19], 1234);  // ignored on FAT32
    CTempFATDBR fat32(s32.data(), s32.size(), 512);
    EXPECT_EQ(fat32.GetTotalSectors(), 98304u);
    EXPECT_EQ(fat32.GetSectorsPerFat(), 757u);
    EXPECT_EQ(fat32.GetRootDirStartCluster(), 2u);

    // An unknown volume answers 0, except the two raw fields.
    auto s12 = Fat16Boot();
    std::memcpy(&s12[54], "FAT12   ", 8);
    CTempFATDBR fat12(s12.data(), s12.size(), 512);
    EXPECT_TRUE(fat12.LooksLikeFAT12());
    EXPECT_EQ(fat12.GetSectorsPerFat(), 0u);
    EXPECT_EQ(fat12.GetTotalSectors(), 0u);
    EXPECT_EQ(fat12.GetSectorsperCluster(), 0u);
    EXPECT_EQ(fat12.GetReservedSector(), 0u);
    EXPECT_EQ(fat12.GetFatTableStartSector(), 4u);
    EXPECT_EQ(fat12.GetRootEntries(), 512u);
}

TEST(FATBootSector, ShortBufferIsNeverReadPastItsEnd) {
    auto s = Fat16Boot();
    CTempFATDBR dbr(s.data(), 100, 512);  // the signature lies beyond the view
    EXPECT_FALSE(dbr.IsValidDBR());
    EXPECT_TRUE(CTempFATDBR(s.data(), 512u).IsValidDBR());
    vk::StoreLE<uint16_t>(&s[11], 256);
    EXPECT_FALSE(
        CTempFATDBR(s.data(), 256u).IsValidDBR());  // a sector too short to hold the signature
    EXPECT_FALSE(CTempFATDBR::SimpleCheck(s.data(), 511));
    EXPECT_TRUE(CTempFATDBR::SimpleCheck(s.data(), 512));
}

TEST(FATBootSector, GeometryIsSixtyFourBitAndRefusesAbsurdLayouts) {
    auto s = Fat32Boot();
    // A FAT32 volume of nearly 2^32 sectors with 128-sector clusters: the
    // sector of a high cluster lies past 2^32 and must not wrap.
    s[13] = 128;
    vk::StoreLE<uint32_t>(&s[32], 0xFFFFFFF0u);
    vk::StoreLE<uint32_t>(&s[36], 100000);
    vk::StoreLE<uint32_t>(&s[44], 0x00FFF000);
    CTempFATDBR dbr(s.data(), s.size(), 512);
    ASSERT_TRUE(dbr.IsValidDBR());
    FATGeometry g;
    ASSERT_TRUE(dbr.GetGeometry(0, g));
    EXPECT_EQ(g.dataStart, 32u + 2 * 100000u);
    EXPECT_EQ(g.rootDirStart, g.dataStart + (0x00FFF000ULL - 2) * 128);
    // A cluster number read from a damaged entry can lie far beyond.
    EXPECT_EQ(FATClusterToSector(g.dataStart, 0x0FFFFFF0, 128),
              g.dataStart + (0x0FFFFFF0ULL - 2) * 128);

    // Cut to the device.
    ASSERT_TRUE(dbr.GetGeometry(0x80000000ULL, g));
    EXPECT_EQ(g.totalSectors, 0x80000000ULL);
    EXPECT_EQ(g.totalClusters, (0x80000000ULL - g.dataStart) / 128);

    struct Absurd {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> change;
    };
    const std::vector<Absurd> absurd = {
        {"FATs larger than the volume", [](auto& b) { vk::StoreLE<uint32_t>(&b[36], 0x7FFFFFFF); }},
        {"no reserved sector", [](auto& b) { vk::StoreLE<uint16_t>(&b[14], 0); }},
        {"total sectors 0", [](auto& b) { vk::StoreLE<uint32_t>(&b[32], 0); }},
        {"root cluster 0", [](auto& b) { vk::StoreLE<uint32_t>(&b[44], 0); }},
        {"root cluster past the volume",
         [](auto& b) { vk::StoreLE<uint32_t>(&b[44], 0x0FFFFFF0); }},
    };
    for (const auto& a : absurd) {
        SCOPED_TRACE(a.name);
        auto b = Fat32Boot();
        a.change(b);
        CTempFATDBR bad(b.data(), b.size(), 512);
        ASSERT_TRUE(bad.IsValidDBR());
        EXPECT_FALSE(bad.GetGeometry(0, g));
    }
}

}  // namespace
