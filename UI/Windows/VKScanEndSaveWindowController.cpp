#include "Windows/VKScanEndSaveWindowController.h"

#include <QLabel>

#include "UIPlatform/Texts.h"

namespace velmora::windows {

VKScanEndSaveWindowController::VKScanEndSaveWindowController(const QString& savePathStr,
                                                             platform::Workspace* workspace,
                                                             QObject* parent)
    : RecoveryEndWindow(QStringLiteral("VKScanEndSaveWindowController"), workspace, parent) {
    setSavePath(savePathStr);
}

void VKScanEndSaveWindowController::setNotRecoveredFiles(uint64_t files) {
    if (files == 0)
        return;
    titleLabel()->setText(ui::texts::Text(QStringLiteral("RECOVERY_END_INCOMPLETE_TITLE")));
    noteLabel()->setText(ui::texts::Format(QStringLiteral("RECOVERY_END_INCOMPLETE_NODE"),
                                           {QVariant::fromValue<qulonglong>(files)}));
}

}  // namespace velmora::windows
