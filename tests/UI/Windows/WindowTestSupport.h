// What every window test shares: the scripted bridge and modal runner put
// in place for one test, and a way to let queued posts and zero-length
// delays run.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include "BridgeSeam/FakeBridge.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "Windows/DeviceListRefresher.h"

namespace velmora::windows::testing {

// Runs what waits in the event loop: queued posts, 0 ms timers, and what
// they queue in turn.
inline void Pump() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        seam::SetBridge(&bridge);
        ui::SetModalRunner(&modal);
    }
    void TearDown() override {
        Pump();
        // A device-list rebuild still running reads this test's bridge.
        DeviceListRefresher::shared().reset();
        seam::SetBridge(nullptr);
        ui::SetModalRunner(nullptr);
    }

    seam::FakeBridge bridge;
    ui::ScriptedModalRunner modal;
};

// Records the posts of one name while it lives.
class PostRecorder : public QObject {
public:
    explicit PostRecorder(const QString& name) {
        ui::NotificationCenter::defaultCenter().addObserver(
            this, name, [this](const ui::Notification& note) { posts.push_back(note); });
    }
    std::vector<ui::Notification> posts;
};

}  // namespace velmora::windows::testing
