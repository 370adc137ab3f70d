#include "Browser/FileViewModes.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QStyle>
#include <QVBoxLayout>

#include "BridgeSeam/IBridge.h"
#include "Browser/FileListPane.h"
#include "Resources/ImageRegistry.h"
#include "UIPlatform/Texts.h"
#include "Widgets/VKNSTableView.h"

namespace velmora::browser {

namespace {

constexpr int kNoteWidth = 400;
constexpr int kNoteHeight = 50;
constexpr int kArrowWidth = 82;
constexpr int kArrowHeight = 39;
constexpr int kNoteTextWidth = 420;

QWidget* PlainPane(const QString& name) {
    auto* pane = new QWidget();
    pane->setObjectName(name);
    return pane;
}

}  // namespace

FileViewModes::FileViewModes(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    segment_ = new QWidget(this);
    segment_->setObjectName(QStringLiteral("segment"));
    auto* segments = new QHBoxLayout(segment_);
    segments->setContentsMargins(0, 3, 6, 3);
    segments->setSpacing(0);
    segments->addStretch();
    segmentGroup_ = new QButtonGroup(segment_);
    segmentGroup_->setExclusive(true);
    // Our pictures of the three ways to show files, each with its name as
    // a tip (the platform's stock icons mean other things: "details",
    // "contents", "information").
    const char* const kSegmentImages[] = {"view_mode_list", "view_mode_grid",
                                          "view_mode_coverflow"};
    const char* const kSegmentTips[] = {"VIEW_MODE_LIST", "VIEW_MODE_GRID", "VIEW_MODE_COVER_FLOW"};
    // Names a driver of the windows finds them by.
    const char* const kSegmentNames[] = {"segmentList", "segmentGrid", "segmentCoverFlow"};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(segment_);
        button->setCheckable(true);
        button->setFixedSize(35, 25);
        button->setIcon(ui::ImageRegistry::Icon(QString::fromLatin1(kSegmentImages[i])));
        button->setIconSize(QSize(16, 16));
        const QString tip = ui::texts::Text(QString::fromLatin1(kSegmentTips[i]));
        button->setToolTip(tip);
        button->setAccessibleName(tip);
        button->setObjectName(QString::fromLatin1(kSegmentNames[i]));
        segmentGroup_->addButton(button, i);
        segments->addWidget(button);
    }
    segmentGroup_->button(0)->setChecked(true);
    connect(segmentGroup_, &QButtonGroup::idClicked, this, [this](int id) { segmentSelect(id); });
    column->addWidget(segment_);

    auto* stackHolder = new QWidget(this);
    panes_ = new QStackedLayout(stackHolder);
    column->addWidget(stackHolder, 1);

    listTableViewBlowView_ = PlainPane(QStringLiteral("listTableViewBlowView"));
    tableView_ = new VKNSTableView(listTableViewBlowView_);
    tableView_->setObjectName(QStringLiteral("tableView"));
    auto* listLayout = new QVBoxLayout(listTableViewBlowView_);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addWidget(tableView_);

    gridView_ = PlainPane(QStringLiteral("gridView"));
    gridSlot_ = PlainPane(QStringLiteral("gridSlot"));
    auto* gridLayout = new QVBoxLayout(gridView_);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->addWidget(gridSlot_);

    coverFlower_ = PlainPane(QStringLiteral("coverFlower"));
    coverFlowSlot_ = PlainPane(QStringLiteral("coverFlowSlot"));
    coverFlowerTableView_ = new VKNSTableView(coverFlower_);
    coverFlowerTableView_->setObjectName(QStringLiteral("coverFlowerTableView"));
    auto* coverLayout = new QVBoxLayout(coverFlower_);
    coverLayout->setContentsMargins(0, 0, 0, 0);
    coverLayout->setSpacing(0);
    coverLayout->addWidget(coverFlowSlot_, 3);
    coverLayout->addWidget(coverFlowerTableView_, 2);

    panes_->addWidget(listTableViewBlowView_);
    panes_->addWidget(gridView_);
    panes_->addWidget(coverFlower_);

    pane_ = new FileListPane(tableView_, coverFlowerTableView_, this);
    connect(pane_, &FileListPane::rowsReplaced, this, [this] { showNoValueNote(); });
    connect(pane_, &FileListPane::enableSegment, this, [this] { setSegmentEnabled(true); });
}

FileViewModes::~FileViewModes() = default;

