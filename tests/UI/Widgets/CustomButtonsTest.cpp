#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

#include "QtPrinters.h"
#include "Widgets/PLXCustemButton.h"
#include "Widgets/VKHandButton.h"

namespace {

void Enter(QWidget* w) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(w, &enter);
}

void Leave(QWidget* w) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, &leave);
}

std::unique_ptr<PLXCustemButton> MakeCategoryButton() {
    auto b = std::make_unique<PLXCustemButton>();
    b->setGeometry(0, 0, 400, 72);
    b->setIconImage("checkbox_no", "checkbox_yes");
    b->show();
    return b;
}

}  // namespace

TEST(PLXCustemButton, StartsSelectedAndEachClickTogglesBeforeTheAction) {
    auto b = MakeCategoryButton();
    EXPECT_TRUE(b->isButtonEnabled());
    EXPECT_TRUE(b->isSelected());
    EXPECT_EQ(b->shownIconName(), "checkbox_yes");
    QSignalSpy clicked(b.get(), &QAbstractButton::clicked);
    const struct {
        bool selected;
        const char* icon;
    } afterClick[] = {{false, "checkbox_no"}, {true, "checkbox_yes"}, {false, "checkbox_no"}};
    for (const auto& c : afterClick) {
        QTest::mouseClick(b.get(), Qt::LeftButton, {}, QPoint(200, 36));
        EXPECT_EQ(b->isSelected(), c.selected);
        EXPECT_EQ(b->shownIconName(), QLatin1String(c.icon));
    }
    EXPECT_EQ(clicked.count(), 3);
}

TEST(PLXCustemButton, ADisabledButtonNeitherTogglesNorActsAndDrawsWhite) {
    auto b = MakeCategoryButton();
    b->setTitleStr("Pictures", "JPEG, PNG");
    b->setButtonEnabled(false);
    QSignalSpy clicked(b.get(), &QAbstractButton::clicked);
    QTest::mouseClick(b.get(), Qt::LeftButton, {}, QPoint(200, 36));
    EXPECT_TRUE(b->isSelected());
    EXPECT_EQ(clicked.count(), 0);
    Enter(b.get());
    EXPECT_EQ(b->backgroundImageName(), QString());  // no disabled picture set
    EXPECT_EQ(b->grab().toImage().pixelColor(390, 5), QColor(Qt::white));
}

TEST(PLXCustemButton, SelectedFlagAloneKeepsTheIconAndChangeButtonStartMovesBoth) {
    auto b = MakeCategoryButton();
    b->setIsSelected(false);
    EXPECT_EQ(b->shownIconName(), "checkbox_yes");
    b->changeButtonStart(false);
    EXPECT_FALSE(b->isSelected());
    EXPECT_EQ(b->shownIconName(), "checkbox_no");
}

TEST(PLXCustemButton, HoverBackgroundOnlyAfterItIsSetUp) {
    auto b = MakeCategoryButton();
    Enter(b.get());
    EXPECT_FALSE(b->isFocus());
    b->setTitleStr("Pictures", "JPEG, PNG");  // sets the hover background up
    EXPECT_EQ(b->titleTextField()->geometry(), QRect(52, 10, 338, 20));
    EXPECT_EQ(b->nodeTextField()->geometry(), QRect(52, 34, 338, 30));
    Enter(b.get());
    EXPECT_TRUE(b->isFocus());
    EXPECT_EQ(b->backgroundImageName(), "hover_bg");
    Leave(b.get());
    EXPECT_EQ(b->backgroundImageName(), QString());
}

TEST(VKHandButton, PointingHandWhileThePointerIsOver) {
    VKHandButton link(QStringLiteral("help"));
    link.show();
    Enter(&link);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    Leave(&link);
    EXPECT_EQ(link.cursor().shape(), Qt::ArrowCursor);
}
