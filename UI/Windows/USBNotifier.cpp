#include "Windows/USBNotifier.h"

#include <QDebug>
#include <QVariantList>
#include <QVariantMap>

#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"

namespace velmora::windows {

USBNotifier::USBNotifier(QObject* parent) : QObject(parent) {}

USBNotifier::~USBNotifier() {
    Stop();
}

bool USBNotifier::Start() {
    return watcher_.Start([this](const platform::BlockDeviceEvent& event) { HandleEvent(event); });
}

void USBNotifier::Stop() {
    watcher_.Stop();
}

QString USBNotifier::DevicePath(const std::string& name) {
    return QStringLiteral("/dev/") + QString::fromStdString(name);
}

QString USBNotifier::DetachName(const QString& name) {
    if (name == QLatin1String("OHCI Root Hub Simulation"))
        return ui::texts::Text(QStringLiteral("USB Bus"));
    if (name == QLatin1String("EHCI Root Hub Simulation"))
        return ui::texts::Text(QStringLiteral("USB 2.0 Bus"));
    return name;
}

void USBNotifier::HandleEvent(const platform::BlockDeviceEvent& event) {
    std::lock_guard lock(mutex_);
    pending_.push_back(event);
    if (flushQueued_)
        return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(
        this, [this] { Flush(); }, Qt::QueuedConnection);
}

void USBNotifier::Flush() {
    std::vector<platform::BlockDeviceEvent> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(pending_);
        flushQueued_ = false;
    }
    QVariantList arrived;
    QStringList removed;
    for (const platform::BlockDeviceEvent& event : events) {
        if (event.kind == platform::BlockDeviceEvent::Kind::Appeared) {
            QVariantMap medium;
            medium.insert(QStringLiteral("VolumePath"), DevicePath(event.name));
            medium.insert(QStringLiteral("VolumeSize"), static_cast<qint64>(event.sizeBytes));
            medium.insert(QStringLiteral("isDisk"), event.devtype == "disk");
            arrived << medium;
        } else {
            removed << DetachName(QString::fromStdString(event.name));
        }
    }
    auto& center = ui::NotificationCenter::defaultCenter();
    if (!arrived.isEmpty())
        center.post(QStringLiteral("RefreshAttachDevice"), arrived);
    for (const QString& name : removed) {
        qInfo().noquote() << "usb detatch name =" << name;
        center.post(QStringLiteral("RefreshDetachDevice"),
                    QVariantMap{{QStringLiteral("USBPath"), name}});
    }
}

}  // namespace velmora::windows
