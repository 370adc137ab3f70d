// The window that closes a recovery which ran to its end: the files were
// written, and the link opens the folder that holds them.
#pragma once

#include "Windows/RecoveryEndWindow.h"

namespace velmora::windows {

class VKScanEndSaveWindowController : public RecoveryEndWindow {
    Q_OBJECT
public:
    explicit VKScanEndSaveWindowController(const QString& savePathStr,
                                           platform::Workspace* workspace = nullptr,
                                           QObject* parent = nullptr);
};

}  // namespace velmora::windows
