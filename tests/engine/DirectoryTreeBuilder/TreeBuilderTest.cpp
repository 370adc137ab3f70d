#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RecoveryInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "TreeBuilderHarness.h"
#include "support/PlannedSearcherRows.h"

namespace {

constexpr long long kRoot = 5;

class TreeBuilderTest : public ::testing::Test {
protected:
    void SetUp() override { TNode::live = 0; }
    void TearDown() override {
        f.reset();
        // Whatever the builder took it freed, exactly once.
        EXPECT_EQ(TNode::live, 0);
    }
    BuilderFixture& F() { return *f; }
    IDirecotryTreeBuilder* B() { return f->builder; }
    FakeReceiver& R() { return f->receiver; }
    // Adds a node the builder must take.
    void Take(IFileNode* n, _tagSearcherType type = SEARCHER_NTFS) {
        ASSERT_EQ(B()->AddNode(n, type), 1);
    }
    // Adds a node the builder must refuse; the test still owns it.
    void Refuse(IFileNode* n, _tagSearcherType type = SEARCHER_NTFS) {
        EXPECT_EQ(B()->AddNode(n, type), 0);
        n->Release();
    }

    std::unique_ptr<BuilderFixture> f = std::make_unique<BuilderFixture>();
};

TEST_F(TreeBuilderTest, InitializeNeedsEveryArgumentAndNamesAnUnnamedDeviceDisk) {
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* b = CreateTreeBuilder(false, hooks);
    FakeReceiver receiver;
    FakeFilter filter;
    EXPECT_EQ(b->Initialize(nullptr, &receiver, &filter), 0);
    EXPECT_EQ(b->Initialize("d", nullptr, &filter), 0);
    EXPECT_EQ(b->Initialize("d", &receiver, nullptr), 0);
    EXPECT_EQ(b->Initialize("", &receiver, &filter), 1);
    b->AddSearcherInfo(SEARCHER_FAT, 2);
    b->AddNode(File(10, 2, "a.txt", 5, true, SEARCHER_FAT), SEARCHER_FAT);
    b->FlashBuild(SEARCHER_FAT);
    ASSERT_EQ(receiver.roots.size(), 1u);
    EXPECT_STREQ(receiver.roots[0]->GetFileName(), "Disk(FAT/FAT32)");
    EXPECT_STREQ(receiver.roots[0]->GetVolumeName(), "Disk");
    b->Release();
}

TEST_F(TreeBuilderTest, OneRootPerSearcherTypeNamedAfterTheDevice) {
    const struct {
        _tagSearcherType type;
        long long rootId;
        const char* name;
    } cases[] = {
        {SEARCHER_HFSPLUS, 2, "disk1(HFS+)"}, {SEARCHER_FAT, 2, "disk1(FAT/FAT32)"},
        {SEARCHER_EXFAT, 2, "disk1(ExFat)"},  {SEARCHER_RAW, 1, "disk1(RAW Files)"},
        {SEARCHER_NTFS, 5, "disk1(NTFS)"},    {SEARCHER_RAW_LABEL, 1000, "disk1(Label RAW Files)"},
        {SEARCHER_APFS, 2, "disk1(APFS)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(B()->AddSearcherInfo(c.type, c.rootId), 1);
    // A second announcement keeps the tree and only moves its root id.
    B()->AddSearcherInfo(SEARCHER_FAT, 77);
    long long id = 1000;
    for (const auto& c : cases) {
        const long long parent = c.type == SEARCHER_FAT ? 77 : c.rootId;
        if (c.type == SEARCHER_HFSPLUS)
            Refuse(Folder(++id, parent, "HFS+ Private Data", false, c.type), c.type);
        Take(File(++id, parent, "f.bin", 10, true, c.type), c.type);
        B()->FlashBuild(c.type);
    }
    ASSERT_EQ(R().roots.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_STREQ(R().roots[i]->GetFileName(), cases[i].name);
        EXPECT_EQ(R().roots[i]->GetSearcheType(), cases[i].type);
        EXPECT_EQ(R().roots[i]->GetCurrentNodeID(), cases[i].rootId);
        ASSERT_NE(R().roots[i]->GetFirstChild(), nullptr) << cases[i].name;
        EXPECT_STREQ(R().roots[i]->GetFirstChild()->GetFileName(), "f.bin");
    }
    // Each root is followed by a one-second pause, through the hook.
    EXPECT_EQ(F().slept, std::size(cases));
    // A node for a type nobody announced is refused.
    Refuse(File(1, 2, "x", 1, true, SEARCHER_NONE), SEARCHER_NONE);
}

TEST_F(TreeBuilderTest, FileBeforeItsFolderIsShownAtTheBuildAfterTheFolderArrives) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* file = File(100, 50, "report.doc");
    Take(file);
    Take(Folder(60, kRoot, "empty"));
    F().clock += 3.5;  // a build is due, but the file's folder is unknown
    Take(File(101, 51, "other.doc"));
    EXPECT_TRUE(R().batches.empty());
    TNode* folder = Folder(50, kRoot, "Documents");
    Take(folder);  // within three seconds of the last build: no build yet
    EXPECT_TRUE(R().batches.empty());
    F().clock += 3.5;
    Take(File(102, 50, "second.doc"));
    ASSERT_EQ(R().batches.size(), 1u);
    EXPECT_EQ(R().batches[0].lost, 0);
    EXPECT_EQ(R().batches[0].nodes.size(), 3u);
    EXPECT_TRUE(R().WasShown(file));
    EXPECT_TRUE(R().WasShown(folder));
    EXPECT_EQ(file->GetParent(), folder);
    EXPECT_EQ(folder->GetParent(), R().roots.at(0));
    B()->FlashBuild(SEARCHER_NTFS);
    // A folder without any file below it is never shown.
    EXPECT_EQ(R().ShownNamed("empty"), nullptr);
}

TEST_F(TreeBuilderTest, BatchesComeEvery1024NodesOrThreeSeconds) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    for (int i = 0; i < 1023; ++i)
        Take(File(1000 + i, kRoot, "f"));
    EXPECT_TRUE(R().batches.empty());
    Take(File(5000, kRoot, "f"));
    ASSERT_EQ(R().batches.size(), 1u);
    EXPECT_EQ(R().batches[0].nodes.size(), 1024u);
    ASSERT_EQ(R().roots.size(), 1u);  // sent once, before the first batch
    Take(File(5001, kRoot, "f"));
    EXPECT_EQ(R().batches.size(), 1u);
    F().clock += 3.0;
    Take(File(5002, kRoot, "f"));
    ASSERT_EQ(R().batches.size(), 2u);
    EXPECT_EQ(R().batches[1].nodes.size(), 2u);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(R().roots.size(), 1u);
    EXPECT_EQ(R().Shown().size(), 1026u);
}

TEST_F(TreeBuilderTest, EmptyFoldersShowOnlyInApfsTrees) {
    B()->AddSearcherInfo(SEARCHER_APFS, 2);
    TNode* empty = Folder(20, 2, "Empty", false, SEARCHER_APFS);
    Take(empty, SEARCHER_APFS);
    B()->FlashBuild(SEARCHER_APFS);
    EXPECT_TRUE(R().WasShown(empty));
}

TEST_F(TreeBuilderTest, ACopyOfAKnownFileIsRefusedAndANewerCopyGivesItsData) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* first = File(10, kRoot, "a.txt", 100);
    first->modified = 500;
    Take(first);
    TNode* older = File(10, kRoot, "a.txt", 300);
    older->modified = 400;
    Refuse(older);  // an older generation: the recorded copy keeps its data
    EXPECT_EQ(first->size, 100);
    TNode* newer = File(10, kRoot, "a.txt", 300);
    newer->modified = 600;
    Refuse(newer);  // the newer copy gives its data to the recorded one
    EXPECT_EQ(first->size, 300);
    TNode* same = File(10, kRoot, "a.txt", 0);
    same->modified = 700;
    Refuse(same);  // no size: nothing taken over
    EXPECT_EQ(first->size, 300);
    // Same id, another name: a different file, kept.
    TNode* other = File(10, kRoot, "b.txt", 7);
    Take(other);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_TRUE(R().WasShown(first));
    EXPECT_TRUE(R().WasShown(other));
}

