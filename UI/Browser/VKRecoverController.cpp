#include "Browser/VKRecoverController.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include <QWidget>

#include "BridgeSeam/IBridge.h"
#include "Browser/VKRecoverFolderSheet.h"
#include "Browser/VKRecoverHost.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "Windows/DiskTexts.h"
#include "Windows/OutputProblemText.h"
#include "Windows/RecoveryWindowParts.h"
#include "Windows/VKScanEndSaveWindowController.h"
#include "Windows/VKScanNotEndSaveWindowController.h"

namespace velmora::browser {

namespace {

const QString kRecoveryPost = QStringLiteral("DoRecovery");

// The free space where the folder is, or will be made (its nearest
// existing parent).
std::optional<int64_t> FreeBytes(const QString& path) {
    std::string at = path.toLocal8Bit().toStdString();
    struct statvfs fs {};
    while (statvfs(at.c_str(), &fs) != 0) {
        const size_t slash = at.rfind('/');
        if (errno != ENOENT || slash == std::string::npos || at == "/")
            return std::nullopt;
        at.resize(slash == 0 ? 1 : slash);
    }
    return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

}  // namespace

// Exact without the overflow of size × 105 near the top of the range.
uint64_t RecoveryRoomNeeded(uint64_t selected) {
    return selected / 100 * 105 + selected % 100 * 105 / 100;
}

VKRecoverController::VKRecoverController(VKRecoverHost& host, VKRecoverFolderSheet* sheet,
                                         platform::Workspace* workspace, QObject* parent)
    : QObject(parent), host_(host), sheet_(sheet), workspace_(workspace) {
    if (!sheet_) {
        ownSheet_ = std::make_unique<FileDialogFolderSheet>();
        sheet_ = ownSheet_.get();
    }
    checks_.freeSpace = &FreeBytes;
    ui::NotificationCenter::defaultCenter().addObserver(
        this, kRecoveryPost, [this](const ui::Notification&) { recoveryAction(); });
}

VKRecoverController::~VKRecoverController() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
    if (recoveryProgressWindow_)
        recoveryProgressWindow_->setDelegate(nullptr);
}

void VKRecoverController::showSelectFilesCountAndSize() {
    if (host_.isScanRunningUnpaused())
        return;
    selectedFileCnt_ = 0;
    selectedFileSize_ = 0;
    seam::Bridge().GetSelectedFilesAmout(&selectedFileCnt_, &selectedFileSize_);
    host_.setRecoverButtonEnabled(selectedFileCnt_ >= 1);
    host_.setSelectFilesText(
        ui::texts::Format(QStringLiteral("PLX_FOUR_SELECT_FILES"),
                          {windows::ConvertVolSpace(selectedFileSize_), selectedFileCnt_}));
    selectValue_ = selectedFileSize_;
}

void VKRecoverController::recoveryButtonClick() {
    host_.setRecoverButtonEnabled(false);
    isRecoveryEndSHowWindow_ = true;
    QWidget* window = host_.browserWindow();
    if (rectNew_.isEmpty() && window) {
        rectNew_ = window->frameGeometry();
        rectNew_.setHeight(std::max(1, rectNew_.height() - 75));
    }
    sheet_->Begin(
        window, ui::texts::Text(QStringLiteral("PLX_FOUR_RECOVERY_NODE")),
        ui::texts::Text(QStringLiteral("PLX_FOUR_RECOVERY_WINDOW_SAVE_BUTTON")), rectNew_,
        [self = QPointer<VKRecoverController>(this)](std::optional<QString> folder, QRect frame) {
            if (self)
                self->folderChosen(std::move(folder), frame);
        });
}

// The checks run in order and the first that fails ends the choice; only
// the last (too little free space) lets the user go on anyway.
void VKRecoverController::folderChosen(std::optional<QString> folder, QRect frame) {
    rectNew_ = frame;
    host_.setRecoverButtonEnabled(true);
    if (!folder)
        return;
    recoverySavePathStr_ = *folder;
    // One check, the bridge's, as the invoking user (root may write
    // anywhere), a folder not made yet judged by its nearest existing
    // parent; the user reads its own reason.
    const bridge::OutputProblem problem =
        seam::Bridge().CheckOutputFolder(recoverySavePathStr_.toStdString());
    if (bridge::IsOnScannedDevice(problem)) {
        alertSameDevice(problem);
        return;
    }
    if (problem != bridge::OutputProblem::kNone) {
        alertNoCompetence(problem);
        return;
    }
    // A free space the file system cannot tell, or a negative one, counts as
    // none; compared unsigned it would pass every check.
    const int64_t free = checks_.freeSpace(recoverySavePathStr_).value_or(0);
    if (free < 0 || static_cast<uint64_t>(free) <= RecoveryRoomNeeded(selectedFileSize_)) {
        alertNoLeakOfSpace(free);
        return;
    }
    startRecovery();
}

QString RecoveryTimeLeft(double percent, qint64 elapsedSeconds) {
    if (percent < 1 || percent > 100 || elapsedSeconds <= 0)
        return QStringLiteral("-:-:-");
    const auto left =
        static_cast<qint64>(static_cast<double>(elapsedSeconds) * (100 - percent) / percent);
    if (left / 3600 > 99)
        return QStringLiteral("-:-:-");
    return QStringLiteral("%1:%2:%3")
        .arg(left / 3600, 2, 10, QLatin1Char('0'))
        .arg((left % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(left % 60, 2, 10, QLatin1Char('0'));
}

void VKRecoverController::alertNoCompetence(bridge::OutputProblem problem) {
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("PLX_FOUR_RECOVERY_NO_COMPETENCE_"));
    alert.informative = windows::OutputProblemText(problem);
    alert.alternateButton.clear();
    ui::Alerts().BeginSheet(alert, host_.browserWindow(), [](int) {});
}

// The bridge never writes onto the scanned device (it would overwrite the
// very files being recovered), so the sheet offers no way to go on there:
// its one button asks for another folder.
void VKRecoverController::alertSameDevice(bridge::OutputProblem problem) {
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("PLX_FOUR_SAVE_SAME_PATH_"));
    alert.informative = windows::OutputProblemText(problem);
    alert.alternateButton.clear();
    ui::Alerts().BeginSheet(
        alert, host_.browserWindow(), [self = QPointer<VKRecoverController>(this)](int code) {
            if (self && code == 1)
                ui::PerformAfter(self, 500, [self] { self->recoveryButtonClick(); });
        });
}

// The bridge refused to start: the user is told, never left waiting for a
// progress window that will not come.
void VKRecoverController::alertRecoveryNotStarted() {
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("RECOVERY_NOT_STARTED_"));
    alert.alternateButton.clear();
    ui::Alerts().BeginSheet(alert, host_.browserWindow(), [](int) {});
}

