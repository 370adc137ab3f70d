// The attached bubble: placement on each side, the automatic side, the
// clamps of its properties, the plain rounded rectangle it starts as, and
// the deep-scan offer it carries.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTranslator>
#include <memory>

#include "QtPrinters.h"
#include "TopView/TCImageButton.h"
#include "Widgets/MAAttachedWindow.h"
#include "Widgets/VKDeepScanViewController.h"

namespace {

MAAttachedWindow::Metrics Metrics100x50() {
    MAAttachedWindow::Metrics m;
    m.viewSize = {100, 50};
    m.margin = 2;
    m.arrowHeight = 10;
    m.arrowInset = 8;
    m.distance = 5;
    return m;
}

TEST(MAAttachedWindow, EachSidePlacesTheWindowAroundThePoint) {
    // All upwards from the screen's bottom: 104 x 54 with the margins, and
    // 10 more for the arrow on the edge that carries it.
    const struct {
        int side;
        QRectF frame;
        QPointF viewOrigin;
    } cases[] = {
        {MAPositionLeft, {381, 373, 114, 54}, {2, 2}},
        {MAPositionBottom, {448, 331, 104, 64}, {2, 2}},
        {MAPositionRight, {505, 373, 114, 54}, {12, 2}},
        {MAPositionTop, {448, 405, 104, 64}, {2, 12}},
        {MAPositionLeftTop, {381, 392, 114, 54}, {2, 2}},
        {MAPositionLeftBottom, {381, 354, 114, 54}, {2, 2}},
        {MAPositionRightTop, {505, 392, 114, 54}, {12, 2}},
        {MAPositionRightBottom, {505, 354, 114, 54}, {12, 2}},
        {MAPositionTopLeft, {404, 405, 104, 64}, {2, 12}},
        {MAPositionTopRight, {492, 405, 104, 64}, {2, 12}},
        {MAPositionBottomLeft, {404, 331, 104, 64}, {2, 2}},
        {MAPositionBottomRight, {492, 331, 104, 64}, {2, 2}},
        // Unresolved automatic: the corner at the point, no arrow room.
        {MAPositionAutomatic, {500, 400, 104, 54}, {2, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        QRectF view;
        EXPECT_EQ(MAAttachedWindow::PlacedFrame(c.side, {500, 400}, Metrics100x50(), &view),
                  c.frame);
        EXPECT_EQ(view, QRectF(c.viewOrigin, QSizeF(100, 50)));
    }
}

TEST(MAAttachedWindow, TheAutomaticSideKeepsTheBubbleOnTheScreen) {
    const QRectF screen(0, 0, 1000, 800);
    const QRectF parent(100, 100, 800, 600);
    const struct {
        const char* what;
        QRectF screen;
        QRectF parent;
        QPointF point;
        int side;
    } cases[] = {
        {"room below", screen, parent, {500, 400}, MAPositionBottom},
        {"below, near the parent's left edge", screen, parent, {120, 400}, MAPositionBottomRight},
        {"below, near the parent's right edge", screen, parent, {880, 400}, MAPositionBottomLeft},
        {"no room below: right, by the parent's bottom",
         screen,
         parent,
         {500, 60},
         MAPositionRightTop},
        {"near the right edge, no room below: left", screen, parent, {950, 30}, MAPositionLeftTop},
        {"no room below or beside: above",
         {0, 0, 150, 800},
         {0, 0, 150, 800},
         {75, 30},
         MAPositionTop},
        {"no room anywhere: below", {0, 0, 150, 80}, {0, 0, 150, 80}, {75, 30}, MAPositionBottom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MAAttachedWindow::BestSide(c.screen, c.parent, c.point, Metrics100x50()), c.side);
    }
}

std::unique_ptr<MAAttachedWindow> Bubble(int side = MAPositionBottom) {
    auto* view = new QWidget;
    view->resize(100, 50);
    return std::unique_ptr<MAAttachedWindow>(
        MAAttachedWindow::Create(view, {300, 300}, nullptr, side, 10));
}

TEST(MAAttachedWindow, PropertiesAreClamped) {
    const struct {
        const char* what;
        std::function<void(MAAttachedWindow&)> change;
        std::function<float(const MAAttachedWindow&)> read;
        float expected;
    } cases[] = {
        {"a negative radius becomes 0", [](auto& w) { w.setCornerRadius(-3); },
         [](auto& w) { return w.cornerRadius(); }, 0},
        {"a radius beyond half the smaller side plus the margins",
         [](auto& w) { w.setCornerRadius(100); }, [](auto& w) { return w.cornerRadius(); }, 27},
        {"a border wider than the margin", [](auto& w) { w.setBorderWidth(5); },
         [](auto& w) { return w.borderWidth(); }, 2},
        {"has-arrow 0.5 differs from 1 and truncates to 0", [](auto& w) { w.setHasArrow(0.5f); },
         [](auto& w) { return w.hasArrow(); }, 0},
        {"a negative margin becomes 0", [](auto& w) { w.setViewMargin(-1); },
         [](auto& w) { return w.viewMargin(); }, 0},
        {"a smaller margin clamps the radius again",
         [](auto& w) {
             w.setCornerRadius(100);
             w.setViewMargin(0);
         },
         [](auto& w) { return w.cornerRadius(); }, 25},
        {"the arrow's base leaves room for both rounded corners",
         [](auto& w) { w.setArrowBaseWidth(1000); }, [](auto& w) { return w.arrowBaseWidth(); },
         38},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto w = Bubble();
        c.change(*w);
        EXPECT_EQ(c.read(*w), c.expected);
    }
}

TEST(MAAttachedWindow, StartsAsAPlainRoundedRectangleTheDistanceBelowThePoint) {
    QWidget parent;
    parent.setGeometry(100, 100, 600, 400);
    parent.show();
    auto* view = new QWidget;
    view->resize(100, 50);
    MAAttachedWindow* w = MAAttachedWindow::Create(view, {300, 200}, &parent, MAPositionBottom, 10);
    ASSERT_NE(w, nullptr);
    w->show();
    QApplication::processEvents();
    const QPoint point = parent.mapToGlobal(QPoint(300, 200));
    // Below in Qt's downward coordinates; no arrow room with the start values.
    EXPECT_EQ(w->geometry(), QRect(point.x() - 52, point.y() + 10, 104, 54));
    EXPECT_EQ(view->geometry(), QRect(2, 2, 100, 50));
    const QPainterPath path = w->backgroundPath();
    EXPECT_EQ(path.boundingRect(), QRectF(1, 1, 102, 52));
    EXPECT_TRUE(path.contains(QPointF(52, 27)));
    EXPECT_FALSE(path.contains(QPointF(1.5, 1.5)));  // the corners are rounded
    EXPECT_EQ(MAAttachedWindow::Create(nullptr, {0, 0}), nullptr);
}

TEST(MAAttachedWindow, TurningTheArrowOffLeavesItsRoomEmpty) {
    auto w = Bubble(MAPositionBottom);
    w->setArrowHeight(10);
    w->setArrowBaseWidth(20);
    // The window keeps the arrow's room on its top edge either way.
    EXPECT_EQ(w->attachedFrame().size(), QSizeF(104, 64));
    EXPECT_TRUE(w->backgroundPath().contains(QPointF(52, 5)));
    w->setHasArrow(0);
    EXPECT_FALSE(w->backgroundPath().contains(QPointF(52, 5)));
    EXPECT_EQ(w->backgroundPath().boundingRect().top(), 11);
}

bool HasVertex(const QPainterPath& path, QPointF at) {
    for (int i = 0; i < path.elementCount(); ++i) {
        if (QPointF(path.elementAt(i)) == at) {
            return true;
        }
    }
    return false;
}

TEST(MAAttachedWindow, TheArrowTipSitsOnTheEdgeAndEndOfItsSide) {
    // View 100 x 50, margin 2, arrow 10 high and 20 wide, corners of 8:
    // where the tip lands in the window's own coordinates.
    const struct {
        int side;
        QPointF tip;
    } cases[] = {
        {MAPositionBottom, {52, 1}},       {MAPositionBottomRight, {19, 1}},
        {MAPositionBottomLeft, {85, 1}},   {MAPositionLeft, {113, 27}},
        {MAPositionLeftBottom, {113, 19}}, {MAPositionLeftTop, {113, 35}},
        {MAPositionTop, {52, 63}},         {MAPositionTopLeft, {85, 63}},
        {MAPositionTopRight, {19, 63}},    {MAPositionRight, {1, 27}},
        {MAPositionRightTop, {1, 35}},     {MAPositionRightBottom, {1, 19}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        auto w = Bubble(c.side);
        w->setArrowHeight(10);
        w->setArrowBaseWidth(20);
        const QPainterPath path = w->backgroundPath();
        EXPECT_TRUE(HasVertex(path, c.tip));
        // The body and the arrow fill the window but for half a point.
        EXPECT_EQ(path.boundingRect(),
                  QRectF(1, 1, w->attachedFrame().width() - 2, w->attachedFrame().height() - 2));
    }
}

TEST(MAAttachedWindow, AResizeWhileComputingTheGeometryDoesNotComputeItAgain) {
    auto w = Bubble();
    w->show();
    QApplication::processEvents();
    const int before = w->geometryUpdates();
    w->setArrowHeight(12);  // grows the window: a resize arrives meanwhile
    EXPECT_EQ(w->geometryUpdates(), before + 1);
}

TEST(MAAttachedWindow, ACloseOfTheBubbleClosesItsParentWindow) {
    QWidget parent;
    parent.show();
    auto* view = new QWidget;
    view->resize(100, 50);
    MAAttachedWindow* w = MAAttachedWindow::Create(view, {10, 10}, &parent, MAPositionBottom, 10);
    w->show();
    w->performClose();
    EXPECT_FALSE(parent.isVisible());
}

class OfferTexts : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char*, const char* key, const char*, int) const override {
        return qstrcmp(key, "PLX_FOUR_DEEPSCAN_NODE") == 0 ? sentence : QString();
    }
    QString sentence;
};

TEST(VKDeepScanViewController, TheWordsDeepScanGetAFontOfTheirOwn) {
    const QString span = QStringLiteral("<span style=\"font-family:'%1'; font-size:14px;\">")
                             .arg(QFont(QStringLiteral("Nimbus Sans")).family());
    const struct {
        QString sentence;
        QString markup;
    } cases[] = {
        {"Too few files? Try Deep Scan now.",
         "Too few files? Try " + span + "Deep Scan</span> now."},
        {"Deep Scan, Deep Scan", span + "Deep Scan</span>, Deep Scan"},
        {"Essayez l'analyse approfondie.", "Essayez l'analyse approfondie."},
        {"a < b & Deep Scan", "a &lt; b &amp; " + span + "Deep Scan</span>"},
    };
    OfferTexts texts;
    QCoreApplication::installTranslator(&texts);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence.toStdString());
        texts.sentence = c.sentence;
        VKDeepScanViewController offer;
        EXPECT_EQ(offer.deepScanNodeLabel()->text(), c.markup);
    }
    QCoreApplication::removeTranslator(&texts);
}

TEST(VKDeepScanViewController, TheCloseButtonTellsADelegateThatListens) {
    struct Listening : VKDeepScanViewControllerDelegate {
        void popupViewHidden() override { ++hidden; }
        int hidden = 0;
    };
    VKDeepScanViewControllerDelegate deaf;
    Listening listening;
    VKDeepScanViewController offer;
    offer.show();
    QTest::mouseClick(offer.closeButton(), Qt::LeftButton);  // no delegate
    offer.setDelegate(&deaf);
    QTest::mouseClick(offer.closeButton(), Qt::LeftButton);
    offer.setDelegate(&listening);
    QTest::mouseClick(offer.closeButton(), Qt::LeftButton);
    EXPECT_EQ(listening.hidden, 1);
}

}  // namespace
