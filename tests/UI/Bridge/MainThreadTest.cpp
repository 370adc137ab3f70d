// Posting to the main thread and the threads of the operations: what a
// worker posts is delivered by the main loop, on the main thread, with the
// bridge as its object; an operation's thread has its 2 MiB stack.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <thread>

#include "BridgeDoubles.h"
#include "StartThread.h"
#include "VKUIPublic.h"

using namespace velmora::bridge;
using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::NotificationLog;

TEST(MainThreadPoster, WorkersPostsArriveOnTheMainLoop) {
    BridgeWorld world;
    NotificationLog log("QueryProgressInfo");
    BridgeThread worker = StartThread([] {
        for (int i = 0; i < 3; ++i)
            VKUIPublic::NotifyMainThread("QueryProgressInfo");
    });
    ASSERT_TRUE(worker.Joinable());
    worker.Join();
    // Nothing is delivered on the worker's thread.
    EXPECT_TRUE(log.objects.empty());
    EXPECT_EQ(world.poster->RunPending(), 3);
    ASSERT_EQ(log.objects.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log.objects[i], VKUIPublic::NotificationObject());
        EXPECT_EQ(log.threads[i], std::this_thread::get_id());
    }
}

// The helper thread's work is done before its name is posted.
TEST(MainThreadPoster, NameFollowsTheWorkDoneOnAHelperThread) {
    BridgeWorld world;
    std::atomic<bool> worked{false};
    bool workedWhenPosted = false;
    const auto token = NotificationCentre::Default().AddObserver(
        "DoSearchFinished", [&](const Notification&) { workedWhenPosted = worked; });
    VKUIPublic::NotifyMainThreadByPostKey("DoSearchFinished", [&] { worked = true; });
    JoinBackgroundThreads();
    EXPECT_EQ(world.poster->RunPending(), 1);
    EXPECT_TRUE(workedWhenPosted);
    NotificationCentre::Default().RemoveObserver(token);
}

TEST(MainThreadPoster, OperationThreadsHaveTheirStack) {
    size_t stack = 0;
    BridgeThread worker = StartThread([&] {
        pthread_attr_t attr;
        ASSERT_EQ(pthread_getattr_np(pthread_self(), &attr), 0);
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_destroy(&attr);
    });
    worker.Join();
    EXPECT_GE(stack, kOperationStackBytes);
    // Joined at its end even when nobody asks.
    std::atomic<bool> ran{false};
    {
        BridgeThread scoped = StartThread([&] { ran = true; });
    }
    EXPECT_TRUE(ran);
}
