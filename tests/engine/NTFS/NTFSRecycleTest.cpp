// Recycle bins end to end: the nodes of an NTFS volume (from its records)
// and of a FAT volume (from the FAT quick search) go through the real tree
// builder, which reads each "$I" index file through the NTFS reader of the
// factory table and gives its "$R" file (or folder) the original name.
#include <gtest/gtest.h>

#include <memory>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "FATFileNode.h"
#include "FATQuickSearch.h"
#include "IRecoveryFilter.h"
#include "NTFSLib/NTFSVolume.h"
#include "NtfsFixtures.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "support/EngineRows.h"

using namespace ntfstest;
using velmora::test::MemoryStorageDevice;
using velmora::test::TempDir;

namespace {

class CollectingTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    std::vector<IFileNode*> shown;
};

std::string NodePath(IFileNode* node) {
    std::string path;
    for (IFileNode* n = node; n && n->GetParent(); n = n->GetParent())
        path = "/" + std::string(n->GetFileName() ? n->GetFileName() : "") + path;
    return path;
}

// The paths the recycled entries of a manifest must end up at: the bin's
// folder and the original name (a recycled folder renames what is inside).
std::map<std::string, std::string> ExpectedNames(const std::string& manifest) {
    std::ifstream in(manifest);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, std::string> out;
    const std::regex entry(R"re("path": "([^"]*)",\s*"recycled_name": "([^"]*)")re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry);
         it != std::sregex_iterator(); ++it) {
        std::string path = (*it)[1];
        out[path] = path.substr(0, path.rfind('/') + 1) + std::string((*it)[2]);
    }
    return out;
}

struct Builder {
    Builder() {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("fixture", &tree, filter);
    }
    ~Builder() { builder->Release(); }
    std::set<std::string> Paths() const {
        std::set<std::string> out;
        for (IFileNode* n : tree.shown)
            out.insert(NodePath(n));
        return out;
    }
    IDirecotryTreeBuilder* builder;
    IRecoveryFilter* filter;
    CollectingTree tree;
};

void ExpectRecycledNames(const std::set<std::string>& paths, const std::string& manifest) {
    const auto expected = ExpectedNames(manifest);
    ASSERT_GE(expected.size(), 4u);
    for (const auto& [onDisk, original] : expected) {
        EXPECT_TRUE(paths.count(original)) << onDisk << " should be shown as " << original;
        EXPECT_FALSE(paths.count(onDisk)) << onDisk << " kept its recycled name";
    }
    // Index files are the bin's bookkeeping: never shown.
    for (const std::string& p : paths)
        EXPECT_EQ(p.find("/$I"), std::string::npos) << p;
}

class RecycleBinTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_ = std::make_unique<velmora::test::ScopedEngineRows>();
        CFATFileNode::SetTraceEnabled(false);
    }
    void TearDown() override { engine_.reset(); }

private:
    std::unique_ptr<velmora::test::ScopedEngineRows> engine_;
};

TEST_F(RecycleBinTest, NtfsRecycledFilesGetTheirOriginalNames) {
    if (FixtureDir().empty())
        GTEST_SKIP() << "the NTFS fixtures cannot be unpacked here";
    for (const auto& [name, sectorSize] :
         {std::pair<const char*, int>{"ntfs_log", 512}, {"ntfs_4k", 4096}}) {
        SCOPED_TRACE(name);
        auto device = MemoryStorageDevice::FromFile(Image(name), sectorSize);
        WalkedVolume walk;
        ASSERT_TRUE(WalkMft(*device, walk));
        Builder b;
        b.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
        for (WalkedRecord& w : walk.records) {
            if (!w.props || w.number < 16 || w.number == 5)
                continue;
            auto* node = new CNTFSFileNode();
            node->SetFileProperties(w.props.release());
            node->SetCurrentNodeID(w.number);
            node->SetParentNodeID(w.parent);
            if (!b.builder->AddNode(node, SEARCHER_NTFS))
                node->Release();
        }
        CSearchedPartitionInfo record(static_cast<unsigned>(sectorSize));
        record.fileSystemType = 3;
        record.sectorsPerCluster = walk.geometry.sectorsPerCluster;
        b.builder->SetPartitonDevice(&record, device.get());
        b.builder->FlashBuild(SEARCHER_NTFS);
        ExpectRecycledNames(b.Paths(), Manifest(name));
    }
}

TEST_F(RecycleBinTest, FatRecycledFilesGetTheirOriginalNames) {
    if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("python3"))
        GTEST_SKIP() << "mkfs.fat, mtools and python3 make the FAT fixture";
    TempDir dir;
    ASSERT_TRUE(velmora::test::RunProgram(
        {"sh", velmora::test::SourceDir() + "/tests/fixtures/recycle/make.sh", dir.path()}));
    const std::string image = dir.path() + "/recycle/fat_recycle.img";
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
    ASSERT_TRUE(device && device->Open(nullptr));
    auto* volume = new CCollectedVolumeDeviceInfoStruct{};
    volume->fileSystemType = FS_FAT16;
    volume->sectorSize = 512;
    volume->totalSectors = static_cast<long long>(std::filesystem::file_size(image)) / 512;
    volume->partitionNumber = -1;
    device->SetPrivateData(CreateVolumeDeviceData(volume));
    Builder b;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateFATQuickSearcher());
    searcher->SetDirecotryTreeBuilder(b.builder);
    struct Progress : IProgress {
        void UpdateProgress(_PROGRESS_INFO*) override {}
        int Continued() override { return 1; }
        int shouldBuild() override { return 1; }
    } progress;
    ASSERT_EQ(searcher->QuickSearchFiles(device.get(), &progress), VK_OK);
    ExpectRecycledNames(b.Paths(), dir.path() + "/recycle/fat_recycle.json");
}

}  // namespace
