// The program's main window and the results browsers it opens: the browser
// is installed into the main window's seams, and the browser's way home
// puts a new main window in place of the one that opened it.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "Browser/VKDeletailWindowController.h"
#include "Windows/DetailWindowSeam.h"

class QWidget;

namespace velmora::windows {
class VKRootWindowController;
}

namespace velmora::browser {

class ProgramWindows : public QObject {
    Q_OBJECT

public:
    // `browserSeams.goHome` is this object's; any given is called after it.
    ProgramWindows(windows::RootWindowSeams rootSeams, BrowserSeams browserSeams,
                   QObject* parent = nullptr);
    ~ProgramWindows() override;

    // The first main window, with a result file to load (may be empty);
    // null when it did not open (another copy runs).
    QWidget* openRootWindow(const QString& rsfPath);
    windows::VKRootWindowController* root() const { return root_.get(); }
    // A result file handed over by a second start, for the main window.
    void openHandedOverFile(const QString& path);
    // How many times a browser went home.
    int homes() const { return homes_; }

private:
    void goHome();
    // Frees the main windows that went home once no modal loop runs.
    void releaseRetired();

    windows::RootWindowSeams rootSeams_;
    std::function<void()> afterHome_;
    std::unique_ptr<windows::VKRootWindowController> root_;
    std::vector<std::unique_ptr<windows::VKRootWindowController>> retired_;
    int homes_ = 0;
};

}  // namespace velmora::browser
