#include "Windows/VKRootWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <chrono>
#include <cstdlib>
#include <future>

#include "BridgeSeam/IBridge.h"
#include "Resources/FontRegistry.h"
#include "TopView/ApplicationMenuButton.h"
#include "TopView/TCImageButton.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/WindowBuilder.h"
#include "Windows/APFSScanWindowController.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/InterfaceTexts.h"
#include "platform/AppPaths.h"
#include "platform/desktop/SingleInstance.h"

namespace velmora::windows {

namespace {

const QString kInitFinished = QStringLiteral("aInitFinished");
const QString kChangeWindowTitle = QStringLiteral("ChangeWindowTitle");
const QString kShowDetailWindow = QStringLiteral("ShowDetailWindow");

QRect ContentRect(double x, double y, double w, double h) {
    return ui::ToQtRect({x, y, w, h}, VKRootWindowController::kPageHeight);
}

QRect BarRect(double x, double y, double w, double h) {
    return ui::ToQtRect({x, y, w, h}, static_cast<int>(VKRootWindowController::kTitleBarHeight));
}

std::optional<QString> AskForFile(const QString& folder, const QString& filter) {
    // The program runs as root: the panel only chooses, it never renames,
    // deletes or makes anything.
    const QString path =
        QFileDialog::getOpenFileName(nullptr, QString(), folder, filter, nullptr,
                                     QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

// The running copy may take a moment to answer; the wait is on a thread of
// its own while this one keeps handling events.
bool HandOverToRunningCopy(const QString& path) {
    const std::string file = path.toStdString();
    std::future<platform::InstanceChannel::Handover> answer =
        std::async(std::launch::async, [file] {
            const std::string socket = platform::InstanceChannel::DefaultSocketPath();
            if (socket.empty())
                return platform::InstanceChannel::Handover::NoAnswer;
            return platform::InstanceChannel::HandOver(socket, platform::InvokingUidOrSelf(), file);
        });
    while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return answer.get() == platform::InstanceChannel::Handover::Taken;
}

// The lower buttons, the title bar's buttons and the pages' own take the
// keyboard focus.
void TakeFocus(QWidget* w) {
    w->setFocusPolicy(Qt::StrongFocus);
}

QLabel* MakeCaption(QWidget* parent, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 14));
    label->setStyleSheet(QStringLiteral("color: #383838;"));
    return label;
}

}  // namespace

// The program runs as root: the process's own home is root's, where the
// user's result files are not.
QString ResultFilesStartFolder(const QString& savePath) {
    if (!savePath.isEmpty())
        return savePath;
    return QString::fromStdString(platform::InvokingUserHome());
}

VKRootWindowController::VKRootWindowController(RootWindowSeams seams, QObject* parent)
    : QObject(parent), seams_(std::move(seams)) {
    if (!seams_.exitProcess)
        seams_.exitProcess = [](int code) { std::exit(code); };
    if (!seams_.chooseResultFile) {
        seams_.chooseResultFile = [](const QString& folder) {
            return AskForFile(folder, QStringLiteral("Velmora (*.Velmora)"));
        };
    }
    if (!seams_.handOverResultFile)
        seams_.handOverResultFile = HandOverToRunningCopy;
    if (!seams_.chooseDiskImage) {
        seams_.chooseDiskImage = [] {
            return AskForFile({}, QStringLiteral("Disk images (*.dmg *.edi)"));
        };
    }
    // The rows the bridge makes for this window carry texts of its language.
    InstallInterfaceTexts();
    aWindow_ = new TCImageWindow();
    aWindow_->setObjectName(QStringLiteral("MainXib"));
    // Whoever drives the window by name (the end-to-end walk) reaches its
    // controller's invokable functions through it; the window dies first.
    aWindow_->setProperty("controller", QVariant::fromValue(static_cast<QObject*>(this)));
    aWindow_->resize(kWidth, kPageHeight + static_cast<int>(kTitleBarHeight));
    // The pages have one size: a smaller window would cut off the buttons
    // that lead on (next, scan) with nothing to scroll them back.
    aWindow_->setMinimumSize(aWindow_->size());
    aWindow_->installEventFilter(this);
    awakeFromNib();
}

VKRootWindowController::~VKRootWindowController() {
    removeObservers();
    // The window sends events while it is torn down; we are gone by then.
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

void VKRootWindowController::awakeFromNib() {
    shuttingDown_ = false;
}

void VKRootWindowController::showWindow() {
    if (!aWindow_->isVisible())
        ui::FadeIn(aWindow_, 300);
    aWindow_->raise();
    aWindow_->activateWindow();
}

bool VKRootWindowController::windowDidLoad() {
    if (seam::Bridge().IsAppRunning()) {
        // The result file the user opened goes to the copy that runs; only
        // when that one does not take it is the user told where to open it.
        if (!rsfPath_.isEmpty() && !seams_.handOverResultFile(rsfPath_)) {
            ui::AlertContent alert;
            alert.message = ui::texts::Text(QStringLiteral("PLX_SECOND_START_TITLE"));
            alert.informative =
                ui::texts::Format(QStringLiteral("PLX_SECOND_START_NODE"), {rsfPath_});
            ui::Alerts().Run(alert, nullptr);
        }
        seams_.exitProcess(0);
        return false;
    }
    stattime_ = QDateTime::currentSecsSinceEpoch();
    seam::Bridge().initFileType();
    observe(kChangeWindowTitle, &VKRootWindowController::changeWindowTitle);
    observe(kShowDetailWindow, &VKRootWindowController::showDetailWindow);

    selectScanType_ = 1;
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    aWindow_->setTrafficLightButtonsLeftMargin(8);
    aWindow_->setTopButtonMoveUp(5);
    if (!titleLabel_) {
        titleLabel_ = new QLabel(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")),
                                 aWindow_->titleBarView());
        titleLabel_->setGeometry(BarRect(80, 18, 300, 25));
        titleLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        titleLabel_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Neue Light"), 14));
    }

    // The content view clips the two pages that slide inside it.
    contentView_ = new QWidget();
    contentView_->setObjectName(QStringLiteral("contentView"));
    contentView_->setAutoFillBackground(true);
    QPalette p = contentView_->palette();
    p.setColor(QPalette::Window, Qt::white);
    contentView_->setPalette(p);
    aWindow_->setContentView(contentView_);

    // The lower buttons and their captions (the continue button starts as
    // the page's continue; the scan button is hidden until the disk page).
    backHomeButton_ = new TCImageButton(ContentRect(20, 15, 60, 60), contentView_);
    backHomeButton_->setObjectName(QStringLiteral("backHomeButton"));
    backLabel_ = MakeCaption(contentView_, Qt::AlignLeft);
    backLabel_->setGeometry(ContentRect(86, 33, 200, 24));
    continueButton_ = new TCImageButton(ContentRect(836, 15, 60, 60), contentView_);
    continueButton_->setObjectName(QStringLiteral("continueButton"));
    continueLabel_ = MakeCaption(contentView_, Qt::AlignRight);
    continueLabel_->setGeometry(ContentRect(630, 33, 200, 24));
    connect(backHomeButton_, &QAbstractButton::clicked, this, [this] { onBackHomeButton(); });
    connect(continueButton_, &QAbstractButton::clicked, this, [this] { onContinueButton(); });
    setBackHomeAsContinue();
    continueButton_->hide();
    continueLabel_->hide();
    TakeFocus(backHomeButton_);
    TakeFocus(continueButton_);
    backHomeButton_->setFocusRingRadius(30);
    continueButton_->setFocusRingRadius(30);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = aWindow_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        aWindow_->move(frame.topLeft());
    }
    buildTileBarView();
    buildFristPageView();
    seam::Bridge().ReleaseDataRecovery();
    loaded_ = true;
    if (!rsfPath_.isEmpty())
        loadImportPathLater();
    return true;
}

void VKRootWindowController::observe(const QString& name,
                                     void (VKRootWindowController::*handler)()) {
    ui::NotificationCenter::defaultCenter().addObserver(
        this, name, [this, handler](const ui::Notification&) { (this->*handler)(); });
}

void VKRootWindowController::removeObservers() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
}

