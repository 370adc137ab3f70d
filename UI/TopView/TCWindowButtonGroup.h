// Buttons that stand for one window's close, minimise and zoom share a group
// that counts how many of them hold the pointer, so that all of them show
// their roll-over pictures together.
#pragma once

#include <QObject>
#include <QString>

class TCWindowButtonGroup : public QObject {
    Q_OBJECT

public:
    // The identifier a nil identifier stands for.
    static const QString& kTCWindowButtonGroupDefault();

    // The group of an identifier (empty: the default group), made on first
    // use and kept for the life of the process.
    static TCWindowButtonGroup* groupWithIdentifier(const QString& identifier);

    const QString& identifier() const { return identifier_; }
    qint64 numberOfCaptures() const { return numberOfCaptures_; }
    // Ignores a negative value or the current one; otherwise stores it and
    // tells the group's buttons.
    void setNumberOfCaptures(qint64 count);
    // These three change the count without telling anybody.
    void didCaptureMousePointer() { ++numberOfCaptures_; }
    void didReleaseMousePointer() { --numberOfCaptures_; }
    void resetMouseCaptures() { numberOfCaptures_ = 0; }
    bool shouldDisplayRollOver() const { return numberOfCaptures_ > 0; }

signals:
    void rolloverStateDidUpdate(TCWindowButtonGroup* group);

private:
    explicit TCWindowButtonGroup(const QString& identifier);

    QString identifier_;
    qint64 numberOfCaptures_ = 0;
};
