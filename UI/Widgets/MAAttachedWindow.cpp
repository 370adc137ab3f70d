#include "MAAttachedWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {

// Screen coordinates of the designs have y growing upwards from the bottom
// of the primary screen; Qt's grow downwards from its top.
double PrimaryBottom() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry().y() + screen->geometry().height() : 0;
}

QRectF ToUpward(const QRectF& r) {
    return {r.x(), PrimaryBottom() - r.y() - r.height(), r.width(), r.height()};
}

QRect ToQt(const QRectF& r) {
    const double top = PrimaryBottom() - r.y() - r.height();
    return {int(std::lround(r.x())), int(std::lround(top)), int(std::ceil(r.width())),
            int(std::ceil(r.height()))};
}

// The control points of a quarter circle from the current point to `to`
// around the corner: the curve a tangent arc of this radius draws there.
constexpr double kQuarterArc = 0.5522847498;

}  // namespace

MAAttachedWindow* MAAttachedWindow::Create(QWidget* view, QPointF point, QWidget* parentWindow,
                                           int side, float distance) {
    if (view == nullptr) {
        return nullptr;
    }
    return new MAAttachedWindow(view, point, parentWindow, side, distance);
}

MAAttachedWindow::MAAttachedWindow(QWidget* view, QPointF point, QWidget* parentWindow, int side,
                                   float distance)
    : QWidget(parentWindow, Qt::Tool | Qt::FramelessWindowHint),
      view_(view),
      window_(parentWindow),
      point_(point),
      side_(side),
      distance_(distance) {
    setAttribute(Qt::WA_TranslucentBackground);
    resize(view->size());
    viewFrame_ = QRectF(QPointF(0, 0), QSizeF(view->size()));
    if (side_ == MAPositionAutomatic) {
        const QScreen* screen = window_ != nullptr && window_->screen() != nullptr
                                    ? window_->screen()
                                    : QGuiApplication::primaryScreen();
        const QRectF visible =
            screen != nullptr ? ToUpward(QRectF(screen->availableGeometry())) : QRectF();
        const QRectF parentFrame =
            window_ != nullptr ? ToUpward(QRectF(window_->frameGeometry())) : visible;
        side_ = BestSide(visible, parentFrame, pointOnScreen(), metrics());
    }
    view->setParent(this);
    updateGeometry();
    view->show();
}

MAAttachedWindow::~MAAttachedWindow() = default;

int MAAttachedWindow::Family(int side) {
    switch (side) {
        case MAPositionLeft:
        case MAPositionLeftTop:
        case MAPositionLeftBottom:
            return MAPositionLeft;
        case MAPositionBottom:
        case MAPositionBottomLeft:
        case MAPositionBottomRight:
            return MAPositionBottom;
        case MAPositionRight:
        case MAPositionRightTop:
        case MAPositionRightBottom:
            return MAPositionRight;
        case MAPositionTop:
        case MAPositionTopLeft:
        case MAPositionTopRight:
            return MAPositionTop;
        default:
            return -1;
    }
}

