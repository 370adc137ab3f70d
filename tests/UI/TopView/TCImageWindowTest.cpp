#include "TopView/TCImageWindow.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "QtPrinters.h"
#include "Resources/UiColors.h"
#include "TopView/TCImageButton.h"
#include "TopView/TCWindowButtonGroup.h"

namespace {

using Kind = TCImageWindow::ButtonKind;

std::unique_ptr<TCImageWindow> MakeWindow(QSize size = {600, 300}) {
    auto w = std::make_unique<TCImageWindow>();
    w->resize(size);
    return w;
}

void Activate(QWidget* w) {
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    QApplication::processEvents();
}

QRect Button(const TCImageWindow& w, Kind kind) {
    return w.buttonToLayout(kind)->geometry();
}

}  // namespace

// The bar's height and the left margin give the content's height and the
// buttons' places (14-point buttons, 6 points apart, in a 600 x 300 window).
TEST(TCImageWindow, BarHeightAndMarginPlaceTheContentAndTheButtons) {
    const struct {
        double bar;
        double margin;
        bool centred;
        bool vertical;
        QRect close, minimize, zoom;
    } cases[] = {
        // Main window: centred in 50 points.
        {50, 8, true, false, {8, 18, 14, 14}, {28, 18, 14, 14}, {48, 18, 14, 14}},
        // Results browser, progress and end windows, notice, preview.
        {36, 8, true, false, {8, 11, 14, 14}, {28, 11, 14, 14}, {48, 11, 14, 14}},
        {40, 13, true, false, {13, 13, 14, 14}, {33, 13, 14, 14}, {53, 13, 14, 14}},
        {22, 13, true, false, {13, 4, 14, 14}, {33, 4, 14, 14}, {53, 4, 14, 14}},
        {20, 8, true, false, {8, 3, 14, 14}, {28, 3, 14, 14}, {48, 3, 14, 14}},
        // Not centred: 3 points under the bar's top.
        {50, 8, false, false, {8, 3, 14, 14}, {28, 3, 14, 14}, {48, 3, 14, 14}},
        // Stacked: zoom lowest, 4 points apart, the group centred.
        {50, 8, true, true, {8, 0, 14, 14}, {8, 18, 14, 14}, {8, 36, 14, 14}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "bar " << c.bar << " margin " << c.margin << (c.centred ? " centred" : "")
                     << (c.vertical ? " vertical" : ""));
        auto w = MakeWindow();
        w->setCenterTrafficLightButtons(c.centred);
        w->setVerticalTrafficLightButtons(c.vertical);
        w->setTitleBarHeight(c.bar);
        w->setTrafficLightButtonsLeftMargin(c.margin);
        EXPECT_EQ(w->contentView()->geometry(), QRect(0, int(c.bar), 600, 300 - int(c.bar)));
        EXPECT_EQ(w->titleBarView()->size(), QSize(600, int(c.bar)));
        EXPECT_EQ(Button(*w, Kind::Close), c.close);
        EXPECT_EQ(Button(*w, Kind::Minimize), c.minimize);
        EXPECT_EQ(Button(*w, Kind::Zoom), c.zoom);
    }
}

TEST(TCImageWindow, MoveUpShowsAtTheNextLayoutOnly) {
    auto w = MakeWindow();
    w->setTitleBarHeight(50);
    w->setTrafficLightButtonsLeftMargin(8);
    w->show();
    w->setTopButtonMoveUp(5);
    EXPECT_EQ(Button(*w, Kind::Close).y(), 18);
    w->resize(601, 300);
    EXPECT_EQ(Button(*w, Kind::Close).y(), 13);
    EXPECT_EQ(Button(*w, Kind::Zoom).y(), 13);
}

TEST(TCImageWindow, SameBarHeightChangesNothingAndANewOneIsCached) {
    auto w = MakeWindow();
    w->setTitleBarHeight(40);
    EXPECT_EQ(w->cachedTitleBarHeight(), 40);
    w->setCachedTitleBarHeight(99);
    w->setTitleBarHeight(40);
    EXPECT_EQ(w->cachedTitleBarHeight(), 99);
    w->setTitleBarHeight(36);
    EXPECT_EQ(w->cachedTitleBarHeight(), 36);
}

TEST(TCImageWindow, BarControlsFollowTheWindowsActivity) {
    auto first = MakeWindow();
    auto second = MakeWindow();
    auto* control = new TCImageButton(QRect(560, 10, 16, 16), first->titleBarView());
    control->setImageFromFileNormalName("icon_infor", "icon_infor_hover", "icon_infor_hover",
                                        "icon_infor");
    auto* close = first->buttonToLayout(Kind::Close);

    Activate(first.get());
    ASSERT_TRUE(first->isActive());
    EXPECT_TRUE(control->isEnabled());
    EXPECT_EQ(close->shown(), TCWindowButton::Shown::Active);

    Activate(second.get());
    ASSERT_FALSE(first->isActive());
    EXPECT_FALSE(control->isEnabled());
    EXPECT_EQ(control->currentImageName(), "icon_infor");  // its unusable picture
    EXPECT_EQ(close->shown(), TCWindowButton::Shown::ActiveNotKeyWindow);

    Activate(first.get());
    EXPECT_TRUE(control->isEnabled());
}

