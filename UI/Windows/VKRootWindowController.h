// The main window: the wizard from the scan-mode page to the disk page and
// on to the results browser, which it makes and hands the chosen row, scan
// kind and desktop flag. It also refuses a second copy of the program,
// imports saved results and ends the program when its window is closed.
// The two pages lie side by side in the content view and slide.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

#include "Windows/DetailWindowSeam.h"
#include "Windows/VKSelectDiskViewController.h"
#include "Windows/VKSelectTypeViewController.h"

class QLabel;
class ApplicationMenuButton;
class TCImageButton;
#include "TopView/TCImageWindow.h"

namespace velmora::windows {

// Where the import and save panels open: the saved-results folder when one
// is set, else the home of the user who started the program (the program's
// own working folder is root's, or wherever the launcher stood).
QString ResultFilesStartFolder(const QString& savePath);

class VKRootWindowController : public QObject,
                               public VKSelectTypeViewControllerDelegate,
                               public VKSelectDiskViewControllerDelegate {
    Q_OBJECT
public:
    static constexpr int kWidth = 916;
    static constexpr int kPageHeight = 520;
    static constexpr double kTitleBarHeight = 50;
    // Every result category: what a loaded result file is filtered with,
    // and what the wizard scans for until the user narrows it.
    static constexpr int kAllCategories = 127;
    // A disk this much larger than its one volume has space to choose.
    static constexpr int64_t kSpareDiskBytes = 100000;

    explicit VKRootWindowController(RootWindowSeams seams = {}, QObject* parent = nullptr);
    ~VKRootWindowController() override;

    // Sets the window up (a second copy of the program ends here) and shows
    // the first page. False when the program is ending.
    bool windowDidLoad();
    // Shows the window, fading in.
    void showWindow();

    TCImageWindow* window() const { return aWindow_; }
    int whichPage() const { return whichPage_; }
    int selectValues() const { return selectValues_; }
    int selectScanType() const { return selectScanType_; }
    int selectDesktop() const { return selectDesktop_; }
    int isSelectOfficeFlag() const { return isSelectOffice_; }
    const DiskVolumeNodePtr& selectVolumeData() const { return selectVolumeData_; }
    VKSelectTypeViewController* selectTypeVC() const { return selectTypeVC_; }
    VKSelectDiskViewController* selectDiskVC() const { return selectDiskVC_; }
    IDetailWindow* deletailWC() const { return deletailWC_.get(); }
    TCImageButton* backHomeButton() const { return backHomeButton_; }
    TCImageButton* continueButton() const { return continueButton_; }
    TCImageButton* importButton() const { return importButton_; }
    TCImageButton* aboutButton() const { return aboutButton_; }
    ApplicationMenuButton* menuButton() const { return menuButton_; }
    QLabel* backLabel() const { return backLabel_; }
    QLabel* continueLabel() const { return continueLabel_; }
    QLabel* titleLabel() const { return titleLabel_; }
    const QString& importFilePath() const { return importFilePath_; }
    bool shuttingDown() const { return shuttingDown_; }
    void setShuttingDown(bool value) { shuttingDown_ = value; }
    bool isNotFristLoad() const { return isNotFristLoad_; }
    void setIsNotFristLoad(bool value) { isNotFristLoad_ = value; }

    // The type page's delegate.
    void nextButtonActionWithAllTypeArr(QStringList* types) override;
    void selectTypesContinouButtonClick() override;
    void changeScanTypeWithNum(int kind) override;
    void isSelectOffice(int flag) override;
    void importButtonAction() override;
    // The disk page's delegate.
    void changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodePtr& row) override;
    void doubleClickedListToScan(int desktop) override;
    void backHome() override;

    void InitFinished();
    void getDiskData();
    void importButtonClick();
    // The import from its second step on: a result file already chosen.
    void importResultFile(const QString& path);
    void showDetailWindow();
    // A result file handed over at start; it is loaded once the window runs.
    void SetImportPath(const QString& path);
    // A result file a second start handed over: opened as an import when
    // nothing is under way, else the user is told why it was not.
    void openHandedOverFile(const QString& path);
    // The panel that adds a disk image to the disk list. No control of the
    // window opens it; it is invokable by name for whoever drives the window.
    Q_INVOKABLE void doSowExportEdiWindow();
    void loadEdiWithPath(const QString& path);
    void closeWindow();
    void changeWindowTitle();
    void aboutAction();
    void windowShouldClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void awakeFromNib();
    void buildTileBarView();
    void createImportButton();
    void buildFristPageView();
    void InfoButtonClick();
    void getDataForDeletailPage();
    void loadImportPathLater();
    void startScan();
    void animationContinueViewFristView(QWidget* first, QWidget* second);
    void animationBackViewFristView(QWidget* first, QWidget* second);
    void animationDidStop();
    void placeDetailWindow();
    void observe(const QString& name, void (VKRootWindowController::*handler)());
    void removeObservers();
    void setBackHomeAsContinue();
    void onBackHomeButton();
    void onContinueButton();
    bool defaultKey(int key);

    RootWindowSeams seams_;
    QPointer<VKSelectTypeViewController> selectTypeVC_;
    QPointer<VKSelectDiskViewController> selectDiskVC_;
    std::unique_ptr<IDetailWindow> deletailWC_;
    QPointer<TCImageWindow> aWindow_;
    QWidget* contentView_ = nullptr;
    TCImageButton* backHomeButton_ = nullptr;
    TCImageButton* continueButton_ = nullptr;
    TCImageButton* importButton_ = nullptr;
    TCImageButton* aboutButton_ = nullptr;
    ApplicationMenuButton* menuButton_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLabel* backLabel_ = nullptr;
    QLabel* continueLabel_ = nullptr;
    QString importFilePath_;
    QString rsfPath_;
    int whichPage_ = 0;
    int selectValues_ = kAllCategories;
    DiskVolumeNodePtr selectVolumeData_;
    bool shuttingDown_ = false;
    bool isNotFristLoad_ = false;
    int isSelectOffice_ = 0;
    qint64 stattime_ = 0;
    qint64 endtime_ = 0;
    int selectScanType_ = 1;
    int selectDesktop_ = 0;
    QStringList allTypeArr_;
    // What the lower-left button does now.
    bool backHomeGoesBack_ = false;
    bool closing_ = false;
    bool loaded_ = false;
};

}  // namespace velmora::windows
