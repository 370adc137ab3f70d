// The base of the bridge's operations (scan, recovery, saving results): the
// engine's progress sink, and the status the windows start, pause and stop
// it by. The engine asks Continued() between units of work on its own
// thread; the windows and pollers read the status and the kept progress
// from theirs.
#pragma once

#include <pthread.h>

#include <chrono>
#include <ctime>

#include "SearchInterfaces.h"

// Status of an operation. 4 is treated as idle; nothing sets it today.
enum VKOperationStatus : int {
    VK_OP_IDLE = 0,
    VK_OP_STOP_ASKED = 1,
    VK_OP_RUNNING = 2,
    VK_OP_PAUSED = 3,
    VK_OP_EXITED = 4,
};

class VKUIOperation : public IProgress {
public:
    VKUIOperation();
    ~VKUIOperation() override;
    VKUIOperation(const VKUIOperation&) = delete;
    VKUIOperation& operator=(const VKUIOperation&) = delete;

    // How long Continued() sleeps between two looks at a paused status.
    static constexpr std::chrono::microseconds kPausePoll{80000};

    int GetStatus();
    void SetStatus(int status);
    int IsNeedUIUpdate();
    void SetNeedUIUpdate(int need);
    int shouldBuild() override;
    void SetShouldBuildTree(int build);
    _PROGRESS_INFO GetProgressInfo();
    void SetProgressInfo(const _PROGRESS_INFO& info);
    // 1 for idle (0) and exited (4).
    int IsOperationExit();
    // Running becomes paused and paused running; other statuses stay.
    void PauseOrResumeOperation();
    // Asks a working operation to stop at the engine's next question; with
    // `noBuild` 0 a deep scan still builds trees of what it found. An idle
    // operation stays idle. Either way the pollers are told to look.
    void StopOperation(int noBuild);
    // Seconds between the scan's start and its last progress; 0 for other
    // operations.
    long GetScanElapseTime();
    // Blocks while paused; 1 to go on, 0 when stopped or idle.
    int Continued() override;
    virtual int IsOpTreeFinished();
    virtual void SetOpTreeFinished(int finished);

protected:
    // For the scan's start and end stamps.
    void SetScanTimes(time_t start, time_t end);
    void SetScanEndTime(time_t end);

    // Recursive: an operation takes it again inside its own locked work.
    pthread_mutex_t m_lock;

private:
    time_t m_startTime = 0;
    time_t m_endTime = 0;
    int m_status = VK_OP_IDLE;
    int m_shouldBuildTree = 1;
    int m_needUIUpdate = 0;
    _PROGRESS_INFO m_progress{};
};

// Holds the operation's lock for its lifetime.
class VKOperationLock {
public:
    explicit VKOperationLock(pthread_mutex_t& lock) : lock_(lock) { pthread_mutex_lock(&lock_); }
    ~VKOperationLock() { pthread_mutex_unlock(&lock_); }
    VKOperationLock(const VKOperationLock&) = delete;
    VKOperationLock& operator=(const VKOperationLock&) = delete;

private:
    pthread_mutex_t& lock_;
};

// The progress sink of writing a scan's result to a file: the facade polls
// it like any other operation, but the writer is never held up by it.
class VKSaveAndRestoreNodeOperate : public VKUIOperation {
public:
    static VKSaveAndRestoreNodeOperate& instance();

    void UpdateProgress(_PROGRESS_INFO* info) override;
    // Always 1: a save is not paused or stopped half-way.
    int Continued() override;
};
