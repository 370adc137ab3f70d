// The NTFS quick search end to end: every fixture volume (4 KiB sectors and
// records, 1 KiB records four to a 4 KiB sector, a $LogFile that alone still
// describes two deleted files) goes through the controllers, the tree
// builder and recovery, and comes back as its manifest and Sleuth Kit say.
// Damaged volumes end with the module's codes or skip what is damaged, never
// a crash, a hang or a file made of stale bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "IRecoveryFilter.h"
#include "NTFSFactories.h"
#include "NTFSLib/NTFSFileNode.h"
#include "NTFSSearch/NTFSQuickSearch.h"
#include "NtfsFixtures.h"
#include "NtfsRecordBuilder.h"
#include "NtfsScanHarness.h"
#include "SearchedPartitionInfo.h"
#include "StorageDeviceData.h"
#include "support/TestSupport.h"

using namespace ntfstest;
using velmora::test::MemoryStorageDevice;
using velmora::test::TempDir;

namespace {

// One in-process quick scan of a device through the NTFS searcher and the
// real tree builder (live files shown too).
struct QuickScan {
    explicit QuickScan(IStorageDevice* device) : device_(device) {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("fixture", &tree, filter);
        searcher.SetDirecotryTreeBuilder(builder);
    }
    ~QuickScan() { builder->Release(); }
    VKRESULT Run() { return result = searcher.QuickSearchFiles(device_, &progress); }
    std::map<std::string, IFileNode*> Paths() const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown)
            out[NodePath(n)] = n;
        return out;
    }

    IStorageDevice* device_;
    IDirecotryTreeBuilder* builder;
    CollectingTree tree;
    RecordingProgress progress;
    CNTFSQuickSearch searcher;
    VKRESULT result = 0;
};

class NTFSQuickScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (FixtureDir().empty())
            GTEST_SKIP() << "the NTFS fixtures cannot be unpacked here (gzip, python3)";
    }
    TempDir m_tmp;
};

// ---------------------------------------------------------------- the fixtures

TEST_F(NTFSQuickScanTest, FixturesComeBackAsTheirManifestsAndSleuthKitSay) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "built without the scan driver";
#else
    VELMORA_REQUIRE_TOOL(HaveTool("tsk_recover") && HaveTool("fls"),
                         "Sleuth Kit (tsk_recover, fls)");
    for (const auto& [name, sectorSize] :
         std::vector<std::pair<std::string, int>>{{"ntfs", 512},
                                                  {"ntfs_4k", 4096},
                                                  {"ntfs_4kdev", 4096},
                                                  {"ntfs_log", 512},
                                                  {"ntfs_init", 512}}) {
        SCOPED_TRACE(name);
        const std::string out = m_tmp / (name + "-out");
        std::filesystem::create_directories(out);
        std::string log;
        velmora::test::RunProgram(
            {VELMORA_SCAN_DRIVER, "--quick", "--fs-type", "3", "--sector-size",
             std::to_string(sectorSize), "--rounds", "1", "--recover", out, Image(name)},
            &log);
        ASSERT_NE(log.find("result 0x0000000000000000"), std::string::npos) << log;
        ASSERT_NE(log.find(" 0 failed"), std::string::npos) << log;
        const std::string folder = out + "/0001/" + name + ".img";
        std::string report;
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", std::string(VELMORA_NTFS_TEST_DIR) + "/check_quick_scan.py", Image(name),
             Manifest(name), folder},
            &report))
            << report;
    }
#endif
}