TEST_F(TreeBuilderTest, DotNamesAreShownAsTheyAreAndOnlySelfAndParentEntriesRefused) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    // Hidden files on Unix are the user's files: shown, under their names.
    TNode* dsStore = File(10, kRoot, ".DS_Store");
    Take(dsStore);
    // "..x" and "x" are two folders: neither loses its dots, so they never
    // merge, and each keeps its own file.
    TNode* dotted = Folder(11, kRoot, "..config");
    Take(dotted);
    TNode* inDotted = File(12, 11, "settings");
    Take(inDotted);
    TNode* plain = Folder(18, kRoot, "config");
    Take(plain);
    TNode* inPlain = File(19, 18, "settings");
    Take(inPlain);
    TNode* dots = Folder(13, kRoot, "...");
    Take(dots);
    TNode* inDots = File(14, 13, "kept.txt");
    Take(inDots);
    // Leading blanks are part of a name.
    TNode* blank = Folder(15, kRoot, " spaced");
    Take(blank);
    Take(File(16, 15, "also kept.txt"));
    // Nameless files are files all the same.
    TNode* nameless = File(17, kRoot, "");
    Take(nameless);
    // A folder's entries for itself and its parent name no file.
    for (const char* entry : {".", ".."}) {
        Refuse(Folder(30, kRoot, entry));
        Refuse(File(31, kRoot, entry));
    }
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_TRUE(R().WasShown(dsStore));
    EXPECT_STREQ(dsStore->GetFileName(), ".DS_Store");
    EXPECT_STREQ(dotted->GetFileName(), "..config");
    EXPECT_STREQ(dots->GetFileName(), "...");
    ASSERT_TRUE(R().WasShown(inDotted));
    EXPECT_EQ(inDotted->GetParent(), dotted);
    ASSERT_TRUE(R().WasShown(inPlain));
    EXPECT_EQ(inPlain->GetParent(), plain);
    ASSERT_TRUE(R().WasShown(inDots));
    EXPECT_EQ(inDots->GetParent(), dots);
    EXPECT_STREQ(blank->GetFileName(), " spaced");
    EXPECT_TRUE(R().WasShown(blank));
    EXPECT_TRUE(R().WasShown(nameless));
    ASSERT_NE(nameless->GetParent(), nullptr);
    EXPECT_EQ(nameless->GetParent()->GetCurrentNodeID(), kRoot);
}

