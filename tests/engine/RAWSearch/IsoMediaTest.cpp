// QuickTime and ISO media: the brands that type a file, the top-level box
// walk while the search streams past and from the device, and what a
// candidate cut off from the stream comes back as.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Analysers/AnalyserFactories.h"
#include "Analysers/IsoMediaAnalysers.h"
#include "MediaTestSupport.h"

namespace {

using mediatest::Image;
using mediatest::Sample;
using mediatest::Scan;

std::vector<uint8_t> Box(const char* type, size_t payload, uint8_t fill = 0x33) {
    std::vector<uint8_t> b(8 + payload, fill);
    rawtest::Put32(b, 0, static_cast<uint32_t>(8 + payload), false);
    std::memcpy(b.data() + 4, type, 4);
    return b;
}

std::vector<uint8_t> Ftyp(const char* major, std::initializer_list<const char*> compatible) {
    std::vector<uint8_t> b = Box("ftyp", 8 + 4 * compatible.size(), 0);
    std::memcpy(b.data() + 8, major, 4);
    size_t at = 16;
    for (const char* c : compatible) {
        std::memcpy(b.data() + at, c, 4);
        at += 4;
    }
    return b;
}

// A media data box whose 64-bit size says `size`; only its header is built.
std::vector<uint8_t> LargeHeader(const char* type, uint64_t size) {
    std::vector<uint8_t> b(16, 0);
    rawtest::Put32(b, 0, 1, false);
    std::memcpy(b.data() + 4, type, 4);
    rawtest::Put32(b, 8, static_cast<uint32_t>(size >> 32), false);
    rawtest::Put32(b, 12, static_cast<uint32_t>(size), false);
    return b;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class IsoMedia : public ::testing::Test {
protected:
    void TearDown() override {
        CRawFileAnalyserListSingle& registry = CRawFileAnalyserListSingle::CreateInstance();
        registry.UseTableForTesting({});
        registry.ClearSearchSet();
    }
};

TEST_F(IsoMedia, WholeFileWalkEndsWhereTheChainDoes) {
    const std::vector<uint8_t> ftyp = Ftyp("isom", {"isom", "mp41"});
    const std::vector<uint8_t> moov = Box("moov", 100);
    const std::vector<uint8_t> mdat = Box("mdat", 1000);
    std::vector<uint8_t> manyFree = ftyp;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<uint8_t> f = Box("free", 0);
        manyFree.insert(manyFree.end(), f.begin(), f.end());
    }
    const uint64_t huge = 5ull << 30;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        long long size;  // 0: not a file
    } cases[] = {
        {"ftyp, moov, mdat", Cat({ftyp, moov, mdat, Box("junk", 40)}), 24 + 108 + 1008},
        {"QuickTime: wide before mdat", Cat({Ftyp("qt  ", {"qt  "}), Box("wide", 0), mdat, moov}),
         20 + 8 + 1008 + 108},
        {"a 64-bit mdat is passed whole",
         Cat({ftyp, LargeHeader("mdat", huge), std::vector<uint8_t>(2000, 1)}),
         static_cast<long long>(24 + huge)},
        {"a 64-bit size with its top bit set", Cat({ftyp, LargeHeader("mdat", 1ull << 63), moov}),
         0},
        {"ftyp alone", Cat({ftyp, Box("junk", 40)}), 0},
        {"a second ftyp begins another file", Cat({ftyp, moov, ftyp, moov}), 24 + 108},
        {"a box of size 0",
         Cat({ftyp, moov, std::vector<uint8_t>{0, 0, 0, 0, 'f', 'r', 'e', 'e'}, moov}), 24 + 108},
        {"an impossible box size",
         Cat({ftyp, moov, std::vector<uint8_t>{0, 0, 0, 4, 'f', 'r', 'e', 'e'}}), 24 + 108},
        {"at most 500 boxes", manyFree, 24 + 499 * 8},
        {"an impossible first box", Cat({std::vector<uint8_t>{0, 0, 0, 3}, moov}), 0},
    };
    for (const auto& c : cases) {
        FileMP4Analyser sizer;
        const mediatest::Sized s = mediatest::SizeWhole(sizer, c.bytes);
        EXPECT_EQ(s.answer != 0 ? s.info.m_size : 0, c.size) << c.what;
    }
}

