#include "Browser/BrowserTimers.h"

#include <QTimer>

#include <limits>

namespace velmora::browser {

QtBrowserTimers::QtBrowserTimers() = default;

QtBrowserTimers::~QtBrowserTimers() = default;

int QtBrowserTimers::after(int ms, std::function<void()> fn) {
    const int id = ++next_;
    auto* timer = new QTimer(&owner_);
    timer->setSingleShot(true);
    timer->setInterval(ui::ScaledMs(ms));
    QObject::connect(timer, &QTimer::timeout, &owner_, [this, id, fn = std::move(fn)] {
        cancel(id);
        fn();
    });
    timers_[id] = timer;
    timer->start();
    return id;
}

int QtBrowserTimers::every(int ms, std::function<void()> fn) {
    const int id = ++next_;
    timers_[id] = ui::Repeat(&owner_, ms, std::move(fn));
    return id;
}

// The timer may be the one whose tick is running: it goes once the tick
// is over.
void QtBrowserTimers::cancel(int id) {
    const auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    if (auto* timer = qobject_cast<QTimer*>(it->second))
        timer->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

int ManualTimers::after(int ms, std::function<void()> fn) {
    const int id = ++next_;
    timers_[id] = {now_ + ms, 0, std::move(fn)};
    return id;
}

int ManualTimers::every(int ms, std::function<void()> fn) {
    const int id = ++next_;
    timers_[id] = {now_ + ms, ms, std::move(fn)};
    return id;
}

void ManualTimers::cancel(int id) {
    timers_.erase(id);
}

void ManualTimers::advanceMs(qint64 ms) {
    const qint64 end = now_ + ms;
    for (;;) {
        int id = 0;
        qint64 due = std::numeric_limits<qint64>::max();
        for (const auto& [key, timer] : timers_) {
            if (timer.due < due) {
                due = timer.due;
                id = key;
            }
        }
        if (id == 0 || due > end)
            break;
        clock_.AdvanceMs(due - now_);
        now_ = due;
        Timer& timer = timers_[id];
        std::function<void()> fn = timer.fn;
        if (timer.period > 0)
            timer.due += timer.period;
        else
            timers_.erase(id);
        fn();
    }
    clock_.AdvanceMs(end - now_);
    now_ = end;
}

}  // namespace velmora::browser