// A folder whose entries could not all be read is shown even when nothing
// was found in it, and so are the folders above it; an intact empty folder
// is not.
TEST_F(TreeBuilderTest, DamagedFoldersShowEvenWhenEmpty) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* outer = Folder(10, kRoot, "outer");
    TNode* damaged = Folder(11, 10, "unreadable");
    damaged->MarkDamaged();
    TNode* intact = Folder(12, kRoot, "empty");
    Take(outer);
    Take(damaged);
    Take(intact);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_TRUE(R().WasShown(outer));
    EXPECT_TRUE(R().WasShown(damaged));
    EXPECT_EQ(damaged->GetParent(), outer);
    EXPECT_FALSE(R().WasShown(intact));
}

TEST_F(TreeBuilderTest, RefusesNodesItCannotPlace) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    EXPECT_EQ(B()->AddNode(nullptr, SEARCHER_NTFS), 0);
    Refuse(File(10, 10, "self.txt"));         // its own parent
    Refuse(File(12, kRoot, "rejected.bin"));  // the filter's choice
    // The same object twice is taken once.
    TNode* twice = File(13, kRoot, "twice.txt");
    Take(twice);
    Take(twice);
    // A node already linked elsewhere.
    TNode* parent = Folder(14, 99, "p");
    TNode* child = File(15, 14, "c");
    parent->AddChild(child);
    EXPECT_EQ(B()->AddNode(child, SEARCHER_NTFS), 0);
    delete child;
    delete parent;
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(R().Shown().size(), 1u);
}

TEST_F(TreeBuilderTest, LiveFilesHideInAQuickScanUnlessTheirFolderIsDeleted) {
    F().filter.showNormal = 0;
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* live = File(10, kRoot, "live.txt", 5, false);
    TNode* gone = Folder(20, kRoot, "gone", true);
    TNode* inside = File(21, 20, "inside.txt", 5, false);
    Take(live);
    Take(gone);
    Take(inside);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_FALSE(R().WasShown(live));
    EXPECT_TRUE(R().WasShown(inside));
    EXPECT_TRUE(inside->IsDeleted());
}

