#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineServices.h"
#include "SearchInterfaces.h"
#include "SearcherRow.h"
#include "support/PlannedSearcherRows.h"

namespace {

using velmora::test::PlannedRow;
using velmora::test::PlannedRows;
using velmora::test::ScopedSearcherRows;

ICompleteFileSystemSearchController* NoDeep() {
    return nullptr;
}
IVolumeAnalyze* NoRecogniser(IStorageDevice*, unsigned long long) {
    return nullptr;
}
IQuickFileSystemSearchController* NoQuick() {
    return nullptr;
}

std::vector<std::string> Names(const std::vector<const SearcherRow*>& rows) {
    std::vector<std::string> out;
    for (const SearcherRow* r : rows)
        out.emplace_back(r->name);
    return out;
}

// The planned rows with every factory, installed in the order the wiring
// lists them, which is neither the deep nor the recogniser order.
std::vector<SearcherRow> RowsWithFactories() {
    std::vector<SearcherRow> rows = PlannedRows();
    for (SearcherRow& r : rows) {
        r.createDeepSearcher = &NoDeep;
        if (r.type != SEARCHER_RAW)
            r.createVolumeAnalyze = &NoRecogniser;
    }
    return rows;
}

}  // namespace

TEST(SearcherRows, LookupsBySearcherAndTreeType) {
    ScopedSearcherRows rows(PlannedRows());
    struct Case {
        int type;
        const char* row;         // null: no row
        const char* treeSuffix;  // null: no tree
    };
    const Case cases[] = {
        {SEARCHER_FAT, "FAT", "(FAT/FAT32)"},
        {SEARCHER_RAW, "signature search", "(RAW Files)"},
        // The second tree of a row finds that row.
        {SEARCHER_RAW_LABEL, "signature search", "(Label RAW Files)"},
        {SEARCHER_APFS, "APFS", "(APFS)"},
        {SEARCHER_NONE, nullptr, nullptr},
        {-1, nullptr, nullptr},
        {1000, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const SearcherRow* row = vk::FindSearcherRow(c.type);
        const SearcherTreeRules* tree = vk::FindTreeRules(c.type);
        if (c.row == nullptr) {
            EXPECT_EQ(row, nullptr);
            EXPECT_EQ(tree, nullptr);
            continue;
        }
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->name, c.row);
        ASSERT_NE(tree, nullptr);
        EXPECT_STREQ(tree->rootSuffix, c.treeSuffix);
    }
    EXPECT_TRUE(vk::NodeRulesOf(SEARCHER_FAT).renamedFolderPassesProperties);
    // Nodes of no row (APFS nodes answer 38) compare by the plain rules.
    const SearcherNodeRules none = vk::NodeRulesOf(SEARCHER_NONE);
    EXPECT_FALSE(none.renamedFolderPassesProperties);
}

TEST(SearcherRows, SearchersAreOrderedByTheirRowsNotByInstallation) {
    ScopedSearcherRows rows(RowsWithFactories());
    EXPECT_EQ(
        Names(vk::DeepSearcherRows()),
        (std::vector<std::string>{"HFS+", "exFAT", "FAT", "signature search", "NTFS", "APFS"}));
    EXPECT_EQ(Names(vk::RecogniserRows()),
              (std::vector<std::string>{"FAT", "exFAT", "NTFS", "HFS+", "APFS"}));

    // Rows without a factory take no part; equal orders keep installation
    // order.
    std::vector<SearcherRow> some = RowsWithFactories();
    for (SearcherRow& r : some) {
        if (r.type == SEARCHER_HFSPLUS)
            r.createDeepSearcher = nullptr;
        if (r.type == SEARCHER_NTFS || r.type == SEARCHER_APFS)
            r.deepOrder = 0;
    }
    ScopedSearcherRows partial(some);
    EXPECT_EQ(Names(vk::DeepSearcherRows()),
              (std::vector<std::string>{"APFS", "NTFS", "exFAT", "FAT", "signature search"}));
}

TEST(SearcherRows, QuickSearchIsChosenByTheVolumesFileSystem) {
    std::vector<SearcherRow> rows = PlannedRows();
    for (SearcherRow& r : rows)
        r.createQuickSearcher = &NoQuick;
    ScopedSearcherRows scope(rows);
    struct Case {
        int fileSystem;
        const char* row;  // null: none
    };
    const Case cases[] = {
        {FS_FAT12, "FAT"},   {FS_FAT16, "FAT"},     {FS_FAT32, "FAT"}, {FS_NTFS, "NTFS"},
        {FS_EXFAT, "exFAT"}, {FS_HFSPLUS, "HFS+"},  {FS_APFS, "APFS"}, {FS_EXT2, nullptr},
        {FS_RAW, nullptr},   {FS_UNKNOWN, nullptr}, {-3, nullptr},     {40, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileSystem);
        const SearcherRow* row = vk::QuickSearcherRowFor(c.fileSystem);
        if (c.row == nullptr) {
            EXPECT_EQ(row, nullptr);
        } else {
            ASSERT_NE(row, nullptr);
            EXPECT_STREQ(row->name, c.row);
        }
    }
}

TEST(SearcherRows, ALaterRowCannotTakeWhatAnEarlierOneHolds) {
    velmora::test::FileStartFromFunction first([](const unsigned char*, unsigned) { return 1; });
    velmora::test::FileStartFromFunction second([](const unsigned char*, unsigned) { return 0; });
    SearcherRow a = PlannedRow(SEARCHER_FAT);
    a.fileStart = &first;
    SearcherRow b = PlannedRow(SEARCHER_FAT);
    b.name = "second FAT";
    b.fileStart = &second;
    b.trees[0].rootSuffix = "(other)";
    SearcherRow c = PlannedRow(SEARCHER_NTFS);
    c.trees[1] = {.type = SEARCHER_FAT, .rootSuffix = "(stolen)"};
    ScopedSearcherRows rows({a, b, c});
    EXPECT_STREQ(vk::FindSearcherRow(SEARCHER_FAT)->name, "FAT");
    EXPECT_STREQ(vk::FindTreeRules(SEARCHER_FAT)->rootSuffix, "(FAT/FAT32)");
    EXPECT_STREQ(vk::FindSearcherRow(SEARCHER_NTFS)->name, "NTFS");
    ASSERT_EQ(vk::FileStartService(), &first);
    EXPECT_EQ(vk::ResidentDataService(), nullptr);
}

TEST(SearcherRows, WithoutRowsNothingIsFoundAndNoServiceIsThere) {
    ScopedSearcherRows rows({});
    EXPECT_EQ(vk::FindSearcherRow(SEARCHER_FAT), nullptr);
    EXPECT_EQ(vk::QuickSearcherRowFor(FS_FAT32), nullptr);
    EXPECT_TRUE(vk::DeepSearcherRows().empty());
    EXPECT_TRUE(vk::RecogniserRows().empty());
    EXPECT_EQ(vk::ResidentDataService(), nullptr);
    EXPECT_EQ(vk::FileStartService(), nullptr);
}
