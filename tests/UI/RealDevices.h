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
#include <string>
#include <vector>

#include "EngineFactories.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/VKSelectDiskViewController.h"
#include "support/TestSupport.h"

namespace velmora::test::real {

// Runs a command; whether it exited with 0, and its trimmed output. Through
// fork and exec rather than QProcess: Qt starts its children with a clone
// that ThreadSanitizer cannot follow, and these tests run under it too.
// The test's own time limit bounds a tool that hangs.
inline bool RunTool(const QStringList& argv, QString* out = nullptr, int timeoutMs = 60000) {
    (void)timeoutMs;
    if (argv.isEmpty())
        return false;
    std::vector<std::string> args;
    for (const QString& arg : argv)
        args.push_back(arg.toStdString());
    std::string output;
    const bool ok = velmora::test::RunProgram(args, &output);
    if (out)
        *out =
            QString::fromLocal8Bit(output.data(), static_cast<qsizetype>(output.size())).trimmed();
    return ok;
}

// How a disk image is attached: read-only with its partitions unless a
// test needs to write to it (one that mounts the volume it scans).
struct LoopOptions {
    bool readOnly = true;
    bool partitions = true;
};

// A disk image attached to a free loop device.
class AttachedLoop {
public:
    explicit AttachedLoop(const QString& image, LoopOptions options = {}) {
        QStringList argv{"losetup", "--find", "--show"};
        if (options.readOnly)
            argv << "-r";
        if (options.partitions)
            argv << "-P";
        if (!RunTool(argv << image, &node_))
            node_.clear();
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
// namespace. Whether the namespace was made (always, when not root).
inline bool UsePrivateLockFolder() {
    if (geteuid() != 0)
        return true;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run/lock", "tmpfs", 0, "mode=1777,size=1m") != 0) {
        std::fprintf(stderr, "note: no private /run/lock (%s)\n", std::strerror(errno));
        return false;
    }
    return true;
}

// What a test program's main may ask beyond the usual.
struct RealWindowOptions {
    // The windows' own timing (1: the offer of a deep scan stays for its
    // seconds, the flow slides) instead of none.
    int durationScale = 0;
    // A work folder holding a copy of the shipped file-type table, as beside
    // an installed program: the scan's category filter is built from it.
    bool workFolderWithFileTypes = false;
    // Mounts the tests make must not outlive them: without a mount namespace
    // of its own the program skips (77) instead of running.
    bool needsMountNamespace = false;
};

// The main of a test program on the program's bridge: a private lock
// folder and settings folder, the real X server (xcb) unless told
// otherwise, the engine's factories, no animations, English texts.
inline int RunRealWindowTests(int argc, char** argv, const RealWindowOptions& options = {}) {
    if (!UsePrivateLockFolder() && options.needsMountNamespace)
        return 77;
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    char configTemplate[] = "/tmp/velmora-real-XXXXXX";
    if (mkdtemp(configTemplate) == nullptr)
        return 1;
    qputenv("XDG_CONFIG_HOME", configTemplate);
    if (options.workFolderWithFileTypes) {
        const QString work = QString::fromLocal8Bit(configTemplate) + QStringLiteral("/work");
        QDir().mkpath(work);
        QFile::copy(
            QString::fromStdString(SourceDir()) + QStringLiteral("/resources/FileType.plist"),
            work + QStringLiteral("/FileType.plist"));
        qputenv("VELMORA_WORK_PATH", work.toLocal8Bit());
    }
    QApplication app(argc, argv);
    InstallEngineFactories();
    velmora::ui::SetDurationScale(options.durationScale);
    velmora::ui::texts::LoadLanguage("en");
    const int result = RUN_ALL_TESTS();
    // As the program's end does: a device list still being made reads the
    // catalogue the exit handlers destroy.
    velmora::windows::DeviceListRefresher::shared().finish();
    QDir(QString::fromLocal8Bit(configTemplate)).removeRecursively();
    return result;
}

}  // namespace velmora::test::real
