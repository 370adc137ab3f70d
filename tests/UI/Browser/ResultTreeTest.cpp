// The result trees: folders only, expanders, rows made lazily, tick marks
// through the tick boxes, and the keys that choose a folder.
#include <QKeyEvent>

#include "Browser/CommOutlineView.h"
#include "BrowserTestSupport.h"
#include "ModelCheck.h"
#include "Widgets/NewButton.h"

namespace velmora::browser {
namespace {

using testing::BrowserTest;
using testing::NodeForest;
using windows::testing::Pump;

class ResultTreeTest : public BrowserTest {};

// The row of the folder named `name` under `parent` (rows keep the engine's
// order of children).
QModelIndex RowNamed(const ResultTreeModel& model, const QModelIndex& parent,
                     const std::string& name) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (model.nodeAt(index)->name() == name)
            return index;
    }
    return {};
}

// A folder shows an expander only when a folder lies below it, or when the
// user opened it before.
TEST_F(ResultTreeTest, ExpandersOnlyForFoldersWithFolders) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    TestNode* onlyFiles = forest.Add(fs, "Docs", true);
    forest.Add(onlyFiles, "a.txt", false);
    forest.Add(onlyFiles, "b.txt", false);
    TestNode* withFolder = forest.Add(fs, "Photos", true);
    forest.Add(withFolder, "2020", true);
    TestNode* openedBefore = forest.Add(fs, "Music", true);
    forest.Add(openedBefore, "c.mp3", false);
    forest.Add(fs, "loose.bin", false);

    std::vector<OpNodePtr> roots{NodeForest::Root(fs)};
    ResultTreeModel model;
    model.loadDataFormDetail(&roots, OP_TREE_PATH);
    const QModelIndex root = model.rootIndex(0);
    ASSERT_TRUE(model.hasChildren(root));
    model.fetchMore(root);
    // Files are the file pane's: only the three folders are rows.
    ASSERT_EQ(model.rowCount(root), 3);
    struct Case {
        const char* name;
        bool expandable;
    } const cases[] = {{"Docs", false}, {"Photos", true}, {"Music", true}};
    model.nodeAt(RowNamed(model, root, "Music"))->setExpand(1);
    for (const Case& c : cases) {
        const QModelIndex index = RowNamed(model, root, c.name);
        ASSERT_TRUE(index.isValid()) << c.name;
        EXPECT_EQ(model.data(index, Qt::DisplayRole).toString(), QString::fromLatin1(c.name));
        EXPECT_EQ(model.hasChildren(index), c.expandable) << c.name;
    }
}

// Rows exist only for what was opened: a root of many folders is one row
// until it is expanded.
TEST_F(ResultTreeTest, RowsAreMadeWhenAFolderIsExpanded) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    for (int i = 0; i < 500; ++i)
        forest.Add(forest.Add(fs, "dir" + std::to_string(i), true), "f", false);
    std::vector<OpNodePtr> roots{NodeForest::Root(fs)};
    CommOutlineView view;
    view.loadDataFormDetail(&roots, OP_TREE_PATH);
    EXPECT_EQ(view.treeModel()->madeRows(), 1u);
    view.expand(view.treeModel()->rootIndex(0));
    EXPECT_EQ(view.treeModel()->madeRows(), 501u);
    EXPECT_EQ(roots[0]->isExpand(), 1);
}

// Nodes the scan adds later join the rows already made, in place: the
// chosen folder stays chosen.
TEST_F(ResultTreeTest, NodesArrivingDuringTheScanJoinTheTree) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    forest.Add(fs, "A", true);
    std::vector<OpNodePtr> roots{NodeForest::Root(fs)};
    CommOutlineView view;
    view.loadDataFormDetail(&roots, OP_TREE_PATH);
    view.expand(view.treeModel()->rootIndex(0));
    view.selectRootItem();
    forest.Add(fs, "B", true);
    forest.Add(fs, "file", false);
    TestNode* other = forest.Add(nullptr, "OTHER", true);
    roots.push_back(NodeForest::Root(other));
    view.reloadData();
    const QModelIndex root = view.treeModel()->rootIndex(0);
    EXPECT_EQ(view.treeModel()->rowCount(), 2);
    EXPECT_EQ(view.treeModel()->rowCount(root), 2);
    EXPECT_EQ(view.currentIndex(), root);
    EXPECT_EQ(view.opDataFile(), roots[0]);
    // A new scan empties the arrays: the tree starts over.
    roots.clear();
    view.reloadData();
    EXPECT_EQ(view.treeModel()->rowCount(), 0);
}

