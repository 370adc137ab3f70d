// Formats sized by walking their own structure: PNG chunks, GIF blocks,
// Photoshop sections and image data, Paint Shop Pro blocks, OneNote
// sections, Jet database pages, InDesign objects; WordPerfect graphics by
// the zero fill after them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Analysers/DWGAnalyser.h"
#include "Analysers/StructureWalkers.h"
#include "CarveDriver.h"

namespace {

using namespace rawtest;

std::vector<uint8_t> PngChunk(const std::string& type, size_t length, uint8_t fill = 0x41) {
    std::vector<uint8_t> c;
    Put32(c, 0, static_cast<uint32_t>(length), false);
    PutBytes(c, 4, type);
    c.resize(8 + length, fill);
    c.resize(c.size() + 4, 0xCC);  // CRC, not checked
    return c;
}

std::vector<uint8_t> Png(const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> p = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const auto& c : chunks)
        p.insert(p.end(), c.begin(), c.end());
    return p;
}

std::vector<uint8_t> Ihdr(uint32_t width = 16, uint32_t height = 16) {
    std::vector<uint8_t> c = PngChunk("IHDR", 13, 0);
    Put32(c, 8, width, false);
    Put32(c, 12, height, false);
    return c;
}

TEST(Png, ChunksToTheEnd) {
    RawSpeed::PNGAnalyser png;
    FilePNGAnalyser whole;
    for (const char* name : {"picture.png", "interlaced.png"}) {
        const std::vector<uint8_t> file = Sample(name);
        for (int sectorSize : {512, 4096})
            EXPECT_EQ(StreamFile(png, file, sectorSize, 8, 0x77).size,
                      static_cast<long long>(file.size()))
                << name;
        EXPECT_EQ(WholeFileSize(whole, file, 0x77), static_cast<long long>(file.size())) << name;
    }
    // Three chunks: the signature, the three and their 12 bytes each.
    const std::vector<uint8_t> three = Png({Ihdr(), PngChunk("IDAT", 700), PngChunk("IEND", 0)});
    EXPECT_EQ(StreamFile(png, three, 512, 8, 0x77).size, 8 + 13 + 700 + 0 + 36);
    EXPECT_EQ(WholeFileSize(whole, three, 0x77), 8 + 13 + 700 + 0 + 36);
    // A header whose width has its top bit set is no picture to size.
    EXPECT_EQ(WholeFileSize(whole, Png({Ihdr(0x80000001), PngChunk("IEND", 0)})), -1);
    // A chunk whose type is not four letters: the walk has lost the file.
    std::vector<uint8_t> lost = three;
    lost[8 + 25 + 4] = '7';
    const Streamed s = StreamFile(png, lost, 512, 8, 0x77);
    EXPECT_EQ(s.size, 0);
    EXPECT_TRUE(s.handedOver);
}

// ---------------------------------------------------------------------------

TEST(Gif, BlocksToTheTrailer) {
    BruteForce::CGifAnalyser gif;
    for (const char* name : {"palette.gif", "subblocks.gif"}) {
        const std::vector<uint8_t> file = Sample(name);
        for (int sectorSize : {512, 4096})
            EXPECT_EQ(StreamFile(gif, file, sectorSize, 8, 0x77).size,
                      static_cast<long long>(file.size()))
                << name << " " << sectorSize;
    }
    // subblocks.gif holds a data sub-block of 59 bytes, the trailer's value.
    const std::vector<uint8_t> file = Sample("subblocks.gif");
    bool has59 = false;
    for (size_t i = 0; i + 61 < file.size(); ++i)
        has59 = has59 || (file[i] == 0x3B && file[i + 60] == 0x00 && i > 13 + 48);
    EXPECT_TRUE(has59);
    // A global table of 256 colours: the first block follows it at 781.
    std::vector<uint8_t> big = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0};
    big.resize(781, 0x10);
    big.push_back(0x3B);
    EXPECT_EQ(StreamFile(gif, big, 512, 8, 0x77).size, 782);
    // Something else where a block begins: the picture is cut short there.
    std::vector<uint8_t> cut = big;
    cut.back() = 0x99;
    EXPECT_EQ(StreamFile(gif, cut, 512, 8, 0x99).size, 781);
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> Psd(uint16_t channels, uint32_t height, uint32_t width, uint16_t compression,
                         uint8_t pixel) {
    std::vector<uint8_t> p;
    PutBytes(p, 0, "8BPS");
    Put16(p, 4, 1, false);
    Put16(p, 12, channels, false);
    Put32(p, 14, height, false);
    Put32(p, 18, width, false);
    Put16(p, 22, 8, false);
    Put16(p, 24, 3, false);
    Put32(p, 26, 0, false);   // no colour modes
    Put32(p, 30, 40, false);  // resources
    p.resize(34 + 40, 0x52);
    Put32(p, p.size(), 0, false);  // no layers
    Put16(p, p.size(), compression, false);
    p.resize(p.size() + static_cast<size_t>(channels) * height * width, pixel);
    return p;
}

