// The grid mode of the results browser's file pane: the grid's data source
// and delegates over the pane's files, the thumbnail jobs of the items it
// shows, and the items' check boxes, which tick files for recovery.
#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "CNGridView/CNGridView.h"
#include "CNGridView/CNGridViewItem.h"
#include "VKGridThumbnails.h"
#include "Widgets/CellNode.h"

namespace velmora::browser {

// A result node as grid items and cells read it.
class OpCellNode : public velmora::ui::ICellNode {
public:
    explicit OpCellNode(OpNodePtr node) : node_(std::move(node)) {}
    QString name() const override { return QString::fromStdString(node_->name()); }
    int state() const override { return node_->state(); }
    int iconKind() const override { return node_->nodeType(); }
    const OpNodePtr& node() const { return node_; }

private:
    OpNodePtr node_;
};

class VKGridMode : public QObject,
                   public CNGridViewDataSource,
                   public CNGridViewDelegate,
                   public CNGridViewItemDelegate {
    Q_OBJECT

public:
    VKGridMode(CNGridView* grid, ImageSource source, QObject* parent = nullptr);
    ~VKGridMode() override;

    // The pane's files changed: stops the thumbnail jobs first.
    void setNodes(std::vector<OpNodePtr> nodes);
    // Prepares the grid and asks it for its items again.
    void showGridView();
    void stopGridImageLoading() { thumbnails_.stop(); }
    int gridImageState() const { return thumbnails_.state(); }
    VKGridThumbnailQueue& thumbnails() { return thumbnails_; }

    qint64 numberOfItemsInSection(CNGridView* gridView, qint64 section) override;
    CNGridViewItemBase* itemAtIndex(CNGridView* gridView, qint64 index, qint64 section) override;
    void doSelectItem(qint64 index) override;

signals:
    // A file's tick changed: the browser updates its buttons, the count and
    // size of the ticked files and the trees' check states.
    void checksChanged(qint64 index);

private:
    CNGridView* grid_;
    std::vector<std::unique_ptr<OpCellNode>> cells_;
    VKGridThumbnailQueue thumbnails_;
};

}  // namespace velmora::browser
