#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Utility/MessageCenter.h"

using namespace std::chrono_literals;

namespace {

struct Recorder : INotifyCenter {
    std::mutex m;
    std::vector<std::pair<int, int>> seen;  // (type, first payload byte or -1)
    std::vector<std::chrono::steady_clock::time_point> when;
    std::vector<int>* order = nullptr;
    int id = 0;
    void Notify(_MSG_EVENT* e) override {
        std::lock_guard<std::mutex> g(m);
        seen.emplace_back(e->type, e->length > 0 ? e->payload[0] : -1);
        when.push_back(std::chrono::steady_clock::now());
        if (order)
            order->push_back(id);
    }
    size_t count() {
        std::lock_guard<std::mutex> g(m);
        return seen.size();
    }
};

class MessageCenterTest : public testing::Test {
protected:
    void SetUp() override {
        mc = CMessageCenter::Instance();
        mc->SetDeliveryInterval(20ms);
    }
    void TearDown() override {
        mc->StopReceiveMessage();
        for (int k = -5; k < 10; ++k)
            mc->UnregisterNotifyCenter(k);
        mc->SetDeliveryInterval(1000ms);
    }
    bool WaitFor(Recorder& r, size_t n) {
        for (int i = 0; i < 500 && r.count() < n; ++i)
            std::this_thread::sleep_for(5ms);
        return r.count() >= n;
    }
    CMessageCenter* mc = nullptr;
};

}  // namespace

TEST_F(MessageCenterTest, DeliversOldestFirstOnePerInterval) {
    Recorder r;
    ASSERT_TRUE(mc->RegisterNotifyCenter(1, &r));
    mc->StartReceiveMessage();
    for (uint8_t i = 1; i <= 3; ++i)
        mc->PushEvent(kEventSectorReadFailed, 1, &i);
    ASSERT_TRUE(WaitFor(r, 3));
    mc->StopReceiveMessage();
    std::lock_guard<std::mutex> g(r.m);
    ASSERT_EQ(r.seen.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(r.seen[i], std::make_pair(1, i + 1));
    // One per interval: the third cannot arrive sooner than two pauses after the first.
    EXPECT_GE(r.when[2] - r.when[0], 35ms);
}

TEST_F(MessageCenterTest, EventsWhileStoppedAreDropped) {
    Recorder r;
    ASSERT_TRUE(mc->RegisterNotifyCenter(1, &r));
    uint8_t b = 9;
    mc->PushEvent(kEventSectorReadFailed, 1, &b);
    EXPECT_EQ(mc->QueuedCount(), 0u);
    mc->StartReceiveMessage();
    mc->PushEvent(2, 0, nullptr);
    ASSERT_TRUE(WaitFor(r, 1));
    std::this_thread::sleep_for(60ms);
    std::lock_guard<std::mutex> g(r.m);
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0], std::make_pair(2, -1));
}

TEST_F(MessageCenterTest, EveryReceiverInKeyOrder) {
    std::vector<int> order;
    Recorder a, b, c;
    a.id = 1, b.id = 2, c.id = 3;
    a.order = b.order = c.order = &order;
    ASSERT_TRUE(mc->RegisterNotifyCenter(7, &c));
    ASSERT_TRUE(mc->RegisterNotifyCenter(-3, &a));
    ASSERT_TRUE(mc->RegisterNotifyCenter(2, &b));
    mc->StartReceiveMessage();
    mc->PushEvent(1, 0, nullptr);
    ASSERT_TRUE(WaitFor(c, 1));
    mc->StopReceiveMessage();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(MessageCenterTest, DuplicateKeyKeepsFirstUpdateReplaces) {
    Recorder a, b;
    EXPECT_FALSE(mc->RegisterNotifyCenter(1, nullptr));
    EXPECT_TRUE(mc->RegisterNotifyCenter(1, &a));
    EXPECT_FALSE(mc->RegisterNotifyCenter(1, &b));
    EXPECT_EQ(mc->GetNotifyCenter(1), &a);
    mc->UpdateNotifyCenter(1, &b);
    EXPECT_EQ(mc->GetNotifyCenter(1), &b);
    mc->UpdateNotifyCenter(4, &a);
    EXPECT_EQ(mc->GetNotifyCenter(4), &a);
    mc->UnregisterNotifyCenter(1);
    EXPECT_EQ(mc->GetNotifyCenter(1), nullptr);
}

TEST_F(MessageCenterTest, StartTwiceRunsOneThreadAndStopIsPrompt) {
    Recorder r;
    ASSERT_TRUE(mc->RegisterNotifyCenter(1, &r));
    mc->SetDeliveryInterval(300ms);
    mc->StartReceiveMessage();
    mc->StartReceiveMessage();
    for (uint8_t i = 0; i < 2; ++i)
        mc->PushEvent(1, 1, &i);
    ASSERT_TRUE(WaitFor(r, 1));
    // Two delivery threads would hand out both events at once; one thread
    // needs a whole pause between them.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(r.count(), 1u);
    mc->SetDeliveryInterval(10s);
    ASSERT_TRUE(WaitFor(r, 2));
    // The thread is now in a ten-second pause.
    std::this_thread::sleep_for(20ms);
    auto t0 = std::chrono::steady_clock::now();
    mc->StopReceiveMessage();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s) << "stop must not wait out the pause";
    mc->PushEvent(1, 0, nullptr);
    EXPECT_EQ(mc->QueuedCount(), 0u) << "nothing is queued once delivery has stopped";
}

TEST_F(MessageCenterTest, QueueIsBoundedWhileDeliveryLags) {
    mc->SetDeliveryInterval(10s);
    mc->StartReceiveMessage();
    for (size_t i = 0; i < CMessageCenter::kMaxQueued * 3; ++i)
        mc->PushEvent(1, 0, nullptr);
    EXPECT_LE(mc->QueuedCount(), CMessageCenter::kMaxQueued);
    EXPECT_GE(mc->QueuedCount(), CMessageCenter::kMaxQueued - 1);
}