// Qt's model tester watches a tree while it is opened, grows during the
// scan, has its marks changed and starts over.
TEST_F(ResultTreeTest, TheTreeModelKeepsQtsRules) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    TestNode* a = forest.Add(fs, "A", true);
    forest.Add(a, "A1", true);
    forest.Add(fs, "file", false);
    std::vector<OpNodePtr> roots{NodeForest::Root(fs)};
    ResultTreeModel model;
    model.loadDataFormDetail(&roots, OP_TREE_PATH);
    const QModelIndex root = model.rootIndex(0);
    model.fetchMore(root);
    const QModelIndex folder = RowNamed(model, root, "A");
    ASSERT_TRUE(folder.isValid());
    model.fetchMore(folder);
    // Made once the rows are: the tester fetches what it finds unfetched
    // from inside its own handler of an insertion, which it then takes for
    // an insertion nested in another.
    ::velmora::testing::ModelCheck check(&model);
    forest.Add(fs, "B", true);
    forest.Add(a, "A2", true);
    roots.push_back(NodeForest::Root(forest.Add(nullptr, "OTHER", true)));
    model.refresh();
    EXPECT_EQ(model.rowCount(), 2);
    model.marksChanged();
    roots.clear();
    model.refresh();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(check.failures().isEmpty()) << check.failures().toStdString();
}

