#include "GroupView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include "Resources/UiColors.h"

QRectF GroupView::FrameRect(const QSizeF& drawn) {
    // 18 points in from the sides and the bottom, 35 from the top; the line
    // sits on the pixel centres.
    const QRectF frame(18, 35, drawn.width() - 36, drawn.height() - 53);
    return frame.adjusted(0.5, 0.5, -0.5, -0.5);
}

void GroupView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(FrameRect(event->rect().size()), 2, 2);
    painter.setPen(QPen(velmora::ui::colors::GroupFrame(), 1.0));
    painter.drawPath(path);
}
