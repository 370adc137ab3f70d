// The browser's result trees over a scripted scan: the path tree wrapping
// folders whose parent comes later, the search and the order in which it
// rebuilds the trees, the node questions of the browser, the filing of
// files into years and months and the month tick marks.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "TreeDoubles.h"
#include "VKUIController.h"
#include "VKUITreeData.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::FakeTreeSource;
using velmora::bridgetest::FileTimeOf;

namespace {

// Years and months are local: the tests read them in UTC.
class UtcZone {
public:
    UtcZone() {
        const char* old = ::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~UtcZone() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

OpNodeData* Child(const OpNodeData* node, size_t i) {
    return std::get<OpNodePtr>(node->children().at(i)).get();
}

std::vector<std::string> Titles(const OpNodeData* node) {
    std::vector<std::string> titles;
    for (const OpChild& child : node->children())
        titles.push_back(std::get<OpNodePtr>(child)->name());
    return titles;
}

// Every wrapper of the path tree, depth first, without recursion.
std::vector<OpNodeData*> Walk(const std::vector<OpNodePtr>& roots) {
    std::vector<OpNodeData*> all, pending;
    for (const OpNodePtr& root : roots)
        pending.push_back(root.get());
    while (!pending.empty()) {
        OpNodeData* node = pending.back();
        pending.pop_back();
        all.push_back(node);
        for (const OpChild& child : node->children()) {
            if (const auto* sub = std::get_if<OpNodePtr>(&child))
                pending.push_back(sub->get());
        }
    }
    return all;
}

class Trees : public ::testing::Test {
protected:
    UtcZone zone_;
    BridgeWorld world_;
    std::shared_ptr<FakeTreeSource> source_ = std::make_shared<FakeTreeSource>();
    VKUITreeData trees_{source_};
};

}  // namespace

// Folders reported before their parent wait and are wrapped in a later
// pass: one retry per ordinary refresh, up to 100 within a forced one.
// Whatever the order, each folder ends up once, below its parent.
TEST_F(Trees, FolderBeforeItsParentIsWrappedLater) {
    struct Case {
        const char* what;
        int force;
        size_t waitingAfterFirst;  // folders still waiting after one refresh
    } const cases[] = {
        {"ordinary refresh: one retry pass", 0, 1},
        {"forced refresh: retried until done", 1, 0},
        {"all folders again: retried until done", 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto source = std::make_shared<FakeTreeSource>();
        VKUITreeData trees(source);
        TestNode* root = source->AddRoot("VOL");
        trees.VKGetTreeNodeData(0);
        // A/B/C reported deepest first, then a folder whose parent is never
        // reported.
        TestNode* a = source->AddFolder(root, "A", false);
        TestNode* b = source->AddFolder(a, "B", false);
        TestNode* cFolder = source->AddFolder(b, "C", false);
        TestNode* lostParent = source->AddFolder(root, "lost", false);
        source->AddFolder(lostParent, "orphan");
        source->Report(cFolder);
        source->Report(b);
        source->Report(a);
        trees.VKGetTreeNodeData(c.force);
        // The orphan always waits; C needs a second retry.
        EXPECT_EQ(trees.WaitingCount(), c.waitingAfterFirst + 1);
        trees.VKGetTreeNodeData(0);
        EXPECT_EQ(trees.WaitingCount(), 1u);

        const std::vector<OpNodePtr> path = trees.Snapshot(OP_TREE_PATH);
        ASSERT_EQ(path.size(), 1u);
        EXPECT_EQ(path[0]->isFileSystem(), 1);
        EXPECT_EQ(Walk(path).size(), 4u);  // VOL, A, B, C
        OpNodeData* aw = Child(path[0].get(), 0);
        OpNodeData* bw = Child(aw, 0);
        OpNodeData* cw = Child(bw, 0);
        EXPECT_EQ(aw->fileNode(), a);
        EXPECT_EQ(bw->fileNode(), b);
        EXPECT_EQ(cw->fileNode(), cFolder);
        EXPECT_EQ(cw->parent(), bw);
        EXPECT_EQ(bw->isExpandAble(), 1);
        EXPECT_EQ(cw->isExpandAble(), 0);
    }
}

// The browser's own take-over of the roots and a scan refresh meet on the
// same folders: each folder is wrapped once.
TEST_F(Trees, RootsTakenOverAndRefreshedWrapEachFolderOnce) {
    TestNode* root = source_->AddRoot("VOL");
    TestNode* docs = source_->AddFolder(root, "Docs");
    source_->AddFolder(docs, "Sub");
    source_->AddFile(docs, "a.txt");
    trees_.GetScanTreeNodeData(1);
    trees_.VKGetTreeNodeData(2);
    trees_.GetScanTreeNodeData(0);
    const std::vector<OpNodeData*> all = Walk(trees_.Snapshot(OP_TREE_PATH));
    ASSERT_EQ(all.size(), 3u);  // VOL, Docs, Sub
    EXPECT_EQ(all[0]->fileNode(), root);
    EXPECT_EQ(all[0]->isFileSystem(), 1);
}

// A search on the 2 MiB search thread over a path 100,000 folders deep: the
// folders above the hit are wrapped in a loop, not a call per level, and
// the trees are listed, counted and let go of without recursion either.
TEST_F(Trees, SearchThroughAPathOf100000Folders) {
    constexpr int kDepth = 100000;
    // Linked from the bottom up: linking below a deep folder would climb
    // the whole chain each time.
    std::vector<TestNode*> chain(kDepth);
    for (int i = kDepth - 1; i >= 0; --i) {
        chain[i] = source_->AddFolder(nullptr, "d" + std::to_string(i), false);
        if (i + 1 < kDepth)
            chain[i]->AddChild(chain[i + 1]);
    }
    TestNode* file = source_->AddFile(chain.back(), "needle.txt");
    source_->AddRootNode(chain.front());
    for (int i = 1; i < kDepth; ++i)
        source_->Report(chain[i]);
    source_->AddFile(chain.front(), "hay.txt");

    trees_.VKGetTreeNodeData(1);
    EXPECT_EQ(Walk(trees_.Snapshot(OP_TREE_PATH)).size(), static_cast<size_t>(kDepth));

    ASSERT_EQ(trees_.DoSearchWithString("needle", "DoSearchValue"), 1);
    trees_.WaitSearch();
    const std::vector<OpNodeData*> all = Walk(trees_.Snapshot(OP_TREE_PATH));
    ASSERT_EQ(all.size(), static_cast<size_t>(kDepth));
    OpNodeData* bottom = all.back();
    EXPECT_EQ(bottom->fileNode(), chain.back());
    std::vector<OpChild> files;
    EXPECT_EQ(trees_.GetFileNodeToArray(files, bottom), 1);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(std::get<IFileNode*>(files[0]), file);
    trees_.StopSearch();
    trees_.VKResetTreeNodeData();
}

// A second search is refused while one runs and after it ended, until the
// browser stops it; the trees are rebuilt shown tree first, then the key is
// posted, then the others. The access-date view rebuilds nothing and posts
// only the end.
TEST_F(Trees, SearchRebuildsTheShownTreeFirst) {
    struct Case {
        int view;
        std::vector<std::pair<std::string, size_t>> calls;  // builder, posts before it
        size_t posts;
    } const cases[] = {
        {OP_TREE_PATH, {{"path", 0}, {"type", 1}, {"created", 1}, {"modified", 1}}, 2},
        {OP_TREE_FILE_TYPE, {{"type", 0}, {"created", 1}, {"modified", 1}, {"path", 1}}, 2},
        {OP_TREE_CREATION_DATE, {{"created", 0}, {"type", 1}, {"modified", 1}, {"path", 1}}, 2},
        {OP_TREE_MODIFICATION_DATE, {{"modified", 0}, {"type", 1}, {"created", 1}, {"path", 1}}, 2},
        {OP_TREE_ACCESS_DATE, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.view);
        auto source = std::make_shared<FakeTreeSource>();
        VKUITreeData trees(source);
        source->SetView(c.view);
        source->AddFile(source->AddRoot("VOL"), "a.txt", FileTimeOf(2020, 5));
        auto poster = world_.poster;
        source->CountPostsWith([poster] { return poster->PendingCount(); });
        velmora::bridgetest::NotificationLog finished("DoSearchFinished");
        velmora::bridgetest::NotificationLog key("DoSearchValue");

        source->HoldSearch(true);
        ASSERT_EQ(trees.DoSearchWithString("a", "DoSearchValue"), 1);
        ASSERT_TRUE(source->WaitSearchHeld());
        EXPECT_EQ(trees.VKGetIsSearching(), 1);
        EXPECT_EQ(trees.DoSearchWithString("a", "DoSearchValue"), 0);
        EXPECT_EQ(trees.DoSearchWithString("b", "DoSearchValue"), 0);
        source->HoldSearch(false);
        trees.WaitSearch();
        EXPECT_EQ(trees.DoSearchWithString("a", "DoSearchValue"), 0);

        EXPECT_EQ(source->Calls(), c.calls);
        EXPECT_EQ(poster->RunPending(), static_cast<int>(c.posts));
        EXPECT_EQ(finished.objects.size(), 1u);
        EXPECT_EQ(key.objects.size(), c.posts - 1);
        EXPECT_EQ(trees.GetSearchString(), "a");

        trees.StopSearch();
        EXPECT_EQ(trees.VKGetIsSearching(), 0);
        EXPECT_EQ(trees.DoSearchWithString("b", "DoSearchValue"), 1);
        trees.WaitSearch();
        trees.StopSearch();
        poster->RunPending();
    }
}

// A folder's files: each file once even when the sibling chain loops back,
// folders and hidden files left out. The chain itself ends after a bounded
// number of steps, so a walk that does not notice the loop fails at once
// with repeated files instead of growing its list until memory runs out.
TEST_F(Trees, FolderFilesListedOnceThroughASiblingLoop) {
    constexpr int kStepBound = 64;
    static int steps = 0;
    class LoopingNode : public TestNode {
    public:
        using TestNode::TestNode;
        CFileNode* GetNextNode() override {
            if (++steps > kStepBound)
                return nullptr;
            return next ? next : TestNode::GetNextNode();
        }
        CFileNode* next = nullptr;
    };
    struct Case {
        const char* what;
        int loopTo;  // index among the files the last file's chain returns to; -1 none
    } const cases[] = {{"no loop", -1}, {"back to the first", 2}, {"to itself", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestNode folder(1, -1, "F", true);
        LoopingNode f0(2, 1, "f0"), f1(3, 1, "f1"), f2(4, 1, "f2"), hidden(5, 1, "h");
        TestNode sub(6, 1, "sub", true);
        // The list is newest first: f2, f1, f0, sub, hidden.
        for (TestNode* n : std::vector<TestNode*>{&hidden, &sub, &f0, &f1, &f2})
            folder.AddChild(n);
        hidden.ShowNode(0);
        LoopingNode* files[] = {&f0, &f1, &f2};
        if (c.loopTo >= 0)
            f0.next = files[c.loopTo];  // f0 is reached last of the three
        OpNodePtr wrapper = OpNodeData::initWithNodeData({1, 0, 1, &folder});
        std::vector<OpChild> list{OpChild(&sub)};
        steps = 0;
        EXPECT_EQ(trees_.GetFileNodeToArray(list, wrapper.get()), 1);
        EXPECT_LT(steps, kStepBound);
        std::vector<IFileNode*> got;
        for (const OpChild& child : list)
            got.push_back(std::get<IFileNode*>(child));
        EXPECT_EQ(got, (std::vector<IFileNode*>{&f2, &f1, &f0}));
    }
}

// Years and months stay sorted whatever order the files come in, each file
// is filed by the time of its tree's own kind, and the counts add up.
TEST_F(Trees, YearsAndMonthsFiledInOrder) {
    struct Title {
        const char* title;
        int index;
    } const titles[] = {{"2019", 1}, {"2021", -1}, {"2017", 0}, {"2018", 1}, {"", 0}};
    OpNodePtr y2018 = OpNodeData::makeGroup(OP_TREE_CREATION_DATE, "2018");
    OpNodePtr y2020 = OpNodeData::makeGroup(OP_TREE_CREATION_DATE, "2020");
    const std::vector<OpChild> years{y2018, y2020};
    for (const Title& t : titles)
        EXPECT_EQ(VKUITreeData::GetDateInsertIndex(t.title, years), t.index) << t.title;
    EXPECT_EQ(VKUITreeData::GetDateInsertIndex("2019", {}), -1);

    // The creation tree is shown; the modification tree is filled all the
    // same by modification times.
    source_->SetView(OP_TREE_CREATION_DATE);
    TestNode* root = source_->AddRoot("VOL");
    const long long old = FileTimeOf(2001, 1);
    source_->AddFile(root, "a", FileTimeOf(2019, 3), old);
    source_->AddFile(root, "b", FileTimeOf(2021, 1), old);
    trees_.VKGetTreeNodeData(0);
    source_->AddFile(root, "c", FileTimeOf(2020, 7), old);
    source_->AddFile(root, "d", FileTimeOf(2020, 2), old);
    source_->AddFile(root, "e", FileTimeOf(2019, 12), old);
    source_->AddFile(root, "f", FileTimeOf(2020, 12), old);
    trees_.VKGetTreeNodeData(0);

    const std::vector<OpNodePtr> modified = trees_.Snapshot(OP_TREE_MODIFICATION_DATE);
    ASSERT_EQ(modified.size(), 1u);
    OpNodeData* mroot = modified[0].get();
    EXPECT_EQ(Titles(mroot), (std::vector<std::string>{"2019", "2020", "2021"}));
    EXPECT_EQ(Titles(Child(mroot, 0)), (std::vector<std::string>{"03", "12"}));
    EXPECT_EQ(Titles(Child(mroot, 1)), (std::vector<std::string>{"02", "07", "12"}));
    int index = -1;
    EXPECT_EQ(VKUITreeData::IsMonthNodeExist(7, mroot->children(), 2020, &index), 1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(VKUITreeData::IsMonthNodeExist(8, mroot->children(), 2020, &index), 0);
    EXPECT_EQ(VKUITreeData::IsMonthNodeExist(7, mroot->children(), 2022, &index), 0);

    // A file without that time is filed nowhere.
    TestNode undated(1, -1, "undated");
    {
        auto hold = trees_.Lock();
        trees_.AddFileNode(&undated, mroot);
    }
    EXPECT_EQ(trees_.GetNodeChildrenCnt(mroot), 6u);
    EXPECT_EQ(trees_.GetNodeChildrenCnt(Child(mroot, 1)), 3u);
    EXPECT_EQ(trees_.GetNodeChildrenCnt(Child(Child(mroot, 1), 0)), 1u);
    std::vector<OpChild> list;
    trees_.GetFileNodeToArray(list, Child(Child(mroot, 1), 1));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_STREQ(std::get<IFileNode*>(list[0])->GetFileName(), "c");
    EXPECT_EQ(trees_.GetFileNodeToArray(list, Child(mroot, 1)), 0);
    EXPECT_TRUE(list.empty());  // a year lists nothing itself

    const std::vector<OpNodePtr> created = trees_.Snapshot(OP_TREE_CREATION_DATE);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(Titles(created[0].get()), (std::vector<std::string>{"2001"}));
    EXPECT_EQ(trees_.GetNodeChildrenCnt(created[0].get()), 6u);
}

// A month's mark from its files: all shown ones ticked 2, none 0, any mix
// 1; hidden files do not count. Worked out from the month's title even when
// its time stamp spilled into the next month (made on the 31st).
TEST_F(Trees, MonthStatesIgnoreHiddenFiles) {
    struct File {
        int mark;
        bool shown;
    };
    struct Case {
        const char* what;
        std::vector<File> files;
        int state;
    } const cases[] = {
        {"all ticked", {{2, true}, {2, true}}, CHECK_CHECKED},
        {"none ticked", {{0, true}, {0, true}}, CHECK_UNCHECKED},
        {"ticked then not", {{2, true}, {0, true}, {2, true}}, CHECK_PARTLY},
        {"not then ticked", {{0, true}, {2, true}}, CHECK_PARTLY},
        {"hidden unticked ignored", {{2, true}, {0, false}}, CHECK_CHECKED},
        {"hidden ticked ignored", {{0, true}, {2, false}}, CHECK_UNCHECKED},
        {"only hidden files", {{2, false}}, CHECK_UNCHECKED},
    };
    // 31 March: a month group of April made today is stamped 1 May.
    struct tm march31 {};
    march31.tm_year = 2024 - 1900;
    march31.tm_mon = 2;
    march31.tm_mday = 31;
    march31.tm_hour = 10;
    velmora::bridge::InstallClock(
        std::make_shared<velmora::bridgetest::ManualClock>(::timegm(&march31)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto source = std::make_shared<FakeTreeSource>();
        VKUITreeData trees(source);
        source->SetView(OP_TREE_MODIFICATION_DATE);
        TestNode* root = source->AddRoot("VOL");
        std::vector<IFileNode*> files;
        for (const File& f : c.files) {
            TestNode* file = source->AddFile(root, "f", FileTimeOf(2023, 4));
            file->SetCheck(static_cast<_tagCheckedStatus>(f.mark));
            file->ShowNode(f.shown ? 1 : 0);
            files.push_back(file);
        }
        // Filed while shown, as a scan files them before the user hides.
        for (IFileNode* file : files)
            file->ShowNode(1);
        trees.VKGetTreeNodeData(0);
        for (size_t i = 0; i < files.size(); ++i)
            files[i]->ShowNode(c.files[i].shown ? 1 : 0);
        const std::vector<OpNodePtr> roots = trees.Snapshot(OP_TREE_MODIFICATION_DATE);
        ASSERT_EQ(roots.size(), 1u);
        OpNodeData* month = Child(Child(roots[0].get(), 0), 0);
        ASSERT_EQ(month->name(), "04");

        VKUITreeData::setNodeState(month, files);
        EXPECT_EQ(month->state(), c.state);
        EXPECT_EQ(month->parent()->state(), c.state);  // the year follows

        month->setParentNodeState(c.state == CHECK_CHECKED ? CHECK_UNCHECKED : CHECK_CHECKED);
        trees.RefreshTimeTreeState(roots, 1);  // nothing marked: nothing done
        EXPECT_NE(month->state(), c.state);
        trees.VKTableViewCellCilck();
        trees.RefreshTimeTreeState(roots, 1);
        EXPECT_EQ(month->state(), c.state);
    }
}

// Counts below group nodes and the children of type groups: a top-level
// category other than "other" lists nothing itself.
TEST_F(Trees, CountsAndTypeGroups) {
    TestNode files[7] = {{1, -1, "1"}, {2, -1, "2"}, {3, -1, "3"}, {4, -1, "4"},
                         {5, -1, "5"}, {6, -1, "6"}, {7, -1, "7"}};
    OpNodePtr category = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "Documents");
    OpNodePtr pdf = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "pdf");
    OpNodePtr txt = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "txt");
    for (int i = 0; i < 3; ++i)
        pdf->addChildObject(&files[i]);
    for (int i = 3; i < 7; ++i)
        txt->addChildObject(&files[i]);
    category->setSubNode({pdf, txt});
    EXPECT_EQ(trees_.GetNodeChildrenCnt(category.get()), 7u);
    EXPECT_EQ(trees_.GetNodeChildrenCnt(txt.get()), 4u);
    EXPECT_EQ(trees_.GetNodeChildrenCnt(nullptr), 0u);

    std::vector<OpChild> list{OpChild(&files[0])};
    EXPECT_EQ(trees_.GetFileNodeToArray(list, category.get()), 1);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(trees_.GetFileNodeToArray(list, pdf.get()), 0);
    EXPECT_EQ(list.size(), 3u);
    OpNodePtr other = source_->other();
    other->addChildObject(&files[6]);
    EXPECT_EQ(trees_.GetFileNodeToArray(list, other.get()), 0);
    EXPECT_EQ(list.size(), 1u);
    other->setSubNode({});

    EXPECT_EQ(VKUITreeData::IsTypeStringExsit("", {}), 1);
    EXPECT_EQ(VKUITreeData::IsTypeStringExsit(nullptr, {category}), 0);
    EXPECT_EQ(VKUITreeData::IsTypeStringExsit("Documents", {pdf, category}), 1);
    EXPECT_EQ(VKUITreeData::IsTypeStringExsit("Pictures", {pdf, category}), 0);
}

// A scan adding nodes and refreshing, a search, forced refreshes and the
// browser's questions all at once: the trees stay whole (and the
// ThreadSanitizer build sees no race). The scan links its engine nodes
// under the trees' lock, as the browser reads them under it.
TEST_F(Trees, ConcurrentScanSearchRefreshAndQueries) {
    constexpr int kNodes = 1500;
    TestNode* root = source_->AddRoot("VOL");
    std::atomic<bool> scanning{true};

    std::thread scan([&] {
        std::vector<TestNode*> folders{root};
        for (int i = 0; i < kNodes; ++i) {
            {
                auto hold = trees_.Lock();
                TestNode* parent = folders[static_cast<size_t>(i * 7) % folders.size()];
                if (i % 5 == 0)
                    folders.push_back(source_->AddFolder(parent, "d" + std::to_string(i)));
                else
                    source_->AddFile(parent, "f" + std::to_string(i),
                                     FileTimeOf(2000 + i % 7, 1 + i % 12),
                                     FileTimeOf(2010 + i % 3, 1 + i % 5));
            }
            if (i % 25 == 0)
                trees_.VKGetTreeNodeData(0);
        }
        trees_.VKGetTreeNodeData(1);
        scanning = false;
    });
    std::thread search([&] {
        while (scanning) {
            if (trees_.DoSearchWithString("f1", "DoSearchValue") == 1) {
                trees_.WaitSearch();
                trees_.StopSearch();
            }
        }
    });
    std::thread refresh([&] {
        while (scanning) {
            trees_.VKGetTreeNodeData(1);
            trees_.VKGetTreeNodeData(2);
        }
    });
    // The main thread asks what the browser asks.
    int rounds = 0;
    while (scanning || rounds < 3) {
        ++rounds;
        trees_.GetScanTreeNodeData(0);
        for (int kind : {OP_TREE_PATH, OP_TREE_FILE_TYPE, OP_TREE_MODIFICATION_DATE}) {
            for (const OpNodePtr& top : trees_.Snapshot(kind)) {
                OpNodePtr below;
                {
                    auto hold = trees_.Lock();
                    for (const OpChild& child : top->children()) {
                        if (const auto* node = std::get_if<OpNodePtr>(&child))
                            below = *node;
                    }
                }
                std::vector<OpChild> list;
                trees_.GetFileNodeToArray(list, top.get());
                trees_.GetNodeChildrenCnt(top.get());
                if (below) {
                    trees_.GetFileNodeToArray(list, below.get());
                    trees_.GetNodeChildrenCnt(below.get());
                    trees_.SetNodeState(below.get(), rounds % 2 == 0 ? CHECK_CHECKED : 0);
                }
            }
        }
        trees_.VKTableViewCellCilck();
        trees_.RefreshTimeTreeState(trees_.Snapshot(OP_TREE_MODIFICATION_DATE), 1);
        trees_.VKCleanOpNodeSate();
        std::vector<IFileNode*> hits;
        trees_.GetSearchResultToArr(hits);
    }
    scan.join();
    search.join();
    refresh.join();
    trees_.WaitSearch();
    trees_.StopSearch();

    // After a last search for everything, every folder is in the path tree
    // once and every file in the type tree once.
    ASSERT_EQ(trees_.DoSearchWithString("", "DoSearchValue"), 1);
    trees_.WaitSearch();
    trees_.VKResetTreeNodeData();
    trees_.VKGetTreeNodeData(2);
    EXPECT_EQ(Walk(trees_.Snapshot(OP_TREE_PATH)).size(), 1u + kNodes / 5);
    EXPECT_EQ(trees_.WaitingCount(), 0u);
    world_.poster->RunPending();
}

// The resets of show and tick marks, through the facade over the program's
// trees grown on the browser's own arrays: roots shown again and unticked,
// the top of every tree unticked, no search result without a search key.
TEST_F(Trees, ResetsThroughTheFacade) {
    VKUITreeData::InstallSource(source_);
    TestNode* root = source_->AddRoot("VOL");
    TestNode* file = source_->AddFile(root, "a.txt", FileTimeOf(2020, 5));
    // What the trees held before the browser handed its arrays over moves
    // into them.
    EXPECT_EQ(VKUIController::VKGetTreeNodeData(0), 1);
    std::vector<OpNodePtr> path, type, created, modified;
    const VKTreeArrays arrays{&path, &type, &created, &modified};
    EXPECT_EQ(VKUIController::VKSetTreeNodeData(nullptr), 0);
    EXPECT_EQ(VKUIController::VKSetTreeNodeData(&arrays), 1);
    source_->AddFile(root, "b.txt", FileTimeOf(2020, 5));
    EXPECT_EQ(VKUIController::VKGetTreeNodeData(0), 1);
    std::vector<OpNodePtr> dates;
    {
        std::lock_guard<std::mutex> hold(VKUIController::TreeDataLock());
        ASSERT_EQ(path.size(), 1u);
        ASSERT_EQ(modified.size(), 1u);
        EXPECT_EQ(type, source_->TypeRootNodes());
        dates = modified;
    }
    EXPECT_EQ(VKUIController::GetNodeChildrenCnt(dates[0].get()), 2u);
    std::vector<OpNodePtr> roots;
    EXPECT_EQ(VKUIController::GetScanTreeNodeData(nullptr, 0), 0);
    EXPECT_EQ(VKUIController::GetScanTreeNodeData(&roots, 0), 0);
    EXPECT_TRUE(roots.empty());  // the root is wrapped already

    VKUIController::SetNodeState(dates[0].get(), CHECK_CHECKED);
    EXPECT_EQ(file->GetCheckedStatus(), CHECK_CHECKED);
    EXPECT_EQ(VKUIController::VKCleanOpNodeSate(), 1);
    EXPECT_EQ(file->GetCheckedStatus(), CHECK_UNCHECKED);
    EXPECT_EQ(dates[0]->state(), CHECK_UNCHECKED);

    file->SetCheck(CHECK_CHECKED);
    root->ShowNode(0);
    EXPECT_EQ(VKUIController::VKCleanState(), 1);
    EXPECT_EQ(root->IsNodeShow(), 1);
    EXPECT_EQ(file->GetCheckedStatus(), CHECK_UNCHECKED);
    file->SetCheck(CHECK_CHECKED);
    VKUIController::UnselectedAllNodes();
    EXPECT_EQ(file->GetCheckedStatus(), CHECK_UNCHECKED);

    std::vector<IFileNode*> hits;
    VKUIController::GetSearchResultToArr(hits);
    EXPECT_TRUE(hits.empty());
    EXPECT_EQ(VKUIController::GetSearchString(), "");

    VKUIController::VKResetTreeNodeData();
    EXPECT_TRUE(VKUITreeData::instance().Snapshot(OP_TREE_PATH).empty());
    EXPECT_TRUE(path.empty());
    VKUITreeData::instance().UseArrays(nullptr, nullptr, nullptr, nullptr);
    VKUITreeData::InstallSource(nullptr);
}