void VKRootWindowController::buildTileBarView() {
    aWindow_->setShowsTitle(false);
    if (!aboutButton_) {
        aboutButton_ = new TCImageButton(BarRect(860, 20, 16, 16), aWindow_->titleBarView());
        aboutButton_->setObjectName(QStringLiteral("aboutButton"));
        aboutButton_->setImageFromFileNormalName("icon_infor", "icon_infor_hover",
                                                 "icon_infor_hover", "icon_infor");
        aboutButton_->setButtonEnabled(true);
        aboutButton_->setToolTip(QStringLiteral("About us"));
        aboutButton_->setAccessibleName(QStringLiteral("About us"));
        TakeFocus(aboutButton_);
        connect(aboutButton_, &QAbstractButton::clicked, this, [this] { aboutAction(); });
    }
    createImportButton();
    // The application menu at the title bar's right end (the window has no
    // desktop title bar or menu bar to hold it).
    if (!menuButton_ && seams_.applicationMenu) {
        menuButton_ = new ApplicationMenuButton(BarRect(886, 20, 16, 16), aWindow_->titleBarView(),
                                                seams_.applicationMenu);
        TakeFocus(menuButton_);
    }
}

void VKRootWindowController::createImportButton() {
    if (importButton_)
        return;
    importButton_ = new TCImageButton(BarRect(828, 20, 16, 16), aWindow_->titleBarView());
    importButton_->setObjectName(QStringLiteral("importButton"));
    importButton_->setImageFromFileNormalName("icon_import", "icon_import_hover",
                                              "icon_import_hover", "icon_import");
    importButton_->setButtonEnabled(true);
    importButton_->setToolTip(ui::texts::Text(QStringLiteral("PLX_TWO_IMPORT_BUTTON_TIP")));
    importButton_->setAccessibleName(importButton_->toolTip());
    TakeFocus(importButton_);
    connect(importButton_, &QAbstractButton::clicked, this, [this] { importButtonAction(); });
}

