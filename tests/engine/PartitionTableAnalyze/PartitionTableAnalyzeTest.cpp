// Partition tables made by sfdisk, sgdisk, fdisk and parted at test time,
// checked against Sleuth Kit's mmls, and damaged tables built in memory.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ByteReader.h"
#include "PartitionTableAnalyze.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestSupport.h"

using velmora::test::MemoryStorageDevice;
using velmora::test::RunProgram;
using velmora::test::TempDir;

namespace {

bool HaveProgram(const std::string& name) {
    return RunProgram({"sh", "-c", "command -v \"$0\" >/dev/null", name}, nullptr);
}

struct Found {
    int index;
    int64_t start;
    int64_t count;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "(" << f.index << ", " << f.start << ", " << f.count << ")";
}

std::vector<Found> Simplify(const std::vector<PartitionEntry>& list) {
    std::vector<Found> out;
    for (const auto& e : list)
        out.push_back({e.index, e.startSector, e.sectorCount});
    return out;
}

struct Analysis {
    VKRESULT result;
    std::vector<PartitionEntry> list;
    long long reads;
};

Analysis Analyze(MemoryStorageDevice& dev) {
    CPartitionTableAnalyze analyzer;
    Analysis a;
    a.list.push_back(PartitionEntry{});  // must be emptied first
    a.result = analyzer.AnalyzePartitionTable(&dev, a.list);
    a.reads = dev.Reads();
    return a;
}

bool IsError(VKRESULT r, uint32_t error) {
    return ResultIs(r, kModulePartitionTable, error);
}

class RecipeImages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"sfdisk", "sgdisk", "fdisk", "parted", "python3"}) {
            if (!HaveProgram(tool)) {
                skipReason_ = std::string(tool) +
                              " is not installed; partition-table fixtures cannot be made";
                return;
            }
        }
        dir_ = new TempDir();
        std::string script = velmora::test::SourceDir() + "/tests/fixtures/ptables/make_ptables.sh";
        if (!RunProgram({"bash", script, dir_->path()}, nullptr))
            skipReason_ = "make_ptables.sh failed";
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!skipReason_.empty())
            GTEST_SKIP() << skipReason_;
    }
    static std::string Image(const std::string& name) { return *dir_ / name; }
    static std::unique_ptr<MemoryStorageDevice> Load(const std::string& name, int sectorSize) {
        return MemoryStorageDevice::FromFile(Image(name), sectorSize);
    }

    static TempDir* dir_;
    static std::string skipReason_;
};
TempDir* RecipeImages::dir_ = nullptr;
std::string RecipeImages::skipReason_;

