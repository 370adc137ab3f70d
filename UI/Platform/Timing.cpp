#include "UIPlatform/Timing.h"

#include <QPointer>
#include <QPropertyAnimation>

#include <atomic>
#include <cmath>

namespace velmora::ui {

namespace {

std::atomic<double> g_scale{1.0};
const Clock* g_clock = nullptr;
const QString kFadeName = QStringLiteral("velmoraFade");

}  // namespace

void SetDurationScale(double scale) {
    g_scale = scale < 0 ? 0 : scale;
}

double DurationScale() {
    return g_scale;
}

int ScaledMs(int ms) {
    if (ms <= 0)
        return 0;
    return static_cast<int>(std::lround(ms * g_scale.load()));
}

const Clock& CurrentClock() {
    static SystemClock system;
    return g_clock ? *g_clock : system;
}

void SetClock(const Clock* clock) {
    g_clock = clock;
}

void PerformAfter(QObject* context, int ms, std::function<void()> fn) {
    if (!context || !fn)
        return;
    QTimer::singleShot(ScaledMs(ms), context, std::move(fn));
}

QTimer* Repeat(QObject* parent, int ms, std::function<void()> fn) {
    auto* timer = new QTimer(parent);
    timer->setInterval(std::max(1, ScaledMs(ms)));
    QObject::connect(timer, &QTimer::timeout, timer, std::move(fn));
    timer->start();
    return timer;
}

void Fade(QWidget* window, double to, int ms, std::function<void()> done) {
    if (!window)
        return;
    // The running fade of this window, if any, gives way: renamed, so its
    // end never runs its handler, and deleted once it is off the stack.
    if (auto* running = window->findChild<QObject*>(kFadeName, Qt::FindDirectChildrenOnly)) {
        running->setObjectName(QString());
        if (auto* animation = qobject_cast<QPropertyAnimation*>(running))
            animation->stop();
        running->deleteLater();
    }
    auto finish = [done = std::move(done)](QObject* fade) {
        if (fade->objectName() != kFadeName)
            return;
        fade->setObjectName(QString());
        fade->deleteLater();
        if (done)
            done();
    };
    const int duration = ScaledMs(ms);
    if (duration == 0) {
        window->setWindowOpacity(to);
        auto* marker = new QObject(window);
        marker->setObjectName(kFadeName);
        QTimer::singleShot(0, marker, [marker, finish] { finish(marker); });
        return;
    }
    auto* animation = new QPropertyAnimation(window, "windowOpacity", window);
    animation->setObjectName(kFadeName);
    animation->setDuration(duration);
    animation->setStartValue(window->windowOpacity());
    animation->setEndValue(to);
    QObject::connect(animation, &QPropertyAnimation::finished, animation,
                     [animation, finish] { finish(animation); });
    animation->start();
}

void FadeIn(QWidget* window, int ms, std::function<void()> done) {
    if (!window)
        return;
    if (!window->isVisible()) {
        window->setWindowOpacity(0.0);
        window->show();
    }
    Fade(window, 1.0, ms, std::move(done));
}

}  // namespace velmora::ui
