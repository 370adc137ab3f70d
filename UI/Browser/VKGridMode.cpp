#include "VKGridMode.h"

#include "BridgeSeam/IBridge.h"
#include "Resources/ImageRegistry.h"

namespace velmora::browser {

namespace {

const QString kReuseIdentifier = QStringLiteral("CNGridViewItem");

}  // namespace

VKGridMode::VKGridMode(CNGridView* grid, ImageSource source, QObject* parent)
    : QObject(parent), grid_(grid), thumbnails_(std::move(source)) {
    grid_->setDataSource(this);
    grid_->setDelegate(this);
}

VKGridMode::~VKGridMode() {
    thumbnails_.stop();
    grid_->setDataSource(nullptr);
    grid_->setDelegate(nullptr);
}

void VKGridMode::setNodes(std::vector<OpNodePtr> nodes) {
    thumbnails_.stop();
    cells_.clear();
    cells_.reserve(nodes.size());
    for (OpNodePtr& node : nodes)
        cells_.push_back(node ? std::make_unique<OpCellNode>(std::move(node)) : nullptr);
}

void VKGridMode::showGridView() {
    const QBrush dust(ui::ImageRegistry::Pixmap(QStringLiteral("BackgroundDust")));
    QPalette palette = grid_->palette();
    palette.setBrush(QPalette::Window, dust);
    grid_->setPalette(palette);
    // The grid is as tall as its rows: the clip around it shows the same
    // background below the last one.
    if (QWidget* clip = grid_->parentWidget()) {
        QPalette around = clip->palette();
        around.setBrush(QPalette::Window, dust);
        clip->setPalette(around);
        clip->setAutoFillBackground(true);
    }
    grid_->setScrollElasticity(true);
    grid_->reloadDataAnimated(true);
}

qint64 VKGridMode::numberOfItemsInSection(CNGridView*, qint64) {
    return static_cast<qint64>(cells_.size());
}

CNGridViewItemBase* VKGridMode::itemAtIndex(CNGridView* gridView, qint64 index, qint64) {
    // Checked before an item is taken: one taken for nothing would be lost
    // to the reuse queue.
    if (index < 0 || index >= static_cast<qint64>(cells_.size()) ||
        !cells_[static_cast<size_t>(index)])
        return nullptr;
    auto* item = qobject_cast<CNGridViewItem*>(
        gridView->dequeueReusableItemWithIdentifier(kReuseIdentifier));
    if (item == nullptr)
        item = new CNGridViewItem(nullptr, kReuseIdentifier);
    OpCellNode* cell = cells_[static_cast<size_t>(index)].get();
    const QString name = cell->name();
    item->setItemTitle(name);
    item->setItemImage(ui::ImageRegistry::Pixmap(QStringLiteral("loading.png")).toImage());
    item->setNode(cell);
    item->setDelegate(this);
    if (!name.isEmpty())
        item->titleLabel()->setText(name);
    item->itemButton()->setImageName(cell->state() == 2 ? QStringLiteral("pf_checkbox_yes")
                                                        : QStringLiteral("pf_checkbox_no"));
    thumbnails_.enqueue(item, cell, cell->node());
    return item;
}

void VKGridMode::doSelectItem(qint64 index) {
    seam::IBridge& bridge = seam::Bridge();
    if (bridge.IsScanRunning() != 0 && bridge.IsPause() == 0)
        return;
    if (index < 0 || index >= static_cast<qint64>(cells_.size()) ||
        !cells_[static_cast<size_t>(index)])
        return;
    const OpNodePtr& node = cells_[static_cast<size_t>(index)]->node();
    node->setNodeState(node->state() == 2 ? 0 : 2);
    emit checksChanged(index);
}

}  // namespace velmora::browser
