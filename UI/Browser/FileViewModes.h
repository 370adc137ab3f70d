// The right pane of the results browser in its three view modes, chosen with
// a three-segment control: the list table, the thumbnail grid and the cover
// flow over its own table. Grid and cover flow leave a slot for their views.
// When the chosen folder has nothing to show while the scan has found roots,
// every mode shows its empty note.
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "OpNodeData.h"

class QButtonGroup;
class QLabel;
class QStackedLayout;
class VKNSTableView;

namespace velmora::browser {

class FileListPane;

class FileViewModes : public QWidget {
    Q_OBJECT

public:
    explicit FileViewModes(QWidget* parent = nullptr);
    ~FileViewModes() override;

    FileListPane* pane() const { return pane_; }
    VKNSTableView* tableView() const { return tableView_; }
    VKNSTableView* coverFlowerTableView() const { return coverFlowerTableView_; }
    // The segmented control: segment 0 list, 1 grid, 2 cover flow.
    QWidget* segment() const { return segment_; }
    QButtonGroup* segmentButtons() const { return segmentGroup_; }
    QWidget* listTableViewBlowView() const { return listTableViewBlowView_; }
    QWidget* gridView() const { return gridView_; }
    QWidget* coverFlower() const { return coverFlower_; }
    // Where the grid and the cover flow put their views.
    QWidget* gridSlot() const { return gridSlot_; }
    QWidget* coverFlowSlot() const { return coverFlowSlot_; }
    QWidget* gridNoValueView() const { return gridNoValueView_; }
    QWidget* nodeView() const { return nodeView_; }

    // The roots of the path tree (the browser's; not owned): no note while
    // it is empty.
    void setAllDiskArr(const std::vector<OpNodePtr>* roots) { allDiskArr_ = roots; }

    int selectSegmentCount() const;
    // The control's action: switches to the selected segment.
    void segmentSelect(int segment);
    void setSegmentEnabled(bool enabled);

    // Shows or hides the empty notes and shows the current mode's pane.
    void showNoValueNote();
    // 0 builds and shows the grid pane's note, 1 removes it.
    void changeNoValue(int flag);
    float getLableHight() const;
    // Centres the grid note's content again (after a resize).
    void changeNoValueNodeViewFrame();

signals:
    // The grid and the cover flow refill from the pane's rows.
    void showGridView();
    void showCoverFlowerView();

private:
    QRect noteFrame() const;

    FileListPane* pane_ = nullptr;
    VKNSTableView* tableView_ = nullptr;
    VKNSTableView* coverFlowerTableView_ = nullptr;
    QWidget* segment_ = nullptr;
    QButtonGroup* segmentGroup_ = nullptr;
    QStackedLayout* panes_ = nullptr;
    QWidget* listTableViewBlowView_ = nullptr;
    QWidget* gridView_ = nullptr;
    QWidget* gridSlot_ = nullptr;
    QWidget* coverFlower_ = nullptr;
    QWidget* coverFlowSlot_ = nullptr;
    QPointer<QWidget> gridNoValueView_;
    QPointer<QWidget> nodeView_;
    const std::vector<OpNodePtr>* allDiskArr_ = nullptr;
};

}  // namespace velmora::browser