TEST_F(NTFSQuickScanTest, TreeRecordAndProgressOfAScan) {
    for (const auto& [name, sectorSize] :
         std::vector<std::pair<std::string, int>>{{"ntfs", 512}, {"ntfs_4kdev", 4096}}) {
        SCOPED_TRACE(name);
        auto device = MemoryStorageDevice::FromFile(Image(name), sectorSize);
        device->SetType(kDeviceVolume);
        QuickScan scan(device.get());
        EXPECT_EQ(scan.Run(), VK_OK);
        EXPECT_EQ(scan.tree.roots, 1);
        ASSERT_FALSE(scan.progress.states.empty());
        EXPECT_EQ(scan.progress.states.back(), PROGRESS_FINISHED);
        EXPECT_EQ(scan.searcher.DamagedCount(), 0u);

        CSearchedPartitionInfo* records[2] = {};
        ASSERT_EQ(scan.searcher.GetSearchedPartitionInfo(records, 2), 1);
        std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
        EXPECT_EQ(record->fileSystemType, 3);
        EXPECT_EQ(record->runOriginSector, 0);
        EXPECT_EQ(record->sectorsPerCluster, 4096u / sectorSize);
        EXPECT_EQ(record->GetSectorSize(), static_cast<unsigned>(sectorSize));
        EXPECT_EQ(static_cast<long long>(record->GetTotalSectors()), device->GetTotalSectors());

        const auto paths = scan.Paths();
        // Metafiles and the root folder's own record are never nodes.
        for (const char* meta :
             {"/$MFT", "/$MFTMirr", "/$LogFile", "/$Volume", "/$AttrDef", "/$Bitmap", "/$Boot",
              "/$BadClus", "/$Secure", "/$UpCase", "/$Extend", "/."})
            EXPECT_EQ(paths.count(meta), 0u) << meta;
        ASSERT_TRUE(paths.count("/a/b/f07.txt"));
        EXPECT_TRUE(paths.at("/a/b/f07.txt")->IsDeleted());
        EXPECT_TRUE(paths.at("/Gone/Inner/deep report.pdf")->IsDeleted());
        EXPECT_FALSE(paths.at("/a/b/f08.txt")->IsDeleted());
        EXPECT_TRUE(paths.at("/comp/comp.txt")->IsCompressed());
        EXPECT_EQ(paths.at("/comp/comp.txt")->GetFileSize(), 228000);
        // Thirty names of one file: thirty-one nodes with one record number.
        int links = 0;
        for (const auto& [path, node] : paths)
            links += path.rfind("/al/link", 0) == 0 ? 1 : 0;
        EXPECT_EQ(links, 30);
        EXPECT_EQ(paths.at("/al/link07_" + std::string(90, 'L') + ".bin")->GetCurrentNodeID(),
                  paths.at("/al/target.bin")->GetCurrentNodeID());
    }
}

TEST_F(NTFSQuickScanTest, LogFileRestoresADeletedFileWhoseRecordLostItsRuns) {
    auto device = MemoryStorageDevice::FromFile(Image("ntfs_log"), 512);
    QuickScan scan(device.get());
    ASSERT_EQ(scan.Run(), VK_OK);
    EXPECT_EQ(scan.searcher.LogFile().Images().size(), 2u);
    EXPECT_GE(scan.searcher.LogFile().UndoPieceCount(), 1u);
    const auto paths = scan.Paths();
    ASSERT_TRUE(paths.count("/logged.bin"));
    IFileNode* logged = paths.at("/logged.bin");
    EXPECT_TRUE(logged->IsDeleted());
    EXPECT_EQ(logged->GetFileSize(), 81920);
    // The record that a new file took keeps the new file; the old one comes
    // back from its image in the log, deleted.
    ASSERT_TRUE(paths.count("/reused_new.txt"));
    EXPECT_FALSE(paths.at("/reused_new.txt")->IsDeleted());
    ASSERT_TRUE(paths.count("/reused_old.bin"));
    EXPECT_TRUE(paths.at("/reused_old.bin")->IsDeleted());
    EXPECT_EQ(paths.at("/reused_old.bin")->GetFileSize(), 30000);
}

// ---------------------------------------------------------------- damage

struct DamageCase {
    const char* what;
    std::function<void(ImageBytes&, FailingDevice*&)> damage;
    VKRESULT code;                     // module 0x12 error expected, 0 for a finished walk
    std::vector<std::string> present;  // paths that must still be shown
    std::vector<std::string> absent;   // paths that must not
};

