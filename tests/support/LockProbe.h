// Whether a lock is held, asked from another thread: a mutex the caller
// holds itself cannot be probed with try_lock on the caller's thread.
#pragma once

#include <future>
#include <mutex>

namespace velmora::test {

// Whether a thread other than the caller finds `lock` taken.
inline bool HeldElsewhere(std::mutex& lock) {
    return std::async(std::launch::async,
                      [&lock] {
                          if (!lock.try_lock())
                              return true;
                          lock.unlock();
                          return false;
                      })
        .get();
}

}  // namespace velmora::test
