// One result tree of the results browser: a tree view of its own model that
// shows folders with a tick box, an icon and a name, and reports to the
// browser the folder chosen and the tick boxes clicked.
//
// The keyboard moves the selection only with the up and down arrows; the
// other keys (left and right open and close folders) never choose a folder,
// so the file pane is not rebuilt while the user only opens the tree.
#pragma once

#include <QTreeView>
#include <functional>

#include "Browser/ResultTreeModel.h"

class NewButton;

namespace velmora::browser {

class CommOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit CommOutlineView(QWidget* parent = nullptr);

    ResultTreeModel* treeModel() const { return model_; }
    // Shows `roots` as a tree of `kind` (0 path, 1 type, 2 created,
    // 3 modified).
    void loadDataFormDetail(std::vector<OpNodePtr>* roots, int kind);
    // Takes over what the scan added; what is shown and chosen stays.
    void reloadData();
    // Chooses the first root and tells the browser.
    void selectRootItem();
    // The node whose files the pane shows (none before a choice).
    const OpNodePtr& opDataFile() const { return opDataFile_; }
    int64_t dataType() const { return model_->dataType(); }
    NewButton* cell() const { return cell_; }

    // The browser's side.
    // A folder was chosen; `refreshCounts`: the ticked totals changed too.
    std::function<void(const OpNodePtr& node, bool refreshCounts)> onSelectNode;
    // A tick box was clicked; the browser decides whether it counts (no
    // ticking while a scan adds nodes) and ticks through clickButtonAction.
    std::function<void(CommOutlineView* view, const QModelIndex& index)> onClickCheck;

    // Ticks or unticks the node of a row: unticked and partly ticked become
    // ticked, ticked becomes unticked; the marks above and below follow.
    void clickButtonAction(const QModelIndex& index);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    // The chosen folder's row is coloured across the whole width (the tick
    // box cell draws no background of its own).
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    void choose(const QModelIndex& index);

    ResultTreeModel* model_;
    NewButton* cell_;
    OpNodePtr opDataFile_;
};

}  // namespace velmora::browser
