#include "Browser/FileListPane.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QThreadPool>

#include "BridgeSeam/IBridge.h"
#include "Browser/FileListModel.h"
#include "Browser/SpacePreviewWindow.h"
#include "Resources/ImageRegistry.h"
#include "Widgets/VKNSTableView.h"
#include "Widgets/VKTableHeaderView.h"

namespace velmora::browser {

namespace {

const QString kTickNo = QStringLiteral("pf_checkbox_no");
const QString kTickYes = QStringLiteral("pf_checkbox_yes");
const QString kTickHalf = QStringLiteral("pf_checkbox_half");

void ShowTickImage(QPushButton* button, const QString& name) {
    if (button == nullptr)
        return;
    button->setIcon(ui::ImageRegistry::Icon(name));
    button->setProperty("imageName", name);
}

// The picture of a file the bridge has no preview for.
QImage PlainFileIcon() {
    return QApplication::style()->standardIcon(QStyle::SP_FileIcon).pixmap(128, 128).toImage();
}

}  // namespace

FileListPane::FileListPane(VKNSTableView* tableView, VKNSTableView* coverFlowerTableView,
                           QObject* parent)
    : QObject(parent),
      tableView_(tableView),
      coverFlowerTableView_(coverFlowerTableView),
      model_(new FileListModel(this)) {
    for (VKNSTableView* table : {tableView_, coverFlowerTableView_}) {
        if (table == nullptr)
            continue;
        table->setModel(model_);
        table->setSortingEnabled(false);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        // Tab goes on to the browser's controls: walking the cells instead
        // would hold a keyboard user in the list for good.
        table->setTabKeyNavigation(false);
        table->verticalHeader()->hide();
        table->setShowGrid(false);
        table->setWordWrap(false);
        QHeaderView* header = table->horizontalHeader();
        header->setSectionsMovable(false);
        header->setSectionsClickable(true);
        header->setSortIndicatorShown(true);
        header->setSortIndicator(-1, Qt::DescendingOrder);
        header->setSectionResizeMode(kCheckBoxColumn, QHeaderView::Fixed);
        header->resizeSection(kCheckBoxColumn, 24);
        // The four columns fit the pane of the smallest browser (676
        // points beside the trees), the date column taking what is left.
        header->resizeSection(kNameColumn, 200);
        header->resizeSection(kSizeColumn, 90);
        header->resizeSection(kPathColumn, 220);
        header->setStretchLastSection(true);
        connect(header, &QHeaderView::sectionClicked, this,
                [this](int column) { didClickTableColumn(column); });
        connect(table, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
            if (index.column() == kCheckBoxColumn)
                nsbuttonCellClick(index.row());
        });
        connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [this](const QModelIndex& current) {
                    if (current.isValid())
                        shouldSelectRow(current.row());
                });
        connect(table, &VKNSTableView::spacePreviewFile, this, [this] { spacePrviewFile(); });
    }
    if (tableView_ != nullptr)
        putHeaderTickBox(tableView_, listViewSelectAllButton_);
    if (coverFlowerTableView_ != nullptr)
        putHeaderTickBox(coverFlowerTableView_, coverViewSelectAllButton_);
    changeSelectAllButtonState();
}

FileListPane::~FileListPane() = default;

void FileListPane::putHeaderTickBox(VKNSTableView* table, QPushButton*& button) {
    button = new QPushButton(table->horizontalHeader());
    button->setObjectName(QStringLiteral("selectAllButton"));
    button->setGeometry(5, 3, 14, 14);
    button->setFlat(true);
    button->setIconSize(QSize(14, 14));
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; }"));
    button->setFocusPolicy(Qt::NoFocus);
    ShowTickImage(button, kTickNo);
    connect(button, &QPushButton::clicked, this, [this] { setAllSelectOrNoSelect(); });
}

void FileListPane::setTreeRoots(int kind, std::vector<OpNodePtr>* roots) {
    if (kind >= 0 && kind < static_cast<int>(treeRoots_.size()))
        treeRoots_[kind] = roots;
}

const std::vector<IFileNode*>& FileListPane::arrList() const {
    return model_->rows();
}