// A click ticks an unticked or partly ticked folder wholly and unticks a
// ticked one; the marks above are worked out again. While the scan adds
// nodes unpaused, clicks change nothing.
TEST_F(ResultTreeTest, TickBoxClicks) {
    struct Step {
        const char* click;  // "A", "B" or "root"
        int a, b, root;     // marks after the click
    };
    struct Case {
        const char* what;
        int status;
        std::vector<Step> steps;
    } const cases[] = {
        {"no scan",
         0,
         {{"A", 2, 0, 1}, {"root", 2, 2, 2}, {"A", 0, 2, 1}, {"root", 2, 2, 2}, {"root", 0, 0, 0}}},
        {"scan paused", 3, {{"A", 2, 0, 1}, {"B", 2, 2, 2}}},
        {"scan running", 2, {{"A", 0, 0, 0}, {"root", 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        NodeForest forest;
        TestNode* fs = forest.Add(nullptr, "DATA", true);
        TestNode* a = forest.Add(fs, "A", true);
        forest.Add(a, "a1", false);
        forest.Add(a, "a2", false);
        TestNode* b = forest.Add(fs, "B", true);
        forest.Add(b, "b1", false);

        seam::FakeBridge fresh;
        seam::SetBridge(&fresh);
        auto& window = MakeBrowser();
        window.rootArray(OP_TREE_PATH).push_back(NodeForest::Root(fs));
        fresh.SetScanStatus(c.status);
        PostScanValue();
        window.outline(OP_TREE_PATH)->reloadData();
        CommOutlineView* view = window.outline(OP_TREE_PATH);
        const QModelIndex root = view->treeModel()->rootIndex(0);
        view->expand(root);
        ASSERT_EQ(view->treeModel()->rowCount(root), 2) << c.what;
        const auto rowOf = [&](const std::string& name) {
            return name == "root" ? root : RowNamed(*view->treeModel(), root, name);
        };
        int clicks = 0;
        for (const Step& step : c.steps) {
            window.clickButtonAction(view, rowOf(step.click));
            ++clicks;
            EXPECT_EQ(a->GetCheckedStatus(), step.a) << c.what << " " << step.click;
            EXPECT_EQ(b->GetCheckedStatus(), step.b) << c.what << " " << step.click;
            EXPECT_EQ(fs->GetCheckedStatus(), step.root) << c.what << " " << step.click;
        }
        EXPECT_EQ(fresh.CountOf("VKTableViewCellCilck"), c.status == 2 ? 0 : clicks) << c.what;
        browser.reset();
        seam::SetBridge(&bridge);
    }
}

// In the type and date trees a group's mark follows its children.
TEST_F(ResultTreeTest, GroupMarksFollowTheirChildren) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    TestNode* one = forest.Add(fs, "one.jpg", false);
    TestNode* two = forest.Add(fs, "two.png", false);
    OpNodePtr pictures = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "Pictures");
    OpNodePtr jpg = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "jpg");
    OpNodePtr png = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "png");
    jpg->setSubNode({one});
    png->setSubNode({two});
    pictures->setSubNode({jpg, png});
    pictures->setExpandAble(1);
    jpg->setExpandAble(0);

    auto& window = MakeBrowser();
    window.rootArray(OP_TREE_FILE_TYPE).push_back(pictures);
    window.typeButtonClick();
    CommOutlineView* view = window.outline(OP_TREE_FILE_TYPE);
    view->reloadData();
    const QModelIndex top = view->treeModel()->rootIndex(0);
    EXPECT_EQ(view->treeModel()->data(top, Qt::DisplayRole).toString(),
              QStringLiteral("Pictures(2)"));
    view->expand(top);
    ASSERT_EQ(view->treeModel()->rowCount(top), 2);
    window.clickButtonAction(view, view->treeModel()->index(0, 0, top));
    EXPECT_EQ(one->GetCheckedStatus(), 2);
    EXPECT_EQ(pictures->state(), 1);
    window.clickButtonAction(view, top);
    EXPECT_EQ(pictures->state(), 2);
    EXPECT_EQ(two->GetCheckedStatus(), 2);
    EXPECT_TRUE(VKDeletailWindowController::isRootNodeUnselected({pictures}));
    window.clickButtonAction(view, top);
    EXPECT_EQ(one->GetCheckedStatus(), 0);
    EXPECT_FALSE(VKDeletailWindowController::isRootNodeUnselected({pictures}));
}

// Only the up and down arrows choose a folder from the keyboard.
TEST_F(ResultTreeTest, OnlyUpAndDownChooseFromTheKeyboard) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    // A scan links each child in front of the ones before: A comes first.
    forest.Add(fs, "B", true);
    forest.Add(forest.Add(fs, "A", true), "A1", true);
    std::vector<OpNodePtr> roots{NodeForest::Root(fs)};
    CommOutlineView view;
    std::vector<std::string> chosen;
    view.onSelectNode = [&](const OpNodePtr& node, bool) { chosen.push_back(node->name()); };
    view.loadDataFormDetail(&roots, OP_TREE_PATH);
    view.resize(200, 300);
    view.show();
    view.expand(view.treeModel()->rootIndex(0));
    view.selectRootItem();
    struct Case {
        Qt::Key key;
        const char* chosenAfter;  // the last folder chosen
    } const cases[] = {
        {Qt::Key_Down, "A"},  {Qt::Key_Right, "A"}, {Qt::Key_Right, "A"}, {Qt::Key_Left, "A"},
        {Qt::Key_Down, "A1"}, {Qt::Key_Up, "A"},    {Qt::Key_Left, "A"},  {Qt::Key_Home, "A"},
    };
    for (const Case& c : cases) {
        QTest::keyClick(&view, c.key);
        ASSERT_FALSE(chosen.empty());
        EXPECT_EQ(chosen.back(), c.chosenAfter) << QKeySequence(c.key).toString().toStdString();
    }
}

}  // namespace
}  // namespace velmora::browser
