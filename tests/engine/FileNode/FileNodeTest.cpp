#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "DataRun.h"
#include "FileNode.h"
#include "support/TestNode.h"

namespace {

// Nodes of one test; freed children first is not required (the destructor
// detaches either way), so plain unique_ptrs do.
struct Tree {
    TestNode* Add(long long id, TestNode* parent, bool dir = false) {
        nodes.push_back(std::make_unique<TestNode>(id, parent ? parent->GetCurrentNodeID() : -1,
                                                   "n" + std::to_string(id), dir));
        TestNode* n = nodes.back().get();
        if (parent) {
            EXPECT_EQ(parent->AddChild(n), 1);
        }
        return n;
    }
    std::vector<std::unique_ptr<TestNode>> nodes;
};

TEST(FileNode, FreshNodeReadsDefaults) {
    TestNode n(-1, -1, "x");
    TestNode fresh(0, 0, "y");
    EXPECT_EQ(fresh.GetStateWord(), 0xFFFFFFFFFFFFFF10ULL);
    EXPECT_EQ(n.GetCheckedStatus(), CHECK_UNCHECKED);
    EXPECT_EQ(n.IsNodeShow(), 1);
    EXPECT_EQ(n.GetBelongedPartition(), 0xFFFF);
    EXPECT_EQ(n.GetMetadataStartPosition(), -1);
    EXPECT_EQ(n.GetCurrentNodeID(), -1);
    EXPECT_EQ(n.GetParentNodeID(), -1);
    EXPECT_EQ(n.GetSearcheType(), SEARCHER_NONE);
    EXPECT_EQ(n.GetVolumeName(), nullptr);
    EXPECT_EQ(n.CreateCompressFileReader(nullptr), nullptr);
    EXPECT_EQ(n.IsCompressed(), 0);
    EXPECT_EQ(n.GetDataRunList(), nullptr);
    EXPECT_EQ(n.GetFileProperties(), nullptr);
}

TEST(FileNode, StateWordFieldsStayApart) {
    const long long sectors[] = {0, 1, -1, 123456789, (1LL << 39) - 1, -(1LL << 39)};
    const unsigned short partitions[] = {0, 1, 0x1234, 0xFFFF};
    for (long long sector : sectors) {
        for (unsigned short partition : partitions) {
            TestNode n(1, 0, "x");
            n.SetCheck(CHECK_CHECKED);
            n.SetMetaDataSector(sector);
            n.SetBelongedPartition(partition);
            EXPECT_EQ(n.GetMetadataStartPosition(), sector);
            EXPECT_EQ(n.GetBelongedPartition(), partition);
            EXPECT_EQ(n.GetCheckedStatus(), CHECK_CHECKED);
            EXPECT_EQ(n.IsNodeShow(), 1);
            n.SetMetaDataSector(7);
            EXPECT_EQ(n.GetBelongedPartition(), partition);
            EXPECT_EQ(n.GetCheckedStatus(), CHECK_CHECKED);
        }
    }
}

TEST(FileNode, CheckMarksPropagateThroughThreeLevels) {
    Tree t;
    TestNode* root = t.Add(1, nullptr, true);
    TestNode* a = t.Add(2, root, true);
    TestNode* b = t.Add(3, root, true);
    TestNode* a1 = t.Add(4, a);
    TestNode* a2 = t.Add(5, a);
    TestNode* b1 = t.Add(6, b);

    a1->SetCheck(CHECK_CHECKED);
    EXPECT_EQ(a->GetCheckedStatus(), CHECK_PARTLY);
    EXPECT_EQ(a->GetCheckedSum(), 2u);
    EXPECT_EQ(root->GetCheckedStatus(), CHECK_PARTLY);

    a2->SetCheck(CHECK_CHECKED);
    EXPECT_EQ(a->GetCheckedStatus(), CHECK_CHECKED);
    EXPECT_EQ(root->GetCheckedStatus(), CHECK_PARTLY);

    b1->SetCheck(CHECK_CHECKED);
    EXPECT_EQ(b->GetCheckedStatus(), CHECK_CHECKED);
    EXPECT_EQ(root->GetCheckedStatus(), CHECK_CHECKED);

    // Unticking the root clears everything below it, and ticking again sets it.
    root->SetCheck(CHECK_UNCHECKED);
    for (auto& n : t.nodes) {
        EXPECT_EQ(n->GetCheckedStatus(), CHECK_UNCHECKED) << n->GetCurrentNodeID();
    }
    root->SetCheck(CHECK_CHECKED);
    for (auto& n : t.nodes) {
        EXPECT_EQ(n->GetCheckedStatus(), CHECK_CHECKED) << n->GetCurrentNodeID();
    }

    // One leaf off: its folder and the root become partly checked; on again: all checked.
    a1->SetCheck(CHECK_UNCHECKED);
    EXPECT_EQ(a->GetCheckedStatus(), CHECK_PARTLY);
    EXPECT_EQ(b->GetCheckedStatus(), CHECK_CHECKED);
    EXPECT_EQ(root->GetCheckedStatus(), CHECK_PARTLY);
    a1->SetCheck(CHECK_CHECKED);
    EXPECT_EQ(root->GetCheckedStatus(), CHECK_CHECKED);

    // Unticking both leaves of a folder makes it unchecked.
    a1->SetCheck(CHECK_UNCHECKED);
    a2->SetCheck(CHECK_UNCHECKED);
    EXPECT_EQ(a->GetCheckedStatus(), CHECK_UNCHECKED);
    EXPECT_EQ(root->GetCheckedStatus(), CHECK_PARTLY);
}

TEST(FileNode, CheckIgnoresHiddenNodesAndBadValues) {
    Tree t;
    TestNode* dir = t.Add(1, nullptr, true);
    TestNode* f = t.Add(2, dir);
    TestNode* g = t.Add(3, dir);
    for (int bad : {1, 3, 7}) {
        f->SetCheck(static_cast<_tagCheckedStatus>(bad));
        EXPECT_EQ(f->GetCheckedStatus(), CHECK_UNCHECKED);
        EXPECT_EQ(dir->GetCheckedStatus(), CHECK_UNCHECKED);
    }
    g->ShowNode(0);
    g->SetCheck(CHECK_CHECKED);
    EXPECT_EQ(g->GetCheckedStatus(), CHECK_UNCHECKED);
    EXPECT_EQ(dir->GetCheckedSum(), 0u);
    // Ticking the folder leaves its hidden child alone.
    dir->SetCheck(CHECK_CHECKED);
    EXPECT_EQ(f->GetCheckedStatus(), CHECK_CHECKED);
    EXPECT_EQ(g->GetCheckedStatus(), CHECK_UNCHECKED);
}

namespace {
// Runs `body` on a thread with a small stack: a walk that recurses per level
// overflows it at once, whatever the frame size of the build.
void OnSmallStack(const std::function<void()>& body) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}
}  // namespace

