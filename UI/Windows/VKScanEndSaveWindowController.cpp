#include "Windows/VKScanEndSaveWindowController.h"

#include <QFileInfo>
#include <QLabel>

#include "UIPlatform/Texts.h"

namespace velmora::windows {

VKScanEndSaveWindowController::VKScanEndSaveWindowController(const QString& savePathStr,
                                                             platform::Workspace* workspace,
                                                             QObject* parent)
    : RecoveryEndWindow(QStringLiteral("VKScanEndSaveWindowController"), workspace, parent) {
    setSavePath(savePathStr);
}

void VKScanEndSaveWindowController::setNotRecoveredFiles(uint64_t files, const QString& listPath) {
    if (files == 0)
        return;
    titleLabel()->setText(ui::texts::Text(QStringLiteral("RECOVERY_END_INCOMPLETE_TITLE")));
    QString note = ui::texts::Format(QStringLiteral("RECOVERY_END_INCOMPLETE_NODE"),
                                     {QVariant::fromValue<qulonglong>(files)});
    if (!listPath.isEmpty())
        note += ' ' + ui::texts::Format(QStringLiteral("RECOVERY_END_INCOMPLETE_LIST"),
                                        {QFileInfo(listPath).fileName()});
    noteLabel()->setText(note);
    fitNote();
}

}  // namespace velmora::windows
