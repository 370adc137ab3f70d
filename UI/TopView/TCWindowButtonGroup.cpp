#include "TCWindowButtonGroup.h"

#include <QHash>

const QString& TCWindowButtonGroup::kTCWindowButtonGroupDefault() {
    static const QString id =
        QStringLiteral("org.tamsweld.velmora.TCImageWindow.defaultWindowButtonGroup");
    return id;
}

TCWindowButtonGroup::TCWindowButtonGroup(const QString& identifier) : identifier_(identifier) {}

TCWindowButtonGroup* TCWindowButtonGroup::groupWithIdentifier(const QString& identifier) {
    // Groups live as long as the process: buttons of closed windows may
    // still hold a pointer to theirs. The registry is never destroyed, so
    // the groups stay reachable until the very end.
    static auto* registry = new QHash<QString, TCWindowButtonGroup*>;
    const QString key = identifier.isEmpty() ? kTCWindowButtonGroupDefault() : identifier;
    TCWindowButtonGroup*& group = (*registry)[key];
    if (!group) {
        group = new TCWindowButtonGroup(key);
    }
    return group;
}

void TCWindowButtonGroup::setNumberOfCaptures(qint64 count) {
    if (count < 0 || count == numberOfCaptures_) {
        return;
    }
    numberOfCaptures_ = count;
    emit rolloverStateDidUpdate(this);
}
