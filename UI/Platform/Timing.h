// Time for the windows: fades, delays and repeating timers with one duration
// scale (tests set 0, so a 0.3 s fade or delay completes on the next turn of
// the event loop), and an injectable clock for rules about elapsed time.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace velmora::ui {

// Multiplies every fade and timer duration; 1 normally, 0 in tests.
void SetDurationScale(double scale);
double DurationScale();
int ScaledMs(int ms);

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};

// Test double: stands still until moved.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start) : now_(std::move(start)) {}
    QDateTime Now() const override { return now_; }
    void Set(const QDateTime& time) { now_ = time; }
    void AdvanceMs(qint64 ms) { now_ = now_.addMSecs(ms); }

private:
    QDateTime now_;
};

// The clock windows ask; the system's unless a test set another.
const Clock& CurrentClock();
void SetClock(const Clock* clock);

// Runs `fn` once after `ms` (scaled), unless `context` is gone by then.
void PerformAfter(QObject* context, int ms, std::function<void()> fn);
// Runs `fn` every `ms` (scaled, at least 1 ms) until the returned timer,
// a child of `parent`, is stopped or deleted.
QTimer* Repeat(QObject* parent, int ms, std::function<void()> fn);

// Fades the window's opacity from where it is to `to` over `ms` (scaled);
// `done` runs once at the end, after this call returned, unless the window
// is gone. A new fade of the same window replaces the running one, whose
// `done` then never runs.
void Fade(QWidget* window, double to, int ms, std::function<void()> done = {});
// Shows an invisible window at opacity 0 and fades it in.
void FadeIn(QWidget* window, int ms = 300, std::function<void()> done = {});

}  // namespace velmora::ui
