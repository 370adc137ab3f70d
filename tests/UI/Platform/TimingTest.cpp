#include "UIPlatform/Timing.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <QCoreApplication>
#include <QTest>

#include <memory>

using namespace velmora::ui;

TEST(Timing, FadesCompleteAtScaleZero) {
    ASSERT_EQ(DurationScale(), 0.0);
    QWidget window;
    int done = 0;
    FadeIn(&window, 300, [&] { ++done; });
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(done, 0) << "the end arrives after the call, as an animation's would";
    QCoreApplication::processEvents();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(window.windowOpacity(), 1.0);

    Fade(&window, 0.0, 300, [&] { ++done; });
    EXPECT_EQ(window.windowOpacity(), 0.0);
    QCoreApplication::processEvents();
    EXPECT_EQ(done, 2);
}

TEST(Timing, ALaterFadeReplacesTheRunningOne) {
    for (double scale : {0.0, 0.05}) {
        SetDurationScale(scale);
        QWidget window;
        window.show();
        QStringList ends;
        Fade(&window, 0.0, 300, [&] { ends << "out"; });
        Fade(&window, 1.0, 300, [&] { ends << "in"; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 5000)) << scale;
        QCoreApplication::processEvents();
        EXPECT_EQ(ends, QStringList{"in"}) << scale;
        EXPECT_EQ(window.windowOpacity(), 1.0);
    }
    SetDurationScale(0);
}

TEST(Timing, DelaysDropWithTheirContext) {
    int ran = 0;
    auto gone = std::make_unique<QObject>();
    QObject kept;
    PerformAfter(gone.get(), 300, [&] { ran += 10; });
    PerformAfter(&kept, 300, [&] { ran += 1; });
    gone.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 1);

    int ticks = 0;
    QTimer* timer = Repeat(&kept, 1500, [&] { ++ticks; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
    timer->stop();
}

TEST(Timing, ManualClockStandsStillUntilMoved) {
    const QDateTime start(QDate(2026, 12, 1), QTime(10, 0));
    ManualClock clock(start);
    SetClock(&clock);
    EXPECT_EQ(CurrentClock().Now(), start);
    clock.AdvanceMs(7LL * 24 * 3600 * 1000);
    EXPECT_EQ(CurrentClock().Now(), start.addDays(7));
    SetClock(nullptr);
    EXPECT_GT(CurrentClock().Now(), start.addYears(-100));
}
