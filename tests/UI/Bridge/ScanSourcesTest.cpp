// The result trees, the recovery and saving and loading results fed from
// the program's own scan road: a scan of a fixture image through the
// facade (the scan operation over a catalogue of the image), read through
// the sources the program installs. The trees show every folder once and
// every file in the type and date trees, and a search finds what a
// case-insensitive name match over the image's manifest finds; ticked files
// are recovered whole, clashes numbered; a saved scan loads back into the
// same trees.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "FixtureManifest.h"
#include "ImageScanWorld.h"
#include "ScanSources.h"
#include "VKUIController.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"
#include "VKUIScan.h"
#include "VKUITreeData.h"

using velmora::bridgetest::FixturePath;
using velmora::bridgetest::ManifestFile;
using velmora::bridgetest::ManifestFiles;
using velmora::bridgetest::NotificationLog;
using velmora::bridgetest::ScanWorld;
using velmora::bridgetest::Sha256Of;
using velmora::test::RunProgram;
using velmora::test::TempDir;

namespace {

// "/Docs/report.pdf": the names below the root.
std::string PathBelowRoot(IFileNode* node) {
    std::string path;
    int steps = 0;
    for (; node != nullptr && node->GetParent() != nullptr && steps < 4096;
         node = node->GetParent(), ++steps)
        path.insert(0, "/" + std::string(node->GetFileName() ? node->GetFileName() : ""));
    return path;
}

// The program's sources over the world's catalogue, and the browser's four
// arrays handed to the trees, for one test.
class ProgramRoad {
public:
    explicit ProgramRoad(VKUIDeviceData& catalogue) {
        velmora::bridge::InstallScanSources(&catalogue);
        const VKTreeArrays arrays{&path, &type, &created, &modified};
        VKUIController::VKSetTreeNodeData(&arrays);
    }
    ~ProgramRoad() {
        VKUITreeData::instance().WaitSearch();
        VKUITreeData::instance().StopSearch();
        VKUIController::VKResetTreeNodeData();
        VKUITreeData::instance().UseArrays(nullptr, nullptr, nullptr, nullptr);
        velmora::bridge::UninstallScanSources();
    }
    ProgramRoad(const ProgramRoad&) = delete;
    ProgramRoad& operator=(const ProgramRoad&) = delete;

    // The folders of the path tree, as paths below their root; each once.
    std::multiset<std::string> PathTreeFolders() {
        std::multiset<std::string> folders;
        std::lock_guard<std::mutex> hold(VKUIController::TreeDataLock());
        std::vector<OpNodeData*> pending;
        for (const OpNodePtr& root : path)
            pending.push_back(root.get());
        while (!pending.empty()) {
            OpNodeData* node = pending.back();
            pending.pop_back();
            folders.insert(PathBelowRoot(node->fileNode()));
            for (const OpChild& child : node->children()) {
                if (const auto* sub = std::get_if<OpNodePtr>(&child))
                    pending.push_back(sub->get());
            }
        }
        return folders;
    }
    // The file leaves below the top nodes of one tree, each once.
    std::multiset<IFileNode*> Leaves(const std::vector<OpNodePtr>& top) {
        std::multiset<IFileNode*> leaves;
        std::lock_guard<std::mutex> hold(VKUIController::TreeDataLock());
        std::vector<OpNodeData*> pending;
        for (const OpNodePtr& node : top)
            pending.push_back(node.get());
        while (!pending.empty()) {
            OpNodeData* node = pending.back();
            pending.pop_back();
            for (const OpChild& child : node->children()) {
                if (const auto* sub = std::get_if<OpNodePtr>(&child))
                    pending.push_back(sub->get());
                else
                    leaves.insert(std::get<IFileNode*>(child));
            }
        }
        return leaves;
    }

