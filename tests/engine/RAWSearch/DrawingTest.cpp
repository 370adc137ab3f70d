// Drawings: PostScript and EPS (text ended by the zero fill after it, or
// the binary form sized by its header), FreeHand 11 documents, on both
// roads; the end of the zero fill where it falls on a sector's edge, the
// device's end, and damaged binary headers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Analysers/DrawingAnalysers.h"
#include "ScanImage.h"
#include "support/TestSupport.h"

namespace {

using BruteForce::CDXFAnalyser;
using BruteForce::CEPSAnalyser;
using BruteForce::CFH11Analyser;
using rawtest::Carved;
using velmora::test::MemoryStorageDevice;

std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

// Text without zero bytes, `length` long, starting as PostScript.
std::vector<uint8_t> PostScript(size_t length) {
    std::string text = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n";
    while (text.size() < length)
        text += "newpath 1 1 moveto 9 9 lineto stroke\n";
    text.resize(length);
    text.back() = '\n';
    return {text.begin(), text.end()};
}

class DrawingScan : public ::testing::Test {
protected:
    void TearDown() override { CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet(); }
};

// A text file ends after its last non-zero byte: inside a sector, at a
// sector's end, a few zero bytes short of one (the next sector all zero),
// and where the device ends inside it. The whole-file road agrees. Sized
// while streaming, it is named by its first sector and the one where its
// end was seen.
TEST_F(DrawingScan, TextEndsWhereTheZeroFillBegins) {
    const struct {
        const char* what;
        size_t length;
        bool deviceEnds;
        const char* name;
    } cases[] = {
        {"inside a sector", 3000, false, "40-45_000.EPS"},
        {"at a sector's end", 4096, false, "40-48_000.EPS"},
        {"two bytes short of a sector's end", 4094, false, "40-48_000.EPS"},
        {"one sector", 200, false, "40-40_000.EPS"},
        {"cut by the device's end", 6144, true, "40-47_000.EPS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image(64 * 1024, 0);
        rawtest::PutAt(image, 40, PostScript(c.length));
        if (c.deviceEnds)
            image.resize(40 * 512 + 4096);
        const std::vector<Carved> carved = rawtest::ScanImage(image);
        const Carved* eps = rawtest::CarvedAt(carved, 40);
        ASSERT_NE(eps, nullptr);
        const long long want = c.deviceEnds ? 4096 : static_cast<long long>(c.length);
        EXPECT_EQ(eps->size, want);
        EXPECT_EQ(eps->name, c.name);

        MemoryStorageDevice disk(image, 512);
        CEPSAnalyser analyser;
        CRawFileInfo info;
        info.m_startSector = 40;
        ASSERT_EQ(analyser.GetRawFileSize(info, &disk), 1);
        EXPECT_EQ(info.m_size, want);
    }
}

// Real files, each followed by zero fill or by the next file's head,
// come back whole on both roads.
TEST_F(DrawingScan, SamplesOnBothRoads) {
    const struct {
        const char* file;
        const char* name;
    } cases[] = {
        {"figure.eps", "8-{end}_000.EPS"},
        {"photo.eps", "8-{end}_000.EPS"},
        {"binary.eps", "FILE000.EPS"},  // sized by its header
        {"flyer.fh11", "8-{end}_000.FH11"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> bytes = Sample(c.file);
        std::vector<uint8_t> image(8 * 512, 0);
        rawtest::PutAt(image, 8, bytes);
        image.resize(image.size() + 4096);
        const std::vector<Carved> carved = rawtest::ScanImage(image);
        const Carved* got = rawtest::CarvedAt(carved, 8);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->size, static_cast<long long>(bytes.size()));
        // The end is seen in the sector that closes with zero fill.
        const long long last = 8 + static_cast<long long>(bytes.size() - 1) / 512;
        const bool closes = (512 - bytes.size() % 512) % 512 >=
                            static_cast<size_t>(BruteForce::ZeroEndRawFileInfo::kZeroWord);
        std::string name = c.name;
        if (const size_t at = name.find("{end}"); at != std::string::npos)
            name.replace(at, 5, std::to_string(closes ? last : last + 1));
        EXPECT_EQ(got->name, name);

        MemoryStorageDevice disk(image, 512);
        CRawFileInfo info;
        info.m_startSector = 8;
        std::unique_ptr<IRawFileAnalyser> analyser;
        if (std::string(c.file).find("fh11") != std::string::npos)
            analyser = std::make_unique<CFH11Analyser>();
        else
            analyser = std::make_unique<CEPSAnalyser>();
        ASSERT_EQ(analyser->AnalyseBuffer(image.data() + 8 * 512, info), 1);
        if (info.m_size == 0) {
            ASSERT_EQ(analyser->GetRawFileSize(info, &disk), 1);
        }
        EXPECT_EQ(info.m_size, static_cast<long long>(bytes.size()));
    }
}

// The binary header: the furthest section ends the file; a header whose
// sections point into it, or without PostScript, is not one.
TEST(Eps, BinaryHeader) {
    const struct {
        const char* what;
        uint32_t fields[6];  // PostScript, metafile, TIFF: offset and length
        long long size;
    } cases[] = {
        {"PostScript only", {30, 1000, 0, 0, 0, 0}, 1030},
        {"TIFF preview last", {30, 1000, 0, 0, 1030, 500}, 1530},
        {"metafile after the TIFF", {30, 1000, 2000, 300, 1030, 500}, 2300},
        {"largest offsets", {30, 0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF}, 0x1FFFFFFFELL},
        {"no PostScript", {30, 0, 0, 0, 30, 500}, 0},
        {"a section inside the header", {30, 1000, 0, 0, 12, 500}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unsigned char sector[512] = {0xC5, 0xD0, 0xD3, 0xC6};
        for (int k = 0; k < 6; ++k)
            std::memcpy(sector + 4 + 4 * k, &c.fields[k], 4);  // little-endian host
        CEPSAnalyser eps;
        CRawFileInfo info;
        EXPECT_EQ(CEPSAnalyser::BinarySize(sector), c.size);
        EXPECT_EQ(eps.AnalyseBuffer(sector, info), c.size > 0 ? 1 : 0);
        if (c.size > 0) {
            EXPECT_EQ(info.m_size, c.size);
            EXPECT_EQ(info.m_type, RAW_EPS);
        }
    }
}

TEST(Eps, HeadsOfPostScriptAndFreeHand) {
    const std::vector<uint8_t> fh11 = Sample("flyer.fh11");
    const struct {
        std::string head;
        int eps, fh11;
    } cases[] = {
        {"%!PS-Adobe-3.0 EPSF-3.0\n", 1, 0},
        {"%!PS-Adobe-2.0\n", 1, 0},
        {"%!PS\n", 0, 0},
        {std::string(fh11.begin(), fh11.begin() + 64), 0, 1},
        {std::string(fh11.begin(), fh11.begin() + 34) + "10", 0, 0},
        {std::string(fh11.begin(), fh11.begin() + 15) + "\x02", 0, 0},
    };
    for (const auto& c : cases) {
        unsigned char sector[512] = {};
        std::memcpy(sector, c.head.data(), c.head.size());
        CEPSAnalyser eps;
        CFH11Analyser freehand;
        CRawFileInfo info;
        EXPECT_EQ(eps.AnalyseBuffer(sector, info), c.eps);
        EXPECT_EQ(freehand.AnalyseBuffer(sector, info), c.fh11);
        if (c.fh11 != 0) {
            EXPECT_EQ(info.m_type, RAW_FH11);
        }
    }
}

// A DXF drawing of `length` bytes in the given line ends, opened by a
// comment line or not; its EOF group is its last bytes.
std::vector<uint8_t> Drawing(size_t length, bool crlf, bool comment) {
    const std::string eol = crlf ? "\r\n" : "\n";
    std::string text = comment ? "999" + eol + "made for a test" + eol : "";
    text += "  0" + eol + "SECTION" + eol + "  2" + eol + "ENTITIES" + eol;
    const std::string end = "  0" + eol + "ENDSEC" + eol + "  0" + eol + "EOF" + eol;
    const std::string line = "  0" + eol + "LINE" + eol + " 10" + eol + "1.5" + eol;
    while (text.size() + end.size() < length)
        text += line;
    text.resize(length - end.size(), ' ');
    text += end;
    return {text.begin(), text.end()};
}

// The EOF group ends the drawing wherever it falls: inside a sector, at
// its end, and split by a sector boundary (found with the sector before);
// a SECTION group that starts a sector inside the drawing starts no file of
// its own; without an EOF group the device's end ends it. Both roads.
TEST_F(DrawingScan, DxfEndsAtItsEofGroup) {
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        long long size;  // 0: the whole drawing
        bool deviceEnds;
    } cases[] = {
        {"line feeds after a comment", Drawing(3000, false, true), 0, false},
        {"carriage returns", Drawing(3000, true, false), 0, false},
        {"group ends a sector", Drawing(4096, true, false), 0, false},
        {"group split by a sector end", Drawing(4096 + 4, false, true), 0, false},
        {"group split, carriage returns", Drawing(2048 + 6, true, false), 0, false},
        {"no EOF group", Drawing(6000, false, true), 4608, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = c.bytes;
        if (c.deviceEnds)
            bytes.resize(bytes.size() - 10);
        // A SECTION group at the start of the drawing's third sector.
        const std::string eol = bytes[3] == '\n' ? "\n" : "\r\n";
        const std::string section = "  0" + eol + "SECTION" + eol + "  2" + eol + "BLOCKS" + eol;
        std::copy(section.begin(), section.end(), bytes.begin() + 1024);
        std::vector<uint8_t> image(64 * 1024, 0);
        rawtest::PutAt(image, 30, bytes);
        if (c.deviceEnds)
            image.resize(30 * 512 + 4608);
        const long long want = c.size != 0 ? c.size : static_cast<long long>(bytes.size());
        const std::vector<Carved> carved = rawtest::ScanImage(image);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].start, 30);
        EXPECT_EQ(carved[0].size, want);
        // Named by the sector that holds the end of its EOF group, or the
        // device's last one.
        const long long end = c.deviceEnds ? 30 + 4608 / 512 - 1 : 30 + (want - 1) / 512;
        EXPECT_EQ(carved[0].name, "30-" + std::to_string(end) + "_000.DXF");

        MemoryStorageDevice disk(image, 512);
        CDXFAnalyser analyser;
        CRawFileInfo info;
        info.m_startSector = 30;
        ASSERT_EQ(analyser.GetRawFileSize(info, &disk), 1);
        EXPECT_EQ(info.m_size, want);
    }
}

// The head: a SECTION group at the start, or after a comment line, also
// when the group runs past the first sector (the look-ahead) or starts
// after a long comment.
TEST(Dxf, Heads) {
    const std::string longComment = "999\n" + std::string(500, 'c') + "\n  0\nSECTION\n  2\n";
    const struct {
        const char* what;
        std::string head;
        int plain;  // the first sector alone
        int ahead;  // with the sector after it
    } cases[] = {
        {"carriage returns", "  0\r\nSECTION\r\n  2\r\nHEADER\r\n", 1, 1},
        {"comment, line feeds", "999\nezdxf\n  0\nSECTION\n  2\nHEADER\n", 1, 1},
        {"comment, carriage returns", "999\r\nx\r\n  0\r\nSECTION\r\n  2\r\n", 1, 1},
        {"group past the first sector", longComment, 0, 1},
        {"line feeds, no comment", "  0\nSECTION\n  2\nHEADER\n", 0, 0},
        {"comment, no section", "999\nnothing here\n", 0, 0},
        {"comment with a space for a line end", "999 \n  0\nSECTION\n  2\n", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> sectors(1024, 0);
        std::copy(c.head.begin(), c.head.end(), sectors.begin());
        CDXFAnalyser dxf;
        CRawFileInfo info;
        EXPECT_EQ(dxf.AnalyseBuffer(sectors.data(), info), c.plain);
        EXPECT_EQ(dxf.AnalyseBufferEx(sectors.data(), info, 512, 7, 0, 9), c.ahead);
        EXPECT_EQ(dxf.AnalyseBufferEx(sectors.data(), info, 512, 7, 0, 8), c.plain);
    }
}

}  // namespace
