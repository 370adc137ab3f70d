#include "Windows/DeviceListRefresher.h"

#include <QCoreApplication>
#include <QThread>

#include "BridgeSeam/IBridge.h"
#include "UIPlatform/NotificationCenter.h"

namespace velmora::windows {

DeviceListRefresher& DeviceListRefresher::shared() {
    // Made on first use on the main thread and kept to the end: the
    // worker's last post must find it.
    static auto* refresher = new DeviceListRefresher;
    return *refresher;
}

DeviceListRefresher::DeviceListRefresher(QObject* parent) : QObject(parent) {}

DeviceListRefresher::~DeviceListRefresher() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
    if (worker_.joinable())
        worker_.join();
}

void DeviceListRefresher::followDeviceEvents() {
    auto& center = ui::NotificationCenter::defaultCenter();
    for (const char* name : {"RefreshAttachDevice", "RefreshDetachDevice"})
        center.addObserver(this, QString::fromLatin1(name),
                           [this](const ui::Notification&) { request(); });
}

void DeviceListRefresher::request() {
    if (queued_)
        return;
    queued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            queued_ = false;
            begin();
        },
        Qt::QueuedConnection);
}

void DeviceListRefresher::suspend() {
    suspended_ = true;
}

void DeviceListRefresher::resume() {
    suspended_ = false;
    request();
}

void DeviceListRefresher::begin() {
    if (suspended_)
        return;
    if (running_) {
        pending_ = true;
        return;
    }
    running_ = true;
    // The last worker has posted its rows and is returning.
    if (worker_.joinable())
        worker_.join();
    emit started();
    seam::IBridge* bridge = &seam::Bridge();
    worker_ = std::thread([this, bridge] {
        // Stops a scan and waits for it to let go of its device, then
        // lists the devices again: never on the interface thread.
        bridge->RefreshDeviceInfo();
        std::vector<DiskVolumeNodePtr> rows;
        bridge->GetDeviceInfoToArray(&rows);
        QMetaObject::invokeMethod(
            this, [this, rows = std::move(rows)]() mutable { end(std::move(rows)); },
            Qt::QueuedConnection);
    });
}

void DeviceListRefresher::end(std::vector<DiskVolumeNodePtr> rows) {
    running_ = false;
    ++rebuilds_;
    if (pending_ && !suspended_) {
        // Something came or went while this one listed: its rows may miss
        // it, so the next rebuild's are shown.
        pending_ = false;
        begin();
        return;
    }
    pending_ = false;
    emit finished(rows);
}

void DeviceListRefresher::reset() {
    waitIdle();
    suspended_ = false;
    pending_ = false;
}

void DeviceListRefresher::finish() {
    suspended_ = true;
    pending_ = false;
    // Its rows are posted to a loop that has ended: they are never shown.
    if (worker_.joinable())
        worker_.join();
}

void DeviceListRefresher::waitIdle() {
    while (busy()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
}

}  // namespace velmora::windows