TEST(FileNode, DeepChainPropagatesWithoutRecursion) {
    // Far deeper than a recursive walk could go on a scanning thread's stack.
    constexpr int kDepth = 200000;
    OnSmallStack([] {
        std::vector<std::unique_ptr<TestNode>> chain;
        chain.reserve(kDepth);
        for (int i = 0; i < kDepth; ++i)
            chain.push_back(std::make_unique<TestNode>(i, i - 1, "d", true));
        // Linked from the bottom up: each new parent has no ancestors yet to check.
        for (int i = kDepth - 1; i > 0; --i)
            ASSERT_EQ(chain[i - 1]->AddChild(chain[i].get()), 1);
        chain.front()->SetCheck(CHECK_CHECKED);
        EXPECT_EQ(chain.back()->GetCheckedStatus(), CHECK_CHECKED);
        chain.back()->SetCheck(CHECK_UNCHECKED);
        EXPECT_EQ(chain.front()->GetCheckedStatus(), CHECK_UNCHECKED);
        chain.back()->ShowNode(0);
        EXPECT_EQ(chain.front()->IsNodeShow(), 0);
        // Freed leaf first, so each destructor detaches from a live parent.
        while (!chain.empty())
            chain.pop_back();
    });
}

TEST(FileNode, ShowStateFollowsChildren) {
    Tree t;
    TestNode* root = t.Add(1, nullptr, true);
    TestNode* dir = t.Add(2, root, true);
    TestNode* f1 = t.Add(3, dir);
    TestNode* f2 = t.Add(4, dir);
    f1->ShowNode(0);
    EXPECT_EQ(dir->IsNodeShow(), 1);
    f2->ShowNode(0);
    EXPECT_EQ(dir->IsNodeShow(), 0);
    EXPECT_EQ(root->IsNodeShow(), 0);
    EXPECT_EQ(root->GetShownChildrenCount(), 0u);
    f2->ShowNode(5);  // any non-zero value shows, and counts once
    f2->ShowNode(1);
    EXPECT_EQ(dir->IsNodeShow(), 1);
    EXPECT_EQ(dir->GetShownChildrenCount(), 1u);
    EXPECT_EQ(root->IsNodeShow(), 1);
}