TEST_F(TreeBuilderTest, OrphansEndInOtherLostFiles) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* orphan = File(10, 999, "orphan.jpg", 5);
    TNode* lostDir = Folder(20, 998, "lostdir");
    TNode* inLostDir = File(21, 20, "kept.jpg", 5);
    TNode* emptyFile = File(22, 20, "empty.jpg", 0);
    TNode* emptyOrphan = File(23, 997, "zero.jpg", 0);
    TNode* emptyDir = Folder(24, 996, "nothing");
    // A loop of parent ids: a is b's parent and b is a's.
    TNode* a = Folder(30, 31, "a");
    TNode* b = Folder(31, 30, "b");
    TNode* inA = File(32, 30, "in-a.txt", 5);
    // Two folders of one id: both kept, the child goes under one of them.
    TNode* dup1 = Folder(40, 995, "dup");
    TNode* dup2 = Folder(40, 994, "dup-again");
    TNode* inDup = File(41, 40, "in-dup.txt", 5);
    // A name that is not UTF-8 is kept as found.
    TNode* latin1 = File(50, 993, "caf\xe9.txt", 5);
    for (TNode* n : {orphan, lostDir, inLostDir, emptyFile, emptyOrphan, emptyDir, a, b, inA, dup1,
                     dup2, inDup, latin1})
        Take(n);
    B()->FlashBuild(SEARCHER_NTFS);
    ASSERT_FALSE(R().batches.empty());
    const FakeReceiver::Batch& last = R().batches.back();
    EXPECT_EQ(last.lost, 1);
    IFileNode* lost = last.nodes.back();
    EXPECT_STREQ(lost->GetFileName(), "Other lost files");
    EXPECT_STREQ(lost->GetVolumeName(), "LostFiles");
    EXPECT_EQ(lost->GetCurrentNodeID(), -1);
    EXPECT_EQ(lost->GetSearcheType(), SEARCHER_NTFS);
    EXPECT_EQ(lost->GetParent(), R().roots.at(0));
    for (TNode* n : {orphan, lostDir, inLostDir, a, b, inA, inDup, latin1}) {
        EXPECT_TRUE(R().WasShown(n)) << n->GetFileName();
        // Every shown node reaches the root.
        IFileNode* top = n;
        while (top->GetParent())
            top = top->GetParent();
        EXPECT_EQ(top, R().roots.at(0)) << n->GetFileName();
    }
    EXPECT_TRUE(R().WasShown(dup1) != R().WasShown(dup2));
    for (TNode* n : {emptyFile, emptyOrphan, emptyDir})
        EXPECT_FALSE(R().WasShown(n)) << n->GetFileName();
}

TEST_F(TreeBuilderTest, AmongFoldersOfOneIdTheNodesOwnPartitionWins) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* p0 = Folder(40, kRoot, "in-partition-0");
    TNode* p1 = Folder(40, kRoot, "in-partition-1");
    p0->SetBelongedPartition(0);
    p1->SetBelongedPartition(1);
    TNode* file = File(41, 40, "f.txt");
    file->SetBelongedPartition(1);
    Take(p0);
    Take(p1);
    Take(file);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(file->GetParent(), p1);
}

// Two volumes of one file system on a disk: their folders share id, parent
// and name, and each volume's files stay in its own folder.
TEST_F(TreeBuilderTest, FoldersOfTwoVolumesWithOneIdAndNameStayApart) {
    for (_tagSearcherType type : {SEARCHER_NTFS, SEARCHER_FAT, SEARCHER_EXFAT, SEARCHER_HFSPLUS}) {
        SCOPED_TRACE(type);
        f = std::make_unique<BuilderFixture>();
        B()->AddSearcherInfo(type, kRoot);
        TNode* folders[2];
        TNode* files[2];
        for (unsigned short volume : {0, 1}) {
            folders[volume] = Folder(40, kRoot, "Documents", false, type);
            folders[volume]->SetBelongedPartition(volume);
            files[volume] = File(41 + volume, 40, volume ? "b.txt" : "a.txt", 10, true, type);
            files[volume]->SetBelongedPartition(volume);
            Take(folders[volume], type);
            Take(files[volume], type);
        }
        B()->FlashBuild(type);
        for (int volume : {0, 1}) {
            EXPECT_TRUE(R().WasShown(folders[volume])) << volume;
            EXPECT_EQ(files[volume]->GetParent(), folders[volume]) << volume;
        }
    }
}

// A file whose own volume's folder was not found is never put in another
// volume's folder of that id: it ends among the lost files.
TEST_F(TreeBuilderTest, NoNodeJoinsAnotherVolumesFolder) {
    for (int folders : {1, 2}) {
        SCOPED_TRACE(folders);
        f = std::make_unique<BuilderFixture>();
        B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
        std::vector<TNode*> others;
        for (int i = 0; i < folders; ++i) {
            others.push_back(Folder(40, kRoot, i ? "Other" : "Documents"));
            others.back()->SetBelongedPartition(0);
            Take(others.back());
        }
        TNode* mine = File(41, 40, "b.txt");
        mine->SetBelongedPartition(1);
        Take(mine);
        TNode* theirs = File(42, 40, "a.txt");
        theirs->SetBelongedPartition(0);
        Take(theirs);
        B()->FlashBuild(SEARCHER_NTFS);
        EXPECT_EQ(std::count(others.begin(), others.end(), theirs->GetParent()), 1);
        ASSERT_TRUE(R().WasShown(mine));
        ASSERT_NE(mine->GetParent(), nullptr);
        EXPECT_STREQ(mine->GetParent()->GetFileName(), "Other lost files");
    }
}

