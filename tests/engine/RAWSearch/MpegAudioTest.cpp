// MPEG audio: the frame header, MP3 recognition with its look-ahead, sizing
// while the search streams past (frame chains, tags, zero fill), the
// whole-file sizer, and the text of tags.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Analysers/Id3Text.h"
#include "Analysers/MP3Analyzer.h"
#include "Analysers/MpegAudioHeader.h"
#include "MediaTestSupport.h"

namespace {

using BruteForce::MP3Analyzer;
using mediatest::Image;
using mediatest::Sample;
using mediatest::Scan;

// MPEG-1 Layer III, 128 kbit/s, 48 kHz, mono: frames of 384 bytes.
constexpr uint8_t kHeader[4] = {0xFF, 0xFB, 0x94, 0xC4};
constexpr uint32_t kFrame = 384;

// `count` frames; their audio bytes never look like a header.
std::vector<uint8_t> Frames(int count, uint8_t fill = 0x55) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), kHeader, kHeader + 4);
        for (uint32_t k = 4; k < kFrame; ++k)
            out.push_back(static_cast<uint8_t>(fill + (k % 7)));
    }
    return out;
}

std::vector<uint8_t> Synchsafe(uint32_t n) {
    return {static_cast<uint8_t>((n >> 21) & 0x7F), static_cast<uint8_t>((n >> 14) & 0x7F),
            static_cast<uint8_t>((n >> 7) & 0x7F), static_cast<uint8_t>(n & 0x7F)};
}

std::vector<uint8_t> TextFrame(const char* id, const std::string& text, uint8_t encoding = 0) {
    std::vector<uint8_t> f(id, id + 4);
    const uint32_t size = static_cast<uint32_t>(text.size() + 1);
    for (int i = 3; i >= 0; --i)
        f.push_back(static_cast<uint8_t>(size >> (8 * i)));
    f.push_back(0);
    f.push_back(0);
    f.push_back(encoding);
    f.insert(f.end(), text.begin(), text.end());
    return f;
}

