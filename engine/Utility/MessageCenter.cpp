#include "Utility/MessageCenter.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "Utility/CatchExeception.h"

CMessageCenter* CMessageCenter::Instance() {
    static CMessageCenter instance;
    return &instance;
}

CMessageCenter::CMessageCenter() = default;

CMessageCenter::~CMessageCenter() {
    StopReceiveMessage();
    autolocker<mutex_locker> hold(lock_);
    ClearLocked();
    receivers_.clear();
}

bool CMessageCenter::RegisterNotifyCenter(int key, INotifyCenter* receiver) {
    if (receiver == nullptr)
        return false;
    autolocker<mutex_locker> hold(lock_);
    return receivers_.emplace(key, receiver).second;
}

void CMessageCenter::UnregisterNotifyCenter(int key) {
    autolocker<mutex_locker> hold(lock_);
    receivers_.erase(key);
}

INotifyCenter* CMessageCenter::GetNotifyCenter(int key) {
    autolocker<mutex_locker> hold(lock_);
    auto it = receivers_.find(key);
    return it == receivers_.end() ? nullptr : it->second;
}

void CMessageCenter::UpdateNotifyCenter(int key, INotifyCenter* receiver) {
    autolocker<mutex_locker> hold(lock_);
    receivers_[key] = receiver;
}

void CMessageCenter::PushEvent(EVENT_TYPE type, int length, void* payload) {
    if (length < 0 || (length > 0 && payload == nullptr))
        return;
    autolocker<mutex_locker> hold(lock_);
    if (!threadRunning_)
        return;
    if (queue_.size() - (dropNotice_ ? 1 : 0) >= kMaxQueued) {
        CountDroppedLocked();
        return;
    }
    auto* event = static_cast<_MSG_EVENT*>(std::calloc(1, static_cast<size_t>(length) + 12));
    if (event == nullptr)
        return;
    event->type = type;
    event->length = length;
    if (length > 0)
        std::memcpy(event->payload, payload, static_cast<size_t>(length));
    queue_.push_back(event);
}

_MSG_EVENT* CMessageCenter::PopEvent() {
    autolocker<mutex_locker> hold(lock_);
    if (queue_.empty())
        return nullptr;
    delivering_ = queue_.front();
    queue_.pop_front();
    if (delivering_ == dropNotice_)
        dropNotice_ = nullptr;
    return delivering_;
}

void CMessageCenter::SendEvent(_MSG_EVENT* event) {
    if (event == nullptr)
        return;
    autolocker<mutex_locker> hold(lock_);
    for (auto& [key, receiver] : receivers_) {
        if (receiver)
            receiver->Notify(event);
    }
    std::free(event);
    if (delivering_ == event)
        delivering_ = nullptr;
}

void CMessageCenter::StartReceiveMessage() {
    {
        autolocker<mutex_locker> hold(lock_);
        stop_ = 0;
        if (threadRunning_)
            return;
        ClearLocked();
        threadRunning_ = true;
    }
    if (pthread_create(&thread_, nullptr, &CMessageCenter::Static_MsgThread, this) != 0) {
        autolocker<mutex_locker> hold(lock_);
        threadRunning_ = false;
        CatchExeception::WriteLog("CMessageCenter: cannot start the delivery thread\n");
    }
}

void CMessageCenter::StopReceiveMessage() {
    bool running;
    {
        autolocker<mutex_locker> hold(lock_);
        stop_ = 1;
        running = threadRunning_;
    }
    wake_.lock();
    wake_.broadcast();
    wake_.un_lock();
    if (!running)
        return;
    pthread_join(thread_, nullptr);
    autolocker<mutex_locker> hold(lock_);
    threadRunning_ = false;
    thread_ = pthread_t{};
}

void CMessageCenter::Clear() {
    autolocker<mutex_locker> hold(lock_);
    ClearLocked();
}

void CMessageCenter::ClearLocked() {
    for (_MSG_EVENT* e : queue_)
        std::free(e);
    queue_.clear();
    dropNotice_ = nullptr;
}

void CMessageCenter::CountDroppedLocked() {
    // One notice waits in the queue at a time and counts every drop until it
    // is delivered; the next drop after that starts a new notice.
    if (dropNotice_ == nullptr) {
        auto* notice = static_cast<_MSG_EVENT*>(
            std::calloc(1, sizeof(uint64_t) + offsetof(_MSG_EVENT, payload)));
        if (notice == nullptr)
            return;
        notice->type = kEventsDropped;
        notice->length = sizeof(uint64_t);
        queue_.push_back(notice);
        dropNotice_ = notice;
    }
    uint64_t dropped = 0;
    std::memcpy(&dropped, dropNotice_->payload, sizeof dropped);
    ++dropped;
    std::memcpy(dropNotice_->payload, &dropped, sizeof dropped);
}

void CMessageCenter::SetDeliveryInterval(std::chrono::milliseconds interval) {
    {
        autolocker<mutex_locker> hold(lock_);
        interval_ = interval;
    }
    // A pause already begun ends now, so a shorter interval counts at once.
    wake_.lock();
    wake_.broadcast();
    wake_.un_lock();
}

size_t CMessageCenter::QueuedCount() {
    autolocker<mutex_locker> hold(lock_);
    return queue_.size();
}

void* CMessageCenter::Static_MsgThread(void* self) {
    auto* center = static_cast<CMessageCenter*>(self);
    for (;;) {
        {
            autolocker<mutex_locker> hold(center->lock_);
            if (center->stop_)
                break;
        }
        center->SendEvent(center->PopEvent());
        center->wake_.lock();
        // Read under the wake lock: a stop or a new interval set before this
        // point is seen here, one set later wakes the pause.
        bool stopping;
        long pause;
        {
            autolocker<mutex_locker> hold(center->lock_);
            stopping = center->stop_ != 0;
            pause = static_cast<long>(center->interval_.count());
        }
        if (!stopping)
            center->wake_.wait_for(pause);
        center->wake_.un_lock();
    }
    center->Clear();
    return nullptr;
}
