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
                                                                const QString& savePath,
                                                                uint64_t notRecovered) {
    QString sentence = ui::texts::Format(QStringLiteral("PLX_FOUR_RECOVER_NOTEND_NODE"), {files});
    if (notRecovered > 0)
        sentence += ' ' + ui::texts::Format(QStringLiteral("RECOVERY_NOTEND_REFUSED"),
                                            {QVariant::fromValue<qulonglong>(notRecovered)});
    noteLabel()->setText(sentence);
    fitNote();
    noteLabel()->update();
    setSavePath(savePath);
}

}  // namespace velmora::windows