void VKRecoverController::alertNoLeakOfSpace(int64_t freeBytes) {
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("PLX_FOUR_RECOVERY_NO_SPACE_"));
    alert.informative +=
        QStringLiteral("\n\n") +
        ui::texts::Format(QStringLiteral("PLX_FOUR_RECOVERY_NO_SPACE_SIZES"),
                          {windows::LongLongDiskSize(static_cast<int64_t>(selectedFileSize_)),
                           windows::LongLongDiskSize(std::max<int64_t>(0, freeBytes))});
    ui::Alerts().BeginSheet(alert, host_.browserWindow(),
                            [self = QPointer<VKRecoverController>(this)](int code) {
                                if (self && code == 0)
                                    self->startRecovery();
                            });
}

void VKRecoverController::startRecovery() {
    const int64_t tab = host_.selectTypeCount();
    if (tab < 0 || tab > 3)
        return;
    std::vector<OpNodePtr>* roots = host_.rootArray(static_cast<int>(tab));
    retiredProgressWindow_.reset();
    isFinishRecovery_ = false;
    isBeginRecovery_ = true;
    seam::IBridge& bridge = seam::Bridge();
    const std::string folder = recoverySavePathStr_.toStdString();
    const int64_t result = bridge.DoRecovery(roots, folder, kRecoveryPost.toStdString());
    if (result == 0)
        return;
    // Nothing started: no notification will come to run a progress window,
    // and a late one of an earlier recovery (still finishing its last file)
    // must not end this one as finished.
    isBeginRecovery_ = false;
    isFinishRecovery_ = true;
    // The folder may have changed since it was checked (a mount in
    // between, its permissions): the bridge's reason has its own sheet.
    const velmora::bridge::OutputProblem problem = bridge.CheckOutputFolder(folder);
    if (velmora::bridge::IsOnScannedDevice(problem))
        alertSameDevice(problem);
    else if (problem != velmora::bridge::OutputProblem::kNone)
        alertNoCompetence(problem);
    else
        alertRecoveryNotStarted();
}