// A deep scan's volumes: each has a folder of its own under the root, named
// by its label, or by file system and offset when it has none or another
// volume has it; what sits at a volume's top, and what it lost, stays in it.
TEST_F(TreeBuilderTest, EachVolumeOfADeepScanHasItsOwnFolder) {
    const _tagSearcherType type = SEARCHER_FAT;
    B()->AddSearcherInfo(type, kRoot);
    B()->AddVolume(type, 0, "VOL", "FAT32", 1048576);
    B()->AddVolume(type, 1, "VOL", "FAT32", 43008000);
    B()->AddVolume(type, 2, "", "FAT16", 512);
    B()->AddVolume(type, 3, "EMPTY", "FAT32", 1024);
    // Announced again: still one folder.
    B()->AddVolume(type, 0, "VOL", "FAT32", 1048576);
    TNode* folders[3];
    TNode* files[3];
    for (unsigned short v : {0, 1, 2}) {
        folders[v] = Folder(40, kRoot, "Photos", false, type);
        files[v] = File(41, 40, "IMG_0001.jpg", 10 + v, true, type);
        folders[v]->SetBelongedPartition(v);
        files[v]->SetBelongedPartition(v);
        Take(folders[v], type);
        Take(files[v], type);
    }
    TNode* lostOfOne = File(50, 999, "lost.jpg", 5, true, type);
    lostOfOne->SetBelongedPartition(1);
    TNode* noVolume = File(51, kRoot, "free.jpg", 5, true, type);
    noVolume->SetBelongedPartition(7);
    Take(lostOfOne, type);
    Take(noVolume, type);
    B()->FlashBuild(type);

    IFileNode* root = R().roots.at(0);
    std::vector<std::string> top;
    for (IFileNode* c = root->GetFirstChild(); c; c = c->GetNextNode())
        top.emplace_back(c->GetFileName());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"FAT16 at 512", "VOL", "VOL (FAT32 at 43008000)",
                                             "free.jpg"}));
    for (unsigned short v : {0, 1, 2}) {
        IFileNode* volume = folders[v]->GetParent();
        ASSERT_NE(volume, nullptr) << v;
        EXPECT_EQ(volume->GetParent(), root) << v;
        EXPECT_EQ(files[v]->GetParent(), folders[v]) << v;
        EXPECT_TRUE(R().WasShown(volume)) << v;
    }
    EXPECT_EQ(noVolume->GetParent(), root);
    IFileNode* lost = lostOfOne->GetParent();
    ASSERT_NE(lost, nullptr);
    EXPECT_STREQ(lost->GetFileName(), "Other lost files");
    EXPECT_EQ(lost->GetParent(), folders[1]->GetParent());
}

TEST_F(TreeBuilderTest, NodesWaitingForANewRootIdJoinTheRoot) {
    B()->AddSearcherInfo(SEARCHER_FAT, 2);
    TNode* file = File(10, 77, "a.txt", 5, true, SEARCHER_FAT);
    Take(file, SEARCHER_FAT);
    F().clock += 4;
    Take(File(11, 2, "b.txt", 5, true, SEARCHER_FAT), SEARCHER_FAT);
    EXPECT_FALSE(R().WasShown(file));
    B()->AddSearcherInfo(SEARCHER_FAT, 77);
    B()->FlashBuild(SEARCHER_FAT);
    EXPECT_EQ(file->GetParent(), R().roots.at(0));
}

TEST_F(TreeBuilderTest, TrashWhoseAncestorsLoopIsNoUsersTrash) {
    F().home = "/a/b/";
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    Take(Folder(10, 11, "a"));
    Take(Folder(11, 10, "b"));
    TNode* trash = Folder(12, 11, ".Trash");
    Take(trash);
    Take(File(13, 12, "x", 5, true));
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_FALSE(trash->IsDeleted());
}

TEST_F(TreeBuilderTest, NoLostFolderWhenEverythingHasItsPlace) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    Take(File(10, kRoot, "a"));
    B()->FlashBuild(SEARCHER_NTFS);
    for (const auto& batch : R().batches)
        EXPECT_EQ(batch.lost, 0);
}

TEST_F(TreeBuilderTest, UnshownNodesAreFreedByTheFinalBuildAndShownOnesLiveOn) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    Take(Folder(10, kRoot, "empty"));
    Take(File(11, 888, "zero", 0));
    TNode* kept = File(12, kRoot, "kept", 3);
    Take(kept);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(TNode::live, 1);
    EXPECT_STREQ(kept->GetFileName(), "kept");  // still alive, still in its tree
}

