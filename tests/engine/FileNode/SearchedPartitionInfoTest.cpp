#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ByteReader.h"
#include "SearchedPartitionInfo.h"

namespace {

TEST(PartitionRecord, FreshRecordAndSectorSize) {
    const struct {
        unsigned given;
        unsigned expected;
    } cases[] = {{0, 512}, {520, 512}, {512, 512}, {4096, 4096}, {1024, 1024}, {256, 512}};
    for (const auto& c : cases)
        EXPECT_EQ(CSearchedPartitionInfo(c.given).GetSectorSize(), c.expected) << c.given;
    CSearchedPartitionInfo r(512);
    EXPECT_EQ(r.GetType(), 4);
    EXPECT_EQ(r.fileSystemType, 10);
    EXPECT_EQ(r.partitionIndex, -1);
    EXPECT_EQ(static_cast<uint16_t>(r.partitionIndex), 0xFFFF);
    EXPECT_EQ(r.fsValue, 1);
    EXPECT_EQ(r.score, 0.0);
    EXPECT_EQ(r.GetTotalSectors(), 0u);
    EXPECT_EQ(r.fileSystemContext, nullptr);
}

TEST(PartitionRecord, ImageHasFixedOffsets) {
    CSearchedPartitionInfo r(4096);
    int context = 0;
    r.fileSystemContext = &context;
    r.partitionIndex = 3;
    r.fileSystemType = 3;
    r.sectorsPerCluster = 8;
    r.runOriginSector = 0x1122334455LL;
    r.startSector = 2048;
    r.position1 = -5;
    r.position2 = 77;
    r.reserved1 = 9;
    r.SetTotalSectors(1000000);
    r.fsValue = 60;
    r.score = 2.5;
    r.reserved2 = 0xAABBCCDD;
    r.reserved3 = 1;
    uint8_t image[CSearchedPartitionInfo::kImageSize];
    std::memset(image, 0xEE, sizeof(image));
    r.ToImage(image);
    vk::ByteReader b(image, sizeof(image));
    EXPECT_EQ(b.LE64(0), 0u);
    EXPECT_EQ(b.LE64(8), 0u) << "no pointer leaves the process";
    EXPECT_EQ(b.LES16(16), 3);
    EXPECT_EQ(b.LE16(18), 0);
    EXPECT_EQ(b.LES32(20), 3);
    EXPECT_EQ(b.LE32(24), 8u);
    EXPECT_EQ(b.LE32(28), 0u);
    EXPECT_EQ(b.LES64(32), 0x1122334455LL);
    EXPECT_EQ(b.LES64(40), 2048);
    EXPECT_EQ(b.LES64(48), -5);
    EXPECT_EQ(b.LES64(56), 77);
    EXPECT_EQ(b.LE32(64), 4096u);
    EXPECT_EQ(b.LE32(68), 9u);
    EXPECT_EQ(b.LES64(72), 1000000);
    EXPECT_EQ(b.LES64(80), 60);
    EXPECT_EQ(b.LE64(88), 0x4004000000000000ULL);  // 2.5
    EXPECT_EQ(b.LE32(96), 0xAABBCCDDu);
    EXPECT_EQ(b.LE32(100), 1u);

    CSearchedPartitionInfo back(512);
    EXPECT_FALSE(back.FromImage(image, sizeof(image) - 1));
    EXPECT_FALSE(back.FromImage(nullptr, sizeof(image)));
    EXPECT_EQ(back.fileSystemType, 10);
    ASSERT_TRUE(back.FromImage(image, sizeof(image)));
    EXPECT_EQ(back.fileSystemContext, nullptr);
    uint8_t again[CSearchedPartitionInfo::kImageSize];
    back.ToImage(again);
    EXPECT_EQ(std::memcmp(image, again, sizeof(image)), 0);

    CSearchedPartitionInfo copy(512);
    copy = r;
    EXPECT_EQ(copy.fileSystemContext, &context);
    EXPECT_EQ(copy.score, 2.5);
    EXPECT_EQ(copy.GetSectorSize(), 4096u);
}

}  // namespace
