// FAT properties, nodes, the partition record and data runs over a FAT held
// in a map.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "FATBuildChildren.h"
#include "FATFileNode.h"
#include "FATPartitionInfo.h"
#include "FATTable.h"
#include "FatEntryBuilder.h"

namespace {

struct Quiet {
    Quiet() { CFATFileNode::SetTraceEnabled(false); }
    ~Quiet() { CFATFileNode::SetTraceEnabled(true); }
};

std::unique_ptr<CFATFileProperties> FromRun(const std::vector<RawEntry>& entries) {
    const auto bytes = Join(entries);
    return std::unique_ptr<CFATFileProperties>(
        CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(bytes.data(),
                                                                          bytes.size()));
}

TEST(FatNode, PropertiesFromEntryRuns) {
    const char* shortName = "LONGFI~1TXT";
    const uint8_t sum = Checksum(shortName);
    // Pieces lie last first: piece 2 (flagged last), then piece 1.
    auto p = FromRun({LongEntry(0x42, sum, u"ame.txt"), LongEntry(0x01, sum, u"A long file n"),
                      ShortEntry(shortName, 0x20, 5, 1234)});
    ASSERT_TRUE(p);
    EXPECT_STREQ(p->GetFileName(), "A long file name.txt");
    EXPECT_EQ(p->GetFileNameLength(), 20);
    EXPECT_EQ(p->GetFileSize(), 1234);
    EXPECT_EQ(p->GetAttribute(), 0x20u);
    EXPECT_EQ(p->GetState(), 0);

    // A name holding characters FAT forbids is still the file's long name;
    // a piece whose checksum differs gives the short name.
    EXPECT_STREQ(FromRun({LongEntry(0x41, sum, u"bad:name.txt"), ShortEntry(shortName, 0x20, 5, 1)})
                     ->GetFileName(),
                 "bad:name.txt");
    EXPECT_STREQ(
        FromRun({LongEntry(0x42, sum, u"ame.txt"), LongEntry(0x01, sum ^ 1, u"A long file n"),
                 ShortEntry(shortName, 0x20, 5, 1)})
            ->GetFileName(),
        "LONGFI~1.TXT");
    // A deleted entry: state 1 and the lost first byte shown as "#".
    RawEntry gone = ShortEntry("GONE    TXT", 0x20, 9, 10);
    gone[0] = 0xE5;
    auto d = FromRun({gone});
    EXPECT_EQ(d->GetState(), kFATStateDeleted);
    EXPECT_STREQ(d->GetFileName(), "#ONE.TXT");
    // No short entry, or a name that grows past 2,046 bytes: nothing.
    EXPECT_FALSE(FromRun({LongEntry(0x41, sum, u"x")}));
    std::vector<RawEntry> huge;
    for (int i = 0; i < 200; ++i)
        huge.push_back(LongEntry(
            0x01, sum,
            u"\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d"));
    huge.push_back(ShortEntry(shortName, 0x20, 5, 1));
    EXPECT_FALSE(FromRun(huge));
}

TEST(FatNode, DosTimesBecomeFileTimes) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    auto p = FromRun({ShortEntry("A       TXT", 0x20, 5, 1)});
    // 2024-04-21 11:17:56 UTC; the access date at midnight.
    const long long unix = 1713698276;
    EXPECT_EQ(p->GetModificationTime(), unix * 10000000LL + 116444736000000000LL);
    EXPECT_EQ(p->GetCreationTime(), p->GetModificationTime());
    EXPECT_EQ(p->GetLastAccessTime(),
              (unix - (11 * 3600 + 17 * 60 + 56)) * 10000000LL + 116444736000000000LL);
    EXPECT_EQ(p->GetRawFileCreateTime(), 0);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(FatNode, CloneAssignAndNodeIds) {
    Quiet quiet;
    auto* p = CFATFileProperties::Create();
    p->SetFileName("photo.jpg");
    p->SetFileSize(5000);
    p->SetAttribute(0x20);
    p->SetFirstClusterNum(0x10876);
    p->SetParentFirstClusterNum(0x10805);
    p->SetMetaDataSector(70000);
    p->SetState(kFATStateDeleted);
    CFATFileNode node;
    node.SetFileProperties(p);
    EXPECT_EQ(node.GetCurrentNodeID(), 0x10876);
    EXPECT_EQ(node.GetParentNodeID(), 0x10805);
    EXPECT_EQ(node.GetMetadataStartPosition(), 70000);
    EXPECT_EQ(node.GetSearcheType(), SEARCHER_FAT);
    EXPECT_TRUE(node.IsDeleted());
    EXPECT_FALSE(node.IsDirectory());
    node.SetDataRunList(CreateDataRunList());
    const DataRun run(0x10874, 10);
    node.GetDataRunList()->AddDataRun(&run);

    // The clone owns copies of the properties and the runs.
    std::unique_ptr<CFATFileNode> clone(static_cast<CFATFileNode*>(node.Clone()));
    node.SetFileName("changed");
    node.DelDataRunList();
    EXPECT_STREQ(clone->GetFileName(), "photo.jpg");
    EXPECT_EQ(clone->GetCurrentNodeID(), 0x10876);
    ASSERT_NE(clone->GetDataRunList(), nullptr);
    EXPECT_EQ(clone->GetDataRunList()->GetFirst()->length, 10);
    EXPECT_EQ(clone->GetFATFileProperties()->GetMetaDataSector(), 70000);
    EXPECT_EQ(clone->GetFATFileProperties()->GetDataRunList(), nullptr);

    // operator= leaves the metadata sector and the run list alone.
    CFATFileProperties target;
    target.SetMetaDataSector(12);
    IDataRunList* keep = CreateDataRunList();
    target.SetDataRunList(keep);
    target = *clone->GetFATFileProperties();
    EXPECT_STREQ(target.GetFileName(), "photo.jpg");
    EXPECT_EQ(target.GetFirstClusterNum(), 0x10876);
    EXPECT_EQ(target.GetFileSize(), 5000);
    EXPECT_EQ(target.GetMetaDataSector(), 12);
    EXPECT_EQ(target.GetDataRunList(), keep);

    // A null name clears the name and keeps the length.
    target.SetFileName(nullptr);
    EXPECT_EQ(target.GetFileName(), nullptr);
    EXPECT_EQ(target.GetFileNameLength(), 9);
    node.SetFileName("..  .hidden");
    node.FilterFileNameByDot();
    EXPECT_STREQ(node.GetFileName(), "hidden");
}

TEST(FatNode, TraceLineForEveryNode) {
    auto* p = CFATFileProperties::Create();
    p->SetFileName("a.txt");
    p->SetFirstClusterNum(0x1f);
    p->SetParentFirstClusterNum(2);
    CFATFileNode node;
    testing::internal::CaptureStdout();
    node.SetFileProperties(p);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "=====a.txt====== Current:1f Parent:2\n");
}