QRectF MAAttachedWindow::PlacedFrame(int side, QPointF p, const Metrics& metrics,
                                     QRectF* viewFrame) {
    const double m = metrics.margin;
    const double h = metrics.arrowHeight;
    const double i = metrics.arrowInset;
    QRectF view(m, m, metrics.viewSize.width(), metrics.viewSize.height());
    double w = view.width() + 2 * m;
    double ht = view.height() + 2 * m;
    // Room for the arrow on the edge that carries it.
    switch (Family(side)) {
        case MAPositionLeft:
            w += h;
            break;
        case MAPositionRight:
            view.moveLeft(view.x() + h);
            w += h;
            break;
        case MAPositionTop:
            view.moveTop(view.y() + h);
            ht += h;
            break;
        case MAPositionBottom:
            ht += h;
            break;
        default:
            break;
    }
    double x = p.x();
    double y = p.y();
    switch (side) {
        case MAPositionLeft:
            x = p.x() - w;
            y = p.y() - ht / 2;
            break;
        case MAPositionBottom:
            x = p.x() - w / 2;
            y = p.y() - ht;
            break;
        case MAPositionRight:
            y = p.y() - ht / 2;
            break;
        case MAPositionTop:
            x = p.x() - w / 2;
            break;
        case MAPositionLeftTop:
            x = p.x() - w;
            y = p.y() - i;
            break;
        case MAPositionLeftBottom:
            x = p.x() - w;
            y = p.y() - (ht - i);
            break;
        case MAPositionRightTop:
            y = p.y() - i;
            break;
        case MAPositionRightBottom:
            y = p.y() - (ht - i);
            break;
        case MAPositionTopLeft:
            x = p.x() - (w - i);
            break;
        case MAPositionTopRight:
            x = p.x() - i;
            break;
        case MAPositionBottomLeft:
            x = p.x() - (w - i);
            y = p.y() - ht;
            break;
        case MAPositionBottomRight:
            x = p.x() - i;
            y = p.y() - ht;
            break;
        default:
            break;
    }
    switch (Family(side)) {
        case MAPositionLeft:
            x -= metrics.distance;
            break;
        case MAPositionRight:
            x += metrics.distance;
            break;
        case MAPositionTop:
            y += metrics.distance;
            break;
        case MAPositionBottom:
            y -= metrics.distance;
            break;
        default:
            break;
    }
    if (viewFrame != nullptr) {
        *viewFrame = view;
    }
    return {x, y, w, ht};
}

int MAAttachedWindow::BestSide(const QRectF& s, const QRectF& f, QPointF p,
                               const Metrics& metrics) {
    const double bw = metrics.viewSize.width() + 2 * metrics.margin;
    const double bh = metrics.viewSize.height() + 2 * metrics.margin;
    const double a = metrics.arrowHeight + metrics.distance;
    const double i = metrics.arrowInset;
    const double sMaxX = s.x() + s.width();
    const double sMaxY = s.y() + s.height();
    int side = MAPositionBottom;
    if (s.y() <= p.y() - bh - a) {
        side = MAPositionBottom;
    } else if (p.x() + bw + a < sMaxX) {
        side = MAPositionRight;
    } else if (s.x() <= p.x() - bw - a) {
        side = MAPositionLeft;
    } else if (sMaxY > p.y() + bh + a) {
        side = MAPositionTop;
    }
    const bool vertical = side == MAPositionBottom || side == MAPositionTop;
    if (vertical) {
        const bool below = side == MAPositionBottom;
        if (f.x() > p.x() - bw / 2) {
            if (sMaxX > p.x() + bw - i) {
                side = below ? MAPositionBottomRight : MAPositionTopRight;
            }
        } else if (p.x() + bw / 2 >= f.x() + f.width()) {
            if (p.x() - bw + i >= s.x()) {
                side = below ? MAPositionBottomLeft : MAPositionTopLeft;
            }
        }
    } else {
        const bool right = side == MAPositionRight;
        if (f.y() > p.y() - bh / 2) {
            if (sMaxY > p.y() + bh - i) {
                side = right ? MAPositionRightTop : MAPositionLeftTop;
            }
        } else if (p.y() + bh / 2 >= f.y() + f.height()) {
            if (p.y() - bh + i >= s.y()) {
                side = right ? MAPositionRightBottom : MAPositionLeftBottom;
            }
        }
    }
    return side;
}

MAAttachedWindow::Metrics MAAttachedWindow::metrics() const {
    Metrics m;
    m.viewSize = viewFrame_.size();
    m.margin = viewMargin_;
    m.arrowHeight = arrowHeight_;
    m.arrowInset = arrowInset();
    m.distance = distance_;
    return m;
}

double MAAttachedWindow::arrowInset() const {
    return (drawsRoundCornerBesideArrow_ ? cornerRadius_ : 0) + arrowBaseWidth_ / 2.0;
}

QPointF MAAttachedWindow::pointOnScreen() const {
    const QPointF global = window_ != nullptr ? window_->mapToGlobal(point_) : point_;
    return {global.x(), PrimaryBottom() - global.y()};
}

