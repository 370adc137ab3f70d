// Round trips through the real engine: a scan of each fixture image is
// saved, loaded into a fresh controller and tree builder, and compared with
// the scan itself: the same trees (paths, sizes, times, deleted flags, every
// run) and the same bytes recovered from each file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataRun.h"
#include "EngineResultAdapters.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "LostRanges.h"
#include "RecoveryControllers.h"
#include "RecoveryInterfaces.h"
#include "ResultCode.h"
#include "SaveRestore.h"
#include "SearchInterfaces.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "support/EngineRows.h"
#include "support/TestSupport.h"

namespace {

using namespace SaveRestoreResult;
using velmora::test::TempDir;

struct Tree : IDrirectoryTree {
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode* root) override { roots.push_back(root); }
    std::vector<IFileNode*> shown;
    std::vector<IFilesystemNode*> roots;
};

struct Progress : IProgress {
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

IFileNode* TopOf(IFileNode* node) {
    IFileNode* top = node;
    for (int i = 0; top->GetParent() != nullptr && i < (1 << 20); ++i)
        top = top->GetParent();
    return top;
}

// Everything a tree shows of a node, as one line.
std::string Fingerprint(IFileNode* node) {
    std::string path = node->GetFileName() ? node->GetFileName() : "";
    for (IFileNode* p = node->GetParent(); p != nullptr && p->GetParent() != nullptr;
         p = p->GetParent())
        path = std::string(p->GetFileName() ? p->GetFileName() : "") + "/" + path;
    std::string line =
        std::to_string(TopOf(node)->GetSearcheType()) + "|" + path + "|" +
        std::to_string(node->IsDirectory()) + "|" + std::to_string(node->GetFileSize()) + "|" +
        std::to_string(node->GetCreationTime()) + "|" +
        std::to_string(node->GetModificationTime()) + "|" +
        std::to_string(node->GetLastAccessTime()) + "|" + std::to_string(node->IsDeleted()) + "|" +
        std::to_string(node->IsCompressed()) + "|";
    if (auto* f = dynamic_cast<CFileNode*>(node); f && f->GetDataRunList()) {
        IDataRunList* list = f->GetDataRunList()->Clone();
        for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
            line += std::to_string(r->start) + "+" + std::to_string(r->length) + ",";
        list->Release();
    }
    return line;
}

// The scanned image, opened as the scan driver opens it.
std::unique_ptr<IStorageDevice> OpenImage(const std::string& image, bool quick, int fsType,
                                          int sectorSize) {
    std::unique_ptr<IStorageDevice> device(quick ? CreateVolumeDevice(image.c_str())
                                                 : CreateDiskDevice(image.c_str()));
    if (!device || device->Open(nullptr) == 0)
        return nullptr;
    struct stat st {};
    ::stat(image.c_str(), &st);
    const long long sectors = st.st_size / sectorSize;
    if (quick) {
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = fsType;
        record->sectorSize = sectorSize;
        record->totalSectors = sectors;
        record->partitionNumber = -1;
        std::snprintf(record->volumeName, sizeof record->volumeName, "%s",
                      std::filesystem::path(image).filename().c_str());
        device->SetPrivateData(CreateVolumeDeviceData(record));
    } else if (sectorSize != device->GetSectorSize()) {
        auto* record = new CCollectDiskDeviceInfoStruct{};
        record->flag = 1;
        record->sectorSize = sectorSize;
        record->totalSectors = sectors;
        device->SetPrivateData(CreateDiskDeviceData(record));
    }
    return device;
}

// Recovers every file a tree shows; the bytes (or the failure) by
// fingerprint.
std::map<std::string, std::string> Recover(IRecoveryController* controller, const Tree& tree,
                                           const std::string& folder) {
    std::map<std::string, std::string> out;
    std::map<int, IDataRecovery*> recoveries;
    std::filesystem::create_directories(folder);
    int n = 0;
    for (IFileNode* node : tree.shown) {
        if (node->IsDirectory() || node->GetParent() == nullptr)
            continue;
        int type = node->GetSearcheType();
        if (type == SEARCHER_NONE)
            type = TopOf(node)->GetSearcheType();
        if (type == SEARCHER_RAW_LABEL)
            type = SEARCHER_RAW;
        auto it = recoveries.find(type);
        if (it == recoveries.end())
            it =
                recoveries
                    .emplace(type, controller->GetDataRecovery(static_cast<_tagSearcherType>(type)))
                    .first;
        std::string& result = out[Fingerprint(node)];
        IFileReader* reader = it->second ? it->second->SetRecoverNode(node) : nullptr;
        if (reader == nullptr) {
            result = "not readable";
            continue;
        }
        reader->Release();
        const std::string path = folder + "/" + std::to_string(n++);
        const VKRESULT code = it->second->RecoverTo(path.c_str(), nullptr, 0);
        result = "code " + std::to_string(code) + ":";
        if (std::filesystem::exists(path))
            result += velmora::test::ReadText(path);
        std::filesystem::remove(path);
    }
    for (auto& [type, recovery] : recoveries) {
        if (recovery)
            recovery->Release();
    }
    return out;
}

struct Case {
    const char* image;  // below the build's fixtures folder
    bool quick;
    int fsType;
    int sectorSize = 512;
};

class ResultRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(ResultRoundTrip, LoadedTreesAndRecoveredBytesMatchTheScan) {
    const Case c = GetParam();
    TempDir dir;
    std::string image = velmora::test::BinaryDir() + "/fixtures/" + c.image;
    // The NTFS compressed-file image is committed packed.
    if (std::string(c.image) == "ntfs-compressed.img") {
        std::string bytes;
        ASSERT_TRUE(velmora::test::RunProgram(
            {"gzip", "-dc",
             velmora::test::SourceDir() +
                 "/tests/fixtures/ntfs_compressed/committed/ntfs-compressed.img.gz"},
            &bytes));
        image = dir / c.image;
        velmora::test::WriteFile(image, bytes);
    }
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";

