// The analysers' toolbox: name filtering, byte utilities, the ring of recent
// blocks, the file window and the end-signature search.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "BufferStorageDevice.h"
#include "NotifyCenter.h"
#include "RawFileBuffer.h"
#include "RawFileInfo.h"
#include "RawTestSupport.h"
#include "RawUtility.h"

namespace {

using velmora::test::MemoryStorageDevice;

// A device whose sector i is filled with the byte i % 251 + 1.
std::vector<uint8_t> NumberedSectors(long long sectors, int sectorSize = 512) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors * sectorSize));
    for (long long i = 0; i < sectors; ++i)
        std::memset(bytes.data() + i * sectorSize, static_cast<int>(i % 251 + 1),
                    static_cast<size_t>(sectorSize));
    return bytes;
}
uint8_t Mark(long long sector) {
    return static_cast<uint8_t>(sector % 251 + 1);
}

TEST(RawNames, FilterAndCheck) {
    const struct {
        const char* in;
        const char* out;
    } filters[] = {
        {"", ""},
        {"   ", ""},
        {"Holiday  ", "Holiday"},
        {" lead", " lead"},
        {"a:b/c?", "a_b_c_"},
        {"x\x01y\\z\"<>|*\r\n", "x_y_z_______"},
        {"Model X1", "Model X1"},
    };
    for (const auto& f : filters)
        EXPECT_EQ(ApiStrFilterBadFileName(f.in), f.out) << f.in;
    const struct {
        const char* text;
        int invalid;
    } checks[] = {
        {"Canon EOS 5D", 0}, {"A-b.c@d_e,f", 0}, {"", 0},     {"x/y", 1},
        {"<Proto>", 1},      {"caf\xc3\xa9", 1}, {"a\tb", 1}, {"NIKON CORPORATION", 0},
    };
    for (const auto& c : checks)
        EXPECT_EQ(ApiIsInvalidCharInFileName(c.text), c.invalid) << c.text;

    CRawFileInfo info;
    info.SetRawFileName("Trip: day 1/2 ");
    EXPECT_EQ(info.GetRawFileName(), "Trip_ day 1_2");
    info.SetRawFileTagAndValue(RAW_TAG_CAMERA, "A|B");
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    info.GetRawFileTagAndValue(tag, value);
    EXPECT_EQ(tag, RAW_TAG_CAMERA);
    EXPECT_EQ(value, "A_B");
}

