// The HFS+ deep search on disks whose partition table or volume header is
// gone: the volume is found at its start with its block size, its tree
// equals the original's file for file, every file recovers whole; damaged
// surfaces end the scan without a phantom volume.
#include <gtest/gtest.h>

#include <set>

#include "ByteReader.h"
#include "DataRun.h"
#include "HFSPlusLib/HFSPlusStructs.h"
#include "HFSPlusSearch/HFSPlusDeepSearch.h"
#include "HfsTestSupport.h"
#include "TBitmap.h"

using namespace velmora::hfstest;
using velmora::test::MemoryStorageDevice;

namespace {

// A disk whose reads fail where they touch [badFirst, badFirst + badCount).
class PatchyDevice final : public MemoryStorageDevice {
public:
    PatchyDevice(std::vector<uint8_t> bytes, long long badFirst = -1, long long badCount = 0)
        : MemoryStorageDevice(std::move(bytes), 512, false) {
        if (badCount > 0)
            FailSectors(badFirst, badCount);
    }
};

struct DeepScan {
    explicit DeepScan(std::unique_ptr<IStorageDevice> disk) : device(std::move(disk)) {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("disk", &tree, filter);
    }
    ~DeepScan() {
        searcher.reset();
        if (builder)
            builder->Release();
    }
    void Run(long long blockSectors = 8192) {
        searcher->SetDevice(device.get());
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->SetIProgressSink(&progress);
        searcher->PreparetoSearch();
        const long long total = device->GetTotalSectors();
        for (long long s = 0; s < total; s += blockSectors)
            searcher->AnalyzeBlock(s, std::min(blockSectors, total - s));
        searcher->EndSearch(1);
    }
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> Partitions() {
        std::vector<std::unique_ptr<CSearchedPartitionInfo>> out;
        const int n = searcher->GetSearchedPartitionInfo(nullptr, 0);
        std::vector<CSearchedPartitionInfo*> raw(static_cast<size_t>(n), nullptr);
        const int made = searcher->GetSearchedPartitionInfo(raw.data(), n);
        for (int i = 0; i < made; ++i)
            out.emplace_back(raw[static_cast<size_t>(i)]);
        return out;
    }
    std::map<std::string, IFileNode*> Nodes() const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown)
            out[NodePath(n)] = n;
        return out;
    }
    // A node's bytes through the data-recovery object.
    std::vector<uint8_t> Read(IFileNode* node) {
        std::vector<uint8_t> out;
        IDataRecovery* recovery = CreateDataRecoveryObj();
        if (ResultSucceeded(recovery->Initialize(searcher.get(), device.get()))) {
            if (IFileReader* reader = recovery->SetRecoverNode(node)) {
                std::vector<char> buffer(4 << 20);
                int error = 0;
                const unsigned got = reader->ReadData(0, buffer.data(),
                                                      static_cast<unsigned>(buffer.size()), &error);
                out.assign(buffer.begin(), buffer.begin() + got);
                reader->Release();
            }
        }
        recovery->Release();
        return out;
    }

    std::unique_ptr<IStorageDevice> device;
    IDirecotryTreeBuilder* builder = nullptr;
    IRecoveryFilter* filter = nullptr;
    CollectingTree tree;
    RecordingProgress progress;
    std::unique_ptr<hfsplus::CHFSPlusCompleteFileSystemSearchController> searcher =
        std::make_unique<hfsplus::CHFSPlusCompleteFileSystemSearchController>();
};

class HFSPlusDeep : public ::testing::Test {
protected:
    void SetUp() override {
        if (FixtureDir().empty())
            GTEST_SKIP() << "the HFS+ fixtures cannot be made here (python3, sgdisk, parted)";
    }
    static std::vector<uint8_t> Bytes(const std::string& name) {
        return MemoryStorageDevice::FromFile(Image(name), 512)->Bytes();
    }
};

