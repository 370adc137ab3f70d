// The audio and video containers: files cut off from the stream and the
// files after them, MPEG programme streams, ASF stream types, FLV and
// RealMedia chains, Matroska, RIFF and AIFF headers, ADTS frames, Monkey's
// Audio, Magic Lantern video and MXF packets.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Analysers/AnalyserFactories.h"
#include "Analysers/AudioVideoAnalysers.h"
#include "Analysers/MP3Analyzer.h"
#include "Analysers/MediaStreamAnalysers.h"
#include "Analysers/MediaWalks.h"
#include "MediaTestSupport.h"

namespace {

using mediatest::Image;
using mediatest::Sample;
using mediatest::Scan;
using rawtest::Put16;
using rawtest::Put32;
using rawtest::PutBytes;

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Bytes walked by a whole-file walk over `bytes` held in memory.
class Bytes : public ByteSource {
public:
    explicit Bytes(const std::vector<uint8_t>& b) : b_(b) {}
    const uint8_t* At(uint64_t offset, size_t length) const override {
        return offset <= b_.size() && length <= b_.size() - offset ? b_.data() + offset : nullptr;
    }

private:
    const std::vector<uint8_t>& b_;
};

uint64_t Walk(MediaWalk& walk, const std::vector<uint8_t>& bytes) {
    const Bytes source(bytes);
    return walk.RunToEnd(source, 1ull << 40, 1u << 20);
}

// --- Streams made for the tests ----------------------------------------------

std::vector<uint8_t> Mp3Frames(int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        const uint8_t h[4] = {0xFF, 0xFB, 0x94, 0xC4};  // 384-byte frames
        out.insert(out.end(), h, h + 4);
        for (int k = 4; k < 384; ++k)
            out.push_back(static_cast<uint8_t>(0x30 + k % 11));
    }
    return out;
}

std::vector<uint8_t> OggPages(int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> page(27 + 1 + 255, 0x41);
        std::memcpy(page.data(), "OggS", 4);
        page[4] = 0;
        page[5] = i == 0 ? 2 : (i == count - 1 ? 4 : 0);
        page[26] = 1;
        page[27] = 255;
        out.insert(out.end(), page.begin(), page.end());
    }
    return out;
}