TEST_F(IsoMedia, BrandsTypeTheFile) {
    auto head = [](std::vector<uint8_t> box, const std::vector<uint8_t>& after = {}) {
        box.insert(box.end(), after.begin(), after.end());
        box.resize(512);
        return box;
    };
    std::vector<uint8_t> longFtyp = Ftyp(
        "isom", {"isom", "iso2", "avc1", "mp41", "aaaa", "bbbb", "cccc", "dddd", "eeee", "ffff",
                 "gggg", "hhhh", "iiii", "jjjj", "kkkk", "llll", "mmmm", "nnnn", "oooo"});
    const struct {
        const char* what;
        std::vector<uint8_t> sector;
        int mov, mp4, gp3;  // type each analyser gives, 0 when it refuses
    } cases[] = {
        {"qt", head(Ftyp("qt  ", {"qt  "})), RAW_MOV, 0, 0},
        {"isom with M4A", head(Ftyp("isom", {"M4A ", "isom"})), RAW_M4A, RAW_MP4, 0},
        {"isom with mp41 among others", head(Ftyp("isom", {"isom", "mp41"})), RAW_MP4, RAW_MP4, 0},
        {"isom alone", head(Ftyp("isom", {"isom", "iso2"})), RAW_MOV, RAW_MP4, 0},
        {"mp42 with free after a 24-byte ftyp",
         head(Ftyp("mp42", {"mp42", "isom"}), Box("free", 0)), RAW_TREC, RAW_TREC, 0},
        {"mp41 the only compatible brand", head(Ftyp("mp42", {"mp41"})), RAW_M4A, RAW_MP4, 0},
        {"M4A", head(Ftyp("M4A ", {"M4A "})), RAW_M4A, RAW_M4A, 0},
        {"M4V", head(Ftyp("M4V ", {"M4V "})), RAW_M4V, RAW_M4V, 0},
        {"3gp4", head(Ftyp("3gp4", {"3gp4"})), RAW_3GP, 0, RAW_3GP},
        {"an unknown brand", head(Ftyp("abcd", {"abcd"})), RAW_MOV, 0, 0},
        {"an ftyp longer than 83 bytes", head(longFtyp), 0, RAW_MP4, 0},
        {"not ftyp", head(Box("moov", 20)), 0, 0, 0},
    };
    for (const auto& c : cases) {
        BruteForce::MovAnalyzer mov;
        BruteForce::Mp4Analyzer mp4;
        BruteForce::C3GPAnalyser gp3;
        const int expected[3] = {c.mov, c.mp4, c.gp3};
        IRawFileAnalyser* analysers[3] = {&mov, &mp4, &gp3};
        for (int i = 0; i < 3; ++i) {
            std::vector<uint8_t> s = c.sector;
            CRawFileInfo info;
            const int accepted = analysers[i]->AnalyseBuffer(s.data(), info);
            EXPECT_EQ(accepted != 0 ? info.m_type : 0, expected[i])
                << c.what << " / analyser " << i;
        }
    }
}

