#include "MainThread.h"

#include <vector>

namespace velmora::bridge {

void ManualPoster::Post(std::function<void()> task) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.push_back(std::move(task));
}

int ManualPoster::RunPending() {
    int ran = 0;
    while (true) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (queue_.empty())
                return ran;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        // Outside the lock: a task may post again.
        task();
        ++ran;
    }
}

size_t ManualPoster::PendingCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return queue_.size();
}

namespace {

std::mutex g_posterMutex;

std::shared_ptr<IMainThreadPoster>& PosterSlot() {
    static std::shared_ptr<IMainThreadPoster> poster = std::make_shared<ManualPoster>();
    return poster;
}

}  // namespace

void InstallPoster(std::shared_ptr<IMainThreadPoster> poster) {
    std::lock_guard<std::mutex> hold(g_posterMutex);
    PosterSlot() = poster ? std::move(poster) : std::make_shared<ManualPoster>();
}

std::shared_ptr<IMainThreadPoster> CurrentPoster() {
    std::lock_guard<std::mutex> hold(g_posterMutex);
    return PosterSlot();
}

NotificationCentre& NotificationCentre::Default() {
    static NotificationCentre centre;
    return centre;
}

NotificationCentre::Token NotificationCentre::AddObserver(const std::string& name,
                                                          Observer observer) {
    const Token token = next_++;
    observers_.emplace(token, Entry{name, std::move(observer)});
    return token;
}

void NotificationCentre::RemoveObserver(Token token) {
    observers_.erase(token);
}

void NotificationCentre::Post(const Notification& notification) {
    // An observer may add or remove observers while it runs: call a copy.
    std::vector<Observer> toCall;
    for (const auto& [token, entry] : observers_) {
        if (entry.name == notification.name)
            toCall.push_back(entry.observer);
    }
    for (const Observer& observer : toCall)
        observer(notification);
}

}  // namespace velmora::bridge
