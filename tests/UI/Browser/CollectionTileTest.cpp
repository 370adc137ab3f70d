// The collection-view tile: its layout, hover, check box and what an item
// shows of its file.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QTest>

#include "Browser/VKCollectionTile.h"
#include "BrowserFixture.h"
#include "Resources/ImageRegistry.h"

using namespace velmora::browser;
using browser_test::Folder;
using velmora::seam::FakeBridge;

namespace {

struct Browser : BVPrototypeDelegate {
    unsigned loaded = 1;
    int reloads = 0;
    unsigned viewLoadCnt() const override { return loaded; }
    void reLoadCollectionViewData() override { ++reloads; }
};

struct BridgeInPlace {
    FakeBridge bridge;
    BridgeInPlace() { velmora::seam::SetBridge(&bridge); }
    ~BridgeInPlace() { velmora::seam::SetBridge(nullptr); }
};

}  // namespace

TEST(CollectionTile, LayoutOfTheTile) {
    BVView tile(QRect(40, 60, 500, 500));
    EXPECT_EQ(tile.geometry(), QRect(40, 60, 120, 100));
    const struct {
        const char* what;
        QWidget* view;
        QRect frame;
    } cases[] = {
        {"background", tile.bgImageView(), {3, 3, 114, 94}},
        {"thumbnail", tile.imageView(), {10, 10, 90, 55}},
        {"name", tile.titleLabel(), {30, 78, 80, 20}},
        {"check box", tile.button(), {16, 76, 14, 14}},
        {"deleted mark", tile.deleteIamgeView(), {90, 49, 16, 16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.view->geometry(), c.frame);
    }
    EXPECT_TRUE(tile.deleteIamgeView()->isHidden());
    EXPECT_EQ(tile.backgroundName(), QStringLiteral("view_bg_normal"));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&tile, &enter);
    EXPECT_EQ(tile.backgroundName(), QStringLiteral("view_bg_press"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&tile, &leave);
    EXPECT_EQ(tile.backgroundName(), QStringLiteral("view_bg_normal"));
}

TEST(CollectionTile, CheckBoxTicksTheFileUnlessAScanRunsEvenPaused) {
    const struct {
        const char* what;
        bool scanning;
        int paused;
        int before, after;
        const char* image;
    } cases[] = {
        {"untick -> tick", false, 0, 0, 2, "checkbox_yes"},
        {"tick -> untick", false, 0, 2, 0, "checkbox_no"},
        {"running scan", true, 0, 0, 0, ""},
        {"paused scan", true, 1, 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BridgeInPlace seam;
        if (c.scanning)
            seam.bridge.DoScanWithData(FakeBridge::Volume("sda1", 1000, 1), "DoSearchValue");
        seam.bridge.paused = c.paused;
        Folder folder(seam.bridge, 1);
        folder.nodes[0]->setNodeState(c.before);
        Browser browser;
        BVPrototype item;
        item.setDelegate(&browser);
        item.loadView();
        item.setRepresentedObject(folder.nodes[0]);
        const QString imageBefore = item.view()->buttonImageName();
        QTest::mouseClick(item.view()->button(), Qt::LeftButton);
        EXPECT_EQ(folder.nodes[0]->state(), c.after);
        EXPECT_EQ(item.view()->buttonImageName(),
                  *c.image ? QString::fromLatin1(c.image) : imageBefore);
        EXPECT_EQ(browser.reloads, *c.image ? 1 : 0);
    }
}

TEST(CollectionTile, ItemShowsItsFileOnceTilesAreLoaded) {
    BridgeInPlace seam;
    Folder folder(seam.bridge, 2, "", {1});
    folder.files[1]->deleted = true;
    folder.nodes[0]->setNodeState(2);
    Browser browser;

    // Before the browser loads tiles, every item shares one tile, hidden.
    browser.loaded = 0;
    BVPrototype early, other;
    early.setDelegate(&browser);
    other.setDelegate(&browser);
    early.loadView();
    other.loadView();
    EXPECT_EQ(early.view(), BVPrototype::SharedView());
    EXPECT_EQ(other.view(), early.view());
    early.setRepresentedObject(folder.nodes[0]);
    EXPECT_TRUE(early.view()->isHidden());
    EXPECT_FALSE(early.view()->listData());

    browser.loaded = 5;
    const struct {
        const char* what;
        size_t node;
        bool picture, deleted;
        const char* box;
    } cases[] = {
        {"a ticked picture", 0, true, false, "checkbox_yes"},
        {"a deleted file without a picture", 1, false, true, "checkbox_no"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BVPrototype item;
        item.setDelegate(&browser);
        item.loadView();
        ASSERT_NE(item.view(), BVPrototype::SharedView());
        item.setRepresentedObject(folder.nodes[c.node]);
        const QString name = QString::fromStdString(folder.nodes[c.node]->name());
        EXPECT_EQ(item.view()->titleLabel()->text(), name);
        EXPECT_EQ(item.view()->titleLabel()->toolTip(), name);
        EXPECT_EQ(item.view()->buttonImageName(), QString::fromLatin1(c.box));
        EXPECT_EQ(!item.view()->deleteIamgeView()->isHidden(), c.deleted);
        const QPixmap shown = item.view()->imageView()->pixmap();
        const QPixmap logo =
            velmora::ui::ImageRegistry::Pixmap(QStringLiteral("logo"), QSize(90, 55));
        EXPECT_EQ(shown.toImage() == logo.toImage(), !c.picture);
        EXPECT_FALSE(shown.isNull());
    }
}