    velmora::test::ScopedEngineRows rows;
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    std::unique_ptr<IStorageDevice> device = OpenImage(image, c.quick, c.fsType, c.sectorSize);
    ASSERT_TRUE(device);

    // The scan, saved.
    Tree scanned;
    Progress progress;
    IRecoveryController* controller = CreateRecoveryController(
        c.quick ? RECOVERY_CONTROLLER_DELETED : RECOVERY_CONTROLLER_PARTITION);
    controller->Initialize(filter);
    ASSERT_EQ(controller->StartDataRecovery(device.get(), &progress, &scanned), VK_OK);
    const std::string result = dir / "scan.Velmora";
    const int volumeIndex = c.quick ? 0 : -1;
    {
        ControllerResultSource source(controller, {c.quick ? 0 : 2, c.quick ? 0 : 1},
                                      DeviceRecordOf(device.get(), 0, volumeIndex), scanned.roots);
        ASSERT_EQ(SaveScanResult(result, nullptr, &source), kResultOk);
    }

    // Loaded into a fresh controller and tree builder.
    Tree loaded;
    DiskVolumeRecord record = DeviceRecordOf(device.get(), 0, volumeIndex);
    SingleDeviceCatalogue catalogue(device.get(),
                                    {0, volumeIndex, record.name, record.fileSystem, record.size});
    EngineReplayRunner runner(&loaded);
    ASSERT_EQ(RestoreScanResult(result, nullptr, "", &catalogue, &runner), kResultOk);
    ASSERT_NE(runner.Controller(), nullptr);

    std::vector<std::string> a, b;
    for (IFileNode* n : scanned.shown)
        a.push_back(Fingerprint(n));
    for (IFileNode* n : loaded.shown)
        b.push_back(Fingerprint(n));
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
    EXPECT_EQ(scanned.roots.size(), loaded.roots.size());

