// The recovery's destination paths, its pass over the ticked files and its
// facade calls, over made-up trees and scripted data-recovery objects.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "RecoveryDoubles.h"
#include "VKUIController.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"
#include "VKUIRecoveryPath.h"
#include "support/TestNode.h"
#include "support/TestSupport.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::NotificationLog;
using velmora::bridgetest::ScanSourceDouble;
using velmora::bridgetest::ScriptedController;
using velmora::bridgetest::ScriptedRecovery;
using velmora::test::TempDir;

namespace {

// A tree of one volume: the root first, then nodes under named parents.
class Tree {
public:
    Tree(const std::string& volume, _tagSearcherType type) {
        root_ = std::make_unique<CFilesystemNode>("root", volume.c_str(), type, 1);
    }
    ~Tree() {
        // Children before their parents.
        while (!nodes_.empty())
            nodes_.pop_back();
    }
    IFileNode* root() { return root_.get(); }
    TestNode* Add(IFileNode* parent, const std::string& name, bool dir = false) {
        nodes_.push_back(
            std::make_unique<TestNode>(next_++, parent->GetCurrentNodeID(), name, dir));
        parent->AddChild(nodes_.back().get());
        return nodes_.back().get();
    }

private:
    std::unique_ptr<CFilesystemNode> root_;
    std::vector<std::unique_ptr<TestNode>> nodes_;
    long long next_ = 2;
};

std::string PathOf(IFileNode* node, const std::string& destination) {
    char* path = CreateRecoveryFilePathByNode(node, destination.c_str());
    std::string out = path != nullptr ? path : "<null>";
    std::free(path);
    return out;
}

// Makes the file a path names, as the engine would.
void Touch(const std::string& path) {
    velmora::test::WriteFile(path, std::string("x"));
}

bool IsDir(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Every entry below `dir`, as paths relative to it.
void ListAll(const std::string& dir, const std::string& rel, std::set<std::string>* out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        out->insert(rel + "/" + name);
        if (e->d_type == DT_DIR)
            ListAll(dir + "/" + name, rel + "/" + name, out);
    }
    ::closedir(d);
}

class RecoveryPaths : public ::testing::Test {
protected:
    void SetUp() override { VKUIRecovery::instance().ClearCreateDirIndex(); }
    void TearDown() override { VKUIRecovery::instance().ClearCreateDirIndex(); }
    BridgeWorld world;
    TempDir dir;
    std::string dest() const { return dir.path() + "/"; }
    static std::string Prefix(_tagSearcherType type) {
        return VKUIPublic::GetFileSystemStrByType(type);
    }
};

TEST_F(RecoveryPaths, NumberedFoldersPerFileSystemAndRun) {
    // The fixed clock of the bridge world: 14 November 2023.
    EXPECT_EQ(Prefix(SEARCHER_HFSPLUS).rfind("HFS+_Recovered Data2023-11-1", 0), 0u);
    struct Case {
        _tagSearcherType type;
        std::string folder;
    };
    const Case cases[] = {
        {SEARCHER_HFSPLUS, Prefix(SEARCHER_HFSPLUS) + "0001"},
        {SEARCHER_RAW, "RAW_0001"},
        {SEARCHER_NTFS, "0001"},
        {SEARCHER_RAW_LABEL, Prefix(SEARCHER_RAW_LABEL) + "0001"},
    };
    for (const Case& c : cases) {
        Tree tree("Vol", c.type);
        TestNode* docs = tree.Add(tree.root(), "Docs", true);
        TestNode* a = tree.Add(docs, "a.txt");
        TestNode* b = tree.Add(docs, "b.txt");
        EXPECT_EQ(PathOf(a, dest()), dir / c.folder + "/Vol/Docs/a.txt") << c.folder;
        EXPECT_EQ(PathOf(b, dest()), dir / c.folder + "/Vol/Docs/b.txt") << c.folder;
    }
    // The next recovery into the same destination takes the next numbers.
    VKUIRecovery::instance().ClearCreateDirIndex();
    Tree again("Vol", SEARCHER_HFSPLUS);
    EXPECT_EQ(PathOf(again.Add(again.root(), "c.txt"), dest()),
              dir / Prefix(SEARCHER_HFSPLUS) + "0002/Vol/c.txt");
}

TEST_F(RecoveryPaths, ClashesAreNumberedBeforeTheExtension) {
    Tree tree("Vol", SEARCHER_NTFS);
    TestNode* folder = tree.Add(tree.root(), "my.folder", true);
    struct Case {
        std::string name;
        std::vector<std::string> expected;  // first, second, third time
    };
    const Case cases[] = {
        {"photo.jpg", {"photo.jpg", "photo_0001.jpg", "photo_0002.jpg"}},
        {"README", {"README", "README_0001", "README_0002"}},
        {".profile", {".profile", ".profile_0001", ".profile_0002"}},
        {"archive.tar.gz", {"archive.tar.gz", "archive.tar_0001.gz", "archive.tar_0002.gz"}},
    };
    for (const Case& c : cases) {
        TestNode* node = tree.Add(folder, c.name);
        for (const std::string& want : c.expected) {
            const std::string path = PathOf(node, dest());
            EXPECT_EQ(path, dir / "0001/Vol/my.folder/" + want);
            Touch(path);
        }
    }
}

TEST_F(RecoveryPaths, NodesWithoutAPlaceGetNoPath) {
    Tree tree("Vol", SEARCHER_FAT);
    TestNode* hidden = tree.Add(tree.root(), "hidden.txt");
    hidden->ShowNode(0);
    TestNode* folder = tree.Add(tree.root(), "Only a folder", true);
    TestNode orphan(99, 0, "no root.txt");
    EXPECT_EQ(PathOf(hidden, dest()), "<null>");
    EXPECT_EQ(PathOf(&orphan, dest()), "<null>");
    EXPECT_EQ(PathOf(nullptr, dest()), "<null>");
    EXPECT_EQ(CreateRecoveryFilePathByNode(folder, nullptr), nullptr);
    // A folder is made, but gets no path.
    EXPECT_EQ(PathOf(folder, dest()), "<null>");
    EXPECT_TRUE(IsDir(dir / Prefix(SEARCHER_FAT) + "0001/Vol/Only a folder"));
}

// Names from disks and result files may hold anything. Each is recovered
// inside the destination or refused, never written elsewhere, never lost
// without a word.
TEST_F(RecoveryPaths, HostileNamesStayInsideTheDestination) {
    TempDir outside;
    const std::string longName = std::string(300, 'n') + ".jpg";
    const std::string longUtf8 = [] {
        std::string s;
        for (int i = 0; i < 150; ++i)
            s += "\xC3\xA9";  // é: 300 bytes
        return s + ".txt";
    }();
    const std::vector<std::string> names = {"/",
                                            "..",
                                            ".",
                                            "",
                                            "a/../../x",
                                            "../../../etc/passwd",
                                            "x\x01y\x1f",
                                            "\x7f",
                                            "\xff\xfe.jpg",
                                            "\xc3",
                                            longName,
                                            longUtf8,
                                            "Case.txt",
                                            "case.txt",
                                            "same.txt",
                                            "same.txt",
                                            outside.path() + "/escape"};
    // The volume and folder names are hostile too.
    const std::vector<std::string> volumes = {"../..", "/", "", "\xff"};
    const std::vector<std::string> folders = {"..", "../../..", "a/b", "\x01"};
    size_t in = 0, out = 0;
    std::set<std::string> paths;
    for (size_t v = 0; v < volumes.size(); ++v) {
        Tree tree(volumes[v], static_cast<_tagSearcherType>(SEARCHER_HFSPLUS + v));
        TestNode* folder = tree.Add(tree.root(), folders[v], true);
        for (const std::string& name : names) {
            ++in;
            const std::string path = PathOf(tree.Add(folder, name), dest());
            if (path == "<null>")
                continue;
            ++out;
            ASSERT_EQ(path.rfind(dest(), 0), 0u) << path;
            ASSERT_EQ(path.find("/../"), std::string::npos) << path;
            const size_t slash = path.rfind('/');
            EXPECT_LE(path.size() - slash - 1, 255u) << path;
            EXPECT_TRUE(IsValidUtf8(path.c_str())) << path;
            Touch(path);
            EXPECT_TRUE(paths.insert(path).second) << "written twice: " << path;
        }
    }
    // Nothing is refused here: every name can be cleaned.
    EXPECT_EQ(out, in);
    std::set<std::string> stray;
    ListAll(outside.path(), "", &stray);
    EXPECT_TRUE(stray.empty());
    // The long names keep their extensions.
    size_t keptExtensions = 0;
    for (const std::string& p : paths)
        keptExtensions += p.find("nnnn.jpg") != std::string::npos;
    EXPECT_EQ(keptExtensions, volumes.size());
}

TEST_F(RecoveryPaths, PlantedLinksAreNotFollowed) {
    TempDir outside;
    Tree tree("Vol", SEARCHER_NTFS);
    TestNode* folder = tree.Add(tree.root(), "Docs", true);
    TestNode* file = tree.Add(folder, "a.txt");
    // Someone made the folder of the file a link to elsewhere.
    ASSERT_EQ(::mkdir((dir / "0001").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "0001/Vol").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "0001/Vol/Docs").c_str()), 0);
    VKUIRecovery::instance().SetCreateDirIndex(SEARCHER_NTFS, 1);
    // The link holds the name as a file would: the folder is numbered.
    EXPECT_EQ(PathOf(file, dest()), dir / "0001/Vol/Docs_0001/a.txt");
    std::set<std::string> stray;
    ListAll(outside.path(), "", &stray);
    EXPECT_TRUE(stray.empty());
}

