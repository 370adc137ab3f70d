// XML-headed files (SVG, GPX, property lists, note exports, citation
// styles), the binary SVG form, and the X3F and MRW camera raw containers:
// heads, ends split by sector boundaries, directories of any length, on
// both roads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Analysers/CameraRawAnalysers.h"
#include "Analysers/XmlHeadAnalysers.h"
#include "ByteReader.h"
#include "ScanImage.h"
#include "support/TestSupport.h"

namespace {

using Dunmere::FileSVGAnalyser;
using Dunmere::FileX3FAnalyser;
using Dunmere::SVGAnalyser;
using Dunmere::X3FAnalyser;
using rawtest::Carved;
using velmora::test::MemoryStorageDevice;

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

class XmlScan : public ::testing::Test {
protected:
    void TearDown() override { CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet(); }
};

TEST(XmlHead, TypesByRootElement) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";  // 39 bytes
    const struct {
        const char* what;
        std::string head;
        RAW_FILE_TYPE type;
    } cases[] = {
        {"track at 39", decl + "<gpx version=\"1.0\">", RAW_GPX},
        {"track at 57", decl + std::string(18, ' ') + "<gpx>", RAW_GPX},
        {"compressed track", "BCFZ\x01\x02", RAW_GPX},
        {"property list at 39", decl + "<!DOCTYPE plist PUBLIC>", RAW_PLIST},
        {"property list at 40", "<?XML version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!DOCTYPE plist>",
         RAW_PLIST},
        {"drawing", decl + "<!-- made -->\n<svg xmlns=\"x\">", RAW_SVG},
        {"drawing, root on its own line", decl + "<svg\n  width=\"1\">", RAW_SVG},
        {"drawing after a byte-order mark", "\xEF\xBB\xBF" + decl + "<svg width=\"1\">", RAW_SVG},
        {"note export", decl + "<en-export application=\"Evernote\">", RAW_ENEX},
        {"citation style", decl + "<style xmlns=\"http://purl.org/net/xbiblio/csl\">", RAW_CSL},
        {"binary drawing", std::string("\xCD\x01\x00\x00", 4), RAW_SVG},
        {"other XML", decl + "<html><body>", RAW_RAW},
        {"single quotes", "<?xml version='1.0'?>\n<svg width='1'>", RAW_RAW},
        {"root past 512 bytes", decl + std::string(480, ' ') + "<svg width=\"1\">", RAW_RAW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> sector(1024, 0);
        std::memcpy(sector.data(), c.head.data(), c.head.size());
        EXPECT_EQ(SVGAnalyser::TypeOfHead(sector.data()), c.type);
    }
}

// Each text file ends after its closing tag and the line end after it,
// also when a sector boundary splits the tag or falls right after it;
// the whole-file road agrees.
TEST_F(XmlScan, TextEndsAfterItsClosingTag) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    auto padded = [](std::string head, const std::string& tail, size_t length) {
        const std::string line = "  <item>carved text</item>\n";
        while (head.size() + tail.size() < length)
            head += line;
        head.resize(length - tail.size(), ' ');
        return head + tail;
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"track", padded(decl + "<gpx version=\"1.0\">\n", "</gpx>\n", 2000)},
        {"track, tag split by a sector end", padded(decl + "<gpx>\n", "</gpx>\n", 1024 + 4)},
        {"property list, CR LF", padded(decl + "<!DOCTYPE plist>\r\n", "</plist>\r\n", 3000)},
        {"property list ends a sector", padded(decl + "<!DOCTYPE plist>\n", "</plist>\n", 1536)},
        {"drawing", padded(decl + "<svg width=\"1\">\n", "</svg>\n", 2500)},
        {"drawing, tag split by a sector end",
         padded(decl + "<svg width=\"1\">\n", "</svg>\n", 2049)},
        {"note export",
         padded(decl + "<en-export application=\"Evernote\">\n", "</en-export>\n", 700)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image(32 * 1024, 0);
        rawtest::PutAt(image, 20, Bytes(c.text));
        const std::vector<Carved> carved = rawtest::ScanImage(image);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].start, 20);
        EXPECT_EQ(carved[0].size, static_cast<long long>(c.text.size()));

        MemoryStorageDevice disk(image, 512);
        FileSVGAnalyser whole;
        CRawFileInfo info;
        info.m_startSector = 20;
        info.m_type = SVGAnalyser::TypeOfHead(image.data() + 20 * 512);
        ASSERT_EQ(whole.GetRawFileSize(info, &disk), 1);
        EXPECT_EQ(info.m_size, static_cast<long long>(c.text.size()));
    }
}

// A drawing without an XML declaration starts with its root element and is
// carved as well.
TEST_F(XmlScan, DrawingWithoutDeclaration) {
    std::string text = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\">\n";
    while (text.size() < 1500)
        text += "  <path d=\"m 1 1 h 14 v 14 h -14 z\"/>\n";
    text += "</svg>\n";
    std::vector<uint8_t> image(16 * 1024, 0);
    rawtest::PutAt(image, 4, Bytes(text));
    const std::vector<Carved> carved = rawtest::ScanImage(image);
    const Carved* svg = rawtest::CarvedAt(carved, 4);
    ASSERT_NE(svg, nullptr);
    EXPECT_EQ(svg->size, static_cast<long long>(text.size()));
    EXPECT_EQ(svg->folder, "svg");
}