TEST(RawUtility, ZeroTailEndsAtTheLastDataByte) {
    const struct {
        std::vector<uint8_t> bytes;
        int end;
    } cases[] = {
        {{1, 0, 0, 0}, 1}, {{1, 1, 0, 0}, 2},    {{0, 0, 0, 0}, 0},
        {{0, 0, 7}, 3},    {{5, 5, 5, 5, 5}, 5}, {{0, 9, 0, 0, 0, 0, 0, 0}, 2},
        {{}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BruteForce::RawUtility::Binary_Compare(c.bytes.data(),
                                                         static_cast<int>(c.bytes.size())),
                  c.end);
}

TEST(RawUtility, FindMagicSearchesBackwardsInsideTheBuffer) {
    const unsigned char eoi[2] = {0xFF, 0xD9};
    std::vector<uint8_t> s(512, 0);
    s[100] = 0xFF;
    s[101] = 0xD9;
    s[300] = 0xFF;
    s[301] = 0xD9;
    using BruteForce::RawUtility::FindMagicInBuffer;
    EXPECT_EQ(FindMagicInBuffer(s.data(), 512, 32, eoi, 2), 302) << "the last one before the tail";
    EXPECT_EQ(FindMagicInBuffer(s.data(), 512, 212, eoi, 2), 302) << "the start position counts";
    EXPECT_EQ(FindMagicInBuffer(s.data(), 512, 213, eoi, 2), 102) << "searching from before 300";
    EXPECT_EQ(FindMagicInBuffer(s.data(), 512, 600, eoi, 2), 0) << "back offset past the start";
    s[510] = 0xFF;
    s[511] = 0xD9;
    EXPECT_EQ(FindMagicInBuffer(s.data(), 512, 0, eoi, 2), 512)
        << "a match ending at the buffer's end";
    const unsigned char zero[2] = {0x00, 0xD9};
    EXPECT_EQ(FindMagicInBuffer(s.data(), 512, 0, zero, 2), 0)
        << "a magic starting with 0 never matches";
}

TEST(RawUtility, Apimemstr) {
    unsigned char data[] = "abcdefabcxyz";
    const auto* p = reinterpret_cast<const unsigned char*>("cxy");
    EXPECT_EQ(Apimemstr(data, 12, p, 3), data + 8);
    EXPECT_EQ(Apimemstr(data, 12, p, 0), nullptr);
    EXPECT_EQ(Apimemstr(data, 2, p, 3), nullptr);
    EXPECT_EQ(Apimemstr(nullptr, 12, p, 3), nullptr);
    int matched = 0;
    // Earliest position wins, whatever the order of the patterns.
    EXPECT_EQ(Apimemstr(data, 12, {{"xyz", 3}, {"def", 3}}, matched), data + 3);
    EXPECT_EQ(matched, 3);
    // At one position the map's order decides.
    EXPECT_EQ(Apimemstr(data, 12, {{"ab", 2}, {"abc", 3}}, matched), data);
    EXPECT_EQ(matched, 2);
    EXPECT_EQ(Apimemstr(data, 12, {{"yz!", 3}}, matched), nullptr) << "must fit inside the data";
}

TEST(RawUtility, Utf8ToLocaleNeverWritesPastTheBuffer) {
    const char* saved = std::setlocale(LC_CTYPE, nullptr);
    const std::string keep = saved ? saved : "C";
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const std::string text = "Gr\xc3\xbc\xc3\x9f Gott";
    char out[16];
    std::memset(out, 0x7E, sizeof out);
    EXPECT_EQ(UTF8ToANSI(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, 16),
              text.size());
    EXPECT_STREQ(out, text.c_str());
    std::memset(out, 0x7E, sizeof out);
    const unsigned long n =
        UTF8ToANSI(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, 5);
    EXPECT_LE(n, 4u);
    EXPECT_EQ(out[n], '\0');
    for (size_t i = 5; i < sizeof out; ++i)
        EXPECT_EQ(out[i], 0x7E) << "byte " << i << " written";
    std::setlocale(LC_CTYPE, keep.c_str());
}

// Ring of 3 blocks of 2 sectors over a numbered device; blocks added hold
// 0xA0 + block number so ring reads are told apart from device reads.
TEST(BufferStorageDevice, ServesHeldSectorsAndWrapsAndDefersTheRest) {
    MemoryStorageDevice disk(NumberedSectors(64), 512);
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.InitBufferDevice(&disk, 0, 512, 2, 3));
    auto add = [&](int block) {
        std::vector<uint8_t> b(1024, static_cast<uint8_t>(0xA0 + block));
        ring.AddBlockToBuffer(b.data(), static_cast<unsigned long long>(block) * 2);
    };
    std::vector<uint8_t> out(512 * 6);
    add(0);
    add(1);
    EXPECT_FALSE(ring.IsFullBuffer());
    add(2);
    EXPECT_TRUE(ring.IsFullBuffer());
    const long long before = disk.Reads();
    ASSERT_TRUE(ring.ReadSector(out.data(), 1, 4));
    EXPECT_EQ(out[0], 0xA0);
    EXPECT_EQ(out[512], 0xA1);
    EXPECT_EQ(out[3 * 512], 0xA2);
    EXPECT_EQ(disk.Reads(), before) << "held sectors come from memory";
    add(3);  // overwrites block 0's slot
    EXPECT_EQ(ring.GetDeviceStartSector(), 2u);
    ASSERT_TRUE(ring.ReadSector(out.data(), 3, 5));  // wraps at the ring's end
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[512], 0xA2);
    EXPECT_EQ(out[2 * 512], 0xA2);
    EXPECT_EQ(out[3 * 512], 0xA3);
    EXPECT_EQ(out[4 * 512], 0xA3);
    EXPECT_EQ(disk.Reads(), before);
    // Starting inside the ring and ending past it: the real device.
    ASSERT_TRUE(ring.ReadSector(out.data(), 6, 3));
    EXPECT_EQ(out[0], Mark(6));
    EXPECT_EQ(out[2 * 512], Mark(8));
    ASSERT_TRUE(ring.ReadSector(out.data(), 0, 1));
    EXPECT_EQ(out[0], Mark(0)) << "before the ring: the device";
    // A block that does not follow the last starts the ring afresh.
    std::vector<uint8_t> far(1024, 0xEE);
    ring.AddBlockToBuffer(far.data(), 40);
    EXPECT_EQ(ring.GetTotalSectors(), 2);
    ASSERT_TRUE(ring.ReadSector(out.data(), 41, 1));
    EXPECT_EQ(out[0], 0xEE);
    ASSERT_TRUE(ring.ReadSector(out.data(), 4, 1));
    EXPECT_EQ(out[0], Mark(4));
    EXPECT_EQ(ring.GetType(), kDeviceCache);
}

