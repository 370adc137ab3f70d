// The HFS+ reader and quick search on the generated fixture images: every
// file of the manifests (journal-only deleted ones included) comes back
// whole, damaged nodes and journals cost only what depends on them, and the
// scan driver's recovered tree matches the manifest and Sleuth Kit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "ByteReader.h"
#include "HFSPlusLib/HFSPlusJournal.h"
#include "HFSPlusLib/HFSPlusLayout.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "HFSPlusSearch/HFSPlusFactories.h"
#include "HfsTestSupport.h"

using namespace velmora::hfstest;
using velmora::test::MemoryStorageDevice;

namespace {

constexpr size_t kBlock = 4096;
constexpr size_t kCatalog = 4 * kBlock;  // catalog file, 8 KiB nodes
constexpr size_t kCatNode = 8192;
constexpr size_t kJournal = 29 * kBlock;  // journal buffer
constexpr size_t kJhdr = 512;

long long UnixSeconds(long long ticks) {
    return ticks / 10000000LL - 11644473600LL;
}

class HFSPlusImages : public ::testing::Test {
protected:
    void SetUp() override {
        if (FixtureDir().empty())
            GTEST_SKIP() << "the HFS+ fixtures cannot be made here (python3, sgdisk)";
    }
    static std::vector<uint8_t> Bytes(const std::string& name) {
        return MemoryStorageDevice::FromFile(Image(name), 512)->Bytes();
    }
    // The catalog's root node number, and the byte offset of catalog node n.
    static uint32_t CatalogRoot(const std::vector<uint8_t>& img) {
        return vk::LoadBE<uint32_t>(img.data() + kCatalog + 14 + 2);
    }
    static size_t CatNode(uint32_t n) { return kCatalog + n * kCatNode; }
};

TEST_F(HFSPlusImages, QuickScanGivesEveryFileOfTheManifest) {
    // The disks hold hfsplus.img at sector 40 (a GPT partition, and the same
    // disk with its table wiped); their volume is scanned as the partition
    // window the enumeration would give.
    for (const char* name :
         {"hfsplus", "hfsplus-wrap", "hfsx", "hfsplus-gpt", "hfsplus-gpt-zapped"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = Bytes(name);
        if (std::string(name).find("gpt") != std::string::npos)
            bytes = std::vector<uint8_t>(bytes.begin() + 40 * 512,
                                         bytes.begin() + 40 * 512 + (8 << 20));
        auto scan = std::make_unique<QuickScan>(bytes);
        ASSERT_EQ(scan->Run(), VK_OK);
        auto nodes = scan->Nodes();
        std::set<std::string> expected, got;
        for (const auto& [path, node] : nodes)
            got.insert(path);
        for (const Entry& e : ReadManifest(name)) {
            // Hard-link targets are reached through their links.
            if (e.path.find("HFS+ Private Data") != std::string::npos)
                continue;
            expected.insert(e.path);
            auto it = nodes.find(e.path);
            if (it == nodes.end())
                continue;
            SCOPED_TRACE(e.path);
            IFileNode* n = it->second;
            EXPECT_EQ(n->IsDeleted(), e.state == "deleted" ? 1 : 0);
            EXPECT_EQ(n->IsDirectory(), e.type == "dir" ? 1 : 0);
            EXPECT_EQ(UnixSeconds(n->GetModificationTime()), e.mtime);
            if (e.type == "dir")
                continue;
            EXPECT_EQ(n->GetFileSize(), e.size);
            if (e.size == 0)
                continue;
            const std::vector<uint8_t> data = ReadThroughRecovery(*scan, n, 4 << 20);
            EXPECT_EQ(Sha256(data.data(), data.size()), e.sha256);
        }
        EXPECT_EQ(got, expected);
        ASSERT_FALSE(scan->progress.states.empty());
        EXPECT_EQ(scan->progress.states.back(), PROGRESS_FINISHED);
    }
}

TEST_F(HFSPlusImages, CompressedFilesReadInAnyPieces) {
    auto scan = QuickScan::OfImage(Image("hfsplus"));
    ASSERT_EQ(scan->Run(), VK_OK);
    auto nodes = scan->Nodes(false);
    int compressed = 0;
    for (const Entry& e : ReadManifest("hfsplus")) {
        if (e.compression == "none" || !nodes.count(e.path))
            continue;
        SCOPED_TRACE(e.path);
        ++compressed;
        IFileNode* node = nodes[e.path];
        EXPECT_TRUE(node->IsCompressed());
        const std::vector<uint8_t> whole = ReadThroughRecovery(*scan, node, 4 << 20);
        ASSERT_EQ(static_cast<long long>(whole.size()), e.size);
        EXPECT_EQ(Sha256(whole.data(), whole.size()), e.sha256);
        for (unsigned piece : {1u, 7919u, 65535u, 65536u, 65537u}) {
            if (piece == 1 && whole.size() > 20000)
                continue;
            EXPECT_EQ(ReadThroughRecovery(*scan, node, piece), whole) << piece;
        }
    }
    EXPECT_EQ(compressed, 9);
}

TEST_F(HFSPlusImages, Recogniser) {
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        int sectorSize;
        unsigned long long start;
        int type;
        long long total;
        const char* label;
    };
    std::vector<Row> rows;
    const std::vector<uint8_t> plain = Bytes("hfsplus");
    rows.push_back({"HFS+", plain, 512, 0, FS_HFSPLUS, 16384, "FIXHFS"});
    rows.push_back({"HFSX", Bytes("hfsx"), 512, 0, FS_HFSPLUS, 16384, "FIXHFS"});
    rows.push_back({"4 KiB sectors", plain, 4096, 0, FS_HFSPLUS, 2048, "FIXHFS"});
    rows.push_back(
        {"inside a GPT disk", Bytes("hfsplus-gpt"), 512, 40, FS_HFSPLUS, 16384, "FIXHFS"});
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> b = plain;
        vk::StoreBE<uint32_t>(b.data() + 1024 + at, value);
        return b;
    };
    // Block sizes whose low 16 bits look like a multiple of 512; with an
    // empty catalog fork the catalog-size test cannot catch them.
    auto emptyCatalog = [&](uint32_t blockSize) {
        std::vector<uint8_t> b = plain;
        vk::StoreBE<uint32_t>(b.data() + 1024 + hfsplus::layout::kVHBlockSize, blockSize);
        vk::StoreBE<uint64_t>(b.data() + 1024 + hfsplus::layout::kVHCatalogFile, 0);
        vk::StoreBE<uint32_t>(b.data() + 1024 + hfsplus::layout::kVHCatalogFile + 12, 0);
        return b;
    };
    rows.push_back({"block size 0", emptyCatalog(0), 512, 0, FS_UNKNOWN, 0, ""});
    rows.push_back({"block size 0x12340000", emptyCatalog(0x12340000), 512, 0, FS_UNKNOWN, 0, ""});
    rows.push_back({"block size 1536", emptyCatalog(1536), 512, 0, FS_UNKNOWN, 0, ""});
    rows.push_back({"block size 0 with the catalog fork", patched(hfsplus::layout::kVHBlockSize, 0),
                    512, 0, FS_UNKNOWN, 0, ""});
    rows.push_back({"catalog size mismatch", patched(hfsplus::layout::kVHCatalogFile + 12, 7), 512,
                    0, FS_UNKNOWN, 0, ""});
    rows.push_back({"device too short", std::vector<uint8_t>(plain.begin(), plain.begin() + 1024),
                    512, 0, FS_UNKNOWN, 0, ""});
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        MemoryStorageDevice device(r.bytes, r.sectorSize);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateHFSPlusVolumeAnalyze(&device, r.start));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), r.type);
        EXPECT_EQ(analyze->GetTotalSector(), r.total);
        char label[100];
        std::memset(label, 'x', sizeof label);
        analyze->GetLabel(label, sizeof label);
        EXPECT_STREQ(label, r.label);
    }
}