TEST_F(TreeBuilderTest, ReplayKeepsUnshownNodesUntilRelease) {
    f = std::make_unique<BuilderFixture>(true);
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    Take(Folder(10, kRoot, "empty"));
    Take(File(11, kRoot, "a"));
    // A replayed result holds no copies to drop: same id and name is kept.
    Take(File(11, kRoot, "a"));
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(TNode::live, 3);
}

// A scan stopped before its end never calls FlashBuild: releasing the
// builder must still free every node it took, wherever it sits.
TEST_F(TreeBuilderTest, ReleaseWithoutFinalBuildFreesEveryNode) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    B()->AddSearcherInfo(SEARCHER_RAW, 1);
    for (int i = 0; i < 1500; ++i)
        Take(File(100 + i, kRoot, "shown"));
    ASSERT_FALSE(R().batches.empty());
    Take(File(5000, 4000, "waiting"));
    Take(Folder(5001, kRoot, "empty"));
    Take(Folder(6000, kRoot, "$Recycle.Bin"));
    Take(File(6001, 6000, "$RABC.txt"));
    Take(File(6002, 6000, "$IABC.txt"));
    Take(File(7000, 1, "carved.jpg", 10, true, SEARCHER_RAW), SEARCHER_RAW);
    EXPECT_GT(TNode::live, 1500);
    F().ReleaseBuilder();
    EXPECT_EQ(TNode::live, 0);
}

TEST_F(TreeBuilderTest, TrashesUnderTheRootMakesItsContentsDeleted) {
    F().filter.showNormal = 0;
    B()->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    Refuse(Folder(3, 2, "HFS+ Private Data", false, SEARCHER_HFSPLUS), SEARCHER_HFSPLUS);
    TNode* trashes = Folder(10, 2, ".Trashes", false, SEARCHER_HFSPLUS);
    TNode* user = Folder(11, 10, "501", false, SEARCHER_HFSPLUS);
    TNode* file = File(12, 11, "photo.jpg", 10, false, SEARCHER_HFSPLUS);
    Take(file, SEARCHER_HFSPLUS);
    Take(trashes, SEARCHER_HFSPLUS);
    Take(user, SEARCHER_HFSPLUS);
    B()->FlashBuild(SEARCHER_HFSPLUS);
    EXPECT_TRUE(trashes->IsDeleted());
    EXPECT_TRUE(file->IsDeleted());
    EXPECT_TRUE(R().WasShown(file));
    EXPECT_STREQ(trashes->GetFileName(), ".Trashes");
}

TEST_F(TreeBuilderTest, TrashInTheInvokingUsersHomeMovesUnderTheRoot) {
    F().filter.showNormal = 0;
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    Take(Folder(10, kRoot, "home"));
    Take(Folder(11, 10, "alice"));
    TNode* trash = Folder(12, 11, ".Trash");
    TNode* file = File(13, 12, "letter.odt", 10, false);
    Take(trash);
    Take(file);
    // Another user's trash is only a folder; its live files stay hidden.
    Take(Folder(20, 10, "bob"));
    TNode* bobTrash = Folder(21, 20, ".Trash");
    TNode* bobFile = File(22, 21, "bob.odt", 10, false);
    TNode* bobDeleted = File(23, 21, "gone.odt", 10, true);
    Take(bobDeleted);
    Take(bobTrash);
    Take(bobFile);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(trash->GetParent(), R().roots.at(0));
    EXPECT_TRUE(trash->IsDeleted());
    EXPECT_TRUE(R().WasShown(file));
    EXPECT_TRUE(file->IsDeleted());
    EXPECT_TRUE(R().WasShown(bobDeleted));
    EXPECT_FALSE(bobTrash->IsDeleted());
    EXPECT_NE(bobTrash->GetParent(), R().roots.at(0));
    EXPECT_FALSE(R().WasShown(bobFile));
}

TEST_F(TreeBuilderTest, TrashFoundBeforeItsHomeIsSettledByTheFinalBuild) {
    F().filter.showNormal = 0;
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* trash = Folder(12, 11, ".Trash");
    TNode* file = File(13, 12, "letter.odt", 10, false);
    Take(trash);
    Take(file);
    Take(Folder(10, kRoot, "home"));
    Take(Folder(11, 10, "alice"));
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_TRUE(trash->IsDeleted());
    EXPECT_TRUE(file->IsDeleted());
    EXPECT_TRUE(R().WasShown(file));
}

