// When the weekly version check is due, and how version numbers are read
// from the settings file and the update description.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace velmora::app {

// The format of "upDataTimeStr", local time.
inline constexpr const char* kCheckTimeFormat = "yyyy-MM-dd HH:mm:ss";
inline constexpr int kCheckIntervalDays = 7;

// Due when nothing is stored (the first run), when the stored time does not
// parse (it then counts from the reference date, so a damaged value never
// stops the checks for good), or when whole days since then reach seven.
bool IsVersionCheckDue(const QString& stored, const QDateTime& now);
bool IsFirstRun(const QString& stored);
QString FormatCheckTime(const QDateTime& time);

// "VersionCheck" as an integer: a number, or a string holding one; 0 when
// missing or not a number.
qint64 VersionNumber(const QVariant& value);

// How long the update check waits for the network probe and for the update
// description. Tests shorten them.
struct UpdateTimeouts {
    int probeMs = 5000;
    int fetchMs = 15000;
};
UpdateTimeouts& NetworkTimeouts();

}  // namespace velmora::app