TEST_F(RecipeImages, EachImageGivesItsPartitions) {
    struct Case {
        const char* image;
        int sectorSize;
        uint32_t error;  // 0: success
        std::vector<Found> expected;
    };
    const std::vector<Case> cases = {
        {"mbr-ext.img", 512, 0, {{2, 2048, 20480}, {5, 24576, 10240}, {6, 36864, 10240}}},
        // The second EBR links back to the first: the walk ends, nothing repeats.
        {"mbr-loop.img", 512, 0, {{2, 2048, 20480}, {5, 24576, 10240}, {6, 36864, 10240}}},
        {"mbr-selflink.img", 512, 0, {}},
        {"mbr4k.img", 4096, 0, {{1, 256, 4096}, {5, 4608, 2048}, {6, 6912, 1024}}},
        // The 4 MiB partition is left out.
        {"gpt.img", 512, 0, {{1, 2048, 32768}, {3, 43008, 40960}}},
        // 4096 sectors of 4096 bytes are 16 MiB and kept; 1024 are 4 MiB and left out.
        {"gpt4k.img", 4096, 0, {{1, 256, 4096}}},
        {"apm512.img", 512, 0, {{1, 1, 63}, {2, 2048, 32768}, {3, 64, 1984}, {4, 34816, 30720}}},
        {"apm2048.img", 512, 0, {{1, 4, 252}, {2, 256, 16384}, {3, 16640, 32000}}},
        {"dyn.img", 512, kErrNotSupported, {}},
        {"blank.img", 512, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        auto dev = Load(c.image, c.sectorSize);
        ASSERT_GT(dev->GetTotalSectors(), 0);
        Analysis a = Analyze(*dev);
        if (c.error)
            EXPECT_TRUE(IsError(a.result, c.error)) << std::hex << a.result;
        else
            EXPECT_EQ(a.result, VK_OK) << std::hex << a.result;
        EXPECT_EQ(Simplify(a.list), c.expected);
    }
}

TEST_F(RecipeImages, SelfLinkedRecordEndsAtOnce) {
    auto dev = Load("mbr-selflink.img", 512);
    Analysis a = Analyze(*dev);
    EXPECT_EQ(a.result, VK_OK);
    EXPECT_LE(a.reads, 2);  // sector 0 and the one EBR
}

TEST_F(RecipeImages, GptFieldsAndTypeText) {
    auto gpt = Load("gpt.img", 512);
    Analysis a = Analyze(*gpt);
    ASSERT_EQ(a.list.size(), 2u);
    // 0700 is EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, stored mixed-endian.
    const uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                   0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    const uint8_t unique1[16] = {0xA1, 0xA1, 0xA1, 0xA1, 0, 0, 0, 0x40, 0x80, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(a.list[0].typeGuid, basicData, 16));
    EXPECT_EQ(0, std::memcmp(a.list[0].uniqueGuid, unique1, 16));
    EXPECT_EQ(a.list[0].reserved, 0);
    EXPECT_EQ(a.list[0].typeText[0], 0);

    auto apm = Load("apm2048.img", 512);
    a = Analyze(*apm);
    ASSERT_EQ(a.list.size(), 3u);
    EXPECT_EQ(std::string(a.list[1].typeText, strnlen(a.list[1].typeText, 32)), "Apple_HFS");
    EXPECT_EQ(a.list[1].typeGuid[0], 0);
}

// mmls lines: "004:  000:001   0000002048   0000022527   0000020480   Desc".
std::vector<std::tuple<std::string, int64_t, int64_t>> ParseMmls(const std::string& text) {
    std::vector<std::tuple<std::string, int64_t, int64_t>> out;
    static const std::regex line(R"(^\d+:\s+(\S+)\s+(\d+)\s+(\d+)\s+(\d+))");
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) {
        std::smatch m;
        if (!std::regex_search(l, m, line))
            continue;
        if (m[1] == "Meta" || m[1].str().find("---") == 0)
            continue;
        out.emplace_back(m[1], std::stoll(m[2]), std::stoll(m[4]));
    }
    return out;
}