TEST_F(HFSPlusDeep, LostVolumesAreFoundAndListedWhole) {
    struct Row {
        const char* disk;
        long long start;
        long long blockSectors;  // the scan's block: small ones cut the volume's structures
    } rows[] = {
        {"hfsplus-gpt", 40, 8192},
        {"hfsplus-gpt-zapped", 40, 8192},
        {"hfsplus-novh", 40, 8192},
        {"hfsplus-apm", 2048, 8192},
        {"hfsplus-apm-wiped", 2048, 8192},
        {"hfsplus-gpt-zapped", 40, 3},
        {"hfsplus-novh", 40, 7},
        // The deleted files' records survive only outside the volume's
        // trees: in the buffer of a journal that cannot be replayed, or in
        // free blocks.
        {"hfsplus-nojournal", 40, 8192},
        {"hfsplus-freenodes", 40, 8192},
        // A volume whose catalog does not open is listed from its leaves,
        // at the start its headers give.
        {"hfsplus-nocatalog", 40, 8192},
    };
    const std::vector<Entry> manifest = ReadManifest("hfsplus");
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.disk << " in blocks of " << r.blockSectors);
        DeepScan scan(std::make_unique<MemoryStorageDevice>(Bytes(r.disk), 512));
        scan.Run(r.blockSectors);
        auto parts = scan.Partitions();
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0]->startSector, r.start);
        EXPECT_EQ(parts[0]->runOriginSector, r.start);
        EXPECT_EQ(parts[0]->sectorsPerCluster, 8u);
        // A volume without headers is taken to reach the disk's end.
        EXPECT_EQ(parts[0]->GetTotalSectors(),
                  std::string(r.disk) == "hfsplus-noheaders"
                      ? static_cast<unsigned long long>(scan.device->GetTotalSectors() - 40)
                      : 16384u);
        EXPECT_EQ(parts[0]->fileSystemType, FS_HFSPLUS);
        auto nodes = scan.Nodes();
        std::set<std::string> expected, got;
        for (const auto& [path, node] : nodes)
            got.insert(path);
        for (const Entry& e : manifest) {
            if (e.path.find("HFS+ Private Data") != std::string::npos)
                continue;
            expected.insert(e.path);
            if (!nodes.count(e.path) || e.type == "dir" || e.size == 0)
                continue;
            SCOPED_TRACE(e.path);
            IFileNode* n = nodes[e.path];
            EXPECT_EQ(n->IsDeleted(), e.state == "deleted" ? 1 : 0);
            EXPECT_EQ(n->GetFileSize(), e.size);
            if (r.blockSectors == 8192) {
                const std::vector<uint8_t> data = scan.Read(n);
                EXPECT_EQ(Sha256(data.data(), data.size()), e.sha256);
            }
        }
        EXPECT_EQ(got, expected);
    }
}

// Without either volume header the journal's two headers place the volume;
// without them too its start is a guess, and its files are marked damaged
// (a wrong start reads every file from the wrong place). An info block is
// told by its flag and its zero reserved words: one wrong in either places
// nothing.
TEST_F(HFSPlusDeep, FilesOfAVolumeNothingPlacesAreMarked) {
    const std::vector<uint8_t> placed = Bytes("hfsplus-noheaders");
    const size_t journalHeader = 40 * 512 + 29 * 4096;
    const size_t infoBlock = 40 * 512 + 28 * 4096;
    ASSERT_EQ(vk::LoadLE<uint32_t>(placed.data() + journalHeader), 0x4A4E4C78u);
    ASSERT_EQ(vk::LoadBE<uint32_t>(placed.data() + infoBlock), 1u);
    auto changed = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> b = placed;
        b[at] = value;
        return b;
    };
    const std::vector<uint8_t> unplaced = changed(journalHeader, 0);
    const std::vector<uint8_t> notInVolume = changed(infoBlock + 3, 0);
    const std::vector<uint8_t> reservedAtStart = changed(infoBlock + 52, 1);
    const std::vector<uint8_t> reservedInFirstLine = changed(infoBlock + 63, 1);
    const std::vector<uint8_t> reservedLater = changed(infoBlock + 179, 1);
    const struct {
        const char* what;
        const std::vector<uint8_t>& disk;
        long long start;
        bool marked;
    } cases[] = {
        {"journal kept", placed, 40, false},
        {"journal header wiped", unplaced, 0, true},
        {"info block says the journal is elsewhere", notInVolume, 0, true},
        {"info block's first reserved byte set", reservedAtStart, 0, true},
        {"info block's reserved byte 63 set", reservedInFirstLine, 0, true},
        {"info block's last reserved byte set", reservedLater, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeepScan scan(std::make_unique<MemoryStorageDevice>(c.disk, 512));
        // A map the scan already keeps: a guessed place claims no sector.
        TBitmap claimed;
        ASSERT_EQ(claimed.CreateBitmap(static_cast<long long>(c.disk.size() / 512 / 8), 8), 1);
        scan.searcher->SetBitmap(&claimed);
        scan.Run();
        auto parts = scan.Partitions();
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0]->startSector, c.start);
        long long claimedUnits = 0;
        for (long long u = 0; u <= claimed.GetMaxBitIndex(); ++u)
            claimedUnits += claimed.GetBit(u) != 0 ? 1 : 0;
        EXPECT_EQ(claimedUnits > 0, !c.marked);
        int files = 0;
        for (const auto& [path, node] : scan.Nodes()) {
            if (node->IsDirectory() || node->GetFileSize() == 0)
                continue;
            ++files;
            EXPECT_EQ(static_cast<CFileNode*>(node)->IsDamaged(), c.marked ? 1 : 0) << path;
        }
        EXPECT_GT(files, 10);
    }
}

