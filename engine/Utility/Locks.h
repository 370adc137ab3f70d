// Thin, non-copyable wrappers over POSIX locks, shared by the whole engine.
#pragma once

#include <pthread.h>

class none_copyable {
public:
    none_copyable() = default;
    none_copyable(const none_copyable&) = delete;
    none_copyable& operator=(const none_copyable&) = delete;
    virtual ~none_copyable() = default;
};

// A plain, non-recursive mutex.
class mutex_locker : public none_copyable {
public:
    mutex_locker();
    ~mutex_locker() override;
    void lock();
    void un_lock();
    pthread_mutex_t* native() { return &mutex_; }

private:
    pthread_mutex_t mutex_;
};

template <typename Lock>
class autolocker : public none_copyable {
public:
    explicit autolocker(Lock& l) : lock_(l) { lock_.lock(); }
    ~autolocker() override { lock_.un_lock(); }

private:
    Lock& lock_;
};

// A condition variable with its own mutex.
class cond_locker : public none_copyable {
public:
    cond_locker();
    ~cond_locker() override;
    void lock();
    void un_lock();
    // Waits on the condition; the mutex must be held.
    void wait();
    // Waits at most `ms` milliseconds; returns false on time-out.
    bool wait_for(long ms);
    void signal();
    void broadcast();

private:
    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
};

// A recursive critical section that records its owner thread.
class SimpleCs {
public:
    SimpleCs();
    ~SimpleCs();
    SimpleCs(const SimpleCs&) = delete;
    SimpleCs& operator=(const SimpleCs&) = delete;
    int EnterCS(const char* tag = nullptr);
    int LeaveCS();
    // True when the calling thread holds the section.
    bool HeldByCurrentThread() const;

private:
    pthread_mutex_t mutex_;
    pthread_t owner_{};
    bool owned_ = false;
    int depth_ = 0;
};

class SimpleLock {
public:
    SimpleLock(SimpleCs* cs, const char* tag = nullptr);
    ~SimpleLock();
    SimpleLock(const SimpleLock&) = delete;
    SimpleLock& operator=(const SimpleLock&) = delete;

private:
    SimpleCs* cs_;
};

class RWLock {
public:
    RWLock();
    ~RWLock();
    RWLock(const RWLock&) = delete;
    RWLock& operator=(const RWLock&) = delete;
    int EnterRead(const char* tag = nullptr);
    int LeaveRead();
    int EnterWrite(const char* tag = nullptr);
    int LeaveWrite();

private:
    pthread_rwlock_t lock_;
};

class ReadLock {
public:
    ReadLock(RWLock* l, const char* tag = nullptr);
    ~ReadLock();
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    RWLock* lock_;
};

class WriteLock {
public:
    WriteLock(RWLock* l, const char* tag = nullptr);
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    RWLock* lock_;
};

// A one-shot wake-up: EnterWait blocks until WakeUp. A wake-up that comes
// before the wait is remembered, so it cannot be lost to a race.
class WaitEvent {
public:
    WaitEvent();
    ~WaitEvent();
    WaitEvent(const WaitEvent&) = delete;
    WaitEvent& operator=(const WaitEvent&) = delete;
    int EnterWait(int unused = 0);
    int WakeUp();

private:
    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
    bool signalled_ = false;
};
