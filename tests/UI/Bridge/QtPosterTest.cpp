// The program's poster: a worker's post is delivered by Qt's event loop of
// the thread that made the poster.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <memory>
#include <thread>

#include "BridgeDoubles.h"
#include "QtPoster.h"
#include "StartThread.h"
#include "VKUIPublic.h"

using namespace velmora::bridge;

TEST(QtPoster, WorkersPostArrivesOnTheEventLoop) {
    int argc = 1;
    char name[] = "test_bridge_qt";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    InstallPoster(std::make_shared<QtPoster>());
    velmora::bridgetest::NotificationLog log("NormalScranValue");
    const auto quit = NotificationCentre::Default().AddObserver(
        "NormalScranValue", [&](const Notification&) { app.quit(); });
    BridgeThread worker = StartThread([] { VKUIPublic::NotifyMainThread("NormalScranValue"); });
    // A lost post fails the test instead of hanging it.
    QTimer::singleShot(30000, &app, [&] { app.exit(1); });
    EXPECT_EQ(app.exec(), 0);
    worker.Join();
    NotificationCentre::Default().RemoveObserver(quit);
    InstallPoster(nullptr);
    ASSERT_EQ(log.objects.size(), 1u);
    EXPECT_EQ(log.objects[0], VKUIPublic::NotificationObject());
    EXPECT_EQ(log.threads[0], std::this_thread::get_id());
}