TEST_F(NTFSQuickScanTest, DamagedVolumesEndCleanly) {
    const ImageBytes base(LoadBytes("ntfs"));
    const int64_t f20 = base.Find(u"f20.txt");
    const int64_t report = base.Find(u"report.pdf");
    const int64_t a = base.Find(u"a");
    const int64_t b = base.Find(u"b");
    ASSERT_GT(f20, 0);
    const std::vector<DamageCase> cases = {
        {"unreadable sectors in the $MFT",
         [&](ImageBytes& img, FailingDevice*& dev) {
             dev = new FailingDevice(img.bytes, 512);
             const long long sector = static_cast<long long>(img.RecordAt(f20) / 512);
             dev->bad = {sector, sector + 1};
         },
         0,
         {"/a/b/f19.txt", "/a/b/f21.txt", "/comp/comp.txt"},
         {"/a/b/f20.txt"}},
        {"a record whose parent is itself",
         [&](ImageBytes& img, FailingDevice*&) {
             img.Patch(report, [&](uint8_t* r) {
                 const size_t fn = img.AttributeOf(report, 0x30);
                 vk::StoreLE<uint64_t>(r + fn + 0x18,
                                       static_cast<uint64_t>(report) | (uint64_t{1} << 48));
             });
         },
         0,
         {"/Docs/empty.txt", "/short.txt"},
         {"/Docs/report.pdf"}},
        {"two folders that are each other's parent",
         [&](ImageBytes& img, FailingDevice*&) {
             img.Patch(a, [&](uint8_t* r) {
                 const size_t fn = img.AttributeOf(a, 0x30);
                 vk::StoreLE<uint64_t>(r + fn + 0x18,
                                       static_cast<uint64_t>(b) | (uint64_t{1} << 48));
             });
         },
         0,
         {"/Docs/report.pdf", "/comp/comp.txt"},
         {"/a/b/f00.txt"}},
        {"$MFT record damaged: its mirror is read",
         [&](ImageBytes& img, FailingDevice*&) { img.bytes[img.RecordAt(0) + 510] ^= 0xFF; },
         0,
         {"/a/b/f20.txt", "/al/target.bin", "/comp/comp.txt"},
         {}},
        {"$MFT past the volume: its mirror is read",
         [&](ImageBytes& img, FailingDevice*&) {
             vk::StoreLE<uint64_t>(img.bytes.data() + 0x30, 1ull << 40);
         },
         0,
         {"/a/b/f20.txt"},
         {}},
        {"$MFT and its mirror past the volume",
         [&](ImageBytes& img, FailingDevice*&) {
             vk::StoreLE<uint64_t>(img.bytes.data() + 0x30, 1ull << 40);
             vk::StoreLE<uint64_t>(img.bytes.data() + 0x38, 1ull << 40);
         },
         MakeResult(kModuleNTFSQuickSearch, 0, kErrNTFSNoMFT),
         {},
         {}},
        {"3 sectors per cluster",
         [&](ImageBytes& img, FailingDevice*&) { img.bytes[13] = 3; },
         MakeResult(kModuleNTFSQuickSearch, 0, kErrNTFSNotNTFSVolume),
         {},
         {}},
        {"4 GiB file records",
         [&](ImageBytes& img, FailingDevice*&) { img.bytes[0x40] = 0xE0; },
         MakeResult(kModuleNTFSQuickSearch, 0, kErrNTFSNotNTFSVolume),
         {},
         {}},
        {"a file's runs leave the volume",
         [&](ImageBytes& img, FailingDevice*&) {
             img.Patch(f20, [&](uint8_t* r) {
                 const size_t data = img.AttributeOf(f20, 0x80);
                 const size_t runs = data + vk::LoadLE<uint16_t>(r + data + 0x20);
                 // one cluster at LCN 0x7FFFFFFF
                 const uint8_t pairs[] = {0x41, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 0x00};
                 std::memcpy(r + runs, pairs, sizeof(pairs));
             });
         },
         0,
         {"/a/b/f20.txt", "/a/b/f21.txt"},
         {}},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        ImageBytes img = base;
        FailingDevice* failing = nullptr;
        c.damage(img, failing);
        std::unique_ptr<IStorageDevice> device(failing ? static_cast<IStorageDevice*>(failing)
                                                       : new MemoryStorageDevice(img.bytes, 512));
        QuickScan scan(device.get());
        const VKRESULT result = scan.Run();
        if (c.code == 0) {
            EXPECT_EQ(result, VK_OK);
            ASSERT_FALSE(scan.progress.states.empty());
            EXPECT_EQ(scan.progress.states.back(), PROGRESS_FINISHED);
        } else {
            EXPECT_TRUE(ResultIs(result, kModuleNTFSQuickSearch, ResultErrorOf(c.code)))
                << std::hex << result;
        }
        const auto paths = scan.Paths();
        for (const std::string& p : c.present)
            EXPECT_TRUE(paths.count(p)) << p;
        for (const std::string& p : c.absent)
            EXPECT_FALSE(paths.count(p)) << p;
        // Runs that leave the volume are dropped: nothing from elsewhere is
        // read into the file.
        if (std::string(c.what) == "a file's runs leave the volume") {
            for (IFileNode* n : scan.tree.shown) {
                auto* node = dynamic_cast<CNTFSFileNode*>(n);
                if (node != nullptr && std::string(node->GetFileName()) == "f20.txt") {
                    EXPECT_FALSE(node->GetNTFSFileProperties()->HasDataRuns());
                }
            }
        }
    }
    // A stop during the walk still ends with the finished state.
    MemoryStorageDevice device(base.bytes, 512);
    QuickScan stopped(&device);
    stopped.progress.stopAfter = 1;
    EXPECT_EQ(stopped.Run(), VK_OK);
    EXPECT_EQ(stopped.progress.states.back(), PROGRESS_FINISHED);
    CNTFSQuickSearch bare;
    RecordingProgress progress;
    EXPECT_TRUE(ResultIs(bare.QuickSearchFiles(nullptr, &progress), kModuleNTFSQuickSearch,
                         kErrNTFSNoDeviceOrProgress));
    EXPECT_TRUE(ResultIs(bare.QuickSearchFiles(&device, nullptr), kModuleNTFSQuickSearch,
                         kErrNTFSNoDeviceOrProgress));
    EXPECT_EQ(bare.GetSearchedPartitionInfo(nullptr, 0), 0);
}

