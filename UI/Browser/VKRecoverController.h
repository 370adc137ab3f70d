// The road from the ticked files to recovered copies: the bottom bar's
// count and size, the Recover button, the folder sheet, the checks on the
// folder (writable, not on the scanned device, room for the files), the
// bridge's recovery, its progress window and the window that closes it.
// Everything runs on the main thread; the bridge reports through the
// notification "DoRecovery".
#pragma once

#include <QDateTime>
#include <QObject>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "OutputDestination.h"
#include "Windows/VKShowScanProgressWindowController.h"

namespace velmora::platform {
class Workspace;
}

namespace velmora::windows {
class VKScanEndSaveWindowController;
class VKScanNotEndSaveWindowController;
}  // namespace velmora::windows

namespace velmora::browser {

class VKRecoverFolderSheet;
class VKRecoverHost;

// The room a recovery of `selected` bytes asks for: 105 %, rounded down.
uint64_t RecoveryRoomNeeded(uint64_t selected);

// The time a recovery `percent` done after `elapsedSeconds` has left, as
// "HH:MM:SS"; "-:-:-" until it can be told (under 1 %, or no time yet).
QString RecoveryTimeLeft(double percent, qint64 elapsedSeconds);

class VKRecoverController : public QObject,
                            public windows::VKShowScanProgressWindowControllerDelegate {
    Q_OBJECT
public:
    // The free space of the chosen folder; the default asks the file system.
    // Whether the folder may be used at all is the bridge's check
    // (CheckOutputFolder), made as the invoking user.
    struct FolderChecks {
        // Free bytes; none when the file system cannot tell.
        std::function<std::optional<int64_t>(const QString&)> freeSpace;
    };

    // `sheet` and `workspace` null: the platform's.
    VKRecoverController(VKRecoverHost& host, VKRecoverFolderSheet* sheet = nullptr,
                        platform::Workspace* workspace = nullptr, QObject* parent = nullptr);
    ~VKRecoverController() override;

    void setFolderChecks(FolderChecks checks) { checks_ = std::move(checks); }

    // Recounts the ticked files; after every change of a tick.
    void showSelectFilesCountAndSize();
    // The Recover button's action.
    void recoveryButtonClick();
    // Every "DoRecovery" of the bridge.
    void recoveryAction();
    // From the progress window: 1 pauses or resumes, anything else stops.
    void stopButtonAction(int code) override;

    int selectedFileCnt() const { return selectedFileCnt_; }
    uint64_t selectedFileSize() const { return selectedFileSize_; }
    const QString& recoverySavePathStr() const { return recoverySavePathStr_; }
    windows::VKShowScanProgressWindowController* recoveryProgressWindow() const {
        return recoveryProgressWindow_.get();
    }
    windows::VKScanEndSaveWindowController* scanEndSaveWC() const { return scanEndSaveWC_.get(); }
    windows::VKScanNotEndSaveWindowController* scanNotEndSaceWC() const {
        return scanNotEndSaceWC_.get();
    }

private:
    void folderChosen(std::optional<QString> folder, QRect frame);
    // Both say the bridge's reason in words of their own.
    void alertNoCompetence(bridge::OutputProblem problem);
    void alertSameDevice(bridge::OutputProblem problem);
    // Says how much the selected files take and how much the folder has.
    void alertNoLeakOfSpace(int64_t freeBytes);
    void alertRecoveryNotStarted();
    void startRecovery();
    void releaseProgressWindow();
    void showRecoveryEndWindow();
    void showRecoveryNotEndWindow();
    void bringBrowserForward();

    VKRecoverHost& host_;
    VKRecoverFolderSheet* sheet_;
    platform::Workspace* workspace_;
    FolderChecks checks_;
    std::unique_ptr<VKRecoverFolderSheet> ownSheet_;

    int selectedFileCnt_ = 0;
    // When the progress window of this recovery opened: the time left is
    // worked out from it.
    QDateTime recoveryShownAt_;
    uint64_t selectedFileSize_ = 0;
    uint64_t selectValue_ = 0;
    QRect rectNew_;
    QString recoverySavePathStr_;
    bool isBeginRecovery_ = false;
    // Nothing to finish until a recovery starts.
    bool isFinishRecovery_ = true;
    bool isRecoveryEndSHowWindow_ = false;
    std::unique_ptr<windows::VKShowScanProgressWindowController> recoveryProgressWindow_;
    // A progress window taken away from inside one of its own buttons: it
    // lives on until the next recovery (or this controller) ends it.
    std::unique_ptr<windows::VKShowScanProgressWindowController> retiredProgressWindow_;
    std::unique_ptr<windows::VKScanEndSaveWindowController> scanEndSaveWC_;
    std::unique_ptr<windows::VKScanNotEndSaveWindowController> scanNotEndSaceWC_;
};

}  // namespace velmora::browser