std::vector<uint8_t> TsPackets(int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> p(188, static_cast<uint8_t>(0x20 + i % 50));
        p[0] = 0x47;
        p[1] = 0x40;
        p[2] = 0x11;
        p[3] = static_cast<uint8_t>(0x10 | (i & 15));
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// A Magic Lantern recording of 40 frame blocks.
std::vector<uint8_t> LongMlv() {
    std::vector<uint8_t> mlv = Sample("clip.mlv");
    const size_t first = 52 + 192;  // the first frame block, after the file header and raw info
    const size_t length = mlv[first + 4] | (mlv[first + 5] << 8);
    const std::vector<uint8_t> frame(mlv.begin() + static_cast<long>(first),
                                     mlv.begin() + static_cast<long>(first + length));
    for (int i = 0; i < 10; ++i)
        mlv.insert(mlv.end(), frame.begin(), frame.end());
    return mlv;
}

// An ASF file: a header object without streams, 30 KB of data.
std::vector<uint8_t> LongAsf() {
    const uint8_t header[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const uint8_t data[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    std::vector<uint8_t> f(30 + 30000, 0x44);
    std::copy(header, header + 16, f.begin());
    Put32(f, 16, 30);
    Put32(f, 20, 0);
    std::copy(data, data + 16, f.begin() + 30);
    Put32(f, 46, 30000);
    Put32(f, 50, 0);
    return f;
}

class Media : public ::testing::Test {
protected:
    void SetUp() override { BruteForce::MP3Analyzer::ResetLastStartSector(); }
    void TearDown() override {
        CRawFileAnalyserListSingle& registry = CRawFileAnalyserListSingle::CreateInstance();
        registry.UseTableForTesting({});
        registry.ClearSearchSet();
        BruteForce::MP3Analyzer::ResetLastStartSector();
    }
};

// One MP3, Ogg or transport stream is followed while other files' frames
// or pages inside it start nothing. When 33 other streaming files begin
// inside it, it is cut off from the stream and sized whole from the device;
// a second file of its format after it must still be found.
TEST_F(Media, FilesAfterOneCutOffTheStreamAreStillFound) {
    const struct {
        const char* what;
        AnalyserRow row;
        std::vector<uint8_t> file;
        std::function<int64_t(const std::vector<uint8_t>&)> size;  // of the file, whole
    } cases[] = {
        {"MP3",
         {AnalyserPlace::Multimap, RawKey2(0xFF, 0xFB), "BruteForce::MP3Analyzer", &NewMP3Analyzer},
         Mp3Frames(80),
         [](const std::vector<uint8_t>& b) {
             FileMP3Analyser s;
             return mediatest::SizeWhole(s, b).info.m_size;
         }},
        {"Ogg",
         {AnalyserPlace::Map, RawKey4("OggS"), "Dunmere::OGGAnalyser", &NewOGGAnalyser},
         OggPages(100),
         [](const std::vector<uint8_t>& b) {
             Dunmere::CFileOggAnalyser s;
             return mediatest::SizeWhole(s, b).info.m_size;
         }},
        {"transport stream",
         {AnalyserPlace::List, 0, "BruteForce::CM2TSAnalyser", &NewCM2TSAnalyser},
         TsPackets(200),
         [](const std::vector<uint8_t>& b) {
             BruteForce::CM2TSAnalyser s;
             return mediatest::SizeWhole(s, b).info.m_size;
         }},
        {"MXF",
         {AnalyserPlace::Map, RawKey4(0x06, 0x0E, 0x2B, 0x34), "RawSpeed::MxfAnalyser",
          &NewMxfAnalyser},
         Sample("clip.mxf"),
         [](const std::vector<uint8_t>& b) {
             RawSpeed::MxfAnalyser s;
             return mediatest::SizeWhole(s, b).info.m_size;
         }},
        {"MLV",
         {AnalyserPlace::Map, RawKey4("MLVI"), "RawSpeed::MLvAnalyser", &NewMLvAnalyser},
         LongMlv(),
         [](const std::vector<uint8_t>& b) {
             RawSpeed::MLvAnalyser s;
             return mediatest::SizeWhole(s, b).info.m_size;
         }},
        {"ASF",
         {AnalyserPlace::Map, RawKey4(0x30, 0x26, 0xB2, 0x75), "BruteForce::CAsfAnalyser",
          &NewCAsfAnalyser},
         LongAsf(),
         [](const std::vector<uint8_t>& b) {
             BruteForce::CAsfAnalyser s;
             return mediatest::SizeWhole(s, b).info.m_size;
         }},
    };
    for (const auto& c : cases) {
        const AnalyserRow rows[] = {
            {AnalyserPlace::Map, RawKey4("DCOY"), "Decoy", &mediatest::NewDecoyAnalyser}, c.row};
        CRawFileAnalyserListSingle::CreateInstance().UseTableForTesting(rows);
        // 33 sector starts of the file that can carry "DCOY" without
        // changing its whole-file size.
        std::vector<uint8_t> crowded = c.file;
        const int64_t whole = c.size(c.file);
        ASSERT_EQ(whole, static_cast<int64_t>(c.file.size())) << c.what;
        int decoys = 0;
        for (size_t s = 1; decoys < 33 && (s + 1) * 512 < crowded.size(); ++s) {
            std::vector<uint8_t> trial = crowded;
            std::memcpy(trial.data() + s * 512, "DCOY", 4);
            if (c.size(trial) == whole) {
                crowded = trial;
                ++decoys;
            }
        }
        ASSERT_EQ(decoys, 33) << c.what;
        Image image;
        image.Put(0, crowded);
        image.Put(200, c.file);
        image.PadTo(400);
        const auto carved = Scan(image);
        const auto* first = mediatest::At(carved, 0);
        ASSERT_NE(first, nullptr) << c.what;
        EXPECT_EQ(first->size, whole) << c.what << ": the cut-off file comes back whole";
        const auto* second = mediatest::At(carved, 200);
        ASSERT_NE(second, nullptr) << c.what << ": the file after it";
        EXPECT_EQ(second->size, whole) << c.what;
        EXPECT_EQ(carved.size(), 2u) << c.what << ": nothing starts inside either";
        CRawFileAnalyserListSingle::CreateInstance().UseTableForTesting({});
    }
}

TEST_F(Media, TransportStreamsTooShortAreDropped) {
    Image image;
    image.Put(0, TsPackets(100));  // 18,800 bytes
    image.Put(100, TsPackets(120));
    std::vector<uint8_t> source(192 * 120);
    const std::vector<uint8_t> plain = TsPackets(120);
    for (int i = 0; i < 120; ++i) {
        Put32(source, static_cast<size_t>(i) * 192, 0x12345678u + static_cast<uint32_t>(i));
        std::memcpy(source.data() + i * 192 + 4, plain.data() + i * 188, 188);
    }
    image.Put(200, source);
    image.PadTo(400);
    const auto carved = Scan(image);
    EXPECT_EQ(mediatest::At(carved, 0), nullptr);
    const auto* a = mediatest::At(carved, 100);
    ASSERT_NE(a, nullptr) << "found after a short one";
    EXPECT_EQ(a->size, 120 * 188);
    const auto* b = mediatest::At(carved, 200);
    ASSERT_NE(b, nullptr) << "192-byte source packets";
    EXPECT_EQ(b->size, 120 * 192);
    EXPECT_EQ(b->name, "FILE001.M2TS");
}

// A programme stream ends where its last pack does, whether zeros or other
// data follow it; packs that repeat its first clock near its start begin
// nothing, another stream after it does.
TEST_F(Media, MpegProgrammeStreams) {
    const std::vector<uint8_t> mpg = Sample("clip.mpg");
    const std::vector<uint8_t> vob = Sample("clip.vob");
    Image image;
    image.Put(0, mpg);
    image.Random(200, 200 * 512, 11);
    image.Put(200, vob);
    image.PadTo(500);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, static_cast<long long>(mpg.size())) << "zeros after it";
    const auto* b = mediatest::At(carved, 200);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, static_cast<long long>(vob.size())) << "random bytes after it";
    for (const auto& bytes : {mpg, vob}) {
        Dunmere::FileMPGAnalyser whole;
        EXPECT_EQ(
            mediatest::SizeWhole(whole, Cat({bytes, std::vector<uint8_t>(4096, 0)})).info.m_size,
            static_cast<long long>(bytes.size()));
    }
    Dunmere::MPGAnalyser analyser;
    std::vector<uint8_t> head = mpg;
    head.resize(512);
    auto at = [&](long long start) {
        CRawFileInfo info;
        info.m_startSector = start;
        return analyser.AnalyseBuffer(head.data(), info);
    };
    EXPECT_EQ(at(1000), 1);
    EXPECT_EQ(at(1010), 0) << "ten sectors after a stream's start";
    EXPECT_EQ(at(1021), 1);
    analyser.Sized(1021, 2048, 512);
    EXPECT_EQ(at(1025), 1) << "past the end of the stream sized before";
}

// Stream-properties objects in the header decide the type.
TEST_F(Media, AsfStreamsTypeTheFile) {
    auto guid = [](uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
        std::vector<uint8_t> g(16);
        Put32(g, 0, a);
        Put16(g, 4, b);
        Put16(g, 6, c);
        for (int i = 0; i < 8; ++i)
            g[8 + i] = static_cast<uint8_t>(d >> (8 * (7 - i)));
        return g;
    };
    const std::vector<uint8_t> header = guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
    const std::vector<uint8_t> props = guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
    const std::vector<uint8_t> video = guid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
    const std::vector<uint8_t> audio = guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
    const std::vector<uint8_t> other = guid(0x59DACFC0, 0x59E6, 0x11D0, 0xA3AC00A0C90348F6ull);
    const std::vector<uint8_t> data = guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
    auto object = [](const std::vector<uint8_t>& id, size_t size) {
        std::vector<uint8_t> o(size, 0x11);
        std::copy(id.begin(), id.end(), o.begin());
        Put32(o, 16, static_cast<uint32_t>(size));
        Put32(o, 20, 0);
        return o;
    };
    auto file = [&](std::initializer_list<const std::vector<uint8_t>*> streams) {
        std::vector<uint8_t> children;
        for (const auto* type : streams) {
            std::vector<uint8_t> p = object(props, 80);
            std::copy(type->begin(), type->end(), p.begin() + 24);
            children.insert(children.end(), p.begin(), p.end());
        }
        std::vector<uint8_t> h = object(header, 30 + children.size());
        std::copy(children.begin(), children.end(), h.begin() + 30);
        return Cat({h, object(data, 3000)});
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        RAW_FILE_TYPE type;
    } cases[] = {
        {"one video and one audio stream", file({&video, &audio}), RAW_WMV},
        {"two video streams", file({&video, &video}), RAW_WMA},
        {"audio alone", file({&audio}), RAW_WMA},
        {"audio and another stream", file({&audio, &other}), RAW_ASF},
        {"no stream", file({}), RAW_ASF},
    };
    for (const auto& c : cases) {
        AsfWalk walk;
        EXPECT_EQ(Walk(walk, Cat({c.bytes, std::vector<uint8_t>(100, 0)})), c.bytes.size())
            << c.what;
        EXPECT_EQ(walk.Type(), c.type) << c.what;
        Image image;
        image.Put(0, c.bytes);
        image.PadTo(40);
        const auto carved = Scan(image);
        ASSERT_EQ(carved.size(), 1u) << c.what;
        const std::string ext = RawFileTypeName(c.type);
        EXPECT_NE(carved[0].name.find("." + ext), std::string::npos) << c.what;
    }
}

// The index objects after the data belong to the file: a player seeks
// through them. Each kind is walked over, whichever comes last.
TEST_F(Media, AsfEndsAfterItsIndexObjects) {
    auto object = [](uint32_t a, uint16_t b, uint16_t c, uint64_t d, size_t size) {
        std::vector<uint8_t> o(size, 0x5A);
        Put32(o, 0, a);
        Put16(o, 4, b);
        Put16(o, 6, c);
        for (int i = 0; i < 8; ++i)
            o[8 + i] = static_cast<uint8_t>(d >> (8 * (7 - i)));
        Put32(o, 16, static_cast<uint32_t>(size));
        Put32(o, 20, 0);
        return o;
    };
    const std::vector<uint8_t> head = object(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull, 30);
    const std::vector<uint8_t> data =
        object(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull, 5000);
    const struct {
        const char* what;
        std::vector<uint8_t> index;
    } cases[] = {
        {"simple index", object(0x33000890, 0xE5B1, 0x11CF, 0x89F400A0C90349CBull, 700)},
        {"index", object(0xD6E229D3, 0x35DA, 0x11D1, 0x903400A0C90349BEull, 700)},
        {"media-object index", object(0xFEB103F8, 0x12AD, 0x4C64, 0x840F2A1D2F7AD48Cull, 700)},
        {"timecode index", object(0x3CB73FD0, 0x0C4A, 0x4803, 0x953DEDF7B6228F0Cull, 700)},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> file = Cat({head, data, c.index});
        AsfWalk walk;
        EXPECT_EQ(Walk(walk, Cat({file, std::vector<uint8_t>(100, 0x33)})), file.size()) << c.what;
        BruteForce::CAsfAnalyser whole;
        EXPECT_EQ(mediatest::SizeWhole(whole, file).info.m_size,
                  static_cast<long long>(file.size()))
            << c.what;
    }
}

TEST_F(Media, ChainedStructuresEndWhereTheChainBreaks) {
    // FLV: each tag after the size of the one before.
    auto flv = [](int tags, bool mismatch) {
        std::vector<uint8_t> f = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
        uint32_t previous = 0;
        for (int i = 0; i < tags; ++i) {
            const uint32_t data = 100 + static_cast<uint32_t>(i);
            std::vector<uint8_t> step(4 + 11 + data, 0x22);
            Put32(step, 0, mismatch && i == 2 ? previous + 1 : previous, false);
            step[4] = i % 2 == 0 ? 9 : 8;
            step[5] = 0;
            step[6] = static_cast<uint8_t>(data >> 8);
            step[7] = static_cast<uint8_t>(data);
            f.insert(f.end(), step.begin(), step.end());
            previous = 11 + data;
        }
        std::vector<uint8_t> last(4);
        Put32(last, 0, previous, false);
        f.insert(f.end(), last.begin(), last.end());
        return f;
    };
    const std::vector<uint8_t> good = flv(5, false);
    std::vector<uint8_t> version2 = good;
    version2[3] = 2;
    FlvWalk a, b, c;
    EXPECT_EQ(Walk(a, Cat({good, std::vector<uint8_t>(64, 0)})), good.size());
    EXPECT_EQ(Walk(b, Cat({version2, std::vector<uint8_t>(64, 0)})), 0u);
    // A mismatching size ends the file after that tag.
    EXPECT_EQ(Walk(c, flv(5, true)), 9u + (15 + 100) + (15 + 101) + (15 + 102));

    // RealMedia: chunks to the last index, whose entries follow its header.
    auto chunk = [](const char* id, uint32_t size) {
        std::vector<uint8_t> ch(size, 0x33);
        std::memcpy(ch.data(), id, 4);
        Put32(ch, 4, size, false);
        return ch;
    };
    auto index = [&](uint32_t count, uint32_t next) {
        std::vector<uint8_t> i = chunk("INDX", 20);
        Put16(i, 8, 0, false);
        Put32(i, 10, count, false);
        Put16(i, 14, 1, false);
        Put32(i, 16, next, false);
        i.resize(20 + 14 * count, 0x44);
        return i;
    };
    const std::vector<uint8_t> head =
        Cat({chunk(".RMF", 18), chunk("PROP", 50), chunk("DATA", 400)});
    const std::vector<uint8_t> indexed = Cat({head, index(3, 0)});
    const std::vector<uint8_t> linked =
        Cat({head, index(2, 468 + 48 + 60), chunk("CONT", 60), index(1, 0)});
    const std::vector<uint8_t> backwards =
        Cat({head, index(2, 18), std::vector<uint8_t>(200, 0x55)});
    RmChunkWalk r1, r2, r3;
    EXPECT_EQ(Walk(r1, Cat({indexed, std::vector<uint8_t>(64, 0)})), indexed.size());
    EXPECT_EQ(Walk(r2, Cat({linked, std::vector<uint8_t>(64, 0)})), linked.size());
    EXPECT_EQ(Walk(r3, backwards), head.size()) << "an index linking back ends the walk";
    // The same on the whole-file road, which types video files RMVB and
    // looks for their empty index record first.
    Dunmere::FileRM_RMVBAnalyser whole;
    auto sized = [&](const std::vector<uint8_t>& bytes) {
        return mediatest::SizeWhole(whole, Cat({bytes, std::vector<uint8_t>(2048, 0)}));
    };
    EXPECT_EQ(sized(indexed).info.m_size, static_cast<long long>(indexed.size()));
    EXPECT_EQ(sized(indexed).info.m_type, RAW_RM);
    std::vector<uint8_t> video = indexed;
    PutBytes(video, 18 + 20, "MDPR....Video Stream");
    EXPECT_EQ(sized(video).info.m_type, RAW_RMVB);
    EXPECT_EQ(sized(video).info.m_size, static_cast<long long>(video.size()))
        << "no empty index record: the chunks still chain";
    std::vector<uint8_t> withRecord = Cat({video, std::vector<uint8_t>(100, 0x66)});
    withRecord.resize(1024 - 20, 0x66);
    const uint8_t record[20] = {'I', 'N', 'D', 'X', 0, 0, 0, 20, 0, 0,
                                0,   0,   0,   0,   0, 2, 0, 0,  0, 0};
    withRecord.insert(withRecord.end(), record, record + 20);
    EXPECT_EQ(sized(withRecord).info.m_size, 1024) << "ends past the empty index record";
}

TEST_F(Media, HeaderSizedFormats) {
    const std::vector<uint8_t> mkv = Sample("clip.mkv");
    std::vector<uint8_t> unknownSize = mkv;
    for (int i = 45; i < 52; ++i)
        unknownSize[static_cast<size_t>(i)] = 0xFF;
    std::vector<uint8_t> longHeader = mkv;
    longHeader[4] = 0x42;  // two-byte size: 0x0223 bytes of EBML header
    longHeader[5] = 0x23;
    const std::vector<uint8_t> aiff = Sample("tone.aiff");
    const struct {
        const char* what;
        std::function<IRawFileAnalyser*()> make;
        std::vector<uint8_t> bytes;
        long long size;
    } cases[] = {
        {"Matroska: its segment's 8-byte size", [] { return new FileMKVAnalyser(); }, mkv,
         static_cast<long long>(mkv.size())},
        {"Matroska segment of unknown size", [] { return new FileMKVAnalyser(); }, unknownSize, -1},
        {"Matroska segment past 512 bytes", [] { return new FileMKVAnalyser(); }, longHeader, -1},
        {"AIFF", [] { return new CFileAIFAnalyzer(); }, aiff, static_cast<long long>(aiff.size())},
    };
    for (const auto& c : cases) {
        std::unique_ptr<IRawFileAnalyser> a(c.make());
        std::vector<uint8_t> head = mediatest::Head(c.bytes);
        CRawFileInfo info;
        const int accepted = a->AnalyseBuffer(head.data(), info);
        EXPECT_EQ(accepted != 0 ? info.m_size : -1, c.size) << c.what;
    }
}

// RIFF forms by their first chunk; the length field counts the bytes after
// itself, so the file is exactly 8 bytes longer on any sector size: the
// slack after it is not part of it.
TEST_F(Media, RiffFormsAndLengths) {
    auto riff = [](const char* form, const char* chunk, uint32_t length) {
        std::vector<uint8_t> r(length + 8, 0x10);
        PutBytes(r, 0, "RIFF");
        Put32(r, 4, length);
        PutBytes(r, 8, form);
        PutBytes(r, 12, chunk);
        return r;
    };
    std::vector<uint8_t> cmx = riff("CMX1", "cont", 600);
    PutBytes(cmx, 20, "{Corel Binary Meta File}");
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        RAW_FILE_TYPE type;
        long long size;
    } cases[] = {
        {"WAVE", riff("WAVE", "fmt ", 1000), RAW_WAV, 1008},
        {"length a multiple of the sector size", riff("WAVE", "fmt ", 1024), RAW_WAV, 1032},
        {"odd length", riff("WAVE", "fmt ", 1001), RAW_WAV, 1009},
        {"AVI", riff("AVI ", "LIST", 3000), RAW_AVI, 3008},
        {"animated cursor", riff("ACON", "anih", 200), RAW_ANI, 208},
        {"CMX", cmx, RAW_CMX, 608},
        {"clip art", riff("CARC", "vrsn", 100), RAW_CLK, 108},
        {"CDR9", riff("cdr9", "VRSN", 100), RAW_CDR, 108},
        {"another form", riff("WEBP", "VP8 ", 100), RAW_RIFF, 108},
    };
    for (const auto& c : cases) {
        FileRIFFAnalyser a;
        std::vector<uint8_t> head = mediatest::Head(c.bytes);
        CRawFileInfo info;
        ASSERT_EQ(a.AnalyseBuffer(head.data(), info), 1) << c.what;
        EXPECT_EQ(info.m_type, c.type) << c.what;
        for (int sector : {512, 4096})
            EXPECT_EQ(mediatest::SizeWhole(a, c.bytes, sector).info.m_size, c.size)
                << c.what << " on " << sector << "-byte sectors";
    }
}

