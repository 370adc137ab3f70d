#include "StartThread.h"

#include <list>
#include <mutex>
#include <utility>

#include "SaveRestore.h"
#include "VKUIController.h"

namespace velmora::bridge {

namespace {

void* RunWork(void* arg) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(arg));
    (*work)();
    return nullptr;
}

}  // namespace

BridgeThread::~BridgeThread() {
    Join();
}

BridgeThread::BridgeThread(BridgeThread&& other) noexcept
    : thread_(other.thread_), started_(std::exchange(other.started_, false)) {}

BridgeThread& BridgeThread::operator=(BridgeThread&& other) noexcept {
    if (this != &other) {
        Join();
        thread_ = other.thread_;
        started_ = std::exchange(other.started_, false);
    }
    return *this;
}

void BridgeThread::Join() {
    if (!started_)
        return;
    pthread_join(thread_, nullptr);
    started_ = false;
}

BridgeThread StartThread(std::function<void()> work, size_t stackBytes) {
    BridgeThread thread;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return thread;
    pthread_attr_setstacksize(&attr, stackBytes);
    auto* arg = new std::function<void()>(std::move(work));
    if (pthread_create(&thread.thread_, &attr, &RunWork, arg) == 0)
        thread.started_ = true;
    else
        delete arg;
    pthread_attr_destroy(&attr);
    return thread;
}

namespace {

std::mutex g_backgroundMutex;

std::list<BridgeThread>& Background() {
    static std::list<BridgeThread> threads;
    return threads;
}

}  // namespace

void StartBackgroundThread(std::function<void()> work) {
    BridgeThread thread = StartThread(std::move(work));
    if (!thread.Joinable())
        return;
    std::lock_guard<std::mutex> hold(g_backgroundMutex);
    Background().push_back(std::move(thread));
}

void JoinBackgroundThreads() {
    std::list<BridgeThread> threads;
    {
        std::lock_guard<std::mutex> hold(g_backgroundMutex);
        threads.swap(Background());
    }
    for (BridgeThread& thread : threads)
        thread.Join();
    // Saves and loads of results run on threads of their own.
    SaveRestoreResult::JoinResultFileThreads();
}

void StopAndJoinOperations() {
    VKUIController::StopScan(1);
    VKUIController::WaitForScanThread();
    VKUIController::StopRecvoery();
    JoinBackgroundThreads();
}

}  // namespace velmora::bridge
