// The space bar's quick preview: it opens on the selected row with the
// bridge's picture, closes on the next space, and is refused where the list
// cannot show it.
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <future>

#include "Browser/SpacePreviewWindow.h"
#include "FileListFixture.h"

namespace velmora::browser::testing {
namespace {

class QuickPreviewTest : public FilePaneTest {
protected:
    void SetUp() override {
        FilePaneTest::SetUp();
        picture = QImage(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ChooseFolder();
        bridge.previews[NodeNamed("c.doc")] = picture;
    }
    void Space() { QTest::keyClick(modes->tableView(), Qt::Key_Space); }
    // The picture comes from a worker: waits (bounded) until it is shown.
    bool PictureShown() const {
        return QTest::qWaitFor([this] {
            return pane->previewWindow() != nullptr &&
                   pane->previewWindow()->showImage() == picture;
        });
    }
    bool PreviewOpen() const {
        return pane->previewWindow() != nullptr && !pane->previewWindow()->isClosed() &&
               pane->previewWindow()->window()->isVisible();
    }

    QImage picture;
};

TEST_F(QuickPreviewTest, SpaceOpensAndClosesThePreviewOfTheSelectedRow) {
    ClickCell(modes->tableView(), RowOf("c.doc"), kNameColumn);
    Space();
    ASSERT_TRUE(PreviewOpen());
    SpacePreviewWindow* preview = pane->previewWindow();
    EXPECT_EQ(preview->titleLabel()->text(), QStringLiteral("c.doc"));
    ASSERT_TRUE(PictureShown());
    EXPECT_EQ(preview->imageView()->pixmap().size(), picture.size());
    EXPECT_EQ(bridge.CountOf("GetNSImageByNode:c.doc"), 1);
    Space();
    EXPECT_EQ(pane->previewWindow(), nullptr);
    Space();
    EXPECT_TRUE(PreviewOpen());
    EXPECT_TRUE(PictureShown());
    EXPECT_EQ(bridge.CountOf("GetNSImageByNode:c.doc"), 2);
}

// The picture is read from the scanned disk: the window opens at once while
// the read is still under way, and the picture follows. A preview closed or
// replaced meanwhile is left alone.
TEST_F(QuickPreviewTest, ThePictureIsReadOffTheInterfaceThread) {
    ClickCell(modes->tableView(), RowOf("c.doc"), kNameColumn);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> waitedInVain{false};
    std::atomic<int> reads{0};
    bridge.onPreviewRead = [&] {
        ++reads;
        // Bounded: read on the interface thread, nothing would release it.
        if (released.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            waitedInVain = true;
    };
    Space();
    ASSERT_TRUE(PreviewOpen());
    EXPECT_NE(pane->previewWindow()->showImage(), picture);
    EXPECT_FALSE(waitedInVain);
    // Closed and opened again before the first read ends: only the newest
    // request's picture is shown.
    Space();
    Space();
    ASSERT_TRUE(PreviewOpen());
    release.set_value();
    EXPECT_TRUE(PictureShown());
    EXPECT_TRUE(QTest::qWaitFor([&] { return reads.load() == 2; }));
    EXPECT_EQ(pane->previewRequests(), 2u);
    EXPECT_FALSE(waitedInVain);
    bridge.onPreviewRead = nullptr;
    QThreadPool::globalInstance()->waitForDone();
}

TEST_F(QuickPreviewTest, ClosedByItsOwnButtonTheNextSpaceOpensAnew) {
    Space();
    ASSERT_TRUE(PreviewOpen());
    pane->previewWindow()->window()->close();
    EXPECT_TRUE(pane->previewWindow()->isClosed());
    Space();
    EXPECT_TRUE(PreviewOpen());
}

TEST_F(QuickPreviewTest, RefusedDuringAnUnpausedDeepScanInCoverFlowAndOnAnEmptyList) {
    struct Case {
        const char* label;
        int deep;
        int status;
        int mode;
        bool empty;
        bool opens;
    };
    const Case cases[] = {
        {"deep scan running", 1, 2, FileListPane::kListMode, false, false},
        {"deep scan paused", 1, 3, FileListPane::kListMode, false, true},
        {"quick scan running", 0, 2, FileListPane::kListMode, false, true},
        {"grid", 0, 0, FileListPane::kGridMode, false, true},
        {"cover flow", 0, 0, FileListPane::kCoverFlowMode, false, false},
        {"empty folder", 0, 0, FileListPane::kListMode, true, false},
    };
    NodeFolder empty("empty");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.empty)
            pane->selectOutlineListWithOpNodeData(empty.op(), 1);
        else
            ChooseFolder();
        bridge.deepScan = c.deep;
        bridge.SetScanStatus(c.status);
        pane->setSelectSegmentCount(c.mode);
        pane->spacePrviewFile();
        EXPECT_EQ(PreviewOpen(), c.opens);
        if (PreviewOpen())
            pane->spacePrviewFile();
        bridge.SetScanStatus(0);
    }
}

TEST_F(QuickPreviewTest, WithoutAPictureTheNameStaysWithAnEmptyView) {
    SpacePreviewWindow preview;
    preview.setStrName(QStringLiteral("notes.txt"));
    preview.setShowImage(QImage());
    EXPECT_EQ(preview.titleLabel()->text(), QStringLiteral("notes.txt"));
    EXPECT_TRUE(preview.imageView()->pixmap().isNull());
    EXPECT_EQ(preview.window()->titleBarHeight(), SpacePreviewWindow::kTitleBarHeight);
}

// The preview runs no modal loop: closing it must leave the loop of a
// window that runs one meanwhile alone.
TEST_F(QuickPreviewTest, ClosingLeavesAnotherWindowsModalLoopRunning) {
    Space();
    ASSERT_TRUE(PreviewOpen());
    QWidget other;
    other.setObjectName(QStringLiteral("other"));
    other.setWindowModality(Qt::ApplicationModal);
    other.show();
    bool stillRunning = false;
    modal.script.push_back([&](QWidget* window) {
        pane->previewWindow()->closeWindow();
        stillRunning = ui::Modal().IsRunning(window);
        return 1;
    });
    EXPECT_EQ(ui::Modal().RunModal(&other), 1);
    EXPECT_TRUE(stillRunning);
    EXPECT_TRUE(pane->previewWindow()->isClosed());
    EXPECT_FALSE(pane->previewWindow()->window()->isVisible());
}

}  // namespace
}  // namespace velmora::browser::testing
