#include "VKAppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeySequence>
#include <QMenu>
#include <QScreen>

#include <cstdio>

#include "Resources/ImageRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Network.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/UserDefaults.h"
#include "UpdateSchedule.h"
#include "VKLinkUrl.h"
#include "VKPublicUtilities.h"
#include "VKSpyBridge.h"
#include "platform/desktop/Workspace.h"

using velmora::app::VKPublicUtilities;
using velmora::platform::BlockDeviceEvent;
using velmora::ui::NotificationCenter;
using velmora::ui::PrivateSettings;
using velmora::ui::UserDefaults;
namespace texts = velmora::ui::texts;

namespace {

void Centre(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void Activate(QWidget* window) {
    if (!window)
        return;
    window->raise();
    window->activateWindow();
}

// The media's name as the kernel tells it (a disk's model); empty for none.
QString MediaName(const std::string& name) {
    QFile model(
        QStringLiteral("/sys/class/block/%1/device/model").arg(QString::fromStdString(name)));
    if (!model.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(model.read(256)).trimmed();
}

}  // namespace

VKAppDelegate::VKAppDelegate(VKAppDelegateWiring wiring, QObject* parent)
    : QObject(parent), wiring_(std::move(wiring)) {}

VKAppDelegate::~VKAppDelegate() {
    notifier_.Stop();
    NotificationCenter::defaultCenter().removeObserver(this);
}

void VKAppDelegate::applicationDidFinishLaunching() {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(this, "appWillTerminate",
                       [this](const velmora::ui::Notification&) { applicationWillTerminate(); });
    // The language menu's notification: nothing to do.
    center.addObserver(this, "SetLangauageMemu", [](const velmora::ui::Notification&) {});
    // There is no centre shared between processes here; whoever changes the
    // language posts this one in ours.
    center.addObserver(this, "ChangeAllWindowTitle",
                       [this](const velmora::ui::Notification&) { changeAllWindowTitle(); });

    if (wiring_.watchDevices) {
        // A disk with its partitions comes as several events at once; each
        // post makes the windows list the devices again.
        if (!notifier_.Start())
            std::fprintf(stderr, "Device watcher: no device events can be received\n");
    }
    runVersionCheck();
}

void VKAppDelegate::runVersionCheck() {
    const QDateTime now = velmora::ui::CurrentClock().Now();
    const QString stored = VKPublicUtilities::getUpDataTimeStr().value_or(QString());
    if (!velmora::app::IsVersionCheckDue(stored, now)) {
        runRootWindow();
        emit launchCheckFinished();
        return;
    }
    // "Participate" is left as it is: taking part is the user's choice in
    // the menu, never switched on without asking.
    // Stored before anything is fetched, so a failed check waits a week too.
    VKPublicUtilities::writeUpDataTimeStr(velmora::app::FormatCheckTime(now));

    // Neither the fetch nor the probe holds the interface: both answer later,
    // within their time-outs, and the main window opens then.
    const QString address = VKLinkUrl::GetUrl("IniURL");
    const auto timeouts = velmora::app::NetworkTimeouts();
    velmora::ui::Network::FetchPlist(
        address, timeouts.fetchMs, this, [this, address, timeouts](const QVariant& remote) {
            const qint64 own =
                velmora::app::VersionNumber(PrivateSettings::shared().value("VersionCheck"));
            const qint64 theirs = velmora::app::VersionNumber(remote.toMap().value("VersionCheck"));
            if (theirs <= own) {
                runRootWindow();
                emit launchCheckFinished();
                return;
            }
            velmora::ui::Network::Probe(address, timeouts.probeMs, this, [this](bool up) {
                if (!up) {
                    runRootWindow();
                    emit launchCheckFinished();
                    return;
                }
                showUpdateWindowAtLaunch();
            });
        });
}

void VKAppDelegate::showUpdateWindowAtLaunch() {
    // Out of the network's callback before a modal loop begins.
    velmora::ui::PerformAfter(this, 0, [this] {
        runUpdateWindow(true);
        emit launchCheckFinished();
    });
}

void VKAppDelegate::runUpdateWindow(bool aboveOthers) {
    if (!checkUpdateWindow_)
        checkUpdateWindow_ = std::make_unique<VKCheckUpdateWindowController>(wiring_.workspace);
    checkUpdateWindow_->setDelegate(this);
    // A new window checks while it loads; a window made before checks again.
    const bool loaded = checkUpdateWindow_->isLoaded();
    TCImageWindow* window = checkUpdateWindow_->window();
    if (loaded)
        checkUpdateWindow_->getVersionChange();
    Centre(window);
    window->setWindowFlag(Qt::WindowStaysOnTopHint, aboveOthers);
    velmora::ui::Modal().RunModal(window);
    Activate(QApplication::activeWindow());
}

void VKAppDelegate::runRootWindow() {
    if (rootWindowMade_)
        return;
    rootWindowMade_ = true;
    const QString rsfPath = UserDefaults::standard().stringValue("rsfPath");
    if (!wiring_.makeRootWindow) {
        std::fprintf(stderr, "No main window is built into this program\n");
        if (wiring_.closeApp)
            wiring_.closeApp();
        return;
    }
    rootWindowCon_ = wiring_.makeRootWindow(rsfPath);
    if (!rootWindowCon_)
        return;
    rootWindowCon_->show();
    Centre(rootWindowCon_);
    Activate(rootWindowCon_);
}

bool VKAppDelegate::applicationShouldTerminate() {
    VKScanControl* scan = wiring_.scan;
    if (!scan || !scan->IsScanRunning()) {
        NotificationCenter::defaultCenter().post("ExportRSFFile");
        return true;
    }
    if (!scan->IsPause())
        scan->PauseOrResumeScan();
    velmora::ui::AlertContent alert = velmora::ui::AlertFromKeys("PLX_FOUR_SCAN_STOP_");
    alert.icon = velmora::ui::ImageRegistry::Pixmap("warning_b");
    QPointer<VKAppDelegate> self(this);
    velmora::ui::Alerts().BeginSheet(alert, nullptr, [self](int code) {
        if (self)
            self->alertEnded(code);
    });
    return false;
}

void VKAppDelegate::alertEnded(int code) {
    if (code != 0) {
        applicationWillTerminate();
        return;
    }
    // Whoever paused it, the scan goes on.
    if (wiring_.scan && wiring_.scan->IsPause())
        wiring_.scan->PauseOrResumeScan();
}

void VKAppDelegate::applicationWillTerminate() {
    NotificationCenter::defaultCenter().removeObserver(this);
    if (rootWindowCon_)
        rootWindowCon_->hide();
    if (wiring_.closeApp)
        wiring_.closeApp();
}

void VKAppDelegate::CloseApp() {
    VKSpyBridge::SpyIDEnd();
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void VKAppDelegate::changeAllWindowTitle() {
    NotificationCenter::defaultCenter().post("ChangeWindowTitle");
}

void VKAppDelegate::exitAction() {
    if (applicationShouldTerminate())
        applicationWillTerminate();
}

void VKAppDelegate::diskEvent(const BlockDeviceEvent& event) {
    const QString name = QString::fromStdString(event.name);
    if (event.kind == BlockDeviceEvent::Kind::Gone) {
        // The kernel's name: the results browser stops a scan of that disk.
        NotificationCenter::defaultCenter().post("RefreshDetachDevice",
                                                 QVariantMap{{"USBPath", name}});
        std::fprintf(stderr, "DiskDisappeared remove: %s\n", event.name.c_str());
        return;
    }
    const bool isDisk = event.devtype == "disk";
    std::fprintf(stderr,
                 isDisk ? " DiskAppeared add: %s\n" : "DiskAppearedWithVolume add volume: %s\n",
                 event.name.c_str());
    // One dictionary per arrival; observers read it while it is delivered.
    const QVariantMap device{{"VolumePath", "/dev/" + name},
                             {"VolumeName", isDisk ? MediaName(event.name) : QString()},
                             {"VolumeSize", QVariant::fromValue<qulonglong>(event.sizeBytes)},
                             {"isDisk", isDisk}};
    NotificationCenter::defaultCenter().post("RefreshAttachDevice", QVariantList{device});
}

QAction* VKAppDelegate::addItem(QMenu* menu, const QString& outlet,
                                void (VKAppDelegate::*action)()) {
    QAction* item = menu->addAction(QString());
    item->setObjectName(outlet);
    items_.insert(outlet, item);
    if (action)
        connect(item, &QAction::triggered, this, action);
    return item;
}

QMenu* VKAppDelegate::applicationMenu() {
    if (menu_)
        return menu_.get();
    menu_ = std::make_unique<QMenu>();
    QMenu* app = menu_.get();
    app->setObjectName("applicationMenu");
    addItem(app, "about", &VKAppDelegate::aboutAction);
    addItem(app, "checkUpdate", &VKAppDelegate::CheckUpAction);
    QAction* participate = addItem(app, "participate", &VKAppDelegate::ParticipateInCustomer);
    participate->setCheckable(true);
    items_.insert("pInCustomer", participate);
    app->addSeparator();
    addItem(app, "hideSelf", nullptr);
    // Other programs' windows are the desktop's business here: the item
    // stays for its title and does nothing.
    addItem(app, "hideOther", nullptr);
    addItem(app, "showAll", nullptr);
    connect(items_["hideSelf"], &QAction::triggered, this, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isWindow() && w->isVisible())
                w->showMinimized();
    });
    connect(items_["showAll"], &QAction::triggered, this, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isWindow() && w->isMinimized())
                w->showNormal();
    });
    app->addSeparator();

    QMenu* window = app->addMenu(QString());
    window->setObjectName("windowMenu");
    menus_.insert("aWindow", window);
    addItem(window, "minimize", nullptr);
    addItem(window, "maximize", nullptr);
    connect(items_["minimize"], &QAction::triggered, this, [] {
        if (QWidget* w = QApplication::activeWindow())
            w->showMinimized();
    });
    connect(items_["maximize"], &QAction::triggered, this, [] {
        if (QWidget* w = QApplication::activeWindow())
            w->isMaximized() ? w->showNormal() : w->showMaximized();
    });

    QMenu* help = app->addMenu(QString());
    help->setObjectName("helpMenu");
    menus_.insert("help", help);
    addItem(help, "onlineHelp", &VKAppDelegate::onlineHelp);
    addItem(help, "supportCenter", &VKAppDelegate::supportCenterAction);
    app->addSeparator();
    // Last, where a Linux user looks for it.
    addItem(app, "exit", &VKAppDelegate::exitAction);

    // The key equivalents a Linux desktop uses for these items; they work
    // in whichever of the program's windows is active.
    items_["hideSelf"]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    items_["minimize"]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    items_["onlineHelp"]->setShortcut(QKeySequence(Qt::Key_F1));
    items_["exit"]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    awakeFromNib();
    return menu_.get();
}

