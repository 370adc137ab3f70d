// What the main window needs of the results browser and of the save/load
// progress window, neither of which it builds itself: the program hands it
// makers for them (a test hands recording ones).
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "DiskVolumeNodeData.h"

class QMenu;
class QWidget;

namespace velmora::windows {

// The results browser as the main window drives it.
class IDetailWindow {
public:
    virtual ~IDetailWindow() = default;
    virtual QWidget* window() = 0;
    virtual void setSelectDiskVolumeData(const DiskVolumeNodePtr& row) = 0;
    virtual void setScanTypeNum(int kind) = 0;
    virtual void setSelectDesktop(int desktop) = 0;
    // Starts the scan.
    virtual void getData() = 0;
    // Takes over the result file being loaded, or lets it go.
    virtual void getImportData(const QString& path) = 0;
    virtual void clearImportData() = 0;
};

struct RootWindowSeams {
    // Makes a results browser; none: nothing opens.
    std::function<std::unique_ptr<IDetailWindow>()> makeDetailWindow;
    // Runs the load progress window modally for a load posting `postName`
    // and gives its result (non-zero: loaded).
    std::function<int(const QString& postName)> runLoadProgress;
    // Asks for a result file, starting in `folder` (may be empty).
    std::function<std::optional<QString>(const QString& folder)> chooseResultFile;
    // Asks for a disk image.
    std::function<std::optional<QString>()> chooseDiskImage;
    // Runs the About window.
    std::function<void()> showAbout;
    // The application menu the title bar's menu button opens; none: no
    // button.
    std::function<QMenu*()> applicationMenu;
    // Ends the process (a second copy ends at once).
    std::function<void(int)> exitProcess;
    // A second copy hands the result file it was given to the running one;
    // true once that one has taken it. Not set: over the single-instance
    // channel, waited for off the interface thread.
    std::function<bool(const QString& path)> handOverResultFile;
    // Runs the notice for a row that cannot be opened (the APFS notice
    // when not set).
    std::function<void()> showCannotOpenNotice;
};

}  // namespace velmora::windows
