// The loop device of a deep scan goes while the scan runs, as a USB stick
// pulled out: the application delegate's device watcher hears the kernel's
// removal, the browser stops the scan, says so in exactly one sheet and goes
// home; the scan ends cleanly and the main window can scan again.
//
// A loop device that is open (the scan holds it) is not detached by
// `losetup -d` until its last user closes it; the kernel's remove event is
// what the watcher hears when a disk goes, and writing "remove" to the
// device's uevent file in sysfs makes the kernel send exactly that. The
// detach then completes when the stopped scan lets go of the device.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>

#include "Browser/real/RealScans.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "VKUIController.h"
#include "Windows/VKRootWindowController.h"
#include "support/TestSupport.h"

namespace velmora::browser::real {
namespace {

// Makes the kernel announce the removal of block device `name`.
bool AnnounceRemoval(const QString& name) {
    QFile uevent(QStringLiteral("/sys/block/%1/uevent").arg(name));
    return uevent.open(QIODevice::WriteOnly) && uevent.write("remove") == 6;
}

TEST(BrowserRealDeviceRemoval, StopsTheScanWithOneSheetAndGoesHome) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach loop devices";
    if (!Disks().why.isEmpty())
        GTEST_SKIP() << Disks().why.toStdString();
    ui::ScriptedAlerts alerts;
    ui::SetAlertPresenter(&alerts);
    struct Restore {
        ~Restore() { ui::SetAlertPresenter(nullptr); }
    } restore;

    // The lost disk's one listed volume, or the whole disk, scanned deep:
    // half a gigabyte, a few seconds.
    const struct {
        const char* what;
        int volume;
    } cases[] = {{"its volume", 0}, {"the whole disk", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        alerts.shown.clear();
        alerts.answers = {1};
        ScanSession session(true);
        if (!session.watching())
            GTEST_SKIP() << "no device events can be received here";
        ASSERT_TRUE(session.Start(Disks().lostDisk, c.volume, true))
            << session.failure.toStdString();
        const QString name = session.loop()->name();
        ASSERT_TRUE(VKUIController::IsScanRunning());

        int removals = 0;
        QObject watch;
        ui::NotificationCenter::defaultCenter().addObserver(
            &watch, QStringLiteral("RefreshDetachDevice"), [&](const ui::Notification& note) {
                if (note.object.toMap().value("USBPath").toString() == name)
                    ++removals;
            });
        ASSERT_TRUE(AnnounceRemoval(name))
            << "cannot write /sys/block/" << name.toStdString() << "/uevent";
        session.loop()->Detach();

        // The browser stops the scan, shows its one sheet, and OK leads home.
        ASSERT_TRUE(WaitFor([&] { return removals > 0; }, 10000)) << "the watcher heard nothing";
        EXPECT_TRUE(WaitFor([&] { return session.windows().homes() == 1; }, 10000))
            << "the browser did not go home";
        EXPECT_TRUE(WaitFor([] { return !VKUIController::IsScanRunning(); }, 30000))
            << "the scan did not stop";
        VKUIController::WaitForScanThread();
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(alerts.shown[0].informative, QStringLiteral("The usb device is detatched!"));
        EXPECT_EQ(alerts.unscripted, 0);

        // The detach completes once the scan lets go: its own announcement
        // (and any other) finds no browser listening, and no second sheet
        // shows.
        WaitFor([&] { return removals > 1; }, 3000);
        EXPECT_EQ(alerts.shown.size(), 1u);
        EXPECT_TRUE(WaitFor(
            [&] {
                return session.windows().root() &&
                       session.windows().root()->window()->isVisible() &&
                       !session.windows().root()->deletailWC();
            },
            10000))
            << "the main window did not come back";
    }
}

}  // namespace
}  // namespace velmora::browser::real