TEST(FileNode, AddChildRefusesWhatWouldBreakTheTree) {
    Tree t;
    TestNode* grand = t.Add(1, nullptr, true);
    TestNode* parent = t.Add(2, grand, true);
    TestNode* child = t.Add(3, parent, true);
    EXPECT_EQ(child->AddChild(nullptr), 0);
    EXPECT_EQ(child->AddChild(child), 0);
    EXPECT_EQ(child->AddChild(grand), 0);   // an ancestor
    EXPECT_EQ(child->AddChild(parent), 0);  // has a parent, and is an ancestor
    EXPECT_EQ(parent->AddChild(child), 0);  // the same node twice
    EXPECT_EQ(grand->AddChild(child), 0);   // already in another folder
    EXPECT_EQ(parent->GetShownChildrenCount(), 1u);
    EXPECT_EQ(parent->GetFirstChild(), child);
    EXPECT_EQ(child->GetNextNode(), nullptr);
    EXPECT_EQ(CFileNode::IsLoopedToSelf(child, grand), 1);
    EXPECT_EQ(CFileNode::IsLoopedToSelf(grand, child), 0);

    // A parent link that would close a loop is refused as well.
    child->SetParent(grand);
    grand->SetParent(child);
    EXPECT_EQ(grand->GetParent(), nullptr);
    EXPECT_EQ(child->GetParent(), grand);
}

TEST(FileNode, ChildrenGoInFrontAndAddNextInsertsAfter) {
    Tree t;
    TestNode* dir = t.Add(1, nullptr, true);
    TestNode* a = t.Add(2, dir);
    TestNode* b = t.Add(3, dir);
    EXPECT_EQ(dir->GetFirstChild(), b);
    EXPECT_EQ(b->GetNextNode(), a);
    TestNode c(4, 1, "c");
    EXPECT_EQ(b->AddNext(&c), 1);
    EXPECT_EQ(b->GetNextNode(), &c);
    EXPECT_EQ(c.GetNextNode(), a);
    EXPECT_EQ(c.GetParent(), dir);
    EXPECT_EQ(dir->GetShownChildrenCount(), 3u);
    EXPECT_EQ(b->AddNext(&c), 0);   // already linked
    EXPECT_EQ(a->AddNext(dir), 0);  // the folder itself
    EXPECT_EQ(a->AddNext(nullptr), 0);
    EXPECT_EQ(dir->RemoveChild(&c), 1);
}

TEST(FileNode, RemoveChildKeepsHiddenSiblingsAndFixesMarks) {
    Tree t;
    TestNode* dir = t.Add(1, nullptr, true);
    TestNode* hidden = t.Add(2, dir);
    TestNode* shown = t.Add(3, dir);
    hidden->ShowNode(0);
    ASSERT_EQ(dir->GetShownChildrenCount(), 1u);
    // Removing the only shown child leaves the hidden one in the list.
    EXPECT_EQ(dir->RemoveChild(shown), 1);
    EXPECT_EQ(dir->GetFirstChild(), hidden);
    EXPECT_EQ(dir->GetShownChildrenCount(), 0u);
    EXPECT_EQ(shown->GetParent(), nullptr);
    EXPECT_EQ(shown->GetNextNode(), nullptr);
    EXPECT_EQ(dir->RemoveChild(shown), 0);  // no longer a child
    EXPECT_EQ(hidden->RemoveChild(shown), 0);

    // Removing the unticked child of a partly ticked folder ticks it.
    Tree u;
    TestNode* d = u.Add(1, nullptr, true);
    TestNode* on = u.Add(2, d);
    TestNode* off = u.Add(3, d);
    TestNode* middle = u.Add(4, d);
    on->SetCheck(CHECK_CHECKED);
    middle->SetCheck(CHECK_CHECKED);
    ASSERT_EQ(d->GetCheckedStatus(), CHECK_PARTLY);
    EXPECT_EQ(d->RemoveChild(off), 1);
    EXPECT_EQ(d->GetCheckedStatus(), CHECK_CHECKED);
    EXPECT_EQ(d->GetCheckedSum(), 4u);
    EXPECT_EQ(middle->GetNextNode(), on);
}

