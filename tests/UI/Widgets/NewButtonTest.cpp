#include "Widgets/NewButton.h"

#include <gtest/gtest.h>

#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

#include "QtPrinters.h"
#include "Widgets/WidgetHooks.h"

using velmora::ui::ICellNode;

namespace {

struct Node : ICellNode {
    QString name() const override { return QStringLiteral("DCIM"); }
    int state() const override { return 0; }
    int iconKind() const override { return 1; }
};

// A clock the test moves by hand.
struct FakeClock {
    FakeClock() {
        previous = velmora::ui::SetWidgetClock([this] { return now; });
        NewButton::changeVlaue();
    }
    ~FakeClock() {
        velmora::ui::SetWidgetClock(previous);
        NewButton::changeVlaue();
    }
    double now = 1000;
    velmora::ui::SecondsClock previous;
};

}  // namespace

TEST(NewButton, IconLabelAndHitRectangles) {
    const struct {
        QRect cell;
        bool icon;
        bool label;
        QRect iconRect, labelRect, hit;
    } cases[] = {
        {{0, 0, 300, 20}, true, true, {17, 1, 18, 18}, {35, -1, 800, 22}, {0, 0, 15, 30}},
        {{0, 40, 300, 30}, true, true, {17, 46, 18, 18}, {35, 44, 800, 22}, {0, 40, 15, 30}},
        // A label without an icon starts 10 points in.
        {{20, 0, 300, 20}, false, true, {}, {30, -1, 800, 22}, {20, 0, 15, 30}},
        // Neither: only the tick box is drawn.
        {{0, 0, 300, 20}, false, false, {}, {}, {0, 0, 15, 30}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NewButton::IconRect(c.cell, c.icon), c.iconRect);
        EXPECT_EQ(NewButton::LabelRect(c.cell, c.label, c.icon), c.labelRect);
        EXPECT_EQ(NewButton::HitRect(c.cell), c.hit);
    }
}

// Hits in time order: outside the tick box nothing happens; within 0.2 s of
// a hit every cell of the process reports no hit.
TEST(NewButton, HitRectangleAndTheProcessWideClickGuard) {
    FakeClock clock;
    NewButton first;
    NewButton second;
    int calls = 0;
    for (NewButton* b : {&first, &second}) {
        b->setClickAction([&calls](const QModelIndex&) { ++calls; });
    }
    const QRect cell(0, 20, 300, 20);
    const struct {
        double at;
        NewButton* cellOf;
        QPoint point;
        bool hit;
    } steps[] = {
        {0.00, &first, {20, 25}, false},  // on the icon: outside 15 x 30
        {0.00, &first, {5, 25}, true},    // the tick box
        {0.10, &first, {5, 25}, false},   // guarded
        {0.19, &second, {5, 25}, false},  // guarded for every cell
        {0.21, &second, {5, 25}, true},   // the guard has gone
        {0.30, &first, {14, 49}, false},  // guarded again
        {0.50, &first, {14, 49}, true},   // bottom-right corner of the box
        {0.80, &first, {15, 25}, false},  // just right of it
    };
    int expectedCalls = 0;
    for (const auto& s : steps) {
        clock.now = 1000 + s.at;
        EXPECT_EQ(s.cellOf->hitTest(s.point, cell, QModelIndex()), s.hit) << "at " << s.at;
        expectedCalls += s.hit;
        EXPECT_EQ(calls, expectedCalls) << "at " << s.at;
    }
    NewButton::changeVlaue();
    EXPECT_FALSE(NewButton::ClickGuardSet());
}

TEST(NewButton, ADoubleClickOnATickBoxInATreeTicksOnce) {
    FakeClock clock;
    Node node;
    QStandardItemModel model;
    auto* item = new QStandardItem;
    item->setData(QVariant::fromValue<ICellNode*>(&node), velmora::ui::kCellNodeRole);
    model.appendRow(item);
    QTreeView tree;
    tree.setHeaderHidden(true);
    tree.setRootIsDecorated(false);
    tree.setModel(&model);
    auto* cell = new NewButton(&tree);
    tree.setItemDelegate(cell);
    tree.resize(300, 100);
    tree.show();
    int reports = 0;
    QObject::connect(cell, &NewButton::clickButtonAction, [&reports] { ++reports; });
    const QRect row = tree.visualRect(model.index(0, 0));
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, row.topLeft() + QPoint(5, 5));
    EXPECT_EQ(reports, 1);
    clock.now += 0.3;
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, row.topLeft() + QPoint(5, 5));
    EXPECT_EQ(reports, 2);
    // On the name: no report.
    clock.now += 0.3;
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, row.topLeft() + QPoint(60, 5));
    EXPECT_EQ(reports, 2);
}

TEST(NewButton, TickBoxPictureByState) {
    EXPECT_EQ(NewButton::CheckImageName(0), "pf_checkbox_no");
    EXPECT_EQ(NewButton::CheckImageName(1), "pf_checkbox_half");
    EXPECT_EQ(NewButton::CheckImageName(2), "pf_checkbox_yes");
}
