// The window that closes a recovery the user stopped: how many files were
// written by then, and the link to the folder that holds them.
#pragma once

#include <cstdint>

#include "Windows/RecoveryEndWindow.h"

namespace velmora::windows {

class VKScanNotEndSaveWindowController : public RecoveryEndWindow {
    Q_OBJECT
public:
    explicit VKScanNotEndSaveWindowController(platform::Workspace* workspace = nullptr,
                                              QObject* parent = nullptr);

    // `files` written before the stop; `notRecovered` of the files the
    // recovery reached could not be written, which the sentence adds when
    // there were any.
    void changeRecoveryFilesPoint(double files, const QString& savePath, uint64_t notRecovered = 0);
};

}  // namespace velmora::windows
