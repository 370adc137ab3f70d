#include "VKCoverFlowMode.h"

namespace velmora::browser {

VKCoverFlowMode::VKCoverFlowMode(VKCoverFlowView* view, ImageSource source, QObject* parent)
    : QObject(parent), view_(view), loader_(std::move(source)) {
    view_->setDataSource(this);
    view_->setDelegate(this);
    connect(&loader_, &VKPhotoLoader::photoLoaded, view_, &VKCoverFlowView::reloadCellDataAtIndex);
}

VKCoverFlowMode::~VKCoverFlowMode() {
    loader_.stop();
    view_->setDataSource(nullptr);
    view_->setDelegate(nullptr);
}

void VKCoverFlowMode::showCoverFlowerViewWithRefresh(std::vector<OpNodePtr> nodes, bool refresh) {
    const qint64 wanted = refresh ? 0 : view_->selectedIndex();
    loader_.setNodes(std::move(nodes));
    const auto count = static_cast<qint64>(loader_.photos().size());
    flowSelectedIndex_ = count > 0 ? std::clamp<qint64>(wanted, 0, count - 1) : 0;
    view_->reloadData();
    view_->setSelectedIndex(flowSelectedIndex_);
    selectedCoverFlow(flowSelectedIndex_);
}

void VKCoverFlowMode::selectedCoverFlow(qint64 index) {
    if (view_->selectedIndex() != index)
        view_->setSelectedIndex(index);
    flowSelectedIndex_ = index;
    loader_.start(index);
}

qint64 VKCoverFlowMode::numberOfItemsInImageFlow(VKCoverFlowView*) {
    return static_cast<qint64>(loader_.nodes().size());
}

const Photo* VKCoverFlowMode::imageFlowItemAtIndex(VKCoverFlowView*, qint64 index) {
    return loader_.photoAt(index);
}

void VKCoverFlowMode::imageFlowDidSelectItemAtIndex(VKCoverFlowView*, qint64 index) {
    selectedCoverFlow(index);
    if (index < 0 || index >= static_cast<qint64>(loader_.nodes().size()))
        return;
    emit rowSelected(index);
}

}  // namespace velmora::browser