// The binary form is sized by the length at byte 1,100 on both roads.
TEST_F(XmlScan, BinaryDrawingSizedByItsHeader) {
    std::vector<uint8_t> file(5000, 0x41);
    std::memcpy(file.data(), "\xCD\x01\x00\x00", 4);
    const uint32_t after = 5000 - 1152;
    std::memcpy(file.data() + 1100, &after, 4);  // little-endian host
    std::vector<uint8_t> image(32 * 1024, 0x5A);
    rawtest::PutAt(image, 8, file);
    const std::vector<Carved> carved = rawtest::ScanImage(image);
    const Carved* svg = rawtest::CarvedAt(carved, 8);
    ASSERT_NE(svg, nullptr);
    EXPECT_EQ(svg->size, 5000);
    EXPECT_EQ(svg->name, "8-10_000.SVG");

    MemoryStorageDevice disk(image, 512);
    FileSVGAnalyser whole;
    CRawFileInfo info;
    info.m_startSector = 8;
    ASSERT_EQ(whole.GetRawFileSize(info, &disk), 1);
    EXPECT_EQ(info.m_size, 5000);
}

// An X3F picture: `sections` sections, its directory listing them, and the
// directory's offset last.
std::vector<uint8_t> Picture(size_t body, uint32_t sections) {
    std::vector<uint8_t> file(body, 0x33);
    std::memcpy(file.data(), "FOVb", 4);
    const uint32_t at = static_cast<uint32_t>(file.size());
    const std::string head = std::string("SECd") + std::string("\x00\x00\x02\x00", 4);
    file.insert(file.end(), head.begin(), head.end());
    for (int k = 0; k < 4; ++k)
        file.push_back(static_cast<uint8_t>(sections >> (8 * k)));
    for (uint32_t k = 0; k < sections; ++k) {
        const uint8_t entry[12] = {0x40, 0, 0, 0, 0x10, 0, 0, 0, 'I', 'M', 'A', '2'};
        file.insert(file.end(), entry, entry + 12);
    }
    for (int k = 0; k < 4; ++k)
        file.push_back(static_cast<uint8_t>(at >> (8 * k)));
    return file;
}

// The file ends with its directory whatever the number of sections, also
// when the directory begins in the sector before the one that ends it.
TEST_F(XmlScan, X3FEndsWithItsDirectory) {
    const struct {
        const char* what;
        std::vector<uint8_t> file;
    } cases[] = {
        {"five sections", Picture(3000, 5)},
        {"three sections", Picture(3000, 3)},
        {"nine sections", Picture(3000, 9)},
        {"directory split by a sector end", Picture(2048 - 6, 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image(32 * 1024, 0);
        rawtest::PutAt(image, 12, c.file);
        const std::vector<Carved> carved = rawtest::ScanImage(image);
        const Carved* x3f = rawtest::CarvedAt(carved, 12);
        ASSERT_NE(x3f, nullptr);
        EXPECT_EQ(x3f->size, static_cast<long long>(c.file.size()));

        MemoryStorageDevice disk(image, 512);
        FileX3FAnalyser whole;
        CRawFileInfo info;
        info.m_startSector = 12;
        ASSERT_EQ(whole.GetRawFileSize(info, &disk), 1);
        EXPECT_EQ(info.m_size, static_cast<long long>(c.file.size()));
    }
}

TEST(Mrw, SizedByTheRawDataAfterTheHeader) {
    const struct {
        const char* what;
        uint32_t blocks;
        uint16_t height, width;
        uint8_t bits;
        long long size;
    } cases[] = {
        {"packed 12-bit", 0xA1, 48, 64, 12, 0xA1 + 8 + 48 * 64 * 12 / 8},
        {"16-bit", 0x200, 2000, 3000, 16, 0x200 + 8 + 2000LL * 3000 * 2},
        {"largest fields", 0xFFFFFFFF, 0xFFFF, 0xFFFF, 0xFF,
         0xFFFFFFFFLL + 8 + 0xFFFFLL * 0xFFFF * 0xFF / 8},
        {"nothing in it", 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t sector[512] = {0x00, 'M', 'R', 'M'};
        vk::StoreBE<uint32_t>(sector + 4, c.blocks);
        vk::StoreBE<uint16_t>(sector + 24, c.height);
        vk::StoreBE<uint16_t>(sector + 26, c.width);
        sector[32] = c.bits;
        FileMRWAnalyser mrw;
        CRawFileInfo info;
        EXPECT_EQ(mrw.AnalyseBuffer(sector, info), c.size > 0 ? 1 : 0);
        EXPECT_EQ(info.m_size, c.size);
    }
}

}  // namespace
