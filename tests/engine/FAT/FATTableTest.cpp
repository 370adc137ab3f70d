#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "ByteReader.h"
#include "FATTable.h"
#include "support/MemoryStorageDevice.h"

namespace {

using Entries = std::map<uint32_t, uint32_t>;

constexpr uint32_t kFat16Sectors = 12;   // smallest FAT16 copy accepted
constexpr uint32_t kFat32Sectors = 256;  // smallest FAT32 copy accepted
constexpr uint64_t kFirstFat = 1;

void WriteCopy(std::vector<uint8_t>& img, int type, uint64_t firstSector, const Entries& e) {
    uint8_t* base = img.data() + firstSector * 512;
    if (type == 1) {
        vk::StoreLE<uint32_t>(base, 0xFFFFFFF8);
        for (auto [i, v] : e)
            vk::StoreLE<uint16_t>(base + i * 2, static_cast<uint16_t>(v));
    } else {
        vk::StoreLE<uint32_t>(base, 0x0FFFFFF8);
        vk::StoreLE<uint32_t>(base + 4, 0x0FFFFFFF);
        for (auto [i, v] : e)
            vk::StoreLE<uint32_t>(base + i * 4, v);
    }
}

// A device holding two FAT copies from sector 1.
std::unique_ptr<velmora::test::MemoryVolume> MakeDevice(int type, const Entries& first,
                                                        const Entries& second) {
    const uint32_t spf = type == 1 ? kFat16Sectors : kFat32Sectors;
    std::vector<uint8_t> img((kFirstFat + 2 * spf + 8) * 512, 0);
    WriteCopy(img, type, kFirstFat, first);
    WriteCopy(img, type, kFirstFat + spf, second);
    return std::make_unique<velmora::test::MemoryVolume>(std::move(img));
}

std::unique_ptr<CDoubleFATTable> Load(velmora::test::MemoryVolume& dev, int type,
                                      bool useSecond = true) {
    const uint32_t spf = type == 1 ? kFat16Sectors : kFat32Sectors;
    return std::unique_ptr<CDoubleFATTable>(
        IFATTableFactory::CreateFATTable(&dev, kFirstFat, type, spf, 0x80, useSecond ? 0x200 : 0));
}

TEST(FATTable, Fat16MarkersAreWidenedToFat32Ones) {
    auto dev = MakeDevice(1, {{2, 3}, {3, 0xFFFF}, {4, 0xFFF7}, {5, 0xFFF8}, {6, 0}}, {});
    auto fat = Load(*dev, 1);
    ASSERT_NE(fat->First(), nullptr);
    EXPECT_EQ(fat->GetNextCluster(2), 3u);
    EXPECT_EQ(fat->GetNextCluster(3), 0x0FFFFFF8u);
    EXPECT_EQ(fat->GetNextCluster(4), 0x0FFFFFF7u);
    EXPECT_EQ(fat->GetNextCluster(5), 0x0FFFFFF8u);
    EXPECT_EQ(fat->GetNextCluster(6), 0u);
    EXPECT_EQ(fat->GetNextCluster(kFat16Sectors * 256), 0u);  // past the table
}

TEST(FATTable, Fat32EntriesAreMaskedTo28Bits) {
    // Some systems keep the reserved top bits set; the chain must go on.
    auto dev = MakeDevice(2, {{2, 0xF0000003}, {3, 0xA0000004}, {4, 0xFFFFFFFF}}, {});
    auto fat = Load(*dev, 2);
    ASSERT_NE(fat->First(), nullptr);
    EXPECT_EQ(fat->GetNextCluster(2), 3u);
    EXPECT_EQ(fat->GetNextCluster(3), 4u);
    EXPECT_EQ(fat->GetNextCluster(4), 0x0FFFFFFFu);
    const FATChain chain = FollowFATChain(*fat, 2, 0, 100);
    EXPECT_EQ(chain.clusters, (std::vector<uint32_t>{2, 3, 4}));
    EXPECT_TRUE(chain.cleanEnd);
}

struct BadCopy {
    const char* name;
    int type;
    Entries entries;
};

// Damaged links in a copy cost only the chains that use them: the copy is
// kept, and the second copy answers instead when it has fewer of them.
TEST(FATTable, DamagedLinksCostOnlyTheirChains) {
    const Entries good16 = {{2, 3}, {3, 0xFFFF}, {10, 4}, {4, 0xFFFF}};
    const Entries good32 = {{2, 3}, {3, 0x0FFFFFFF}, {10, 4}, {4, 0x0FFFFFFF}};
    const std::vector<BadCopy> bad = {
        {"fat32 cycle through its start", 2, {{5, 6}, {6, 7}, {7, 5}}},
        {"fat32 loop behind a head", 2, {{5, 6}, {6, 7}, {7, 6}}},
        {"fat32 two chains join", 2, {{5, 7}, {6, 7}, {7, 0x0FFFFFFF}}},
        {"fat32 entry pointing at itself", 2, {{9, 9}}},
        {"fat32 entry 1", 2, {{9, 1}}},
        {"fat32 cluster past the table", 2, {{9, kFat32Sectors * 128 + 5}}},
        {"fat16 pure cycle", 1, {{5, 6}, {6, 5}}},
        {"fat16 two chains join", 1, {{5, 7}, {6, 7}, {7, 0xFFFF}}},
        {"fat16 cluster past the table", 1, {{9, kFat16Sectors * 256 + 1}}},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        const Entries& good = c.type == 1 ? good16 : good32;
        Entries damaged = good;
        damaged.insert(c.entries.begin(), c.entries.end());
        // A clean second copy answers.
        auto dev = MakeDevice(c.type, damaged, good);
        auto fat = Load(*dev, c.type);
        EXPECT_EQ(fat->First(), nullptr);
        ASSERT_NE(fat->Second(), nullptr);
        EXPECT_EQ(fat->Second()->GetDamage(), 0u);
        // Without one the damaged copy is kept, and a chain that does not
        // use the damage reads as it is: one whose head lies above its body.
        auto only = Load(*dev, c.type, false);
        ASSERT_NE(only->First(), nullptr);
        EXPECT_GT(only->First()->GetDamage(), 0u);
        EXPECT_EQ(FollowFATChain(*only, 10, 0, 100).clusters, (std::vector<uint32_t>{10, 4}));
        // Both copies damaged: the one with less damage answers.
        Entries worse = damaged;
        worse[20] = 20;
        worse[21] = 21;
        auto both = MakeDevice(c.type, worse, damaged);
        auto chosen = Load(*both, c.type);
        ASSERT_NE(chosen->Second(), nullptr);
        EXPECT_EQ(chosen->First(), nullptr);
    }
    // A copy whose entries are mostly garbage is no FAT: refused, and every
    // chain ends at once.
    Entries garbage;
    for (uint32_t i = 2; i < 400; ++i)
        garbage[i] = i;
    auto dev = MakeDevice(2, garbage, garbage);
    auto none = Load(*dev, 2);
    EXPECT_FALSE(none->HasCopy());
    EXPECT_FALSE(none->HasEntries());
    EXPECT_EQ(none->GetNextCluster(2), 0u);
}

TEST(FATTable, CopiesOutsideTheSizeLimitsOrUnreadableAreRefused) {
    auto dev = MakeDevice(2, {}, {});
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev.get(), 2, kFirstFat, 255), nullptr);
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev.get(), 2, kFirstFat, 128001), nullptr);
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev.get(), 3, kFirstFat, 256), nullptr);
    std::unique_ptr<IRealFATTable> ok(
        IFATTableFactory::CreateRealFATTable(dev.get(), 2, kFirstFat, 256));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->GetEntryCount(), 256u * 512 / 4);
    dev->FailReads(true);
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev.get(), 2, kFirstFat, 256), nullptr);

    auto dev16 = MakeDevice(1, {}, {});
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev16.get(), 1, kFirstFat, 11), nullptr);
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev16.get(), 1, kFirstFat, 257), nullptr);
    // A copy that runs off the device cannot be read.
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev16.get(), 1, kFirstFat + 20, 12), nullptr);
    // A header that is not a FAT's.
    dev16->Bytes()[512] = 0;
    dev16->Bytes()[513] = 0;
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(dev16.get(), 1, kFirstFat, 12), nullptr);
}

