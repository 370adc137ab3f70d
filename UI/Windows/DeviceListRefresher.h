// Rebuilds the device catalogue off the interface thread when disks come
// and go, and hands the fresh rows to whoever shows them. Requests made
// in one turn of the main loop become one rebuild; requests made while a
// rebuild runs become one more after it, whose rows are the ones shown.
// While a scan owns the devices (the results browser is open) nothing is
// rebuilt: a rebuild stops the scan. Going home resumes it with a rebuild,
// so a disk pulled during the scan is gone and one plugged in is there.
#pragma once

#include <QObject>
#include <thread>
#include <vector>

#include "DiskVolumeNodeData.h"

namespace velmora::windows {

class DeviceListRefresher : public QObject {
    Q_OBJECT
public:
    static DeviceListRefresher& shared();

    explicit DeviceListRefresher(QObject* parent = nullptr);
    ~DeviceListRefresher() override;

    // Asks for a rebuild at the next turn of the main loop (main thread).
    void request();
    // Makes every "RefreshAttachDevice" and "RefreshDetachDevice" a request.
    void followDeviceEvents();
    // A scan owns the devices from now on: requests are only remembered.
    void suspend();
    // The scan is over: rebuild now.
    void resume();

    // A rebuild is asked for or running: the rows shown may be old.
    bool busy() const { return queued_ || running_; }
    bool suspended() const { return suspended_; }
    // Rebuilds finished since this object was made.
    int rebuilds() const { return rebuilds_; }
    // Until nothing is asked for or running, delivering what finishes (tests;
    // the main loop runs meanwhile).
    void waitIdle();
    // Waits as waitIdle and forgets a suspension, without a rebuild (tests
    // start afresh).
    void reset();
    // At the program's end: nothing new begins and a rebuild under way is
    // waited for, before the device catalogue it lists goes away.
    void finish();

signals:
    // A rebuild began: the list shown is about to change.
    void started();
    // The rows of the catalogue just rebuilt (main thread).
    void finished(const std::vector<DiskVolumeNodePtr>& rows);

private:
    void begin();
    void end(std::vector<DiskVolumeNodePtr> rows);

    std::thread worker_;
    bool queued_ = false;
    bool running_ = false;
    bool pending_ = false;
    bool suspended_ = false;
    int rebuilds_ = 0;
};

}  // namespace velmora::windows