    const auto bytesA = Recover(controller, scanned, dir / "a");
    const auto bytesB = Recover(runner.Controller(), loaded, dir / "b");
    EXPECT_EQ(bytesA.size(), bytesB.size());
    int recovered = 0;
    for (const auto& [key, bytes] : bytesA) {
        auto it = bytesB.find(key);
        ASSERT_NE(it, bytesB.end()) << key;
        EXPECT_TRUE(it->second == bytes) << key;
        recovered += bytes.rfind("code 0:", 0) == 0 ? 1 : 0;
    }
    EXPECT_GT(recovered, 0);
    controller->Release();
}

// Result files an earlier version saved (the fuzz seeds: real scans of the
// fixture volumes, without checks over their frames) still load whole over
// their volumes: nothing in them counts as damaged.
TEST(ResultFilesOfEarlierVersions, LoadWholeOverTheirVolumes) {
    const struct {
        const char* seed;
        const char* image;
        bool quick;
        int fsType;
    } seeds[] = {{"fat16_quick.Velmora", "fat/fat16.img", true, FS_FAT16},
                 {"ntfs_quick.Velmora", "ntfs/ntfs.img", true, FS_NTFS},
                 {"card_deep.Velmora", "fatdeep/card_reformatted.img", false, FS_UNKNOWN}};
    for (const auto& s : seeds) {
        SCOPED_TRACE(s.seed);
        const std::string image = velmora::test::BinaryDir() + "/fixtures/" + s.image;
        if (!std::filesystem::exists(image))
            GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
        velmora::test::ScopedEngineRows rows;
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        std::unique_ptr<IStorageDevice> device = OpenImage(image, s.quick, s.fsType, 512);
        ASSERT_TRUE(device);
        const int volumeIndex = s.quick ? 0 : -1;
        DiskVolumeRecord record = DeviceRecordOf(device.get(), 0, volumeIndex);
        SingleDeviceCatalogue catalogue(
            device.get(), {0, volumeIndex, record.name, record.fileSystem, record.size});
        Tree loaded;
        EngineReplayRunner runner(&loaded);
        const std::string seed =
            velmora::test::SourceDir() + "/fuzz/corpus/fuzz_result_loader/" + s.seed;
        EXPECT_EQ(RestoreScanResult(seed, nullptr, "", &catalogue, &runner), kResultOk);
        EXPECT_EQ(LastLoadReport().recordsDropped, 0);
        EXPECT_FALSE(loaded.shown.empty());
    }
}

// A scanned volume saved and loaded back, then one file of it recovered by
// path from the loaded tree.
struct LoadedScan {
    std::unique_ptr<IStorageDevice> device;
    IRecoveryController* scanController = nullptr;
    Tree scanned;
    Tree loaded;
    std::unique_ptr<EngineReplayRunner> runner;
    ~LoadedScan() {
        runner.reset();
        if (scanController)
            scanController->Release();
    }
};

std::string PathOf(IFileNode* node) {
    std::string path = node->GetFileName() ? node->GetFileName() : "";
    for (IFileNode* p = node->GetParent(); p != nullptr && p->GetParent() != nullptr;
         p = p->GetParent())
        path = std::string(p->GetFileName() ? p->GetFileName() : "") + "/" + path;
    return "/" + path;
}

IFileNode* FindShown(const Tree& tree, const std::string& path) {
    for (IFileNode* n : tree.shown) {
        if (!n->IsDirectory() && n->GetParent() != nullptr && PathOf(n) == path)
            return n;
    }
    return nullptr;
}

std::string ShownPaths(const Tree& tree) {
    std::string out;
    for (IFileNode* n : tree.shown)
        out += PathOf(n) + " ";
    return out;
}

// Recovers one node through its searcher's data-recovery object: the result
// and the bytes written (empty when no file was left).
VKRESULT RecoverOne(IRecoveryController* controller, IFileNode* node, const std::string& path,
                    std::string* bytes, long long* lost = nullptr) {
    int type = TopOf(node)->GetSearcheType();
    IDataRecovery* recovery = controller->GetDataRecovery(static_cast<_tagSearcherType>(type));
    if (recovery == nullptr)
        return static_cast<VKRESULT>(-1);
    IFileReader* reader = recovery->SetRecoverNode(node);
    VKRESULT code = static_cast<VKRESULT>(-1);
    if (reader != nullptr) {
        reader->Release();
        code = recovery->RecoverTo(path.c_str(), nullptr, 0);
        if (lost)
            *lost = recovery->GetLostRanges().TotalBytes();
    }
    recovery->Release();
    bytes->clear();
    if (std::filesystem::exists(path))
        *bytes = velmora::test::ReadText(path);
    return code;
}

// While it lives no file this process writes may grow past `bytes`: a
// recovery that wrote past what a file holds fails there instead of
// filling the disk the tests run on.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = std::min(bytes, old_.rlim_max);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// Hostile result files from the generator beside the fixtures, loaded over
// the volume they describe (a sparse image whose sectors 5 and 6 hold 'A'
// and 'B') and recovered through the engine. A size far past the one
// cluster a file's runs hold gives that cluster and a file reported
// incomplete with the rest lost, never a destination filled with zeros;
// a valid length kept beside the records gives zeros past it.
TEST(HostileResultFiles, RecoveryGivesWhatTheRunsHoldAndZerosPastTheValidLength) {
    TempDir dir;
    const std::string files = dir / "files";
    ASSERT_TRUE(velmora::test::RunProgram(
        {"python3", velmora::test::SourceDir() + "/tests/fixtures/results/hostile_results.py",
         files}));
    const auto manifest = nlohmann::json::parse(velmora::test::ReadText(files + "/manifest.json"));
    const long long sectors = manifest["device"]["sectors"].get<long long>();
    // Named as the stored device, which the load matches by name and size.
    const std::string image = dir / "vol";
    {
        std::string head(7 * 512, '\0');
        std::fill(head.begin() + 5 * 512, head.begin() + 6 * 512, 'A');
        std::fill(head.begin() + 6 * 512, head.end(), 'B');
        velmora::test::WriteFile(image, head);
        std::filesystem::resize_file(image, static_cast<uintmax_t>(sectors) * 512);
    }
    velmora::test::ScopedEngineRows rows;
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    std::unique_ptr<IStorageDevice> device = OpenImage(image, true, FS_FAT16, 512);
    ASSERT_TRUE(device);
    SingleDeviceCatalogue catalogue(device.get(), {0, 0, "vol", FS_FAT16, sectors * 512});
    FileSizeLimit limit(64u << 20);

    int claims = 0;
    for (const auto& f : manifest["files"]) {
        if (!f.contains("claimed"))
            continue;
        ++claims;
        const std::string name = f["path"];
        SCOPED_TRACE(name);
        Tree loaded;
        EngineReplayRunner runner(&loaded);
        ASSERT_EQ(RestoreScanResult(files + "/" + name, nullptr, "", &catalogue, &runner),
                  kResultOk);
        const std::string stored = f["names"].back();
        IFileNode* node = FindShown(loaded, "/dir/" + stored);
        ASSERT_NE(node, nullptr) << ShownPaths(loaded);
        EXPECT_EQ(node->GetFileSize(), f["claimed"].get<long long>());
        std::string bytes;
        long long lost = 0;
        const VKRESULT code =
            RecoverOne(runner.Controller(), node, dir / ("out-" + stored), &bytes, &lost);
        EXPECT_TRUE(ResultIs(code, kModuleDataRecovery, kErrRecoveryIncomplete)) << code;
        // Never printed whole: with the cap gone it would be the limit's size.
        EXPECT_EQ(bytes.size(), f["covered"].get<size_t>());
        EXPECT_TRUE(bytes == std::string(f["covered"].get<size_t>(), 'B'));
        EXPECT_EQ(lost, f["claimed"].get<long long>() - f["covered"].get<long long>());
    }
    EXPECT_EQ(claims, 2);

    // a.txt is 100 bytes of sector 5, of which the first 10 were written.
    for (const auto& [name, valid] : {std::pair<std::string, size_t>{"sound_checked", 100},
                                      std::pair<std::string, size_t>{"valid_length", 10}}) {
        SCOPED_TRACE(name);
        Tree loaded;
        EngineReplayRunner runner(&loaded);
        ASSERT_EQ(
            RestoreScanResult(files + "/" + name + ".Velmora", nullptr, "", &catalogue, &runner),
            kResultOk);
        IFileNode* node = FindShown(loaded, "/dir/a.txt");
        ASSERT_NE(node, nullptr) << ShownPaths(loaded);
        std::string bytes;
        EXPECT_EQ(RecoverOne(runner.Controller(), node, dir / ("a-" + name), &bytes), VK_OK);
        EXPECT_EQ(bytes, std::string(valid, 'A') + std::string(100 - valid, '\0'));
    }
}

// Files whose data ends before their size (NTFS initialized size below the
// data size, exFAT valid data length) come back from a loaded result as
// from the scan: the written bytes, then zeros where their clusters still
// hold older data. NTFS is compared with Sleuth Kit's icat, exFAT with its
// manifest (Sleuth Kit ignores exFAT's valid data length).
TEST(ResultFilesKeepTheValidDataLength, LoadedFilesReadZerosPastIt) {
    TempDir dir;
    const std::string ntfsImage = velmora::test::BinaryDir() + "/fixtures/ntfs/ntfs_init.img";
    const std::string exfatCommitted = velmora::test::BinaryDir() + "/fixtures/exfat/exfat.img";
    if (!std::filesystem::exists(ntfsImage) || !std::filesystem::exists(exfatCommitted))
        GTEST_SKIP() << "the fixture images were not made (the \"fixtures\" test)";
    const std::string exfatImage = dir / "exfat_valid.img";
    ASSERT_TRUE(velmora::test::RunProgram(
        {"python3", velmora::test::SourceDir() + "/tests/fixtures/exfat/make_valid_length.py",
         exfatCommitted, exfatImage, "fragA.bin", "5000"}));
    const auto exfatManifest =
        nlohmann::json::parse(velmora::test::ReadText(dir / "exfat_valid.json"));

    // What the reference says each file holds.
    struct Expect {
        std::string path;
        std::string bytes;
        long long valid;
    };
    auto sha256 = [&](const std::string& bytes) {
        const std::string file = dir / "sha-input";
        velmora::test::WriteFile(file, bytes);
        std::string out;
        velmora::test::RunProgram({"sha256sum", file}, &out);
        return out.substr(0, 64);
    };
    struct Volume {
        std::string image;
        int fsType;
        std::vector<std::string> paths;
    };
    const Volume volumes[] = {{ntfsImage, FS_NTFS, {"/init.bin", "/part/mid.bin"}},
                              {exfatImage, FS_EXFAT, {"/fragA.bin"}}};
    for (const Volume& v : volumes) {
        SCOPED_TRACE(v.image);
        velmora::test::ScopedEngineRows rows;
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        std::unique_ptr<IStorageDevice> device = OpenImage(v.image, true, v.fsType, 512);
        ASSERT_TRUE(device);
        Tree scanned;
        Progress progress;
        IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_DELETED);
        controller->Initialize(filter);
        ASSERT_EQ(controller->StartDataRecovery(device.get(), &progress, &scanned), VK_OK);
        const std::string result = dir / "scan.Velmora";
        {
            ControllerResultSource source(controller, {0, 0}, DeviceRecordOf(device.get(), 0, 0),
                                          scanned.roots);
            ASSERT_EQ(SaveScanResult(result, nullptr, &source), kResultOk);
        }
        Tree loaded;
        DiskVolumeRecord record = DeviceRecordOf(device.get(), 0, 0);
        SingleDeviceCatalogue catalogue(device.get(),
                                        {0, 0, record.name, record.fileSystem, record.size});
        EngineReplayRunner runner(&loaded);
        ASSERT_EQ(RestoreScanResult(result, nullptr, "", &catalogue, &runner), kResultOk);

        for (const std::string& path : v.paths) {
            SCOPED_TRACE(path);
            std::string reference;
            if (v.fsType == FS_NTFS) {
                if (!VELMORA_HAVE_TOOL(velmora::test::RunProgram({"icat", "-V"}) &&
                                           velmora::test::RunProgram({"ifind", "-V"}),
                                       "Sleuth Kit (icat, ifind)"))
                    continue;
                std::string inode;
                ASSERT_TRUE(
                    velmora::test::RunProgram({"ifind", "-n", path.substr(1), v.image}, &inode));
                while (!inode.empty() && std::isspace(static_cast<unsigned char>(inode.back())))
                    inode.pop_back();
                ASSERT_TRUE(velmora::test::RunProgram({"icat", v.image, inode}, &reference));
            }
            IFileNode* fromScan = FindShown(scanned, path);
            IFileNode* fromLoad = FindShown(loaded, path);
            ASSERT_NE(fromScan, nullptr);
            ASSERT_NE(fromLoad, nullptr);
            auto* scannedFile = dynamic_cast<CFileNode*>(fromScan);
            auto* loadedFile = dynamic_cast<CFileNode*>(fromLoad);
            ASSERT_TRUE(scannedFile && loadedFile);
            // The fixture is what it says: its data ends before its size.
            ASSERT_GE(scannedFile->GetValidDataLength(), 0);
            ASSERT_LT(scannedFile->GetValidDataLength(), fromScan->GetFileSize());
            EXPECT_EQ(loadedFile->GetValidDataLength(), scannedFile->GetValidDataLength());
            std::string bytes;
            EXPECT_EQ(RecoverOne(runner.Controller(), fromLoad, dir / "loaded-out", &bytes), VK_OK);
            ASSERT_EQ(static_cast<long long>(bytes.size()), fromScan->GetFileSize());
            const auto valid = static_cast<size_t>(scannedFile->GetValidDataLength());
            EXPECT_EQ(bytes.find_first_not_of('\0', valid), std::string::npos);
            if (v.fsType == FS_NTFS) {
                EXPECT_TRUE(bytes == reference) << "differs from icat";
            } else {
                bool listed = false;
                for (const auto& vol : exfatManifest["volumes"]) {
                    for (const auto& file : vol["files"]) {
                        if (file["path"] == path) {
                            listed = true;
                            EXPECT_EQ(sha256(bytes), file["sha256"].get<std::string>());
                        }
                    }
                }
                EXPECT_TRUE(listed);
            }
            std::filesystem::remove(dir / "loaded-out");
        }
        controller->Release();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ResultRoundTrip,
    ::testing::Values(Case{"fat/fat16.img", true, FS_FAT16}, Case{"fat/fat32.img", true, FS_FAT32},
                      Case{"exfat/exfat.img", true, FS_EXFAT}, Case{"ntfs/ntfs.img", true, FS_NTFS},
                      Case{"ntfs/ntfs_4kdev.img", true, FS_NTFS, 4096},
                      Case{"ntfs-compressed.img", true, FS_NTFS},
                      Case{"hfsplus/hfsplus.img", true, FS_HFSPLUS},
                      Case{"apfs/apfs-gpt.img", false, FS_UNKNOWN},
                      Case{"hfsplus/hfsplus-gpt-zapped.img", false, FS_UNKNOWN},
                      // Lost partition tables: every file system and the
                      // signature search over one disk.
                      Case{"wholedisk/wholedisk_notable.img", false, FS_UNKNOWN}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = std::filesystem::path(info.param.image).stem().string();
        std::replace_if(
            name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
        return name;
    });

}  // namespace
