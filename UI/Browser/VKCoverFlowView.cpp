#include "VKCoverFlowView.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "UIPlatform/Timing.h"

namespace velmora::browser {

namespace {

constexpr int kSlideMs = 280;
constexpr double kTurnDegrees = 62;
// The share of a picture's height mirrored under it.
constexpr double kReflection = 0.33;
constexpr int kReflectionGap = 2;
// Pictures cached beyond the ones drawn before the cache is trimmed.
constexpr int kCacheSlack = 24;
// QTransform::rotate's fixed distance to the projection plane.
constexpr double kQtPlaneDistance = 1024;

}  // namespace

VKCoverFlowView::VKCoverFlowView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 120);
    slide_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&slide_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        position_ = value.toDouble();
        update();
    });
}

VKCoverFlowView::~VKCoverFlowView() = default;

void VKCoverFlowView::setSelectedIndex(qint64 index) {
    index = itemsCount_ > 0 ? std::clamp<qint64>(index, 0, itemsCount_ - 1) : 0;
    selectedIndex_ = index;
    slide_.stop();
    const int ms = ui::ScaledMs(kSlideMs);
    // A long jump would flicker through every picture between: start close.
    double from = position_;
    if (std::abs(from - static_cast<double>(index)) > kSideItems)
        from = static_cast<double>(index) + (from < index ? -kSideItems : kSideItems);
    if (ms <= 0) {
        position_ = static_cast<double>(index);
        update();
        return;
    }
    slide_.setDuration(ms);
    slide_.setStartValue(from);
    slide_.setEndValue(static_cast<double>(index));
    slide_.start();
}

void VKCoverFlowView::reloadData() {
    itemsCount_ = dataSource_ != nullptr
                      ? std::max<qint64>(0, dataSource_->numberOfItemsInImageFlow(this))
                      : 0;
    cache_.clear();
    if (selectedIndex_ >= itemsCount_) {
        selectedIndex_ = std::max<qint64>(0, itemsCount_ - 1);
        position_ = static_cast<double>(selectedIndex_);
    }
    update();
}

void VKCoverFlowView::reloadCellDataAtIndex(qint64 index) {
    cache_.remove(index);
    if (std::abs(static_cast<double>(index) - position_) <= kSideItems + 1)
        update();
}

double VKCoverFlowView::coverSide() const {
    return std::max(16.0, std::min(height() * 0.56, width() * 0.3));
}

std::vector<VKCoverFlowView::Placement> VKCoverFlowView::placements() const {
    std::vector<Placement> out;
    if (itemsCount_ <= 0)
        return out;
    const double side = coverSide();
    const double centre = width() / 2.0;
    const double baseline = height() * 0.08 + side;
    const auto first = std::max<qint64>(0, static_cast<qint64>(std::floor(position_)) - kSideItems);
    const auto last =
        std::min<qint64>(itemsCount_ - 1, static_cast<qint64>(std::ceil(position_)) + kSideItems);
    for (qint64 k = first; k <= last; ++k) {
        const double offset = static_cast<double>(k) - position_;
        const double turn = std::clamp(offset, -1.0, 1.0);
        const double x = centre + turn * side * 0.62 + (offset - turn) * side * 0.24;
        QTransform transform;
        transform.translate(x, baseline);
        // The turn seen from a distance that grows with the pictures, so the
        // perspective looks the same at any size of the view.
        const double depth = side * 2.2 / kQtPlaneDistance;
        transform.scale(depth, depth);
        transform.rotate(turn * kTurnDegrees, Qt::YAxis);
        transform.scale(1 / depth, 1 / depth);
        const double scale = 1.0 - 0.2 * std::abs(turn);
        transform.scale(scale, scale);
        out.push_back({k, offset, transform, QRectF(-side / 2, -side, side, side)});
    }
    // Far pictures first: the front one covers the others.
    std::stable_sort(out.begin(), out.end(), [](const Placement& a, const Placement& b) {
        return std::abs(a.offset) > std::abs(b.offset);
    });
    return out;
}

