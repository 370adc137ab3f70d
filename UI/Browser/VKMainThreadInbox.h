// Results handed from worker threads to the main thread. They travel under
// our own lock, not inside Qt's queued calls (whose locks ThreadSanitizer
// cannot see), and one queued call takes every result that arrived.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

namespace velmora::browser {

template <typename T>
class VKMainThreadInbox {
public:
    // Any thread. True for the first result since the last take: the caller
    // then queues the call that takes them.
    bool put(T value) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(value));
        return !std::exchange(pending_, true);
    }
    std::vector<T> take() {
        std::lock_guard lock(mutex_);
        pending_ = false;
        return std::exchange(items_, {});
    }

private:
    std::mutex mutex_;
    std::vector<T> items_;
    bool pending_ = false;
};

}  // namespace velmora::browser