// An unreadable piece of the $MFT must never be parsed from what the buffer
// held before: every node keeps the name its record number has on the
// intact volume.
TEST_F(NTFSQuickScanTest, UnreadablePiecesNeverLendStaleRecords) {
    const ImageBytes base(LoadBytes("ntfs"));
    std::map<long long, std::set<std::string>> truth;
    {
        MemoryStorageDevice device(base.bytes, 512);
        QuickScan scan(&device);
        ASSERT_EQ(scan.Run(), VK_OK);
        for (IFileNode* n : scan.tree.shown)
            if (dynamic_cast<CNTFSFileNode*>(n) != nullptr)
                truth[n->GetCurrentNodeID()].insert(n->GetFileName());
    }
    FailingDevice* failing = new FailingDevice(base.bytes, 512);
    std::unique_ptr<IStorageDevice> owner(failing);
    // Every other 4 KiB of the $MFT past its first records.
    for (long long s = static_cast<long long>(base.RecordAt(40) / 512);
         s < static_cast<long long>(base.RecordAt(130) / 512); s += 16)
        for (int k = 0; k < 8; ++k)
            failing->bad.insert(s + k);
    QuickScan scan(failing);
    ASSERT_EQ(scan.Run(), VK_OK);
    EXPECT_GT(scan.searcher.DamagedCount(), 0u);
    size_t shown = 0;
    for (IFileNode* n : scan.tree.shown) {
        // The builder's own folders (lost files) are no records.
        if (dynamic_cast<CNTFSFileNode*>(n) == nullptr)
            continue;
        ++shown;
        ASSERT_TRUE(truth.count(n->GetCurrentNodeID())) << n->GetFileName();
        EXPECT_TRUE(truth.at(n->GetCurrentNodeID()).count(n->GetFileName()))
            << n->GetFileName() << " shown as record " << n->GetCurrentNodeID();
    }
    EXPECT_GT(shown, 10u);
}

TEST_F(NTFSQuickScanTest, DamagedLogFileIsReadAsFarAsItIsSound) {
    const ImageBytes base(LoadBytes("ntfs_log"));
    // The $LogFile's first cluster, from record 2's runs.
    std::vector<uint8_t> rec2(base.bytes.begin() + static_cast<long>(base.RecordAt(2)),
                              base.bytes.begin() + static_cast<long>(base.RecordAt(2) + 1024));
    CNTFSFileRecord record(rec2.data(), rec2.size());
    CNTFSDataRunList runs;
    int64_t size = 0;
    ASSERT_TRUE(
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, false, &size));
    const size_t log = static_cast<size_t>(runs.GetLCN(0) * 4096);
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        bool restored;
    };
    auto page = [&](std::vector<uint8_t>& b, int n) {
        return b.data() + log + static_cast<size_t>(n) * 4096;
    };
    const Case cases[] = {
        {"restart pages gone",
         [&](std::vector<uint8_t>& b) { std::memset(page(b, 0), 0, 2 * 4096); }, true},
        {"first record's length past the page",
         [&](std::vector<uint8_t>& b) { vk::StoreLE<uint32_t>(page(b, 4) + 64 + 24, 0x100000); },
         false},
        {"record page torn", [&](std::vector<uint8_t>& b) { page(b, 4)[1022] ^= 1; }, false},
        {"every page a record page of garbage",
         [&](std::vector<uint8_t>& b) {
             for (int n = 6; n < 64; ++n) {
                 uint8_t* p = page(b, n);
                 for (int i = 0; i < 4096; ++i)
                     p[i] = static_cast<uint8_t>(i * 131 + n);
                 std::memcpy(p, "RCRD", 4);
             }
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = base.bytes;
        c.damage(bytes);
        MemoryStorageDevice device(bytes, 512);
        QuickScan scan(&device);
        ASSERT_EQ(scan.Run(), VK_OK);
        const auto paths = scan.Paths();
        ASSERT_TRUE(paths.count("/logged.bin"));
        EXPECT_EQ(paths.at("/logged.bin")->GetFileSize() == 81920, c.restored);
        EXPECT_TRUE(paths.count("/filler.bin"));
    }
}

}  // namespace
