#include "TopView/TCImageButton.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

#include "QtPrinters.h"

namespace {

std::unique_ptr<TCImageButton> MakeButton() {
    auto b = std::make_unique<TCImageButton>(QRect(0, 0, 138, 41));
    b->setImageFromFileNormalName("btn_scan_normal", "btn_scan_press", "btn_scan_hover",
                                  "btn_scan_disable");
    return b;
}

// Pixels of a colour in the label's part of the button (right of the glyph).
int LabelPixels(TCImageButton& b, const QColor& colour) {
    const QImage image = b.grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 50; x < image.width(); ++x) {
            count += image.pixelColor(x, y) == colour;
        }
    }
    return count;
}

void Enter(QWidget* w) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(w, &enter);
}

}  // namespace

// Unusable before pressed before hover before resting.
TEST(TCImageButton, PictureFollowsTheStatePriority) {
    const struct {
        bool widgetEnabled;
        bool usable;
        bool pressed;
        bool hover;
        const char* image;
    } cases[] = {
        {true, true, false, false, "btn_scan_normal"},
        {true, true, false, true, "btn_scan_hover"},
        {true, true, true, true, "btn_scan_press"},
        {true, true, true, false, "btn_scan_press"},
        {true, false, true, true, "btn_scan_disable"},
        {true, false, false, false, "btn_scan_disable"},
        // In the bar of an inactive window: drawn unusable though usable.
        {false, true, true, false, "btn_scan_disable"},
        {false, true, false, false, "btn_scan_disable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        auto b = MakeButton();
        b->setEnabled(c.widgetEnabled);
        b->setButtonEnabled(c.usable);
        b->setButtonClicked(c.pressed);
        b->setIsFocus(c.hover);
        EXPECT_EQ(b->currentImageName(), QLatin1String(c.image));
    }
}

TEST(TCImageButton, AnUnusableButtonSendsNoActionAndGreysItsLabel) {
    auto b = MakeButton();
    b->setTextWithName(QStringLiteral("Scan"), QRect(0, 0, 138, 41));
    b->show();
    QSignalSpy clicked(b.get(), &QAbstractButton::clicked);
    QTest::mouseClick(b.get(), Qt::LeftButton, {}, QPoint(60, 20));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_GT(LabelPixels(*b, Qt::white), 0);
    EXPECT_EQ(LabelPixels(*b, Qt::gray), 0);

    b->setButtonEnabled(false);
    QTest::mouseClick(b.get(), Qt::LeftButton, {}, QPoint(60, 20));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(LabelPixels(*b, Qt::white), 0);
    EXPECT_GT(LabelPixels(*b, Qt::gray), 0);

    b->setButtonEnabled(true);
    EXPECT_GT(LabelPixels(*b, Qt::white), 0);
}

TEST(TCImageButton, HoverComesAndGoesWithThePointer) {
    auto b = MakeButton();
    b->show();
    Enter(b.get());
    EXPECT_EQ(b->currentImageName(), "btn_scan_hover");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(b.get(), &leave);
    EXPECT_EQ(b->currentImageName(), "btn_scan_normal");
    // Entering a disabled widget does not hover it.
    b->setEnabled(false);
    Enter(b.get());
    EXPECT_FALSE(b->isFocus());
}

TEST(TCImageButton, PressedStaysUntilReleasedByTheController) {
    auto b = MakeButton();
    b->setButtonClicked(true);
    EXPECT_EQ(b->currentImageName(), "btn_scan_press");
    b->setButtonClicked(false);
    EXPECT_EQ(b->currentImageName(), "btn_scan_normal");
}

TEST(TCImageButton, WithoutPicturesItIsAPlainButton) {
    TCImageButton b(QRect(0, 0, 80, 30));
    b.setText(QStringLiteral("OK"));
    EXPECT_EQ(b.currentImageName(), QString());
    b.show();
    QSignalSpy clicked(&b, &QAbstractButton::clicked);
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_FALSE(b.grab().isNull());
}

TEST(TCImageButton, ALabelledButtonDrawsIntoTheFrameLessFourAndRaisesItsLabel) {
    TCImageButton b(QRect(0, 0, 100, 30));
    b.setImageFromFileNormalName("text_bg", "bg_tab", "bg_tab", "text_bg");
    b.setTextWithName(QStringLiteral("Path"), QRect(0, 0, 100, 30));
    EXPECT_EQ(b.dstRect(), QRect(0, 0, 96, 30));
    EXPECT_EQ(b.textField()->geometry(), QRect(0, -2, 100, 30));
    EXPECT_EQ(b.textField()->alignment(), Qt::AlignCenter);
}
