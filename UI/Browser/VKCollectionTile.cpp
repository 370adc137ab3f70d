#include "VKCollectionTile.h"

#include <QEnterEvent>
#include <QFontDatabase>

#include "BridgeSeam/IBridge.h"
#include "Resources/ImageRegistry.h"
#include "VKPhotoLoader.h"

namespace velmora::browser {

namespace {

// The tile's subviews, by their frames in the tile (from its top left).
constexpr QRect kBackgroundFrame(3, 3, 114, 94);
constexpr QRect kImageFrame(10, 10, 90, 55);
constexpr QRect kTitleFrame(30, 78, 80, 20);
constexpr QRect kButtonFrame(16, 76, 14, 14);
constexpr QRect kDeletedFrame(90, 49, 16, 16);

QPixmap Picture(const QString& name, QSize size) {
    return velmora::ui::ImageRegistry::Pixmap(name, size);
}

}  // namespace

BVView::BVView(const QRect& frame, QWidget* parent) : QWidget(parent) {
    setGeometry(QRect(frame.topLeft(), kSize));
    setFixedSize(kSize);
    bgImageView_ = new QLabel(this);
    bgImageView_->setGeometry(kBackgroundFrame);
    bgImageView_->setScaledContents(true);
    setBackground(QStringLiteral("view_bg_normal"));
    imageView_ = new QLabel(this);
    imageView_->setGeometry(kImageFrame);
    imageView_->setAlignment(Qt::AlignCenter);
    titleLabel_ = new QLabel(this);
    titleLabel_->setGeometry(kTitleFrame);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(10);
    titleLabel_->setFont(font);
    titleLabel_->setAutoFillBackground(true);
    titleLabel_->setTextInteractionFlags(Qt::NoTextInteraction);
    button_ = new QPushButton(this);
    button_->setGeometry(kButtonFrame);
    button_->setFlat(true);
    button_->setCheckable(true);
    button_->setIconSize(kButtonFrame.size());
    button_->setStyleSheet(QStringLiteral("border: none; padding: 0;"));
    connect(button_, &QPushButton::clicked, this, [this] { changeButtonState(); });
    deleteIamgeView_ = new QLabel(this);
    deleteIamgeView_->setGeometry(kDeletedFrame);
    deleteIamgeView_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    deleteIamgeView_->setPixmap(Picture(QStringLiteral("deletered"), kDeletedFrame.size()));
    deleteIamgeView_->hide();
    setAttribute(Qt::WA_Hover);
}

void BVView::setBackground(const QString& name) {
    backgroundName_ = name;
    bgImageView_->setPixmap(Picture(name, kBackgroundFrame.size()));
    update();
}

void BVView::setButtonImageName(const QString& name) {
    buttonImageName_ = name;
    button_->setIcon(QIcon(Picture(name, kButtonFrame.size())));
}

void BVView::enterEvent(QEnterEvent* event) {
    setBackground(QStringLiteral("view_bg_press"));
    QWidget::enterEvent(event);
}

void BVView::leaveEvent(QEvent* event) {
    setBackground(QStringLiteral("view_bg_normal"));
    QWidget::leaveEvent(event);
}

void BVView::changeButtonState() {
    // A paused scan still counts: its results may change under the tick.
    if (seam::Bridge().IsScanRunning() != 0 || !listData_)
        return;
    const int old = listData_->state();
    listData_->setNodeState(old < 1 ? 2 : 0);
    setButtonImageName(old <= 0 ? QStringLiteral("checkbox_yes") : QStringLiteral("checkbox_no"));
    if (delegate_ != nullptr)
        delegate_->reLoadItemData();
}

BVPrototype::BVPrototype(QObject* parent) : QObject(parent) {}

BVPrototype::~BVPrototype() {
    if (ownsView_)
        delete view_.data();
}

BVView* BVPrototype::SharedView() {
    // Made once and kept for the life of the process.
    static QPointer<BVView>* shared = new QPointer<BVView>();
    if (shared->isNull())
        *shared = new BVView(QRect());
    return shared->data();
}

void BVPrototype::loadView() {
    if (ownsView_)
        delete view_.data();
    ownsView_ = delegate_ != nullptr && delegate_->viewLoadCnt() != 0;
    view_ = ownsView_ ? new BVView(QRect()) : SharedView();
    view_->setDelegate(this);
}

void BVPrototype::setRepresentedObject(const OpNodePtr& node) {
    if (view_.isNull())
        return;
    if (delegate_ == nullptr || delegate_->viewLoadCnt() == 0) {
        view_->hide();
        return;
    }
    if (!node)
        return;
    view_->setListData(node);
    const QImage picture =
        DecodePicture(seam::Bridge().GetNSImageByNode(node, {}), kImageFrame.size());
    view_->imageView()->setPixmap(picture.isNull()
                                      ? Picture(QStringLiteral("logo"), kImageFrame.size())
                                      : QPixmap::fromImage(picture));
    const QString name = QString::fromStdString(node->name());
    view_->titleLabel()->setText(
        view_->titleLabel()->fontMetrics().elidedText(name, Qt::ElideRight, kTitleFrame.width()));
    view_->titleLabel()->setToolTip(name);
    view_->setButtonImageName(node->state() == 2 ? QStringLiteral("checkbox_yes")
                                                 : QStringLiteral("checkbox_no"));
    view_->deleteIamgeView()->setVisible(node->isDeleted() != 0);
}

void BVPrototype::reLoadItemData() {
    if (delegate_ != nullptr)
        delegate_->reLoadCollectionViewData();
}

}  // namespace velmora::browser
