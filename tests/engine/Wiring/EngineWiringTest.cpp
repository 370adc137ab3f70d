#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "EngineFactories.h"
#include "SearchInterfaces.h"
#include "support/PlannedSearcherRows.h"

namespace {

bool SameText(const char* a, const char* b) {
    return (a == nullptr && b == nullptr) || (a && b && std::strcmp(a, b) == 0);
}

void ExpectSameTree(const SearcherTreeRules& got, const SearcherTreeRules& want) {
    EXPECT_EQ(got.type, want.type);
    EXPECT_TRUE(SameText(got.rootSuffix, want.rootSuffix)) << got.rootSuffix;
    EXPECT_EQ(got.divertsRecycleBins, want.divertsRecycleBins);
    EXPECT_EQ(got.attachesAllNodes, want.attachesAllNodes);
    EXPECT_TRUE(SameText(got.hiddenRootFolder, want.hiddenRootFolder));
    EXPECT_EQ(got.recycledNameToProperties, want.recycledNameToProperties);
    EXPECT_TRUE(SameText(got.recoveryFolder, want.recoveryFolder)) << got.recoveryFolder;
    EXPECT_EQ(got.recoveryFolderDated, want.recoveryFolderDated);
}

// Installs the engine's own rows for one test.
class EngineRows : public testing::Test {
protected:
    void SetUp() override {
        saved_ = vk::InstalledSearcherRows();
        InstallEngineFactories();
    }
    void TearDown() override { vk::InstallSearcherRows(saved_); }

private:
    std::vector<SearcherRow> saved_;
};

}  // namespace

TEST_F(EngineRows, EveryWiredRowCarriesItsSearchersRules) {
    const std::vector<SearcherRow>& rows = vk::InstalledSearcherRows();
    for (const SearcherRow& row : rows) {
        SCOPED_TRACE(row.name);
        const SearcherRow want = velmora::test::PlannedRow(row.type);
        ASSERT_NE(want.type, SEARCHER_NONE) << "a row of a searcher type nobody planned";
        EXPECT_EQ(row.quickFileSystems, want.quickFileSystems);
        EXPECT_EQ(row.deepOrder, want.deepOrder);
        EXPECT_EQ(row.deepNeeds, want.deepNeeds);
        EXPECT_EQ(row.activeOnVolumesOf, want.activeOnVolumesOf);
        EXPECT_EQ(row.namedByContainerListing, want.namedByContainerListing);
        EXPECT_EQ(row.setContainerDevice != nullptr, want.setContainerDevice != nullptr);
        EXPECT_EQ(row.recogniserOrder, want.recogniserOrder);
        ExpectSameTree(row.trees[0], want.trees[0]);
        ExpectSameTree(row.trees[1], want.trees[1]);
        EXPECT_EQ(row.nodes.renamedFolderPassesProperties,
                  want.nodes.renamedFolderPassesProperties);
    }
}

TEST_F(EngineRows, FatIsWiredWithItsQuickSearchAndRecogniser) {
    const SearcherRow* fat = vk::QuickSearcherRowFor(FS_FAT32);
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(fat->type, SEARCHER_FAT);
    ASSERT_NE(fat->createQuickSearcher, nullptr);
    IQuickFileSystemSearchController* searcher = fat->createQuickSearcher();
    ASSERT_NE(searcher, nullptr);
    delete searcher;
    const std::vector<const SearcherRow*> recognisers = vk::RecogniserRows();
    ASSERT_FALSE(recognisers.empty());
    EXPECT_EQ(recognisers.front()->type, SEARCHER_FAT);
}
