#include "CNGridViewItem.h"

#include <QPainter>
#include <QPainterPath>
#include <utility>

#include "CNGridViewPalette.h"
#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"

using velmora::ui::ICellNode;
using velmora::ui::ImageRegistry;

namespace {

constexpr double kTileOffset = 5;
constexpr double kTileRadius = 10;
constexpr double kThumbnailSide = 90;

std::function<bool()>& ScanBusySource() {
    static std::function<bool()> source;
    return source;
}

}  // namespace

CNGridItemCheckBox::CNGridItemCheckBox(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void CNGridItemCheckBox::setImageName(const QString& name) {
    imageName_ = name;
    update();
}

void CNGridItemCheckBox::paintEvent(QPaintEvent*) {
    if (imageName_.isEmpty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), ImageRegistry::Pixmap(imageName_, size()));
}

void CNGridItemTitleLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect r = contentsRect();
    painter.drawText(r, int(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
}

CNGridViewItem::CNGridViewItem(QWidget* parent) : CNGridViewItemBase(parent) {
    setUpSubviews();
}

CNGridViewItem::CNGridViewItem(const CNGridViewItemLayout*, const QString& reuseIdentifier)
    : CNGridViewItem() {
    setReuseIdentifier(reuseIdentifier);
}

void CNGridViewItem::SetScanBusySource(std::function<bool()> source) {
    ScanBusySource() = std::move(source);
}

void CNGridViewItem::setUpSubviews() {
    itemButton_ = new CNGridItemCheckBox(this);
    itemButton_->setGeometry(16, 121, 13, 13);
    connect(itemButton_, &QAbstractButton::clicked, this,
            &CNGridViewItem::setItemSelectBoxClickAction);

    titleLabel_ = new CNGridItemTitleLabel(this);
    titleLabel_->setGeometry(30, 120, 120, 25);
    titleLabel_->setFont(velmora::ui::FontRegistry::SystemFont(11));
    titleLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    useLayout_ = true;
}

void CNGridViewItem::setItemImage(const QImage& image) {
    itemImage_ = image;
    update();
}

void CNGridViewItem::setHovered(bool hovered) {
    CNGridViewItemBase::setHovered(hovered);
    update();
}

void CNGridViewItem::setSelected(bool selected) {
    CNGridViewItemBase::setSelected(selected);
    // The ring is drawn from the state: a deselect-all from any grid must
    // show at once.
    update();
}

void CNGridViewItem::prepareForReuse() {
    CNGridViewItemBase::prepareForReuse();
    itemImage_ = QImage();
    itemTitle_.clear();
    // Late pictures for the file shown before are dropped from now on.
    node_.store(nullptr);
    update();
}

void CNGridViewItem::setItemSelectBoxClickAction() {
    if (ScanBusySource() && ScanBusySource()()) {
        return;
    }
    ICellNode* node = node_.load();
    const int before = node != nullptr ? node->state() : 0;
    // The picture of the state the click leads to.
    itemButton_->setImageName(before > 0 ? QStringLiteral("checkbox_no")
                                         : QStringLiteral("checkbox_yes"));
    if (delegate_ != nullptr) {
        delegate_->doSelectItem(index());
    }
}

void CNGridViewItem::updateImageViewWithImage(const QImage& image, ICellNode* node) {
    if (node == nullptr || node != node_.load()) {
        return;
    }
    // The picture travels under the item's own lock: the main thread takes
    // it under the same lock, so whatever the loader wrote is complete there.
    std::lock_guard lock(lateMutex_);
    lateImage_ = image;
    lateNode_ = node;
    if (!latePending_) {
        latePending_ = true;
        QMetaObject::invokeMethod(this, &CNGridViewItem::takeLateImage, Qt::QueuedConnection);
    }
}

void CNGridViewItem::takeLateImage() {
    QImage image;
    ICellNode* node = nullptr;
    {
        std::lock_guard lock(lateMutex_);
        image = std::exchange(lateImage_, QImage());
        node = std::exchange(lateNode_, nullptr);
        latePending_ = false;
    }
    // The item may have been reused while the picture was on its way.
    if (node != node_.load()) {
        return;
    }
    refImageWithImage(image);
}

void CNGridViewItem::refImageWithImage(const QImage& image) {
    if (image.width() > 0 && image.height() > 0) {
        setItemImage(image);
    }
}

QSizeF CNGridViewItem::LimitedImageSize(const QSizeF& imageSize) {
    // Each side on its own, as the tiles have always been drawn.
    return {std::min(imageSize.width(), kThumbnailSide),
            std::min(imageSize.height(), kThumbnailSide)};
}

QRectF CNGridViewItem::imageRect() const {
    const QSizeF size = LimitedImageSize(itemImage_.deviceIndependentSize());
    const double tileWidth = width() - kTileOffset;
    const double tileHeight = height() - kTileOffset;
    return {(tileWidth - size.width()) / 2 + kTileOffset,
            (tileHeight - size.height()) / 2 - kTileOffset, size.width(), size.height()};
}

void CNGridViewItem::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(kTileOffset, kTileOffset, width() - kTileOffset, height() - kTileOffset);
    QPainterPath path;
    path.addRoundedRect(tile, kTileRadius, kTileRadius);
    painter.fillPath(path, hovered() ? CNGridViewPalette::itemBackgroundHoverColor()
                                     : CNGridViewPalette::itemBackgroundColor());
    if (selected()) {
        // Nobody hands items a layout: the default one gives the ring.
        static const CNGridViewItemLayout fallback;
        const CNGridViewItemLayout& layout = currentLayout_ ? *currentLayout_ : fallback;
        painter.strokePath(path, QPen(layout.selectionRingColor, layout.selectionRingLineWidth));
    }
    if (!itemImage_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(), itemImage_);
    }
}