// Streamed: the chain's end, a lone ftyp, an MP4 typed by its one movie
// box, a size past the device cut at its end.
TEST_F(IsoMedia, StreamedMoviesEndAtTheirLastBox) {
    Image image;
    const std::vector<uint8_t> movie =
        Cat({Ftyp("qt  ", {"qt  "}), Box("wide", 0), Box("mdat", 3000), Box("moov", 400)});
    const std::vector<uint8_t> isoOnly =
        Cat({Ftyp("isom", {"isom", "iso2"}), Box("free", 0), Box("mdat", 2000), Box("moov", 300)});
    image.Random(0, 40 * 512);
    image.Put(0, movie);  // random bytes after it
    image.Put(40, Cat({Ftyp("qt  ", {"qt  "}), Box("junk", 100)}));
    image.Put(60, isoOnly);
    image.PadTo(200);
    // Its media data runs past the device's end.
    image.Put(180, Cat({Ftyp("qt  ", {"qt  "}), Box("moov", 200), Box("mdat", 0)}));
    std::vector<uint8_t>& bytes = image.Bytes();
    rawtest::Put32(bytes, 180 * 512 + 20 + 208, 0x7FFFFFF0, false);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, static_cast<long long>(movie.size()));
    EXPECT_EQ(a->name, "FILE000.MOV");
    EXPECT_EQ(mediatest::At(carved, 40), nullptr) << "an ftyp alone is no movie";
    const auto* b = mediatest::At(carved, 60);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, static_cast<long long>(isoOnly.size()));
    EXPECT_EQ(b->name, "FILE000.MP4") << "one movie box and an iso brand make an MP4";
    const auto* c = mediatest::At(carved, 180);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->size, static_cast<long long>(bytes.size() / 512 - 180) * 512)
        << "cut at the device's end";

    // A 64-bit media data size over 4 GiB: taken whole, so cut at the
    // device's end, not at its low 32 bits.
    Image large;
    large.Put(0, Cat({Ftyp("qt  ", {"qt  "}), Box("moov", 200),
                      LargeHeader("mdat", (1ull << 32) + 6000), std::vector<uint8_t>(100, 0x44)}));
    large.PadTo(100);
    const auto carvedLarge = Scan(large);
    const auto* d = mediatest::At(carvedLarge, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->size, static_cast<long long>(large.Bytes().size()));
}

// The camera of an EXIF block in the movie box, and a phone's name at the
// file's end, label the movie; the model names it.
TEST_F(IsoMedia, CamerasAndPhonesLabelMovies) {
    Image image;
    const std::vector<uint8_t> camera = Sample("camera.mov");
    const std::vector<uint8_t> phone = Sample("phone.mov");
    image.Put(0, camera);
    // Text after the file is not part of the phone's name.
    std::vector<uint8_t> followed = phone;
    const std::string text = "S Max, said the next file";
    followed.insert(followed.end(), text.begin(), text.end());
    image.Put(100, followed);
    image.PadTo(200);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->name, "CAM 7000.MOV");
    EXPECT_EQ(a->folder, "MOV/MAKER");
    const auto* b = mediatest::At(carved, 100);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->folder, "MOV/IPHONE 12");
    EXPECT_EQ(b->size, static_cast<long long>(phone.size()));
}

// 33 other streaming files begin inside a movie's media data: the movie is
// cut off from the stream and walked whole from the device, so its movie
// box after the media data stays part of it.
TEST_F(IsoMedia, AMovieCutOffTheStreamKeepsEverything) {
    static const AnalyserRow rows[] = {
        {AnalyserPlace::Map, RawKey4("DCOY"), "Decoy", &mediatest::NewDecoyAnalyser},
        {AnalyserPlace::Multimap, RawKey2(0x00, 0x00), "BruteForce::MovAnalyzer", &NewMovAnalyzer},
    };
    CRawFileAnalyserListSingle::CreateInstance().UseTableForTesting(rows);
    std::vector<uint8_t> mdat = Box("mdat", 40 * 512);
    const std::vector<uint8_t> head = Cat({Ftyp("qt  ", {"qt  "}), Box("wide", 0)});
    for (int i = 1; i <= 34; ++i)
        std::memcpy(mdat.data() + i * 512 - head.size(), "DCOY", 4);
    const std::vector<uint8_t> movie = Cat({head, mdat, Box("moov", 700)});
    Image image;
    image.Put(0, movie);
    image.PadTo(200);
    const auto carved = Scan(image);
    const auto* a = mediatest::At(carved, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, static_cast<long long>(movie.size()));
}

}  // namespace
