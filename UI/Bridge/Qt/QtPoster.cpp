#include "QtPoster.h"

#include <QCoreApplication>

namespace velmora::bridge {

namespace {

QEvent::Type TaskEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

}  // namespace

QtPoster::QtPoster() = default;

void QtPoster::Post(std::function<void()> task) {
    QEvent* event = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_tasks.push_back(std::move(task));
        event = new QEvent(TaskEventType());
    }
    QCoreApplication::postEvent(&m_receiver, event);
}

bool QtPoster::Receiver::event(QEvent* e) {
    std::function<void()> task;
    {
        std::unique_lock<std::mutex> hold(poster_.m_lock);
        if (e->type() != TaskEventType()) {
            hold.unlock();
            return QObject::event(e);
        }
        // One task per event, in the order they were handed in.
        if (!poster_.m_tasks.empty()) {
            task = std::move(poster_.m_tasks.front());
            poster_.m_tasks.pop_front();
        }
    }
    if (task)
        task();
    return true;
}

}  // namespace velmora::bridge
