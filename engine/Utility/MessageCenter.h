// Carries events from deep inside the engine (a failed sector read during a
// scan) to receivers registered by the interface, on a delivery thread of
// its own, at most one event per delivery interval.
#pragma once

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <list>
#include <map>

#include "Utility/Locks.h"

using EVENT_TYPE = int;
// A sector read of a volume or a disk failed; no payload.
constexpr EVENT_TYPE kEventSectorReadFailed = 1;
// A recovered file came back incomplete (LostRanges.h). Payload, in host
// byte order: int64 bytes lost, int64 the file's size, then the path it was
// written to in UTF-8 with its terminating zero.
constexpr EVENT_TYPE kEventFileIncomplete = 2;
// Events were dropped because the queue was full. Payload: uint64, in host
// byte order, the number dropped since the previous such event. It is queued
// where the first of them would have been, beyond the cap, and counts every
// later drop until it is delivered.
constexpr EVENT_TYPE kEventsDropped = 3;

struct _MSG_EVENT {
    int32_t type;
    int32_t length;
    uint8_t payload[1];  // `length` bytes
};

class INotifyCenter {
public:
    // The event belongs to the relay and lives only during the call. Runs with
    // the relay lock held: a receiver must not call back into the relay.
    virtual void Notify(_MSG_EVENT* event) = 0;

protected:
    ~INotifyCenter() = default;
};

class CMessageCenter {
public:
    static CMessageCenter* Instance();

    bool RegisterNotifyCenter(int key, INotifyCenter* receiver);
    void UnregisterNotifyCenter(int key);
    INotifyCenter* GetNotifyCenter(int key);
    void UpdateNotifyCenter(int key, INotifyCenter* receiver);

    // Queued only while a delivery thread runs; dropped otherwise.
    void PushEvent(EVENT_TYPE type, int length, void* payload);
    _MSG_EVENT* PopEvent();
    void SendEvent(_MSG_EVENT* event);

    void StartReceiveMessage();
    void StopReceiveMessage();
    void Clear();

    // The pause between two deliveries: one second in the program; tests
    // shorten it.
    // Ends a pause already begun.
    void SetDeliveryInterval(std::chrono::milliseconds interval);
    // Events waiting beyond this count are dropped and counted (kEventsDropped):
    // a failing disk can report thousands of bad sectors a second while
    // delivery drains one a second.
    static constexpr size_t kMaxQueued = 1024;
    size_t QueuedCount();

    CMessageCenter(const CMessageCenter&) = delete;
    CMessageCenter& operator=(const CMessageCenter&) = delete;

private:
    CMessageCenter();
    ~CMessageCenter();
    static void* Static_MsgThread(void* self);
    void ClearLocked();
    void CountDroppedLocked();

    std::map<int, INotifyCenter*> receivers_;
    std::list<_MSG_EVENT*> queue_;
    _MSG_EVENT* delivering_ = nullptr;
    _MSG_EVENT* dropNotice_ = nullptr;  // queued, still counting
    int stop_ = 0;
    bool threadRunning_ = false;  // guarded by lock_
    pthread_t thread_{};
    mutex_locker lock_;
    cond_locker wake_;  // lets a stop end the pause at once
    std::chrono::milliseconds interval_{1000};
};