TEST_F(HFSPlusImages, DamagedCatalogNodesCostOnlyWhatDependsOnThem) {
    const std::vector<uint8_t> good = Bytes("hfsplus");
    const uint32_t root = CatalogRoot(good);
    ASSERT_GE(root, 2u);
    // Record i of catalog node n: its offset.
    auto recordAt = [](const std::vector<uint8_t>& img, uint32_t n, int i) {
        return CatNode(n) + vk::LoadBE<uint16_t>(img.data() + CatNode(n) + kCatNode - 2 * (i + 1));
    };
    auto childField = [&](const std::vector<uint8_t>& img, int i) {
        const size_t rec = recordAt(img, root, i);
        return rec + 2 + vk::LoadBE<uint16_t>(img.data() + rec);
    };
    struct Row {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } rows[] = {
        {"unsorted record offsets",
         [&](std::vector<uint8_t>& b) {
             uint8_t* t = b.data() + CatNode(1) + kCatNode;
             std::swap(t[-4], t[-6]);
             std::swap(t[-3], t[-5]);
         }},
        {"overlapping record offsets",
         [&](std::vector<uint8_t>& b) {
             vk::StoreBE<uint16_t>(b.data() + CatNode(1) + kCatNode - 4, 14);
         }},
        {"leaf of height 2", [&](std::vector<uint8_t>& b) { b[CatNode(1) + 9] = 2; }},
        {"index node pointing at itself",
         [&](std::vector<uint8_t>& b) {
             vk::StoreBE<uint32_t>(b.data() + childField(b, 0), root);
         }},
        {"index node pointing at the header node",
         [&](std::vector<uint8_t>& b) { vk::StoreBE<uint32_t>(b.data() + childField(b, 0), 0); }},
        {"child pointer past the file",
         [&](std::vector<uint8_t>& b) {
             vk::StoreBE<uint32_t>(b.data() + childField(b, 1), 0x00FFFFFF);
         }},
        {"key length past the node",
         [&](std::vector<uint8_t>& b) {
             vk::StoreBE<uint16_t>(b.data() + recordAt(b, 1, 2), 0x7FFF);
         }},
        {"record count past the node",
         [&](std::vector<uint8_t>& b) {
             vk::StoreBE<uint16_t>(b.data() + CatNode(1) + 10, 0xFFFF);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<uint8_t> img = good;
        r.damage(img);
        QuickScan scan(img);
        const VKRESULT result = scan.Run();
        // The loss is reported, the rest of the catalog still listed.
        EXPECT_TRUE(ResultIs(result, kModuleHFSPlus, hfsplus::kHFSDamaged)) << std::hex << result;
        EXPECT_FALSE(scan.Nodes().empty());
        EXPECT_EQ(scan.progress.states.back(), PROGRESS_FINISHED);
    }
}

TEST_F(HFSPlusImages, DamagedJournalsLeaveTheLiveFiles) {
    const std::vector<uint8_t> good = Bytes("hfsplus");
    auto le32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        vk::StoreLE<uint32_t>(b.data() + at, v);
    };
    const size_t list = kJournal + kJhdr;  // the transaction's block list
    struct Row {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } rows[] = {
        {"header size 0", [&](auto& b) { le32(b, kJournal + 40, 0); }},
        {"header size not a power of two", [&](auto& b) { le32(b, kJournal + 40, 768); }},
        {"block-list size past the journal", [&](auto& b) { le32(b, kJournal + 32, 0x7FFFFFF0); }},
        {"block-list size 4 GiB", [&](auto& b) { le32(b, kJournal + 32, 0xFFFFFFF0); }},
        {"journal size differs from its info block",
         [&](auto& b) { le32(b, kJournal + 24, 4096); }},
        {"written big-endian",
         [&](auto& b) { vk::StoreBE<uint32_t>(b.data() + kJournal, 0x4A4E4C78); }},
        {"end past the journal", [&](auto& b) { le32(b, kJournal + 16, 0x7FFFFFFF); }},
        {"block count past the list",
         [&](auto& b) { vk::StoreLE<uint16_t>(b.data() + list + 2, 0xFFFF); }},
        {"block size past the journal", [&](auto& b) { le32(b, list + 16 + 16 + 8, 0xFFFFFFF0); }},
        {"journal info block elsewhere",
         [&](auto& b) { vk::StoreBE<uint32_t>(b.data() + 28 * kBlock, 2); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<uint8_t> img = good;
        r.damage(img);
        QuickScan scan(img);
        EXPECT_EQ(scan.Run(), VK_OK);
        auto nodes = scan.Nodes();
        EXPECT_TRUE(nodes.count("/docs/plain.txt"));
        EXPECT_TRUE(nodes.count("/docs/packed/zlib_rsrc.txt"));
        EXPECT_FALSE(nodes.count("/docs/deleted.txt"));
        // One circle round the buffer at most, a sector at a time.
        hfsplus::CHFSPlusJournal* journal = scan.searcher->Volume()->Journal();
        ASSERT_NE(journal, nullptr);
        EXPECT_LE(journal->LastScanSteps(), 128u * kBlock / kJhdr);
    }
}

TEST_F(HFSPlusImages, OverflowRecordThatAddsNothingEndsTheRunList) {
    // frag.bin's last two extents live in the one leaf (node 1) of the
    // extents tree at block 2; with their counts zeroed the record adds no
    // blocks, and looking it up again would find the same record for ever.
    std::vector<uint8_t> img = Bytes("hfsplus");
    const size_t leaf = 2 * kBlock + 4096;
    const size_t record = leaf + vk::LoadBE<uint16_t>(img.data() + leaf + 4096 - 2);
    for (int i = 0; i < 8; ++i)
        vk::StoreBE<uint32_t>(img.data() + record + 12 + 8 * i + 4, 0);
    QuickScan scan(img);
    EXPECT_EQ(scan.Run(), VK_OK);
    auto nodes = scan.Nodes();
    ASSERT_TRUE(nodes.count("/docs/frag.bin"));
    // The first eight blocks are still there; the rest reads as missing.
    const std::vector<uint8_t> data = ReadThroughRecovery(scan, nodes["/docs/frag.bin"], 4 << 20);
    EXPECT_GE(data.size(), 8 * kBlock);
}

TEST_F(HFSPlusImages, VolumeWithoutJournalListsLiveFiles) {
    std::vector<uint8_t> img = Bytes("hfsplus");
    img[1024 + 6] &= static_cast<uint8_t>(~0x20);  // journaled bit 0x2000 of the attributes
    QuickScan scan(img);
    EXPECT_EQ(scan.Run(), VK_OK);
    auto nodes = scan.Nodes();
    EXPECT_TRUE(nodes.count("/docs/frag.bin"));
    EXPECT_FALSE(nodes.count("/docs/deleted.txt"));
    EXPECT_FALSE(nodes.count("/docs/packed/deleted_comp.txt"));
}

TEST_F(HFSPlusImages, StopDuringTheJournalPassStillFinishes) {
    auto scan = QuickScan::OfImage(Image("hfsplus"));
    scan->progress.stopAfter = 0;
    EXPECT_EQ(scan->Run(), VK_OK);
    EXPECT_TRUE(scan->Nodes(false).empty());
    ASSERT_FALSE(scan->progress.states.empty());
    EXPECT_EQ(scan->progress.states.back(), PROGRESS_FINISHED);
}

TEST_F(HFSPlusImages, PartitionRecord) {
    auto scan = QuickScan::OfImage(Image("hfsplus"));
    ASSERT_EQ(scan->Run(), VK_OK);
    EXPECT_EQ(scan->searcher->GetSearchedPartitionInfo(nullptr, 0), 1);
    CSearchedPartitionInfo* records[1] = {};
    ASSERT_EQ(scan->searcher->GetSearchedPartitionInfo(records, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
    EXPECT_EQ(record->fileSystemType, FS_HFSPLUS);
    EXPECT_EQ(record->sectorsPerCluster, 8u);
    EXPECT_EQ(record->startSector, 0);
    EXPECT_EQ(record->GetTotalSectors(), 16384u);
    EXPECT_NE(record->fileSystemContext, nullptr);
}

TEST_F(HFSPlusImages, ThroughTheScanControllersMatchesManifestAndSleuthKit) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "the scan driver is not built in this configuration";
#else
    velmora::test::TempDir out;
    for (const char* name : {"hfsplus", "hfsplus-wrap", "hfsx"}) {
        SCOPED_TRACE(name);
        const std::string folder = out / name;
        std::filesystem::create_directories(folder);
        std::string log;
        ASSERT_TRUE(
            velmora::test::RunProgram({"env", "TZ=UTC", VELMORA_SCAN_DRIVER, "--quick", "--fs-type",
                                       "8", "--rounds", "1", "--recover", folder, Image(name)},
                                      &log))
            << log;
        const std::string marker = "recovered tree: ";
        const size_t at = log.find(marker);
        ASSERT_NE(at, std::string::npos) << log;
        const std::string tree =
            log.substr(at + marker.size(), log.find('\n', at) - at - marker.size());
        std::string report;
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", HereDir() + "/check_hfs_recovered.py", Manifest(name), tree, Image(name)},
            &report))
            << report;
    }
#endif
}

// A catalog whose header lost its root-node field (zeroed by
// tests/fixtures/names/zero_catalog_root.py) still has every node: both
// scans find the root among them and list every file, checked against the
// manifest and against Sleuth Kit on the intact image. Without the journal
// nothing else could stand in for the catalog.
TEST_F(HFSPlusImages, CatalogWithoutItsRootFieldIsListedWholeByBothScans) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "the scan driver is not built in this configuration";
#else
    velmora::test::TempDir out;
    const struct {
        const char* image;
        bool noJournal;
    } cases[] = {{"hfsplus", false}, {"hfsplus", true}, {"hfsx", false}};
    const std::vector<std::string> scans[] = {{"--quick", "--fs-type", "8"},
                                              {"--deep", "--only", "31"}};
    int n = 0;
    for (const auto& c : cases) {
        const std::string damaged = out / (std::to_string(++n) + ".img");
        std::vector<std::string> make = {
            "python3", velmora::test::SourceDir() + "/tests/fixtures/names/zero_catalog_root.py"};
        if (c.noJournal)
            make.push_back("--no-journal");
        make.insert(make.end(), {Image(c.image), Manifest(c.image), damaged});
        std::string log;
        ASSERT_TRUE(velmora::test::RunProgram(make, &log)) << log;
        for (const auto& scan : scans) {
            SCOPED_TRACE(std::string(c.image) + (c.noJournal ? " without journal " : " ") +
                         scan[0]);
            const std::string folder = out / (std::to_string(n) + scan[0]);
            std::filesystem::create_directories(folder);
            std::vector<std::string> driver = {"env", "TZ=UTC", VELMORA_SCAN_DRIVER};
            driver.insert(driver.end(), scan.begin(), scan.end());
            driver.insert(driver.end(), {"--rounds", "1", "--recover", folder, damaged});
            ASSERT_TRUE(velmora::test::RunProgram(driver, &log)) << log;
            const std::string marker = "recovered tree: ";
            const size_t at = log.find(marker);
            ASSERT_NE(at, std::string::npos) << log;
            const std::string tree =
                log.substr(at + marker.size(), log.find('\n', at) - at - marker.size());
            std::string report;
            EXPECT_TRUE(velmora::test::RunProgram(
                {"python3", HereDir() + "/check_hfs_recovered.py",
                 out / (std::to_string(n) + ".json"), tree, Image(c.image)},
                &report))
                << report;
        }
    }
#endif
}

}  // namespace
