// The file list of the results browser: the files of the chosen tree node
// (or of a search) in the list table and in the table under the cover flow,
// sorted by a column with one direction flag for all columns, ticked row by
// row or all at once from the header's tick box, and previewed with the
// space bar. The browser window wires its totals, its recovery button and
// its trees to the signals.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <array>
#include <memory>
#include <vector>

#include "OpNodeData.h"

class QPushButton;
class VKNSTableView;

namespace velmora::browser {

class FileListModel;
class SpacePreviewWindow;

class FileListPane : public QObject {
    Q_OBJECT

public:
    // View modes of the file pane.
    enum Mode : int { kListMode = 0, kGridMode = 1, kCoverFlowMode = 2 };

    // Both tables show the pane's rows; the pane puts a tick box into each
    // table's header.
    FileListPane(VKNSTableView* tableView, VKNSTableView* coverFlowerTableView,
                 QObject* parent = nullptr);
    ~FileListPane() override;

    FileListModel* model() const { return model_; }
    VKNSTableView* tableView() const { return tableView_; }
    VKNSTableView* coverFlowerTableView() const { return coverFlowerTableView_; }
    QPushButton* listViewSelectAllButton() const { return listViewSelectAllButton_; }
    QPushButton* coverViewSelectAllButton() const { return coverViewSelectAllButton_; }

    // What the browser tells the pane.
    int selectSegmentCount() const { return selectSegmentCount_; }
    void setSelectSegmentCount(int mode) { selectSegmentCount_ = mode; }
    // The current tree tab: 0 path, 1 file type, 2 created, 3 modified.
    void setTreeKind(int kind) { treeKind_ = kind; }
    // The root arrays of the four trees (the browser's; not owned).
    void setTreeRoots(int kind, std::vector<OpNodePtr>* roots);

    // Rows.
    // The trees' call when a node is chosen: the pane lists its children.
    void selectOutlineListWithOpNodeData(const OpNodePtr& node, int refreshSizeAndCount);
    // Lists given nodes (a search's result) for the chosen node.
    void setRows(std::vector<IFileNode*> rows);
    const OpNodePtr& opDataFile() const { return opDataFile_; }
    const std::vector<IFileNode*>& arrList() const;

    // Sorting: the click on a column's header.
    void didClickTableColumn(int column);
    // Non-zero: the next sort is ascending.
    int isSorted() const { return isSorted_; }
    // The column sorted last; -1 before the first sort.
    int sortedColumn() const { return aTableColumn_; }

    // Ticks.
    void nsbuttonCellClick(int row);
    void setAllSelectOrNoSelect();
    // 0 none, 1 some, 2 all of the node's files ticked (folders are not
    // counted); null: the listed rows.
    int GetCellNodeState(const OpNodePtr& node);
    void changeSelectAllButtonState();
    // The picture both header boxes show.
    QString selectAllImageName() const { return selectAllImage_; }
    void ClearSelectedFilesInfo();

    // Selection.
    bool shouldSelectRow(int row);
    int selectedRow() const { return selectedRow_; }

    // The space bar: opens the preview of the selected row, or closes the
    // open one.
    void spacePrviewFile();
    SpacePreviewWindow* previewWindow() const { return preview_.get(); }
    // Preview pictures asked for so far; the newest is the one shown.
    quint64 previewRequests() const { return previewRequest_; }

signals:
    void showRecoveryButton();
    // The ticked files' count and size changed.
    void showSelectFilesCountAndSize();
    // The four outlines reload with their root arrays.
    void reloadOutlines();
    // No scan runs: the view-mode control may be used.
    void enableSegment();
    // The grid redraws its items; the cover flow restarts at its first item.
    void showGridView();
    void restartCoverFlow();
    // The cover flow moves to a row.
    void selectedCoverFlow(int row);
    // Cover-flow and grid image loaders stop before the rows move.
    void stopImageLoading();
    // The rows were replaced (the empty notes follow).
    void rowsReplaced(int refreshSizeAndCount);

private:
    // The picture of preview `request` has been read.
    void previewPictureArrived(quint64 request, const QImage& image);
    void putHeaderTickBox(VKNSTableView* table, QPushButton*& button);
    void clearSortIndicators();
    void recountTrees();
    void refreshCurrentView();
    // Refuses ticks and sorts while a scan adds nodes.
    static bool ScanAddingNodes();

    VKNSTableView* tableView_;
    VKNSTableView* coverFlowerTableView_;
    FileListModel* model_;
    QPushButton* listViewSelectAllButton_ = nullptr;
    QPushButton* coverViewSelectAllButton_ = nullptr;
    QString selectAllImage_;

    OpNodePtr opDataFile_;
    std::array<std::vector<OpNodePtr>*, 4> treeRoots_{};
    int treeKind_ = OP_TREE_PATH;
    int selectSegmentCount_ = kListMode;
    int isSorted_ = 0;
    int aTableColumn_ = -1;
    int isSelectOutlineList_ = 0;
    int tableViewCellNum_ = 0;
    int selectedRow_ = 0;
    int selectCellCount_ = 0;
    std::unique_ptr<SpacePreviewWindow> preview_;
    quint64 previewRequest_ = 0;
};

}  // namespace velmora::browser