const VKCoverFlowView::Cached* VKCoverFlowView::cachedFor(qint64 index, const Photo& photo) {
    auto it = cache_.find(index);
    if (it != cache_.end() && it->uid == photo.imageUID())
        return &*it;
    const QImage& image = photo.imageRepresentation();
    if (photo.isPlaceholder() || image.isNull())
        return nullptr;
    if (cache_.size() > 2 * kSideItems + 1 + kCacheSlack) {
        for (auto c = cache_.begin(); c != cache_.end();) {
            if (std::abs(static_cast<double>(c.key()) - position_) > kSideItems + 1)
                c = cache_.erase(c);
            else
                ++c;
        }
    }
    const int side = static_cast<int>(coverSide());
    const QImage scaled = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // The mirror image under the picture, fading out downwards.
    const int reflectHeight = std::max(1, static_cast<int>(scaled.height() * kReflection));
    QImage both(scaled.width(), scaled.height() + kReflectionGap + reflectHeight,
                QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    {
        QPainter paint(&both);
        paint.drawImage(0, 0, scaled);
        QImage reflection = scaled.mirrored(false, true)
                                .copy(0, 0, scaled.width(), reflectHeight)
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter fade(&reflection);
        fade.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient gradient(0, 0, 0, reflectHeight);
        gradient.setColorAt(0, QColor(0, 0, 0, 110));
        gradient.setColorAt(1, QColor(0, 0, 0, 0));
        fade.fillRect(reflection.rect(), gradient);
        fade.end();
        paint.drawImage(0, scaled.height() + kReflectionGap, reflection);
    }
    Cached cached{photo.imageUID(), QPixmap::fromImage(both), scaled.size()};
    return &*cache_.insert(index, std::move(cached));
}

qint64 VKCoverFlowView::placeholderCount() const {
    if (dataSource_ == nullptr)
        return 0;
    auto* self = const_cast<VKCoverFlowView*>(this);
    qint64 count = 0;
    for (qint64 k = 0; k < itemsCount_; ++k) {
        const Photo* photo = dataSource_->imageFlowItemAtIndex(self, k);
        if (photo != nullptr && photo->isPlaceholder())
            ++count;
    }
    return count;
}

void VKCoverFlowView::drawItem(QPainter& painter, const Placement& placement) {
    const Photo* photo =
        dataSource_ != nullptr ? dataSource_->imageFlowItemAtIndex(this, placement.index) : nullptr;
    painter.setTransform(placement.transform);
    const double side = placement.rect.width();
    const Cached* cached = photo != nullptr ? cachedFor(placement.index, *photo) : nullptr;
    if (cached == nullptr) {
        // Still loading: a frame with the placeholder's word.
        const QRectF frame(-side / 2, -side * 0.75, side, side * 0.75);
        painter.setPen(QPen(QColor(110, 110, 110), 2));
        painter.setBrush(QColor(38, 38, 38));
        painter.drawRoundedRect(frame, 6, 6);
        painter.setPen(QColor(170, 170, 170));
        painter.drawText(frame, Qt::AlignCenter, kLoadingIdentifier);
        return;
    }
    const QSize size = cached->pictureSize;
    painter.drawPixmap(QPointF(-size.width() / 2.0, -size.height()), cached->picture);
}

void VKCoverFlowView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    // Smooth only at rest: filtered perspective drawing costs a frame.
    const bool sliding = slide_.state() == QAbstractAnimation::Running;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !sliding);
    for (const Placement& placement : placements())
        drawItem(painter, placement);
    painter.resetTransform();
    if (itemsCount_ <= 0 || dataSource_ == nullptr)
        return;
    const Photo* front = dataSource_->imageFlowItemAtIndex(this, selectedIndex_);
    const QString title = front != nullptr ? front->imageTitle() : QString();
    painter.setPen(Qt::white);
    const QRect titleRect(0, height() - 40, width(), 20);
    painter.drawText(titleRect, Qt::AlignCenter, title);
    painter.setPen(QColor(150, 150, 150));
    painter.drawText(QRect(0, height() - 22, width(), 18), Qt::AlignCenter,
                     QStringLiteral("%1 / %2").arg(selectedIndex_ + 1).arg(itemsCount_));
}

void VKCoverFlowView::resizeEvent(QResizeEvent* event) {
    cache_.clear();
    QWidget::resizeEvent(event);
}

qint64 VKCoverFlowView::indexAt(const QPoint& point) const {
    const std::vector<Placement> all = placements();
    // The topmost drawn picture wins.
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->transform.map(QPolygonF(it->rect)).containsPoint(point, Qt::OddEvenFill))
            return it->index;
    }
    return -1;
}

QPolygonF VKCoverFlowView::itemOutline(qint64 index) const {
    for (const Placement& placement : placements()) {
        if (placement.index == index)
            return placement.transform.map(QPolygonF(placement.rect));
    }
    return {};
}

void VKCoverFlowView::userSelect(qint64 index) {
    if (itemsCount_ <= 0)
        return;
    index = std::clamp<qint64>(index, 0, itemsCount_ - 1);
    setSelectedIndex(index);
    if (delegate_ != nullptr)
        delegate_->imageFlowDidSelectItemAtIndex(this, index);
}

void VKCoverFlowView::mousePressEvent(QMouseEvent* event) {
    const qint64 index = indexAt(event->position().toPoint());
    if (index >= 0 && index != selectedIndex_)
        userSelect(index);
    setFocus();
}

void VKCoverFlowView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            userSelect(selectedIndex_ - 1);
            break;
        case Qt::Key_Right:
            userSelect(selectedIndex_ + 1);
            break;
        case Qt::Key_Home:
            userSelect(0);
            break;
        case Qt::Key_End:
            userSelect(itemsCount_ - 1);
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void VKCoverFlowView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const int steps = (std::abs(delta.x()) > std::abs(delta.y()) ? -delta.x() : -delta.y()) / 120;
    if (steps != 0)
        userSelect(selectedIndex_ + steps);
}

}  // namespace velmora::browser