    std::vector<OpNodePtr> path, type, created, modified;
};

std::vector<IFileNode*> TypedFiles() {
    std::vector<IFileNode*> out;
    for (const auto& [category, nodes] : VKUIScan::instance().GetTypeMap())
        out.insert(out.end(), nodes.begin(), nodes.end());
    return out;
}

std::multiset<std::string> FolderPaths() {
    std::multiset<std::string> out;
    for (IFileNode* node : VKUIScan::instance().VKGetAllPathNode())
        out.insert(PathBelowRoot(node));
    return out;
}

// Lays the manifest's deleted files (what a quick scan finds) out as empty
// files below `to`.
bool LayOut(const std::string& manifest, const std::string& to) {
    return RunProgram({"python3", "-c",
                       "import json, os, sys\n"
                       "m = json.load(open(sys.argv[1]))\n"
                       "for f in m['volumes'][0]['files']:\n"
                       "    p = sys.argv[2] + f['path']\n"
                       "    if f['type'] == 'dir':\n"
                       "        os.makedirs(p, exist_ok=True)\n"
                       "    elif f['state'] == 'deleted':\n"
                       "        os.makedirs(os.path.dirname(p), exist_ok=True)\n"
                       "        open(p, 'w').close()\n",
                       manifest, to});
}

std::set<std::string> Lines(const std::string& text, const std::string& cut) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(cut, 0) == 0)
            lines.insert(line.substr(cut.size()));
    }
    return lines;
}

// Drives the test's main loop until `done`, bounded.
bool RunUntil(ScanWorld& world, const std::function<bool()>& done, int seconds = 120) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        world.world.poster->RunPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    world.world.poster->RunPending();
    return true;
}

struct ImageCase {
    const char* image;
    const char* manifest;
    int32_t fileSystem;
};

class TreesFromTheScanRoad : public ::testing::TestWithParam<ImageCase> {};

