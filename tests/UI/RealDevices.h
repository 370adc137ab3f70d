// What the window tests on the program's own bridge share: loop devices
// attached to disk images, commands run from argument vectors, waiting on
// the event loop with a bound, the disk page's row of a device node, and a
// main that runs the tests on a real X server (Xvfb) as the program runs.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "EngineFactories.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "Windows/VKSelectDiskViewController.h"

namespace velmora::test::real {

// Runs a command; whether it exited with 0, and its trimmed output.
inline bool RunTool(const QStringList& argv, QString* out = nullptr, int timeoutMs = 60000) {
    QProcess process;
    process.start(argv.front(), argv.mid(1));
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return false;
    if (out)
        *out = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return process.exitCode() == 0;
}

// A disk image attached read-only to a free loop device, with its partitions.
class AttachedLoop {
public:
    explicit AttachedLoop(const QString& image) {
        RunTool({"losetup", "--find", "--show", "-r", "-P", image}, &node_);
    }
    ~AttachedLoop() { Detach(); }
    AttachedLoop(const AttachedLoop&) = delete;
    AttachedLoop& operator=(const AttachedLoop&) = delete;
    // While the device is open the kernel lets it go only at the last close.
    void Detach() {
        if (!node_.isEmpty())
            RunTool({"losetup", "-d", node_});
        node_.clear();
    }
    const QString& node() const { return node_; }
    // The kernel's name ("loop3").
    QString name() const { return node_.mid(node_.lastIndexOf('/') + 1); }

private:
    QString node_;
};

// Lets the event loop run until `done` or `ms` have passed, sleeping in it
// between looks (a scan's thread needs the processor more than we do).
inline bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The disk page's row of the disk at device node `node`.
inline DiskVolumeNodePtr RowOf(const windows::VKSelectDiskViewController& page,
                               const QString& node) {
    for (const DiskVolumeNodePtr& row : page.allDiskArr()) {
        if (row->diskPath() && QString::fromStdString(*row->diskPath()) == node)
            return row;
    }
    return nullptr;
}

// As root, the program's single-instance lock lies in /run/lock, where any
// other copy on this machine (another test program, a developer's) holds it
// too: the tests get a /run/lock of their own, in a mount namespace of their
// own. Before any thread starts: a process with threads cannot leave its
// namespace.
inline void UsePrivateLockFolder() {
    if (geteuid() != 0)
        return;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run/lock", "tmpfs", 0, "mode=1777,size=1m") != 0) {
        std::fprintf(stderr, "note: no private /run/lock (%s)\n", std::strerror(errno));
    }
}

// The main of a test program on the program's bridge: a private lock
// folder and settings folder, the real X server (xcb) unless told
// otherwise, the engine's factories, no animations, English texts.
inline int RunRealWindowTests(int argc, char** argv) {
    UsePrivateLockFolder();
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    char configTemplate[] = "/tmp/velmora-real-XXXXXX";
    if (mkdtemp(configTemplate) == nullptr)
        return 1;
    qputenv("XDG_CONFIG_HOME", configTemplate);
    QApplication app(argc, argv);
    InstallEngineFactories();
    velmora::ui::SetDurationScale(0);
    velmora::ui::texts::LoadLanguage("en");
    const int result = RUN_ALL_TESTS();
    QDir(QString::fromLocal8Bit(configTemplate)).removeRecursively();
    return result;
}

}  // namespace velmora::test::real
