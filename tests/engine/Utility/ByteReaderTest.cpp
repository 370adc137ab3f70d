#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "ByteReader.h"

using vk::ByteReader;

TEST(ByteReader, ReadsBothByteOrders) {
    const uint8_t b[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xff};
    ByteReader r(b, sizeof b);
    EXPECT_EQ(r.LE16(0), 0x0201);
    EXPECT_EQ(r.BE16(0), 0x0102);
    EXPECT_EQ(r.LE32(1), 0x05040302u);
    EXPECT_EQ(r.BE32(1), 0x02030405u);
    EXPECT_EQ(r.LE64(0), 0x0807060504030201ULL);
    EXPECT_EQ(r.BE64(0), 0x0102030405060708ULL);
    EXPECT_EQ(r.S8(8), -1);
    EXPECT_EQ(r.LEN(0, 3), 0x030201u);
    EXPECT_FALSE(r.failed());
}

TEST(ByteReader, OutOfRangeReadsYieldZeroAndMarkFailure) {
    const uint8_t b[] = {1, 2, 3, 4};
    struct Case {
        const char* what;
        size_t off;
        size_t len;
    };
    for (Case c :
         {Case{"straddles end", 2, 4}, Case{"starts at end", 4, 1}, Case{"far past end", 100, 2},
          Case{"wrapping offset", std::numeric_limits<size_t>::max() - 1, 4}}) {
        ByteReader r(b, sizeof b);
        EXPECT_FALSE(r.Has(c.off, c.len)) << c.what;
        EXPECT_EQ(r.LE32(c.off), 0u) << c.what;
        EXPECT_TRUE(r.failed()) << c.what;
    }
    ByteReader r(b, sizeof b);
    uint8_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(r.Copy(1, out, 8));
    EXPECT_EQ(out[0], 0) << "a failed copy must not leave stale bytes";
    EXPECT_EQ(r.LEN(0, 9), 0u) << "no integer is wider than 8 bytes";
}

TEST(ByteReader, SubViewsAreBoundedByTheirParent) {
    std::vector<uint8_t> b(16);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(i);
    ByteReader r(b.data(), b.size());
    ByteReader sub = r.Sub(4, 8);
    EXPECT_EQ(sub.U8(0), 4);
    EXPECT_EQ(sub.LE32(4), 0x0b0a0908u);
    EXPECT_EQ(sub.U8(8), 0) << "sub-view must not see past its own end";
    EXPECT_TRUE(sub.failed());
    EXPECT_TRUE(r.Sub(10, 7).empty());
    EXPECT_TRUE(r.Matches(0, std::string_view("\x00\x01", 2)));
    EXPECT_FALSE(r.Matches(15, "ab"));
}

TEST(ByteReader, StoreRoundTrips) {
    uint8_t b[8];
    vk::StoreLE<uint32_t>(b, 0xdeadbeef);
    EXPECT_EQ(vk::LoadLE<uint32_t>(b), 0xdeadbeefu);
    vk::StoreBE<uint64_t>(b, 0x0102030405060708ULL);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(vk::LoadBE<uint64_t>(b), 0x0102030405060708ULL);
}
