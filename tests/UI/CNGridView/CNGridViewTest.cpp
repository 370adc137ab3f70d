// The thumbnail grid: geometry, loading and reuse, selection, hover, right
// clicks, notifications before the delegate, and the items' drawing rules.
#include <gtest/gtest.h>

#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <set>

#include "GridFixture.h"
#include "QtPrinters.h"

inline void PrintTo(const CNRange& r, std::ostream* os) {
    *os << '{' << r.location << ", " << r.length << '}';
}

namespace {

CNIndexSet IndexesOf(const CNRange& range) {
    CNIndexSet set;
    for (qint64 i = range.location; i < range.location + range.length; ++i) {
        set.insert(i);
    }
    return set;
}

TEST(CNGridView, GeometryOfTheClipGivesColumnsAndTheVisibleRangeWithOneSpareRow) {
    const struct {
        const char* what;
        int clipWidth;
        int clipHeight;
        qint64 count;
        int scrollY;
        qint64 columns;
        CNRange range;
    } cases[] = {
        {"narrower than a cell: one column", 149, 450, 100, 0, 1, {0, 4}},
        {"exactly one cell wide", 150, 450, 100, 0, 1, {0, 4}},
        {"four columns, three rows and a spare", 600, 450, 100, 0, 4, {0, 16}},
        {"clip y 150 keeps row 0", 600, 450, 100, 150, 4, {0, 16}},
        {"clip y 151 starts at row 1", 600, 450, 100, 151, 4, {4, 16}},
        {"clip y 300 starts at row 1", 600, 450, 100, 300, 4, {4, 16}},
        {"fewer items than cells", 600, 450, 10, 0, 4, {0, 10}},
        {"the range stops at the last item", 600, 450, 10, 151, 4, {4, 6}},
        {"past the last row: nothing", 600, 450, 10, 3000, 4, {76, 0}},
        {"no items", 600, 450, 0, 0, 4, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GridInScrollArea g(c.clipWidth, c.clipHeight, c.count);
        g.makeRoomToScroll(100000);
        g.scrollTo(c.scrollY);
        ASSERT_EQ(g.grid->clippedRect().y(), c.scrollY);
        EXPECT_EQ(g.grid->columnsInGridView(), c.columns);
        EXPECT_EQ(g.grid->visibleItemRange(), c.range);
        EXPECT_EQ(g.grid->visibleIndexes(), IndexesOf(c.range));
        // Views stand exactly at the indexes of the range.
        EXPECT_EQ(g.grid->indexesForVisibleItems(), IndexesOf(c.range));
    }
}

TEST(CNGridView, HeightFollowsTheRowsAndNoItemIsAskedForAnEmptyGrid) {
    GridInScrollArea empty(600, 450, 0);
    EXPECT_EQ(empty.grid->height(), 0);
    EXPECT_TRUE(empty.source.asked.empty());

    GridInScrollArea ten(600, 450, 10);
    EXPECT_EQ(ten.grid->height(), 3 * 150);
    EXPECT_EQ(ten.grid->width(), 600);
}

TEST(CNGridView, LocationsMapToIndexesAndBack) {
    GridInScrollArea g(600, 450, 10);  // 4 columns, rows of 4, 4 and 2
    const struct {
        QPoint location;
        qint64 index;
    } cases[] = {
        {{0, 0}, 0},
        {{149, 149}, 0},
        {{150, 0}, 1},
        {{599, 160}, 7},
        {{600, 160}, CNNotFound},  // the right edge is no cell of the next row
        {{700, 10}, CNNotFound},   // right of the last column
        {{310, 310}, CNNotFound},  // past the last item
        {{-1, 10}, CNNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.location.x() << ',' << c.location.y());
        EXPECT_EQ(g.grid->indexForItemAtLocation(c.location), c.index);
    }
    EXPECT_EQ(g.grid->locationForItemAtIndex(0), CNMakeItemPoint(1, 1));
    EXPECT_EQ(g.grid->locationForItemAtIndex(9), CNMakeItemPoint(2, 3));
    EXPECT_EQ(g.grid->rectForItemAtIndex(5), QRect(150, 150, 150, 150));

    // Centred, the first cell moves in by half the space left over.
    GridInScrollArea centred(640, 450, 10);
    centred.grid->setUseCenterAlignment(true);
    centred.grid->reloadData();
    centred.settle();
    EXPECT_EQ(centred.grid->contentInset(), 20);
    EXPECT_EQ(centred.grid->rectForItemAtIndex(5), QRect(170, 170, 150, 150));
    EXPECT_EQ(centred.grid->indexForItemAtLocation({25, 25}), 0);
    EXPECT_EQ(centred.grid->indexForItemAtLocation({10, 25}), CNNotFound);
    EXPECT_EQ(centred.itemAt(5)->geometry(), QRect(170, 170, 150, 150));
}

TEST(CNGridView, ScrollingReusesViewsAndNeverMakesMoreThanTheVisibleRowsAndASpareRow) {
    GridInScrollArea g(600, 450, 1000);
    const int rowsWithSpare = 4;
    for (int y = 0; y <= g.area.verticalScrollBar()->maximum(); y += 37) {
        g.scrollTo(y);
        ASSERT_LE(g.grid->numberOfVisibleItems(), rowsWithSpare * 4);
    }
    EXPECT_LE(g.source.created, rowsWithSpare * 4 + 4);
    // Every visible view stands at its own cell and shows its own file.
    for (qint64 index : g.grid->indexesForVisibleItems()) {
        EXPECT_EQ(g.itemAt(index)->geometry(), g.grid->rectForItemAtIndex(index));
        EXPECT_EQ(g.itemAt(index)->node(), g.source.nodeFor(index));
    }
}

TEST(CNGridView, ReloadAfterTheCountShrankAsksOnlyForTheNewVisibleIndexes) {
    GridInScrollArea g(600, 450, 100);
    g.source.count = 5;
    g.source.asked.clear();
    g.grid->reloadData();
    g.settle();
    EXPECT_EQ(g.source.asked, (std::vector<qint64>{0, 1, 2, 3, 4}));
    EXPECT_EQ(g.grid->indexesForVisibleItems(), (CNIndexSet{0, 1, 2, 3, 4}));
    EXPECT_EQ(g.grid->height(), 2 * 150);
    // The old views wait for reuse rather than being made again.
    EXPECT_EQ(g.source.created, 16);
}

TEST(CNGridView, AfterAWidthChangeShownViewsStayUntilTheClipNextMoves) {
    GridInScrollArea g(600, 450, 100);
    CNGridViewItem* fourth = g.itemAt(3);
    g.area.resize(450, 450);  // four columns become three
    g.settle();
    EXPECT_EQ(g.grid->columnsInGridView(), 3);
    EXPECT_EQ(g.grid->width(), 450);
    EXPECT_EQ(fourth->geometry(), QRect(450, 0, 150, 150));
    g.scrollTo(1);
    EXPECT_EQ(fourth->geometry(), QRect(0, 150, 150, 150));
    EXPECT_EQ(g.grid->indexesForVisibleItems(), IndexesOf(g.grid->visibleItemRange()));
}

TEST(CNGridView, SingleItemChangesRenumberViewsAndAskOnlyForWhatChanged) {
    GridInScrollArea g(600, 450, 10);
    CNGridViewItemBase* third = g.itemAt(2);

    g.source.count = 11;
    g.source.asked.clear();
    g.grid->insertItemAtIndex(2, false);
    g.settle();
    EXPECT_EQ(g.grid->visibleItemAtIndex(3), third);
    EXPECT_EQ(third->index(), 3);
    EXPECT_EQ(third->geometry(), g.grid->rectForItemAtIndex(3));
    EXPECT_EQ(g.source.asked, (std::vector<qint64>{2}));

    g.source.asked.clear();
    g.grid->reloadItemsAtIndexes({5}, false);
    g.settle();
    EXPECT_EQ(g.source.asked, (std::vector<qint64>{5}));

    g.source.count = 9;
    g.source.asked.clear();
    g.grid->removeItemsAtIndexes({1, 2}, false);
    g.settle();
    EXPECT_EQ(g.grid->numberOfItems(), 9);
    EXPECT_EQ(g.source.asked, (std::vector<qint64>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(g.grid->indexesForVisibleItems(), IndexesOf({0, 9}));
    // Nothing was made anew: the views went back to the reuse queue.
    EXPECT_EQ(g.source.created, 11);
}

TEST(CNGridView, SelectedViewsStayWhileTheOthersAreStillRecycled) {
    GridInScrollArea g(600, 450, 1000);
    g.grid->selectItem(g.itemAt(1));
    const CNGridViewItemBase* selected = g.itemAt(1);
    for (int y = 0; y <= 30000; y += 150) {
        g.scrollTo(y);
    }
    EXPECT_EQ(g.grid->visibleItemAtIndex(1), selected);
    EXPECT_TRUE(selected->selected());
    // The rows in sight, a spare row and the selected view: no more.
    EXPECT_LE(g.source.created, 16 + 1);

    // A reload keeps the selection; once deselected, every view is reusable.
    g.grid->reloadData();
    g.settle();
    EXPECT_EQ(g.grid->selectedIndexes(), CNIndexSet{1});
    g.grid->deselectAllItems();
    g.scrollTo(0);
    g.scrollTo(3000);
    EXPECT_EQ(g.grid->numberOfVisibleItems() +
                  g.grid->reuseableItemCount(QLatin1String(kCNDefaultItemIdentifier)),
              g.source.created);
}

// Observers and the delegate write to one log, so their order shows.
struct Log : CNGridViewDelegate {
    Log() {
        connection = QObject::connect(
            CNGridViewNotificationCenter::defaultCenter(), &CNGridViewNotificationCenter::posted,
            [this](const QString& name, QObject*, const QVariantMap& info) {
                QString line = QStringLiteral("note ") + name;
                if (info.contains(QLatin1String(CNGridViewItemIndexKey))) {
                    line +=
                        QLatin1Char(' ') + Index(info.value(CNGridViewItemIndexKey).toLongLong());
                }
                entries << line;
            });
    }
    ~Log() override { QObject::disconnect(connection); }
    static QString Index(qint64 i) {
        return i == CNNotFound ? QStringLiteral("none") : QString::number(i);
    }
    void willHoverItemAtIndex(CNGridView*, qint64 i, qint64) override {
        entries << QStringLiteral("delegate willHover ") + Index(i);
    }
    void willUnhoverItemAtIndex(CNGridView*, qint64 i, qint64) override {
        entries << QStringLiteral("delegate willUnhover ") + Index(i);
    }
    void willSelectItemAtIndex(CNGridView*, qint64 i, qint64) override {
        entries << QStringLiteral("delegate willSelect ") + Index(i);
    }
    void didSelectItemAtIndex(CNGridView*, qint64 i, qint64) override {
        entries << QStringLiteral("delegate didSelect ") + Index(i);
    }
    void didDeselectAllItems(CNGridView*) override {
        entries << QStringLiteral("delegate didDeselectAll");
    }
    void didActivateContextMenuWithIndexes(CNGridView*, const CNIndexSet& s, qint64) override {
        QStringList list;
        for (qint64 i : s) {
            list << QString::number(i);
        }
        entries << QStringLiteral("delegate menu ") + list.join(QLatin1Char(','));
    }
    QStringList entries;
    QMetaObject::Connection connection;
};

TEST(CNGridView, NotificationsArePostedBeforeTheDelegateHears) {
    GridInScrollArea g(600, 450, 10);
    Log log;
    g.grid->setDelegate(&log);
    g.grid->selectItem(g.itemAt(3));
    EXPECT_EQ(log.entries, (QStringList{"note CNGridViewWillSelectItem 3", "delegate willSelect 3",
                                        "note CNGridViewDidSelectItem 3", "delegate didSelect 3"}));
}

TEST(CNGridView, SelectionWithNoneCtrlOrShift) {
    const auto none = Qt::NoModifier;
    const auto ctrl = Qt::ControlModifier;
    const auto shift = Qt::ShiftModifier;
    const struct {
        const char* what;
        bool multiple;
        CNIndexSet before;
        qint64 clicked;
        Qt::KeyboardModifiers modifiers;
        CNIndexSet after;
    } cases[] = {
        {"single: a click selects", false, {}, 2, none, {2}},
        {"single: Ctrl on a selected item deselects it", false, {2}, 2, ctrl, {}},
        {"single: a plain click on a selected item keeps it", false, {2}, 2, none, {2}},
        {"multiple: a click replaces the selection", true, {1, 5}, 3, none, {3}},
        {"multiple: a click on a selected item leaves only it", true, {1, 5}, 5, none, {5}},
        {"multiple: Ctrl adds", true, {1}, 3, ctrl, {1, 3}},
        {"multiple: Ctrl removes", true, {1, 3}, 3, ctrl, {1}},
        {"multiple: Shift with nothing selected selects the item", true, {}, 6, shift, {6}},
        {"multiple: Shift extends up from the highest", true, {1, 3}, 7, shift, {1, 3, 4, 5, 6, 7}},
        {"multiple: Shift extends down to the item", true, {8}, 5, shift, {5, 6, 7, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GridInScrollArea g(600, 450, 10);
        g.grid->setAllowsMultipleSelection(c.multiple);
        for (qint64 i : c.before) {
            g.grid->selectItem(g.itemAt(i));
        }
        g.grid->selectItemAtIndex(c.clicked, c.modifiers);
        EXPECT_EQ(g.grid->selectedIndexes(), c.after);
        for (qint64 i = 0; i < 10; ++i) {
            EXPECT_EQ(g.itemAt(i)->selected(), c.after.contains(i)) << "item " << i;
        }
    }
}

void RightClick(CNGridView* grid, QPoint at) {
    QTest::mousePress(grid, Qt::RightButton, Qt::NoModifier, at);
}

TEST(CNGridView, RightClicksSelectAndOpenTheMenuWithTheIndexes) {
    QList<CNIndexSet> menusShown;
    const auto previous = CNGridView::SetContextMenuPopper([&](QMenu* menu, const QPoint&) {
        menusShown << menu->actions().first()->data().value<CNIndexSet>();
    });
    const struct {
        const char* what;
        bool withMenu;
        CNIndexSet before;
        QPoint at;
        CNIndexSet after;
        QList<CNIndexSet> menus;
        QStringList tail;  // the last entries of the log
    } cases[] = {
        {"empty space deselects everything and opens no menu",
         true,
         {1, 2},
         {400, 400},
         {},
         {},
         {"note CNGridViewDidDeselectAllItems", "delegate didDeselectAll"}},
        {"an unselected item becomes the only selection",
         true,
         {1, 2},
         {460, 10},
         {3},
         {{3}},
         {"note CNGridViewRightMouseButtonClickedOnItem", "delegate menu 3"}},
        {"a selected item keeps the selection; the menu carries all of it",
         true,
         {1, 2},
         {160, 10},
         {1, 2},
         {{1, 2}},
         {"note CNGridViewRightMouseButtonClickedOnItem", "delegate menu 1,2"}},
        {"without a menu the selection still changes and nothing more is posted",
         false,
         {1},
         {460, 10},
         {3},
         {},
         {"note CNGridViewDidSelectItem 3", "delegate didSelect 3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GridInScrollArea g(600, 450, 10);
        g.grid->setAllowsMultipleSelection(true);
        QMenu menu;
        menu.addAction(QStringLiteral("Recover"));
        if (c.withMenu) {
            g.grid->setItemContextMenu(&menu);
        }
        for (qint64 i : c.before) {
            g.grid->selectItem(g.itemAt(i));
        }
        Log log;
        g.grid->setDelegate(&log);
        menusShown.clear();
        RightClick(g.grid, c.at);
        EXPECT_EQ(g.grid->selectedIndexes(), c.after);
        EXPECT_EQ(menusShown, c.menus);
        ASSERT_GE(log.entries.size(), c.tail.size());
        EXPECT_EQ(log.entries.mid(log.entries.size() - c.tail.size()), c.tail);
    }
    CNGridView::SetContextMenuPopper(previous);
}

void MoveTo(CNGridView* grid, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(grid->mapToGlobal(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &move);
}

TEST(CNGridView, ACellWithoutAViewStaysEmptySelectsNothingAndIsAskedAgain) {
    GridInScrollArea g(600, 450, 10);
    g.source.missing = {3};
    g.grid->reloadData();
    g.settle();
    EXPECT_EQ(g.grid->visibleItemAtIndex(3), nullptr);
    g.grid->setAllowsMultipleSelection(true);
    g.grid->selectItem(g.itemAt(1));
    RightClick(g.grid, {460, 10});
    EXPECT_TRUE(g.grid->selectedIndexes().empty());
    g.source.asked.clear();
    g.grid->updateVisibleRect();  // the clip's next move
    EXPECT_EQ(g.source.asked, std::vector<qint64>{3});
}

TEST(CNGridView, HoverMovesFromAnItemOntoEmptySpace) {
    GridInScrollArea g(600, 450, 5);
    Log log;
    g.grid->setDelegate(&log);
    MoveTo(g.grid, QPoint(160, 20));
    EXPECT_TRUE(g.itemAt(1)->hovered());
    MoveTo(g.grid, QPoint(400, 400));
    EXPECT_EQ(log.entries,
              (QStringList{"note CNGridViewWillHoverItem 1", "delegate willHover 1",
                           "note CNGridViewWillUnhoverItem 1", "delegate willUnhover 1",
                           "note CNGridViewWillHoverItem none", "delegate willHover none"}));
    EXPECT_FALSE(g.itemAt(1)->hovered());
    EXPECT_EQ(g.grid->lastHoveredIndex(), CNNotFound);
}

void DragTo(CNGridView* grid, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(grid->mapToGlobal(at)), Qt::NoButton,
                     Qt::LeftButton, modifiers);
    QApplication::sendEvent(grid, &move);
}

TEST(CNGridView, DragSelectionMarksTheItemsUnderTheRubberBandOnly) {
    const struct {
        const char* what;
        bool dragSelection;
        bool escapeFirst;
        CNIndexSet marked;
    } cases[] = {
        {"off by default", false, false, {}},
        {"on", true, false, {0, 1, 2, 4, 5, 6}},
        {"Escape stops it", true, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GridInScrollArea g(600, 450, 10);
        g.grid->setAllowsMultipleSelection(true);
        g.grid->setAllowsMultipleSelectionWithDrag(c.dragSelection);
        if (c.escapeFirst) {
            QTest::keyClick(g.grid, Qt::Key_Escape);
        }
        Log log;
        DragTo(g.grid, {10, 10});
        DragTo(g.grid, {320, 160});
        std::set<qint64> marked;
        for (qint64 i = 0; i < 10; ++i) {
            if (g.itemAt(i)->selected()) {
                marked.insert(i);
            }
        }
        EXPECT_EQ(marked, c.marked);
        EXPECT_EQ(g.grid->indexesMarkedBySelectionFrame(), c.marked);
        // Marked, not selected: no selection and nothing posted.
        EXPECT_TRUE(g.grid->selectedIndexes().empty());
        EXPECT_TRUE(log.entries.isEmpty());
        if (c.marked.empty()) {
            continue;
        }
        EXPECT_EQ(g.grid->selectionFrameView()->geometry(), QRect(10, 10, 310, 150));
        // Shrinking the band unmarks what it left.
        DragTo(g.grid, {160, 20});
        EXPECT_EQ(g.grid->indexesMarkedBySelectionFrame(), (CNIndexSet{0, 1}));
        EXPECT_FALSE(g.itemAt(5)->selected());
    }
}

TEST(CNGridView, ClicksAreSortedIntoSingleAndDoubleClicks) {
    const struct {
        QList<qint64> clicks;
        QStringList posted;
    } cases[] = {
        {{4}, {"click 4"}},
        {{4, 4}, {"double 4"}},
        {{4, 5}, {"click 4", "click 5"}},
        {{4, 4, 4}, {"double 4"}},
        {{4, 4, 5}, {"double 4", "click 5"}},
        {{4, 5, 5}, {"click 4", "double 5"}},
        {{4, 5, 4}, {"click 4", "click 5", "click 4"}},
        {{CNNotFound}, {}},
        {{1, 2, 3, 4}, {}},
    };
    GridInScrollArea g(600, 450, 10);
    for (const auto& c : cases) {
        QStringList posted;
        auto connection = QObject::connect(
            CNGridViewNotificationCenter::defaultCenter(), &CNGridViewNotificationCenter::posted,
            [&](const QString& name, QObject*, const QVariantMap& info) {
                const QString index = info.value(CNGridViewItemIndexKey).toString();
                if (name == QLatin1String(CNGridViewDidClickItemNotification)) {
                    posted << QStringLiteral("click ") + index;
                } else if (name == QLatin1String(CNGridViewDidDoubleClickItemNotification)) {
                    posted << QStringLiteral("double ") + index;
                }
            });
        g.grid->handleClicks(c.clicks);
        QObject::disconnect(connection);
        EXPECT_EQ(posted, c.posted);
    }
}

TEST(CNGridView, ADeselectAllFromAnyGridClearsTheItemsOfEveryGrid) {
    GridInScrollArea a(600, 450, 5);
    GridInScrollArea b(600, 450, 5);
    b.itemAt(2)->setSelected(true);
    a.grid->selectItem(a.itemAt(1));
    a.grid->deselectAllItems();
    EXPECT_FALSE(a.itemAt(1)->selected());
    EXPECT_FALSE(b.itemAt(2)->selected());
}

TEST(CNGridViewItem, ThumbnailIsLimitedTo90PointsASideAndPlacedInTheTile) {
    const struct {
        QSize image;
        QRectF drawn;
    } cases[] = {
        {{120, 60}, {32.5, 37.5, 90, 60}},  // each side on its own
        {{40, 40}, {57.5, 47.5, 40, 40}},   // small pictures keep their size
        {{300, 300}, {32.5, 22.5, 90, 90}},
    };
    for (const auto& c : cases) {
        CNGridViewItem item;
        QImage image(c.image, QImage::Format_ARGB32);
        image.fill(Qt::red);
        item.refImageWithImage(image);
        EXPECT_EQ(item.imageRect(), c.drawn);
    }
}

TEST(CNGridViewItem, AnEmptyThumbnailLeavesThePlaceholder) {
    CNGridViewItem item;
    QImage placeholder(90, 90, QImage::Format_ARGB32);
    placeholder.fill(Qt::gray);
    item.setItemImage(placeholder);
    for (const QSize size : {QSize(0, 10), QSize(10, 0), QSize()}) {
        item.refImageWithImage(QImage(size, QImage::Format_ARGB32));
        EXPECT_EQ(item.itemImage().size(), QSize(90, 90));
    }
}

TEST(CNGridViewItem, TheCheckBoxIsInertOnlyWhileAScanRunsUnpaused) {
    struct Recorder : CNGridViewItemDelegate {
        void doSelectItem(qint64 index) override { indexes.push_back(index); }
        std::vector<qint64> indexes;
    };
    const struct {
        bool scanBusy;
        int nodeState;
        bool told;
        const char* picture;
    } cases[] = {
        {true, 0, false, ""},
        {false, 0, true, "checkbox_yes"},
        {false, 2, true, "checkbox_no"},
        {false, 1, true, "checkbox_no"},
    };
    for (const auto& c : cases) {
        CNGridViewItem::SetScanBusySource([&] { return c.scanBusy; });
        TestNode node(QStringLiteral("a.jpg"), c.nodeState);
        Recorder delegate;
        CNGridViewItem item;
        item.setIndex(7);
        item.setNode(&node);
        item.setDelegate(&delegate);
        item.show();
        QTest::mouseClick(item.itemButton(), Qt::LeftButton);
        EXPECT_EQ(delegate.indexes, c.told ? std::vector<qint64>{7} : std::vector<qint64>{});
        EXPECT_EQ(item.itemButton()->imageName(), QLatin1String(c.picture));
    }
    CNGridViewItem::SetScanBusySource({});
}

TEST(CNGridViewItem, ReuseClearsTheItemForItsNextFile) {
    CNGridViewItem item;
    TestNode node;
    item.setIndex(4);
    item.setSelected(true);
    item.setHovered(true);
    item.setNode(&node);
    item.setItemTitle(QStringLiteral("a.jpg"));
    item.setItemImage(QImage(10, 10, QImage::Format_ARGB32));
    item.prepareForReuse();
    EXPECT_EQ(item.index(), CNNotFound);
    EXPECT_FALSE(item.selected());
    EXPECT_FALSE(item.hovered());
    EXPECT_TRUE(item.itemImage().isNull());
    EXPECT_TRUE(item.itemTitle().isEmpty());
    EXPECT_EQ(item.node(), nullptr);
}

}  // namespace
