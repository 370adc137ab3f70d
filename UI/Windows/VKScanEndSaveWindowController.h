// The window that closes a recovery which ran to its end: the files were
// written, and the link opens the folder that holds them.
#pragma once

#include <cstdint>

#include "Windows/RecoveryEndWindow.h"

namespace velmora::windows {

class VKScanEndSaveWindowController : public RecoveryEndWindow {
    Q_OBJECT
public:
    explicit VKScanEndSaveWindowController(const QString& savePathStr,
                                           platform::Workspace* workspace = nullptr,
                                           QObject* parent = nullptr);

    // `files` of the ticked files were not written: the heading and the
    // message say so and how many, so that a recovery that lost files never
    // reads as a plain success; `listPath`, when given, is the file in the
    // folder that names them. 0 leaves the window as it is.
    void setNotRecoveredFiles(uint64_t files, const QString& listPath = {});
};

}  // namespace velmora::windows