TEST(TCImageWindow, BarIsWhiteWhateverColoursAreSetAndTheTitleGreyensWhenInactive) {
    auto w = MakeWindow();
    w->setTitleBarHeight(50);
    w->setTitleBarStartColor(Qt::red);
    w->setTitleBarEndColor(Qt::blue);
    w->setBaselineSeparatorColor(Qt::green);
    Activate(w.get());
    const QImage bar = w->grab(QRect(0, 0, 600, 50)).toImage();
    for (QPoint p : {QPoint(200, 10), QPoint(300, 40), QPoint(590, 48)}) {
        EXPECT_EQ(bar.pixelColor(p), QColor(Qt::white)) << p.x() << "," << p.y();
    }
    EXPECT_EQ(velmora::ui::colors::TitleText(true), QColor(56, 56, 56, 255));
    EXPECT_EQ(velmora::ui::colors::TitleText(false).alpha(), 128);
}

TEST(TCImageWindow, SheetsOpenUnderTheBar) {
    auto w = MakeWindow();
    w->setTitleBarHeight(40);
    EXPECT_EQ(w->sheetRect(QRect(100, 0, 300, 200)), QRect(100, 40, 300, 200));
}

TEST(TCImageWindow, DoubleClickOnTheBarMinimisesOnlyWhenTheSettingSaysSo) {
    for (bool setting : {false, true}) {
        SCOPED_TRACE(setting);
        HxTitlebarView::SetMiniaturizeOnDoubleClickSetting([setting] { return setting; });
        auto w = MakeWindow();
        w->setTitleBarHeight(50);
        Activate(w.get());
        QTest::mouseDClick(w->titleBarView(), Qt::LeftButton, {}, QPoint(300, 25));
        QApplication::processEvents();
        EXPECT_EQ(w->isMinimized(), setting);
    }
    HxTitlebarView::SetMiniaturizeOnDoubleClickSetting(nullptr);
}

TEST(TCImageWindow, OwnersButtonTakesTheStandardPlaceAndIsLaidOut) {
    auto w = MakeWindow();
    w->setTitleBarHeight(50);
    w->setTrafficLightButtonsLeftMargin(8);
    auto* custom = new TCWindowButton(QSize(16, 16), QStringLiteral("test.custom"));
    w->setCloseButton(custom);
    EXPECT_EQ(w->buttonToLayout(Kind::Close), custom);
    w->show();
    w->resize(610, 300);
    // 16 points centred in 50: 17 from the top; the minimise button follows it.
    EXPECT_EQ(custom->geometry(), QRect(8, 17, 16, 16));
    EXPECT_EQ(Button(*w, Kind::Minimize).x(), 8 + 16 + 6);
    QTest::mouseClick(custom, Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
}

TEST(TCWindowButtonGroup, OneGroupPerIdentifierAndTheDefaultForNone) {
    EXPECT_EQ(TCWindowButtonGroup::groupWithIdentifier(QString()),
              TCWindowButtonGroup::groupWithIdentifier(
                  TCWindowButtonGroup::kTCWindowButtonGroupDefault()));
    EXPECT_EQ(TCWindowButtonGroup::groupWithIdentifier("a"),
              TCWindowButtonGroup::groupWithIdentifier("a"));
    EXPECT_NE(TCWindowButtonGroup::groupWithIdentifier("a"),
              TCWindowButtonGroup::groupWithIdentifier("b"));
    EXPECT_TRUE(TCWindowButtonGroup::kTCWindowButtonGroupDefault().endsWith(
        ".TCImageWindow.defaultWindowButtonGroup"));
}

TEST(TCWindowButtonGroup, OnlyARealChangeOfTheCountTellsTheButtons) {
    TCWindowButtonGroup* group = TCWindowButtonGroup::groupWithIdentifier("count");
    QSignalSpy told(group, &TCWindowButtonGroup::rolloverStateDidUpdate);
    group->setNumberOfCaptures(-1);
    group->setNumberOfCaptures(0);
    EXPECT_EQ(told.count(), 0);
    group->setNumberOfCaptures(2);
    EXPECT_EQ(told.count(), 1);
    EXPECT_TRUE(group->shouldDisplayRollOver());
    group->resetMouseCaptures();
    EXPECT_EQ(told.count(), 1);
    EXPECT_FALSE(group->shouldDisplayRollOver());
}

TEST(TCWindowButton, RollOverFollowsTheGroupAndADisabledButtonStaysInactive) {
    TCWindowButtonGroup* group = TCWindowButtonGroup::groupWithIdentifier("rollover");
    TCWindowButton a(QSize(14, 14), "rollover");
    TCWindowButton b(QSize(14, 14), "rollover");
    b.setEnabled(false);
    a.show();
    b.show();
    group->setNumberOfCaptures(1);
    EXPECT_EQ(a.shown(), TCWindowButton::Shown::Rollover);
    EXPECT_EQ(b.shown(), TCWindowButton::Shown::Inactive);
    group->setNumberOfCaptures(0);
    EXPECT_NE(a.shown(), TCWindowButton::Shown::Rollover);
}
