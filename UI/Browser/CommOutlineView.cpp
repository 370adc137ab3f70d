#include "Browser/CommOutlineView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>

#include "Widgets/NewButton.h"

namespace velmora::browser {

CommOutlineView::CommOutlineView(QWidget* parent)
    : QTreeView(parent), model_(new ResultTreeModel(this)), cell_(new NewButton(this)) {
    setModel(model_);
    setItemDelegate(cell_);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setIndentation(16);
    cell_->setClickAction([this](const QModelIndex& index) {
        if (onClickCheck)
            onClickCheck(this, index);
        else
            clickButtonAction(index);
    });
    // The remembered expansion decides the expander of a folder whose
    // folders are all gone from view.
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        // A view still waiting for its layout only notes the expansion; the
        // rows are made now either way.
        if (model_->canFetchMore(index))
            model_->fetchMore(index);
        if (OpNodeData* node = model_->nodeAt(index))
            node->setExpand(1);
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (OpNodeData* node = model_->nodeAt(index))
            node->setExpand(0);
    });
}

void CommOutlineView::loadDataFormDetail(std::vector<OpNodePtr>* roots, int kind) {
    opDataFile_.reset();
    model_->loadDataFormDetail(roots, kind);
}

void CommOutlineView::reloadData() {
    model_->refresh();
    viewport()->update();
}

void CommOutlineView::selectRootItem() {
    const QModelIndex first = model_->rootIndex(0);
    if (!first.isValid())
        return;
    // Choosing another row tells the browser through the selection; the
    // root chosen already is told again here.
    const bool chosenAlready = model_->sharedNodeAt(first) == opDataFile_;
    selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
    if (chosenAlready)
        choose(first);
}

void CommOutlineView::clickButtonAction(const QModelIndex& index) {
    if (OpNodeData* node = model_->nodeAt(index))
        node->setNodeState(node->state() == 2 ? 0 : 2);
    model_->marksChanged();
    viewport()->update();
}

QItemSelectionModel::SelectionFlags CommOutlineView::selectionCommand(const QModelIndex& index,
                                                                      const QEvent* event) const {
    if (event != nullptr && event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        if (key != Qt::Key_Up && key != Qt::Key_Down)
            return QItemSelectionModel::NoUpdate;
    }
    return QTreeView::selectionCommand(index, event);
}

void CommOutlineView::paintEvent(QPaintEvent* event) {
    // The path tree, which the scan grows, waits for the scan's lock once
    // per paint rather than once per row. The other trees ask the bridge for
    // their counts while painting, and the bridge takes the lock itself.
    if (model_->dataType() != OP_TREE_PATH) {
        QTreeView::paintEvent(event);
        return;
    }
    ResultTreeModel::ReadLock lock;
    QTreeView::paintEvent(event);
}

void CommOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    if (selectionModel()->isSelected(index))
        painter->fillRect(option.rect, option.palette.color(QPalette::Highlight));
    QTreeView::drawRow(painter, option, index);
}

void CommOutlineView::selectionChanged(const QItemSelection& selected,
                                       const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    const QModelIndexList chosen = selected.indexes();
    if (!chosen.isEmpty() && model_->sharedNodeAt(chosen.first()) != opDataFile_)
        choose(chosen.first());
}

void CommOutlineView::choose(const QModelIndex& index) {
    opDataFile_ = model_->sharedNodeAt(index);
    if (onSelectNode)
        onSelectNode(opDataFile_, false);
}

}  // namespace velmora::browser
