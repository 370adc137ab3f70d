#include "CNGridViewNotifications.h"

CNGridViewNotificationCenter* CNGridViewNotificationCenter::defaultCenter() {
    static CNGridViewNotificationCenter center;
    return &center;
}

void CNGridViewNotificationCenter::post(const QString& name, QObject* object,
                                        const QVariantMap& userInfo) {
    emit posted(name, object, userInfo);
}
