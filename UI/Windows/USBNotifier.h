// Turns block devices and media coming and going into the application's
// notifications: "RefreshAttachDevice" with one dictionary per arrived
// medium ("VolumePath", "VolumeSize", "isDisk"), "RefreshDetachDevice" with
// {"USBPath": kernel name} per removed one. Events come from udev on the
// watcher's thread; those of one turn of the main loop are posted together
// on the main thread. Media present at start are not announced.
#pragma once

#include <QObject>
#include <mutex>
#include <vector>

#include "platform/desktop/BlockDeviceWatcher.h"

namespace velmora::windows {

class USBNotifier : public QObject {
    Q_OBJECT
public:
    explicit USBNotifier(QObject* parent = nullptr);
    ~USBNotifier() override;

    // False when udev's events cannot be read (the windows then only see
    // what they list themselves).
    bool Start();
    void Stop();
    bool Running() const { return watcher_.Running(); }

    // One event, from any thread; posted at the next turn of the main loop.
    void HandleEvent(const platform::BlockDeviceEvent& event);
    // Posts what arrived since the last time (main thread).
    void Flush();

    // The device node of a kernel name: "/dev/" and the name (there are no
    // raw nodes here).
    static QString DevicePath(const std::string& name);
    // The name a removal is announced with.
    static QString DetachName(const QString& name);

private:
    platform::BlockDeviceWatcher watcher_;
    std::mutex mutex_;
    std::vector<platform::BlockDeviceEvent> pending_;
    bool flushQueued_ = false;
};

}  // namespace velmora::windows
