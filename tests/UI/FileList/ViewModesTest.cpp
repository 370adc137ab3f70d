// The three view modes with their empty notes, and the split view's limits.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>

#include "Browser/BrowserSplitView.h"
#include "FileListFixture.h"
#include "Resources/ImageRegistry.h"

namespace velmora::browser::testing {
namespace {

using ViewModesTest = FilePaneTest;

bool TableNoteShown(VKNSTableView* table) {
    return table->noValueView() != nullptr;
}

TEST_F(ViewModesTest, AnEmptyFolderShowsItsNoteInEveryMode) {
    NodeFolder empty("empty");
    pane->selectOutlineListWithOpNodeData(empty.op(), 1);
    struct Case {
        int mode;
        QWidget* pane;
    };
    const Case cases[] = {
        {FileListPane::kGridMode, modes->gridView()},
        {FileListPane::kCoverFlowMode, modes->coverFlower()},
        {FileListPane::kListMode, modes->listTableViewBlowView()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        modes->segmentButtons()->button(c.mode)->click();
        EXPECT_EQ(modes->selectSegmentCount(), c.mode);
        EXPECT_TRUE(c.pane->isVisible());
        EXPECT_TRUE(TableNoteShown(modes->tableView()));
        EXPECT_TRUE(TableNoteShown(modes->coverFlowerTableView()));
        ASSERT_NE(modes->gridNoValueView(), nullptr);
        EXPECT_EQ(
            modes->gridNoValueView()->findChild<QLabel*>(QStringLiteral("noValueText"))->text(),
            QStringLiteral("No files found here."));
    }
}

// Each mode button shows the picture of its own mode and says its name.
TEST_F(ViewModesTest, ModeButtonsShowTheirModesPictureAndName) {
    const struct {
        int mode;
        const char* image;
        const char* tip;
    } cases[] = {
        {FileListPane::kListMode, "view_mode_list", "List"},
        {FileListPane::kGridMode, "view_mode_grid", "Grid"},
        {FileListPane::kCoverFlowMode, "view_mode_coverflow", "Cover Flow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        QAbstractButton* button = modes->segmentButtons()->button(c.mode);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(c.tip));
        EXPECT_EQ(ui::ImageRegistry::Origin(QString::fromLatin1(c.image)), ui::ImageOrigin::Drawn);
        const QImage shown = button->icon().pixmap(16, 16).toImage();
        const QImage expected =
            ui::ImageRegistry::Icon(QString::fromLatin1(c.image)).pixmap(16, 16).toImage();
        EXPECT_FALSE(shown.isNull());
        EXPECT_EQ(shown.convertToFormat(QImage::Format_ARGB32),
                  expected.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST_F(ViewModesTest, NoNoteBeforeTheFirstRoot) {
    roots.clear();
    NodeFolder empty("empty");
    pane->selectOutlineListWithOpNodeData(empty.op(), 1);
    for (int mode : {1, 2, 0}) {
        modes->segmentSelect(mode);
        EXPECT_FALSE(TableNoteShown(modes->tableView()));
        EXPECT_FALSE(TableNoteShown(modes->coverFlowerTableView()));
        EXPECT_EQ(modes->gridNoValueView(), nullptr);
    }
}

TEST_F(ViewModesTest, TheGridNoteIsBuiltOnceAndGoesWhenTheFolderHasRows) {
    NodeFolder empty("empty");
    pane->selectOutlineListWithOpNodeData(empty.op(), 1);
    modes->segmentSelect(FileListPane::kGridMode);
    QWidget* note = modes->gridNoValueView();
    ASSERT_NE(note, nullptr);
    modes->segmentSelect(FileListPane::kListMode);
    modes->segmentSelect(FileListPane::kGridMode);
    EXPECT_EQ(modes->gridNoValueView(), note);
    EXPECT_EQ(modes->gridView()->findChildren<QWidget*>(QStringLiteral("gridNoValueView")).size(),
              1);
    ChooseFolder();
    EXPECT_EQ(modes->gridNoValueView(), nullptr);
    EXPECT_FALSE(TableNoteShown(modes->tableView()));
}

TEST_F(ViewModesTest, NoteTextHeightFollowsTheLanguage) {
    struct Case {
        const char* language;
        float height;
    };
    const Case cases[] = {{"de", 40}, {"pt-BR", 40}, {"it", 40}, {"pt", 25}, {"en", 25}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        VKNSTableView::SetInterfaceLanguageSource([&] { return QString::fromLatin1(c.language); });
        EXPECT_EQ(modes->getLableHight(), c.height);
    }
    VKNSTableView::SetInterfaceLanguageSource({});
}

TEST_F(ViewModesTest, SwitchingModesTellsTheGridAndTheCoverFlow) {
    ChooseFolder();
    int grids = 0;
    int covers = 0;
    QObject::connect(modes.get(), &FileViewModes::showGridView, [&] { ++grids; });
    QObject::connect(modes.get(), &FileViewModes::showCoverFlowerView, [&] { ++covers; });
    modes->segmentSelect(FileListPane::kGridMode);
    modes->segmentSelect(FileListPane::kGridMode);  // the current one: nothing
    modes->segmentSelect(FileListPane::kCoverFlowMode);
    EXPECT_EQ(grids, 1);
    EXPECT_EQ(covers, 1);
    EXPECT_TRUE(modes->coverFlower()->isVisible());
}

TEST(BrowserSplitViewTest, DividersStayWithinTheirLimits) {
    struct Case {
        int divider;
        int proposed;
        int expected;
    };
    const Case cases[] = {
        {0, 100, 224}, {0, 224, 224}, {0, 300, 300},   {0, 400, 400},
        {0, 900, 400}, {1, 0, 1500},  {1, 3000, 3000}, {1, 9000, 5000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BrowserSplitView::ConstrainCoordinate(c.proposed, c.divider), c.expected)
            << c.divider << " at " << c.proposed;
    EXPECT_FALSE(BrowserSplitView::CanCollapseSubview());

    BrowserSplitView split;
    split.addWidget(new QWidget());
    split.addWidget(new QWidget());
    split.resize(1200, 600);
    split.show();
    for (const Case& c : cases) {
        if (c.divider != 0)
            continue;
        split.moveDivider(c.proposed, 0);
        EXPECT_EQ(split.dividerPosition(0), c.expected) << c.proposed;
    }
    // A drag to the far left collapses nothing.
    split.setSizes({0, 1200});
    EXPECT_EQ(split.dividerPosition(0), BrowserSplitView::kLeftMin);
}

}  // namespace
}  // namespace velmora::browser::testing
