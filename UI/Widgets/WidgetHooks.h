// What the widgets need from the rest of the interface, injected: posting a
// notification by name (the application wires it to its notification
// centre) and a clock (tests drive a fake one).
#pragma once

#include <QString>
#include <functional>

namespace velmora::ui {

using NotificationPoster = std::function<void(const QString& name)>;
using SecondsClock = std::function<double()>;

// Posts through the installed poster; nothing happens while none is set.
void PostWidgetNotification(const QString& name);
// Installs the poster; returns the previous one.
NotificationPoster SetWidgetNotificationPoster(NotificationPoster poster);

// Seconds on a monotonic clock (a steady clock unless replaced).
double WidgetClockSeconds();
// Replaces the clock (an empty function restores the steady clock);
// returns the previous one.
SecondsClock SetWidgetClock(SecondsClock clock);

}  // namespace velmora::ui