void VKRootWindowController::changeWindowTitle() {
    if (titleLabel_)
        titleLabel_->setText(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")));
}

void VKRootWindowController::aboutAction() {
    if (seams_.showAbout)
        seams_.showAbout();
    if (aWindow_)
        aWindow_->activateWindow();
}

void VKRootWindowController::buildFristPageView() {
    InfoButtonClick();
}

void VKRootWindowController::InfoButtonClick() {
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    delete selectTypeVC_;
    selectTypeVC_ = new VKSelectTypeViewController(contentView_);
    selectTypeVC_->setDelegate(this);
    selectTypeVC_->move(0, 0);
    selectTypeVC_->show();
    selectTypeVC_->buildCategoryPanel();
    // The lower-left button goes on from this page as the next button does,
    // and only when it may.
    connect(selectTypeVC_, &VKSelectTypeViewController::nextUsableChanged, this,
            [this](bool usable) {
                if (!backHomeGoesBack_)
                    backHomeButton_->setButtonEnabled(usable);
            });
    selectTypeVC_->setSelectAllCount(0);
    selectTypeVC_->allTypesButtonClick();
    whichPage_ = 2;
    backHomeButton_->setIsFocus(false);
    // The lower buttons stay over the pages.
    for (QWidget* w :
         {static_cast<QWidget*>(backHomeButton_), static_cast<QWidget*>(backLabel_),
          static_cast<QWidget*>(continueButton_), static_cast<QWidget*>(continueLabel_)}) {
        w->raise();
    }
    // Tab runs through the page, then the lower buttons; the keyboard starts
    // on the page's default, the next button.
    QWidget::setTabOrder(selectTypeVC_->nextButton(), backHomeButton_);
    QWidget::setTabOrder(backHomeButton_, continueButton_);
    selectTypeVC_->nextButton()->setFocus(Qt::OtherFocusReason);
}

// The scan looks for exactly the categories ticked on the page: each entry
// is the decimal text of its bit. Nothing ticked leaves the page where it is.
void VKRootWindowController::nextButtonActionWithAllTypeArr(QStringList* types) {
    allTypeArr_ = types ? *types : QStringList();
    const int mask = CategoryMask(allTypeArr_);
    if (mask == 0)
        return;
    selectValues_ = mask;
    selectTypesContinouButtonClick();
}

void VKRootWindowController::selectTypesContinouButtonClick() {
    if (whichPage_ == 2) {
        continueButton_->setButtonEnabled(false);
        backHomeButton_->setButtonEnabled(false);
        getDiskData();
        return;
    }
    startScan();
}

void VKRootWindowController::getDiskData() {
    removeObservers();
    seam::Bridge().NotifiyDeviceInfoAfterInit(kInitFinished.toStdString());
    observe(kInitFinished, &VKRootWindowController::InitFinished);
}

void VKRootWindowController::InitFinished() {
    std::vector<DiskVolumeNodePtr> devices;
    seam::Bridge().GetDeviceInfoToArray(&devices);

    // Count the volumes; a disk with space outside its only volume counts
    // twice, as there is then something to choose.
    int count = 0;
    DiskVolumeNodePtr first, last;
    int64_t lastCapacity = 0;
    for (const DiskVolumeNodePtr& disk : devices) {
        const auto& children = disk->children();
        if (!children)
            continue;
        for (const DiskVolumeNodePtr& child : *children) {
            ++count;
            if (!first)
                first = child;
            last = child;
            lastCapacity = child->capacity();
        }
        if (count == 1 && disk->capacity() - lastCapacity >= kSpareDiskBytes)
            ++count;
    }

    backHomeButton_->show();
    backLabel_->show();
    backLabel_->setText(ui::texts::Text(QStringLiteral("COMM_BACK_BUTTON")));
    backHomeGoesBack_ = true;
    backHomeButton_->setImageFromFileNormalName("back_normal", "back_press", "back_hover",
                                                "back_disable");
    backHomeButton_->setAccessibleName(backLabel_->text());
    backHomeButton_->setButtonEnabled(true);
    continueButton_->show();
    continueLabel_->show();
    whichPage_ = 3;
    seam::Bridge().SetRecoveryType(selectValues_);

    // A list of disks without any volume shows the disk page (with nothing
    // to choose) rather than starting on nothing.
    if (count <= 1 && !devices.empty() && last) {
        selectVolumeData_ = last;
        selectTypesContinouButtonClick();
    } else {
        delete selectDiskVC_;
        selectDiskVC_ =
            new VKSelectDiskViewController(contentView_, backHomeButton_, continueButton_);
        selectDiskVC_->setDelegate(this);
        selectDiskVC_->move(kWidth, 0);
        selectDiskVC_->show();
        endtime_ = QDateTime::currentSecsSinceEpoch();
        continueButton_->setImageFromFileNormalName("scan_normal", "scan_press", "scan_hover",
                                                    "scan_disable");
        continueLabel_->setText(ui::texts::Text(QStringLiteral("PLX_THREE_SCAN_BUTTON")));
        animationContinueViewFristView(selectTypeVC_, selectDiskVC_);
        continueButton_->setButtonEnabled(false);
        for (QWidget* w :
             {static_cast<QWidget*>(backHomeButton_), static_cast<QWidget*>(backLabel_),
              static_cast<QWidget*>(continueButton_), static_cast<QWidget*>(continueLabel_)}) {
            w->raise();
        }
        selectDiskVC_->setSelectDiskVolume(first);
        selectDiskVC_->setAllDiskArr(devices);
        selectDiskVC_->InitFinished();
        continueButton_->setAccessibleName(continueLabel_->text());
        QWidget::setTabOrder(selectDiskVC_, backHomeButton_);
        QWidget::setTabOrder(backHomeButton_, continueButton_);
    }
    removeObservers();
    observe(kChangeWindowTitle, &VKRootWindowController::changeWindowTitle);
}

void VKRootWindowController::changeSelectDiskViewContinueButtonEnabled(
    const DiskVolumeNodePtr& row) {
    if (row) {
        continueButton_->setButtonEnabled(true);
        selectVolumeData_ = row;
    } else {
        continueButton_->setButtonEnabled(false);
    }
}

void VKRootWindowController::doubleClickedListToScan(int desktop) {
    selectDesktop_ = desktop;
    selectTypesContinouButtonClick();
}

void VKRootWindowController::changeScanTypeWithNum(int kind) {
    selectScanType_ = kind;
}

void VKRootWindowController::isSelectOffice(int flag) {
    isSelectOffice_ = flag;
}

void VKRootWindowController::startScan() {
    // No row chosen: nothing to scan (the scan button is off then).
    if (!selectVolumeData_)
        return;
    if (!selectVolumeData_->beCanOpen()) {
        if (seams_.showCannotOpenNotice) {
            seams_.showCannotOpenNotice();
        } else {
            APFSScanWindowController notice;
            notice.runModal();
        }
        if (aWindow_)
            aWindow_->activateWindow();
        return;
    }
    if (selectDiskVC_) {
        selectDiskVC_->removeNotification();
        selectDiskVC_->disableRefreshDevice();
    }
    // The scan owns the devices until the browser goes home (a rebuild of
    // the list would stop it).
    DeviceListRefresher::shared().suspend();
    closing_ = true;
    aWindow_->close();
    closing_ = false;

    deletailWC_.reset();
    if (seams_.makeDetailWindow)
        deletailWC_ = seams_.makeDetailWindow();
    if (deletailWC_) {
        deletailWC_->setSelectDiskVolumeData(selectVolumeData_);
        deletailWC_->setScanTypeNum(selectScanType_);
        deletailWC_->setSelectDesktop(selectDesktop_);
        stattime_ = QDateTime::currentSecsSinceEpoch();
        placeDetailWindow();
        if (QWidget* browser = deletailWC_->window()) {
            browser->show();
            browser->activateWindow();
        }
        ui::PerformAfter(this, 300, [this] { getDataForDeletailPage(); });
    } else {
        qWarning() << "no results browser to open";
    }
    removeObservers();
}

void VKRootWindowController::getDataForDeletailPage() {
    if (deletailWC_)
        deletailWC_->getData();
}

// The browser opens where this window is, 50 points lower.
void VKRootWindowController::placeDetailWindow() {
    QWidget* browser = deletailWC_ ? deletailWC_->window() : nullptr;
    if (!browser)
        return;
    browser->move(aWindow_->pos() + QPoint(0, 50));
}

void VKRootWindowController::setBackHomeAsContinue() {
    backHomeGoesBack_ = false;
    backHomeButton_->setImageFromFileNormalName("continue_normal", "continue_press",
                                                "continue_hover", "continue_disable");
    backLabel_->setText(ui::texts::Text(QStringLiteral("PLX_TWO_CONTINUE_BUTTON")));
    backHomeButton_->setAccessibleName(backLabel_->text());
}

void VKRootWindowController::onBackHomeButton() {
    if (backHomeGoesBack_)
        backHome();
    else if (selectTypeVC_ && selectTypeVC_->nextButton()->isButtonUsable())
        selectTypeVC_->nextButtonAction();
}

// On the disk page the scan button scans the chosen row.
void VKRootWindowController::onContinueButton() {
    if (selectDiskVC_ && whichPage_ == 3)
        selectDiskVC_->scanButtonAction();
}

void VKRootWindowController::backHome() {
    if (whichPage_ == 3) {
        // The choice stays as the user left it: dropping music here would
        // hide songs whose box still shows ticked.
        isSelectOffice(allTypeArr_.contains(QStringLiteral("8")) && isSelectOffice_ ? 1 : 0);
        setBackHomeAsContinue();
        backHomeButton_->setButtonEnabled(!selectTypeVC_ ||
                                          selectTypeVC_->nextButton()->isButtonUsable());
        animationBackViewFristView(selectTypeVC_, selectDiskVC_);
        whichPage_ = 2;
        continueButton_->hide();
        continueLabel_->hide();
        return;
    }
    aWindow_->setTopButtonMoveUp(0);
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    backHomeButton_->hide();
    continueButton_->hide();
    backLabel_->hide();
    continueLabel_->hide();
    if (titleLabel_)
        titleLabel_->show();
    aWindow_->setShowsTitle(false);
    aWindow_->titleBarView()->update();
    whichPage_ = 1;
}

// The slides take no time: the pages change at once. The page out of view
// is switched off, so that Tab never moves the keyboard onto it.
void VKRootWindowController::animationContinueViewFristView(QWidget* first, QWidget* second) {
    if (first) {
        first->move(-kWidth, 0);
        first->setEnabled(false);
    }
    if (second) {
        second->move(0, 0);
        second->setEnabled(true);
    }
}

void VKRootWindowController::animationBackViewFristView(QWidget* first, QWidget* second) {
    if (first) {
        first->move(0, 0);
        first->setEnabled(true);
    }
    if (second) {
        second->move(kWidth, 0);
        second->setEnabled(false);
    }
    if (selectTypeVC_)
        selectTypeVC_->nextButton()->setFocus(Qt::OtherFocusReason);
}

// Keys no control took: Return and Enter press the page's default button
// (the next button, then the scan button) when it can be used; Escape on the
// disk page goes back.
bool VKRootWindowController::defaultKey(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        TCImageButton* button = nullptr;
        if (whichPage_ == 2 && selectTypeVC_)
            button = selectTypeVC_->nextButton();
        else if (whichPage_ == 3)
            button = continueButton_;
        if (button && button->isVisibleTo(aWindow_) && button->isEnabled() &&
            button->isButtonUsable())
            button->click();
        return true;
    }
    if (key == Qt::Key_Escape && whichPage_ == 3) {
        if (backHomeButton_->isButtonUsable())
            backHomeButton_->click();
        return true;
    }
    return false;
}