TEST(FatPartitionRecord, CloneDropsOnlyTheCounterAndFlagsOnlyGrow) {
    CFATSearchedPartitionInfo rec(4096);
    EXPECT_EQ(rec.GetType(), 1);
    EXPECT_EQ(rec.GetScore(), 1);  // the 64-bit value at offset 80
    rec.partitionIndex = 3;
    rec.fileSystemType = 2;
    rec.sectorsPerCluster = 8;
    rec.SetDataStartSector(67584 + 32 + 2 * 75);
    rec.SetStartSector(67584);
    rec.SetTotalSectors(100000);
    rec.SetReservedSector(32);
    rec.SetSectorPerFAT(75);
    rec.SetTotalCluster(12000);
    rec.SetRootInfo(2);
    rec.SetScore(95);
    rec.SetMatchedSubFolderCount(7);
    rec.MergeFlag(0x40);
    rec.MergeFlag(0x80);
    EXPECT_EQ(rec.GetFlag(), 0xC0u);
    rec.MergeFlag(0x04);
    EXPECT_EQ(rec.GetFlag(), 0xC4u);

    std::unique_ptr<CFATSearchedPartitionInfo> copy(rec.Clone());
    EXPECT_EQ(copy->GetMatchedSubFolderCount(), 0);
    copy->SetMatchedSubFolderCount(7);
    uint8_t a[CSearchedPartitionInfo::kImageSize], b[CSearchedPartitionInfo::kImageSize];
    rec.ToImage(a);
    copy->ToImage(b);
    EXPECT_EQ(std::vector<uint8_t>(a, a + sizeof(a)), std::vector<uint8_t>(b, b + sizeof(b)));
    EXPECT_EQ(copy->GetSectorSize(), 4096u);
    EXPECT_EQ(copy->GetReservedSector(), 32);
    EXPECT_EQ(copy->GetSectorPerFAT(), 75u);
    EXPECT_EQ(copy->GetTotalCluster(), 12000u);
    EXPECT_EQ(copy->GetRootInfo(), 2u);
    EXPECT_EQ(copy->GetFlag(), 0xC4u);
    EXPECT_EQ(copy->GetType(), 1);
}

// A FAT given as a map; absent entries are free.
class MapFat final : public IFATTable {
public:
    explicit MapFat(std::map<uint32_t, uint32_t> next, bool readable = true)
        : m_next(std::move(next)), m_readable(readable) {}
    uint32_t GetNextCluster(uint32_t c) const override {
        const auto it = m_next.find(c);
        return it == m_next.end() ? 0 : it->second;
    }
    bool HasEntries() const override { return m_readable; }

private:
    std::map<uint32_t, uint32_t> m_next;
    bool m_readable;
};

