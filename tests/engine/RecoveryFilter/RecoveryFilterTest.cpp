#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "RecoveryFilter.h"
#include "support/TestNode.h"
#include "support/TestSupport.h"

namespace {

std::map<int, std::string> Lists(const char* docs, const char* pics, const char* movies,
                                 const char* music, const char* archives, const char* mail) {
    return {{1, docs}, {2, pics}, {4, movies}, {8, music}, {16, archives}, {32, mail}};
}

// A filter over the given category texts.
struct Filter {
    explicit Filter(std::map<int, std::string> lists) {
        CFileTypeManager::Initialze(lists);
        filter = std::make_unique<CRecoveryFilter>();
    }
    int Valid(const char* name, bool dir = false) {
        TestNode n(1, 0, name, dir);
        return filter->IsFileNodeValid(&n);
    }
    unsigned Category(const char* name) {
        TestNode n(1, 0, name);
        return filter->GetNodeFileType(&n);
    }
    std::unique_ptr<CRecoveryFilter> filter;
};

TEST(RecoveryFilter, MasksSelectCategoriesWhateverTheCase) {
    Filter f(Lists("doc;pdf", "jpg;PNG", "mov", "mp3", "zip", "pst"));
    struct Case {
        unsigned mask;
        const char* name;
        int expected;
    } cases[] = {
        {127, "a.exe", 1},
        {127, "README", 1},
        {0, "a.exe", 1},
        {2, "IMG_1.JPG", 1},
        {2, "img.JpG", 1},
        {2, "shot.png", 1},
        {2, "song.mp3", 0},
        {2, "README", 0},
        {2, "a.jpg.txt", 0},
        {0x42, "README", 1},
        {0x40, "a.exe", 1},
        {0x40, "a.jpg", 0},
        {1, "Report.PDF", 1},
        {4, "clip.MOV", 1},
        {8, "clip.mov", 0},
        {8, "Track.Mp3", 1},
        {0x10, "x.ZIP", 1},
        {0x20, "box.PST", 1},
        {0x21, "a.doc", 1},
        {0x21, "a.pst", 1},
        {0x21, "a.zip", 0},
        {2, "\xD1\x84\xD0\xB0.\xD0\xB9\xD0\xBF", 0},
        {0x40, "\xD1\x84.\xFF\x80", 1},
    };
    for (const Case& c : cases) {
        f.filter->SetFilterTypes(c.mask);
        EXPECT_EQ(f.Valid(c.name), c.expected) << c.name << " mask " << c.mask;
    }
    f.filter->SetFilterTypes(2);
    EXPECT_EQ(f.Valid("folder.mp3", true), 1) << "folders always pass";
    EXPECT_EQ(f.Valid("plain folder", true), 1);
    EXPECT_EQ(f.filter->IsFileNodeValid(nullptr), 0);
    EXPECT_EQ(f.filter->GetFilterTypes(), 2u);
}

TEST(RecoveryFilter, CategoryBitsOfNodes) {
    Filter f(Lists("doc", "jpg", "mov", "mp3", "zip", "pst"));
    EXPECT_EQ(f.Category("a.doc"), 1u);
    EXPECT_EQ(f.Category("a.JPG"), 2u);
    EXPECT_EQ(f.Category("a.mov"), 4u) << "movie";
    EXPECT_EQ(f.Category("a.mp3"), 8u) << "music";
    EXPECT_EQ(f.Category("a.zip"), 16u);
    EXPECT_EQ(f.Category("a.pst"), 32u);
    EXPECT_EQ(f.Category("a.exe"), 64u);
    EXPECT_EQ(f.Category("noext"), 64u);
    EXPECT_EQ(f.Category("a."), 64u);
    EXPECT_EQ(f.filter->GetNodeFileType(nullptr), 64u);
}

TEST(RecoveryFilter, EmptyPieceMatchesANameEndingInADot) {
    Filter with(Lists("doc;", "", "", "", "", ""));
    EXPECT_EQ(with.Category("draft."), 1u);
    Filter without(Lists("doc", "", "", "", "", ""));
    EXPECT_EQ(without.Category("draft."), 64u);
}

TEST(RecoveryFilter, FirstInsertedCategoryWins) {
    // Pictures go into the table before documents.
    Filter f(Lists("tif", "tif", "", "", "", ""));
    EXPECT_EQ(f.Category("scan.tif"), 2u);
}

TEST(RecoveryFilter, ScanTypeDecidesWhetherLiveFilesShow) {
    Filter f(Lists("", "", "", "", "", ""));
    EXPECT_EQ(f.filter->ShowNormalFiles(), 0);
    f.filter->SetScanType(SCAN_COMPLETE);
    EXPECT_NE(f.filter->ShowNormalFiles(), 0);
    f.filter->SetScanType(SCAN_QUICK);
    EXPECT_EQ(f.filter->ShowNormalFiles(), 0);
}

TEST(KeHashTable, FillsUpAndStaysFindable) {
    CKeHashTable<int, 2048> table;
    for (int i = 0; i < 2048; ++i)
        ASSERT_TRUE(table.Insert(("e" + std::to_string(i)).c_str(), i)) << i;
    EXPECT_FALSE(table.Insert("one.more", 1)) << "a full table refuses";
    for (int i = 0; i < 2048; i += 97) {
        const int* v = table.Find(("E" + std::to_string(i)).c_str());
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(*v, i);
    }
    EXPECT_EQ(table.Find("missing"), nullptr);
    EXPECT_EQ(table.Find(nullptr), nullptr);
    EXPECT_EQ(table.Hash("jpg", 0), table.Hash("JPG", 0));
    EXPECT_NE(table.Hash("jpg", 1), table.Hash("jpg", 2));
}

// The program's own list puts every carved type into its category.
TEST(FileTypeList, ShippedListCoversCarvedTypes) {
    std::map<int, std::string> lists;
    ASSERT_TRUE(CFileTypeManager::LoadFileTypeList(
        velmora::test::SourceDir() + "/resources/FileType.plist", lists));
    ASSERT_EQ(lists.size(), 6u);
    Filter f(lists);
    const std::map<unsigned, std::set<std::string>> expected = {
        {1, {"DOC",     "DOCX", "XLS", "XLSX", "PPT",  "PPTX",  "PDF", "RTF",   "HTM",
             "WPD",     "PUB",  "VSD", "MPP",  "MDB",  "ACCDB", "ONE", "PAGES", "KEY",
             "NUMBERS", "ODT",  "ODS", "ODP",  "EPUB", "MOBI",  "IBA", "INDD",  "QPW",
             "SHW",     "CHM",  "HLP", "MNY",  "ADP",  "MUSE",  "TAX", "ENEX"}},
        {2, {"JPG", "PNG", "GIF", "BMP", "TIF", "PSD", "PSP", "ICO", "CUR", "ANI",  "icns",
             "EMF", "WMF", "CDR", "CMX", "CPT", "AI",  "EPS", "SVG", "WPG", "FH11", "SKETCH",
             "CRW", "CR2", "NEF", "NRW", "SR2", "ARW", "RAW", "RW2", "DNG", "RAF",  "DCR",
             "KDC", "3FR", "ERF", "MEF", "MRW", "MDC", "PEF", "PTX", "SRW", "ORF",  "X3F"}},
        {4, {"3GP",  "ASF", "WMV", "AVI",  "MOV", "MP4", "M4V", "FLV", "SWF",      "RM",
             "RMVB", "MKV", "MPG", "M2TS", "MXF", "MLV", "AAF", "AEP", "FCPEVENT", "TREC"}},
        {8,
         {"WMA", "AU", "MID", "MP3", "M4A", "WAV", "AAC", "AIFF", "APE", "OGG", "NGRR", "SIB",
          "ITL"}},
        {16, {"CAB", "GZ", "LZH", "RAR", "ZIP", "TAR", "SIT", "SITX", "DMG", "pkg", "IPA"}},
        {32, {"DBX", "PST", "EMLX", "OLM", "MBOX", "ABCDDB"}},
        {64,
         {"TTF", "DLL", "EXE", "OLE", "MOF", "MAX", "3DS", "DWG", "DXF", "IPT", "CLK", "CSL",
          "RIFF", "PLIST", "GPX", "JKS", "PSAFE3"}},
    };
    size_t total = 0;
    for (const auto& [bit, names] : expected) {
        for (const std::string& name : names) {
            EXPECT_EQ(f.Category(("FILE001." + name).c_str()), bit) << name;
            ++total;
        }
    }
    // 147 type names, of which "Raw" (untyped) and "RAW" (camera raw) are one
    // extension to a case-blind table.
    EXPECT_EQ(total, 146u) << "every carved type name is listed once";
    // Extensions are stored lower case, and none sits in two categories.
    std::set<std::string> seen;
    for (const auto& [bit, text] : lists) {
        size_t begin = 0;
        while (begin <= text.size()) {
            size_t end = text.find(';', begin);
            if (end == std::string::npos)
                end = text.size();
            const std::string ext = text.substr(begin, end - begin);
            EXPECT_FALSE(ext.empty()) << bit;
            for (char c : ext)
                EXPECT_FALSE(c >= 'A' && c <= 'Z') << ext;
            EXPECT_TRUE(seen.insert(ext).second) << ext << " twice";
            begin = end + 1;
        }
    }
}

TEST(FileTypeList, DamagedListsAreRefused) {
    velmora::test::TempDir dir;
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"empty.plist", ""},
        {"garbage.plist", "\x01\x02not a list at all"},
        {"array.plist",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>"},
        {"truncated.plist",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>1</key><array><string>do"},
    };
    for (const auto& c : cases) {
        velmora::test::WriteFile(dir / c.name, std::string(c.text));
        std::map<int, std::string> lists;
        EXPECT_FALSE(CFileTypeManager::LoadFileTypeList(dir / c.name, lists)) << c.name;
    }
    std::map<int, std::string> lists;
    EXPECT_FALSE(CFileTypeManager::LoadFileTypeList(dir / "missing.plist", lists));

    // Wrong value types are skipped, not trusted.
    velmora::test::WriteFile(
        dir / "odd.plist",
        std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                    "<key>1</key><string>doc</string>"
                    "<key>2</key><array><integer>5</integer><string>jpg</string></array>"
                    "</dict></plist>"));
    ASSERT_TRUE(CFileTypeManager::LoadFileTypeList(dir / "odd.plist", lists));
    EXPECT_EQ(lists[1], "");
    EXPECT_EQ(lists[2], "jpg");
}

}  // namespace