TEST(Psd, SectionsThenTheImageData) {
    RawSpeed::PSDAnalyser psd;
    FilePSDAnalyser whole;
    const std::vector<uint8_t> raw = Sample("raw.psd");
    const Streamed s = StreamFile(psd, raw, 512, 8, 0x77);
    EXPECT_EQ(s.size, static_cast<long long>(raw.size()));
    EXPECT_EQ(s.name, "3-" + std::to_string(3 + (raw.size() - 1) / 512)) << "no underscore";
    EXPECT_EQ(WholeFileSize(whole, raw, 0x77), static_cast<long long>(raw.size()));
    // Run-length data is sized whole, by its row counts.
    const std::vector<uint8_t> runs = Sample("runs.psd");
    const Streamed r = StreamFile(psd, runs, 512, 8, 0x77);
    ASSERT_TRUE(r.handedOver);
    EXPECT_EQ(WholeFileSize(*r.owner, runs, 0x77), static_cast<long long>(runs.size()));
    // Three channels of 100 x 100 raw pixels follow the sections.
    const std::vector<uint8_t> rgb = Psd(3, 100, 100, 0, 0x80);
    EXPECT_EQ(WholeFileSize(whole, rgb, 0x77), 34 + 40 + 4 + 2 + 30000);
    // Black pixels end many sectors in zeros; the data's length still decides.
    const std::vector<uint8_t> black = Psd(3, 100, 100, 0, 0);
    EXPECT_EQ(StreamFile(psd, black, 512, 8, 0x77).size, static_cast<long long>(black.size()));
    // Bitmaps keep each row in whole bytes.
    EXPECT_EQ(RawSpeed::PSDAnalyser::RawImageBytes(10, 1, 9, 1), 20u);
    std::vector<uint8_t> version2 = raw;
    version2[5] = 2;
    CRawFileInfo info;
    EXPECT_EQ(psd.AnalyseBuffer(version2.data(), info), 0);
    EXPECT_EQ(WholeFileSize(whole, version2), -1);
}

// ---------------------------------------------------------------------------

TEST(Psp, BlockChain) {
    RawSpeed::PSPAnalyser psp;
    FilePSPAnalyser whole;
    const std::vector<uint8_t> file = Sample("layers.psp");
    const Streamed s = StreamFile(psp, file, 512, 8, 0x77);
    EXPECT_EQ(s.size, static_cast<long long>(file.size()));
    EXPECT_EQ(s.name.back(), '.');
    EXPECT_EQ(WholeFileSize(whole, file, 0x77), static_cast<long long>(file.size()));
    std::vector<uint8_t> small(file.begin(), file.begin() + 36 + 10 + 46);
    EXPECT_EQ(WholeFileSize(whole, small, 0x77), -1) << "a chain that ends before 512 bytes";
}

// ---------------------------------------------------------------------------