TEST(FATTable, LongBackwardChainIsCheckedInOnePass) {
    // Clusters linked from the top of the table down to 2: a naive check
    // walks the chain again from each cluster and takes quadratic time.
    Entries e;
    const uint32_t count = kFat32Sectors * 128;
    for (uint32_t i = count - 1; i > 2; --i)
        e[i] = i - 1;
    e[2] = 0x0FFFFFFF;
    auto dev = MakeDevice(2, e, {});
    auto fat = Load(*dev, 2, false);
    ASSERT_NE(fat->First(), nullptr);
    EXPECT_EQ(fat->First()->GetDamage(), 0u);
    // One pass: each link once, and one more step for each chain head.
    EXPECT_LE(fat->First()->GetCheckSteps(), 2ULL * count);
    EXPECT_EQ(FollowFATChain(*fat, count - 1, 0, count).clusters.size(), count - 2);
}

TEST(FATTable, CopiesOfVolumesThatMetDiskErrorsAreKept) {
    // Entry 1 with the "clean shutdown" and "no disk error" bits cleared.
    auto dev16 = MakeDevice(1, {{1, 0x3FFF}, {2, 0xFFFF}}, {});
    auto fat16 = Load(*dev16, 1, false);
    EXPECT_NE(fat16->First(), nullptr);
    auto dev32 = MakeDevice(2, {{1, 0x03FFFFFF}, {2, 0x0FFFFFFF}}, {});
    auto fat32 = Load(*dev32, 2, false);
    EXPECT_NE(fat32->First(), nullptr);
    int type = 0;
    EXPECT_TRUE(
        CFATTableAnalyser::IsValidFATTableFirstSector(dev32->Bytes().data() + 512, 512, type));
    EXPECT_EQ(type, 2);
}