TEST_P(TreesFromTheScanRoad, TreesHoldTheScanAndTheSearchFindsWhatFindFinds) {
    const ImageCase c = GetParam();
    const std::string image = FixturePath(c.image);
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
    ScanWorld world(image, {{-1, 0, c.fileSystem}});
    ProgramRoad road(world.catalogue);
    NotificationLog refreshed("NormalScranValue");
    ASSERT_TRUE(world.ScanToEnd(0, 0, false));
    world.world.poster->RunPending();
    EXPECT_GE(refreshed.objects.size(), 1u);

    // Every folder once in the browser's path tree; every file once in the
    // type tree and in each date tree that has its time.
    ASSERT_FALSE(road.path.empty());
    EXPECT_EQ(road.PathTreeFolders(), FolderPaths());
    const std::vector<IFileNode*> files = TypedFiles();
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(road.Leaves(road.type), std::multiset<IFileNode*>(files.begin(), files.end()));
    std::multiset<IFileNode*> modified;
    for (IFileNode* file : files) {
        if (file->GetModificationTime() != 0)
            modified.insert(file);
    }
    EXPECT_EQ(road.Leaves(road.modified), modified);
    ASSERT_EQ(road.modified.size(), 1u);
    EXPECT_EQ(VKUIController::GetNodeChildrenCnt(road.modified.front().get()), modified.size());

    TempDir dir;
    const std::string layout = dir / "layout";
    ASSERT_TRUE(LayOut(FixturePath(c.manifest), layout));
    for (const char* key : {"photo", "REPORT", ".TXT", "gone", "naïve", "e n", "zzz"}) {
        SCOPED_TRACE(key);
        std::string out;
        ASSERT_TRUE(RunProgram(
            {"find", layout, "-type", "f", "-iname", std::string("*") + key + "*"}, &out));
        const std::set<std::string> expected = Lines(out, layout);
        NotificationLog finished("DoSearchFinished");
        ASSERT_EQ(VKUIController::DoSearchWithString(key, "DoSearchValue"), 1);
        VKUITreeData::instance().WaitSearch();
        world.world.poster->RunPending();
        EXPECT_EQ(finished.objects.size(), 1u);
        std::vector<IFileNode*> hits;
        VKUIController::GetSearchResultToArr(hits);
        std::set<std::string> found;
        for (IFileNode* hit : hits)
            found.insert(PathBelowRoot(hit));
        EXPECT_EQ(found, expected);
        EXPECT_EQ(found.size(), hits.size());
        // The shown tree lists the hits of their folders.
        std::set<std::string> listed;
        std::vector<OpNodePtr> folders;
        {
            std::lock_guard<std::mutex> hold(VKUIController::TreeDataLock());
            std::vector<OpNodePtr> pending = road.path;
            while (!pending.empty()) {
                folders.push_back(pending.back());
                pending.pop_back();
                for (const OpChild& child : folders.back()->children())
                    pending.push_back(std::get<OpNodePtr>(child));
            }
        }
        for (const OpNodePtr& folder : folders) {
            std::vector<OpChild> list;
            VKUIController::GetFileNodeToArray(list, folder.get());
            for (const OpChild& child : list)
                listed.insert(PathBelowRoot(std::get<IFileNode*>(child)));
        }
        EXPECT_EQ(listed, expected);
        VKUIController::StopSearch();
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TreesFromTheScanRoad,
                         ::testing::Values(ImageCase{"fat/fat16.img", "fat/fat16.json", FS_FAT16},
                                           ImageCase{"exfat/exfat.img", "exfat/exfat.json",
                                                     FS_EXFAT}),
                         [](const ::testing::TestParamInfo<ImageCase>& info) {
                             return std::filesystem::path(info.param.image).stem().string();
                         });

// A quick scan of the FAT16 fixture through the facade, read through the
// program's sources.
class ScanRoadOfFat16 : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string image = FixturePath("fat/fat16.img");
        if (!std::filesystem::exists(image))
            GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
        world = std::make_unique<ScanWorld>(
            image, std::vector<velmora::bridgetest::VolumePlan>{{-1, 0, FS_FAT16}});
        road = std::make_unique<ProgramRoad>(world->catalogue);
        ASSERT_TRUE(world->ScanToEnd(0, 0, false));
        manifest = ManifestFiles(FixturePath("fat/fat16.json"), /*deletedOnly=*/true);
        ASSERT_FALSE(manifest.empty());
        VKUIRecovery::instance().SetStatus(VK_OP_IDLE);
        VKUIRecovery::instance().ResetParam();
    }
    void TearDown() override {
        VKUIRecovery::instance().SetStatus(VK_OP_IDLE);
        VKUIController::ReleaseDataRecovery();
        road.reset();
        world.reset();
    }

    // Recovers the ticked files into `to` through the facade, to the end.
    void Recover(const std::string& to) {
        int count = 0;
        unsigned long long size = 0;
        VKUIController::GetSelectedFilesAmoutAndSize(&count, &size);
        EXPECT_EQ(count, static_cast<int>(manifest.size()));
        NotificationLog progress("DoRecovery");
        ASSERT_EQ(VKUIController::DoRecovery(&road->path, to.c_str(), "DoRecovery"), 0);
        ASSERT_TRUE(RunUntil(*world, [] { return VKUIController::IsRecoveryRunning() == 0; }));
        velmora::bridge::JoinBackgroundThreads();
        world->world.poster->RunPending();
        EXPECT_GE(progress.objects.size(), 1u);
    }

    std::string VolumeFolder(const std::string& to, int number) const {
        char n[8];
        std::snprintf(n, sizeof n, "%04d", number);
        return to + "/" + VKUIPublic::GetFileSystemStrByType(SEARCHER_FAT) + n + "/" +
               VKUIScan::instance().GetFileSystemNode().front()->GetVolumeName();
    }

    void ExpectAllWhole(const std::string& folder, const std::string& numbered = "") {
        for (const ManifestFile& f : manifest) {
            std::string path = folder + f.path;
            if (!numbered.empty()) {
                const size_t dot = path.rfind('.');
                path = path.substr(0, dot) + numbered + path.substr(dot);
            }
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
            EXPECT_EQ(st.st_size, f.size) << path;
            EXPECT_EQ(Sha256Of(path), f.sha256) << path;
        }
    }

    std::unique_ptr<ScanWorld> world;
    std::unique_ptr<ProgramRoad> road;
    std::vector<ManifestFile> manifest;
};

