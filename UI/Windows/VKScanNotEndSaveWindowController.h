// The window that closes a recovery the user stopped: how many files were
// written by then, and the link to the folder that holds them.
#pragma once

#include "Windows/RecoveryEndWindow.h"

namespace velmora::windows {

class VKScanNotEndSaveWindowController : public RecoveryEndWindow {
    Q_OBJECT
public:
    explicit VKScanNotEndSaveWindowController(platform::Workspace* workspace = nullptr,
                                              QObject* parent = nullptr);

    void changeRecoveryFilesPoint(double files, const QString& savePath);
};

}  // namespace velmora::windows
