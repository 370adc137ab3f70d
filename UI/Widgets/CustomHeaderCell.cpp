#include "CustomHeaderCell.h"

#include <QPainter>
#include <QPainterPath>

#include "Resources/FontRegistry.h"
#include "Resources/UiColors.h"

namespace colors = velmora::ui::colors;

QRect CustomHeaderCell::titleRect(const QRect& frame) const {
    QRect r = frame;
    if (priority_ != 0) {
        r.translate(3, 0);
    } else {
        r.setWidth(r.width() - 8);  // room for the triangle
    }
    r.setTop(r.top() + 3);
    return r;
}

void CustomHeaderCell::TrianglePoints(const QRect& frame, bool ascending, QPointF points[3]) {
    const qreal x = frame.x() + frame.width() - 12;
    const qreal y = frame.y();
    const qreal h = frame.height();
    if (ascending) {
        points[0] = QPointF(x, y + h - 10);
        points[1] = QPointF(x + 4, y + h - 17);
        points[2] = QPointF(x + 8, y + h - 10);
    } else {
        points[0] = QPointF(x, y + 10);
        points[1] = QPointF(x + 4, y + 17);
        points[2] = QPointF(x + 8, y + 10);
    }
}

void CustomHeaderCell::drawWithFrame(QPainter& painter, const QRect& frame, const QString& title) {
    painter.save();
    painter.fillRect(frame, colors::HeaderFill());
    painter.setRenderHint(QPainter::Antialiasing, false);
    // A top line, a separator on the right and a bottom line, inside the
    // cell's own pixels.
    painter.setPen(QPen(colors::HeaderLine(), 1.0));
    const int left = frame.left();
    const int right = frame.left() + frame.width() - 1;
    const int top = frame.top();
    const int bottom = frame.top() + frame.height() - 1;
    painter.drawLine(left, top, right, top);
    painter.drawLine(right, top, right, bottom);
    painter.drawLine(right, bottom, left, bottom);
    painter.setFont(velmora::ui::FontRegistry::Font(QStringLiteral("Helvetica"), 12));
    painter.setPen(colors::HeaderTitle());
    painter.drawText(titleRect(frame), Qt::AlignLeft | Qt::AlignTop, title);
    painter.restore();
}

void CustomHeaderCell::drawSortIndicatorWithFrame(QPainter& painter, const QRect& frame,
                                                  bool ascending, qint64) {
    QPointF points[3];
    TrianglePoints(frame, ascending, points);
    QPainterPath path;
    path.moveTo(points[0]);
    path.lineTo(points[1]);
    path.lineTo(points[2]);
    path.closeSubpath();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, priority_ == 0 ? QColor(Qt::white) : QColor(Qt::transparent));
    painter.restore();
}

void CustomTableHeaderView::drawWithFrame(QPainter& painter, const QRect& frame, bool,
                                          const QString& title) {
    painter.save();
    const QRectF f = frame;
    const QRectF r(f.x(), f.y(), f.width(), f.height() - 1);  // less the bottom row
    painter.fillRect(r, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 0.3));
    painter.drawLine(QPointF(r.right(), r.top()), QPointF(r.right(), r.bottom()));
    painter.drawLine(QPointF(f.left(), f.bottom()), QPointF(f.right(), f.bottom()));
    painter.drawLine(QPointF(r.left(), r.top()), QPointF(r.right(), r.top()));
    painter.setFont(velmora::ui::FontRegistry::Font(QStringLiteral("Helvetica"), 12));
    painter.setPen(Qt::black);
    painter.drawText(r.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.restore();
}