// Every file ticked (the roots carry the tick down): all the quick scan
// found (the deleted ones) are recovered
// whole below the numbered folder of their file system, though the scan
// has let go of its device by now; the same files again into the same
// folder numbers get numbered names.
TEST_F(ScanRoadOfFat16, TickedFilesAreRecoveredWholeAndClashesNumbered) {
    for (IFileNode* root : VKUIScan::instance().GetFileSystemNode())
        root->SetCheck(CHECK_CHECKED);
    TempDir out;
    Recover(out.path());
    ExpectAllWhole(VolumeFolder(out.path(), 1));
    EXPECT_EQ(VKUIController::GetRecoveridedFiles(), manifest.size());
    EXPECT_EQ(VKUIController::GetRecoveryRefusedFiles(), 0u);
    unsigned long long total = 0, done = 0;
    long long code = -1;
    VKUIController::GetRecoveryProgressTotal(&total, &done, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(done, total);

    VKUIRecovery::instance().SetStatus(VK_OP_RUNNING);
    VKUIRecovery::instance().DoRecovery();
    ExpectAllWhole(VolumeFolder(out.path(), 1), "_0001");
}

// The scan saved to a result file and loaded back through the facade, with
// the progress posts the windows see: the trees show the same files.
TEST_F(ScanRoadOfFat16, SavedAndLoadedBackTheTreesShowTheSameFiles) {
    std::vector<std::string> before;
    for (IFileNode* file : TypedFiles())
        before.push_back(PathBelowRoot(file));
    std::sort(before.begin(), before.end());
    const std::multiset<std::string> folders = road->PathTreeFolders();
    ASSERT_FALSE(before.empty());

    TempDir dir;
    const std::string result = dir / "scan.Velmora";
    {
        NotificationLog progress("SaveProgress");
        NotificationLog finished("QueryProgressFinish");
        VKUIController::RestorPostUIUpdate("SaveProgress", 1);
        VKUIController::beginSaveOrRestoreNode(1, result, nullptr);
        ASSERT_TRUE(RunUntil(*world, [&] { return !finished.objects.empty(); }));
        velmora::bridge::JoinBackgroundThreads();
        unsigned long long total = 0, current = 1;
        long long code = -1;
        VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 1);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(current, total);
    }
    {
        NotificationLog progress("NormalScranValue");
        NotificationLog finished("QueryProgressFinish");
        VKUIController::RestorPostUIUpdate("NormalScranValue", 0);
        VKUIController::beginSaveOrRestoreNode(0, result, nullptr);
        ASSERT_TRUE(RunUntil(*world, [&] { return !finished.objects.empty(); }));
        velmora::bridge::JoinBackgroundThreads();
        world->world.poster->RunPending();
        EXPECT_GE(progress.objects.size(), 1u);
        unsigned long long total = 0, current = 1;
        long long code = -1;
        VKUIController::GetSaveorRestoreProgress(&total, &current, &code, 0);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(current, total);
    }
    std::vector<std::string> after;
    for (IFileNode* file : TypedFiles())
        after.push_back(PathBelowRoot(file));
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
    EXPECT_EQ(road->PathTreeFolders(), folders);
    const std::vector<IFileNode*> files = TypedFiles();
    EXPECT_EQ(road->Leaves(road->type), std::multiset<IFileNode*>(files.begin(), files.end()));

    // The loaded result is read from the device again: recovered whole.
    for (IFileNode* root : VKUIScan::instance().GetFileSystemNode())
        root->SetCheck(CHECK_CHECKED);
    TempDir out;
    Recover(out.path());
    ExpectAllWhole(VolumeFolder(out.path(), 1));
}

}  // namespace
