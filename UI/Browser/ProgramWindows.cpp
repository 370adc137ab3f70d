#include "Browser/ProgramWindows.h"

#include "UIPlatform/Modal.h"
#include "UIPlatform/Timing.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/VKRootWindowController.h"

namespace velmora::browser {

ProgramWindows::ProgramWindows(windows::RootWindowSeams rootSeams, BrowserSeams browserSeams,
                               QObject* parent)
    : QObject(parent), rootSeams_(std::move(rootSeams)), afterHome_(browserSeams.goHome) {
    browserSeams.goHome = [this] { goHome(); };
    InstallResultsBrowser(rootSeams_, std::move(browserSeams));
}

ProgramWindows::~ProgramWindows() = default;

QWidget* ProgramWindows::openRootWindow(const QString& rsfPath) {
    root_ = std::make_unique<windows::VKRootWindowController>(rootSeams_);
    root_->SetImportPath(rsfPath);
    if (!root_->windowDidLoad())
        return nullptr;
    return root_->window();
}

void ProgramWindows::openHandedOverFile(const QString& path) {
    if (root_)
        root_->openHandedOverFile(path);
}

// The browser asking is owned by the main window being replaced: the swap
// waits until its call has returned, as long as the browser's window takes
// to go.
void ProgramWindows::goHome() {
    ++homes_;
    // Disks pulled or plugged in while the browser was open: the list is
    // made again, off the interface thread, before the disk page shows it.
    windows::DeviceListRefresher::shared().resume();
    ui::PerformAfter(this, 200, [this] {
        auto home = std::make_unique<windows::VKRootWindowController>(rootSeams_);
        home->setIsNotFristLoad(true);
        if (!home->windowDidLoad())
            return;
        home->showWindow();
        // The old main window takes its browser with it, but not while a
        // window of theirs still runs modally (the end of a recovery): the
        // code waiting for that window's answer is theirs.
        retired_.push_back(std::move(root_));
        root_ = std::move(home);
        releaseRetired();
        if (afterHome_)
            afterHome_();
    });
}

void ProgramWindows::releaseRetired() {
    if (retired_.empty())
        return;
    if (!ui::Modal().AnyRunning()) {
        retired_.clear();
        return;
    }
    ui::PerformAfter(this, 200, [this] { releaseRetired(); });
}

}  // namespace velmora::browser
