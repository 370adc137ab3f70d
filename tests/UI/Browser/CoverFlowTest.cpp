// The cover flow over real pictures: what the view draws and where, the
// selection by click and key reaching the loader and the table under the
// flow, and a picture of the pane for the eye.
#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>

#include "Browser/VKCoverFlowMode.h"
#include "BrowserFixture.h"

using namespace velmora::browser;
using browser_test::Folder;
using browser_test::RunUntil;
using browser_test::SourceOf;
using velmora::seam::FakeBridge;

namespace {

// The flow over a table of the files' names that follows its selection, as
// the browser's pane puts them.
struct CoverFlowPane {
    FakeBridge bridge;
    Folder folder;
    QSplitter splitter{Qt::Vertical};
    VKCoverFlowView* view = new VKCoverFlowView;
    QTableWidget* table = new QTableWidget;
    VKCoverFlowMode mode{view, SourceOf(bridge)};

    CoverFlowPane(int count, QSize size, std::vector<int> withoutPicture = {})
        : folder(bridge, count, "", std::move(withoutPicture)) {
        splitter.addWidget(view);
        splitter.addWidget(table);
        splitter.setSizes({size.height() * 2 / 3, size.height() / 3});
        table->setColumnCount(1);
        table->setHorizontalHeaderLabels({QStringLiteral("Name")});
        table->setRowCount(count);
        for (int row = 0; row < count; ++row)
            table->setItem(
                row, 0,
                new QTableWidgetItem(QString::fromStdString(folder.nodes[size_t(row)]->name())));
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        QObject::connect(&mode, &VKCoverFlowMode::rowSelected, table, [this](qint64 row) {
            table->scrollToItem(table->item(int(row), 0));
            table->selectRow(int(row));
        });
        splitter.resize(size);
        splitter.show();
        mode.showCoverFlowerViewWithRefresh(folder.nodes, true);
    }

    void loadAll() {
        QSignalSpy finished(&mode.loader(), &VKPhotoLoader::finished);
        ASSERT_TRUE(RunUntil([&] { return finished.count() > 0; }));
        QCoreApplication::processEvents();
    }

    // A point of the picture drawn for index right of the front one, on
    // the part the front one leaves uncovered.
    QPoint uncoveredPointOf(qint64 index) const {
        const QRectF bounds = view->itemOutline(index).boundingRect();
        return QPointF(bounds.left() + bounds.width() * 0.8, bounds.center().y()).toPoint();
    }
};

void Save(QWidget& widget, const QString& name) {
    QDir().mkpath(QStringLiteral(VELMORA_BROWSER_SHOTS_DIR));
    widget.grab().save(QStringLiteral(VELMORA_BROWSER_SHOTS_DIR "/") + name);
}

}  // namespace

TEST(CoverFlow, ShowsTheFolderFromItsFirstItemAndLoadsAroundIt) {
    CoverFlowPane pane(30, {900, 600}, {1});
    EXPECT_EQ(pane.view->itemsCount(), 30);
    EXPECT_EQ(pane.view->selectedIndex(), 0);
    pane.loadAll();
    // The data source answers nothing past its items.
    EXPECT_EQ(pane.mode.imageFlowItemAtIndex(pane.view, 30), nullptr);
    EXPECT_EQ(pane.mode.imageFlowItemAtIndex(pane.view, -1), nullptr);
    // Every item leaves its placeholder; the one without a picture shows
    // its type's icon.
    for (qint64 k = 0; k < 30; ++k) {
        const Photo* photo = pane.mode.imageFlowItemAtIndex(pane.view, k);
        EXPECT_FALSE(photo->isPlaceholder()) << k;
        EXPECT_EQ(photo->isTypeIcon(), k == 1) << k;
    }
    // The front picture is drawn where the eye expects it, its neighbours
    // beside it.
    const QPoint middle(pane.view->width() / 2, pane.view->height() / 3);
    EXPECT_EQ(pane.view->indexAt(middle), 0);
    EXPECT_EQ(pane.view->indexAt({5, 5}), -1);
}