// On a whole disk the live files' sectors are claimed in the scan's map, so
// that the signature search does not carve them a second time; deleted
// files' sectors, the last block of each file and what lies outside the
// volume stay free for it.
TEST_F(HFSPlusDeep, LiveFilesOfADiskAreClaimedForTheSignatureSearch) {
    DeepScan scan(std::make_unique<MemoryStorageDevice>(Bytes("hfsplus-gpt"), 512));
    TBitmap claimed;
    scan.searcher->SetBitmap(&claimed);
    scan.Run();
    ASSERT_NE(claimed.GetBitmapData(), nullptr);
    const long long unit = claimed.GetUnitSize();
    ASSERT_EQ(unit, 8);
    std::map<bool, int> files;  // by deleted
    for (const auto& [path, node] : scan.Nodes()) {
        auto* file = dynamic_cast<CFileNode*>(node);
        IDataRunList* list = file && !node->IsDirectory() ? file->GetDataRunList() : nullptr;
        if (!list)
            continue;
        std::vector<DataRun> runs;
        for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
            runs.push_back(*r);
        const bool deleted = node->IsDeleted() != 0;
        for (size_t i = 0; i < runs.size(); ++i) {
            const long long blocks = runs[i].length - (i + 1 == runs.size() ? 1 : 0);
            for (long long b = 0; b < blocks; ++b)
                EXPECT_EQ(claimed.GetBit(40 / unit + (runs[i].start + b)) != 0, !deleted)
                    << path << " block " << runs[i].start + b;
            if (i + 1 == runs.size()) {
                EXPECT_FALSE(claimed.GetBit(40 / unit + runs[i].start + blocks)) << path;
            }
        }
        ++files[deleted];
    }
    EXPECT_GT(files[false], 5);
    EXPECT_GT(files[true], 0);
    for (long long s = 0; s < 40; s += unit)
        EXPECT_FALSE(claimed.GetBit(s / unit)) << s;
}

