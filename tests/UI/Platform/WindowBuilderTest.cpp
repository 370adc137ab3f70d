#include "UIPlatform/WindowBuilder.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <QLabel>
#include <QPushButton>

using namespace velmora::ui;

TEST(WindowBuilder, ConvertsCocoaFramesOnce) {
    struct Case {
        CocoaFrame frame;
        int parentHeight;
        QRect rect;
    } cases[] = {
        {{0, 0, 100, 20}, 520, QRect(0, 500, 100, 20)},        // bottom-left corner
        {{8, 470, 60, 50}, 520, QRect(8, 0, 60, 50)},          // touching the top
        {{0, 0, 900, 520}, 520, QRect(0, 0, 900, 520)},        // the whole window
        {{10.4, 10.6, 20.2, 9.8}, 100, QRect(10, 80, 21, 9)},  // edges rounded
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToQtRect(c.frame, c.parentHeight), c.rect)
            << c.frame.x << "," << c.frame.y << " in " << c.parentHeight;
        CocoaFrame back = ToCocoaFrame(c.rect, c.parentHeight);
        EXPECT_EQ(ToQtRect(back, c.parentHeight), c.rect);
    }
    // Frames that touch in points touch in pixels.
    QRect lower = ToQtRect({0, 10.5, 50, 10.25}, 100);
    QRect upper = ToQtRect({0, 20.75, 50, 10}, 100);
    EXPECT_EQ(upper.bottom() + 1, lower.top());
}

TEST(WindowBuilder, PlacesControlsByOutletInTheirParents) {
    QWidget window;
    WindowBuilder builder(&window, 900, 520);
    EXPECT_EQ(window.size(), QSize(900, 520));
    auto* bar = builder.Add<QWidget>("titleBarView", {0, 470, 900, 50});
    auto* close = builder.Add<QPushButton>("closeButton", {8, 15, 20, 20}, bar);
    auto* label = builder.Add<QLabel>("titleLabel", {0, 0, 100, 20});
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 900, 50));
    EXPECT_EQ(close->parentWidget(), bar);
    EXPECT_EQ(close->geometry(), QRect(8, 15, 20, 20));
    EXPECT_EQ(label->geometry(), QRect(0, 500, 100, 20));
    EXPECT_EQ(window.findChild<QPushButton*>("closeButton"), close);
}