TEST_F(Media, AdtsFrames) {
    auto frames = [](int count) {
        std::vector<uint8_t> out;
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> f(300, 0x21);
            f[0] = 0xFF;
            f[1] = 0xF1;
            f[2] = 0x50;
            f[3] = 0x80 | static_cast<uint8_t>((300 >> 11) & 3);
            f[4] = static_cast<uint8_t>((300 >> 3) & 0xFF);
            f[5] = static_cast<uint8_t>(((300 & 7) << 5) | 0x1F);
            f[6] = 0xFC;
            out.insert(out.end(), f.begin(), f.end());
        }
        return out;
    };
    BruteForce::CADTSAnalyser adts;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        long long window;
        int accepted;
    } cases[] = {
        {"five frames", frames(8), 8, 1},
        {"frames past the window's end", frames(3), 1, 1},
        {"not a frame", std::vector<uint8_t>(600, 0x21), 8, 0},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer = c.bytes;
        buffer.resize(8 * 512 + 4096);
        CRawFileInfo info;
        EXPECT_EQ(adts.AnalyseBufferEx(buffer.data(), info, 512, 0, 0, c.window), c.accepted)
            << c.what;
    }
    Image image;
    image.Put(0, frames(20));  // zeros after it
    image.Random(100, 40 * 512, 5);
    image.Put(100, frames(20));  // other data after it
    image.PadTo(200);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 6000);
    EXPECT_EQ(a->name, "0-11_000.M4A");
    // Random bytes after the frames: the last frame still ends the stream.
    const auto* b = mediatest::At(carved, 100);
    ASSERT_NE(b, nullptr) << "frames not followed by zero fill";
    EXPECT_EQ(b->size, 6000);
}