TEST_F(HFSPlusDeep, DamagedSurfacesMakeNoPhantomVolume) {
    const std::vector<uint8_t> disk = Bytes("hfsplus-gpt-zapped");
    const size_t vh = 42 * 512;
    const uint64_t volumeEnd = 40 * 512 + (8 << 20);
    auto patched = [&](std::function<void(std::vector<uint8_t>&)> f) {
        return [&disk, f]() {
            std::vector<uint8_t> b = disk;
            f(b);
            return std::unique_ptr<IStorageDevice>(new MemoryStorageDevice(std::move(b), 512));
        };
    };
    auto bothHeaders = [&](size_t field, uint32_t value) {
        return patched([=](std::vector<uint8_t>& b) {
            for (size_t at : {vh, static_cast<size_t>(volumeEnd - 1024)})
                vk::StoreBE<uint32_t>(b.data() + at + field, value);
        });
    };
    struct Row {
        const char* what;
        std::function<std::unique_ptr<IStorageDevice>()> make;
        // Volumes expected (at sector 40), and whether the live file
        // zlib_rsrc.txt comes back as live (or only as a deleted copy).
        size_t volumes;
        bool liveFiles;
    };
    std::vector<Row> rows = {
        // Headers that cannot be taken leave the volume to its B-tree
        // leaves on the surface: found where it was, never elsewhere.
        {"volume cut short by the disk's end",
         [&]() {
             return std::unique_ptr<IStorageDevice>(new MemoryStorageDevice(
                 std::vector<uint8_t>(disk.begin(),
                                      disk.begin() + static_cast<long>(volumeEnd - 4096)),
                 512));
         },
         1, true},
        {"headers claim a volume larger than the disk", bothHeaders(44, 0x7FFFFFFF), 1, true},
        {"headers with an absurd block size", bothHeaders(40, 0x12340000), 1, true},
        {"header blocks unreadable, the backup header remains",
         [&]() { return std::unique_ptr<IStorageDevice>(new PatchyDevice(disk, 40, 8)); }, 1, true},
        // Only the journal's older copies of the catalog are left: the
        // files come back from them, as deleted ones.
        {"catalog gone", patched([&](std::vector<uint8_t>& b) {
             std::fill(b.begin() + 40 * 512 + 4 * 4096, b.begin() + 40 * 512 + 20 * 4096, 0);
         }),
         1, false},
        {"the whole disk unreadable",
         [&]() { return std::unique_ptr<IStorageDevice>(new PatchyDevice(disk, 0, 1 << 30)); }, 0,
         false},
        {"a lone volume header with nothing behind it",
         [&]() {
             std::vector<uint8_t> b(4 << 20, 0);
             std::copy(disk.begin() + static_cast<long>(vh),
                       disk.begin() + static_cast<long>(vh) + 512, b.begin() + 3 * 512);
             return std::unique_ptr<IStorageDevice>(new MemoryStorageDevice(std::move(b), 512));
         },
         0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        DeepScan scan(r.make());
        scan.Run(4096);
        auto parts = scan.Partitions();
        ASSERT_EQ(parts.size(), r.volumes);
        auto nodes = scan.Nodes();
        if (r.volumes == 0) {
            EXPECT_TRUE(nodes.empty());
            continue;
        }
        EXPECT_EQ(parts[0]->startSector, 40);
        ASSERT_TRUE(nodes.count("/docs/packed/zlib_rsrc.txt"));
        EXPECT_EQ(nodes["/docs/packed/zlib_rsrc.txt"]->IsDeleted(), r.liveFiles ? 0 : 1);
        ASSERT_TRUE(nodes.count("/docs/deleted.txt"));
        EXPECT_TRUE(nodes["/docs/deleted.txt"]->IsDeleted());
    }
}

TEST_F(HFSPlusDeep, ThroughTheScanControllersMatchesTheOriginalAndSleuthKit) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "the scan driver is not built in this configuration";
#else
    velmora::test::TempDir out;
    for (const char* name :
         {"hfsplus-gpt-zapped", "hfsplus-novh", "hfsplus-apm-wiped", "hfsplus-noheaders"}) {
        SCOPED_TRACE(name);
        const std::string folder = out / name;
        std::filesystem::create_directories(folder);
        std::string log;
        ASSERT_TRUE(
            velmora::test::RunProgram({"env", "TZ=UTC", VELMORA_SCAN_DRIVER, "--deep", "--only",
                                       "31", "--rounds", "1", "--recover", folder, Image(name)},
                                      &log))
            << log;
        const std::string marker = "recovered tree: ";
        const size_t at = log.find(marker);
        ASSERT_NE(at, std::string::npos) << log;
        const std::string tree =
            log.substr(at + marker.size(), log.find('\n', at) - at - marker.size());
        // The truth is the volume as it was before its disk lost its table
        // and header: hfsplus.img, read by Sleuth Kit as it stands.
        std::string report;
        EXPECT_TRUE(velmora::test::RunProgram({"python3", HereDir() + "/check_hfs_recovered.py",
                                               Manifest(name), tree, Image("hfsplus")},
                                              &report))
            << report;
    }
#endif
}

}  // namespace
