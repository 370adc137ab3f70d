// The results browser: the window in which the user watches a scan fill the
// result trees and browses what it found. The main window makes it, hands it
// the row to scan, the scan kind and the desktop flag, and starts it.
//
// Layout: the title bar (title, About), the four result trees on the left
// under their tabs (by path, by file type, by creation and by modification
// date), the file pane's slot on the right, and the bottom bar with the
// home button, the progress strip and the scan controls.
#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "Browser/ResultFilePane.h"
#include "Browser/VKBrowserControls.h"
#include "Browser/VKPhotoLoader.h"
#include "Browser/VKSaveResultController.h"
#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"
#include "TopView/TCImageWindow.h"
#include "Windows/DetailWindowSeam.h"

class QLabel;
class QMenu;
class QLineEdit;
class QWidget;
class ApplicationMenuButton;
class TCImageButton;
class VKProgressView;

namespace velmora::platform {
class Workspace;
}

namespace velmora::browser {

class Autoresizing;
class BrowserSplitView;
class BrowserTabButton;
class BrowserTimers;
class CommOutlineView;
class VKRecoverController;
class VKRecoverFolderSheet;
class VKResultFilePane;
class VKScanControl;
class VKSearchController;

// What the browser opens but does not build itself.
struct BrowserSeams {
    // Back to the main window (the browser is closed by its owner).
    std::function<void()> goHome;
    // Runs the About window.
    std::function<void()> showAbout;
    // The application menu the title bar's menu button opens; none: no
    // button.
    std::function<QMenu*()> applicationMenu;
    // Offers to save unsaved results before the window closes; false: the
    // user cancelled (the window stays). None: the browser's own offer,
    // which saves through its save flow.
    std::function<bool()> saveScanResult;