TEST_F(Media, MonkeysAudio) {
    // The tag nearest the end of a sector, and the sizes a footer may claim.
    auto footer = [](uint32_t size, uint32_t flags) {
        std::vector<uint8_t> s(512, 0x11);
        PutBytes(s, 400, "APETAGEX");
        Put32(s, 408, 2000);
        Put32(s, 412, size);
        Put32(s, 416, 3);
        Put32(s, 420, flags);
        std::fill(s.begin() + 432, s.end(), 0);
        return s;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> sector;
        int length, position;
    } tags[] = {
        {"a footer", footer(100, 0), 100, 400 + 32 - 100},
        {"a footer after a header", footer(100, 0x80000000u), 132, 400 + 32 - 132},
        {"a header", footer(100, 0x20000000u), 100, 400},
        {"the largest tag", footer(0x1000020, 0), 0x1000020, 400 + 32 - 0x1000020},
        {"larger still", footer(0x1000021, 0), 0, 0},
    };
    for (const auto& t : tags) {
        int position = 0, zeros = 0;
        EXPECT_EQ(BruteForce::CAPERawFileInfo::searchTag(t.sector.data(), 512, 32, position, zeros),
                  t.length)
            << t.what;
        if (t.length != 0) {
            EXPECT_EQ(position, t.position) << t.what;
        }
        EXPECT_EQ(zeros, 80) << t.what;
    }

    // Old form: the seek table across three sectors gives the last frame;
    // the sector after it that ends in zeros places the tag.
    std::vector<uint8_t> old(301056, 0x21);
    PutBytes(old, 0, "MAC ");
    Put16(old, 4, 3950);
    Put16(old, 8, 0x18);  // 24-bit samples, a seek-element count
    Put16(old, 10, 1);
    Put32(old, 16, 0);
    Put32(old, 24, 300);
    Put32(old, 32, 300);
    for (uint32_t i = 0; i < 300; ++i)
        Put32(old, 36 + 4 * i, 1236 + 1000 * i);
    PutBytes(old, 300900, std::string(32, 'i'));
    PutBytes(old, 300932, "APETAGEX");
    Put32(old, 300940, 2000);
    Put32(old, 300944, 64);
    Put32(old, 300948, 1);
    Put32(old, 300952, 0);
    std::fill(old.begin() + 300956, old.begin() + 300964, 0x77);
    std::fill(old.begin() + 300964, old.end(), 0);
    std::vector<uint8_t> newForm = Sample("song.ape");
    std::vector<uint8_t> badVersion = newForm;
    Put16(badVersion, 4, 999);
    Image image;
    image.Put(0, old);
    image.Put(700, newForm);
    image.Put(800, badVersion);
    image.PadTo(900);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 300964);
    const auto* b = mediatest::At(carved, 700);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, static_cast<long long>(newForm.size()));
    EXPECT_EQ(mediatest::At(carved, 800), nullptr) << "version 999";
}

