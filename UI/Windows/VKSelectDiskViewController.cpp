#include "Windows/VKSelectDiskViewController.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "BridgeSeam/IBridge.h"
#include "TopView/TCImageButton.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/UserDefaults.h"
#include "UIPlatform/WindowBuilder.h"
#include "Widgets/VKCustomOutlineView.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/VKDiskOutlineModel.h"

namespace velmora::windows {

namespace {

const QString kAttach = QStringLiteral("RefreshAttachDevice");
const QString kDetach = QStringLiteral("RefreshDetachDevice");

QRect PageRect(double x, double y, double w, double h) {
    return ui::ToQtRect({x, y, w, h}, VKSelectDiskViewController::kHeight);
}

// The kernel's name of a disk's device node ("sdb" of "/dev/sdb").
std::string KernelName(const DiskVolumeNodeData& disk) {
    if (!disk.diskPath())
        return disk.name();
    const std::string& path = *disk.diskPath();
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

VKSelectDiskViewController::VKSelectDiskViewController(QWidget* parent, TCImageButton* backButton,
                                                       TCImageButton* scanButton)
    : QWidget(parent), backButton_(backButton), scanButton_(scanButton) {
    setObjectName(QStringLiteral("ListDiskXib"));
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);

    observeDevices();

    model_ = new VKDiskOutlineModel(this);
    QStringList titles;
    for (int column = 0; column < VKDiskOutlineModel::ColumnCount; ++column) {
        const QString id = VKDiskOutlineModel::Identifier(column);
        if (id == QLatin1String("Name"))
            titles << ui::texts::Text(QStringLiteral("PLX_THREE_TABLEVIEW_DRIVES"));
        else if (id == QLatin1String("Size"))
            titles << ui::texts::Text(QStringLiteral("PLX_THREE_TABLEVIEW_SIZE"));
        else if (id == QLatin1String("isSelect"))
            titles << QString();
        else if (id == QLatin1String("isSSD"))
            titles << QString();
        else
            titles << ui::texts::Text(QStringLiteral("PLX_THREE_TABLEVIEW_FILESYSTEM"));
    }
    model_->setHeaderTitles(titles);

    outline_ = new VKCustomOutlineView(this);
    outline_->setObjectName(QStringLiteral("outlineView"));
    outline_->setGeometry(PageRect(20, 95, 876, 405));
    outline_->setModel(model_);
    // The chosen row is drawn by the outline's own band, not by the view.
    outline_->setSelectionMode(QAbstractItemView::NoSelection);
    // Choosing is by the mouse or by the page's arrow keys; without keyboard
    // focus the outline draws no focus frame over the band.
    outline_->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    outline_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    outline_->setIconSize(QSize(16, 16));
    outline_->header()->setSectionsMovable(false);
    outline_->header()->setStretchLastSection(false);
    outline_->header()->setSectionResizeMode(VKDiskOutlineModel::Name, QHeaderView::Stretch);
    outline_->setColumnWidth(VKDiskOutlineModel::Size, 130);
    outline_->setColumnWidth(VKDiskOutlineModel::FileSystem, 130);
    outline_->setColumnWidth(VKDiskOutlineModel::IsSSD, 60);
    outline_->setColumnWidth(VKDiskOutlineModel::IsSelect, 36);
    outline_->viewport()->installEventFilter(this);
    connect(outline_->header(), &QHeaderView::sectionPressed, this,
            [this](int) { mouseDownInHeader(); });
    connect(outline_->header(), &QHeaderView::sectionDoubleClicked, this,
            [this](int) { doubleToScan(); });
    connect(outline_, &QTreeView::expanded, this, [this] { itemDidExpandOrCollapse(); });
    connect(outline_, &QTreeView::collapsed, this, [this] { itemDidExpandOrCollapse(); });

    // Over the outline while the list is being made (the first look at the
    // disks takes a few seconds, a rebuild after a device event as long).
    loadingLabel_ = new QLabel(ui::texts::Text(QStringLiteral("PLX_THREE_LOOKING_FOR_DISKS")),
                               outline_->viewport());
    loadingLabel_->setObjectName(QStringLiteral("loadingLabel"));
    loadingLabel_->setAlignment(Qt::AlignCenter);
    QPalette hint = loadingLabel_->palette();
    hint.setColor(QPalette::WindowText, QColor(128, 128, 128));
    loadingLabel_->setPalette(hint);
    loadingLabel_->hide();
    DeviceListRefresher& refresher = DeviceListRefresher::shared();
    connect(&refresher, &DeviceListRefresher::started, this, [this] { setLoading(true); });
    connect(&refresher, &DeviceListRefresher::finished, this,
            [this](const std::vector<DiskVolumeNodePtr>& rows) { takeRows(rows); });

    if (!backButton_) {
        backButton_ = new TCImageButton(PageRect(20, 15, 60, 60), this);
        backButton_->setImageFromFileNormalName("icon_back_normal", "icon_back_press",
                                                "icon_back_hover", "icon_back_disable");
        backButton_->setButtonEnabled(true);
        connect(backButton_, &QAbstractButton::clicked, this, [this] { backHome(); });
    }
    if (!scanButton_) {
        scanButton_ = new TCImageButton(PageRect(742, 25, 138, 41), this);
        scanButton_->setImageFromFileNormalName("btn_scan_normal", "btn_scan_press",
                                                "btn_scan_hover", "btn_scan_disable");
        scanButton_->setButtonEnabled(true);
        connect(scanButton_, &QAbstractButton::clicked, this, [this] { scanButtonAction(); });
    }
}

VKSelectDiskViewController::~VKSelectDiskViewController() {
    // The outline outlives this part of the page while the page is torn down.
    outline_->viewport()->removeEventFilter(this);
    ui::NotificationCenter::defaultCenter().removeObserver(this);
}

void VKSelectDiskViewController::observeDevices() {
    auto& center = ui::NotificationCenter::defaultCenter();
    for (const QString& name : {kAttach, kDetach}) {
        center.addObserver(this, name, [this](const ui::Notification&) { RefreshDevice(); });
    }
}

int VKSelectDiskViewController::rowForItem(const DiskVolumeNodeData* item) const {
    const QModelIndex index = model_->indexOf(item);
    if (!index.isValid())
        return -1;
    return outline_->rowNumber(index);
}

DiskVolumeNodePtr VKSelectDiskViewController::itemAtRow(int row) const {
    if (row < 0)
        return nullptr;
    QModelIndex index = model_->index(0, 0);
    for (int i = 0; i < row && index.isValid(); ++i)
        index = outline_->indexBelow(index);
    return model_->itemAt(index);
}

void VKSelectDiskViewController::highlight(int row) {
    outline_->setSelectCellBackgroundColorWithRow(row);
    selectedRow_ = row;
    model_->setSelected(row < 0 ? nullptr : itemAtRow(row).get());
    outline_->viewport()->update();
}

void VKSelectDiskViewController::InitFinished() {
    // Rows handed over while a rebuild runs are shown with the hint until
    // the rebuild's own arrive.
    loading_ = DeviceListRefresher::shared().busy();
    showLoadingLabel();
    // A disk without volumes is not listed. An opened image is, volumes or
    // not: it is scanned whole, and a bare volume's image has none.
    std::erase_if(allDiskArr_, [](const DiskVolumeNodePtr& row) {
        return row->numberOfChildren() == 0 && !row->isEdi() && !row->isAppleDmg();
    });
    desktopVolume_.reset();
    for (const DiskVolumeNodePtr& row : allDiskArr_) {
        if (row->numberOfChildren() > 0) {
            desktopVolume_ = row->childAtIndex(0);
            desktopVolume_->setIsSystemVolume(1);
            break;
        }
    }
    desktopEntry_ = std::make_shared<DiskVolumeNodeData>(_DiskVolumeData{});
    allDiskArr_.insert(allDiskArr_.begin(), desktopEntry_);
    rootArr_.clear();

    model_->reset(&allDiskArr_, desktopEntry_.get());
    outline_->expandAll();
    // The browser stops the scan when the device watcher announces this
    // name gone: the kernel's name of the disk (the one the watcher uses;
    // the disk's title is a model name, or none). A disk row is its own
    // disk. Every row carries it from the start: the row chosen as the page
    // opens (and the Desktop entry's volume) is scanned without a click.
    for (const DiskVolumeNodePtr& disk : allDiskArr_) {
        if (disk == desktopEntry_)
            continue;
        const std::string name = KernelName(*disk);
        disk->setParentName(name);
        for (size_t i = 0; i < disk->numberOfChildren(); ++i)
            disk->childAtIndex(i)->setParentName(name);
    }

    const int row = desktopVolume_ ? rowForItem(desktopVolume_.get()) : -1;
    highlight(row);
    selectDiskVolume_ = itemAtRow(row);
    reportSelection();
    // The page takes the keyboard, so the arrows choose at once.
    setFocus(Qt::OtherFocusReason);
}

void VKSelectDiskViewController::reportSelection() {
    // While the list is being made its rows may name devices that are gone:
    // nothing is chosen until the new rows are in.
    if (delegate_)
        delegate_->changeSelectDiskViewContinueButtonEnabled(loading_ ? nullptr
                                                                      : selectDiskVolume_);
    oldSelectDiskVolume_ = selectDiskVolume_.get();
    if (scanButton_)
        scanButton_->setButtonEnabled(!loading_ && selectDiskVolume_ != nullptr);
}

void VKSelectDiskViewController::setLoading(bool loading) {
    loading_ = loading;
    showLoadingLabel();
    reportSelection();
}

// Centred in the outline, above its rows.
void VKSelectDiskViewController::showLoadingLabel() {
    QWidget* viewport = outline_->viewport();
    loadingLabel_->setGeometry(0, std::max(0, viewport->height() / 2 - 20), viewport->width(), 40);
    loadingLabel_->setVisible(loading_);
    loadingLabel_->raise();
}

// A rebuild's rows: the outline is made again, which chooses the desktop
// volume again.
void VKSelectDiskViewController::takeRows(const std::vector<DiskVolumeNodePtr>& rows) {
    loading_ = false;
    loadingLabel_->hide();
    allDiskArr_ = rows;
    InitFinished();
}

void VKSelectDiskViewController::RefreshDevice() {
    DeviceListRefresher::shared().request();
}

void VKSelectDiskViewController::getDiskValue() {
    allDiskArr_.clear();
    model_->reset(nullptr, nullptr);
    seam::Bridge().GetDeviceInfoToArray(&allDiskArr_);
    ui::PerformAfter(this, 100, [this] { InitFinished(); });
}

void VKSelectDiskViewController::scanButtonAction() {
    if (!delegate_ || loading_)
        return;
    if (isSelectDesktop_ == 1) {
        delegate_->changeSelectDiskViewContinueButtonEnabled(desktopVolume_);
        oldSelectDiskVolume_ = desktopVolume_.get();
        ui::UserDefaults::standard().setValue(QStringLiteral("isSelectDesktopDisk"), true);
    } else {
        ui::UserDefaults::standard().setValue(QStringLiteral("isSelectDesktopDisk"), false);
    }
    delegate_->doubleClickedListToScan(isSelectDesktop_);
}

void VKSelectDiskViewController::doubleToScan() {
    if (outline_->isSelectRow() == -1 || bClickHead_)
        return;
    scanButtonAction();
}

void VKSelectDiskViewController::backHome() {
    if (delegate_)
        delegate_->backHome();
}

void VKSelectDiskViewController::removeNotification() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
}

void VKSelectDiskViewController::disableRefreshDevice() {
    auto& center = ui::NotificationCenter::defaultCenter();
    center.removeObserver(this, kAttach);
    center.removeObserver(this, kDetach);
    disconnect(&DeviceListRefresher::shared(), nullptr, this, nullptr);
}

// Every row can be chosen: a disk, a volume or the Desktop entry.
bool VKSelectDiskViewController::shouldSelectItem(const DiskVolumeNodePtr& item) {
    const int row = rowForItem(item.get());
    isSelectDesktop_ = row == 0 && desktopVolume_ ? 1 : 0;
    bClickHead_ = false;
    highlight(row);
    selectDiskVolume_ = item;
    return true;
}

void VKSelectDiskViewController::outlineViewSelectionDidChange() {
    if (selectDiskVolume_.get() == oldSelectDiskVolume_) {
        // No new row was taken (a click into the empty part): the choice goes.
        selectDiskVolume_.reset();
        highlight(-1);
    }
    reportSelection();
}

void VKSelectDiskViewController::mouseDownInHeader() {
    bClickHead_ = true;
}

void VKSelectDiskViewController::itemDidExpandOrCollapse() {
    selectedRow_ = -1;
    reloadCellBackgroundColor();
}

// The list of disk rows starts empty on every build, so this only redraws
// rows it was given before.
void VKSelectDiskViewController::reloadCellBackgroundColor() {
    if (rootArr_.isEmpty())
        return;
    rootArr_.clear();
    for (int row = 0;; ++row) {
        const DiskVolumeNodePtr item = itemAtRow(row);
        if (!item)
            break;
        if ((item->numberOfChildren() > 0 || item->isEdi()) &&
            !rootArr_.contains(QString::number(row))) {
            rootArr_ << QString::number(row);
            outline_->setIsRootArr(rootArr_);
        }
    }
    outline_->viewport()->update();
}

void VKSelectDiskViewController::clickRow(int row) {
    const DiskVolumeNodePtr item = itemAtRow(row);
    // A click on the row that is already chosen changes no selection, so
    // nothing follows: the choice stays (taken as "no new row", it would be
    // dropped, and the scan button would go off under the user's click).
    if (item && item == selectDiskVolume_ && row == selectedRow_)
        return;
    if (item)
        shouldSelectItem(item);
    outlineViewSelectionDidChange();
}

// Up and Down choose the row above or below the chosen one (the first row
// when none is chosen); Return goes on to the window, whose default scans.
bool VKSelectDiskViewController::moveChoice(int key) {
    int row;
    if (key == Qt::Key_Up)
        row = selectedRow_ > 0 ? static_cast<int>(selectedRow_) - 1 : 0;
    else if (key == Qt::Key_Down)
        row = selectedRow_ < 0 ? 0 : static_cast<int>(selectedRow_) + 1;
    else
        return false;
    if (itemAtRow(row))
        clickRow(row);
    return true;
}

void VKSelectDiskViewController::keyPressEvent(QKeyEvent* event) {
    const bool plain =
        event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && moveChoice(event->key()))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool VKSelectDiskViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == outline_->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QModelIndex index = outline_->indexAt(mouse->position().toPoint());
            const DiskVolumeNodePtr item = model_->itemAt(index);
            clickRow(item ? rowForItem(item.get()) : -1);
            return false;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            doubleToScan();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace velmora::windows
