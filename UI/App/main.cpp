// Program entry of the application.
#include <unistd.h>

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BridgeSeam/IBridge.h"
#include "Browser/ProgramWindows.h"
#include "EngineFactories.h"
#include "ProgramEntry.h"
#include "StartThread.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/UserDefaults.h"
#include "Utility/CatchExeception.h"
#include "VKAboutWindowController.h"
#include "VKAppDelegate.h"
#include "VKUIController.h"
#include "Widgets/MyNSApplication.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/VKProgressWindow.h"
#include "Windows/VKRootWindowController.h"
#include "platform/HeapPages.h"
#include "platform/desktop/CommandRunner.h"
#include "platform/desktop/PowerInhibitor.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/desktop/Workspace.h"

namespace {

// The scan as the delegate sees it (the quit question, the pause on a
// sleeping machine).
class BridgeScanControl final : public VKScanControl {
public:
    bool IsScanRunning() override { return velmora::seam::Bridge().IsScanRunning() != 0; }
    bool IsPause() override { return VKUIController::IsPause() != 0; }
    void PauseOrResumeScan() override { VKUIController::PauseOrResumeScan(); }
};

QtMessageHandler g_toolkitHandler = nullptr;

// While the application object connects to the display, a failure there is
// the toolkit's fatal message, which aborts the process with advice to
// reinstall. The display is what is wrong: say so and end with 1.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (g_toolkitHandler)
            g_toolkitHandler(type, context, text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    const std::string message = velmora::app::UnreachableDisplayMessage(
        [](const char* name) { return std::getenv(name); }, text.toStdString());
    std::fputs(message.c_str(), stderr);
    std::fflush(stderr);
    _exit(1);
}

// Where the application's windows start.
int RunApplication(const velmora::app::EntryPlan& plan) {
    CatchExeception::Install();
    InstallEngineFactories();
    // The program's bridge, made now: it puts in place what the result
    // trees, the recovery and the result files read the scan through.
    velmora::seam::Bridge();
    int argc = 1;
    char name[] = "Tamsweld";
    char* argv[] = {name, nullptr};
    g_toolkitHandler = qInstallMessageHandler(StartupMessages);
    MyNSApplication app(argc, argv);
    qInstallMessageHandler(g_toolkitHandler);

    auto& defaults = velmora::ui::UserDefaults::standard();
    if (plan.language) {
        std::fprintf(stderr, "set lanague to = %s\n", plan.language->c_str());
        defaults.setValue("AppleLanguages", QStringList{QString::fromStdString(*plan.language)});
    }
    defaults.setValue("rsfPath", QString::fromStdString(plan.rsfPath));
    const QStringList languages = defaults.stringList("AppleLanguages");
    velmora::ui::texts::LoadLanguage(languages.isEmpty() ? QStringLiteral("en")
                                                         : languages.front());

    velmora::platform::SystemCommandRunner runner;
    velmora::platform::DesktopWorkspace workspace(runner);
    BridgeScanControl scan;
    VKAppDelegateWiring wiring;
    wiring.workspace = &workspace;
    wiring.closeApp = &VKAppDelegate::CloseApp;
    wiring.scan = &scan;
    auto showAbout = [&workspace] {
        VKAboutWindowController about(&workspace);
        about.runModal();
    };
    wiring.makeAboutWindow = [&workspace]() -> QWidget* {
        // The delegate runs and then deletes the window; the controller
        // follows it.
        auto* about = new VKAboutWindowController(&workspace);
        QWidget* window = about->window();
        QObject::connect(window, &QObject::destroyed, about, &QObject::deleteLater);
        return window;
    };

    // The main window opens the results browser for a scan or a loaded
    // result; the browser's home button brings a new main window back.
    // The windows' menu buttons open the delegate's application menu; the
    // delegate is made below, before any window.
    VKAppDelegate* menuOwner = nullptr;
    auto applicationMenu = [&menuOwner]() -> QMenu* {
        return menuOwner ? menuOwner->applicationMenu() : nullptr;
    };
    velmora::windows::RootWindowSeams rootSeams;
    rootSeams.showAbout = showAbout;
    rootSeams.applicationMenu = applicationMenu;
    rootSeams.runLoadProgress = [](const QString& postName) {
        return velmora::windows::RunProgressWindow(postName, false);
    };
    velmora::browser::BrowserSeams browserSeams;
    browserSeams.showAbout = showAbout;
    browserSeams.applicationMenu = applicationMenu;
    velmora::browser::ProgramWindows windows(rootSeams, browserSeams);
    wiring.makeRootWindow = [&windows](const QString& rsfPath) -> QWidget* {
        return windows.openRootWindow(rsfPath);
    };
    VKAppDelegate delegate(std::move(wiring));
    menuOwner = &delegate;
    // Disks coming and going make the device list again, off this thread.
    velmora::windows::DeviceListRefresher::shared().followDeviceEvents();
    delegate.applicationDidFinishLaunching();
    // The copy that holds the single-instance lock takes the result files
    // of later starts; the channel's thread hands them to this one.
    std::unique_ptr<velmora::platform::InstanceChannel> channel;
    if (velmora::seam::Bridge().IsAppRunning() == 0) {
        const std::string socket = velmora::platform::InstanceChannel::DefaultSocketPath();
        if (!socket.empty()) {
            channel = std::make_unique<velmora::platform::InstanceChannel>(
                socket, velmora::platform::InvokingUidOrSelf(),
                [&app, &windows](const std::string& path) {
                    QMetaObject::invokeMethod(
                        &app,
                        [&windows, file = QString::fromStdString(path)] {
                            windows.openHandedOverFile(file);
                        },
                        Qt::QueuedConnection);
                });
        }
    }
    const int status = app.exec();
    channel.reset();
    // Nothing of the scan, the recovery or a save runs on once the windows
    // and the objects they lent those threads are gone.
    velmora::bridge::StopAndJoinOperations();
    // The device list's worker reads the catalogue the program's end
    // destroys.
    velmora::windows::DeviceListRefresher::shared().finish();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    // The session stays awake for the program's life (a deep scan or a
    // recovery may run for hours with nobody touching the machine); it is
    // given back when the program ends.
    velmora::platform::SystemCommandRunner runner;
    velmora::platform::PowerInhibitor sleep(runner);
    return velmora::app::RunEntry(
        argc, argv, velmora::app::WQManRunLoader, RunApplication, nullptr, [&sleep] {
            if (!sleep.Acquire("Velmora is running"))
                std::fprintf(stderr, "The session may go idle: systemd-inhibit is not there\n");
        });
}