    // What the browser's controllers use instead of the platform's (tests):
    // the recovery's folder sheet, the file manager of the end window, the
    // save panel and progress window, the timers, the pictures. Null or
    // empty: the platform's.
    VKRecoverFolderSheet* folderSheet = nullptr;
    platform::Workspace* workspace = nullptr;
    VKSaveResultController::ChooseFile chooseSaveFile;
    VKSaveResultController::RunProgress runSaveProgress;
    BrowserTimers* timers = nullptr;
    ImageSource pictures;
    // Makes the file pane; none: the list, grid and cover-flow pane.
    std::function<std::unique_ptr<IResultFilePane>()> makeFilePane;
};

class VKDeletailWindowController : public QObject,
                                   public windows::IDetailWindow,
                                   public IBrowserControls {
    Q_OBJECT
public:
    static constexpr int kWidth = 900;
    static constexpr int kContentHeight = 560;
    // The smallest window: the design's width, room for a few rows.
    static constexpr int kMinimumHeight = 480;
    static constexpr double kTitleBarHeight = 36;
    static constexpr int kBottomBarHeight = 90;
    // The trees' width as the window opens (the split view's least).
    static constexpr int kLeftPaneWidth = 224;
    static constexpr int kTabBarHeight = 30;
    // The scan controls' box as designed; it follows the window's width.
    static constexpr int kBoxWidth = 720;

    explicit VKDeletailWindowController(BrowserSeams seams = {}, QObject* parent = nullptr);
    ~VKDeletailWindowController() override;

    // IDetailWindow and IBrowserControls.
    QWidget* window() override;
    void setSelectDiskVolumeData(const DiskVolumeNodePtr& row) override {
        selectDiskVolumeData_ = row;
    }
    void setScanTypeNum(int kind) override { scanTypeNum_ = kind; }
    void setSelectDesktop(int desktop) override;
    void getData() override;
    void getImportData(const QString& path) override;
    void clearImportData() override;

    // The hosted file pane (the seams' or the list, grid and cover-flow
    // pane); a new one replaces it.
    void setFilePane(std::unique_ptr<IResultFilePane> pane);
    QWidget* filePaneSlot() const { return filePaneSlot_; }
    // The split view between the trees and the file pane, and the trees'
    // width it gives now.
    BrowserSplitView* splitView() const { return splistView_; }
    int leftPaneWidth() const;
    IResultFilePane* filePane() const { return filePane_.get(); }
    // The hosted pane when it is the program's (null otherwise).
    VKResultFilePane* resultFilePane() const;

    // IBrowserControls: what the scan control, the search and the save
    // flow set on the window.
    void setControlEnabled(BrowserControl control, bool enabled) override;
    void setControlVisible(BrowserControl control, bool visible) override;
    void setControlText(BrowserControl control, const QString& text) override;
    void setProgressValue(double percent) override;
    QString searchText() const override;
    void setSearchText(const QString& text) override;
    void reloadTrees() override;
    void rebuildTreesAfterScan() override;
    void clearForSearch() override;
    void showSearchResult(bool hits) override;
    void stopImageLoading() override;
    void selectListMode() override;
    void refreshDetailPage(bool sizeAndCount) override;
    void resetForNewScan() override;
    void setStopButtonCanBeUseState() override;
    void showRootWindow() override;

    // The controllers the window owns.
    VKScanControl* scanControl() const { return scanControl_.get(); }
    VKSearchController* searchController() const { return search_.get(); }
    VKSaveResultController* saveController() const { return save_.get(); }
    VKRecoverController* recoverController() const { return recover_.get(); }

    // Builds the bar's controls; a second call makes nothing new but resets
    // the progress texts and strip.
    void buildDetailViewWindowTitleBar();
    void buildTileBarView();

    // Each "NormalScranValue": the trees take over new nodes; at the scan's
    // end the tabs open, the first root is chosen and the totals shown.
    void DataInitFinished();
    void setFoundAllFiles();
    void selectRootItem();
    // "RefreshDetachDevice".
    void RefreshDevice(const QVariant& object);
    // The window's close button.
    void closeWindow();
    void alertEnded(int code);
    void doBackHomeAction(int flag);

    // Tabs.
    void pathButtonClick();
    void typeButtonClick();
    void timeButtonClick();
    void modifyTimeButtonClick();

    // A tick box of a tree was clicked.
    void clickButtonAction(CommOutlineView* view, const QModelIndex& index);
    // Whether any node of `roots` is ticked wholly or partly.
    static bool isRootNodeUnselected(const std::vector<OpNodePtr>& roots);

    // State and controls, for the other parts of the browser and the tests.
    TCImageWindow* imageWindow() const { return aWindow_; }
    CommOutlineView* outline(int kind) const { return outlines_[static_cast<size_t>(kind)]; }
    std::vector<OpNodePtr>& rootArray(int kind) { return roots_[static_cast<size_t>(kind)]; }
    int64_t selectTypeCount() const { return selectTypeCount_; }
    const OpNodePtr& opDataFile() const { return opDataFile_; }
    int isDeepScan() const { return isDeepScan_; }
    int isImport() const { return isImport_; }
    int isCloseWindow() const { return isCloseWindow_; }
    int isCanClick() const { return isCanClick_; }
    int isPause() const { return isPause_; }
    TCImageButton* backHomeButton() const { return backHomeButton_; }
    TCImageButton* pauseButton() const { return pauseButton_; }
    TCImageButton* continueScanButton() const { return continueScanButton_; }
    TCImageButton* stopButton() const { return stopButton_; }
    TCImageButton* recovertyButton() const { return recovertyButton_; }
    TCImageButton* advButton() const { return advButton_; }
    TCImageButton* aboutButton() const { return aboutButton_; }
    ApplicationMenuButton* menuButton() const { return menuButton_; }
    TCImageButton* exportButton() const { return exportButton_; }
    QLineEdit* searchField() const { return searchField_; }
    VKProgressView* progressView() const { return progressView_; }
    QLabel* findFilesLabel() const { return findFilesLabel_; }
    QLabel* remainTimeLabel() const { return remainTimeLabel_; }
    QLabel* selectFilesLabel() const { return selectFilesLabel_; }
    QLabel* titleLabel() const { return titleLabel_; }
    BrowserTabButton* tabButton(int which) const { return tabs_[static_cast<size_t>(which)]; }

    // The tab buttons, in the order tabButton takes.
    enum Tab { kPathTab, kTypeTab, kTimeTab, kCreatTab, kModifyTab };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void awakeFromNib();
    void windowDidLoad();
    void buildTrees();
    void layoutContent();
    void layoutLeftPane();
    void placeFromRight(QWidget* control, const QRect& frame);
    void setNotification();
    void placeScanControlsForDeepScan();
    void emptyTrees();
    void showTab(int kind);
    void selectOutlineList(const OpNodePtr& node, bool refreshCounts);
    void changeWindowTitle();
    void aboutAction();
    void buildSearchField();
    void createExportButton(int show);
    void makeControllers();
    void connectFilePane();
    QWidget* controlWidget(BrowserControl control) const;
    bool scanRunningUnpaused();
    class RecoverHost;

    BrowserSeams seams_;
    Autoresizing* autoresizing_;
    QPointer<TCImageWindow> aWindow_;
    QWidget* contentView_ = nullptr;
    QWidget* splistLeftView_ = nullptr;
    BrowserSplitView* splistView_ = nullptr;
    QWidget* blowView_ = nullptr;
    QWidget* mainBox_ = nullptr;
    QWidget* abox_ = nullptr;
    QWidget* changeTimeBlowView_ = nullptr;
    QWidget* filePaneSlot_ = nullptr;
    std::unique_ptr<IResultFilePane> filePane_;

    std::array<std::vector<OpNodePtr>, 4> roots_;
    std::array<CommOutlineView*, 4> outlines_{};
    std::array<BrowserTabButton*, 5> tabs_{};

    QLabel* titleLabel_ = nullptr;
    TCImageButton* aboutButton_ = nullptr;
    ApplicationMenuButton* menuButton_ = nullptr;
    TCImageButton* exportButton_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    TCImageButton* backHomeButton_ = nullptr;
    VKProgressView* progressView_ = nullptr;
    TCImageButton* pauseButton_ = nullptr;
    TCImageButton* continueScanButton_ = nullptr;
    TCImageButton* stopButton_ = nullptr;
    QLabel* selectFilesLabel_ = nullptr;
    TCImageButton* recovertyButton_ = nullptr;
    TCImageButton* advButton_ = nullptr;
    QLabel* findFilesLabel_ = nullptr;
    QLabel* remainTimeLabel_ = nullptr;

    DiskVolumeNodePtr selectDiskVolumeData_;
    OpNodePtr opDataFile_;
    int64_t selectTypeCount_ = 0;
    int scanTypeNum_ = 1;
    int isDeepScan_ = 0;
    int isImport_ = 0;
    int selectDesktop_ = 0;
    int isCanClick_ = 1;
    int isCloseWindow_ = 0;
    int isPause_ = 0;
    int isBackHome_ = 0;
    int isSelectOutlineList_ = 0;
    bool terminated_ = false;
    // This scan's end has changed the window over; later refreshes only
    // bring nodes in.
    bool scanEndTaken_ = false;
    // A search emptied the outlines: the next reload gives them their
    // arrays back.
    bool treesDetached_ = false;

    std::unique_ptr<RecoverHost> recoverHost_;
    std::unique_ptr<VKSearchController> search_;
    std::unique_ptr<VKSaveResultController> save_;
    std::unique_ptr<VKScanControl> scanControl_;
    std::unique_ptr<VKRecoverController> recover_;
};

// Fills the main window's seam for opening the results browser: each scan or
// load gets a new browser with `browserSeams`.
void InstallResultsBrowser(windows::RootWindowSeams& seams, BrowserSeams browserSeams = {});

}  // namespace velmora::browser