// An ID3v2.3 tag holding the frames, with `padding` zero bytes after them.
std::vector<uint8_t> Tag(const std::vector<std::vector<uint8_t>>& frames, size_t padding = 64) {
    std::vector<uint8_t> body;
    for (const auto& f : frames)
        body.insert(body.end(), f.begin(), f.end());
    body.resize(body.size() + padding);
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
    const std::vector<uint8_t> size = Synchsafe(static_cast<uint32_t>(body.size()));
    tag.insert(tag.end(), size.begin(), size.end());
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

std::vector<uint8_t> V1(const std::string& title, const std::string& artist) {
    std::vector<uint8_t> t(128, 0);
    std::memcpy(t.data(), "TAG", 3);
    std::memcpy(t.data() + 3, title.data(), std::min<size_t>(30, title.size()));
    std::memcpy(t.data() + 33, artist.data(), std::min<size_t>(30, artist.size()));
    std::memcpy(t.data() + 93, "2001", 4);
    t[127] = 12;
    return t;
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Mp3 : public ::testing::Test {
protected:
    void SetUp() override { MP3Analyzer::ResetLastStartSector(); }
    void TearDown() override {
        MP3Analyzer::ResetLastStartSector();
        CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    }
};

TEST(MpegAudioHeader, FieldsAndFrameLengths) {
    const struct {
        const char* what;
        uint8_t h[4];
        int valid;
        uint32_t length;
        int allocation;
    } cases[] = {
        {"MPEG-1 III 128k 44.1k", {0xFF, 0xFB, 0x90, 0x44}, 1, 417, -1},
        {"the same, padded", {0xFF, 0xFB, 0x92, 0x44}, 1, 418, -1},
        {"MPEG-1 III 128k 48k", {0xFF, 0xFB, 0x94, 0xC4}, 1, 384, -1},
        {"MPEG-2 III 80k 22.05k", {0xFF, 0xF3, 0x90, 0xC4}, 1, 261, -1},
        {"MPEG-2.5 III 80k 11.025k", {0xFF, 0xE3, 0x90, 0xC4}, 1, 522, -1},
        {"MPEG-1 I 288k 44.1k", {0xFF, 0xFF, 0x90, 0x44}, 1, 312, -1},
        {"MPEG-1 II 64k 48k mono", {0xFF, 0xFD, 0x44, 0xC0}, 1, 192, 0},
        {"MPEG-1 II 32k 32k mono", {0xFF, 0xFD, 0x18, 0xC0}, 1, 144, 3},
        {"MPEG-1 II 96k 48k stereo", {0xFF, 0xFD, 0x64, 0x00}, 1, 288, 2},
        {"MPEG-1 II 192k 44.1k stereo", {0xFF, 0xFD, 0xA0, 0x00}, 1, 626, 1},
        {"MPEG-1 II 192k 48k stereo", {0xFF, 0xFD, 0xA4, 0x00}, 1, 576, 0},
        {"MPEG-2 II 64k 24k", {0xFF, 0xF5, 0x84, 0x00}, 1, 384, 4},
        {"MPEG-1 II 224k mono", {0xFF, 0xFD, 0xB4, 0xC0}, 0, 0, -1},
        {"MPEG-1 II 32k stereo", {0xFF, 0xFD, 0x14, 0x00}, 0, 0, -1},
        {"reserved version", {0xFF, 0xEB, 0x90, 0x44}, 0, 0, -1},
        {"reserved layer", {0xFF, 0xF9, 0x90, 0x44}, 0, 0, -1},
        {"free bitrate", {0xFF, 0xFB, 0x04, 0x44}, 0, 0, -1},
        {"bad bitrate", {0xFF, 0xFB, 0xF4, 0x44}, 0, 0, -1},
        {"reserved sample rate", {0xFF, 0xFB, 0x9C, 0x44}, 0, 0, -1},
        {"reserved emphasis", {0xFF, 0xFB, 0x90, 0x46}, 0, 0, -1},
        {"no frame sync", {0xFF, 0x7B, 0x90, 0x44}, 0, 0, -1},
    };
    for (const auto& c : cases) {
        CMPAHeader h;
        ASSERT_EQ(h.Init(c.h), c.valid) << c.what;
        if (c.valid == 0)
            continue;
        EXPECT_EQ(h.CalcFrameSize(), c.length) << c.what;
        EXPECT_EQ(h.m_allocationTable, c.allocation) << c.what;
    }
    CMPAHeader a, b, c;
    a.Init(kHeader);
    const uint8_t padded[4] = {0xFF, 0xFB, 0x96, 0xC4};
    const uint8_t stereo[4] = {0xFF, 0xFB, 0x94, 0x04};
    b.Init(padded);
    c.Init(stereo);
    EXPECT_TRUE(a == b) << "padding and bitrate do not make another stream";
    EXPECT_FALSE(a == c) << "mono and stereo do";
}

TEST_F(Mp3, RecognitionLooksAheadThreeFrames) {
    MP3Analyzer mp3;
    const std::vector<uint8_t> frames = Frames(8);
    std::vector<uint8_t> brokenThird = frames;
    brokenThird[2 * kFrame] = 0x00;
    const std::vector<uint8_t> id3 = Cat(Tag({TextFrame("TIT2", "x")}), frames);
    std::vector<uint8_t> id3v2 = id3;
    id3v2[3] = 2;
    const struct {
        const char* what;
        const std::vector<uint8_t>* data;
        long long windowSectors;
        int accepted;
        long long marker;  // -1 none, else the sector
    } cases[] = {
        {"three frames in the window", &frames, 8, 1, 5},
        {"the second header past the window: taken on the first", &frames, 1, 1, -1},
        {"the third header broken", &brokenThird, 8, 0, -1},
        {"an ID3v2.3 tag", &id3, 8, 1, -1},
        {"an ID3v2.2 tag", &id3v2, 8, 0, -1},
    };
    for (const auto& c : cases) {
        MP3Analyzer::ResetLastStartSector();
        std::vector<uint8_t> buffer = *c.data;
        buffer.resize(8 * 512 + 4096);
        CRawFileInfo info;
        EXPECT_EQ(mp3.AnalyseBufferEx(buffer.data(), info, 512, 5, 5, 5 + c.windowSectors),
                  c.accepted)
            << c.what;
        EXPECT_EQ(MP3Analyzer::LastStartSector(), c.marker) << c.what;
        if (c.accepted != 0) {
            EXPECT_EQ(info.m_type, RAW_MP3) << c.what;
        }
    }
    // While one file's frames are followed, frames start nothing; a tag does.
    MP3Analyzer::ResetLastStartSector();
    std::vector<uint8_t> buffer = frames;
    buffer.resize(8 * 512 + 4096);
    CRawFileInfo info;
    ASSERT_EQ(mp3.AnalyseBufferEx(buffer.data(), info, 512, 5, 5, 13), 1);
    EXPECT_EQ(mp3.AnalyseBufferEx(buffer.data(), info, 512, 9, 5, 13), 0);
    std::vector<uint8_t> tagged = id3;
    tagged.resize(8 * 512 + 4096);
    EXPECT_EQ(mp3.AnalyseBufferEx(tagged.data(), info, 512, 9, 5, 13), 1);
}

// Chains: too short to be a file, just long enough, ended by an ID3v1 tag,
// and a file cut off by the end of the device.
TEST_F(Mp3, FrameChainsEndAtTheirLastFrameOrTag) {
    Image image;
    const std::vector<uint8_t> shortChain = Frames(26);  // 9,984 bytes
    const std::vector<uint8_t> longChain = Frames(27);   // 10,368 bytes
    const std::vector<uint8_t> tagged = Cat(Frames(30), V1("Blue Song", "The Band"));
    image.Put(0, shortChain);
    image.Put(100, longChain);
    image.Put(200, tagged);
    image.Random(300, 64 * 512);
    image.Put(300, longChain);  // random bytes after it
    image.PadTo(500);
    const auto carved = Scan(image);
    EXPECT_EQ(mediatest::At(carved, 0), nullptr) << "9,984 bytes of frames are no file";
    const auto* a = mediatest::At(carved, 100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 10368);
    EXPECT_EQ(a->name, "100-120_000.MP3");
    const auto* b = mediatest::At(carved, 200);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, static_cast<long long>(tagged.size()));
    EXPECT_EQ(b->name, "The Band_Blue Song 200-222_001.MP3");
    EXPECT_EQ(b->folder, "Artists/The Band");
    EXPECT_EQ(b->tree, 36);
    const auto* c = mediatest::At(carved, 300);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->size, 10368) << "what follows the last frame is not the file's";
}

