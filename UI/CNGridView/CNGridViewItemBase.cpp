#include "CNGridViewItemBase.h"

#include <QGraphicsOpacityEffect>

#include "CNGridViewNotifications.h"

CNGridViewItemBase::CNGridViewItemBase(QWidget* parent)
    : QWidget(parent), reuseIdentifier_(QLatin1String(kCNDefaultItemIdentifier)) {
    resize(defaultItemSize());
    connect(CNGridViewNotificationCenter::defaultCenter(), &CNGridViewNotificationCenter::posted,
            this, [this](const QString& name, QObject*, const QVariantMap&) {
                if (name == QLatin1String(CNGridViewSelectAllItemsNotification)) {
                    setSelected(true);
                } else if (name == QLatin1String(CNGridViewDeSelectAllItemsNotification)) {
                    setSelected(false);
                }
            });
}

void CNGridViewItemBase::setAlphaValue(double alpha) {
    alpha_ = alpha;
    // An opacity effect renders the item through an offscreen buffer: keep
    // it only while the item is see-through, so scrolling paints directly.
    if (alpha >= 1.0) {
        if (graphicsEffect() != nullptr) {
            setGraphicsEffect(nullptr);
        }
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (effect == nullptr) {
        effect = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha);
}

void CNGridViewItemBase::prepareForReuse() {
    index_ = CNNotFound;
    selected_ = false;
    selectable_ = true;
    hovered_ = false;
}
