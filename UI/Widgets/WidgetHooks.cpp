#include "WidgetHooks.h"

#include <chrono>
#include <utility>

namespace velmora::ui {

namespace {

NotificationPoster& Poster() {
    static NotificationPoster poster;
    return poster;
}

SecondsClock& Clock() {
    static SecondsClock clock;
    return clock;
}

}  // namespace

void PostWidgetNotification(const QString& name) {
    if (Poster()) {
        Poster()(name);
    }
}

NotificationPoster SetWidgetNotificationPoster(NotificationPoster poster) {
    return std::exchange(Poster(), std::move(poster));
}

double WidgetClockSeconds() {
    if (Clock()) {
        return Clock()();
    }
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

SecondsClock SetWidgetClock(SecondsClock clock) {
    return std::exchange(Clock(), std::move(clock));
}

}  // namespace velmora::ui
