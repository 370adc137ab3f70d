#include <gtest/gtest.h>

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
    WaitEvent ev;
    ev.WakeUp();
    ev.EnterWait(0);  // returns at once
    std::thread waker([&] { ev.WakeUp(); });
    ev.EnterWait(0);
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
