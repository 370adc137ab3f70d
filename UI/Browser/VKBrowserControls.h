// What the scan control, the search and the save flow need of the results
// browser window: its controls by name, its texts, its trees and list, and
// the window the pop-over and the sheets hang on. The browser window
// implements it; the controllers never reach into the window otherwise.
#pragma once

#include <QString>

class QWidget;

namespace velmora::browser {

enum class BrowserControl {
    BackHome,
    Pause,
    ContinueScan,
    Stop,
    Recovery,
    Adv,
    Export,
    Search,
    Segment,
    Progress,
    FoundFiles,
    RemainTime,
    SelectFiles,
    Continue,
    DeepScanLabel,
    CloseButton,
};

class IBrowserControls {
public:
    virtual ~IBrowserControls() = default;

    // The browser's window (null before it exists).
    virtual QWidget* window() = 0;
    virtual void setControlEnabled(BrowserControl control, bool enabled) = 0;
    virtual void setControlVisible(BrowserControl control, bool visible) = 0;
    // Labels (FoundFiles, RemainTime, SelectFiles).
    virtual void setControlText(BrowserControl control, const QString& text) = 0;
    virtual void setProgressValue(double percent) = 0;

    // The search field's text.
    virtual QString searchText() const = 0;
    virtual void setSearchText(const QString& text) = 0;

    // Reloads the four outlines from their root arrays.
    virtual void reloadTrees() {}
    // The scan has ended: the path tree is rebuilt from what was found
    // when another tab is shown.
    virtual void rebuildTreesAfterScan() {}
    // Empties the outlines, the list and the previews before a search.
    virtual void clearForSearch() {}
    // Fills the list with the search hits (or, without a search, the files
    // of the chosen tree node) and shows the empty-state notes.
    virtual void showSearchResult(bool hits) { (void)hits; }
    // Stops the cover-flow and grid picture loaders.
    virtual void stopImageLoading() {}
    // Switches the file pane to the list.
    virtual void selectListMode() {}
    // Recounts the selected files (and sizes when asked).
    virtual void refreshDetailPage(bool sizeAndCount) { (void)sizeAndCount; }
    // Empties the trees and the list for a new scan.
    virtual void resetForNewScan() {}
    // Enables the stop button once a new scan has started.
    virtual void setStopButtonCanBeUseState() {}
    // Closes the browser and opens the main window again.
    virtual void showRootWindow() {}
};

}  // namespace velmora::browser
