#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecyclerFilter.h"
#include "TreeBuilderHarness.h"

namespace {

std::vector<uint8_t> Utf16(const std::u16string& text, size_t lead = 24) {
    return Utf16Record(text, lead);
}

TEST(RecyclerFilter, NamesThatBelongToABin) {
    const struct {
        const char* name;
        bool recycled;
    } cases[] = {
        {"$IAB12.txt", true}, {"#IAB12.txt", true},   {"$RAB12.txt", true}, {"#Rfoo", true},
        {"$Reparse", false},  {"$RmMetadata", false}, {"$Repair", false},   {"$R", false},
        {"$Recycle", true},   {"report.txt", false},  {"$MFT", false},      {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRecyclerFilter::IsRecycledName(c.name), c.recycled) << c.name;
    EXPECT_FALSE(CRecyclerFilter::IsRecycledName(nullptr));
    EXPECT_TRUE(CRecyclerFilter::IsIndexFileName("$Iabc"));
    EXPECT_FALSE(CRecyclerFilter::IsIndexFileName("#Iabc"));
}

TEST(RecyclerFilter, BinFoldersAreFoldersOfTheKnownNamesInAnyCase) {
    TNode::live = 0;
    for (const char* name :
         {"RECYCLER", "recycled", "$Recycle.Bin", "$RECYCLE.BIN", "$RECYCLE.BI0"}) {
        TNode folder(1, 5, name, true);
        EXPECT_TRUE(CRecyclerFilter::IsRecycleBinFolder(&folder)) << name;
    }
    TNode file(1, 5, "$Recycle.Bin", false);
    EXPECT_FALSE(CRecyclerFilter::IsRecycleBinFolder(&file));
    TNode other(1, 5, "Recycle", true);
    EXPECT_FALSE(CRecyclerFilter::IsRecycleBinFolder(&other));
}

TEST(RecyclerFilter, PairsNeedTheWholeRestOfTheName) {
    EXPECT_TRUE(CRecyclerFilter::IsPair("$RAB12.txt", "$IAB12.txt"));
    EXPECT_FALSE(CRecyclerFilter::IsPair("$RAB12.txt", "$IAB12.txt.bak"));
    EXPECT_FALSE(CRecyclerFilter::IsPair("$RAB12.txt", "$IAB"));
    EXPECT_FALSE(CRecyclerFilter::IsPair("$R", "$IAB"));
}

TEST(RecyclerFilter, NameFromIndexFile) {
    // Version 1 (path at 24) and version 2 (path at 28).
    auto v1 = Utf16(u"C:\\Users\\u\\x.txt", 24);
    EXPECT_EQ(CRecyclerFilter::NameFromIndexFile(v1.data(), v1.size()), "x.txt");
    auto v2 = Utf16(u"D:\\a\\b\\Résumé 2024.pdf", 28);
    EXPECT_EQ(CRecyclerFilter::NameFromIndexFile(v2.data(), v2.size()), "Résumé 2024.pdf");
    // U+5C71 holds a 0x5C byte: it is no backslash.
    auto cjk = Utf16(u"C:\\docs\\\u5C71.txt", 28);
    EXPECT_EQ(CRecyclerFilter::NameFromIndexFile(cjk.data(), cjk.size()), "\xE5\xB1\xB1.txt");
    // Text after the terminator (a version-1 file's padding) is ignored.
    auto padded = Utf16(u"C:\\a\\keep.txt", 24);
    auto tail = Utf16(u"\\junk.txt", 0);
    padded.insert(padded.end(), tail.begin(), tail.end());
    EXPECT_EQ(CRecyclerFilter::NameFromIndexFile(padded.data(), padded.size()), "keep.txt");
    // No drive, a path ending in a backslash, no terminator, a lone surrogate.
    const std::vector<std::vector<uint8_t>> bad = {
        Utf16(u"no drive here", 24),
        Utf16(u"C:\\folder\\", 24),
        std::vector<uint8_t>{'C', 0, ':', 0, '\\', 0, 'a', 0},
        Utf16(u"C:\\a\\\xD800x", 24),
        {},
    };
    for (const auto& b : bad)
        EXPECT_EQ(CRecyclerFilter::NameFromIndexFile(b.data(), b.size()), "");
    EXPECT_EQ(CRecyclerFilter::NameFromIndexFile(nullptr, 10), "");
}

TEST(RecyclerFilter, Utf16ConversionStopsAtItsLimit) {
    std::u16string longName(400, u'\u00e9');  // 800 bytes of UTF-8
    auto bytes = Utf16(longName, 0);
    EXPECT_EQ(CRecyclerFilter::UTF162UTF8(bytes.data(), bytes.size() - 2), "");
    EXPECT_EQ(CRecyclerFilter::UTF162UTF8(bytes.data(), bytes.size() - 2, 1024).size(), 800u);
}

}  // namespace
