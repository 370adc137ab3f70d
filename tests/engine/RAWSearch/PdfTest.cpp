// PDF and Illustrator files: the document information that names them, the
// "%%EOF" that ends them (and the ones that do not: linearized parts,
// incremental updates, embedded documents), both roads, and damaged files
// (no trailer, two back to back, offsets past the file).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Analysers/FilePDFAnalyser.h"
#include "Analysers/PdfAnalyzer.h"
#include "Analysers/PdfTitleAnalyzer.h"
#include "ScanImage.h"
#include "support/TestSupport.h"

namespace {

using BruteForce::PdfAnalyzer;
using BruteForce::PdfTitleAnalyzer;
using pdf_structure::After;
using rawtest::Carved;
using velmora::test::MemoryStorageDevice;

std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// A small document with an information dictionary and a trailer.
std::string Document(const std::string& info, const std::string& tail = "%%EOF\n") {
    std::string d =
        "%PDF-1.4\n1 0 obj\n<</Type/Catalog/Pages 2 0 R>>\nendobj\n"
        "2 0 obj\n<</Type/Pages/Kids[]/Count 0>>\nendobj\n3 0 obj\n" +
        info +
        "\nendobj\nxref\n0 4\n0000000000 65535 f \ntrailer\n<</Size 4/Root 1 0 R/Info 3 0 R>>\n"
        "startxref\n96\n" +
        tail;
    return d;
}

TEST(PdfInformation, KeysValuesAndTheirChecks) {
    const struct {
        const char* what;
        std::string dict;
        int answer;
        FileProperty want;
    } cases[] = {
        {"all six",
         "<</Producer(GPL "
         "Ghostscript)/CreationDate(D:20150601102030Z)/ModDate(D:20160229120000+01'00')"
         "/Title(Quarterly Report)/Author(Jane Writer)/Creator(Velmora Tests)>>",
         1,
         {"Quarterly Report", "GPL Ghostscript", "Velmora Tests", "Jane Writer",
          "2015-06-01 10-20-30", "2016-02-29 12-00-00"}},
        {"a title with a digit is not used",
         "<</Title(Report 2019)/Author(Ann Smith)/Creator(Writer)>>",
         1,
         {"", "", "Writer", "Ann Smith", "", ""}},
        {"one character is no author, two are",
         "<</Author(A)/Creator(Jo)>>",
         1,
         {"", "", "Jo", "", "", ""}},
        {"a date and nothing else", "<</CreationDate(D:19991231235959)>>", 0, {}},
        {"a date without its time zone, with an author",
         "<</CreationDate(D:19991231235959)/Author(Max)>>",
         1,
         {"", "", "", "Max", "1999-12-31 23-59-59", ""}},
        {"producer and title alone say nothing", "<</Producer(Tool)/Title(Notes)>>", 0, {}},
        {"cut to 25 bytes",
         "<</Author(An author whose name goes on and on)/Creator(Writer)>>",
         1,
         {"", "", "Writer", "An author whose name goes", "", ""}},
        {"UTF-16 with its byte-order mark",
         std::string("<</Author(\xFE\xFF\0J\0o)/Creator(Writer)>>", 35),
         1,
         {"", "", "Writer", "Jo", "", ""}},
        {"no closing parenthesis before the next key",
         "<</Author(Broken/Creator(Writer)>>",
         1,
         {"", "", "Writer", "", "", ""}},
        {"characters names cannot hold",
         "<</Author(Jane#Writer)/Creator(Tests: draft)>>",
         1,
         {"", "", "Tests_ draft", "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = Document(c.dict);
        FileProperty p;
        PdfTitleAnalyzer reader;
        std::vector<uint8_t> buffer(1024, 0);
        std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size()));
        EXPECT_EQ(reader.ObtainPerSecPDFInformation(buffer.data(), 512, true, p) != 0,
                  c.answer != 0);
        EXPECT_EQ(p.title, c.want.title);
        EXPECT_EQ(p.producer, c.want.producer);
        EXPECT_EQ(p.creator, c.want.creator);
        EXPECT_EQ(p.lastAuthor, c.want.lastAuthor);
        EXPECT_EQ(p.created, c.want.created);
        EXPECT_EQ(p.modified, c.want.modified);
    }
    // Bytes that are not text, and text without an object, are passed over.
    FileProperty p;
    PdfTitleAnalyzer reader;
    std::vector<uint8_t> binary(1024, 0x07);
    EXPECT_EQ(reader.ObtainPerSecPDFInformation(binary.data(), 512, true, p), 0);
    const std::string noObject = "<</Author(Jane)/Creator(Writer)>>";
    std::vector<uint8_t> plain(noObject.begin(), noObject.end());
    EXPECT_EQ(
        reader.ObtainPerSecPDFInformation(plain.data(), static_cast<int>(plain.size()), false, p),
        0);
    EXPECT_TRUE(p.Empty());
}

TEST(PdfInformation, FindsTheFirstWholeKeyWithinTheLength) {
    const struct {
        std::string text;
        int length;  // of the text searched; -1: all of it
        int offset;  // -1: not found
    } cases[] = {
        {"obj", -1, 0},
        {"1 0 obj", -1, 4},
        {"ob ob obj obj", -1, 6},  // first bytes that lead nowhere first
        {"oobj", -1, 1},
        {"1 0 ob", -1, -1},  // cut at the end
        {"1 0 obj", 6, -1},  // the key runs past the length
        {"1 0 obj", 7, 4},
        {"o", -1, -1},
        {"", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const int length = c.length < 0 ? static_cast<int>(c.text.size()) : c.length;
        int offset = 99;
        const char* found = PdfTitleAnalyzer::myStrstr(c.text.data(), length, "obj", 3, offset);
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(found, c.offset < 0 ? nullptr : c.text.data() + c.offset);
    }
}

TEST(PdfEnd, WhatFollowsTheEndMarker) {
    const struct {
        std::string bytes;
        After after;
        size_t end;
    } cases[] = {
        {std::string("%%EOF\n\0\0\0\0\0\0\0", 13), After::End, 6},
        {std::string("%%EOF\r\n\0\0\0\0\0\0", 13), After::End, 7},
        {"%%EOF\x9c\x13\xf0\x81junk", After::End, 5},
        {"%%EOF\r\n1 0 obj\n<<", After::More, 7},   // the rest of a linearized file
        {"%%EOF\n  \r\n12 0 obj", After::More, 6},  // an incremental update
        {"%%EOF\nxref\n0 1", After::More, 6},
        {"%%EOF\nendstream\nendobj", After::More, 6},  // a PDF inside a stream
        {"%%EOF\n% a comment\n", After::More, 6},
        {"%%EOF\n%PDF-1.5\n", After::End, 6},  // the next document
        {"%%EOF\n12 0 R", After::End, 6},
        {"%%EOF\n12 0 o", After::Open, 6},
        {"%%EOF\r", After::Open, 0},
        {"%%EOF", After::Open, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        size_t end = 0;
        const auto* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(pdf_structure::AfterEof(data, c.bytes.size(), 0, &end), c.after);
        if (c.after != After::Open || c.end != 0) {
            EXPECT_EQ(end, c.end);
        }
    }
}

TEST(Pdf, RecognisesPdfAndIllustratorButNotEps) {
    const struct {
        std::string head;
        int pdf;
    } cases[] = {
        {"%PDF-1.7\n", 1},
        {"%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 16.0\n", 1},
        {"%!PS-Adobe-3.0 EPSF-3.0\n%%Creator: Adobe Illustrator(R) 16.0\n", 0},
        {"%!PS-Adobe-3.0\n%%Creator: pnmtops\n", 0},
        {"%!PS\n", 0},
    };
    for (const auto& c : cases) {
        unsigned char sector[512] = {};
        std::memcpy(sector, c.head.data(), c.head.size());
        PdfAnalyzer streaming;
        FilePDFAnalyser whole;
        CRawFileInfo info;
        EXPECT_EQ(streaming.AnalyseBuffer(sector, info), c.pdf) << c.head;
        EXPECT_EQ(whole.AnalyseBuffer(sector, info), c.pdf) << c.head;
    }
}

// The whole-file road ends every sample where the stream does, whatever
// follows it, and types Illustrator's PostScript as AI.
TEST(Pdf, WholeFileRoadEndsEverySampleExactly) {
    for (const char* name : {"report.pdf", "paper.pdf", "plain.pdf", "art.ai", "linear.pdf",
                             "updated.pdf", "eof_text.pdf"}) {
        std::vector<uint8_t> image = Sample(name);
        ASSERT_FALSE(image.empty()) << name;
        const size_t length = image.size();
        image.resize((length + 511) / 512 * 512 + 4096, 0x5A);
        MemoryStorageDevice disk(image, 512);
        FilePDFAnalyser sizer;
        CRawFileInfo info;
        ASSERT_EQ(sizer.GetRawFileSize(info, &disk), 1) << name;
        EXPECT_EQ(info.m_size, static_cast<long long>(length)) << name;
    }
}

// The streaming candidate itself, fed one sector after another: it ends at
// the "%%EOF" of a small document at once, however short the document.
TEST(Pdf, ShortDocumentEndsWhileStreaming) {
    std::vector<uint8_t> image = Sample("report.pdf");
    const size_t length = image.size();
    image.resize(64 * 512, 0);
    PdfAnalyzer analyser;
    PdfAnalyzer::PdfRawFileInfo candidate(&analyser);
    candidate.m_analyser = &analyser;
    candidate.m_startSector = 10;
    CRawFileInfo::SearchContext context;
    context.windowFirstSector = 10;
    context.windowEndSector = 74;
    int answer = 2;
    long long sector = 10;
    for (; sector < 74 && answer != 1; ++sector)
        answer = candidate.CalcRawSize(image.data() + (sector - 10) * 512, 512, sector, context);
    ASSERT_EQ(answer, 1);
    EXPECT_EQ(candidate.m_size, static_cast<long long>(length));
    EXPECT_LE(sector - 10, static_cast<long long>(length / 512 + 1));
}

// A candidate that streams beyond 200,000,000 bytes is no document: it is
// dropped, not handed to the whole-file sizer.
TEST(Pdf, CandidateRunningPast200MillionBytesIsDropped) {
    std::vector<uint8_t> sector(512, 'x');
    std::memcpy(sector.data(), "%PDF-1.4\n", 9);
    PdfAnalyzer analyser;
    PdfAnalyzer::PdfRawFileInfo candidate(&analyser);
    candidate.m_analyser = &analyser;
    candidate.m_startSector = 0;
    CRawFileInfo::SearchContext context;
    context.windowFirstSector = 0;
    context.windowEndSector = 1;
    EXPECT_EQ(candidate.CalcRawSize(sector.data(), 512, 0, context), 2);
    const long long far = PdfAnalyzer::PdfRawFileInfo::kMaxLength / 512 + 1;
    context.windowFirstSector = far;
    context.windowEndSector = far + 1;
    std::fill(sector.begin(), sector.end(), 'x');
    EXPECT_EQ(candidate.CalcRawSize(sector.data(), 512, far, context), 1);
    EXPECT_EQ(candidate.m_size, 0);
    EXPECT_EQ(candidate.m_analyser, nullptr);
}

class PdfScan : public ::testing::Test {
protected:
    void TearDown() override { CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet(); }
};

// Two documents back to back: with trailers each ends at its own; without,
// the first ends where the second begins, on both roads.
TEST_F(PdfScan, TwoDocumentsBackToBack) {
    const std::string withTrailer = Document("<</Author(Jane Writer)/Creator(Tests)>>");
    const std::string noTrailer =
        "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\n" + std::string(700, 'q');
    for (bool trailer : {true, false}) {
        SCOPED_TRACE(trailer);
        const std::string first = trailer ? withTrailer : noTrailer;
        const long long second = 100 + static_cast<long long>((first.size() + 511) / 512);
        std::vector<uint8_t> image(256 * 1024, 0);
        rawtest::PutAt(image, 100, Bytes(first));
        rawtest::PutAt(image, second, Bytes(withTrailer));
        const std::vector<Carved> carved = rawtest::ScanImage(image);
        const Carved* a = rawtest::CarvedAt(carved, 100);
        const Carved* b = rawtest::CarvedAt(carved, second);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(a->size, trailer ? static_cast<long long>(first.size()) : (second - 100) * 512);
        EXPECT_EQ(b->size, static_cast<long long>(withTrailer.size()));

        MemoryStorageDevice disk(image, 512);
        FilePDFAnalyser sizer;
        CRawFileInfo info;
        info.m_startSector = 100;
        ASSERT_EQ(sizer.GetRawFileSize(info, &disk), 1);
        EXPECT_EQ(info.m_size, a->size);
    }
}

// Offsets inside the document do not decide its end; a document without a
// trailer that runs to the device's end keeps what the device holds.
TEST_F(PdfScan, DamagedTrailers) {
    std::string pastTheFile = Document("<</Author(Jane Writer)/Creator(Tests)>>");
    pastTheFile.replace(pastTheFile.find("startxref\n96"), 12, "startxref\n99999999");
    const std::string unfinished =
        "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\n" + std::string(900, 'w');
    std::vector<uint8_t> image(128 * 1024, 0);
    rawtest::PutAt(image, 10, Bytes(pastTheFile));
    rawtest::PutAt(image, 240, Bytes(unfinished));
    image.resize(240 * 512 + unfinished.size() + 300);  // the device ends in the document's slack
    const std::vector<Carved> carved = rawtest::ScanImage(image);
    const Carved* a = rawtest::CarvedAt(carved, 10);
    const Carved* b = rawtest::CarvedAt(carved, 240);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->size, static_cast<long long>(pastTheFile.size()));
    EXPECT_EQ(b->size, static_cast<long long>((image.size() + 511) / 512 * 512) - 240 * 512);
}

// A document whose first sector ends the search's block is named and typed
// all the same: its information is read once the next block is in.
TEST_F(PdfScan, InformationAcrossABlockEnd) {
    std::vector<uint8_t> image(64 * 1024, 0);
    rawtest::PutAt(image, 63, Sample("report.pdf"));
    rawtest::PutAt(image, 127, Sample("art.ai"));
    const std::vector<Carved> carved = rawtest::ScanImage(image, 512, 64);
    const Carved* report = rawtest::CarvedAt(carved, 63);
    const Carved* art = rawtest::CarvedAt(carved, 127);
    ASSERT_NE(report, nullptr);
    ASSERT_NE(art, nullptr);
    EXPECT_EQ(report->name, "Quarterly Report2016-02-29 12-00-00000.PDF");
    EXPECT_EQ(report->folder, "PDF/Jane Writer");
    EXPECT_EQ(art->name, "Ivy Drawer2013-04-05 06-07-08000.AI");
    EXPECT_EQ(art->folder, "AI/Ivy Drawer");
}

// The end line found wherever it falls: on either side of a sector's end or
// of the search's block, after stream bytes full of '%' and an end line that
// more of the document follows.
TEST_F(PdfScan, EndLineAtEveryOffsetAroundSectorAndBlockEnds) {
    const std::string head = Document("<</Author(Jane Writer)>>", "%%EOF\n4 0 obj\n<<>>\nendobj\n");
    std::string filler;
    for (int i = 0; filler.size() < 40000; ++i)
        filler += i % 3 == 0 ? "%%EO%" : (i % 3 == 1 ? "x%%EOFy" : "% %\r");
    // Sector 10 begins the document; sector 64 begins the second block.
    const long long starts[] = {2 * 512, 54 * 512};
    for (long long edge : starts) {
        for (long long shift = -7; shift <= 2; ++shift) {
            const size_t before = static_cast<size_t>(edge + shift) - head.size() - 1;
            const std::string doc = head + filler.substr(0, before) + "\n%%EOF\n";
            std::vector<uint8_t> image(256 * 1024, 0);
            rawtest::PutAt(image, 10, Bytes(doc));
            const std::vector<Carved> carved = rawtest::ScanImage(image, 512, 64);
            const Carved* c = rawtest::CarvedAt(carved, 10);
            ASSERT_NE(c, nullptr) << edge << " " << shift;
            EXPECT_EQ(c->size, static_cast<long long>(doc.size())) << edge << " " << shift;
        }
    }
}

}  // namespace