int FileViewModes::selectSegmentCount() const {
    return pane_->selectSegmentCount();
}

void FileViewModes::setSegmentEnabled(bool enabled) {
    segment_->setEnabled(enabled);
}

void FileViewModes::segmentSelect(int segment) {
    emit pane_->stopImageLoading();
    if (QAbstractButton* button = segmentGroup_->button(segment))
        button->setChecked(true);
    if (segment == pane_->selectSegmentCount())
        return;
    pane_->setSelectSegmentCount(segment);
    showNoValueNote();
    if (!seam::Bridge().IsScanRunning())
        setSegmentEnabled(true);
    switch (segment) {
        case FileListPane::kListMode:
            tableView_->viewport()->update();
            break;
        case FileListPane::kGridMode:
            emit showGridView();
            break;
        default:
            coverFlowerTableView_->viewport()->update();
            emit showCoverFlowerView();
            emit pane_->selectedCoverFlow(0);
            break;
    }
    pane_->changeSelectAllButtonState();
    emit pane_->showSelectFilesCountAndSize();
}

void FileViewModes::showNoValueNote() {
    const bool empty = pane_->arrList().empty();
    const bool haveRoots = allDiskArr_ != nullptr && !allDiskArr_->empty();
    const bool note = empty && haveRoots;
    tableView_->changeNoValue(!note);
    coverFlowerTableView_->changeNoValue(!note);
    changeNoValue(note ? 0 : 1);
    switch (pane_->selectSegmentCount()) {
        case FileListPane::kListMode:
            panes_->setCurrentWidget(listTableViewBlowView_);
            break;
        case FileListPane::kCoverFlowMode:
            panes_->setCurrentWidget(coverFlower_);
            break;
        default:
            panes_->setCurrentWidget(gridView_);
            break;
    }
}

float FileViewModes::getLableHight() const {
    // One rule for every note: the table's.
    return tableView_->getLableHight();
}

QRect FileViewModes::noteFrame() const {
    const QSize s = gridNoValueView_ ? gridNoValueView_->size() : gridView_->size();
    // Top-left based: the note's top sits at the middle of the pane.
    return QRect(s.width() / 2 - kNoteWidth / 2, s.height() / 2, kArrowWidth + kNoteTextWidth,
                 kNoteHeight);
}

void FileViewModes::changeNoValue(int flag) {
    if (flag != 0) {
        delete gridNoValueView_;
        return;
    }
    if (gridNoValueView_)
        return;
    gridNoValueView_ = new QWidget(gridView_);
    gridNoValueView_->setObjectName(QStringLiteral("gridNoValueView"));
    gridNoValueView_->setGeometry(gridView_->rect());
    auto* fill = new QVBoxLayout(gridNoValueView_);
    fill->setContentsMargins(0, 0, 0, 0);
    auto* background = new QLabel(gridNoValueView_);
    background->setPixmap(ui::ImageRegistry::Pixmap(QStringLiteral("bg_150")));
    background->setScaledContents(true);
    fill->addWidget(background);

    nodeView_ = new QWidget(gridNoValueView_);
    nodeView_->setObjectName(QStringLiteral("nodeView"));
    auto* arrow = new QLabel(nodeView_);
    arrow->setPixmap(ui::ImageRegistry::Pixmap(QStringLiteral("arrow")));
    arrow->setScaledContents(true);
    arrow->setGeometry(0, 0, kArrowWidth, kArrowHeight);
    auto* text = new QLabel(ui::texts::Text(QStringLiteral("PLX_FOUR_NO_VALUE_NOTE")), nodeView_);
    text->setObjectName(QStringLiteral("noValueText"));
    text->setGeometry(kArrowWidth, 0, kNoteTextWidth, static_cast<int>(getLableHight()));
    QFont font = text->font();
    font.setPointSize(13);
    text->setFont(font);
    QPalette p = text->palette();
    p.setColor(QPalette::WindowText, Qt::gray);
    text->setPalette(p);
    text->setWordWrap(true);
    changeNoValueNodeViewFrame();
    gridNoValueView_->show();
    gridNoValueView_->raise();
    nodeView_->raise();
}

void FileViewModes::changeNoValueNodeViewFrame() {
    if (gridNoValueView_)
        gridNoValueView_->setGeometry(gridView_->rect());
    if (nodeView_)
        nodeView_->setGeometry(noteFrame());
}

}  // namespace velmora::browser