bool FileListPane::ScanAddingNodes() {
    seam::IBridge& bridge = seam::Bridge();
    return bridge.IsScanRunning() && !bridge.IsPause();
}

void FileListPane::selectOutlineListWithOpNodeData(const OpNodePtr& node, int refreshSizeAndCount) {
    opDataFile_ = node;
    isSelectOutlineList_ = 1;
    emit restartCoverFlow();
    std::vector<IFileNode*> rows;
    if (node)
        seam::Bridge().GetFileNodeToArray(&rows, node);
    model_->setRows(std::move(rows));
    // A folder's files come in the tree's order: the next sort starts over.
    isSorted_ = 0;
    clearSortIndicators();
    changeSelectAllButtonState();
    emit rowsReplaced(refreshSizeAndCount);
}

void FileListPane::setRows(std::vector<IFileNode*> rows) {
    model_->setRows(std::move(rows));
    changeSelectAllButtonState();
    emit rowsReplaced(1);
}

void FileListPane::clearSortIndicators() {
    for (VKNSTableView* table : {tableView_, coverFlowerTableView_}) {
        if (table != nullptr)
            table->horizontalHeader()->setSortIndicator(-1, Qt::DescendingOrder);
    }
}

void FileListPane::didClickTableColumn(int column) {
    if (ScanAddingNodes())
        return;
    emit stopImageLoading();
    model_->sortByColumn(column, isSorted_ != 0);
    const Qt::SortOrder order = isSorted_ != 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
    clearSortIndicators();
    VKNSTableView* shown = selectSegmentCount_ == kListMode ? tableView_ : coverFlowerTableView_;
    if (shown != nullptr)
        shown->horizontalHeader()->setSortIndicator(column, order);
    if (selectSegmentCount_ != kListMode)
        emit restartCoverFlow();
    aTableColumn_ = column;
    isSorted_ = isSorted_ == 0 ? 1 : 0;
}

void FileListPane::nsbuttonCellClick(int row) {
    if (ScanAddingNodes())
        return;
    seam::IBridge& bridge = seam::Bridge();
    bridge.VKTableViewCellCilck();
    IFileNode* node = model_->nodeAt(row);
    if (node == nullptr)
        return;
    emit showRecoveryButton();
    const int state =
        OpNodeData::fileNodeState(node) == CHECK_CHECKED ? CHECK_UNCHECKED : CHECK_CHECKED;
    OpNodeData::initWithFileNode(node)->setNodeState(state);
    model_->refreshTicks();
    if (!bridge.IsScanRunning())
        emit enableSegment();
    if (selectSegmentCount_ == kGridMode)
        emit showGridView();
    changeSelectAllButtonState();
    emit showSelectFilesCountAndSize();
    recountTrees();
    emit reloadOutlines();
}

void FileListPane::setAllSelectOrNoSelect() {
    if (model_->rows().empty() || ScanAddingNodes())
        return;
    seam::IBridge& bridge = seam::Bridge();
    emit showRecoveryButton();
    bridge.VKTableViewCellCilck();
    const int state =
        GetCellNodeState(opDataFile_) == CHECK_CHECKED ? CHECK_UNCHECKED : CHECK_CHECKED;
    // Files only, and only themselves: their folders' marks are the trees'.
    for (IFileNode* node : model_->rows()) {
        if (!OpNodeData::isFileNodeDirect(node))
            OpNodeData::setFileNode(node, state);
    }
    if (!bridge.IsScanRunning())
        emit enableSegment();
    refreshCurrentView();
    changeSelectAllButtonState();
    emit showSelectFilesCountAndSize();
    recountTrees();
    emit reloadOutlines();
}

void FileListPane::refreshCurrentView() {
    model_->refreshTicks();
    if (selectSegmentCount_ == kGridMode)
        emit showGridView();
}