TEST(FileNode, AddedChildrenCountWithTheirMarks) {
    TestNode dir(1, -1, "d", true);
    TestNode ticked(2, 1, "t"), plain(3, 1, "p"), hidden(4, 1, "h");
    ticked.SetCheck(CHECK_CHECKED);
    dir.AddChild(&ticked);
    EXPECT_EQ(dir.GetCheckedStatus(), CHECK_CHECKED);
    dir.AddChild(&plain);
    EXPECT_EQ(dir.GetCheckedStatus(), CHECK_PARTLY);
    // A hidden child counts only once it is shown, and then only once.
    hidden.ShowNode(0);
    dir.AddChild(&hidden);
    EXPECT_EQ(dir.GetShownChildrenCount(), 2u);
    hidden.ShowNode(1);
    EXPECT_EQ(dir.GetShownChildrenCount(), 3u);
    for (TestNode* n : {&ticked, &plain, &hidden})
        dir.RemoveChild(n);
    EXPECT_EQ(dir.GetShownChildrenCount(), 0u);
    EXPECT_EQ(dir.GetCheckedSum(), 0u);
    EXPECT_EQ(dir.GetFirstChild(), nullptr);
}

TEST(FileNode, DestroyedNodesLeaveNoDanglingLinks) {
    auto dir = std::make_unique<TestNode>(1, -1, "d", true);
    auto a = std::make_unique<TestNode>(2, 1, "a");
    auto b = std::make_unique<TestNode>(3, 1, "b");
    auto c = std::make_unique<TestNode>(4, 1, "c");
    dir->AddChild(a.get());
    dir->AddChild(b.get());
    dir->AddChild(c.get());
    b.reset();  // from the middle of the list
    EXPECT_EQ(dir->GetFirstChild(), c.get());
    EXPECT_EQ(c->GetNextNode(), a.get());
    EXPECT_EQ(dir->GetShownChildrenCount(), 2u);
    dir.reset();
    EXPECT_EQ(a->GetParent(), nullptr);
    EXPECT_EQ(c->GetParent(), nullptr);
    EXPECT_EQ(c->GetNextNode(), nullptr);
}

TEST(FileNode, EqualityRules) {
    struct Case {
        const char* what;
        _tagSearcherType type;
        unsigned short partition2;
        long long created2;
        long long size2;
        int expected;
    };
    // Nodes of two volumes are never copies, whatever else they share.
    const Case cases[] = {
        {"HFS+ files, same time and size, other partition", SEARCHER_HFSPLUS, 2, 100, 5, 0},
        {"HFS+ files, other time, other partition", SEARCHER_HFSPLUS, 2, 101, 5, 0},
        {"HFS+ files, other size, same partition", SEARCHER_HFSPLUS, 1, 100, 6, 1},
        {"NTFS files, other partition", SEARCHER_NTFS, 2, 100, 5, 0},
        {"NTFS files, same partition", SEARCHER_NTFS, 1, 100, 5, 1},
    };
    for (const Case& c : cases) {
        TestNode x(10, 5, "f.txt", false, c.type), y(10, 5, "f.txt", false, c.type);
        x.created = 100;
        x.size = 5;
        x.SetBelongedPartition(1);
        y.created = c.created2;
        y.size = c.size2;
        y.SetBelongedPartition(c.partition2);
        EXPECT_EQ(x == y, c.expected) << c.what;
    }
    for (_tagSearcherType type : {SEARCHER_NTFS, SEARCHER_FAT, SEARCHER_EXFAT, SEARCHER_HFSPLUS}) {
        TestNode a(10, 5, "d", true, type), b(10, 5, "d", true, type);
        a.SetBelongedPartition(1);
        b.SetBelongedPartition(1);
        EXPECT_EQ(a == b, 1) << type << ": folders of one volume with one name are one folder";
        b.SetBelongedPartition(2);
        EXPECT_EQ(a == b, 0) << type << ": folders of two volumes stay two";
    }
    TestNode d1(10, 5, "d", true), d2(10, 5, "d", true);
    TestNode f(10, 5, "d");
    EXPECT_EQ(d1 == f, 0) << "folder and file";
    TestNode otherId(11, 5, "d", true), otherParent(10, 6, "d", true), otherName(10, 5, "e", true);
    EXPECT_EQ(d1 == otherId, 0);
    EXPECT_EQ(d1 == otherParent, 0);
    EXPECT_EQ(d1 == otherName, 0);
}