TEST(OneNote, SectionsByTheirLength) {
    RawSpeed::OneAnalyser one;
    FileONEAnalyser whole;
    const std::vector<uint8_t> file = Sample("notes.one");
    EXPECT_EQ(StreamFile(one, file, 512, 8, 0x77).size, static_cast<long long>(file.size()));
    EXPECT_EQ(WholeFileSize(whole, file, 0x77), static_cast<long long>(file.size()));
    // A section that ends on a sector boundary, its length at 100.
    std::vector<uint8_t> legacy = file;
    legacy.resize(8192);
    Put32(legacy, 196, 0);
    Put32(legacy, 200, 0);
    Put32(legacy, 100, 8192);
    Put32(legacy, 104, 0);
    const Streamed s = StreamFile(one, legacy, 512, 8, 0x77);
    EXPECT_EQ(s.size, 8192);
    EXPECT_EQ(s.endSector, 3 + 15);
    // Two sections back to back are one chain.
    std::vector<uint8_t> two = file;
    two.insert(two.end(), file.begin(), file.end());
    EXPECT_EQ(StreamFile(one, two, 512, 8, 0x77).size, 2 * 9000);
    EXPECT_EQ(WholeFileSize(whole, two, 0x77), 2 * 9000);
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> Page(uint16_t head, uint8_t fill) {
    std::vector<uint8_t> p(4096, fill);
    Put16(p, 0, head);
    return p;
}

TEST(Jet, PagesToTheZeroRunOrAnotherFile) {
    RawSpeed::CMDBAnalyser mdb;
    const std::vector<uint8_t> db = Sample("database.mdb");  // 7 pages
    // Followed by 36 zero pages: sized to where they begin.
    EXPECT_EQ(StreamFile(mdb, db, 512, 64, 0, 40 * 4096).size, 7 * 4096);
    // Followed by a zero page, then a page of another file: the zero page
    // is not the database's either.
    std::vector<uint8_t> then = db;
    const std::vector<uint8_t> zero(4096, 0);
    const std::vector<uint8_t> other = Page(0x5A5A, 0x5A);
    then.insert(then.end(), zero.begin(), zero.end());
    then.insert(then.end(), other.begin(), other.end());
    EXPECT_EQ(StreamFile(mdb, then, 512, 64, 0x5A).size, 7 * 4096);
    EXPECT_EQ(StreamFile(mdb, then, 4096, 8, 0x5A).size, 7 * 4096);
    // Directly followed by another file.
    std::vector<uint8_t> direct = db;
    direct.insert(direct.end(), other.begin(), other.end());
    EXPECT_EQ(StreamFile(mdb, direct, 512, 64, 0x5A).size, 7 * 4096);
    // A second page of no page kind: the zero fill decides.
    std::vector<uint8_t> odd = db;
    Put16(odd, 4096, 0x7777);
    odd.resize(3 * 4096);
    odd.resize(4 * 4096 - 100, 0x12);
    odd.resize(4 * 4096, 0);
    EXPECT_EQ(StreamFile(mdb, odd, 512, 64, 0).size, 4 * 4096);
}

// ---------------------------------------------------------------------------

TEST(InDesign, ObjectsToTheirLastPage) {
    RawSpeed::InddAnalyser indd;
    const std::vector<uint8_t> file = Sample("layout.indd");
    for (int sectorSize : {512, 4096}) {
        const Streamed s = StreamFile(indd, file, sectorSize, 8, 0x77);
        EXPECT_EQ(s.size, static_cast<long long>(file.size())) << sectorSize;
    }
    std::vector<uint8_t> broken = file;
    broken[3 * 4096 + 64 + 1000] ^= 0xFF;  // the second object's header
    EXPECT_EQ(StreamFile(indd, broken, 512, 8, 0x77).size, 4 * 4096);
}

TEST(Wpg, EndsOnlyAtSixteenZeroBytes) {
    RawSpeed::WpgAnalyser wpg;
    std::vector<uint8_t> file = Sample("drawing.wpg");
    Streamed s = StreamFile(wpg, file);
    EXPECT_EQ(s.type, RAW_WPG);
    EXPECT_EQ(s.size, static_cast<long long>(file.size()));
    EXPECT_EQ(s.name.back(), '.');
    // Fewer than 16 zero bytes after it in its last sector, then other data.
    const size_t whole = (file.size() + 511) / 512 * 512;
    file.resize(whole - 15, 0x01);
    file.resize(whole, 0);
    EXPECT_EQ(StreamFile(wpg, file, 512, 8, 0x01, 4096).answer, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Drawings

namespace {

using namespace rawtest;

TEST(Drawing, SizedByTheHeaderOfEachVersion) {
    BruteForce::CDWGAnalyser dwg;
    for (const char* name : {"plan_r2000.dwg", "plan_r2004.dwg", "plan_r2007.dwg"}) {
        const std::vector<uint8_t> file = Sample(name);
        for (int sectorSize : {512, 4096}) {
            const Streamed s = StreamFile(dwg, file, sectorSize, 1, 0x5A);
            EXPECT_EQ(s.type, RAW_DWG) << name;
            EXPECT_EQ(s.size, static_cast<long long>(file.size())) << name << " " << sectorSize;
        }
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<uint8_t> order = Sample("plan_r2000.dwg");
    order[25 + 9] = 2;  // records numbered 0, 2
    std::vector<uint8_t> many = Sample("plan_r2000.dwg");
    Put32(many, 21, 100000);
    std::vector<uint8_t> coded = Sample("plan_r2004.dwg");
    coded[0x80 + 0x44] ^= 1;
    std::vector<uint8_t> compressed = Sample("plan_r2007.dwg");
    compressed[0x80 + 0x18 * 3] = 1;  // the first byte of the compressed length, interleaved
    std::vector<uint8_t> old = Sample("plan_r2000.dwg");
    std::memcpy(old.data(), "AC1009", 6);
    const std::vector<Case> unsized = {
        {"locators out of order", order},
        {"more locators than one byte can number", many},
        {"R2004 header whose marks are wrong", coded},
        {"R2007 header stored compressed", compressed},
        {"R12 has no size", old},
    };
    for (const Case& c : unsized) {
        const Streamed s = StreamFile(dwg, c.file, 512, 1);
        EXPECT_EQ(s.answer, 1) << c.what;
        EXPECT_EQ(s.size, 0) << c.what;
    }
    // A seeker and size whose 32-bit sum wraps: the 64-bit end, not a tiny one.
    std::vector<uint8_t> wrap = Sample("plan_r2000.dwg");
    Put32(wrap, 25 + 9 * 4 + 1, 0xFFFFFF00u);
    Put32(wrap, 25 + 9 * 4 + 5, 0x200u);
    EXPECT_EQ(StreamFile(dwg, wrap, 512, 1).size, 0x100000100LL);
    CRawFileInfo info;
    std::memcpy(old.data(), "AC1016", 6);
    EXPECT_EQ(dwg.AnalyseBuffer(old.data(), info), 0);
}

}  // namespace