TEST_F(TreeBuilderTest, HfsPrivateDataFoldersAreDropped) {
    B()->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    TNode* early = Folder(20, 3, "dir_20", false, SEARCHER_HFSPLUS);
    Take(early, SEARCHER_HFSPLUS);
    // No incremental build before the private folder is known.
    for (int i = 0; i < 1100; ++i)
        Take(File(100 + i, 2, "f", 1, true, SEARCHER_HFSPLUS), SEARCHER_HFSPLUS);
    EXPECT_TRUE(R().batches.empty());
    Refuse(Folder(3, 2, "HFS+ Private Data", false, SEARCHER_HFSPLUS), SEARCHER_HFSPLUS);
    EXPECT_EQ(TNode::live, 1100);  // the early folder inside it is gone
    Refuse(Folder(21, 3, "dir_21", false, SEARCHER_HFSPLUS), SEARCHER_HFSPLUS);
    F().clock += 4;
    Take(File(5000, 2, "g", 1, true, SEARCHER_HFSPLUS), SEARCHER_HFSPLUS);
    EXPECT_EQ(R().Shown().size(), 1101u);
    B()->FlashBuild(SEARCHER_HFSPLUS);
}

// The resident-data reader stands in for NTFS: it answers the bytes the test
// stored for an index file's name.
struct FakeIndexReader : IFileReader {
    explicit FakeIndexReader(std::vector<uint8_t> bytes) : data(std::move(bytes)) {}
    unsigned ReadData(long long offset, char* buffer, unsigned length, int*) override {
        if (offset < 0 || static_cast<size_t>(offset) >= data.size())
            return 0;
        const size_t n = std::min<size_t>(length, data.size() - offset);
        std::memcpy(buffer, data.data() + offset, n);
        return static_cast<unsigned>(n);
    }
    IFileReader* Clone() override { return new FakeIndexReader(data); }
    long long GetDataSize() const override { return static_cast<long long>(data.size()); }
    int IsCompressFile() override { return 0; }
    void Release() override { delete this; }
    std::vector<uint8_t> data;
};

// A version-2 index file: header, name length, then the UTF-16LE path.
std::vector<uint8_t> IndexFile(const std::u16string& path) {
    std::vector<uint8_t> out = Utf16Record(path, 28);
    out[0] = 2;
    out[24] = static_cast<uint8_t>(path.size() + 1);
    return out;
}

struct IndexStore {
    static inline std::map<std::string, std::vector<uint8_t>> files;
    static inline int opened = 0;
    static inline unsigned sectorsPerCluster = 0;
    static IFileReader* Make(IStorageDevice*, IFileNode* node, long long, unsigned spc) {
        ++opened;
        sectorsPerCluster = spc;
        auto it = files.find(node->GetFileName());
        return it == files.end() ? nullptr : new FakeIndexReader(it->second);
    }
};

long long IndexSize(const std::string& name) {
    return static_cast<long long>(IndexStore::files.at(name).size());
}

class RecycleBinTest : public TreeBuilderTest {
protected:
    void SetUp() override {
        TreeBuilderTest::SetUp();
        IndexStore::files.clear();
        IndexStore::opened = 0;
        resident_ = std::make_unique<velmora::test::ScopedResidentData>(&IndexStore::Make);
    }
    void TearDown() override {
        resident_.reset();
        TreeBuilderTest::TearDown();
    }

private:
    std::unique_ptr<velmora::test::ScopedResidentData> resident_;
};

TEST_F(RecycleBinTest, RecycledFilesGetTheirNamesBackFromTheirIndexFiles) {
    IndexStore::files["$IAB12CD.docx"] =
        IndexFile(u"C:\\Users\\u\\Documents\\Quarterly report.docx");
    IndexStore::files["$IAB12CD.docx.bak"] = IndexFile(u"C:\\Users\\u\\wrong.docx");
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    CSearchedPartitionInfo partition;
    partition.sectorsPerCluster = 8;
    int device = 0;  // only its presence matters here
    B()->SetPartitonDevice(&partition, reinterpret_cast<IStorageDevice*>(&device));
    TNode* bin = Folder(30, kRoot, "$RECYCLE.BIN");
    TNode* sid = Folder(31, 30, "S-1-5-21-1000");
    TNode* data = File(32, 31, "$RAB12CD.docx", 4000, false);
    TNode* lonely = File(34, 31, "$RZZ.txt", 50, false);
    Take(bin);
    Take(sid);
    // The longer index name comes first: only the exact pair may match.
    Take(File(35, 31, "$IAB12CD.docx.bak", IndexSize("$IAB12CD.docx.bak"), false));
    Take(File(33, 31, "$IAB12CD.docx", IndexSize("$IAB12CD.docx"), false));
    Take(data);
    Take(lonely);
    EXPECT_TRUE(data->IsDeleted());  // taken aside, marked deleted
    EXPECT_TRUE(R().batches.empty());
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_STREQ(data->GetFileName(), "Quarterly report.docx");
    EXPECT_STREQ(lonely->GetFileName(), "$RZZ.txt");
    EXPECT_EQ(IndexStore::sectorsPerCluster, 8u);
    EXPECT_TRUE(R().WasShown(data));
    EXPECT_TRUE(R().WasShown(lonely));
    EXPECT_EQ(data->GetParent(), sid);
    EXPECT_EQ(sid->GetParent(), bin);
    // The index files themselves are bookkeeping: never shown.
    EXPECT_EQ(R().ShownNamed("$IAB12CD.docx"), nullptr);
}

