// The application's life: it sets up the process-wide observers, watches
// disks come and go, checks once a week whether a newer version exists (the
// update window then shows before the main window), opens the main window
// once, owns the menus and asks before quitting while a scan runs.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "VKCheckUpdateWindowController.h"
#include "Windows/USBNotifier.h"
#include "platform/desktop/BlockDeviceWatcher.h"

class QAction;
class QMenu;

namespace velmora::platform {
class Workspace;
}

// The scan state the quit confirmation needs from the operations bridge.
class VKScanControl {
public:
    virtual ~VKScanControl() = default;
    virtual bool IsScanRunning() = 0;
    virtual bool IsPause() = 0;
    virtual void PauseOrResumeScan() = 0;
};

// What the application hands the delegate; each part replaceable by tests.
struct VKAppDelegateWiring {
    // Makes the main window with the result file to open at start (empty for
    // none); the delegate shows and centres it. Without it there is nothing
    // to show and the application ends.
    std::function<QWidget*(const QString& rsfPath)> makeRootWindow;
    // Makes the About window, run modally from the menu.
    std::function<QWidget*()> makeAboutWindow;
    // Null: no scan ever runs.
    VKScanControl* scan = nullptr;
    // Ends the process; VKAppDelegate::CloseApp unless a test watches.
    std::function<void()> closeApp;
    // Opens links as the invoking user.
    velmora::platform::Workspace* workspace = nullptr;
    // Watch block devices (udev) and post their arrival and removal, those
    // of one turn of the main loop together.
    bool watchDevices = true;
};

class VKAppDelegate : public QObject, public VKUpdateWindowDelegate {
    Q_OBJECT

public:
    explicit VKAppDelegate(VKAppDelegateWiring wiring, QObject* parent = nullptr);
    ~VKAppDelegate() override;

    // The launch sequence: observers, device watcher, the weekly version
    // check (asynchronous), then the main window.
    void applicationDidFinishLaunching();
    // Opens the main window; only the first call does anything.
    void runRootWindow() override;

    // The quit item: true when the application may end now. With a scan
    // running it pauses the scan and asks; the answer arrives in alertEnded.
    bool applicationShouldTerminate();
    void alertEnded(int code);
    // Ends the process without asking.
    void applicationWillTerminate();
    void changeAllWindowTitle();
    // Every way out ends here: the usage statistics' end, then the event
    // loop ends with 0 (also when it has not started yet).
    static void CloseApp();

    // The application menu, titled by key and built on first use: the
    // windows open it from a button in their title bars. The application's
    // items (About, updates, participation, hiding, Quit) with the Window
    // and Help submenus. Items by outlet name ("about", "checkUpdate",
    // "pInCustomer", "exit", ...); submenus by "aWindow" and "help".
    QMenu* applicationMenu();
    QMenu* submenu(const QString& outlet) const { return menus_.value(outlet); }
    QAction* menuItem(const QString& outlet) const { return items_.value(outlet); }
    void awakeFromNib();

    void aboutAction();
    void CheckUpAction();
    void ParticipateInCustomer();
    void helpTranslate();
    void contactUSAction();
    void onlineHelp();
    void supportCenterAction();
    // The exit item: quits when applicationShouldTerminate allows it.
    void exitAction();

    // One block device appeared or went, posted on its own (on the main
    // thread); the watcher posts the events of a turn together instead.
    void diskEvent(const velmora::platform::BlockDeviceEvent& event);

    QWidget* rootWindow() const { return rootWindowCon_; }
    VKCheckUpdateWindowController* checkUpdateWindow() const { return checkUpdateWindow_.get(); }
    bool isWatchingDevices() const { return notifier_.Running(); }

signals:
    // The version check of the launch has ended (with or without a window).
    void launchCheckFinished();

private:
    void runVersionCheck();
    void showUpdateWindowAtLaunch();
    void runUpdateWindow(bool aboveOthers);
    void openLink(const QString& key);
    QAction* addItem(QMenu* menu, const QString& outlet, void (VKAppDelegate::*action)());

    VKAppDelegateWiring wiring_;
    QPointer<QWidget> rootWindowCon_;
    bool rootWindowMade_ = false;
    std::unique_ptr<VKCheckUpdateWindowController> checkUpdateWindow_;
    std::unique_ptr<QMenu> menu_;
    QHash<QString, QAction*> items_;
    QHash<QString, QMenu*> menus_;
    velmora::windows::USBNotifier notifier_;
};