void VKRecoverController::recoveryAction() {
    seam::IBridge& bridge = seam::Bridge();
    if (!recoveryProgressWindow_ && bridge.IsRecoveryRunning()) {
        recoveryProgressWindow_ = std::make_unique<windows::VKShowScanProgressWindowController>();
        recoveryProgressWindow_->setDelegate(this);
        windows::recovery::CentreOnScreen(recoveryProgressWindow_->window());
        recoveryShownAt_ = ui::CurrentClock().Now();
    }
    uint64_t total = 0;
    uint64_t current = 0;
    int64_t errorCode = 0;
    const QString name =
        QString::fromStdString(bridge.GetRecoveryProgressTotal(&total, &current, &errorCode));
    if (errorCode <= 0) {
        const double percent =
            total == 0 || current == 0 ? 0.0 : static_cast<double>(current) * 100.0 / total;
        if (recoveryProgressWindow_) {
            recoveryProgressWindow_->changeProgressValue(percent, &name);
            const qint64 elapsed =
                recoveryShownAt_.isValid() ? recoveryShownAt_.secsTo(ui::CurrentClock().Now()) : 0;
            recoveryProgressWindow_->setDetailText(ui::texts::Format(
                QStringLiteral("PLX_FOUR_RECOVERY_DETAIL"),
                {static_cast<qlonglong>(selectedFileCnt_), RecoveryTimeLeft(percent, elapsed)}));
        }
        if (!bridge.IsRecoveryRunning() && !isFinishRecovery_) {
            isFinishRecovery_ = true;
            releaseProgressWindow();
            if (isRecoveryEndSHowWindow_)
                showRecoveryEndWindow();
        }
    } else if (recoveryProgressWindow_) {
        // The destination is full; the bridge has paused the recovery.
        recoveryProgressWindow_->setNoMemeryViewHidden();
    }
    if (isBeginRecovery_ && recoveryProgressWindow_) {
        isBeginRecovery_ = false;
        recoveryProgressWindow_->fadeIn();
        ui::Modal().RunModal(recoveryProgressWindow_->window());
        bringBrowserForward();
    }
}

void VKRecoverController::stopButtonAction(int code) {
    if (code == 1) {
        seam::Bridge().PauseOrResumeRecovery();
        return;
    }
    isFinishRecovery_ = true;
    isRecoveryEndSHowWindow_ = false;
    releaseProgressWindow();
    seam::Bridge().StopRecvoery();
    showRecoveryNotEndWindow();
}

// Ends the window's run and hides it; it may be this call's own caller (a
// button of it), so it is deleted later, never here.
void VKRecoverController::releaseProgressWindow() {
    if (!recoveryProgressWindow_)
        return;
    recoveryProgressWindow_->setDelegate(nullptr);
    ui::Modal().StopModal(recoveryProgressWindow_->window(), 0);
    recoveryProgressWindow_->window()->hide();
    retiredProgressWindow_ = std::move(recoveryProgressWindow_);
}

void VKRecoverController::showRecoveryEndWindow() {
    scanEndSaveWC_.reset();
    scanEndSaveWC_ =
        std::make_unique<windows::VKScanEndSaveWindowController>(recoverySavePathStr_, workspace_);
    seam::IBridge& bridge = seam::Bridge();
    scanEndSaveWC_->setNotRecoveredFiles(
        bridge.GetRecoveryRefusedFiles(),
        QString::fromStdString(bridge.GetRecoveryRefusedListPath()));
    scanEndSaveWC_->runModal();
    bringBrowserForward();
}

void VKRecoverController::showRecoveryNotEndWindow() {
    scanNotEndSaceWC_.reset();
    scanNotEndSaceWC_ = std::make_unique<windows::VKScanNotEndSaveWindowController>(workspace_);
    seam::IBridge& bridge = seam::Bridge();
    scanNotEndSaceWC_->changeRecoveryFilesPoint(static_cast<double>(bridge.GetRecoveridedFiles()),
                                                recoverySavePathStr_,
                                                bridge.GetRecoveryRefusedFiles());
    scanNotEndSaceWC_->runModal();
    bringBrowserForward();
}

void VKRecoverController::bringBrowserForward() {
    if (QWidget* window = host_.browserWindow())
        window->activateWindow();
}

}  // namespace velmora::browser
