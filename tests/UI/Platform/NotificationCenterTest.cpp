#include "UIPlatform/NotificationCenter.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <QCoreApplication>
#include <QThread>

#include <memory>

using velmora::ui::Notification;
using velmora::ui::NotificationCenter;

TEST(NotificationCenter, ObserversDieWithTheirOwner) {
    NotificationCenter center;
    QStringList calls;
    auto window = std::make_unique<QObject>();
    QObject browser;
    center.addObserver(window.get(), "RefreshDetachDevice",
                       [&](const Notification&) { calls << "window"; });
    center.addObserver(&browser, "RefreshDetachDevice",
                       [&](const Notification&) { calls << "browser"; });
    center.post("RefreshDetachDevice");
    window.reset();
    center.post("RefreshDetachDevice");
    EXPECT_EQ(calls, (QStringList{"window", "browser", "browser"}));
    EXPECT_EQ(center.observerCount("RefreshDetachDevice"), 1);
}

TEST(NotificationCenter, AHandlerMayDestroyOrRemoveObserversDuringAPost) {
    NotificationCenter center;
    QStringList calls;
    auto first = std::make_unique<QObject>();
    auto second = std::make_unique<QObject>();
    QObject third;
    // The first observer's handler destroys the second's owner and removes
    // the third: neither may be called for this post any more.
    center.addObserver(first.get(), "appWillTerminate", [&](const Notification&) {
        calls << "first";
        second.reset();
        center.removeObserver(&third);
        first.reset();  // itself, while it runs
    });
    center.addObserver(second.get(), "appWillTerminate",
                       [&](const Notification&) { calls << "second"; });
    center.addObserver(&third, "appWillTerminate", [&](const Notification&) { calls << "third"; });
    center.post("appWillTerminate");
    center.post("appWillTerminate");
    EXPECT_EQ(calls, QStringList{"first"});
    EXPECT_EQ(center.observerCount("appWillTerminate"), 0);
}

TEST(NotificationCenter, NamesAndObjectsSelectObservers) {
    NotificationCenter center;
    QObject owner;
    QStringList calls;
    center.addObserver(&owner, "DoRecovery", [&](const Notification& n) {
        calls << "named:" + n.object.toString() + ":" + n.userInfo.value("k").toString();
    });
    center.addObserver(
        &owner, "DoRecovery", [&](const Notification&) { calls << "from bridge"; },
        QVariant("VKUIPublic"));
    center.addObserver(&owner, QString(), [&](const Notification& n) { calls << "any:" + n.name; });
    center.post("DoRecovery", QVariant("VKUIPublic"), {{"k", "v"}});
    center.post("DoRecovery", QVariant("other"));
    center.post("DoSearchValue");
    EXPECT_EQ(calls, (QStringList{"named:VKUIPublic:v", "from bridge", "any:DoRecovery",
                                  "named:other:", "any:DoRecovery", "any:DoSearchValue"}));
    center.removeObserver(&owner, "DoRecovery");
    calls.clear();
    center.post("DoRecovery");
    EXPECT_EQ(calls, QStringList{"any:DoRecovery"});
}

TEST(NotificationCenter, PostsFromAnyThreadArriveLaterOnTheMainThread) {
    NotificationCenter center;
    QObject owner;
    std::vector<QThread*> threads;
    center.addObserver(&owner, "NormalScranValue",
                       [&](const Notification&) { threads.push_back(QThread::currentThread()); });
    std::unique_ptr<QThread> worker(
        QThread::create([&] { center.postOnMainThread("NormalScranValue"); }));
    worker->start();
    worker->wait();
    center.postOnMainThread("NormalScranValue");
    EXPECT_TRUE(threads.empty()) << "a main-thread post is never delivered inside the call";
    QCoreApplication::processEvents();
    ASSERT_EQ(threads.size(), 2u);
    for (QThread* t : threads)
        EXPECT_EQ(t, QCoreApplication::instance()->thread());
}