void MAAttachedWindow::updateGeometry() {
    ++geometryUpdates_;
    QRectF view;
    frame_ = PlacedFrame(side_, pointOnScreen(), metrics(), &view);
    viewFrame_ = view;
    setGeometry(ToQt(frame_));
    if (view_ != nullptr) {
        view_->setGeometry(int(std::lround(view.x())),
                           int(std::lround(frame_.height() - view.y() - view.height())),
                           int(view.width()), int(view.height()));
    }
}

void MAAttachedWindow::redisplay() {
    if (resizing_) {
        return;
    }
    resizing_ = true;
    updateGeometry();
    update();
    resizing_ = false;
}

void MAAttachedWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    redisplay();
}

void MAAttachedWindow::setPoint(QPointF point, int side) {
    point_ = point;
    side_ = side;
    updateGeometry();
    update();
}

void MAAttachedWindow::setBackgroundColor(const QColor& color) {
    if (background_.style() == Qt::SolidPattern && background_.color() == color) {
        return;
    }
    background_ = QBrush(color);
    update();
}

void MAAttachedWindow::setBackgroundImage(const QImage& image) {
    if (image.isNull()) {
        return;
    }
    background_ = QBrush(image);
    update();
}

void MAAttachedWindow::setBorderColor(const QColor& color) {
    if (color == borderColor_) {
        return;
    }
    borderColor_ = color;
    update();
}

void MAAttachedWindow::setBorderWidth(float width) {
    if (width == borderWidth_) {
        return;
    }
    borderWidth_ = std::min(width, viewMargin_);
    update();
}

void MAAttachedWindow::setViewMargin(float margin) {
    if (margin == viewMargin_) {
        return;
    }
    viewMargin_ = std::max(margin, 0.0f);
    setCornerRadius(cornerRadius_);
}

void MAAttachedWindow::setCornerRadius(float radius) {
    const auto side = float(std::min(viewFrame_.width(), viewFrame_.height()));
    const float most = (side + 2 * viewMargin_ - arrowBaseWidth_) / 2;
    cornerRadius_ = std::max(std::min(radius, most), 0.0f);
    setArrowBaseWidth(arrowBaseWidth_);
}

void MAAttachedWindow::setArrowBaseWidth(float width) {
    const auto side = float(std::min(viewFrame_.width(), viewFrame_.height()));
    float most = side + 2 * viewMargin_ - cornerRadius_;
    if (drawsRoundCornerBesideArrow_) {
        most -= cornerRadius_;
    }
    arrowBaseWidth_ = std::min(width, most);
    redisplay();
}

void MAAttachedWindow::setArrowHeight(float height) {
    if (height == arrowHeight_) {
        return;
    }
    arrowHeight_ = height;
    redisplay();
}

void MAAttachedWindow::setHasArrow(float has) {
    if (has == float(hasArrow_)) {
        return;
    }
    hasArrow_ = quint8(int(has));
    update();
}

void MAAttachedWindow::setDrawsRoundCornerBesideArrow(float draws) {
    if (draws == float(drawsRoundCornerBesideArrow_)) {
        return;
    }
    drawsRoundCornerBesideArrow_ = quint8(int(draws));
    redisplay();
}

void MAAttachedWindow::performClose() {
    if (window_ != nullptr) {
        window_->close();
    } else {
        close();
    }
}