// The recovery operation over a scripted scan.
class RecoveryPass : public ::testing::Test {
protected:
    void SetUp() override {
        VKUIRecovery::instance().SetStatus(VK_OP_IDLE);
        VKUIRecovery::instance().ClearCreateDirIndex();
    }
    void TearDown() override { VKUIRecovery::instance().SetStatus(VK_OP_IDLE); }

    // Runs the recovery through the facade and waits for its end, driving
    // the main loop; `whilePaused` runs each time it pauses.
    void RunRecovery(const std::function<void()>& whilePaused = {}) {
        std::vector<OpNodePtr> roots;
        ASSERT_EQ(VKUIController::DoRecovery(&roots, dir.path().c_str(), "DoRecovery"), 0);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (VKUIController::IsRecoveryRunning() != 0 &&
               std::chrono::steady_clock::now() < until) {
            if (VKUIRecovery::instance().GetStatus() == VK_OP_PAUSED && whilePaused)
                whilePaused();
            world.poster->RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(VKUIController::IsRecoveryRunning(), 0);
        velmora::bridge::JoinBackgroundThreads();
        world.poster->RunPending();
    }

    BridgeWorld world;
    TempDir dir;
    ScanSourceDouble scan;
};

TEST_F(RecoveryPass, DeepScanUsesTheObjectOfEachSearcherType) {
    ScriptedRecovery fat("fat"), raw("raw");
    ScriptedController controller(2);
    controller.byType = {{SEARCHER_FAT, &fat}, {SEARCHER_RAW, &raw}};
    scan.controller = &controller;
    scan.deep = 1;
    Tree fatTree("F", SEARCHER_FAT), tagTree("T", SEARCHER_RAW_LABEL), ntfs("N", SEARCHER_NTFS);
    TestNode* f1 = fatTree.Add(fatTree.root(), "one.txt");
    TestNode* partly = fatTree.Add(fatTree.root(), "partly.txt");
    TestNode* hidden = fatTree.Add(fatTree.root(), "hidden.txt");
    TestNode* tag = tagTree.Add(tagTree.root(), "tagged.jpg");
    TestNode* noObject = ntfs.Add(ntfs.root(), "nobody.txt");
    for (TestNode* n : {f1, hidden, tag, noObject})
        n->SetCheck(CHECK_CHECKED);
    partly->SetCheck(CHECK_PARTLY);
    hidden->ShowNode(0);
    scan.types = {{2, {tag, noObject}}, {1, {f1, partly, hidden, nullptr}}};
    VKUIRecovery::instance().ResetParam();

    unsigned long long size = 0;
    int count = 0;
    VKUIController::GetSelectedFilesAmoutAndSize(&count, &size);
    EXPECT_EQ(count, 3);  // one.txt, tagged.jpg, nobody.txt
    NotificationLog posts("DoRecovery");
    RunRecovery();

    EXPECT_EQ(fat.nodes, std::vector<IFileNode*>({f1}));
    // The tag tree is served by the object of the extension search.
    EXPECT_EQ(raw.nodes, std::vector<IFileNode*>({tag}));
    EXPECT_EQ(velmora::test::ReadText(fat.written.at(0)), "fat");
    EXPECT_EQ(VKUIController::GetRecoveridedFiles(), 2u);
    EXPECT_EQ(VKUIController::GetRecoveridedSize(), 500u);
    EXPECT_EQ(VKUIController::GetCurrentScanRecoveryCnt(), 1);
    EXPECT_GE(posts.objects.size(), 1u);
    // The destination got its slash.
    EXPECT_EQ(VKUIRecovery::instance().GetRecoveryPath(), dir.path() + "/");
    EXPECT_EQ(fat.written.at(0).rfind(dir.path() + "/Fat_", 0), 0u);
    // The objects live in this test's frame: the recovery lets go of them
    // before they go, not when the fixture's scan does.
    VKUIRecovery::instance().ReleaseDataRecovery();
}

TEST_F(RecoveryPass, QuickScanUsesTheObjectOfEachRoot) {
    ScriptedRecovery first("first"), second("second");
    ScriptedController controller(0);
    scan.controller = &controller;
    Tree a("A", SEARCHER_FAT), b("B", SEARCHER_FAT);
    TestNode* x = a.Add(a.root(), "x.txt");
    TestNode* y = b.Add(b.root(), "y.txt");
    x->SetCheck(CHECK_CHECKED);
    y->SetCheck(CHECK_CHECKED);
    scan.types = {{1, {x, y}}};
    scan.perRoot = [&](IFileNode* node) -> IDataRecovery* { return node == x ? &first : &second; };
    RunRecovery();
    EXPECT_EQ(first.nodes, std::vector<IFileNode*>({x}));
    EXPECT_EQ(second.nodes, std::vector<IFileNode*>({y}));
    // Both trees share the file system's one numbered folder.
    EXPECT_NE(first.written.at(0).find("_0001/A/x.txt"), std::string::npos);
    EXPECT_NE(second.written.at(0).find("_0001/B/y.txt"), std::string::npos);
}

// The scan's tree builder hands a copy's runs to a shown file (freeing the
// old ones) under the scan's tree lock: the recovery takes what it needs of
// a node under that lock, and copies the data without it, so that the
// interface thread never waits for a disk.
TEST_F(RecoveryPass, NodesAreTakenUnderTheTreeLockAndCopiedWithoutIt) {
    ScriptedRecovery fat("fat");
    fat.probeTreeLock = true;
    ScriptedController controller(0);
    scan.controller = &controller;
    Tree a("A", SEARCHER_FAT);
    TestNode* folder = a.Add(a.root(), "Docs", true);
    TestNode* x = a.Add(folder, "x.txt");
    TestNode* y = a.Add(a.root(), "y.txt");
    x->SetCheck(CHECK_CHECKED);
    y->SetCheck(CHECK_CHECKED);
    scan.types = {{1, {x, y}}};
    scan.perRoot = [&](IFileNode*) -> IDataRecovery* { return &fat; };
    RunRecovery();
    ASSERT_EQ(fat.nodes, std::vector<IFileNode*>({x, y}));
    EXPECT_EQ(fat.lockedAtSelect, std::vector<bool>({true, true}));
    EXPECT_EQ(fat.lockedAtCopy, std::vector<bool>({false, false}));
    EXPECT_NE(fat.written.at(0).find("_0001/A/Docs/x.txt"), std::string::npos);
}

// A full destination pauses the recovery; after a resume the file that did
// not fit is written again, so nothing is missing from the result.
TEST_F(RecoveryPass, FullDestinationPausesAndTheFileIsWrittenAfterResume) {
    ScriptedRecovery fat("fat");
    ScriptedController controller(0);
    scan.controller = &controller;
    scan.perRoot = [&](IFileNode*) -> IDataRecovery* { return &fat; };
    Tree tree("V", SEARCHER_FAT);
    TestNode* one = tree.Add(tree.root(), "one.txt");
    TestNode* two = tree.Add(tree.root(), "two.txt");
    one->SetCheck(CHECK_CHECKED);
    two->SetCheck(CHECK_CHECKED);
    scan.types = {{1, {one, two}}};
    fat.failNext = 1;
    int pauses = 0;
    long long code = 0;
    RunRecovery([&] {
        ++pauses;
        unsigned long long total = 0, done = 0;
        EXPECT_EQ(VKUIController::GetRecoveryProgressTotal(&total, &done, &code), "one.txt");
        VKUIController::PauseOrResumeRecovery();
    });
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(static_cast<uint32_t>(code), kErrRecoveryWrite);
    EXPECT_EQ(fat.nodes, std::vector<IFileNode*>({one, one, two}));
    EXPECT_EQ(velmora::test::ReadText(fat.written.at(1)), "fat");
    EXPECT_EQ(VKUIController::GetRecoveridedFiles(), 2u);
    EXPECT_EQ(VKUIController::GetRecoveridedSize(), 500u);
}

TEST_F(RecoveryPass, StopWhilePausedEndsThePass) {
    ScriptedRecovery fat("fat");
    ScriptedController controller(0);
    scan.controller = &controller;
    scan.perRoot = [&](IFileNode*) -> IDataRecovery* { return &fat; };
    Tree tree("V", SEARCHER_FAT);
    TestNode* one = tree.Add(tree.root(), "one.txt");
    TestNode* two = tree.Add(tree.root(), "two.txt");
    one->SetCheck(CHECK_CHECKED);
    two->SetCheck(CHECK_CHECKED);
    scan.types = {{1, {one, two}}};
    fat.failNext = 1;
    RunRecovery([] { VKUIController::StopRecvoery(); });
    EXPECT_EQ(fat.nodes, std::vector<IFileNode*>({one}));
    EXPECT_EQ(VKUIRecovery::instance().GetStatus(), VK_OP_IDLE);
    // The file that did not fit was taken away again: the end window must
    // not count it among the recovered ones.
    EXPECT_EQ(VKUIController::GetRecoveridedFiles(), 0u);
    EXPECT_EQ(VKUIController::GetRecoveridedSize(), 0u);
}

TEST_F(RecoveryPass, ProgressCountsBytesOfTheWholeRecovery) {
    VKUIRecovery& op = VKUIRecovery::instance();
    op.SetRecoveryTotalSize(1000);
    struct Step {
        int state;
        long long done;
        uint64_t result;
        unsigned long long recovered;
        int status;
    };
    const uint64_t full = VK_ERROR(kModuleDataRecovery, kErrRecoveryWrite);
    const Step steps[] = {
        {PROGRESS_RUNNING, 100, 0, 100, VK_OP_RUNNING},
        {PROGRESS_RUNNING, 250, 0, 250, VK_OP_RUNNING},
        {PROGRESS_REFRESH, 999, 0, 250, VK_OP_RUNNING},  // not kept
        {PROGRESS_RUNNING, 0, 0, 250, VK_OP_RUNNING},    // the next file starts
        {PROGRESS_RUNNING, 40, 0, 290, VK_OP_RUNNING},
        {PROGRESS_RUNNING, 40, full, 290, VK_OP_PAUSED},
    };
    op.SetStatus(VK_OP_RUNNING);
    for (const Step& s : steps) {
        _PROGRESS_INFO info{};
        info.state = s.state;
        info.total = 500;
        info.done = s.done;
        info.result = s.result;
        op.UpdateProgress(&info);
        EXPECT_EQ(op.GetRecoveriedFileSize(), s.recovered) << s.done;
        EXPECT_EQ(op.GetStatus(), s.status) << s.done;
        const _PROGRESS_INFO kept = op.GetProgressInfo();
        EXPECT_EQ(kept.total, 1000);
        EXPECT_EQ(static_cast<unsigned long long>(kept.done), s.recovered);
    }
    op.UpdateProgress(nullptr);
}

TEST_F(RecoveryPass, StartNeedsRootsAndAFolderAndOneRecoveryAtATime) {
    std::vector<OpNodePtr> roots;
    EXPECT_EQ(VKUIController::DoRecovery(nullptr, dir.path().c_str(), "DoRecovery"),
              VKUIController::kRecoveryStartFailed);
    EXPECT_EQ(VKUIController::DoRecovery(&roots, nullptr, "DoRecovery"),
              VKUIController::kRecoveryStartFailed);
    for (int busy : {VK_OP_RUNNING, VK_OP_PAUSED, VK_OP_STOP_ASKED}) {
        VKUIRecovery::instance().SetStatus(busy);
        EXPECT_EQ(VKUIController::DoRecovery(&roots, dir.path().c_str(), "DoRecovery"),
                  VKUIController::kRecoveryStartFailed)
            << busy;
    }
    VKUIRecovery::instance().SetStatus(VK_OP_IDLE);
    // A folder that ends in "/" is taken as resolved.
    NotificationLog posts("DoRecovery");
    ASSERT_EQ(VKUIController::DoRecovery(&roots, (dir.path() + "/").c_str(), "DoRecovery"), 0);
    EXPECT_EQ(VKUIRecovery::instance().GetRecoveryPath(), dir.path() + "/");
    while (VKUIController::IsRecoveryRunning() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    velmora::bridge::JoinBackgroundThreads();
    world.poster->RunPending();
    // Nothing was ticked: the recovery ended before the first poll, and
    // the window still hears of it exactly once.
    EXPECT_EQ(posts.objects.size(), 1u);
}

TEST_F(RecoveryPass, SameDeviceByDeviceNumber) {
    struct stat st {};
    ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
    scan.devices = {st.st_dev + 1, st.st_dev};
    EXPECT_EQ(VKUIController::IsRecoveryToSameDevice(dir.path()), 1);
    scan.devices = {st.st_dev + 1};
    EXPECT_EQ(VKUIController::IsRecoveryToSameDevice(dir.path()), 0);
    scan.devices = {st.st_dev};
    // A folder not made yet lies where its nearest existing parent does.
    EXPECT_EQ(VKUIController::IsRecoveryToSameDevice(dir / "missing"), 1);
    // A recovery onto the scanned device does not start.
    std::vector<OpNodePtr> roots;
    EXPECT_EQ(VKUIController::DoRecovery(&roots, dir.path().c_str(), "DoRecovery"),
              VKUIController::kRecoveryStartFailed);
    EXPECT_EQ(VKUIRecovery::instance().GetStatus(), VK_OP_IDLE);
}

// What each end of a file's copy counts as: written (whole, with lost
// parts, without its dates) or not recovered (a name with no place, a
// folder that refused the file, nothing that reads it). The end window
// reports the second kind, so none of them may count as written, and no
// file written with lost parts may look like a full destination.
TEST_F(RecoveryPass, FilesNotWrittenAreCountedAsRefusedNeverAsWritten) {
    const auto Err = [](uint32_t error) { return VK_ERROR(kModuleDataRecovery, error); };
    const struct {
        const char* name;
        VKRESULT result;  // of the copy; 0 whole
        bool noPlace, noReader;
        uint64_t written, refused;
        // Listed with the files not written without being a refusal.
        bool stopped = false;
    } cases[] = {
        {"whole", 0, false, false, 1, 0},
        {"lost parts", Err(kErrRecoveryIncomplete), false, false, 1, 0},
        {"no dates", Err(kErrRecoveryTimes), false, false, 1, 0},
        {"folder refused the file", Err(kErrRecoveryOpenTarget), false, false, 0, 1},
        {"compressed, undecodable", Err(kErrRecoveryCompressed), false, false, 0, 1},
        {"no place below the folder", 0, true, false, 0, 1},
        {"nothing reads it", 0, false, true, 0, 1},
        {"nothing of it could be read", Err(kErrRecoveryUnreadable), false, false, 0, 1},
        {"stopped inside the file", Err(kErrRecoveryStopped), false, false, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VKUIRecovery::instance().ClearCreateDirIndex();
        ScriptedRecovery fat("fat");
        ScriptedController controller(0);
        scan.controller = &controller;
        Tree tree("V", SEARCHER_FAT);
        TestNode* before = tree.Add(tree.root(), "before.txt");
        // A file with no root above it has no place below the folder.
        TestNode orphan(99, 0, "file.txt");
        TestNode* node = c.noPlace ? &orphan : tree.Add(tree.root(), "file.txt");
        before->SetCheck(CHECK_CHECKED);
        node->SetCheck(CHECK_CHECKED);
        fat.results[node] = c.result;
        scan.perRoot = [&](IFileNode* n) -> IDataRecovery* {
            return n == node && c.noReader ? nullptr : &fat;
        };
        scan.types = {{1, {before, node}}};
        bool sawFullCode = false;
        RunRecovery([&] { sawFullCode = true; });
        EXPECT_FALSE(sawFullCode);
        EXPECT_EQ(VKUIController::GetRecoveridedFiles(), 1 + c.written);
        EXPECT_EQ(VKUIController::GetRecoveryRefusedFiles(), c.refused);
        // What the copy of a file not written reported is not counted.
        EXPECT_EQ(VKUIController::GetRecoveridedSize(), 250u * (1 + c.written));
        unsigned long long total = 0, done = 0;
        long long code = -1;
        VKUIController::GetRecoveryProgressTotal(&total, &done, &code);
        EXPECT_EQ(code, 0);
        // The files not written are named in a list in the folder.
        const std::string list = dir / VKUIRecovery::kRefusedListName;
        if (c.refused != 0 || c.stopped) {
            EXPECT_EQ(VKUIController::GetRecoveryRefusedListPath(), list);
            const std::string text = velmora::test::ReadText(list);
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
            EXPECT_EQ(text.substr(text.size() - std::min<size_t>(text.size(), 10)), "/file.txt\n");
        } else {
            EXPECT_EQ(VKUIController::GetRecoveryRefusedListPath(), "");
            EXPECT_NE(::access(list.c_str(), F_OK), 0);
        }
        ::unlink(list.c_str());
    }
}

// The list is a new file in the user's folder: a name that exists, or a
// link planted there, is never written through; the next number is taken.
// A name with a line break stays on one line.
TEST_F(RecoveryPass, TheListOfFilesNotRecoveredNeverWritesOverAFileOrThroughALink) {
    TempDir outside;
    const std::string target = outside / "victim";
    velmora::test::WriteFile(target, std::string("keep"));
    const std::string first = dir / VKUIRecovery::kRefusedListName;
    const std::string second =
        dir / velmora::bridge::NumberedName(VKUIRecovery::kRefusedListName, 1);
    ASSERT_EQ(::symlink(target.c_str(), first.c_str()), 0);
    velmora::test::WriteFile(second, std::string("the user's"));
    ScriptedController controller(0);
    scan.controller = &controller;
    scan.perRoot = [](IFileNode*) -> IDataRecovery* { return nullptr; };
    Tree tree("V", SEARCHER_FAT);
    TestNode* node = tree.Add(tree.root(), "two\nlines.txt");
    node->SetCheck(CHECK_CHECKED);
    scan.types = {{1, {node}}};
    RunRecovery();
    EXPECT_EQ(VKUIController::GetRecoveryRefusedFiles(), 1u);
    const std::string third =
        dir / velmora::bridge::NumberedName(VKUIRecovery::kRefusedListName, 2);
    EXPECT_EQ(VKUIController::GetRecoveryRefusedListPath(), third);
    EXPECT_EQ(velmora::test::ReadText(target), "keep");
    EXPECT_EQ(velmora::test::ReadText(second), "the user's");
    const std::string text = velmora::test::ReadText(third);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find("two_lines.txt"), std::string::npos) << text;
}

}  // namespace
