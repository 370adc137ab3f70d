#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "TBitmap.h"

namespace {

// A deep searcher that overrides only what it must, and hands out `found`
// partitions (or a count that grows on every ask when `growing`).
class MinimalSearcher : public ICompleteFileSystemSearchController {
public:
    explicit MinimalSearcher(int found, bool growing = false) : found_(found), growing_(growing) {}
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder*) override {}
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        ++asks;
        if (growing_)
            found_ += 1000;
        return AnswerSearchedPartitionQuery(found_, out, capacity, [](int i) {
            auto* r = new CSearchedPartitionInfo(512);
            r->partitionIndex = static_cast<int16_t>(i);
            return r;
        });
    }
    void SetDevice(IStorageDevice*) override {}
    void SetBlockSize(int) override {}
    void PreparetoSearch() override {}
    void AnalyzeBlock(long long, long long) override {}

    int asks = 0;

private:
    int found_;
    bool growing_;
};

TEST(SearchInterfaces, DeepSearcherDefaultsAreHarmless) {
    MinimalSearcher s(0);
    ICompleteFileSystemSearchController& deep = s;
    TBitmap bitmap;
    FileSectorMap map;
    deep.SetIProgressSink(nullptr);
    deep.SetBitmap(&bitmap);
    deep.SetFileSectorMap(&map);
    deep.EndSearch(1);
    EXPECT_EQ(deep.GetBitmap(), nullptr);
    EXPECT_TRUE(deep.SetActivePartition(true));
    EXPECT_FALSE(deep.SetActivePartition(false));
    EXPECT_TRUE(map.empty());
    std::unique_ptr<IFileSystemSearchController> owned(
        new MinimalSearcher(0));  // deleted through the base
}

TEST(SearchInterfaces, PartitionQueryProtocol) {
    MinimalSearcher s(3);
    EXPECT_EQ(s.GetSearchedPartitionInfo(nullptr, 0), 3);
    CSearchedPartitionInfo* small[2] = {nullptr, nullptr};
    EXPECT_EQ(s.GetSearchedPartitionInfo(small, 2), 3);
    EXPECT_EQ(small[0], nullptr);
    EXPECT_EQ(small[1], nullptr);
    CSearchedPartitionInfo* room[4] = {nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(s.GetSearchedPartitionInfo(room, 4), 3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(room[i], nullptr);
        EXPECT_EQ(room[i]->partitionIndex, i);
        delete room[i];
    }
    EXPECT_EQ(room[3], nullptr);
    EXPECT_EQ(s.GetSearchedPartitionInfo(room, -1), 3) << "a negative capacity fills nothing";
}

TEST(SearchInterfaces, CollectAsksAgainWithMoreRoom) {
    MinimalSearcher many(300);
    std::vector<CSearchedPartitionInfo*> got;
    EXPECT_EQ(CollectSearchedPartitions(&many, got), 300);
    EXPECT_EQ(many.asks, 2);
    ASSERT_EQ(got.size(), 300u);
    EXPECT_EQ(got[299]->partitionIndex, 299);
    for (auto* r : got)
        delete r;

    MinimalSearcher none(0);
    got.clear();
    EXPECT_EQ(CollectSearchedPartitions(&none, got), 0);
    EXPECT_EQ(CollectSearchedPartitions(nullptr, got), 0);
    EXPECT_TRUE(got.empty());

    // A searcher whose count grows on every ask is given up on, not chased.
    MinimalSearcher growing(0, true);
    EXPECT_EQ(CollectSearchedPartitions(&growing, got), 0);
    EXPECT_LE(growing.asks, 4);
    EXPECT_TRUE(got.empty());
}

// The base every deep searcher stands on: the block size a searcher steps
// through its blocks by never becomes 0 or negative.
class BlockSizeProbe : public vk::DeepSearcherBase {
public:
    int GetSearchedPartitionInfo(CSearchedPartitionInfo**, int) override { return 0; }
    void SetDevice(IStorageDevice*) override {}
    void PreparetoSearch() override {}
    void AnalyzeBlock(long long, long long) override {}
    int BlockSectors() const { return m_blockSectors; }
};

TEST(SearchInterfaces, DeepSearcherBaseKeepsOnlyUsableBlockSizes) {
    const struct {
        std::vector<int> given;
        int kept;
    } cases[] = {
        {{}, 0}, {{8192}, 8192}, {{8192, 0}, 8192}, {{8192, -1}, 8192}, {{0}, 0}, {{8192, 16}, 16},
    };
    for (const auto& c : cases) {
        BlockSizeProbe probe;
        for (int size : c.given)
            probe.SetBlockSize(size);
        EXPECT_EQ(probe.BlockSectors(), c.kept) << ::testing::PrintToString(c.given);
    }
}

TEST(SearchInterfaces, ProgressRecordLayout) {
    _PROGRESS_INFO info{};
    EXPECT_EQ(sizeof(info), 4128u);
    info.state = PROGRESS_FINISHED;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&info)[0], 3);
}

}  // namespace
