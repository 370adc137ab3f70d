// Threads of the bridge's operations. A scan or a recovery runs deep
// recursive engine code, so its thread gets a 2 MiB stack whatever the
// process default is; std::thread cannot ask for one. Every thread is
// joined, never left running past the object that owns it.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <memory>

namespace velmora::bridge {

constexpr size_t kOperationStackBytes = 2u << 20;

class BridgeThread {
public:
    BridgeThread() = default;
    // Joins.
    ~BridgeThread();
    BridgeThread(BridgeThread&& other) noexcept;
    BridgeThread& operator=(BridgeThread&& other) noexcept;
    BridgeThread(const BridgeThread&) = delete;
    BridgeThread& operator=(const BridgeThread&) = delete;

    bool Joinable() const { return started_; }
    // Waits for the thread's end; nothing when there is no thread.
    void Join();

private:
    friend BridgeThread StartThread(std::function<void()> work, size_t stackBytes);
    pthread_t thread_{};
    bool started_ = false;
};

// Runs `work` on a new thread with a stack of `stackBytes`; an empty object
// when the thread could not be made (then `work` did not run).
BridgeThread StartThread(std::function<void()> work, size_t stackBytes = kOperationStackBytes);

// Threads that nobody waits for while they run (the helper threads that
// post when they are done): kept here so that shutdown can wait for them.
void StartBackgroundThread(std::function<void()> work);
// Joins every background thread started so far; called at shutdown.
void JoinBackgroundThreads();

// The program's end: stops a scan and a recovery, then waits for every
// operation's thread, a save or a load of a result file included (a save
// runs to its end, so the file it replaces is either the old one or the new
// one whole).
void StopAndJoinOperations();

}  // namespace velmora::bridge