void VKRootWindowController::importButtonAction() {
    importButtonClick();
}

void VKRootWindowController::importButtonClick() {
    const std::optional<std::string> folder = seam::Bridge().GetSavePath();
    const std::optional<QString> path = seams_.chooseResultFile(
        ResultFilesStartFolder(folder ? QString::fromStdString(*folder) : QString()));
    if (!path) {
        // Without a window manager nobody hands the keyboard back once the
        // panel is gone: the window takes it again itself, so Tab and the
        // arrows go on working.
        if (aWindow_ && aWindow_->isVisible()) {
            aWindow_->activateWindow();
            if (importButton_)
                importButton_->setFocus(Qt::OtherFocusReason);
        }
        return;
    }
    importResultFile(*path);
}

void VKRootWindowController::importResultFile(const QString& path) {
    // Said once per load, also for the file given at start, so that a log
    // shows which file the windows were asked to open.
    qInfo().noquote() << "loading the result file" << path;
    seam::Bridge().SetRecoveryType(kAllCategories);
    importFilePath_ = path;

    deletailWC_.reset();
    if (seams_.makeDetailWindow)
        deletailWC_ = seams_.makeDetailWindow();
    placeDetailWindow();
    if (deletailWC_ && deletailWC_->window())
        deletailWC_->window()->hide();
    if (whichPage_ == 3)
        observe(kShowDetailWindow, &VKRootWindowController::showDetailWindow);

    if (selectDiskVC_)
        selectDiskVC_->disableRefreshDevice();
    seam::Bridge().beginSaveOrRestoreNode(0, importFilePath_.toStdString(), std::nullopt);
    if (deletailWC_)
        deletailWC_->getImportData(importFilePath_);

    const int result =
        seams_.runLoadProgress ? seams_.runLoadProgress(QStringLiteral("NormalScranValue")) : 0;
    if (aWindow_)
        aWindow_->activateWindow();
    removeObservers();

    if (result != 0 && deletailWC_) {
        if (selectDiskVC_)
            selectDiskVC_->hide();
        // The browser reads the devices of the loaded result until it goes
        // home; a rebuild of the list would free them under it.
        DeviceListRefresher::shared().suspend();
        closing_ = true;
        aWindow_->close();
        closing_ = false;
        if (QWidget* browser = deletailWC_->window()) {
            browser->show();
            browser->activateWindow();
        }
        removeObservers();
        return;
    }
    if (deletailWC_) {
        deletailWC_->clearImportData();
        if (QWidget* browser = deletailWC_->window())
            browser->close();
        deletailWC_.reset();
    }
}

