#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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

// A failing disk reports bad sectors far faster than one a second: the queue
// holds 1,024 events, and what does not fit is counted and the count
// delivered, never lost without a word.
TEST_F(MessageCenterTest, QueueIsBoundedAndDropsAreCounted) {
    struct Counter : INotifyCenter {
        std::mutex m;
        uint64_t plain = 0, dropped = 0, notices = 0;
        void Notify(_MSG_EVENT* e) override {
            std::lock_guard<std::mutex> g(m);
            if (e->type == kEventsDropped) {
                ASSERT_EQ(e->length, 8);
                uint64_t n = 0;
                std::memcpy(&n, e->payload, sizeof n);
                dropped += n;
                ++notices;
            } else {
                ++plain;
            }
        }
        uint64_t total() {
            std::lock_guard<std::mutex> g(m);
            return plain + dropped;
        }
    } counter;
    ASSERT_TRUE(mc->RegisterNotifyCenter(1, &counter));
    mc->SetDeliveryInterval(10s);
    mc->StartReceiveMessage();
    constexpr uint64_t kPushed = 3000;
    for (uint64_t i = 0; i < kPushed; ++i)
        mc->PushEvent(kEventSectorReadFailed, 0, nullptr);
    // 1,024 waiting and the drop notice; one more when the delivery thread
    // took the first event before the rest arrived.
    EXPECT_LE(mc->QueuedCount(), 1025u);
    EXPECT_GE(mc->QueuedCount(), 1024u);
    mc->SetDeliveryInterval(0ms);
    for (int i = 0; i < 2000 && counter.total() < kPushed; ++i)
        std::this_thread::sleep_for(5ms);
    mc->StopReceiveMessage();
    std::lock_guard<std::mutex> g(counter.m);
    EXPECT_EQ(counter.plain + counter.dropped, kPushed);
    EXPECT_GE(counter.plain, 1024u);
    EXPECT_LE(counter.plain, 1025u);
    EXPECT_EQ(counter.notices, 1u);
}
