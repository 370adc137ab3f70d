#include "Utility/TextConvert.h"

#include <gtest/gtest.h>

#include <vector>

#include "CheckedMath.h"
#include "SectorSize.h"

namespace {

std::vector<uint8_t> Le(std::initializer_list<uint16_t> units) {
    std::vector<uint8_t> out;
    for (uint16_t u : units) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

struct Case {
    const char* what;
    std::vector<uint16_t> units;
    vk::Utf16Options options;
    std::string expected;
    bool damaged;
};

TEST(TextConvert, Utf16Policy) {
    vk::Utf16Options stop;
    stop.stopAtNul = true;
    vk::Utf16Options cut5;
    cut5.maxBytes = 5;
    const Case cases[] = {
        {"ascii", {'a', 'b', 'c'}, {}, "abc", false},
        {"bmp", {0x00E9, 0x4E2D}, {}, "\xC3\xA9\xE4\xB8\xAD", false},
        {"pair", {0xD83D, 0xDE00}, {}, "\xF0\x9F\x98\x80", false},
        {"lone high", {'a', 0xD83D, 'b'}, {}, "a_b", true},
        {"lone low", {0xDE00, 'b'}, {}, "_b", true},
        {"reversed pair", {0xDE00, 0xD83D}, {}, "__", true},
        {"high at end", {'x', 0xD83D}, {}, "x_", true},
        {"nul kept as mark", {'a', 0, 'b'}, {}, "a_b", true},
        {"nul stops", {'a', 0, 'b'}, stop, "a", false},
        // "ab" + U+4E2D is 5 bytes; the pair after it would pass the limit.
        {"cut between characters",
         {'a', 'b', 0x4E2D, 0xD83D, 0xDE00},
         cut5,
         "ab\xE4\xB8\xAD",
         false},
    };
    for (const Case& c : cases) {
        std::vector<uint16_t> units(c.units.begin(), c.units.end());
        std::vector<uint8_t> bytes;
        for (uint16_t u : units) {
            bytes.push_back(static_cast<uint8_t>(u));
            bytes.push_back(static_cast<uint8_t>(u >> 8));
        }
        bool damaged = false;
        EXPECT_EQ(vk::Utf16ToUtf8(bytes.data(), units.size(), c.options, &damaged), c.expected)
            << c.what;
        EXPECT_EQ(damaged, c.damaged) << c.what;
        EXPECT_EQ(vk::Utf16UnitsToUtf8(units.data(), units.size(), c.options), c.expected)
            << c.what;
    }
}

TEST(TextConvert, BigEndianAndNull) {
    const uint8_t be[] = {0x00, 'H', 0xD8, 0x3D, 0xDE, 0x00};
    vk::Utf16Options o;
    o.order = vk::Utf16Order::BigEndian;
    EXPECT_EQ(vk::Utf16ToUtf8(be, 3, o), "H\xF0\x9F\x98\x80");
    EXPECT_EQ(vk::Utf16ToUtf8(nullptr, 4), "");
    EXPECT_EQ(vk::Utf16ToUtf8(Le({'a'}).data(), 0), "");
}

TEST(TextConvert, Utf8CutPointNeverSplitsACharacter) {
    const std::string s = "a\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // a, 3-byte, 4-byte, z
    EXPECT_EQ(vk::Utf8CutPoint(s.data(), s.size(), 100), s.size());
    EXPECT_EQ(vk::Utf8CutPoint(s.data(), s.size(), 1), 1u);
    EXPECT_EQ(vk::Utf8CutPoint(s.data(), s.size(), 3), 1u);
    EXPECT_EQ(vk::Utf8CutPoint(s.data(), s.size(), 4), 4u);
    EXPECT_EQ(vk::Utf8CutPoint(s.data(), s.size(), 7), 4u);
    EXPECT_EQ(vk::Utf8CutPoint(s.data(), s.size(), 8), 8u);
    const std::string broken = "ab\xE4\xB8";  // truncated sequence: bytes count singly
    EXPECT_EQ(vk::Utf8CutPoint(broken.data(), broken.size(), 3), 3u);
}

TEST(CheckedMath, RefusesWrapsAndClustersBelowTheFirst) {
    uint64_t s = 0;
    EXPECT_TRUE(vk::ClusterToSector(2, 2, 8, 100, &s));
    EXPECT_EQ(s, 100u);
    EXPECT_TRUE(vk::ClusterToSector(10, 2, 8, 100, &s));
    EXPECT_EQ(s, 164u);
    EXPECT_FALSE(vk::ClusterToSector(1, 2, 8, 100, &s));
    EXPECT_FALSE(vk::ClusterToSector(5, 2, 0, 100, &s));
    EXPECT_FALSE(vk::ClusterToSector(UINT64_MAX / 2, 0, 4, 0, &s));
    EXPECT_FALSE(vk::ClusterToSector(1, 0, 1, UINT64_MAX, &s));
    EXPECT_TRUE(vk::SpanInside(10, 5, 15));
    EXPECT_FALSE(vk::SpanInside(10, 6, 15));
    EXPECT_FALSE(vk::SpanInside(UINT64_MAX, 2, UINT64_MAX));
}

TEST(SectorSize, OneRule) {
    for (uint64_t ok : {512u, 1024u, 2048u, 4096u, 65536u})
        EXPECT_TRUE(vk::IsValidSectorSize(ok)) << ok;
    for (uint64_t bad : {0u, 256u, 513u, 1536u, 3072u, 131072u}) {
        EXPECT_FALSE(vk::IsValidSectorSize(bad)) << bad;
        EXPECT_EQ(vk::NormaliseSectorSize(bad), 512u) << bad;
    }
    EXPECT_EQ(vk::NormaliseSectorSize(4096), 4096u);
}

}  // namespace
