#include "Widgets/VKProgressView.h"

#include <gtest/gtest.h>

#include <cmath>

#include "QtPrinters.h"
#include "Widgets/NSProgressBar.h"

TEST(VKProgressView, FillWidthHasATenPointFloorAndSnapsToTheFullStrip) {
    const struct {
        float percent;
        float width;
        float fill;
    } cases[] = {
        {0, 900, 10},         {1, 900, 10},       {2, 900, 18},    {50, 900, 450},
        {99.8f, 900, 898.2f}, {99.95f, 900, 900}, {100, 900, 900}, {150, 900, 900},
        {-20, 900, 10},       {50, 4, 10},        {NAN, 900, 10},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(VKProgressView::FillWidth(c.percent, c.width), c.fill)
            << c.percent << " % of " << c.width;
    }
}

TEST(VKProgressView, BarStartsAtTheLeftFourPointsHighAndKeepsItsShareOnResize) {
    VKProgressView strip;
    strip.resize(900, 4);
    strip.show();
    strip.changeProgressValue(0);
    EXPECT_EQ(strip.bar()->geometry(), QRect(0, 0, 10, 4));
    strip.changeProgressValue(50);
    EXPECT_EQ(strip.bar()->geometry(), QRect(0, 0, 450, 4));
    strip.resize(600, 4);
    EXPECT_EQ(strip.bar()->geometry(), QRect(0, 0, 300, 4));

    // Half filled blue on the grey strip.
    const QImage image = strip.grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 2), QColor(53, 130, 248));
    EXPECT_EQ(image.pixelColor(500, 2), QColor(194, 198, 204));
}