TEST(FileNode, FatNodeTakesOverNewerDirectoryProperties) {
    TestNode fat(10, 5, "OLD", true, SEARCHER_FAT);
    fat.created = 100;
    TestNode newer(10, 5, "NEW", true, SEARCHER_FAT);
    newer.created = 100;
    TestNode older(10, 5, "ELDER", true, SEARCHER_FAT);
    older.created = 99;
    // Another volume's folder passes nothing over.
    TestNode foreign(10, 5, "FOREIGN", true, SEARCHER_FAT);
    foreign.created = 100;
    foreign.SetBelongedPartition(4);
    EXPECT_EQ(fat == foreign, 0);
    EXPECT_EQ(fat.propertiesCopied, 0);
    EXPECT_EQ(fat == older, 0);
    EXPECT_EQ(fat.propertiesCopied, 0);
    EXPECT_EQ(fat == newer, 0);
    EXPECT_EQ(fat.propertiesCopied, 1);
    EXPECT_STREQ(fat.GetFileName(), "NEW");
    // Not FAT: names differ, nothing is copied.
    TestNode ntfs(10, 5, "A", true, SEARCHER_NTFS);
    EXPECT_EQ(ntfs == newer, 0);
    EXPECT_EQ(ntfs.propertiesCopied, 0);
}

TEST(FileNode, FilterFileNameByDot) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{" ..name", "name"}, {"...", ""},        {"", ""},
                 {". .a.b", "a.b"},   {"plain", "plain"}, {nullptr, ""}};
    for (const Case& c : cases)
        EXPECT_STREQ(CFileNode::FilterFileNameByDot(c.in), c.out) << (c.in ? c.in : "null");
}

TEST(FileNode, MergeNodeTakesRunsAndSize) {
    TestNode keep(1, 0, "a"), drop(1, 0, "a");
    keep.SetDataRunList(CreateDataRunList());
    IDataRunList* runs = CreateDataRunList();
    DataRun r(10, 4);
    runs->AddDataRun(&r);
    drop.SetDataRunList(runs);
    drop.size = 2048;
    keep.MergeNode(&drop);
    EXPECT_EQ(keep.GetDataRunList(), runs);
    EXPECT_EQ(drop.GetDataRunList(), nullptr);
    EXPECT_EQ(keep.GetFileSize(), 2048);
    keep.MergeNode(&keep);
    keep.MergeNode(nullptr);
    EXPECT_EQ(keep.GetDataRunList(), runs);
}

// A node whose runs are kept elsewhere (NTFS keeps them packed) makes its
// list when first asked.
class RunsOnDemandNode : public TestNode {
public:
    using TestNode::TestNode;
    void KeepRunsElsewhere() { SetRunsOnDemand(); }
    IDataRunList* MakeDataRunList() const override {
        ++made;
        IDataRunList* list = CreateDataRunList();
        DataRun r(100, 8);
        list->AddDataRun(&r);
        return list;
    }
    mutable std::atomic<int> made{0};
};

