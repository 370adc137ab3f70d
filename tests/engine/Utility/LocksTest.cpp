#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Utility/Locks.h"

TEST(Locks, MutexLockerSerialisesCounters) {
    mutex_locker m;
    long counter = 0;
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                autolocker<mutex_locker> hold(m);
                ++counter;
            }
        });
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(Locks, SimpleCsIsRecursiveAndTracksOwner) {
    SimpleCs cs;
    EXPECT_FALSE(cs.HeldByCurrentThread());
    {
        SimpleLock outer(&cs, "outer");
        SimpleLock inner(&cs, "inner");  // must not deadlock
        EXPECT_TRUE(cs.HeldByCurrentThread());
    }
    EXPECT_FALSE(cs.HeldByCurrentThread());
    SimpleLock nothing(nullptr, "null is allowed");
}

TEST(Locks, WaitEventWakeBeforeWaitIsNotLost) {
    using namespace std::chrono_literals;
    WaitEvent ev;
    std::atomic<int> returned{0};
    // Waits once on a thread; whether it returned within `limit`.
    const auto waitReturns = [&](std::chrono::milliseconds limit) {
        const int before = returned.load();
        std::thread waiter([&] {
            ev.EnterWait(0);
            ++returned;
        });
        const auto end = std::chrono::steady_clock::now() + limit;
        while (returned.load() == before && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        const bool ok = returned.load() != before;
        if (!ok)
            ev.WakeUp();  // release the waiter so the test ends
        waiter.join();
        return ok;
    };
    ev.WakeUp();
    EXPECT_TRUE(waitReturns(5s)) << "a wake before the wait was lost";
    // The wake was used up: the next wait blocks until the next wake.
    EXPECT_FALSE(waitReturns(100ms)) << "one wake released two waits";
    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        ev.WakeUp();
    });
    EXPECT_TRUE(waitReturns(5s));
    waker.join();
}

TEST(Locks, CondLockerTimesOut) {
    cond_locker c;
    c.lock();
    EXPECT_FALSE(c.wait_for(10));
    c.un_lock();
}

TEST(Locks, RWLockAllowsManyReaders) {
    RWLock rw;
    ReadLock a(&rw, "a");
    EXPECT_EQ(rw.EnterRead("b"), 0);
    EXPECT_EQ(rw.LeaveRead(), 0);
}