void VKAppDelegate::awakeFromNib() {
    if (!menu_) {
        applicationMenu();
        return;
    }
    for (const auto& [outlet, key] : {std::pair{"aWindow", "MENU_WINDOW"}, {"help", "MENU_HELP"}})
        menus_.value(outlet)->setTitle(texts::Text(key));
    items_["about"]->setText(texts::Format("MENU_ABOUT_NAME", {texts::Text("WINDOW_TOP_TITLE")}));
    const std::pair<const char*, const char*> titles[] = {
        {"checkUpdate", "MENU_CHECK_UPDTE"}, {"participate", "MENU_PARTICIPATE"},
        {"hideSelf", "MENU_HIDEN_SELF"},     {"hideOther", "MENU_HIDEN_OTHER"},
        {"showAll", "MENU_SHOW_ALL"},        {"exit", "MENU_EXIT"},
        {"maximize", "MENU_MAXIMIZE"},       {"minimize", "MENU_MINIMIZE"},
        {"onlineHelp", "MENU_ONLINE_HELP"},  {"supportCenter", "MENU_SUPPORT_CENTER"}};
    for (const auto& [outlet, key] : titles)
        items_[outlet]->setText(texts::Text(key));
    items_["pInCustomer"]->setChecked(UserDefaults::standard().boolValue("Participate"));
}