TEST(FileNode, RunsOnDemandAreMadeWhenAskedAndTravelLikeOthers) {
    // Threads that ask at once all get the one list the node keeps.
    RunsOnDemandNode shared(1, 0, "a");
    shared.KeepRunsElsewhere();
    EXPECT_EQ(shared.made, 0);
    std::vector<IDataRunList*> got(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < got.size(); ++i)
        threads.emplace_back([&, i] { got[i] = shared.GetDataRunList(); });
    for (std::thread& t : threads)
        t.join();
    ASSERT_NE(got[0], nullptr);
    for (IDataRunList* list : got)
        EXPECT_EQ(list, got[0]);
    EXPECT_EQ(got[0]->GetFirst()->start, 100);
    const int made = shared.made;
    EXPECT_EQ(shared.GetDataRunList(), got[0]);
    EXPECT_EQ(shared.made, made);

    // Merged: the runs move as made; the other node keeps none.
    RunsOnDemandNode drop(2, 0, "b");
    drop.KeepRunsElsewhere();
    TestNode keep(2, 0, "b");
    keep.MergeNode(&drop);
    ASSERT_NE(keep.GetDataRunList(), nullptr);
    EXPECT_EQ(keep.GetDataRunList()->GetFirst()->start, 100);
    EXPECT_EQ(drop.GetDataRunList(), nullptr);

    // Runs set by hand replace those on demand, none included.
    RunsOnDemandNode cleared(3, 0, "c");
    cleared.KeepRunsElsewhere();
    cleared.SetDataRunList(nullptr);
    EXPECT_EQ(cleared.GetDataRunList(), nullptr);
    EXPECT_EQ(cleared.made, 0);

    // Assigned: a list of its own with the same runs.
    RunsOnDemandNode source(4, 0, "d");
    source.KeepRunsElsewhere();
    TestNode copy(0, 0, "x");
    copy = source;
    ASSERT_NE(copy.GetDataRunList(), nullptr);
    EXPECT_NE(copy.GetDataRunList(), source.GetDataRunList());
    EXPECT_EQ(copy.GetDataRunList()->GetFirst()->start, 100);
}

TEST(FileNode, AssignmentCopiesValuesNotLinks) {
    Tree t;
    TestNode* dir = t.Add(1, nullptr, true);
    TestNode* src = t.Add(2, dir);
    src->SetBelongedPartition(4);
    IDataRunList* runs = CreateDataRunList();
    DataRun r(1, 1);
    runs->AddDataRun(&r);
    src->SetDataRunList(runs);
    TestNode copy(0, 0, "c");
    copy = *src;
    EXPECT_EQ(copy.GetCurrentNodeID(), 2);
    EXPECT_EQ(copy.GetBelongedPartition(), 4);
    EXPECT_EQ(copy.GetParent(), nullptr);
    ASSERT_NE(copy.GetDataRunList(), nullptr);
    EXPECT_NE(copy.GetDataRunList(), runs);  // its own list: each is freed once
}

TEST(FilesystemNode, RootFolderReportsItsFields) {
    CFilesystemNode root("Disk(NTFS)", "Disk", SEARCHER_NTFS, 5);
    EXPECT_STREQ(root.GetFileName(), "Disk(NTFS)");
    EXPECT_STREQ(root.GetVolumeName(), "Disk");
    EXPECT_EQ(root.GetSearcheType(), SEARCHER_NTFS);
    EXPECT_EQ(root.GetCurrentNodeID(), 5);
    EXPECT_EQ(root.IsDirectory(), 1);
    EXPECT_EQ(root.IsDeleted(), 0);
    EXPECT_EQ(root.GetFileSize(), 0);
    EXPECT_EQ(root.GetCreationTime(), 0);
    TestNode child(9, 5, "x");
    root.AddChild(&child);
    root.SetCheck(CHECK_CHECKED);
    IFileNode* clone = root.Clone();
    EXPECT_STREQ(clone->GetFileName(), "Disk(NTFS)");
    EXPECT_EQ(clone->GetCurrentNodeID(), 5);
    EXPECT_EQ(clone->GetFirstChild(), nullptr);
    EXPECT_EQ(clone->GetCheckedStatus(), CHECK_UNCHECKED);
    clone->Release();
    root.RemoveChild(&child);
}

}  // namespace