void VKRootWindowController::showDetailWindow() {
    if (deletailWC_ && deletailWC_->window())
        deletailWC_->window()->show();
}

// A result file given at start goes the way of an import once the window
// is set up, whichever comes first.
void VKRootWindowController::SetImportPath(const QString& path) {
    rsfPath_ = path;
    if (loaded_ && !rsfPath_.isEmpty())
        loadImportPathLater();
}

void VKRootWindowController::openHandedOverFile(const QString& path) {
    // What runs now is not cut off, and a result on show (perhaps a scan
    // not saved yet) is not swapped for another without the user's word.
    QString reason;
    if (seam::Bridge().IsScanRunning())
        reason = QStringLiteral("PLX_HANDED_OVER_SCANNING");
    else if (seam::Bridge().IsRecoveryRunning())
        reason = QStringLiteral("PLX_HANDED_OVER_RECOVERING");
    else if (ui::Modal().AnyRunning())
        reason = QStringLiteral("PLX_HANDED_OVER_WAITING");
    else if (deletailWC_ && deletailWC_->window() && deletailWC_->window()->isVisible())
        reason = QStringLiteral("PLX_HANDED_OVER_SHOWING");
    if (reason.isEmpty()) {
        importResultFile(path);
        return;
    }
    qInfo().noquote() << "the result file" << path << "was handed over but not opened:" << reason;
    ui::AlertContent alert;
    alert.message = ui::texts::Text(QStringLiteral("PLX_HANDED_OVER_TITLE"));
    alert.informative = ui::texts::Format(reason, {path});
    ui::Alerts().Run(alert, nullptr);
}