// A tag followed at once by frames is sized by its frames, whatever lies
// after the file; a tag followed by something else waits for zero fill, not
// before the tag and 20,480 bytes have passed.
TEST_F(Mp3, TaggedFilesAreSizedByTheirFramesOrByZeroFill) {
    Image image;
    const std::vector<uint8_t> tag =
        Tag({TextFrame("TIT2", "Night"), TextFrame("TPE1", "Singer"), TextFrame("TYER", "2020")});
    const std::vector<uint8_t> song = Cat(tag, Frames(40));
    image.Random(0, 96 * 512, 3);
    image.Put(0, song);
    // Not frames after the tag: 30 KB of audio the chain cannot follow,
    // with a sector ending in fill at 8 KB and another past 20 KB.
    std::vector<uint8_t> odd = tag;
    for (int i = 0; i < 30000; ++i)
        odd.push_back(static_cast<uint8_t>(0x21 + (i * 7) % 90));
    auto fillSector = [&](size_t sector) {
        const size_t at = sector * 512;
        for (size_t k = at; k < at + 400; ++k)
            odd[k] = 0x55;
        for (size_t k = at + 400; k < at + 512; ++k)
            odd[k] = 0;
    };
    fillSector(16);
    fillSector(45);
    odd.resize(45 * 512 + 400);
    image.Put(200, odd);
    image.PadTo(400);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, static_cast<long long>(song.size()));
    EXPECT_EQ(a->name, "Singer_Night 0_000.MP3");
    EXPECT_EQ(a->folder, "Artists/Singer");
    const auto* b = mediatest::At(carved, 200);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, 45 * 512 + 400) << "not at the fill before 20,480 bytes";
}

