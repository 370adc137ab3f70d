#include "HxTitlebarContainer.h"

#include <QMouseEvent>

void HxTitlebarContainer::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
