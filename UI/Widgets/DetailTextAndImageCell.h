// The icon-and-text cell whose title rectangle is centred vertically.
#pragma once

#include "ImageAndTextCell.h"

class DetailTextAndImageCell : public ImageAndTextCell {
    Q_OBJECT

public:
    using ImageAndTextCell::ImageAndTextCell;

    // The title rectangle of a cell: the given one, its y centring a text of
    // the given height in the bounds.
    static QRectF titleRectForBounds(const QRectF& bounds, const QRectF& title, qreal textHeight);
};
