#include <gtest/gtest.h>

#include <vector>

#include "FATFolderAnalyser.h"
#include "FatEntryBuilder.h"

namespace {

struct Seen {
    std::vector<int> indexes;
};

void Record(CFATFolderAnalyser*, const uint8_t*, int, int index, bool, void* user) {
    static_cast<Seen*>(user)->indexes.push_back(index);
}

TEST(FATFolderAnalyser, ClassifiesSectors) {
    const RawEntry dot = ShortEntry(".          ", 0x10, 0x1234, 0);
    const RawEntry dotdot = ShortEntry("..         ", 0x10, 0x20, 0);
    const RawEntry a = ShortEntry("A       TXT", 0x20, 0x100, 10);
    const RawEntry b = ShortEntry("B       TXT", 0x20, 0x200, 10);
    const RawEntry emptyA = ShortEntry("EMPTYA  TXT", 0x20, 0, 0);
    const RawEntry emptyB = ShortEntry("EMPTYB  TXT", 0x20, 0, 0);
    const RawEntry sameAsA = ShortEntry("C       TXT", 0x20, 0x100, 10);
    const RawEntry deletedSame = ShortEntry("\xE5       TXT", 0x20, 0x100, 10);
    const RawEntry lfn = LongEntry(0x41, 0, u"a.txt");
    RawEntry garbage{};
    garbage.fill(0x3A);
    garbage[11] = 0x20;

    struct Case {
        const char* name;
        std::vector<RawEntry> entries;
        bool result;
        int verdict;
        uint32_t count;
        uint64_t dotCluster;
        uint64_t maxCluster;
    };
    const std::vector<Case> cases = {
        {"sub-folder start despite a later bad entry",
         {dot, dotdot, a, garbage},
         true,
         2,
         1,
         0x1234,
         0x1234},
        {"sub-folder start, nothing else", {dot, dotdot}, true, 2, 0, 0x1234, 0x1234},
        {"ordinary sector with zero tail", {lfn, a, b}, true, 1, 2, 0, 0x200},
        {"dot alone is not a sub-folder", {dot, a}, true, 1, 1, 0, 0x1234},
        {"garbage after entries", {a, b, garbage}, false, 0, 0, 0, 0},
        {"garbage first", {garbage, a}, false, 0, 0, 0, 0},
        {"all zero", {}, false, 0, 0, 0, 0},
        {"two live entries share a cluster", {a, sameAsA}, false, 0, 0, 0, 0},
        {"a deleted entry may share it", {a, deletedSame, b}, true, 1, 3, 0, 0x200},
        {"two empty files", {a, emptyA, emptyB}, true, 1, 3, 0, 0x100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto sector = Join(c.entries, 512);
        CFATFolderAnalyser analyser(512);
        EXPECT_EQ(analyser.AnalyseSector(sector.data()), c.result);
        EXPECT_EQ(analyser.GetVerdict(), c.verdict);
        EXPECT_EQ(analyser.GetEntryCount(), c.count);
        EXPECT_EQ(analyser.GetCurDirCluster(), c.dotCluster);
        EXPECT_EQ(analyser.GetMaxFirstCluster(), c.maxCluster);
    }
}

TEST(FATFolderAnalyser, CallbackSeesOrdinaryEntriesOnly) {
    const auto sector =
        Join({ShortEntry(".          ", 0x10, 9, 0), ShortEntry("..         ", 0x10, 0, 0),
              LongEntry(0x41, 0, u"x"), ShortEntry("X          ", 0x20, 0x30, 1)},
             512);
    CFATFolderAnalyser analyser(512);
    Seen seen;
    ASSERT_TRUE(analyser.AnalyseSector(sector.data(), &Record, &seen));
    EXPECT_EQ(seen.indexes, (std::vector<int>{3}));
    EXPECT_EQ(analyser.GetParentDirCluster(), 0u);
    // The analyser never reads past the length it was made for.
    CFATFolderAnalyser shortOne(70);
    EXPECT_TRUE(shortOne.AnalyseSector(sector.data()));
    EXPECT_EQ(shortOne.GetVerdict(), 2);  // "." and ".." fit, the rest does not
    EXPECT_EQ(shortOne.GetEntryCount(), 0u);
}

}  // namespace
