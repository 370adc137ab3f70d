// Round trips through the real engine: a scan of each fixture image is
// saved, loaded into a fresh controller and tree builder, and compared with
// the scan itself: the same trees (paths, sizes, times, deleted flags, every
// run) and the same bytes recovered from each file.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
#include "RecoveryControllers.h"
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