TEST(FATTable, HeaderTestOfAFirstSector) {
    int type = 0;
    const uint8_t fat32[8] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    EXPECT_TRUE(CFATTableAnalyser::IsValidFATTableFirstSector(fat32, 8, type));
    EXPECT_EQ(type, 2);
    const uint8_t fat16[8] = {0xF8, 0xFF, 0xFF, 0x7F, 0x03, 0x00, 0x04, 0x00};
    EXPECT_TRUE(CFATTableAnalyser::IsValidFATTableFirstSector(fat16, 8, type));
    EXPECT_EQ(type, 1);
    const uint8_t none[8] = {0xF0, 0xFF, 0xFF, 0x00, 0, 0, 0, 0};
    EXPECT_FALSE(CFATTableAnalyser::IsValidFATTableFirstSector(none, 8, type));
    EXPECT_FALSE(CFATTableAnalyser::IsValidFATTableFirstSector(fat32, 7, type));
    EXPECT_FALSE(CFATTableAnalyser::IsUsedCluster(1));
    EXPECT_TRUE(CFATTableAnalyser::IsUsedCluster(0x0FFFFFEF));
    EXPECT_FALSE(CFATTableAnalyser::IsUsedCluster(0x0FFFFFF0));
}

// A table written by hand, to give FollowFATChain what a checked copy never
// holds.
class RawTable final : public IFATTable {
public:
    explicit RawTable(Entries e) : m_e(std::move(e)) {}
    uint32_t GetNextCluster(uint32_t c) const override {
        auto it = m_e.find(c);
        return it == m_e.end() ? 0 : it->second;
    }

private:
    Entries m_e;
};

TEST(FATTable, ChainFollowingIsBoundedAndCycleSafe) {
    struct ChainCase {
        const char* name;
        Entries entries;
        uint32_t first;
        uint64_t limit;
        size_t max;
        std::vector<uint32_t> expected;
        bool clean;
    };
    const std::vector<ChainCase> cases = {
        {"clean", {{2, 3}, {3, 0x0FFFFFF8}}, 2, 100, 10, {2, 3}, true},
        {"loop back", {{2, 3}, {3, 4}, {4, 3}}, 2, 100, 10, {2, 3, 4}, false},
        {"self loop", {{5, 5}}, 5, 100, 10, {5}, false},
        {"cluster past the volume", {{2, 3}, {3, 500}}, 2, 100, 10, {2, 3}, false},
        {"first cluster past the volume", {}, 100, 100, 10, {}, false},
        {"first cluster 0", {}, 0, 100, 10, {}, false},
        {"free entry", {{2, 3}, {3, 0}}, 2, 100, 10, {2, 3}, false},
        {"bad cluster", {{2, 0x0FFFFFF7}}, 2, 100, 10, {2}, false},
        {"cut at the bound", {{2, 3}, {3, 4}, {4, 5}, {5, 0x0FFFFFFF}}, 2, 100, 2, {2, 3}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawTable t(c.entries);
        const FATChain chain = FollowFATChain(t, c.first, c.limit, c.max);
        EXPECT_EQ(chain.clusters, c.expected);
        EXPECT_EQ(chain.cleanEnd, c.clean);
    }
}

}  // namespace
