#include "Windows/VKScanNotEndSaveWindowController.h"

#include <QLabel>

#include "UIPlatform/Texts.h"

namespace velmora::windows {

VKScanNotEndSaveWindowController::VKScanNotEndSaveWindowController(platform::Workspace* workspace,
                                                                   QObject* parent)
    : RecoveryEndWindow(QStringLiteral("VKScanNotEndSaveWindowController"), workspace, parent) {
    // Only the sentence says what happened: the heading is the finished
    // window's.
    titleLabel()->hide();
    noteLabel()->setGeometry(titleLabel()->geometry().united(noteLabel()->geometry()));
}

// The translation is put in as a checked pattern, never handed to printf:
// a text whose conversions do not fit one number is shown as it stands.
void VKScanNotEndSaveWindowController::changeRecoveryFilesPoint(double files,
                                                                const QString& savePath) {
    noteLabel()->setText(
        ui::texts::Format(QStringLiteral("PLX_FOUR_RECOVER_NOTEND_NODE"), {files}));
    noteLabel()->update();
    setSavePath(savePath);
}

}  // namespace velmora::windows
