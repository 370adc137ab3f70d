#include "QtPoster.h"

#include <QMetaObject>

namespace velmora::bridge {

QtPoster::QtPoster() = default;

void QtPoster::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(&m_receiver, std::move(task), Qt::QueuedConnection);
}

}  // namespace velmora::bridge