TEST_F(RecycleBinTest, WithoutDeviceOrReaderNamesStay) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    TNode* data = File(32, kRoot, "$RAB.txt", 10);
    Take(data);
    Take(File(33, kRoot, "$IAB.txt", 10));
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(IndexStore::opened, 0);
    EXPECT_STREQ(data->GetFileName(), "$RAB.txt");
    EXPECT_TRUE(R().WasShown(data));
}

TEST_F(RecycleBinTest, NtfsSystemFilesAndApfsNodesAreNotRecycled) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    B()->AddSearcherInfo(SEARCHER_APFS, 2);
    TNode* reparse = File(40, kRoot, "$Reparse", 10);
    Take(reparse);
    TNode* apfs = File(41, 2, "$Rthing", 10, true, SEARCHER_APFS);
    Take(apfs, SEARCHER_APFS);
    F().clock += 4;
    Take(File(42, kRoot, "x", 10));
    Take(File(43, 2, "y", 10, true, SEARCHER_APFS), SEARCHER_APFS);
    // Both reached their trees before any final build.
    EXPECT_TRUE(R().WasShown(reparse));
    EXPECT_TRUE(R().WasShown(apfs));
    B()->FlashBuild(SEARCHER_NTFS);
    B()->FlashBuild(SEARCHER_APFS);
}

// Two searchers share the builder: one's final build leaves the other's
// recycled nodes alone.
TEST_F(RecycleBinTest, FinalBuildTakesOnlyItsOwnSearchersRecycledNodes) {
    B()->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    B()->AddSearcherInfo(SEARCHER_FAT, 2);
    TNode* fat = File(50, 2, "$RFAT.txt", 10, true, SEARCHER_FAT);
    TNode* ntfs = File(51, kRoot, "$RNT.txt", 10);
    Take(fat, SEARCHER_FAT);
    Take(ntfs);
    B()->FlashBuild(SEARCHER_NTFS);
    EXPECT_TRUE(R().WasShown(ntfs));
    EXPECT_FALSE(R().WasShown(fat));
    B()->FlashBuild(SEARCHER_FAT);
    EXPECT_TRUE(R().WasShown(fat));
    EXPECT_EQ(R().roots.size(), 2u);
}

}  // namespace

// The builder's table of nodes by id: filled to nearly three quarters (long
// runs of neighbouring slots), ids stay found after others around them are
// erased, and erased ids are gone.
TEST(NodeIndex, ErasingKeepsEveryOtherIdFound) {
    CNodeIndex index;
    std::vector<std::unique_ptr<TNode>> nodes;
    std::vector<long long> ids;
    for (long long id = 0; id < 2800; ++id)
        ids.push_back(id);
    for (long long i = 1; i <= 200; ++i)
        ids.push_back((i << 40) + 7);
    for (long long id : ids) {
        nodes.push_back(std::make_unique<TNode>(id, 5, "n"));
        index.Add(id, nodes.back().get());
    }
    // A second node of an id comes after the first.
    TNode copy(42, 5, "n");
    index.Add(42, &copy);
    std::vector<IFileNode*> of42;
    index.Find(42).ForEach([&](IFileNode* n) { of42.push_back(n); });
    EXPECT_EQ(of42, (std::vector<IFileNode*>{nodes[42].get(), &copy}));
    index.Erase(42);
    EXPECT_EQ(index.Find(42).first, nullptr);
    index.Add(42, nodes[42].get());
    EXPECT_FALSE(index.Find(42).HasMore());
    for (size_t i = 0; i < ids.size(); i += 3)
        index.Erase(ids[i]);
    index.Erase(-12345);  // never recorded: nothing changes
    size_t kept = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        const _PARENT_INFO info = index.Find(ids[i]);
        if (i % 3 == 0) {
            EXPECT_EQ(info.first, nullptr) << ids[i];
        } else {
            EXPECT_EQ(info.first, nodes[i].get()) << ids[i];
            ++kept;
        }
    }
    EXPECT_EQ(index.Size(), kept);
    size_t walked = 0;
    index.ForEach([&](long long, const _PARENT_INFO&) { ++walked; });
    EXPECT_EQ(walked, kept);
}
