// Without an application object (a headless tool, a test of the bridge) the
// posts for the main thread wait in a queue until someone delivers them.
#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <QCoreApplication>
#include <QObject>

#include "UIPlatform/NotificationCenter.h"

using velmora::ui::Notification;
using velmora::ui::NotificationCenter;

TEST(NotificationCenterHeadless, MainThreadPostsWaitForDelivery) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    NotificationCenter center;
    QObject owner;
    QStringList names;
    center.addObserver(&owner, QString(), [&](const Notification& n) { names << n.name; });
    center.postOnMainThread("QueryProgressInfo");
    center.postOnMainThread("QueryProgressFinish");
    EXPECT_TRUE(names.isEmpty());
    EXPECT_EQ(center.deliverPending(), 2);
    EXPECT_EQ(names, (QStringList{"QueryProgressInfo", "QueryProgressFinish"}));
    EXPECT_EQ(center.deliverPending(), 0);
}