void VKAppDelegate::aboutAction() {
    if (!wiring_.makeAboutWindow)
        return;
    std::unique_ptr<QWidget> about(wiring_.makeAboutWindow());
    if (!about)
        return;
    Centre(about.get());
    velmora::ui::Modal().RunModal(about.get());
    Activate(QApplication::activeWindow());
}

void VKAppDelegate::CheckUpAction() {
    runUpdateWindow(false);
}

void VKAppDelegate::ParticipateInCustomer() {
    QAction* item = menuItem("pInCustomer");
    // The item toggles its own check mark when it is checkable; the stored
    // state follows the mark.
    const bool on = item ? item->isChecked() : !UserDefaults::standard().boolValue("Participate");
    UserDefaults::standard().setValue("Participate", on);
}

void VKAppDelegate::openLink(const QString& key) {
    const QString address = VKLinkUrl::GetUrl(key);
    if (address.isEmpty() || !wiring_.workspace)
        return;
    wiring_.workspace->OpenUrl(address.toStdString());
}

void VKAppDelegate::helpTranslate() {
    openLink("Translate");
}

void VKAppDelegate::contactUSAction() {
    openLink("OnlineHelp");
}

void VKAppDelegate::onlineHelp() {
    openLink("OnlineHelp");
}

void VKAppDelegate::supportCenterAction() {
    openLink("SupportTeam");
}
