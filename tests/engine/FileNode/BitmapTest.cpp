#include <gtest/gtest.h>

#include "TBitmap.h"

namespace {

TEST(Bitmap, CreateSizesAndBounds) {
    TBitmap map;
    EXPECT_EQ(map.SetBit(0, 1, 1), 0) << "no map yet";
    EXPECT_EQ(map.GetBit(0), 0);
    EXPECT_EQ(map.FillBitmap(1), 0);
    EXPECT_EQ(map.CreateBitmap(0, 1), 0);
    EXPECT_EQ(map.CreateBitmap(-5, 1), 0);
    ASSERT_EQ(map.CreateBitmap(9, 4096), 1);
    EXPECT_EQ(map.GetBitmapSize(), 2u);
    EXPECT_EQ(map.GetMaxBitIndex(), 8);
    EXPECT_EQ(map.GetUnitSize(), 4096u);
    EXPECT_EQ(map.SetBit(7, 1, 5), 1);
    for (int i = 0; i <= 8; ++i)
        EXPECT_EQ(map.GetBit(i) != 0, i >= 7) << i;
    EXPECT_EQ(map.GetBitmapData()[0], 0x80);
    EXPECT_EQ(map.GetBitmapData()[1], 0x01);
    EXPECT_EQ(map.SetBit(9, 1, 1), 0);
    EXPECT_EQ(map.SetBit(-1, 1, 1), 0);
    EXPECT_EQ(map.GetBit(-1), 0);
    EXPECT_EQ(map.GetBit(9), 0);
    EXPECT_EQ(map.SetBit(8, 0, 0), 1);
    EXPECT_NE(map.GetBit(8), 0) << "a count of 0 changes nothing";
    EXPECT_EQ(map.SetBit(0, 1, 0xFFFFFFFFu), 1) << "a huge count stops at the last bit";
    EXPECT_EQ(map.GetBitmapData()[1], 0x01);
    EXPECT_EQ(map.DestroyBitmap(), 1);
    EXPECT_EQ(map.GetBitmapSize(), 0u);
    EXPECT_EQ(map.GetMaxBitIndex(), 0);
    EXPECT_EQ(map.GetBit(0), 0);
}

TEST(Bitmap, RangesAcrossWholeBytes) {
    TBitmap map;
    ASSERT_EQ(map.CreateBitmap(100, 1), 1);
    ASSERT_EQ(map.SetBit(3, 1, 90), 1);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(map.GetBit(i) != 0, i >= 3 && i < 93) << i;
    ASSERT_EQ(map.SetBit(10, 0, 70), 1);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(map.GetBit(i) != 0, (i >= 3 && i < 10) || (i >= 80 && i < 93)) << i;
    ASSERT_EQ(map.FillBitmap(0), 1);
    EXPECT_NE(map.GetBit(99), 0);
    ASSERT_EQ(map.FillBitmap(1), 1);
    EXPECT_EQ(map.GetBit(99), 0);
    // Making a new map replaces the old one.
    ASSERT_EQ(map.CreateBitmap(16, 1), 1);
    EXPECT_EQ(map.GetBitmapSize(), 2u);
}

TEST(Bitmap, ByteCountOfLargeDisksDoesNotWrap) {
    // One bit per sector of a 16 TiB disk and beyond: past 2^32 bytes.
    EXPECT_EQ(TBitmap::BytesFor(1LL << 35), 1ULL << 32);
    EXPECT_EQ(TBitmap::BytesFor((1LL << 35) + 1), (1ULL << 32) + 1);
    EXPECT_EQ(TBitmap::BytesFor(1LL << 40), 1ULL << 37);
    EXPECT_EQ(TBitmap::BytesFor(0), 0u);
}

}  // namespace