// Blocks read in place: wherever the ring places a block, the bytes before
// it are the block it follows (or zeros after a jump), the bytes after it
// are zeros, and no block it still holds is touched; blocks smaller than
// the zeros after them included.
TEST(BufferStorageDevice, PlacedBlocksSitAfterTheirPredecessorAndSpareTheHeldOnes) {
    constexpr size_t kSlack = 1536;
    for (const unsigned sectorsPerBlock : {1u, 2u, 8u}) {
        SCOPED_TRACE(sectorsPerBlock);
        const size_t blockBytes = sectorsPerBlock * 512;
        MemoryStorageDevice disk(std::vector<uint8_t>(4096 * 8 * 512, 0xFF), 512);
        CBufferStorageDevice ring;
        ASSERT_TRUE(ring.InitBufferDevice(&disk, 0, 512, sectorsPerBlock, 3, kSlack));
        const auto fill = [](unsigned long long block) {
            return static_cast<uint8_t>(0x40 + block % 0x80);
        };
        // Contiguous runs broken by jumps at different points of the slots' cycle.
        std::vector<unsigned long long> blocks;
        for (unsigned long long b = 0; b < 23; ++b)
            blocks.push_back(b);
        for (unsigned long long start : {100ULL, 200ULL, 300ULL, 400ULL})
            for (unsigned long long b = start; b < start + (start / 100) + 1; ++b)
                blocks.push_back(b);
        for (unsigned long long b = 500; b < 530; ++b)
            blocks.push_back(b);
        long long newest = -1;
        for (const unsigned long long b : blocks) {
            const unsigned long long first = b * sectorsPerBlock;
            uint8_t* at = ring.PlaceBlock(first);
            ASSERT_NE(at, nullptr);
            const bool follows = newest >= 0 && static_cast<unsigned long long>(newest) + 1 == b;
            const uint8_t before = follows ? fill(b - 1) : 0;
            for (size_t i = 0; i < blockBytes; ++i)
                ASSERT_EQ(
                    at[static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(blockBytes)],
                    before)
                    << "block " << b << ", byte " << i << " before it";
            for (size_t i = 0; i < kSlack; ++i)
                ASSERT_EQ(at[blockBytes + i], 0) << "block " << b << ", byte " << i << " after it";
            // The blocks held read as they were added (they come from memory:
            // the device holds other bytes).
            const long long held = ring.GetTotalSectors();
            std::vector<uint8_t> out(static_cast<size_t>(held) * 512 + 1);
            if (held != 0) {
                ASSERT_TRUE(ring.ReadSector(
                    out.data(), static_cast<long long>(ring.GetDeviceStartSector()), held));
                for (long long s = 0; s < held; ++s) {
                    const unsigned long long block =
                        (ring.GetDeviceStartSector() + static_cast<unsigned long long>(s)) /
                        sectorsPerBlock;
                    ASSERT_EQ(out[static_cast<size_t>(s) * 512 + 7], fill(block))
                        << "held block " << block << " when placing " << b;
                }
            }
            std::memset(at, fill(b), blockBytes);
            ring.AddPlacedBlock(first);
            newest = static_cast<long long>(b);
        }
        EXPECT_EQ(ring.GetDeviceStartSector(), 527u * sectorsPerBlock);
        EXPECT_TRUE(ring.IsFullBuffer());
    }
}

