#include "VKHandButton.h"

#include <QEnterEvent>

void VKHandButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    setCursor(Qt::PointingHandCursor);
}

void VKHandButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    setCursor(Qt::ArrowCursor);
}
