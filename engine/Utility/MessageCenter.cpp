#include "Utility/MessageCenter.h"

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
    if (queue_.size() >= kMaxQueued)
        return;
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
}

void CMessageCenter::SetDeliveryInterval(std::chrono::milliseconds interval) {
    autolocker<mutex_locker> hold(lock_);
    interval_ = interval;
}

size_t CMessageCenter::QueuedCount() {
    autolocker<mutex_locker> hold(lock_);
    return queue_.size();
}

void* CMessageCenter::Static_MsgThread(void* self) {
    auto* center = static_cast<CMessageCenter*>(self);
    for (;;) {
        long pause;
        {
            autolocker<mutex_locker> hold(center->lock_);
            if (center->stop_)
                break;
            pause = static_cast<long>(center->interval_.count());
        }
        center->SendEvent(center->PopEvent());
        center->wake_.lock();
        bool stopping;
        {
            autolocker<mutex_locker> hold(center->lock_);
            stopping = center->stop_ != 0;
        }
        if (!stopping)
            center->wake_.wait_for(pause);
        center->wake_.un_lock();
    }
    center->Clear();
    return nullptr;
}