std::vector<std::pair<long long, long long>> Runs(IDataRunList* list) {
    std::vector<std::pair<long long, long long>> out;
    if (!list)
        return out;
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
        out.emplace_back(r->start, r->length);
    list->Release();
    return out;
}

TEST(FatDataRuns, LiveAndDeletedFilesOverSyntheticTables) {
    using R = std::vector<std::pair<long long, long long>>;
    constexpr uint32_t E = 0x0FFFFFFF;
    constexpr long long L = kLostRunStart;
    // 1-sector clusters of 512 bytes; the data area holds clusters 2..101.
    // A live chain that breaks keeps its runs up to the break and a lost
    // run for the rest: each later byte stays at its place in the file.
    struct Case {
        const char* what;
        std::map<uint32_t, uint32_t> fat;
        uint64_t first;
        uint64_t size;
        bool deleted;
        R expected;
        bool damaged;
        bool noFat = false;
    } cases[] = {
        {"contiguous chain", {{10, 11}, {11, 12}, {12, E}}, 10, 1500, false, {{8, 3}}, false},
        {"fragmented chain",
         {{10, 11}, {11, 40}, {40, 41}, {41, E}},
         10,
         2000,
         false,
         {{8, 2}, {38, 2}},
         false},
        {"chain longer than the size",
         {{10, 11}, {11, 12}, {12, 13}, {13, E}},
         10,
         600,
         false,
         {{8, 2}},
         false},
        {"chain ending early",
         {{10, 20}, {20, E}},
         10,
         2048,
         false,
         {{8, 1}, {18, 1}, {L, 2}},
         true},
        {"chain meeting the bad-cluster mark",
         {{10, 0x0FFFFFF7}},
         10,
         1024,
         false,
         {{8, 1}, {L, 1}},
         true},
        {"chain meeting a freed entry", {{10, 11}}, 10, 1536, false, {{8, 2}, {L, 1}}, true},
        {"chain that loops",
         {{10, 30}, {30, 10}},
         10,
         1536,
         false,
         {{8, 1}, {28, 1}, {L, 1}},
         true},
        {"chain leaving the volume", {{10, 0x0FFFFF00}}, 10, 1024, false, {{8, 1}, {L, 1}}, true},
        {"chain ending at the volume's last cluster",
         {{99, E}},
         99,
         5 * 512,
         false,
         {{97, 1}, {L, 4}},
         true},
        {"first cluster past the volume", {}, 500, 512, false, {}, false},
        {"no FAT copy: a guess", {}, 10, 1500, false, {{8, 3}}, false, true},
        {"deleted, freed entries: contiguous", {}, 50, 1300, true, {{48, 3}}, false},
        {"deleted, stale chain then freed", {{50, 60}}, 50, 2048, true, {{48, 1}, {58, 3}}, false},
        {"deleted, stale chain that loops", {{50, 51}, {51, 50}}, 50, 4096, true, {{48, 2}}, false},
        {"deleted, runs stop at the volume end", {}, 99, 10 * 512, true, {{97, 3}}, false},
        {"deleted, first cluster 1", {}, 1, 512, true, {}, false},
    };
    for (const auto& c : cases) {
        MapFat fat(c.fat, !c.noFat);
        CFATBuildDataRun builder(&fat, 512, 1, 100);
        bool damaged = !c.damaged;
        EXPECT_EQ(Runs(builder.BuildDataRunList(c.first, c.size, c.deleted, &damaged)), c.expected)
            << c.what;
        EXPECT_EQ(damaged, c.damaged) << c.what;
    }
    // Past 2^32 sectors the volume end is still found: the last cluster of
    // a volume of 128-sector clusters gives one run, not three.
    {
        MapFat none({});
        const uint64_t last = (1ULL << 27);
        CFATBuildDataRun big(&none, 512, 128, (last - 1) * 128);
        EXPECT_EQ(Runs(big.BuildDataRunList(last, 3 * 128 * 512, true)),
                  (R{{static_cast<long long>(last - 2), 1}}));
    }
    // The cluster-use map is filled from the runs.
    MapFat fat({{3, 4}, {4, E}});
    std::vector<bool> used(100, false);
    CFATBuildDataRun marking(&fat, 512, 1, 100, &used);
    Runs(marking.BuildDataRunList(3, 1024, false));
    EXPECT_TRUE(used[1] && used[2]);
    EXPECT_FALSE(used[0] || used[3]);
}

TEST(FatDataRuns, EmptyFilesGetVirtualClusters) {
    auto& counter = GetEmptyFileVirtualClusterNumObject();
    counter.ResetVirtualClusterNum();
    EXPECT_EQ(counter.GetVirtualClusterNum(), 0x100000000ULL);
    EXPECT_EQ(counter.GetVirtualClusterNum(), 0x100000001ULL);
}

}  // namespace
