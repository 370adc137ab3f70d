#include "UpdateSchedule.h"

#include <QTimeZone>

namespace velmora::app {

namespace {

// Where an unreadable stored time counts from.
QDateTime ReferenceDate() {
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
}

}  // namespace

bool IsFirstRun(const QString& stored) {
    return stored.isEmpty() || stored == QLatin1String(" ");
}

bool IsVersionCheckDue(const QString& stored, const QDateTime& now) {
    if (IsFirstRun(stored))
        return true;
    QDateTime last = QDateTime::fromString(stored, QString::fromLatin1(kCheckTimeFormat));
    if (!last.isValid())
        last = ReferenceDate();
    const qint64 days = last.secsTo(now) / 86400;
    return days >= kCheckIntervalDays;
}

QString FormatCheckTime(const QDateTime& time) {
    return time.toString(QString::fromLatin1(kCheckTimeFormat));
}

UpdateTimeouts& NetworkTimeouts() {
    static UpdateTimeouts timeouts;
    return timeouts;
}

qint64 VersionNumber(const QVariant& value) {
    if (!value.isValid())
        return 0;
    bool ok = false;
    const qint64 number = value.typeId() == QMetaType::QString
                              ? value.toString().trimmed().toLongLong(&ok)
                              : value.toLongLong(&ok);
    return ok ? number : 0;
}

}  // namespace velmora::app
