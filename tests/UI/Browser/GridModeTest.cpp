// The grid mode over real pictures: visible items get their thumbnails one
// job at a time, a file without one keeps the loading picture, stopping
// gives up a slow read, and the check box is inert during a running scan.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QScrollArea>
#include <QSignalSpy>
#include <thread>

#include "Browser/VKGridMode.h"
#include "BrowserFixture.h"
#include "Resources/ImageRegistry.h"

using namespace velmora::browser;
using browser_test::Folder;
using browser_test::RunUntil;
using browser_test::SourceOf;
using velmora::seam::FakeBridge;

namespace {

struct GridPane {
    FakeBridge bridge;
    Folder folder;
    QScrollArea area;
    CNGridView* grid = new CNGridView;
    VKGridMode mode{grid, SourceOf(bridge)};

    GridPane(int count, QSize size, std::vector<int> withoutPicture = {},
             std::chrono::milliseconds pictureDelay = {})
        : folder(bridge, count, "", std::move(withoutPicture)) {
        bridge.pictureDelay = pictureDelay;
        velmora::seam::SetBridge(&bridge);
        CNGridView::SetAnimationScale(0);
        area.setFrameShape(QFrame::NoFrame);
        area.resize(size);
        area.setWidget(grid);
        area.show();
        mode.setNodes(folder.nodes);
        mode.showGridView();
        settle();
    }
    ~GridPane() {
        mode.stopGridImageLoading();
        velmora::seam::SetBridge(nullptr);
        CNGridView::SetAnimationScale(1);
    }
    void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    void loadAll() {
        ASSERT_TRUE(RunUntil([&] { return mode.thumbnails().pending() == 0; }));
        settle();
    }
    CNGridViewItem* item(qint64 index) const {
        return static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(index));
    }
};

QImage LoadingPicture() {
    return velmora::ui::ImageRegistry::Pixmap(QStringLiteral("loading.png")).toImage();
}

}  // namespace

TEST(GridMode, VisibleItemsGetTheirThumbnailsAndAFileWithoutOneKeepsLoading) {
    GridPane pane(500, {760, 520}, {2});
    pane.loadAll();
    const CNIndexSet visible = pane.grid->visibleIndexes();
    ASSERT_FALSE(visible.empty());
    // Only the items the grid asked for were read, never the whole folder.
    EXPECT_LT(pane.bridge.pictureReads.load(), 100);
    EXPECT_GE(pane.bridge.pictureReads.load(), static_cast<int>(visible.size()) - 1);
    for (qint64 index : visible) {
        CNGridViewItem* item = pane.item(index);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->itemTitle(),
                  QString::fromStdString(pane.folder.nodes[size_t(index)]->name()));
        EXPECT_EQ(item->itemImage() == LoadingPicture(), index == 2) << index;
    }
    EXPECT_EQ(pane.mode.gridImageState(), kLoaderStopped);
    QDir().mkpath(QStringLiteral(VELMORA_BROWSER_SHOTS_DIR));
    pane.area.grab().save(QStringLiteral(VELMORA_BROWSER_SHOTS_DIR "/grid.png"));
}

TEST(GridMode, StoppingDropsTheQueueAndGivesUpASlowRead) {
    // A device so slow that only giving up lets the test end in time.
    GridPane pane(200, {760, 520}, {}, std::chrono::seconds(10));
    ASSERT_GT(pane.mode.thumbnails().pending(), 1u);
    while (pane.bridge.pictureReads.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pane.mode.stopGridImageLoading();
    EXPECT_EQ(pane.mode.gridImageState(), kLoaderStopped);
    EXPECT_EQ(pane.mode.thumbnails().pending(), 0u);
    EXPECT_EQ(pane.bridge.pictureReadsGivenUp.load(), pane.bridge.pictureReads.load());
    pane.settle();
    for (qint64 index : pane.grid->visibleIndexes())
        EXPECT_EQ(pane.item(index)->itemImage(), LoadingPicture()) << index;
}

TEST(GridMode, CheckBoxTicksAndUnticksUnlessAScanRunsUnpaused) {
    const struct {
        const char* what;
        bool scanning;
        int paused;
        bool changes;
    } cases[] = {
        {"no scan", false, 0, true},
        {"scan running", true, 0, false},
        {"scan paused", true, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GridPane pane(8, {600, 400});
        if (c.scanning)
            pane.bridge.DoScanWithData(FakeBridge::Volume("sda1", 1000, 1), "DoSearchValue");
        pane.bridge.paused = c.paused;
        QSignalSpy changed(&pane.mode, &VKGridMode::checksChanged);
        const OpNodePtr& node = pane.folder.nodes[3];
        pane.mode.doSelectItem(3);
        EXPECT_EQ(node->state(), c.changes ? 2 : 0);
        pane.mode.doSelectItem(3);
        EXPECT_EQ(node->state(), 0);
        EXPECT_EQ(changed.count(), c.changes ? 2 : 0);
        // Past the end: nothing.
        pane.mode.doSelectItem(8);
    }
}

TEST(GridMode, ItemsShowTheTickStateOfTheirFile) {
    GridPane pane(6, {600, 400});
    pane.folder.nodes[1]->setNodeState(2);
    pane.mode.showGridView();
    pane.settle();
    EXPECT_EQ(pane.item(1)->itemButton()->imageName(), QStringLiteral("pf_checkbox_yes"));
    EXPECT_EQ(pane.item(0)->itemButton()->imageName(), QStringLiteral("pf_checkbox_no"));
}

TEST(GridMode, AskedForAnItemPastTheEndAnswersNothingAndMakesNone) {
    GridPane pane(3, {600, 400});
    pane.loadAll();
    const auto items = [] {
        const QWidgetList all = QApplication::allWidgets();
        return std::count_if(all.begin(), all.end(), [](QWidget* w) {
            return qobject_cast<CNGridViewItem*>(w) != nullptr;
        });
    };
    const auto before = items();
    for (qint64 index : {qint64(3), qint64(-1), qint64(1000)})
        EXPECT_EQ(pane.mode.itemAtIndex(pane.grid, index, 0), nullptr) << index;
    EXPECT_EQ(items(), before);
    EXPECT_EQ(pane.mode.thumbnails().pending(), 0u);
}

TEST(GridMode, PicturesMadeBeforeAStopAreNotHandedOver) {
    FakeBridge bridge;
    Folder folder(bridge, 3);
    VKGridThumbnailQueue queue(SourceOf(bridge));
    std::vector<std::unique_ptr<CNGridViewItem>> items;
    std::vector<std::unique_ptr<OpCellNode>> cells;
    for (const OpNodePtr& node : folder.nodes) {
        items.push_back(std::make_unique<CNGridViewItem>());
        cells.push_back(std::make_unique<OpCellNode>(node));
        items.back()->setNode(cells.back().get());
        queue.enqueue(items.back().get(), cells.back().get(), node);
    }
    // Every picture is made, none handed over yet: the last job has ended
    // the run before the stop comes.
    while (queue.pending() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    queue.stop();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    for (const auto& item : items)
        EXPECT_TRUE(item->itemImage().isNull());
    // Jobs queued after the stop run again.
    queue.enqueue(items[0].get(), cells[0].get(), folder.nodes[0]);
    ASSERT_TRUE(RunUntil([&] { return !items[0]->itemImage().isNull(); }));
}