void VKRootWindowController::loadImportPathLater() {
    ui::PerformAfter(this, 0, [this] {
        if (rsfPath_.isEmpty())
            return;
        const QString path = rsfPath_;
        rsfPath_.clear();
        importResultFile(path);
    });
}

void VKRootWindowController::doSowExportEdiWindow() {
    if (const std::optional<QString> path = seams_.chooseDiskImage())
        loadEdiWithPath(*path);
}

// A plain disk image (".dmg") or one of the program's own edi images joins
// the disk list; anything else, or an image that does not open, changes
// nothing. The edi images had no other way in.
void VKRootWindowController::loadEdiWithPath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    int opened = 0;
    if (suffix == QLatin1String("dmg"))
        opened = seam::Bridge().VKOpenDmgFile(path.toStdString());
    else if (suffix == QLatin1String("edi"))
        opened = seam::Bridge().VKOpenEdiFile(path.toStdString());
    if (opened && selectDiskVC_)
        selectDiskVC_->RefreshDevice();
}

// The close button ends the program without asking.
void VKRootWindowController::closeWindow() {
    closing_ = true;
    aWindow_->hide();
    closing_ = false;
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("appWillTerminate"));
}

void VKRootWindowController::windowShouldClose() {
    ui::Fade(aWindow_, 0, 300, [this] { animationDidStop(); });
}

void VKRootWindowController::animationDidStop() {
    if (!aWindow_ || aWindow_->windowOpacity() != 0.0)
        return;
    closing_ = true;
    aWindow_->close();
    closing_ = false;
    if (shuttingDown_)
        QCoreApplication::quit();
}

bool VKRootWindowController::eventFilter(QObject* watched, QEvent* event) {
    // A close from outside (the close button) hides the window as
    // closeWindow does; the program is told once the window is gone.
    // The event's type first: the guarded pointer would cast a window that
    // is being destroyed to the window class it no longer is.
    if (event->type() == QEvent::KeyPress && watched == aWindow_) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (modifiers == Qt::KeyboardModifiers() && defaultKey(key->key()))
            return true;
    }
    if (event->type() == QEvent::Close && !closing_ && watched == aWindow_) {
        QMetaObject::invokeMethod(
            this,
            [] {
                ui::NotificationCenter::defaultCenter().post(QStringLiteral("appWillTerminate"));
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::windows
