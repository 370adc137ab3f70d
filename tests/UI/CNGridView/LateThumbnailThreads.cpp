// Thumbnails reach grid items from loading threads: a picture lands on the
// main thread, and only on an item that still shows the file it was made
// for. Built and run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <QThread>
#include <thread>

#include "GridFixture.h"

namespace {

QImage Picture(QColor colour) {
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// The loader's side: a thread of its own hands the picture over.
void DeliverFromAThread(CNGridViewItem* item, const QImage& image, TestNode* node) {
    std::thread loader([=] { item->updateImageViewWithImage(image, node); });
    loader.join();
}

TEST(LateThumbnail, LandsOnTheMainThreadOnlyOnAnItemStillShowingItsFile) {
    enum class Reuse { Never, BeforeTheCall, AfterTheCall };
    const struct {
        const char* what;
        Reuse reuse;
        bool shown;
    } cases[] = {
        {"the item still shows the file", Reuse::Never, true},
        {"reused before the picture was handed over", Reuse::BeforeTheCall, false},
        {"reused while the picture was on its way", Reuse::AfterTheCall, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestNode first(QStringLiteral("a.jpg"));
        TestNode second(QStringLiteral("b.jpg"));
        CNGridViewItem item;
        item.setNode(&first);
        if (c.reuse == Reuse::BeforeTheCall) {
            item.prepareForReuse();
            item.setNode(&second);
        }
        DeliverFromAThread(&item, Picture(Qt::red), &first);
        // Nothing is applied off the main thread.
        EXPECT_TRUE(item.itemImage().isNull());
        if (c.reuse == Reuse::AfterTheCall) {
            item.prepareForReuse();
            item.setNode(&second);
        }
        GridInScrollArea::settle();
        EXPECT_EQ(!item.itemImage().isNull(), c.shown);
    }
}

TEST(LateThumbnail, APictureForAViewReusedByScrollingIsDropped) {
    GridInScrollArea g(600, 450, 1000);
    CNGridViewItem* item = g.itemAt(0);
    TestNode* oldNode = g.source.nodeFor(0);
    // The loader made the picture of file 0, then the view scrolled away
    // and came back for another file before the picture arrived.
    std::thread loader([=] { item->updateImageViewWithImage(Picture(Qt::red), oldNode); });
    loader.join();
    g.scrollTo(3000);
    ASSERT_NE(item->node(), oldNode);
    const qint64 shownIndex = item->index();
    ASSERT_NE(shownIndex, CNNotFound);
    EXPECT_TRUE(item->itemImage().isNull());

    // The picture of the file it shows now does land.
    DeliverFromAThread(item, Picture(Qt::blue), g.source.nodeFor(shownIndex));
    GridInScrollArea::settle();
    ASSERT_FALSE(item->itemImage().isNull());
    EXPECT_EQ(item->itemImage().pixelColor(0, 0), QColor(Qt::blue));
}

TEST(LateThumbnail, ManyLoadersAtOnceLeaveTheLastPictureOfTheShownFile) {
    TestNode node(QStringLiteral("a.jpg"));
    CNGridViewItem item;
    item.setNode(&node);
    std::vector<std::thread> loaders;
    for (int i = 0; i < 8; ++i) {
        loaders.emplace_back([&item, &node] {
            for (int k = 0; k < 50; ++k) {
                item.updateImageViewWithImage(Picture(Qt::green), &node);
            }
        });
    }
    for (auto& t : loaders) {
        t.join();
    }
    GridInScrollArea::settle();
    EXPECT_EQ(item.itemImage().pixelColor(0, 0), QColor(Qt::green));
}

}  // namespace
