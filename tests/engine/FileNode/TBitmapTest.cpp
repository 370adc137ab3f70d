#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "TBitmap.h"

namespace {

// The process's resident set in KiB, from /proc/self/status; -1 without it.
long long ResidentKib() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            std::sscanf(line + 6, "%lld", &kib);
    }
    std::fclose(f);
    return kib;
}

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

TEST(Bitmap, MapOfAWholeDiskCostsMemoryOnlyWhereMarked) {
    // A deep scan's map of a 16 TiB disk in units of 8 sectors: 512 MiB of
    // zeros, of which a scan marks a few ranges. Only the pages it marks may
    // become resident, even when every part of the map is read, and bits
    // nowhere near them read as clear.
    const long long units = (16LL << 40) / 4096;
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "the thread sanitizer's calloc writes its zeros";
#endif
#endif
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer's calloc writes its zeros";
#endif
    const long long before = ResidentKib();
    if (before < 0)
        GTEST_SKIP() << "no /proc/self/status";
    TBitmap map;
    ASSERT_EQ(map.CreateBitmap(units, 8), 1);
    const long long marks[] = {0, units / 3, units / 2 + 12345, units - 20};
    for (long long first : marks)
        ASSERT_EQ(map.SetBit(first, 1, 20), 1);
    for (long long first : marks) {
        EXPECT_NE(map.GetBit(first), 0) << first;
        EXPECT_NE(map.GetBit(first + 19), 0) << first;
        EXPECT_EQ(map.GetBit(first + 20), 0) << first;
    }
    // The signature search reads the marks of every block it looks at: one
    // read in every page of the map.
    long long set = 0;
    for (long long i = 4096 * 4 + 7; i < units; i += 4096 * 8)
        set += map.GetBit(i) != 0;
    EXPECT_EQ(set, 0);
    const long long grown = ResidentKib() - before;
    EXPECT_LT(grown, 64 * 1024) << "KiB resident for a map of " << (map.GetBitmapSize() >> 20)
                                << " MiB";
}

}  // namespace
