// The program's main-thread poster: tasks travel through Qt's event queue
// of the thread that made the poster (the GUI thread), one event per task.
#pragma once

#include <QEvent>
#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

#include "MainThread.h"

namespace velmora::bridge {

class QtPoster final : public IMainThreadPoster {
public:
    // Make it on the thread whose event loop is to run the tasks.
    QtPoster();
    void Post(std::function<void()> task) override;

private:
    // Lives on the making thread; the events posted to it run there.
    class Receiver final : public QObject {
    public:
        explicit Receiver(QtPoster& poster) : poster_(poster) {}
        bool event(QEvent* e) override;

    private:
        QtPoster& poster_;
    };

    // The tasks wait here, under a lock of our own, rather than inside
    // Qt's queued calls: the hand-over between threads is then one that
    // ThreadSanitizer sees (Qt's own locks are invisible to it), and each
    // event only says that a task waits. Each event is made under the lock
    // too, and read only under it.
    std::mutex m_lock;
    std::deque<std::function<void()>> m_tasks;
    // Last: it goes first, with the events still queued for it.
    Receiver m_receiver{*this};
};

}  // namespace velmora::bridge
