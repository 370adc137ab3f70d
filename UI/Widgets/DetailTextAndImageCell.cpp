#include "DetailTextAndImageCell.h"

QRectF DetailTextAndImageCell::titleRectForBounds(const QRectF& bounds, const QRectF& title,
                                                  qreal textHeight) {
    QRectF r = title;
    r.moveTop(bounds.y() - 0.5 + (bounds.height() - textHeight) / 2);
    return r;
}
