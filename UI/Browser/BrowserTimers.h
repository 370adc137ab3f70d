// The browser's delayed and repeating actions. The program's run on Qt's
// timers; tests use ManualTimers, which fire only when the test moves time
// on, together with a fake clock, so rules about 1.5, 8 and 30 seconds are
// checked without waiting.
#pragma once

#include <QObject>

#include <functional>
#include <map>

#include "UIPlatform/Timing.h"

namespace velmora::browser {

class BrowserTimers {
public:
    virtual ~BrowserTimers() = default;
    // 0 is never an id.
    virtual int after(int ms, std::function<void()> fn) = 0;
    virtual int every(int ms, std::function<void()> fn) = 0;
    // Nothing for 0 or an id that already ended.
    virtual void cancel(int id) = 0;
};

class QtBrowserTimers : public BrowserTimers {
public:
    QtBrowserTimers();
    ~QtBrowserTimers() override;
    int after(int ms, std::function<void()> fn) override;
    int every(int ms, std::function<void()> fn) override;
    void cancel(int id) override;

private:
    QObject owner_;
    std::map<int, QObject*> timers_;
    int next_ = 0;
};

// Time moves only through advanceMs, which also moves the clock it holds.
class ManualTimers : public BrowserTimers {
public:
    explicit ManualTimers(ui::ManualClock& clock) : clock_(clock) {}
    int after(int ms, std::function<void()> fn) override;
    int every(int ms, std::function<void()> fn) override;
    void cancel(int id) override;
    // Fires what falls due, in time order, a step at a time.
    void advanceMs(qint64 ms);
    bool active(int id) const { return timers_.count(id) != 0; }

private:
    struct Timer {
        qint64 due;
        int period;  // 0: once
        std::function<void()> fn;
    };
    ui::ManualClock& clock_;
    qint64 now_ = 0;
    std::map<int, Timer> timers_;
    int next_ = 0;
};

}  // namespace velmora::browser