TEST(RawFileBuffer, WindowsDeviceEndAndTwoReaders) {
    MemoryStorageDevice disk(NumberedSectors(300), 512);
    RawFileBuffer file(&disk, 10);
    const uint8_t* p = file.GetRawFileBuffer(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, Mark(10));
    p = file.GetRawFileBuffer(65535);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, Mark(10 + 127));
    const long long reads = disk.Reads();
    p = file.GetRawFileBuffer(65536);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, Mark(10 + 128)) << "the sector past the window is read with it";
    EXPECT_EQ(disk.Reads(), reads);
    p = file.GetRawFileBuffer(66048);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, Mark(10 + 129)) << "next window, at start + 128";
    // A piece that crosses the aligned window's end is read whole.
    p = file.GetRawFileBuffer(65536 - 10, 2000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], Mark(10 + 127));
    EXPECT_EQ(p[1999], Mark(10 + (65536 - 10 + 1999) / 512));

    // The last window holds only what the device has left: 300 - 44 - 128
    // is a whole window of 128 sectors, read although 129 were asked for.
    RawFileBuffer tail(&disk, 44);
    p = tail.GetRawFileBuffer(128 * 512 + 127 * 512);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, Mark(299));
    EXPECT_EQ(tail.GetRawFileBuffer(256 * 512), nullptr) << "past the device";
    EXPECT_EQ(tail.GetRawFileBuffer(255 * 512 + 500, 100), nullptr) << "runs past the device";
    EXPECT_EQ(tail.GetRawFileBuffer(0, 128 * 512 + 1), nullptr) << "more than a window";

    // Two readers alive at once each see their own file.
    RawFileBuffer a(&disk, 1);
    RawFileBuffer b(&disk, 200);
    const uint8_t* pa = a.GetRawFileBuffer(512);
    const uint8_t* pb = b.GetRawFileBuffer(512);
    ASSERT_TRUE(pa && pb);
    EXPECT_EQ(*pa, Mark(2));
    EXPECT_EQ(*pb, Mark(201));
    EXPECT_EQ(*a.GetRawFileBuffer(1024), Mark(3));
}

TEST(RawFileBuffer, UnreadableAndStopped) {
    rawtest::FlakyDevice disk(NumberedSectors(400), 512, 150, 160);
    RawFileBuffer file(&disk, 0);
    EXPECT_NE(file.GetRawFileBuffer(0), nullptr);
    EXPECT_EQ(file.GetRawFileBuffer(140 * 512), nullptr) << "a window over bad sectors";
    rawtest::SwitchProgress stop;
    stop.stopAfter = 0;
    CNotifyCenter::Instance().SetProgress(&stop);
    EXPECT_EQ(file.GetRawFileBuffer(0), nullptr) << "a stopped scan reads nothing more";
    CNotifyCenter::Instance().Reset();
    EXPECT_NE(file.GetRawFileBuffer(0), nullptr);
}

// A text file of `bytes` ending in "</html>" at the given place, then zero
// fill to the end of its sector and one more zero sector.
std::vector<uint8_t> Page(size_t signatureEnd, const char* sign = "</html>") {
    std::vector<uint8_t> d((signatureEnd + 511) / 512 * 512 + 1024, 0);
    for (size_t i = 0; i < signatureEnd; ++i)
        d[i] = static_cast<uint8_t>('a' + i % 26);
    std::memcpy(d.data() + signatureEnd - std::strlen(sign), sign, std::strlen(sign));
    return d;
}

size_t EndOf(const std::vector<uint8_t>& bytes, int exact, uint64_t limit = 0) {
    MemoryStorageDevice disk(bytes, 512);
    CRawFileInfo info;
    SearchSignCodeInfo code;
    std::memcpy(code.signature, "</html>", 7);
    code.length = 7;
    code.maxLength = limit;
    EXPECT_EQ(SearchSignFileAnalyser::SearchEndSignCode(info, &disk, code, exact), 1);
    return static_cast<size_t>(info.m_size);
}

TEST(SearchEndSignCode, FindsTheSignatureBeforeZeroFill) {
    EXPECT_EQ(EndOf(Page(700), 1), 700u);
    EXPECT_EQ(EndOf(Page(1500), 0), 1500u);
    EXPECT_EQ(EndOf(Page(1500, "</HTML>"), 0), 1500u) << "any case";
    // Exact: not found. The sector that ends in zero fill without it is taken
    // to lie past the file's end.
    EXPECT_EQ(EndOf(Page(1500, "</HTML>"), 1), 1024u);
    // Ends exactly at a sector boundary, a zero sector after it: found
    // across the boundary, and the file ends where the signature does.
    EXPECT_EQ(EndOf(Page(1024), 1), 1024u);
    EXPECT_EQ(EndOf(Page(1024), 0), 1024u);
    // Split across a boundary: "</ht" | "ml>".
    std::vector<uint8_t> split = Page(1027);
    EXPECT_EQ(EndOf(split, 1), 1027u);
    // Without the signature the search runs to its limit.
    std::vector<uint8_t> none(64 * 512, 'x');
    EXPECT_EQ(EndOf(none, 0, 8 * 512), 9 * 512u);
    // An unreadable sector ends it there.
    EXPECT_EQ(EndOf(std::vector<uint8_t>(10 * 512, 'y'), 0), 10 * 512u);
}

}  // namespace