TEST_F(Mp3, WholeFileSizerTakesEachRoad) {
    FileMP3Analyser sizer;
    const std::vector<uint8_t> info = Sample("info.mp3");
    const std::vector<uint8_t> infoTagged = Cat(info, V1("Long Title", "Long Artist"));
    const std::vector<uint8_t> plain = Sample("plain.mp3");
    const std::vector<uint8_t> tagged = Sample("tagged.mp3");
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        long long size;
        const char* name;
        const char* artist;
    } cases[] = {
        {"Info header and ID3v1 tag", Cat(infoTagged, std::vector<uint8_t>(3000, 0x5A)),
         static_cast<long long>(infoTagged.size()), "Long Artist_Long Title", "Long Artist"},
        {"bare frames", Cat(plain, std::vector<uint8_t>(2000, 0)),
         static_cast<long long>(plain.size()), "", ""},
        {"ID3v2 tag, then frames", Cat(tagged, std::vector<uint8_t>(2000, 0)),
         static_cast<long long>(tagged.size()), "Some Artist_Some Title", "Some Artist"},
        {"too short", Frames(20), 0, "", ""},
    };
    for (const auto& c : cases) {
        FileMP3Analyser fresh;
        const mediatest::Sized s = mediatest::SizeWhole(fresh, c.bytes);
        EXPECT_EQ(s.answer != 0 ? s.info.m_size : 0, c.size) << c.what;
        CRawFileInfo copy = s.info;
        EXPECT_EQ(copy.GetRawFileName(), c.name) << c.what;
        RAW_FILE_TAG kind;
        std::string value;
        copy.GetRawFileTagAndValue(kind, value);
        EXPECT_EQ(value, c.artist) << c.what;
    }
    // A second start inside the file the frame road sized last is a piece of it.
    std::vector<uint8_t> disk = Frames(40);
    disk.resize(disk.size() + 4096);
    mediatest::MemoryStorageDevice device(disk, 512);
    CRawFileInfo first;
    ASSERT_EQ(sizer.GetRawFileSize(first, &device), 1);
    CRawFileInfo inside;
    inside.m_startSector = 3;
    EXPECT_EQ(sizer.GetRawFileSize(inside, &device), 0);
}

// A tag whose size field claims far more than the device holds: the whole
// road drops it, the streaming road ends it with the device, and an MP3
// after it is still found.
TEST_F(Mp3, TagSizesPastTheDevice) {
    std::vector<uint8_t> liar = Tag({TextFrame("TIT2", "Lost"), TextFrame("TPE1", "Nobody")});
    const std::vector<uint8_t> claim = Synchsafe(0x0FFFFFFF);
    std::copy(claim.begin(), claim.end(), liar.begin() + 6);
    // Random bytes after the tag, so no frame chain follows it.
    std::vector<uint8_t> junk(40 * 512);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(0x21 + (i * 7) % 90);
    const std::vector<uint8_t> lying = Cat(liar, junk);
    FileMP3Analyser sizer;
    EXPECT_EQ(mediatest::SizeWhole(sizer, Cat(lying, std::vector<uint8_t>(4096, 0))).answer, 0);

    Image image;
    image.Put(0, lying);
    const std::vector<uint8_t> song = Cat(Frames(40), V1("Found", "Someone"));
    image.Put(100, song);
    image.PadTo(300);
    const auto carved = Scan(image);
    const auto* first = mediatest::At(carved, 0);
    if (first != nullptr) {
        EXPECT_LE(first->size, 300 * 512) << "no further than the device";
    }
    const auto* second = mediatest::At(carved, 100);
    ASSERT_NE(second, nullptr) << "the MP3 after the lying tag";
    EXPECT_EQ(second->size, static_cast<long long>(song.size()));
}

TEST(Id3Text, EncodingsAndGuessedCharacterSets) {
    auto body = [](uint8_t encoding, const std::string& text) {
        std::vector<uint8_t> b = {encoding};
        b.insert(b.end(), text.begin(), text.end());
        return b;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> body;
        std::string text;
    } cases[] = {
        {"ISO-8859-1, guessed", body(0, "Caf\xe9 au lait"), "Caf\xc3\xa9 au lait"},
        {"UTF-16 little-endian", body(1, std::string("\xff\xfeO\0k\0", 6)), "Ok"},
        {"UTF-16 big-endian mark", body(1, std::string("\xfe\xff\0O\0k", 6)), ""},
        {"UTF-16 without a mark", body(2, std::string("\0O\0k", 4)), ""},
        {"UTF-8", body(3, "Caf\xc3\xa9"), "Caf\xc3\xa9"},
        {"broken UTF-8", body(3, "Caf\xc3"), "Caf_"},
        {"nothing but high bytes", body(3, "\xc3\xc3"), ""},
        {"cut at its zero", body(0, std::string("Name\0junk", 9)), "Name"},
    };
    for (const auto& c : cases) {
        Id3TextDecoder decoder;
        EXPECT_EQ(decoder.FrameText(c.body.data(), c.body.size(), true), c.text) << c.what;
    }
    // The guess made on the title serves the other texts of the file.
    Id3TextDecoder decoder;
    const std::vector<uint8_t> title = body(0, "Caf\xe9 au lait");
    decoder.FrameText(title.data(), title.size(), true);
    const std::vector<uint8_t> artist = body(0, "L\xe9o");
    EXPECT_EQ(decoder.FrameText(artist.data(), artist.size(), false), "L\xc3\xa9o");
    EXPECT_FALSE(decoder.Charset().empty());
}

}  // namespace
