#include "CNGridViewItem.h"

#include <QHash>
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
    if (name == imageName_) {
        return;
    }
    imageName_ = name;
    picture_ = name.isEmpty() ? QPixmap() : ImageRegistry::Pixmap(name, size());
    update();
}

void CNGridItemCheckBox::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(rect(), picture_);
}

void CNGridItemTitleLabel::paintEvent(QPaintEvent*) {
    const QRect r = contentsRect();
    if (text() != laidOutFor_ || r.width() != laidOutWidth_) {
        laidOutFor_ = text();
        laidOutWidth_ = r.width();
        laidOut_.setText(fontMetrics().elidedText(laidOutFor_, Qt::ElideRight, r.width()));
        laidOut_.setTextFormat(Qt::PlainText);
        laidOut_.prepare(QTransform(), font());
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawStaticText(r.topLeft(), laidOut_);
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
    drawnImage_ = QImage();
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
    drawnImage_ = QImage();
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

// The rounded tile of one look, drawn once and then only copied: filling an
// antialiased path for every tile at every step of a scroll costs more than
// everything else a frame does.
QImage CNGridViewItem::TilePicture(const QSize& size, bool hovered, const QColor& ring,
                                   double ringWidth, qreal ratio) {
    static QHash<QString, QImage> cache;
    const QString key = QStringLiteral("%1x%2 %3 %4 %5 %6")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(hovered)
                            .arg(ring.isValid() ? ring.name(QColor::HexArgb) : QString())
                            .arg(ringWidth)
                            .arg(ratio);
    if (auto it = cache.constFind(key); it != cache.constEnd()) {
        return *it;
    }
    QImage picture(size * ratio, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(kTileOffset, kTileOffset, size.width() - kTileOffset,
                      size.height() - kTileOffset);
    QPainterPath path;
    path.addRoundedRect(tile, kTileRadius, kTileRadius);
    painter.fillPath(path, hovered ? CNGridViewPalette::itemBackgroundHoverColor()
                                   : CNGridViewPalette::itemBackgroundColor());
    if (ring.isValid()) {
        painter.strokePath(path, QPen(ring, ringWidth));
    }
    painter.end();
    cache.insert(key, picture);
    return picture;
}

void CNGridViewItem::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor ring;
    double ringWidth = 0;
    if (selected()) {
        // Nobody hands items a layout: the default one gives the ring.
        static const CNGridViewItemLayout fallback;
        const CNGridViewItemLayout& layout = currentLayout_ ? *currentLayout_ : fallback;
        ring = layout.selectionRingColor;
        ringWidth = layout.selectionRingLineWidth;
    }
    painter.drawImage(QPointF(0, 0),
                      TilePicture(size(), hovered(), ring, ringWidth, devicePixelRatioF()));
    if (!itemImage_.isNull()) {
        const QRectF target = imageRect();
        const QSize pixels = (target.size() * devicePixelRatioF()).toSize();
        if (drawnImage_.size() != pixels) {
            // Scaled once, not at every paint of a scroll.
            drawnImage_ =
                (itemImage_.size() == pixels
                     ? itemImage_
                     : itemImage_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            drawnImage_.setDevicePixelRatio(devicePixelRatioF());
        }
        painter.drawImage(target.topLeft(), drawnImage_);
    }
}
