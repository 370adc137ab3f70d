// The file list: cells, sorting by the header with one direction flag, the
// row and header tick boxes, and the refusals while a scan adds nodes.
#include <QPushButton>
#include <QSignalSpy>

#include "FileListFixture.h"
#include "ModelCheck.h"

namespace velmora::browser::testing {
namespace {

using NameList = std::vector<std::string>;

TEST_F(FilePaneTest, ListsTheChosenFolderWithItsCells) {
    ChooseFolder();
    EXPECT_EQ(Names(), (NameList{"a.jpg", "b.txt", "c.doc", "sub", "x.png"}));
    const FileListModel& model = *pane->model();
    struct Cell {
        std::string name;
        int column;
        QString text;
        QString image;
    };
    const Cell cells[] = {
        {"b.txt", kSizeColumn, "1.00 KB", ""},
        {"a.jpg", kSizeColumn, "300 byte", ""},
        {"sub", kSizeColumn, "--", ""},  // a folder has no size of its own
        {"x.png", kNameColumn, "x.png", "deletered"},
        {"a.jpg", kNameColumn, "a.jpg", ""},
        {"a.jpg", kPathColumn, "//a.jpg", ""},
        {"a.jpg", kCheckBoxColumn, "", "pf_checkbox_no"},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.name + " column " + std::to_string(c.column));
        EXPECT_EQ(model.cellText(RowOf(c.name), c.column), c.text);
        EXPECT_EQ(model.cellImageName(RowOf(c.name), c.column), c.image);
    }
    // Cut-off texts can be read whole in their tips; sizes need none.
    for (int column : {kNameColumn, kPathColumn, kCreatedColumn}) {
        const QModelIndex cell = model.index(RowOf("a.jpg"), column);
        EXPECT_EQ(model.data(cell, Qt::ToolTipRole).toString(), model.cellText(cell.row(), column))
            << column;
    }
    EXPECT_FALSE(model.data(model.index(RowOf("a.jpg"), kSizeColumn), Qt::ToolTipRole).isValid());
    // Past the end: empty cells, nothing else.
    EXPECT_TRUE(model.cellText(5, kNameColumn).isEmpty());
    EXPECT_FALSE(model.data(model.index(5, kNameColumn), Qt::DisplayRole).isValid());
}

// Qt's model tester watches the list while a folder is chosen, sorted,
// ticked and replaced by another.
TEST_F(FilePaneTest, TheListModelKeepsQtsRules) {
    FileListModel& model = *pane->model();
    ::velmora::testing::ModelCheck check(&model);
    ChooseFolder();
    model.sortByColumn(kSizeColumn, false);
    model.sortByColumn(kNameColumn, true);
    UntickAll();
    model.refreshTicks();
    NodeFolder other("other");
    other.Add({{"one", 1, 1}, {"two", 2, 2}});
    pane->selectOutlineListWithOpNodeData(other.op(), 1);
    model.setRows({});
    EXPECT_TRUE(check.failures().isEmpty()) << check.failures().toStdString();
}

TEST_F(FilePaneTest, NamelessFileShowsUnknow) {
    NodeFolder other("other");
    other.Add({{"", 1, 1}});
    pane->selectOutlineListWithOpNodeData(other.op(), 1);
    EXPECT_EQ(pane->model()->cellText(0, kNameColumn), QStringLiteral("Unknow"));
}

// Each click sorts by its column in the direction of the one flag, then
// flips the flag; the first click puts the largest first.
TEST_F(FilePaneTest, HeaderClicksSortWithOneDirectionFlag) {
    struct Case {
        const char* label;
        std::vector<int> clicks;
        NameList order;
        Qt::SortOrder indicator;
    };
    const Case cases[] = {
        {"size once",
         {kSizeColumn},
         {"b.txt", "x.png", "a.jpg", "c.doc", "sub"},
         Qt::DescendingOrder},
        {"size twice",
         {kSizeColumn, kSizeColumn},
         {"sub", "c.doc", "a.jpg", "x.png", "b.txt"},
         Qt::AscendingOrder},
        {"name", {kNameColumn}, {"x.png", "sub", "c.doc", "b.txt", "a.jpg"}, Qt::DescendingOrder},
        {"size then name",
         {kSizeColumn, kNameColumn},
         {"a.jpg", "b.txt", "c.doc", "sub", "x.png"},
         Qt::AscendingOrder},
        {"tick column",
         {kCheckBoxColumn},
         {"a.jpg", "b.txt", "c.doc", "sub", "x.png"},
         Qt::DescendingOrder},
        {"tick column then size",
         {kCheckBoxColumn, kSizeColumn},
         {"sub", "c.doc", "a.jpg", "x.png", "b.txt"},
         Qt::AscendingOrder},
        // b.txt and c.doc were created at the same time: they keep their
        // order either way.
        {"created",
         {kCreatedColumn},
         {"x.png", "a.jpg", "b.txt", "c.doc", "sub"},
         Qt::DescendingOrder},
        {"created twice",
         {kCreatedColumn, kCreatedColumn},
         {"sub", "b.txt", "c.doc", "a.jpg", "x.png"},
         Qt::AscendingOrder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ChooseFolder();
        for (int column : c.clicks)
            ClickHeader(modes->tableView(), column);
        EXPECT_EQ(Names(), c.order);
        QHeaderView* header = modes->tableView()->horizontalHeader();
        EXPECT_EQ(header->sortIndicatorSection(), c.clicks.back());
        EXPECT_EQ(header->sortIndicatorOrder(), c.indicator);
        EXPECT_EQ(pane->isSorted(), static_cast<int>(c.clicks.size() % 2));
        // The table under the cover flow shows no indicator in list mode.
        EXPECT_EQ(modes->coverFlowerTableView()->horizontalHeader()->sortIndicatorSection(), -1);
    }
}

TEST_F(FilePaneTest, ChoosingAFolderStartsTheSortOver) {
    ChooseFolder();
    ClickHeader(modes->tableView(), kSizeColumn);
    ChooseFolder();
    EXPECT_EQ(pane->isSorted(), 0);
    EXPECT_EQ(modes->tableView()->horizontalHeader()->sortIndicatorSection(), -1);
    ClickHeader(modes->tableView(), kSizeColumn);
    EXPECT_EQ(Names().front(), "b.txt");
}

// The header box by what is ticked: folders are never counted.
TEST_F(FilePaneTest, HeaderBoxShowsTheHalfStateWithoutFolders) {
    struct Case {
        std::vector<std::string> ticked;
        QString image;
    };
    const Case cases[] = {
        {{}, "pf_checkbox_no"},
        {{"a.jpg"}, "pf_checkbox_half"},
        {{"a.jpg", "b.txt", "c.doc", "x.png"}, "pf_checkbox_yes"},
        {{"sub"}, "pf_checkbox_no"},
        {{"sub", "a.jpg"}, "pf_checkbox_half"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image.toStdString() + " after " + std::to_string(c.ticked.size()));
        UntickAll();
        ChooseFolder();
        for (const std::string& name : c.ticked)
            pane->nsbuttonCellClick(RowOf(name));
        EXPECT_EQ(pane->selectAllImageName(), c.image);
        EXPECT_EQ(pane->listViewSelectAllButton()->property("imageName").toString(), c.image);
        EXPECT_EQ(pane->coverViewSelectAllButton()->property("imageName").toString(), c.image);
    }
}

TEST_F(FilePaneTest, HeaderBoxTicksEveryFileThenNone) {
    ChooseFolder();
    pane->nsbuttonCellClick(RowOf("a.jpg"));
    // Some ticked: the box ticks all files; the folder is left alone.
    pane->listViewSelectAllButton()->click();
    for (const char* name : {"a.jpg", "b.txt", "c.doc", "x.png"})
        EXPECT_EQ(OpNodeData::fileNodeState(NodeNamed(name)), CHECK_CHECKED) << name;
    EXPECT_EQ(OpNodeData::fileNodeState(NodeNamed("sub")), CHECK_UNCHECKED);
    EXPECT_EQ(pane->selectAllImageName(), "pf_checkbox_yes");
    pane->coverViewSelectAllButton()->click();
    for (const char* name : {"a.jpg", "b.txt", "c.doc", "x.png"})
        EXPECT_EQ(OpNodeData::fileNodeState(NodeNamed(name)), CHECK_UNCHECKED) << name;
    EXPECT_EQ(pane->selectAllImageName(), "pf_checkbox_no");
}

TEST_F(FilePaneTest, HeaderBoxOnAnEmptyListDoesNothing) {
    NodeFolder empty("empty");
    pane->selectOutlineListWithOpNodeData(empty.op(), 1);
    QSignalSpy reloads(pane, &FileListPane::reloadOutlines);
    pane->listViewSelectAllButton()->click();
    EXPECT_EQ(reloads.count(), 0);
    EXPECT_EQ(bridge.CountOf("VKTableViewCellCilck"), 0);
    EXPECT_EQ(pane->selectAllImageName(), "pf_checkbox_no");
}

// A click in a row's box flips the row and tells the trees of the tab.
TEST_F(FilePaneTest, RowTickReachesTheTreesOfTheTab) {
    struct Case {
        int tab;
        std::string recount;
    };
    const Case cases[] = {
        {OP_TREE_PATH, ""},
        {OP_TREE_FILE_TYPE, "RefreshTypeTreeState"},
        {OP_TREE_CREATION_DATE, "RefreshTimeTreeState:0"},
        {OP_TREE_MODIFICATION_DATE, "RefreshTimeTreeState:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tab);
        ChooseFolder();
        pane->setTreeKind(c.tab);
        bridge.calls.clear();
        QSignalSpy reloads(pane, &FileListPane::reloadOutlines);
        QSignalSpy totals(pane, &FileListPane::showSelectFilesCountAndSize);
        const int before = OpNodeData::fileNodeState(NodeNamed("b.txt"));
        ClickCell(modes->tableView(), RowOf("b.txt"), kCheckBoxColumn);
        EXPECT_NE(OpNodeData::fileNodeState(NodeNamed("b.txt")), before);
        EXPECT_EQ(bridge.CountOf("VKTableViewCellCilck"), 1);
        EXPECT_EQ(bridge.CountOf("RefreshTypeTreeState") + bridge.CountOf("RefreshTimeTreeState"),
                  c.recount.empty() ? 0 : 1);
        if (!c.recount.empty()) {
            EXPECT_EQ(bridge.CountOf(c.recount), 1);
        }
        EXPECT_EQ(reloads.count(), 1);
        EXPECT_EQ(totals.count(), 1);
    }
}

// Ticks and sorts are refused while a scan adds nodes, and work when it is
// paused or over.
TEST_F(FilePaneTest, TicksAndSortsWaitForAPause) {
    struct Case {
        const char* label;
        int status;
        bool works;
    };
    const Case cases[] = {
        {"running", 2, false},
        {"paused", 3, true},
        {"idle", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        UntickAll();
        ChooseFolder();
        bridge.SetScanStatus(c.status);
        ClickCell(modes->tableView(), RowOf("a.jpg"), kCheckBoxColumn);
        EXPECT_EQ(OpNodeData::fileNodeState(NodeNamed("a.jpg")) == CHECK_CHECKED, c.works);
        pane->listViewSelectAllButton()->click();
        EXPECT_EQ(OpNodeData::fileNodeState(NodeNamed("b.txt")) == CHECK_CHECKED, c.works);
        ClickHeader(modes->tableView(), kSizeColumn);
        EXPECT_EQ(Names().front() == "b.txt", c.works);
        EXPECT_EQ(pane->isSorted(), c.works ? 1 : 0);
        bridge.SetScanStatus(0);
    }
}

TEST_F(FilePaneTest, ClearingForgetsTheNodeAndUnticksAll) {
    ChooseFolder();
    pane->listViewSelectAllButton()->click();
    pane->ClearSelectedFilesInfo();
    EXPECT_EQ(pane->opDataFile(), nullptr);
    EXPECT_EQ(bridge.CountOf("UnselectedAllNodes"), 1);
    EXPECT_EQ(pane->selectAllImageName(), "pf_checkbox_no");
}

}  // namespace
}  // namespace velmora::browser::testing

namespace velmora::browser::testing {
namespace {

// In cover-flow mode the table under the cover flow carries the indicator,
// the cover flow starts again at its first item and follows the selection.
TEST_F(FilePaneTest, CoverFlowModeSortsAndSelectsThroughItsTable) {
    ChooseFolder();
    modes->segmentSelect(FileListPane::kCoverFlowMode);
    QSignalSpy restarts(pane, &FileListPane::restartCoverFlow);
    QSignalSpy selected(pane, &FileListPane::selectedCoverFlow);
    ClickHeader(modes->coverFlowerTableView(), kSizeColumn);
    EXPECT_EQ(Names().front(), "b.txt");
    EXPECT_EQ(restarts.count(), 1);
    EXPECT_EQ(modes->coverFlowerTableView()->horizontalHeader()->sortIndicatorSection(),
              kSizeColumn);
    EXPECT_EQ(modes->tableView()->horizontalHeader()->sortIndicatorSection(), -1);
    ClickCell(modes->coverFlowerTableView(), 2, kNameColumn);
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.front().front().toInt(), 2);
    // The list's own selection is the list's: untouched here.
    EXPECT_EQ(pane->selectedRow(), 0);
}

// A root group of the type or date trees counts its own children: groups by
// their mark, files by theirs, folders not at all.
TEST_F(FilePaneTest, RootGroupCountsItsOwnChildren) {
    ChooseFolder();
    OpNodePtr category = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "Pictures");
    OpNodePtr month = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "jpg");
    category->setSubNode({NodeNamed("a.jpg"), NodeNamed("sub"), month});
    struct Case {
        int file;
        int group;
        int folder;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 2, CHECK_UNCHECKED},
        {2, 0, 0, CHECK_PARTLY},
        {2, 2, 0, CHECK_CHECKED},
        {0, 2, 2, CHECK_PARTLY},
    };
    for (const Case& c : cases) {
        UntickAll();
        OpNodeData::setFileNode(NodeNamed("sub"), c.folder);
        OpNodeData::setFileNode(NodeNamed("a.jpg"), c.file);
        month->setNodeState(c.group);
        EXPECT_EQ(pane->GetCellNodeState(category), c.expected)
            << c.file << " " << c.group << " " << c.folder;
    }
}

}  // namespace
}  // namespace velmora::browser::testing
