#include "Windows/VKScanEndSaveWindowController.h"

namespace velmora::windows {

VKScanEndSaveWindowController::VKScanEndSaveWindowController(const QString& savePathStr,
                                                             platform::Workspace* workspace,
                                                             QObject* parent)
    : RecoveryEndWindow(QStringLiteral("VKScanEndSaveWindowController"), workspace, parent) {
    setSavePath(savePathStr);
}

}  // namespace velmora::windows
