// Bad sectors met during a scan reach the windows as "BadSectorNotify", on
// the main thread: through the engine's event relay, the bridge's centre
// (which copies each event's bytes) and the scan's observer.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "BadSectorNotify.h"
#include "BridgeDoubles.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::NotificationLog;

namespace {

struct Seen {
    int type;
    bool payload;
    std::vector<unsigned char> bytes;
};

class Recorder : public INotifyObserver {
public:
    explicit Recorder(size_t read) : read_(read) {}
    void Notify(int type, void* payload) override {
        Seen s{type, payload != nullptr, {}};
        if (payload != nullptr)
            s.bytes.assign(static_cast<unsigned char*>(payload),
                           static_cast<unsigned char*>(payload) + read_);
        seen.push_back(s);
    }
    std::vector<Seen> seen;

private:
    size_t read_;
};

// An event as the relay hands it over, in a buffer of its own.
std::vector<unsigned char> Event(int type, const std::vector<unsigned char>& payload) {
    std::vector<unsigned char> bytes(offsetof(_MSG_EVENT, payload) + payload.size() + 1);
    auto* event = reinterpret_cast<_MSG_EVENT*>(bytes.data());
    event->type = type;
    event->length = static_cast<int32_t>(payload.size());
    if (!payload.empty())
        std::memcpy(event->payload, payload.data(), payload.size());
    return bytes;
}

}  // namespace

// Every observer hears every event in order, with the centre's own copy of
// the bytes (the relay frees its event after the call) or none.
TEST(BadSector, CentreCopiesPayloadsAndTellsEveryObserver) {
    CMyNotifyCenter centre;
    Recorder first(3), second(3), never(3);
    centre.AddObserver(&first);
    centre.AddObserver(&second);
    centre.RemoveObserver(&never);  // not there: nothing changes
    struct Case {
        int type;
        std::vector<unsigned char> payload;
    } const cases[] = {{1, {}}, {2, {7, 8, 9}}, {1, {}}, {3, {1, 2, 3}}};
    for (const Case& c : cases) {
        std::vector<unsigned char> event = Event(c.type, c.payload);
        centre.Notify(reinterpret_cast<_MSG_EVENT*>(event.data()));
        std::fill(event.begin(), event.end(), 0xEE);
    }
    centre.Notify(nullptr);
    for (const Recorder* r : {&first, &second}) {
        ASSERT_EQ(r->seen.size(), std::size(cases));
        for (size_t i = 0; i < std::size(cases); ++i) {
            EXPECT_EQ(r->seen[i].type, cases[i].type);
            EXPECT_EQ(r->seen[i].payload, !cases[i].payload.empty()) << i;
            EXPECT_EQ(r->seen[i].bytes, cases[i].payload) << i;
        }
    }
    centre.RemoveObserver(&first);
    std::vector<unsigned char> event = Event(1, {});
    centre.Notify(reinterpret_cast<_MSG_EVENT*>(event.data()));
    EXPECT_EQ(first.seen.size(), std::size(cases));
    EXPECT_EQ(second.seen.size(), std::size(cases) + 1);
}

// Only failed sector reads are posted, and only through the main loop.
TEST(BadSector, ObserverPostsFailedReadsOnTheMainThread) {
    BridgeWorld world;
    NotificationLog log(CProgressNotify::kNotificationName);
    {
        CProgressNotify observer;
        auto* centre =
            dynamic_cast<CMyNotifyCenter*>(CMessageCenter::Instance()->GetNotifyCenter(1));
        ASSERT_NE(centre, nullptr);
        for (int type : {kEventSectorReadFailed, kEventFileIncomplete, kEventsDropped, 0,
                         kEventSectorReadFailed}) {
            std::vector<unsigned char> event = Event(type, {});
            centre->Notify(reinterpret_cast<_MSG_EVENT*>(event.data()));
        }
        EXPECT_TRUE(log.objects.empty());
    }
    // The observer's end takes its centre out of the relay.
    EXPECT_EQ(CMessageCenter::Instance()->GetNotifyCenter(1), nullptr);
    EXPECT_EQ(world.poster->RunPending(), 2);
    ASSERT_EQ(log.objects.size(), 2u);
    EXPECT_EQ(log.objects[0], nullptr);
    EXPECT_EQ(log.threads[0], std::this_thread::get_id());
}