// Blocks to the first unknown one; zero fill marks the end only inside the
// last block (a recording cut short), never fill seen before it.
TEST_F(Media, MagicLanternBlocks) {
    const std::vector<uint8_t> mlv = Sample("clip.mlv");
    // The frame blocks of the sample start after the 52-byte file header
    // and the raw-info block; the second sector, inside the first frame
    // block, ends in zeros.
    std::vector<uint8_t> staleFill = mlv;
    const size_t firstFrame = 52 + 192;
    const size_t sectorEnd = 1024;
    std::fill(staleFill.begin() + static_cast<long>(sectorEnd - 100),
              staleFill.begin() + static_cast<long>(sectorEnd), 0);
    ASSERT_LT(firstFrame, sectorEnd - 100);
    // The last block claims more than was written: the recording stopped.
    std::vector<uint8_t> cut = mlv;
    const size_t last = mlv.size() - 40;  // the closing block
    Put32(cut, last + 4, 4000);
    cut.resize(last + 30);
    Image image;
    image.Put(0, Cat({mlv, std::vector<uint8_t>{'X', 'X', 'X', 'X', 1, 0, 0, 0}}));
    image.Put(100, staleFill);
    image.Put(200, cut);
    image.PadTo(300);
    const auto carved = Scan(image);
    ASSERT_NE(mediatest::At(carved, 0), nullptr);
    EXPECT_EQ(mediatest::At(carved, 0)->size, static_cast<long long>(mlv.size()));
    ASSERT_NE(mediatest::At(carved, 100), nullptr);
    EXPECT_EQ(mediatest::At(carved, 100)->size, static_cast<long long>(mlv.size()));
    ASSERT_NE(mediatest::At(carved, 200), nullptr);
    EXPECT_EQ(mediatest::At(carved, 200)->size, static_cast<long long>(cut.size()));
}

