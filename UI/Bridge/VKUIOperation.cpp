#include "VKUIOperation.h"

#include <cstdio>
#include <thread>

VKUIOperation::VKUIOperation() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_lock, &attr);
    pthread_mutexattr_destroy(&attr);
}

VKUIOperation::~VKUIOperation() {
    pthread_mutex_destroy(&m_lock);
}

int VKUIOperation::GetStatus() {
    VKOperationLock hold(m_lock);
    return m_status;
}

void VKUIOperation::SetStatus(int status) {
    VKOperationLock hold(m_lock);
    m_status = status;
}

int VKUIOperation::IsNeedUIUpdate() {
    VKOperationLock hold(m_lock);
    return m_needUIUpdate;
}

void VKUIOperation::SetNeedUIUpdate(int need) {
    VKOperationLock hold(m_lock);
    m_needUIUpdate = need;
}

int VKUIOperation::shouldBuild() {
    VKOperationLock hold(m_lock);
    return m_shouldBuildTree;
}

void VKUIOperation::SetShouldBuildTree(int build) {
    VKOperationLock hold(m_lock);
    m_shouldBuildTree = build;
}

_PROGRESS_INFO VKUIOperation::GetProgressInfo() {
    VKOperationLock hold(m_lock);
    return m_progress;
}

void VKUIOperation::SetProgressInfo(const _PROGRESS_INFO& info) {
    VKOperationLock hold(m_lock);
    m_progress = info;
}

int VKUIOperation::IsOperationExit() {
    VKOperationLock hold(m_lock);
    return m_status == VK_OP_IDLE || m_status == VK_OP_EXITED ? 1 : 0;
}

void VKUIOperation::PauseOrResumeOperation() {
    VKOperationLock hold(m_lock);
    if (m_status == VK_OP_PAUSED)
        m_status = VK_OP_RUNNING;
    else if (m_status == VK_OP_RUNNING)
        m_status = VK_OP_PAUSED;
}

void VKUIOperation::StopOperation(int noBuild) {
    VKOperationLock hold(m_lock);
    if (m_status != VK_OP_IDLE) {
        m_status = VK_OP_STOP_ASKED;
        m_shouldBuildTree = noBuild == 0 ? 1 : 0;
    }
    m_needUIUpdate = 1;
}

long VKUIOperation::GetScanElapseTime() {
    // Unlocked, as the windows' clock asks it often: the two stamps are
    // whole words written by the scan alone.
    return static_cast<long>(__atomic_load_n(&m_endTime, __ATOMIC_RELAXED) -
                             __atomic_load_n(&m_startTime, __ATOMIC_RELAXED));
}

void VKUIOperation::SetScanTimes(time_t start, time_t end) {
    VKOperationLock hold(m_lock);
    __atomic_store_n(&m_startTime, start, __ATOMIC_RELAXED);
    __atomic_store_n(&m_endTime, end, __ATOMIC_RELAXED);
}

void VKUIOperation::SetScanEndTime(time_t end) {
    __atomic_store_n(&m_endTime, end, __ATOMIC_RELAXED);
}

int VKUIOperation::Continued() {
    // The lock is not held while sleeping: a pause holds up only the
    // engine's thread, never the windows that read the status.
    while (GetStatus() == VK_OP_PAUSED)
        std::this_thread::sleep_for(kPausePoll);
    const int status = GetStatus();
    return status == VK_OP_IDLE || status == VK_OP_STOP_ASKED || status == VK_OP_EXITED ? 0 : 1;
}

int VKUIOperation::IsOpTreeFinished() {
    return 1;
}

void VKUIOperation::SetOpTreeFinished(int) {}

VKSaveAndRestoreNodeOperate& VKSaveAndRestoreNodeOperate::instance() {
    static VKSaveAndRestoreNodeOperate one;
    return one;
}

void VKSaveAndRestoreNodeOperate::UpdateProgress(_PROGRESS_INFO* info) {
    if (info == nullptr)
        return;
    SetProgressInfo(*info);
    if (info->state == PROGRESS_FINISHED) {
        SetStatus(VK_OP_IDLE);
        std::printf("=====Scan Progress finished!=====\n");
    }
    SetNeedUIUpdate(1);
}

int VKSaveAndRestoreNodeOperate::Continued() {
    return 1;
}
