// The results browser fed by the program's own bridge and engine, on a real
// X server, as root: the disks of tests/fixtures/windows/make_browser_disks.py
// (made once per run) attached to loop devices, the program's windows
// (main window, wizard, browser, way home) and, where a test needs it, the
// application delegate's device watcher.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <set>

#include "Browser/ProgramWindows.h"
#include "Browser/VKDeletailWindowController.h"
#include "QtPrinters.h"
#include "RealDevices.h"

class VKAppDelegate;

namespace velmora::browser::real {

using test::real::AttachedLoop;
using test::real::WaitFor;

// The fixture disks: made on first use, shared by the tests of the run.
struct BrowserDisks {
    QString fatDisk;   // GPT, one FAT16 volume with the common file set
    QString lostDisk;  // GPT with a small FAT volume; an NTFS volume outside the table
    QString why;       // why they could not be made (the tests then skip)
};
const BrowserDisks& Disks();

// The manifest written beside a disk image.
QJsonObject Manifest(const QString& image);
// The folders a manifest's volume holds, as "/Docs/Sub" (live and deleted).
std::set<QString> ManifestFolders(const QJsonObject& volume);
// The months ("2020-09") of the modification times of a volume's files.
std::set<QString> ManifestMonths(const QJsonObject& volume);

// The folders of a result tree as its rows name them, each with the names
// of the rows above it ("Root/Docs/Sub"); every row is opened on the way.
QStringList TreePaths(const CommOutlineView& view);

// One walk of the program's windows from the wizard to a scan in the
// browser: the scan kind on the first page, a row of the disk page, the
// scan button. What it opens it closes, and it waits for the scan thread.
class ScanSession {
public:
    // `watchDevices`: the application delegate's device watcher runs too,
    // so removals reach the windows as in the program.
    explicit ScanSession(bool watchDevices = false);
    ~ScanSession();

    // Attaches `image` (unless it is attached already), chooses the scan kind (true: deep) and the
    // row of the attached disk: its volume `volume`, or the disk itself for -1. `categories`
    // are the first page's ticked kinds (their keys); none given, every kind, as the page
    // opens. True once the browser has started its scan; false, with the reason in
    // `failure`, when it did not.
    bool Start(const QString& image, int volume, bool deep, QStringList categories = {});
    QString failure;

    VKDeletailWindowController* browser() const;
    ProgramWindows& windows() { return *windows_; }
    AttachedLoop* loop() const { return loop_.get(); }
    // The scan has ended and the browser has taken the end over.
    bool WaitForScanEnd(int ms);
    // Whether the watcher could be started (false without udev or kernel
    // events).
    bool watching() const;

private:
    std::unique_ptr<ProgramWindows> windows_;
    std::unique_ptr<VKAppDelegate> delegate_;
    std::unique_ptr<AttachedLoop> loop_;
    QString image_;
};

}  // namespace velmora::browser::real