// KLV lengths come in every BER form; only a header partition begins a file.
TEST_F(Media, MxfPackets) {
    auto packet = [](std::vector<uint8_t> lengthBytes, size_t value) {
        std::vector<uint8_t> p = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x02,
                                  0x0D, 0x01, 0x03, 0x01, 0x15, 0x01, 0x05, 0x00};
        p.insert(p.end(), lengthBytes.begin(), lengthBytes.end());
        p.resize(p.size() + value, 0x5A);
        return p;
    };
    const std::vector<uint8_t> klv =
        Cat({packet({0x83, 0, 1, 0}, 256), packet({0x40}, 0x40), packet({0x82, 0x02, 0x00}, 0x200),
             packet({0x87, 0, 0, 0, 0, 0, 0x01, 0x10}, 0x110)});
    MxfWalk walk;
    EXPECT_EQ(Walk(walk, Cat({klv, std::vector<uint8_t>(64, 0)})), klv.size());
    RawSpeed::MxfAnalyser mxf;
    std::vector<uint8_t> header = mediatest::Head(Sample("clip.mxf"));
    CRawFileInfo info;
    EXPECT_EQ(mxf.AnalyseBuffer(header.data(), info), 1);
    std::vector<uint8_t> body = header;
    body[13] = 0x03;
    Put32(body, 32, 0x1000, false);  // the partition's own offset
    EXPECT_EQ(mxf.AnalyseBuffer(body.data(), info), 0);
}

TEST_F(Media, MidiSongsEndAtTheirLastTrackSector) {
    const std::vector<uint8_t> song = Sample("song.mid");
    Image image;
    image.Random(0, 20 * 512, 9);
    image.Put(0, song);
    image.PadTo(40);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 512) << "the end of the sector its last track ends in";
    EXPECT_EQ(a->name, "0-0_000.MID");
}

}  // namespace