QPainterPath MAAttachedWindow::backgroundPath() const {
    const double m = viewMargin_;
    const double r = cornerRadius_;
    const double b = arrowBaseWidth_;
    const double h = arrowHeight_;
    const bool beside = drawsRoundCornerBesideArrow_ != 0;
    const int side = side_;
    const int family = Family(side);
    const QRectF q = viewFrame_.adjusted(-m, -m, m, m);
    const double minX = std::ceil(q.x() + 0.5);
    const double midX = q.x() + q.width() * 0.5;
    const double maxX = std::floor(q.x() + q.width() - 0.5);
    const double minY = std::ceil(q.y() + 0.5);
    const double midY = q.y() + q.height() * 0.5;
    const double maxY = std::floor(q.y() + q.height() - 0.5);
    const double height = frame_.height();

    // Built upwards, as the designs measure it, and flipped point by point.
    QPainterPath path;
    QPointF current;
    auto flip = [height](QPointF p) { return QPointF(p.x(), height - p.y()); };
    auto moveTo = [&](double x, double y) {
        current = {x, y};
        path.moveTo(flip(current));
    };
    auto lineTo = [&](double x, double y) {
        current = {x, y};
        path.lineTo(flip(current));
    };
    auto corner = [&](QPointF at, QPointF to) {
        if (r <= 0) {
            return;
        }
        path.cubicTo(flip(current + (at - current) * kQuarterArc),
                     flip(to + (at - to) * kQuarterArc), flip(to));
        current = to;
    };
    auto arrow = [&] {
        if (!hasArrow_) {
            return;
        }
        const double x = current.x();
        const double y = current.y();
        switch (family) {
            case MAPositionBottom:
                lineTo(x + b / 2, y + h);
                lineTo(x + b, y);
                break;
            case MAPositionLeft:
                lineTo(x + h, y - b / 2);
                lineTo(x, y - b);
                break;
            case MAPositionTop:
                lineTo(x - b / 2, y - h);
                lineTo(x - b, y);
                break;
            case MAPositionRight:
                lineTo(x - h, y + b / 2);
                lineTo(x, y + b);
                break;
            default:
                break;
        }
    };
    auto rounded = [&](int a, int c) { return r > 0 && (beside || (side != a && side != c)); };

    // Top edge, rightwards.
    const double startX = rounded(MAPositionBottomRight, MAPositionRightBottom) ? minX + r : minX;
    const bool topRight = rounded(MAPositionBottomLeft, MAPositionLeftBottom);
    const double topEndX = topRight ? maxX - r : maxX;
    moveTo(startX, maxY);
    if (side == MAPositionBottomRight) {
        arrow();
    } else if (side == MAPositionBottom) {
        lineTo(midX - b / 2, maxY);
        arrow();
    } else if (side == MAPositionBottomLeft) {
        lineTo(topEndX - b, maxY);
        arrow();
    }
    lineTo(topEndX, maxY);
    if (topRight) {
        corner({maxX, maxY}, {maxX, maxY - r});
    }

    // Right edge, downwards.
    const bool bottomRight = rounded(MAPositionTopLeft, MAPositionLeftTop);
    const double rightEndY = bottomRight ? minY + r : minY;
    if (side == MAPositionLeftBottom) {
        arrow();
    } else if (side == MAPositionLeft) {
        lineTo(maxX, midY + b / 2);
        arrow();
    } else if (side == MAPositionLeftTop) {
        lineTo(maxX, rightEndY + b);
        arrow();
    }
    lineTo(maxX, rightEndY);
    if (bottomRight) {
        corner({maxX, minY}, {maxX - r, minY});
    }

    // Bottom edge, leftwards.
    const bool bottomLeft = rounded(MAPositionTopRight, MAPositionRightTop);
    const double bottomEndX = bottomLeft ? minX + r : minX;
    if (side == MAPositionTopLeft) {
        arrow();
    } else if (side == MAPositionTop) {
        lineTo(midX + b / 2, minY);
        arrow();
    } else if (side == MAPositionTopRight) {
        lineTo(bottomEndX + b, minY);
        arrow();
    }
    lineTo(bottomEndX, minY);
    if (bottomLeft) {
        corner({minX, minY}, {minX, minY + r});
    }

    // Left edge, upwards.
    const bool topLeft = rounded(MAPositionRightBottom, MAPositionBottomRight);
    const double leftEndY = topLeft ? maxY - r : maxY;
    if (side == MAPositionRightTop) {
        arrow();
    } else if (side == MAPositionRight) {
        lineTo(minX, midY - b / 2);
        arrow();
    } else if (side == MAPositionRightBottom) {
        lineTo(minX, leftEndY - b);
        arrow();
    }
    lineTo(minX, leftEndY);
    if (topLeft) {
        corner({minX, maxY}, {minX + r, maxY});
    }
    path.closeSubpath();
    return path;
}

void MAAttachedWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = backgroundPath();
    painter.setClipPath(path);
    painter.fillPath(path, background_);
    if (borderWidth_ > 0) {
        // Half of the doubled line lies outside the clip: the outline shows
        // borderWidth wide.
        painter.strokePath(path, QPen(borderColor_, borderWidth_ * 2.0));
    }
}
