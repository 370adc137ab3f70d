// The second page of the wizard: the outline of disks and opened images with
// their volumes, headed by a "Desktop" entry that stands for the system
// volume. It reads the device catalogue through the bridge, rebuilds itself
// when a device comes or goes, and tells its delegate (the main window)
// which row is chosen and when to scan.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "DiskVolumeNodeData.h"

#include "TopView/TCImageButton.h"
class VKCustomOutlineView;

namespace velmora::windows {

class VKDiskOutlineModel;

class VKSelectDiskViewControllerDelegate {
public:
    virtual ~VKSelectDiskViewControllerDelegate() = default;
    virtual void changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodePtr&) {}
    virtual void doubleClickedListToScan(int) {}
    virtual void backHome() {}
};

class VKSelectDiskViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 916;
    static constexpr int kHeight = 520;

    // `backButton` and `scanButton`: the window's own lower buttons when it
    // has them; the page makes its own when they are null.
    explicit VKSelectDiskViewController(QWidget* parent = nullptr,
                                        TCImageButton* backButton = nullptr,
                                        TCImageButton* scanButton = nullptr);
    ~VKSelectDiskViewController() override;

    void setDelegate(VKSelectDiskViewControllerDelegate* delegate) { delegate_ = delegate; }
    void setAllDiskArr(std::vector<DiskVolumeNodePtr> rows) { allDiskArr_ = std::move(rows); }
    const std::vector<DiskVolumeNodePtr>& allDiskArr() const { return allDiskArr_; }
    void setSelectDiskVolume(const DiskVolumeNodePtr& row) { selectDiskVolume_ = row; }
    const DiskVolumeNodePtr& selectDiskVolume() const { return selectDiskVolume_; }
    const DiskVolumeNodePtr& desktopVolume() const { return desktopVolume_; }
    int isSelectDesktop() const { return isSelectDesktop_; }
    qint64 selectedRow() const { return selectedRow_; }
    bool bClickHead() const { return bClickHead_; }
    VKCustomOutlineView* outlineView() const { return outline_; }
    VKDiskOutlineModel* model() const { return model_; }
    TCImageButton* backButton() const { return backButton_; }
    TCImageButton* scanButton() const { return scanButton_; }
    // The outline's row number of a row (-1 when not shown).
    int rowForItem(const DiskVolumeNodeData* item) const;
    DiskVolumeNodePtr itemAtRow(int row) const;

    void InitFinished();
    // A disk came or went: the catalogue is rebuilt off the interface
    // thread and the outline follows when it is done.
    void RefreshDevice();
    // The list is being made: the hint shows and nothing can be scanned.
    bool isLoading() const { return loading_; }
    QLabel* loadingLabel() const { return loadingLabel_; }
    void getDiskValue();
    void scanButtonAction();
    void doubleToScan();
    void backHome();
    void removeNotification();
    void disableRefreshDevice();
    // The outline's delegate.
    bool shouldSelectItem(const DiskVolumeNodePtr& item);
    void outlineViewSelectionDidChange();
    void mouseDownInHeader();
    void itemDidExpandOrCollapse();
    // A click at `row` (-1: into the empty part of the outline).
    void clickRow(int row);
    // The arrow keys' choice; false for any other key.
    bool moveChoice(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void observeDevices();
    void reportSelection();
    void reloadCellBackgroundColor();
    void highlight(int row);
    void setLoading(bool loading);
    void showLoadingLabel();
    void takeRows(const std::vector<DiskVolumeNodePtr>& rows);

    std::vector<DiskVolumeNodePtr> allDiskArr_;
    VKCustomOutlineView* outline_ = nullptr;
    VKDiskOutlineModel* model_ = nullptr;
    DiskVolumeNodePtr selectDiskVolume_;
    const DiskVolumeNodeData* oldSelectDiskVolume_ = nullptr;
    DiskVolumeNodePtr desktopVolume_;
    DiskVolumeNodePtr desktopEntry_;
    QStringList rootArr_;
    qint64 selectedRow_ = -1;
    int isSelectDesktop_ = 0;
    bool bClickHead_ = false;
    bool loading_ = false;
    QLabel* loadingLabel_ = nullptr;
    VKSelectDiskViewControllerDelegate* delegate_ = nullptr;
    QPointer<TCImageButton> backButton_, scanButton_;
};

}  // namespace velmora::windows