TEST(CoverFlow, ClicksAndKeysMoveTheSelectionTheLoaderAndTheTable) {
    CoverFlowPane pane(300, {1000, 640});
    pane.loadAll();
    const struct {
        const char* what;
        std::function<void(CoverFlowPane&)> act;
        qint64 selected;
    } steps[] = {
        {"click on the picture right of the front one",
         [](CoverFlowPane& p) {
             QTest::mouseClick(p.view, Qt::LeftButton, {}, p.uncoveredPointOf(1));
         },
         1},
        {"right arrow", [](CoverFlowPane& p) { QTest::keyClick(p.view, Qt::Key_Right); }, 2},
        {"end", [](CoverFlowPane& p) { QTest::keyClick(p.view, Qt::Key_End); }, 299},
        {"left arrow", [](CoverFlowPane& p) { QTest::keyClick(p.view, Qt::Key_Left); }, 298},
        {"home", [](CoverFlowPane& p) { QTest::keyClick(p.view, Qt::Key_Home); }, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(pane);
        EXPECT_EQ(pane.view->selectedIndex(), step.selected);
        EXPECT_EQ(pane.mode.flowSelectedIndex(), step.selected);
        EXPECT_EQ(pane.table->currentRow(), step.selected);
        pane.loadAll();
        const LoadWindow window = CoverFlowLoadWindow(step.selected, 300);
        for (qint64 k = 0; k < 300; ++k) {
            const bool inside = k >= window.first && k < window.end;
            ASSERT_EQ(!pane.mode.loader().photos()[size_t(k)].isPlaceholder(), inside) << k;
        }
    }
}

TEST(CoverFlow, ANewFolderStartsOverWithPlaceholders) {
    CoverFlowPane pane(40, {800, 500});
    pane.loadAll();
    QTest::keyClick(pane.view, Qt::Key_End);
    pane.loadAll();
    FakeBridge& bridge = pane.bridge;
    Folder next(bridge, 5, "next-");
    // Without the refresh flag the flow stays where it was, within the new
    // folder.
    pane.mode.showCoverFlowerViewWithRefresh(next.nodes, false);
    EXPECT_EQ(pane.view->itemsCount(), 5);
    EXPECT_EQ(pane.view->selectedIndex(), 4);
    pane.loadAll();
    EXPECT_EQ(pane.mode.loader().photos()[0].imageTitle(), QStringLiteral("next-0.jpg"));
    pane.mode.showCoverFlowerViewWithRefresh({}, true);
    EXPECT_EQ(pane.view->itemsCount(), 0);
    pane.loadAll();
    EXPECT_EQ(pane.mode.loader().state(), kLoaderStopped);
}

// Two pictures for the eye; the front cover must show a picture, not the
// placeholder frame.
TEST(CoverFlowShots, PicturesNotPlaceholders) {
    const struct {
        const char* file;
        QSize size;
        qint64 selected;
    } shots[] = {
        {"cover_flow.png", {1200, 760}, 5},
        {"cover_flow_full_hd.png", {1920, 1080}, 100},
    };
    for (const auto& shot : shots) {
        SCOPED_TRACE(shot.file);
        CoverFlowPane pane(200, shot.size);
        pane.mode.imageFlowDidSelectItemAtIndex(pane.view, shot.selected);
        pane.loadAll();
        for (qint64 k = std::max<qint64>(0, shot.selected - 6); k <= shot.selected + 6; ++k)
            ASSERT_FALSE(pane.mode.loader().photos()[size_t(k)].isPlaceholder()) << k;
        const QImage drawn = pane.view->grab().toImage();
        const QColor front = drawn.pixelColor(pane.view->width() / 2, pane.view->height() / 3);
        EXPECT_NE(front, QColor(38, 38, 38));
        EXPECT_NE(front, QColor(Qt::black));
        Save(pane.splitter, QString::fromLatin1(shot.file));
    }
}
