// How work started on other threads reaches the main thread, where the
// windows live. The bridge posts names of notifications; a poster carries
// each one over to the main thread without waiting, and the notification
// centre there hands it to the observers registered for that name.
//
// The program installs a poster over its event loop (Qt/QtPoster.h); tests
// install a ManualPoster and run its queue themselves, as their main loop.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace velmora::bridge {

class IMainThreadPoster {
public:
    virtual ~IMainThreadPoster() = default;
    // Queues the task to run on the main thread; returns at once, from any
    // thread.
    virtual void Post(std::function<void()> task) = 0;
};

// A poster whose queue the owner drains: the test's main loop.
class ManualPoster final : public IMainThreadPoster {
public:
    void Post(std::function<void()> task) override;
    // Runs the queued tasks, and those they queue, on the calling thread;
    // the number run.
    int RunPending();
    size_t PendingCount() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

// The process's poster. Until one is installed, posts are kept by a
// ManualPoster nobody drains (a headless run shows nothing).
void InstallPoster(std::shared_ptr<IMainThreadPoster> poster);
std::shared_ptr<IMainThreadPoster> CurrentPoster();

// One notification as observers see it.
struct Notification {
    std::string name;
    // Who posted it: VKUIPublic::NotificationObject() for the bridge's own
    // notifications, null for "BadSectorNotify".
    const void* object = nullptr;
};

// The main thread's notification centre: observers by name, called in the
// order they were added. Used from the main thread only.
class NotificationCentre {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = std::uint64_t;

    static NotificationCentre& Default();

    Token AddObserver(const std::string& name, Observer observer);
    void RemoveObserver(Token token);
    // Calls every observer of the name, on the calling thread.
    void Post(const Notification& notification);

private:
    struct Entry {
        std::string name;
        Observer observer;
    };
    std::map<Token, Entry> observers_;
    Token next_ = 1;
};

}  // namespace velmora::bridge