TEST_F(RecipeImages, AgreesWithMmls) {
    VELMORA_REQUIRE_TOOL(HaveProgram("mmls"), "Sleuth Kit's mmls");
    struct Case {
        const char* image;
        int sectorSize;
        bool smallLeftOut;  // our GPT reading leaves out partitions of 8 MiB or less
    };
    const Case cases[] = {
        {"mbr-ext.img", 512, false}, {"mbr-loop.img", 512, false}, {"mbr4k.img", 4096, false},
        {"gpt.img", 512, true},      {"gpt4k.img", 4096, true},    {"apm512.img", 512, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        std::string text;
        ASSERT_TRUE(
            RunProgram({"mmls", "-b", std::to_string(c.sectorSize), Image(c.image)}, &text));
        auto theirs = ParseMmls(text);
        ASSERT_FALSE(theirs.empty());
        auto dev = Load(c.image, c.sectorSize);
        Analysis a = Analyze(*dev);
        ASSERT_EQ(a.result, VK_OK);
        std::vector<std::pair<int64_t, int64_t>> expected, ours;
        for (const auto& [slot, start, length] : theirs) {
            if (c.smallLeftOut && length * c.sectorSize <= 0x800000)
                continue;
            expected.emplace_back(start, length);
            // GPT and APM slots count map entries from 0; our indexes from 1.
            if (slot.find(':') == std::string::npos) {
                const int64_t first = start;  // clang 14 cannot capture a structured binding
                auto it = std::find_if(a.list.begin(), a.list.end(), [&](const PartitionEntry& e) {
                    return e.startSector == first;
                });
                ASSERT_NE(it, a.list.end());
                EXPECT_EQ(it->index, std::stoi(slot) + 1);
            }
        }
        for (const auto& e : a.list)
            ours.emplace_back(e.startSector, e.sectorCount);
        std::sort(expected.begin(), expected.end());
        std::sort(ours.begin(), ours.end());
        EXPECT_EQ(ours, expected);
    }
}

// ---- Damaged GPTs -------------------------------------------------------------

TEST_F(RecipeImages, GptFallsBackToTheTableThatChecksOut) {
    auto original = Load("gpt.img", 512);
    const auto good = Simplify(Analyze(*original).list);
    const int64_t last = original->GetTotalSectors() - 1;
    struct Case {
        const char* what;
        std::vector<int64_t> flipBytes;  // absolute byte offsets to invert
        int source;                      // 1 primary, 2 backup, 0 headerless
    };
    const std::vector<Case> cases = {
        {"backup header differs", {last * 512 + 40}, 1},
        {"backup entries differ", {(last - 32) * 512 + 60}, 1},
        {"primary header damaged", {512 + 40}, 2},
        {"primary entries damaged", {1024 + 60}, 2},
        {"both headers damaged", {512 + 40, last * 512 + 40}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto dev = Load("gpt.img", 512);
        for (int64_t off : c.flipBytes)
            dev->Bytes()[static_cast<size_t>(off)] ^= 0xFF;
        std::vector<PartitionEntry> list;
        CBaseGPTAnalyzer gpt;
        EXPECT_EQ(gpt.Analyze(dev.get(), list), VK_OK);
        EXPECT_EQ(gpt.Source(), c.source);
        EXPECT_EQ(Simplify(list), good);
    }
}

TEST_F(RecipeImages, TruncatedImagesGiveWhatLiesInside) {
    struct Case {
        const char* image;
        size_t bytes;
        std::vector<Found> expected;
    };
    const std::vector<Case> cases = {
        // The second EBR (sector 34816) is cut off; partition 5 still fits.
        {"mbr-ext.img", 30000 * 512, {{2, 2048, 20480}, {5, 24576, 5424}}},
        // Only the MBR: every partition starts past the end.
        {"mbr-ext.img", 512, {}},
        // The tables are intact, the partitions are not there.
        {"gpt.img", 64 * 1024, {}},
        // The map lies inside; the partitions are cut to the disk.
        {"apm512.img", 1 << 20, {{1, 1, 63}, {3, 64, 1984}}},
        {"gpt.img", 100, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " cut to " + std::to_string(c.bytes));
        auto dev = MemoryStorageDevice::FromFile(Image(c.image), 512, c.bytes);
        Analysis a = Analyze(*dev);
        EXPECT_EQ(a.result, VK_OK) << std::hex << a.result;
        EXPECT_EQ(Simplify(a.list), c.expected);
    }
}

// ---- Tables built in memory ---------------------------------------------------

void PutSlot(std::vector<uint8_t>& disk, int64_t sector, int slot, uint8_t type, uint32_t lead,
             uint32_t count, uint8_t boot = 0) {
    uint8_t* p = disk.data() + sector * 512 + 446 + 16 * slot;
    p[0] = boot;
    p[4] = type;
    vk::StoreLE<uint32_t>(p + 8, lead);
    vk::StoreLE<uint32_t>(p + 12, count);
    disk[sector * 512 + 510] = 0x55;
    disk[sector * 512 + 511] = 0xAA;
}

TEST(PartitionTableChecks, DeviceAndTableFailures) {
    std::vector<uint8_t> mbr(512 * 4096, 0);
    PutSlot(mbr, 0, 0, 0x83, 2048, 1024);
    CPartitionTableAnalyze analyzer;
    std::vector<PartitionEntry> list;
    EXPECT_TRUE(IsError(analyzer.AnalyzePartitionTable(nullptr, list), kErrBadArgument));

    struct Case {
        const char* what;
        std::function<void(MemoryStorageDevice&)> change;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"a partition, not a disk", [](MemoryStorageDevice& d) { d.SetType(kDevicePartition); },
         kErrNotSupported},
        {"no disk record", [](MemoryStorageDevice& d) { d.SetPrivateData(nullptr); },
         kErrNoInformation},
        {"record of another kind",
         [](MemoryStorageDevice& d) { d.SetPrivateData(new IStorageDeviceData()); },
         kErrNoInformation},
        {"record flag set",
         [](MemoryStorageDevice& d) {
             static_cast<IDiskDeviceData*>(d.GetPrivateData())->GetDiskInfo()->flag = 1;
         },
         kErrNotSupported},
        {"boot indicator 0x01", [](MemoryStorageDevice& d) { d.Bytes()[446 + 16] = 0x01; },
         kErrBadPartitionTable},
        {"dynamic disk", [](MemoryStorageDevice& d) { d.Bytes()[498] = 0x42; }, kErrNotSupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStorageDevice dev(mbr, 512);
        c.change(dev);
        EXPECT_TRUE(IsError(Analyze(dev).result, c.error));
    }

    MemoryStorageDevice tiny(mbr, 256);
    EXPECT_TRUE(IsError(Analyze(tiny).result, kErrSectorTooSmall));
    std::vector<uint8_t> er = mbr;
    er[0] = 'E';
    er[1] = 'R';
    MemoryStorageDevice tinyApm(er, 256);
    EXPECT_TRUE(IsError(Analyze(tinyApm).result, kErrNotSupported));
}

TEST(PartitionTableChecks, EntriesPastTheDisk) {
    std::vector<uint8_t> mbr(512 * 4096, 0);
    PutSlot(mbr, 0, 0, 0x83, 2048, 100000);     // runs past the end: cut
    PutSlot(mbr, 0, 1, 0x07, 5000, 10);         // starts past the end: left out
    PutSlot(mbr, 0, 2, 0x0c, 100, 0);           // count 0: up to the end
    PutSlot(mbr, 0, 3, 0x05, 0xFFFFFFF0u, 10);  // extended area outside the disk
    MemoryStorageDevice dev(mbr, 512);
    Analysis a = Analyze(dev);
    EXPECT_EQ(a.result, VK_OK);
    EXPECT_EQ(Simplify(a.list), (std::vector<Found>{{1, 2048, 2048}, {3, 100, 3996}}));
}

TEST(PartitionTableChecks, ExtendedChainFaults) {
    // A chain of 10,000 EBRs, each with one logical partition.
    const int64_t base = 64;
    const int links = 10000;
    std::vector<uint8_t> disk(static_cast<size_t>(base + 2 * links + 8) * 512, 0);
    PutSlot(disk, 0, 0, 0x05, base, 2 * links + 4);
    for (int k = 0; k < links; ++k) {
        int64_t ebr = base + 2 * k;
        PutSlot(disk, ebr, 0, 0x83, 1, 1);
        if (k + 1 < links)
            PutSlot(disk, ebr, 1, 0x05, 2 * (k + 1), 2);
    }
    MemoryStorageDevice longChain(disk, 512);
    Analysis a = Analyze(longChain);
    EXPECT_EQ(a.result, VK_OK);
    ASSERT_EQ(a.list.size(), static_cast<size_t>(CPartitionTableChainAnalyzer::kMaxChainLength));
    EXPECT_EQ(a.list.back().index, 4 + CPartitionTableChainAnalyzer::kMaxChainLength);
    EXPECT_LE(a.reads, CPartitionTableChainAnalyzer::kMaxChainLength + 1);

    // Two EBRs linking to each other, neither holding a partition.
    std::vector<uint8_t> pair(512 * 256, 0);
    PutSlot(pair, 0, 0, 0x0F, 16, 64);
    PutSlot(pair, 16, 0, 0x05, 8, 8);
    PutSlot(pair, 24, 0, 0x05, 0, 8);
    MemoryStorageDevice cycle(pair, 512);
    a = Analyze(cycle);
    EXPECT_EQ(a.result, VK_OK);
    EXPECT_TRUE(a.list.empty());
    EXPECT_LE(a.reads, 3);

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
    };
    const std::vector<Case> bad = {
        {"EBR without its signature", [](std::vector<uint8_t>& d) { d[16 * 512 + 510] = 0; }},
        {"two links in one EBR", [](std::vector<uint8_t>& d) { PutSlot(d, 16, 1, 0x05, 40, 8); }},
        {"bad boot indicator in an EBR",
         [](std::vector<uint8_t>& d) { d[16 * 512 + 446 + 48] = 0x7F; }},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> d(512 * 256, 0);
        PutSlot(d, 0, 0, 0x05, 16, 64);
        PutSlot(d, 16, 0, 0x83, 2, 4);
        c.change(d);
        MemoryStorageDevice dev(d, 512);
        EXPECT_TRUE(IsError(Analyze(dev).result, kErrBadPartitionTable));
    }
}

std::vector<uint8_t> ApmDisk(int sectorSize, uint16_t blockSize, uint32_t entries, size_t bytes) {
    std::vector<uint8_t> d(bytes, 0);
    d[0] = 'E';
    d[1] = 'R';
    vk::StoreBE<uint16_t>(d.data() + 2, blockSize);
    const size_t block = std::max<size_t>(blockSize, static_cast<size_t>(sectorSize));
    for (uint32_t i = 1; i <= std::min(entries, 4u); ++i) {
        uint8_t* e = d.data() + i * block;
        e[0] = 'P';
        e[1] = 'M';
        vk::StoreBE<uint32_t>(e + 4, entries);
        vk::StoreBE<uint32_t>(e + 8, 8 * i);
        vk::StoreBE<uint32_t>(e + 12, 4);
    }
    return d;
}

TEST(PartitionTableChecks, AppleMapFaults) {
    struct Case {
        const char* what;
        int sectorSize;
        uint16_t blockSize;
        uint32_t entries;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"block smaller than a sector", 2048, 512, 2, kErrBadPartitionTable},
        {"block size 0", 512, 0, 2, kErrBadPartitionTable},
        {"more than 31 entries", 512, 512, 32, kErrBadPartitionTable},
        {"sector size not a multiple of 512", 1000, 1000, 2, kErrNotSupported},
        {"2048-byte blocks on 2048-byte sectors", 2048, 2048, 2, 0},
        {"4096-byte blocks on 4096-byte sectors", 4096, 4096, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStorageDevice dev(ApmDisk(c.sectorSize, c.blockSize, c.entries, 1 << 20),
                                c.sectorSize);
        Analysis a = Analyze(dev);
        if (c.error) {
            EXPECT_TRUE(IsError(a.result, c.error)) << std::hex << a.result;
        } else {
            EXPECT_EQ(a.result, VK_OK);
            EXPECT_EQ(Simplify(a.list), (std::vector<Found>{{1, 8, 4}, {2, 16, 4}}));
        }
    }
    std::vector<uint8_t> notMap = ApmDisk(512, 512, 2, 1 << 20);
    notMap[512] = 'X';
    MemoryStorageDevice dev(notMap, 512);
    EXPECT_TRUE(IsError(Analyze(dev).result, kErrBadPartitionTable));
}

TEST(PartitionTableChecks, GptCrcCheckValue) {
    const char* digits = "123456789";
    EXPECT_EQ(GptCrc32(reinterpret_cast<const uint8_t*>(digits), 9), 0xCBF43926u);
}

TEST(PartitionTableChecks, EmptyDeviceHasNoTable) {
    MemoryStorageDevice empty({}, 512);
    Analysis a = Analyze(empty);
    EXPECT_EQ(a.result, VK_OK);
    EXPECT_TRUE(a.list.empty());
}

}  // namespace
