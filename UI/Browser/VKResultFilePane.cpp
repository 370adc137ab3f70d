#include "Browser/VKResultFilePane.h"

#include <QScrollArea>
#include <QVBoxLayout>

#include "BridgeSeam/IBridge.h"
#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileViewModes.h"
#include "Browser/VKCoverFlowMode.h"
#include "Browser/VKCoverFlowView.h"
#include "Browser/VKGridMode.h"
#include "CNGridView/CNGridView.h"
#include "Widgets/VKNSTableView.h"

namespace velmora::browser {

namespace {

ImageSource BridgePictures() {
    return [](const OpNodePtr& node, std::stop_token stop) {
        return seam::Bridge().GetNSImageByNode(node, stop);
    };
}

void FillSlot(QWidget* slot, QWidget* view) {
    auto* layout = new QVBoxLayout(slot);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
}

}  // namespace

VKResultFilePane::VKResultFilePane(ImageSource source, QObject* parent) : QObject(parent) {
    if (!source)
        source = BridgePictures();
    modes_ = new FileViewModes();
    modes_->setObjectName(QStringLiteral("filePane"));

    gridArea_ = new QScrollArea();
    gridArea_->setObjectName(QStringLiteral("gridScrollView"));
    gridArea_->setFrameShape(QFrame::NoFrame);
    grid_ = new CNGridView();
    grid_->setObjectName(QStringLiteral("gridMainView"));
    gridArea_->setWidget(grid_);
    FillSlot(modes_->gridSlot(), gridArea_);
    gridMode_ = std::make_unique<VKGridMode>(grid_, source);

    flow_ = new VKCoverFlowView();
    flow_->setObjectName(QStringLiteral("flowView"));
    FillSlot(modes_->coverFlowSlot(), flow_);
    flowMode_ = std::make_unique<VKCoverFlowMode>(flow_, source);

    FileListPane* pane = modes_->pane();
    connect(pane, &FileListPane::stopImageLoading, this, [this] { stopImageLoading(); });
    connect(pane, &FileListPane::rowsReplaced, this, [this] { refillShownMode(); });
    // A sort reorders the rows under the flow.
    connect(pane, &FileListPane::restartCoverFlow, this, [this] {
        if (mode() == FileListPane::kCoverFlowMode)
            refillCoverFlow(true);
    });
    connect(pane, &FileListPane::showGridView, this, [this] { gridMode_->showGridView(); });
    connect(pane, &FileListPane::selectedCoverFlow, this, [this](int row) {
        if (mode() == FileListPane::kCoverFlowMode && flowMode_->flowSelectedIndex() != row)
            flowMode_->selectedCoverFlow(row);
    });
    connect(pane, &FileListPane::showSelectFilesCountAndSize, this,
            &VKResultFilePane::ticksChanged);
    connect(pane, &FileListPane::reloadOutlines, this, &VKResultFilePane::outlinesNeedReload);
    connect(modes_, &FileViewModes::showGridView, this, [this] { refillGrid(); });
    connect(modes_, &FileViewModes::showCoverFlowerView, this, [this] { refillCoverFlow(true); });
    // The table under the flow follows the flow's selection.
    connect(flowMode_.get(), &VKCoverFlowMode::rowSelected, this, [this](qint64 row) {
        VKNSTableView* table = modes_->coverFlowerTableView();
        if (row >= 0 && row < table->model()->rowCount())
            table->selectRow(static_cast<int>(row));
    });
    connect(gridMode_.get(), &VKGridMode::checksChanged, this, [this] {
        seam::Bridge().VKTableViewCellCilck();
        list()->model()->refreshTicks();
        list()->changeSelectAllButtonState();
        emit ticksChanged();
        emit outlinesNeedReload();
    });
}

// The loaders go first: their threads may still hand pictures to the views.
VKResultFilePane::~VKResultFilePane() {
    stopImageLoading();
    gridMode_.reset();
    flowMode_.reset();
    delete modes_.data();
}

QWidget* VKResultFilePane::widget() {
    return modes_;
}

FileListPane* VKResultFilePane::list() const {
    return modes_->pane();
}

int VKResultFilePane::mode() const {
    return modes_->selectSegmentCount();
}

void VKResultFilePane::selectOutlineListWithOpNodeData(const OpNodePtr& node,
                                                       bool refreshSizeAndCount) {
    list()->selectOutlineListWithOpNodeData(node, refreshSizeAndCount ? 1 : 0);
}

void VKResultFilePane::stopImageLoading() {
    gridMode_->stopGridImageLoading();
    flowMode_->stopImageLoading();
}

void VKResultFilePane::selectListMode() {
    modes_->segmentSelect(FileListPane::kListMode);
}

void VKResultFilePane::setSegmentEnabled(bool enabled) {
    modes_->setSegmentEnabled(enabled);
}

void VKResultFilePane::showFiles(std::vector<IFileNode*> files) {
    list()->setRows(std::move(files));
}

void VKResultFilePane::clearFiles() {
    stopImageLoading();
    list()->setRows({});
    list()->ClearSelectedFilesInfo();
}

void VKResultFilePane::setTreeKind(int kind) {
    list()->setTreeKind(kind);
}

void VKResultFilePane::setTreeRoots(int kind, std::vector<OpNodePtr>* roots) {
    list()->setTreeRoots(kind, roots);
    if (kind == OP_TREE_PATH)
        modes_->setAllDiskArr(roots);
}

void VKResultFilePane::showNoValueNote() {
    modes_->showNoValueNote();
}

void VKResultFilePane::windowDidResize() {
    modes_->tableView()->changeFrame();
    modes_->coverFlowerTableView()->changeFrame();
    modes_->changeNoValueNodeViewFrame();
}

std::vector<OpNodePtr> VKResultFilePane::rowNodes() const {
    std::vector<OpNodePtr> nodes;
    const std::vector<IFileNode*>& rows = list()->arrList();
    nodes.reserve(rows.size());
    for (IFileNode* row : rows)
        nodes.push_back(row ? OpNodeData::initWithFileNode(row) : nullptr);
    return nodes;
}

void VKResultFilePane::refillGrid() {
    gridMode_->setNodes(rowNodes());
    gridMode_->showGridView();
}

void VKResultFilePane::refillCoverFlow(bool refresh) {
    flowMode_->showCoverFlowerViewWithRefresh(rowNodes(), refresh);
}

// Only the mode in sight loads pictures; the others refill when chosen.
void VKResultFilePane::refillShownMode() {
    switch (mode()) {
        case FileListPane::kGridMode:
            refillGrid();
            break;
        case FileListPane::kCoverFlowMode:
            refillCoverFlow(true);
            break;
        default:
            break;
    }
}

}  // namespace velmora::browser
