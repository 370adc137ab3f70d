#include "Utility/Locks.h"

#include <cerrno>
#include <ctime>

mutex_locker::mutex_locker() {
    pthread_mutex_init(&mutex_, nullptr);
}
mutex_locker::~mutex_locker() {
    pthread_mutex_destroy(&mutex_);
}
void mutex_locker::lock() {
    pthread_mutex_lock(&mutex_);
}
void mutex_locker::un_lock() {
    pthread_mutex_unlock(&mutex_);
}

cond_locker::cond_locker() {
    pthread_mutex_init(&mutex_, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond_, &attr);
    pthread_condattr_destroy(&attr);
}
cond_locker::~cond_locker() {
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&mutex_);
}
void cond_locker::lock() {
    pthread_mutex_lock(&mutex_);
}
void cond_locker::un_lock() {
    pthread_mutex_unlock(&mutex_);
}
void cond_locker::wait() {
    pthread_cond_wait(&cond_, &mutex_);
}
bool cond_locker::wait_for(long ms) {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000;
    ts.tv_nsec += (ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return pthread_cond_timedwait(&cond_, &mutex_, &ts) != ETIMEDOUT;
}
void cond_locker::signal() {
    pthread_cond_signal(&cond_);
}
void cond_locker::broadcast() {
    pthread_cond_broadcast(&cond_);
}

SimpleCs::SimpleCs() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex_, &attr);
    pthread_mutexattr_destroy(&attr);
}
SimpleCs::~SimpleCs() {
    pthread_mutex_destroy(&mutex_);
}
int SimpleCs::EnterCS(const char*) {
    pthread_mutex_lock(&mutex_);
    owner_ = pthread_self();
    owned_ = true;
    ++depth_;
    return 0;
}
int SimpleCs::LeaveCS() {
    // The owner is cleared only when the outermost hold ends, so a nested
    // holder does not look free to HeldByCurrentThread.
    if (--depth_ == 0)
        owned_ = false;
    pthread_mutex_unlock(&mutex_);
    return 0;
}
bool SimpleCs::HeldByCurrentThread() const {
    return owned_ && pthread_equal(owner_, pthread_self());
}

SimpleLock::SimpleLock(SimpleCs* cs, const char* tag) : cs_(cs) {
    if (cs_)
        cs_->EnterCS(tag);
}
SimpleLock::~SimpleLock() {
    if (cs_)
        cs_->LeaveCS();
    cs_ = nullptr;
}

RWLock::RWLock() {
    pthread_rwlock_init(&lock_, nullptr);
}
RWLock::~RWLock() {
    pthread_rwlock_destroy(&lock_);
}
int RWLock::EnterRead(const char*) {
    return pthread_rwlock_rdlock(&lock_);
}
int RWLock::LeaveRead() {
    return pthread_rwlock_unlock(&lock_);
}
int RWLock::EnterWrite(const char*) {
    return pthread_rwlock_wrlock(&lock_);
}
int RWLock::LeaveWrite() {
    return pthread_rwlock_unlock(&lock_);
}

ReadLock::ReadLock(RWLock* l, const char* tag) : lock_(l) {
    if (lock_)
        lock_->EnterRead(tag);
}
ReadLock::~ReadLock() {
    if (lock_)
        lock_->LeaveRead();
}
WriteLock::WriteLock(RWLock* l, const char* tag) : lock_(l) {
    if (lock_)
        lock_->EnterWrite(tag);
}
WriteLock::~WriteLock() {
    if (lock_)
        lock_->LeaveWrite();
}

WaitEvent::WaitEvent() {
    pthread_mutex_init(&mutex_, nullptr);
    pthread_cond_init(&cond_, nullptr);
}
WaitEvent::~WaitEvent() {
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&mutex_);
}
int WaitEvent::EnterWait(int) {
    pthread_mutex_lock(&mutex_);
    while (!signalled_)
        pthread_cond_wait(&cond_, &mutex_);
    signalled_ = false;
    pthread_mutex_unlock(&mutex_);
    return 0;
}
int WaitEvent::WakeUp() {
    pthread_mutex_lock(&mutex_);
    signalled_ = true;
    pthread_cond_signal(&cond_);
    pthread_mutex_unlock(&mutex_);
    return 0;
}
