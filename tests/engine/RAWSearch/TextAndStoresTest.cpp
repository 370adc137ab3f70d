// Text documents (RTF, HTML in single bytes and UTF-16) and the stores sized
// by the zero fill after them or by their own records: password safes,
// music scores, key stores, mail folders, e-books.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Analysers/TextAnalysers.h"
#include "Analysers/ZeroTailAnalysers.h"
#include "CarveDriver.h"

namespace {

using namespace rawtest;

std::vector<uint8_t> Text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// ---------------------------------------------------------------------------
// RTF

TEST(Rtf, BraceWalkKeepsEscapedBraces) {
    FileRTFAnalyser whole;
    struct Case {
        const char* what;
        std::string text;
        long long size;  // -1: not sized
    };
    const std::vector<Case> cases = {
        {"plain", "{\\rtf1 {\\b a}{\\i b}}", 20},
        {"literal braces in the text", "{\\rtf1 open \\{ and close \\} and \\\\}", 35},
        {"a literal closing brace alone", "{\\rtf1 a \\} b}", 14},
        {"a literal opening brace alone", "{\\rtf1 a \\{ b}", 14},
        {"an escaped backslash before a brace", "{\\rtf1 {a\\\\}b}", 14},
        {"two top-level groups back to back", "{\\rtf1 a}{\\b tail}", 18},
        {"a zero byte inside", std::string("{\\rtf1 {a\0b}}", 13), -1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file = Text(c.text);
        EXPECT_EQ(WholeFileSize(whole, file, 'z', 2048), c.size) << c.what;
    }
    EXPECT_EQ(WholeFileSize(whole, Sample("letter.rtf"), 0), 6589 - 3)
        << "to the closing brace, without the line end and zero WordPad adds";
}

TEST(Rtf, StreamedToTheZeroAfterTheLastBrace) {
    RawSpeed::RTFAnalyser rtf;
    const std::vector<uint8_t> letter = Sample("letter.rtf");
    const Streamed s = StreamFile(rtf, letter);
    EXPECT_EQ(s.size, static_cast<long long>(letter.size()));
    EXPECT_EQ(s.name, "3-" + std::to_string(3 + (letter.size() - 1) / 512) + "_");
    // Cut off by the search: its whole-file partner takes it.
    std::unique_ptr<CRawFileInfo> info(rtf.CreateRawFileInfo());
    info->m_analyser = &rtf;
    info->WillBeRemove(nullptr, -1);
    EXPECT_EQ(info->m_analyser, &rtf.WholeFile());
}

// ---------------------------------------------------------------------------
// HTML

TEST(Html, Recognition) {
    RawSpeed::HTMLAnalyser html;
    FileUnicodeHTMAnalyser wide;
    auto utf16 = [](const std::string& s) {
        std::vector<uint8_t> v = {0xFF, 0xFE};
        for (char c : s) {
            v.push_back(static_cast<uint8_t>(c));
            v.push_back(0);
        }
        v.resize(512);
        return v;
    };
    auto text = [](const std::string& s) {
        std::vector<uint8_t> v = Text(s);
        v.resize(512);
        return v;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> sector;
        int html;
        int wide;
    };
    const std::vector<Case> cases = {
        {"upper-case tag", text("<HTML><BODY>"), 1, 0},
        {"lower-case tag", text("<html lang=en>"), 1, 0},
        {"lower-case doctype", text("<!doctype html>"), 1, 0},
        {"another tag", text("<head>"), 0, 0},
        {"UTF-8 with a byte-order mark", text("\xEF\xBB\xBF<html>"), 0, 0},
        {"UTF-16 doctype", utf16("<!DOCTYPE html>"), 1, 1},
        {"UTF-16 tag", utf16("<hTmL>"), 1, 1},
        {"UTF-16 tag with attributes", utf16("<html lang=en>"), 0, 1},
        {"UTF-16 other tag", utf16("<head>"), 0, 1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> sector = c.sector;
        CRawFileInfo info;
        EXPECT_EQ(html.AnalyseBuffer(sector.data(), info), c.html) << c.what;
        EXPECT_EQ(wide.AnalyseBuffer(sector.data(), info), c.wide) << c.what;
    }
}

TEST(Html, StreamedToTheZeroFill) {
    RawSpeed::HTMLAnalyser html;
    const std::vector<uint8_t> page = Sample("page.html");
    EXPECT_EQ(StreamFile(html, page).size, static_cast<long long>(page.size()));
    // A first sector that already ends in zeros does not end the page.
    std::vector<uint8_t> small = Text("<html><body>short</body></html>\n");
    const Streamed s = StreamFile(html, small, 512, 8, 0);
    EXPECT_EQ(s.endSector, 4);
    EXPECT_EQ(s.size, 512);
    // UTF-16 text ends on a whole code unit, though its last byte is zero.
    const std::vector<uint8_t> wide = Sample("wide.html");
    ASSERT_EQ(wide.back(), 0);
    EXPECT_EQ(StreamFile(html, wide).size, static_cast<long long>(wide.size()));
}

TEST(Html, WholeFileUtf16ByItsClosingTag) {
    FileUnicodeHTMAnalyser wide;
    auto utf16 = [](const std::string& s) {
        std::vector<uint8_t> v = {0xFF, 0xFE};
        for (char c : s) {
            v.push_back(static_cast<uint8_t>(c));
            v.push_back(0);
        }
        return v;
    };
    const std::vector<uint8_t> closed = utf16("<HTML><body>x</body></html>\r\n");
    EXPECT_EQ(WholeFileSize(wide, closed, 0x41), 2 + 2 * 20 + 16) << "16 bytes past the \"<\"";
    std::vector<uint8_t> open = utf16("<HTML><body>x");
    open.push_back(0);
    open.push_back(0);
    EXPECT_EQ(WholeFileSize(wide, open, 0x41), static_cast<long long>(open.size() - 2))
        << "ends at a zero unit";
    EXPECT_EQ(WholeFileSize(wide, utf16("<body>no tag</body>"), 0), -1);
}

// ---------------------------------------------------------------------------
// Stores sized by the zero fill after them

TEST(ZeroTail, StoresEndAfterTheirLastNonZeroByte) {
    struct Case {
        const char* what;
        std::function<IRawFileAnalyser*()> make;
        std::vector<uint8_t> file;
        RAW_FILE_TYPE type;
    };
    std::vector<uint8_t> shifted = Sample("vault.psafe3");
    shifted.insert(shifted.begin(), {'a', 'b', 'c'});
    shifted.resize(shifted.size() - 3);
    std::vector<uint8_t> lower = Sample("vault.psafe3");
    std::copy_n("pWs3", 4, lower.begin());
    const std::vector<Case> cases = {
        {"password safe", [] { return new RawSpeed::PSAFE3Analyser(); }, Sample("vault.psafe3"),
         RAW_PSAFE3},
        {"password safe, tag at 3", [] { return new RawSpeed::PSAFE3Analyser(); }, shifted,
         RAW_PSAFE3},
        {"password safe, tag in any case", [] { return new RawSpeed::PSAFE3Analyser(); }, lower,
         RAW_PSAFE3},
        {"music score", [] { return new RawSpeed::SIBAnalyser(); }, Sample("score.sib"), RAW_SIB},
        {"key store", [] { return new RawSpeed::JKSAnalyser(); }, Sample("keys.jks"), RAW_JKS},
        {"mail folder, offline head", [] { return new RawSpeed::DbxAnalyser(); },
         Sample("offline.dbx"), RAW_DBX},
    };
    for (const Case& c : cases) {
        std::unique_ptr<IRawFileAnalyser> analyser(c.make());
        for (int sectorSize : {512, 4096}) {
            const Streamed s = StreamFile(*analyser, c.file, sectorSize, 8);
            EXPECT_EQ(s.type, c.type) << c.what;
            EXPECT_EQ(s.size, static_cast<long long>(c.file.size())) << c.what << " " << sectorSize;
        }
    }
}

TEST(ZeroTail, Limits) {
    // A password safe under 20 bytes in its first sector goes on to the next
    // sector that ends in zeros.
    RawSpeed::PSAFE3Analyser safe;
    std::vector<uint8_t> tiny = Text("PWS3tiny");
    std::vector<uint8_t> next(512, 0);
    std::fill(next.begin(), next.begin() + 100, 0x42);
    std::vector<uint8_t> file = tiny;
    file.resize(512);
    file.insert(file.end(), next.begin(), next.end());
    EXPECT_EQ(StreamFile(safe, file).size, 512 + 100);
    // A key store with no zero fill within 10 MiB is cut at whole sectors
    // past it.
    RawSpeed::JKSAnalyser jks;
    std::vector<uint8_t> endless = {0xFE, 0xED, 0xFE, 0xED};
    const Streamed s = StreamFile(jks, endless, 512, 1024, 0x5C, 0xA00000 + 8192);
    EXPECT_EQ(s.size, 0xA00000 + 512);
    EXPECT_EQ(s.size % 512, 0);
}

TEST(ZeroTail, MailFoldersByTheirHeads) {
    RawSpeed::DbxAnalyser dbx;
    const std::vector<uint8_t> folder = Sample("folder.dbx");
    Streamed s = StreamFile(dbx, folder, 512, 8, 0x5C);
    EXPECT_EQ(s.size, static_cast<long long>(folder.size())) << "the length at byte 124";
    EXPECT_EQ(s.endSector, 3);
    EXPECT_EQ(s.name, "3-3_");
    std::vector<uint8_t> huge = folder;
    Put32(huge, 124, 500000001);
    EXPECT_EQ(StreamFile(dbx, huge, 512, 8, 0x5C).size, 0);
    const std::vector<uint8_t> offline = Sample("offline.dbx");
    s = StreamFile(dbx, offline);
    EXPECT_EQ(s.name, "3-" + std::to_string(3 + (offline.size() - 1) / 512) + ".")
        << "a full stop between the sector numbers";
    std::vector<uint8_t> jmf = Text("JMF6");
    jmf.insert(jmf.end(), {3, 0, 16, 0});
    CRawFileInfo info;
    jmf.resize(512);
    EXPECT_EQ(dbx.AnalyseBuffer(jmf.data(), info), 1);
    jmf[4] = 4;
    EXPECT_EQ(dbx.AnalyseBuffer(jmf.data(), info), 0);
}

// ---------------------------------------------------------------------------
// E-books

TEST(Mobi, RecordListToTheEndRecord) {
    RawSpeed::MOBIAnalyser mobi;
    const std::vector<uint8_t> book = Sample("book.mobi");
    for (int sectorSize : {512, 4096}) {
        const Streamed s = StreamFile(mobi, book, sectorSize, 8, 0x31);
        EXPECT_EQ(s.size, static_cast<long long>(book.size())) << sectorSize;
    }
    RawSpeed::FileMOBIAnalyser whole;
    EXPECT_EQ(WholeFileSize(whole, book, 0x31), static_cast<long long>(book.size()));
    // The last record is not the end record: the zero fill decides.
    std::vector<uint8_t> other = book;
    other[other.size() - 4] = 0x45;
    EXPECT_EQ(StreamFile(mobi, other, 512, 8, 0).size, static_cast<long long>(other.size()));
    EXPECT_EQ(WholeFileSize(whole, other, 0), static_cast<long long>(other.size()))
        << "the whole-file road does not look at it";
    // A list that points behind itself is no book for the walk.
    std::vector<uint8_t> backwards = book;
    Put32(backwards, 70 + 8 * 70, 10, false);
    EXPECT_EQ(WholeFileSize(whole, backwards), -1);
    EXPECT_EQ(StreamFile(mobi, backwards, 512, 8, 0x31).size, 0);
}

}  // namespace
