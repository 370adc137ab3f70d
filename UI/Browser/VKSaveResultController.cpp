#include "Browser/VKSaveResultController.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>

#include "BridgeSeam/IBridge.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "Windows/OutputProblemText.h"
#include "Windows/VKProgressWindow.h"
#include "Windows/VKRootWindowController.h"
#include "platform/desktop/InvokingUser.h"

namespace velmora::browser {

namespace {

const QString kSavePostName = QStringLiteral("QueryProgressInfo");

std::optional<QString> SavePanel(QWidget* window, const QString& proposed) {
    const QString ext = VKSaveResultController::ResultExtension();
    const std::optional<std::string> saved = seam::Bridge().GetSavePath();
    const QString folder =
        windows::ResultFilesStartFolder(saved ? QString::fromStdString(*saved) : QString());
    // The program runs as root: the panel only chooses (no renaming,
    // deleting or new folders there); the save writes as the user.
    QString path = QFileDialog::getSaveFileName(
        window, QString(), folder + QLatin1Char('/') + proposed + QLatin1Char('.') + ext,
        QStringLiteral("*.") + ext, nullptr,
        QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
    if (path.isEmpty())
        return std::nullopt;
    if (QFileInfo(path).suffix() != ext)
        path += QLatin1Char('.') + ext;
    return path;
}

int RunSaveProgress(const QString& postName) {
    return windows::RunProgressWindow(postName, true);
}

QString T(const char* key) {
    return ui::texts::Text(QString::fromLatin1(key));
}

}  // namespace

VKSaveResultController::VKSaveResultController(QWidget* window, ChooseFile choose,
                                               RunProgress progress, IsWritable writable)
    : window_(window),
      choose_(choose ? std::move(choose)
                     : ChooseFile([this](const QString& p) { return SavePanel(window_, p); })),
      progress_(progress ? std::move(progress) : RunProgress(&RunSaveProgress)),
      writable_(writable ? std::move(writable) : IsWritable(&FolderIsWritable)) {}

// The file is made in the folder itself, so only the folder's own
// permissions matter; a writable parent says nothing about it.
bool VKSaveResultController::FolderIsWritable(const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return false;
    platform::AsInvokingUser asUser;
    return faccessat(AT_FDCWD, folder.toLocal8Bit().constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool VKSaveResultController::exportButtonAction() {
    seam::IBridge& bridge = seam::Bridge();
    QString path;
    QString folder;
    for (;;) {
        const std::optional<QString> chosen =
            choose_(QString::fromStdString(bridge.GetSaveFileName()));
        if (!chosen)
            return false;
        path = *chosen;
        folder = QFileInfo(path).absolutePath();
        if (!writable_(folder)) {
            ui::AlertContent alert;
            alert.message = QStringLiteral("Warning!");
            alert.defaultButton = T("CHANG_DESTINATION");
            alert.alternateButton = T("PLX_FOUR_SCAN_STOP_NO_BUTTON");
            // The bridge's own reason when it has one (no permission, a
            // link of someone else's, no folder); the general words else.
            const velmora::bridge::OutputProblem problem =
                bridge.CheckOutputFolder(folder.toStdString());
            alert.informative = problem == velmora::bridge::OutputProblem::kNone ||
                                        velmora::bridge::IsOnScannedDevice(problem)
                                    ? T("SAVE_CANNOT_WRITE")
                                    : windows::OutputProblemText(problem);
            if (ui::Alerts().Run(alert, window_) == 1)
                continue;
            return false;
        }
        if (bridge.IsRecoveryToSameDevice(folder.toStdString())) {
            ui::AlertContent alert;
            alert.message = T("SAVE_SAME_DISK_WARNING");
            alert.defaultButton = T("CHANG_DESTINATION");
            alert.alternateButton = T("PLX_FOUR_SCAN_STOP_NO_BUTTON");
            alert.otherButton = T("PLX_FOUR_SCAN_STOP_YES_BUTTON");
            alert.informative = T("SAVE_SAME_DISK_PROMPT");
            const int answer = ui::Alerts().Run(alert, window_);
            if (answer == 1)
                continue;
            if (answer != -1)
                return false;
        }
        break;
    }
    qInfo("Call Logic code save file %s", qUtf8Printable(path));
    bridge.RestorPostUIUpdate(kSavePostName.toStdString(), 1);
    bridge.beginSaveOrRestoreNode(1, path.toStdString(), std::nullopt);
    if (!progress_(kSavePostName))
        return false;
    bSave_ = true;
    // The folder, not the file: the load's file chooser opens there.
    bridge.SavePathToPList(folder.toStdString());
    return true;
}

}  // namespace velmora::browser