int FileListPane::GetCellNodeState(const OpNodePtr& node) {
    int sum = 0;
    int count = 0;
    auto add = [&](IFileNode* file) {
        if (file == nullptr || OpNodeData::isFileNodeDirect(file))
            return;
        sum += OpNodeData::fileNodeState(file);
        ++count;
    };
    std::vector<IFileNode*> list;
    if (node)
        seam::Bridge().GetFileNodeToArray(&list, node);
    else
        list = model_->rows();
    if (node && node->isFadeNode() && node->parent() == nullptr) {
        // A root category, year or month: its own children count.
        for (const OpChild& child : node->children()) {
            if (const OpNodePtr* group = std::get_if<OpNodePtr>(&child)) {
                if (*group) {
                    sum += (*group)->state();
                    ++count;
                }
            } else {
                add(std::get<IFileNode*>(child));
            }
        }
    } else {
        for (IFileNode* file : list)
            add(file);
    }
    if (sum == 0)
        return CHECK_UNCHECKED;
    return sum == 2 * count ? CHECK_CHECKED : CHECK_PARTLY;
}

void FileListPane::changeSelectAllButtonState() {
    QString image = kTickNo;
    if (!model_->rows().empty()) {
        switch (GetCellNodeState(opDataFile_)) {
            case CHECK_CHECKED:
                image = kTickYes;
                break;
            case CHECK_PARTLY:
                image = kTickHalf;
                break;
            default:
                break;
        }
    }
    selectAllImage_ = image;
    ShowTickImage(listViewSelectAllButton_, image);
    ShowTickImage(coverViewSelectAllButton_, image);
}

void FileListPane::ClearSelectedFilesInfo() {
    opDataFile_.reset();
    selectAllImage_ = kTickNo;
    ShowTickImage(listViewSelectAllButton_, kTickNo);
    ShowTickImage(coverViewSelectAllButton_, kTickNo);
    seam::Bridge().UnselectedAllNodes();
    model_->refreshTicks();
    emit showSelectFilesCountAndSize();
}

void FileListPane::recountTrees() {
    seam::IBridge& bridge = seam::Bridge();
    switch (treeKind_) {
        case OP_TREE_FILE_TYPE:
            bridge.RefreshTypeTreeState(opDataFile_);
            break;
        case OP_TREE_CREATION_DATE:
        case OP_TREE_MODIFICATION_DATE:
            bridge.RefreshTimeTreeState(treeRoots_[treeKind_], 0);
            break;
        default:
            break;
    }
}

bool FileListPane::shouldSelectRow(int row) {
    tableViewCellNum_ = row;
    if (selectSegmentCount_ == kCoverFlowMode) {
        emit selectedCoverFlow(row);
        selectCellCount_ = row;
    } else if (selectSegmentCount_ == kListMode) {
        selectedRow_ = row;
    }
    return true;
}

void FileListPane::spacePrviewFile() {
    seam::IBridge& bridge = seam::Bridge();
    if (bridge.IsDeepScan() && bridge.IsScanRunning() && !bridge.IsPause())
        return;
    if (selectSegmentCount_ == kCoverFlowMode || model_->rows().empty())
        return;
    if (preview_ && !preview_->isClosed()) {
        // Closed by the browser: the window goes without passing through
        // its close button.
        preview_.reset();
        return;
    }
    preview_.reset();
    IFileNode* node = model_->nodeAt(selectedRow_);
    if (node == nullptr)
        return;
    // The picture is read from the scanned disk, which may be slow, damaged
    // or busy with a recovery: the window opens at once with the plain file
    // icon, and the picture replaces it when a worker has read it.
    const OpNodePtr op = OpNodeData::initWithFileNode(node);
    preview_ = std::make_unique<SpacePreviewWindow>();
    preview_->setStrName(model_->cellText(selectedRow_, kNameColumn));
    preview_->setShowImage(PlainFileIcon());
    preview_->showCentred();
    const quint64 request = ++previewRequest_;
    QPointer<FileListPane> guard(this);
    QThreadPool::globalInstance()->start([op, guard, request] {
        QImage image = seam::Bridge().GetNSImageByNode(op);
        // The application object outlives every pane: the pane is looked at
        // only on its own thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, request, image = std::move(image)] {
                if (guard != nullptr)
                    guard->previewPictureArrived(request, image);
            },
            Qt::QueuedConnection);
    });
}

void FileListPane::previewPictureArrived(quint64 request, const QImage& image) {
    // A picture for a preview since closed or replaced is dropped.
    if (request != previewRequest_ || !preview_ || preview_->isClosed() || image.isNull())
        return;
    preview_->setShowImage(image);
}

}  // namespace velmora::browser
