#include "ImageAndTextCell.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <cmath>

ImageAndTextCell::ImageAndTextCell(QObject* parent) : QStyledItemDelegate(parent) {}

QRect ImageAndTextCell::imageFrameForCellFrame(const QRect& cell, const QSize& imageSize) {
    if (imageSize.isEmpty()) {
        return QRect();
    }
    const int y =
        cell.y() + static_cast<int>(std::ceil((cell.height() - imageSize.height()) / 2.0));
    return QRect(cell.x() + kIconInset, y, imageSize.width(), imageSize.height());
}

QRect ImageAndTextCell::IconDrawRect(const QRect& cell) {
    // 17 points up from the cell's top, then down by half of (height + 18),
    // rounded up: in a 20-point row the icon spans rows 2 to 20.
    const int y = cell.y() - 17 + static_cast<int>(std::ceil((cell.height() + kIconSide) / 2.0));
    return QRect(cell.x() + kIconInset, y, kIconSide, kIconSide);
}

QRect ImageAndTextCell::TextFrame(const QRect& cell, const QSize& imageSize) {
    const int slice = kIconInset + (imageSize.isEmpty() ? 0 : imageSize.width());
    return cell.adjusted(slice, 0, 0, 0);
}

QPixmap ImageAndTextCell::imageFor(const QModelIndex& index) const {
    const QVariant decoration = index.data(Qt::DecorationRole);
    if (decoration.canConvert<QPixmap>()) {
        const QPixmap pixmap = decoration.value<QPixmap>();
        if (!pixmap.isNull()) {
            return pixmap;
        }
    }
    if (decoration.canConvert<QIcon>()) {
        const QIcon icon = decoration.value<QIcon>();
        if (!icon.isNull()) {
            const QList<QSize> sizes = icon.availableSizes();
            return icon.pixmap(sizes.isEmpty() ? QSize(kIconSide, kIconSide) : sizes.last());
        }
    }
    return image_;
}

void ImageAndTextCell::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->features &= ~QStyleOptionViewItem::HasDecoration;
    option->icon = QIcon();
    option->decorationSize = QSize();
}

void ImageAndTextCell::drawText(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
}

void ImageAndTextCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    const QPixmap image = imageFor(index);
    if (image.isNull()) {
        drawText(painter, opt, index);
        return;
    }
    const QRect iconArea(option.rect.x(), option.rect.y(), kIconInset + kIconSide,
                         option.rect.height());
    const QVariant background = index.data(Qt::BackgroundRole);
    if (background.isValid()) {
        painter->fillRect(iconArea, background.value<QBrush>());
    }
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawPixmap(IconDrawRect(option.rect), image);
    painter->restore();
    opt.rect = option.rect.adjusted(kIconInset + kIconSide, 0, 0, 0);
    drawText(painter, opt, index);
}

QSize ImageAndTextCell::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), opt.widget);
    const QPixmap image = imageFor(index);
    size.rwidth() +=
        kIconInset + (image.isNull() ? 0 : image.deviceIndependentSize().toSize().width());
    // The tables' rows are 20 points: room for the 18-point icon.
    size.setHeight(qMax(size.height(), kRowHeight));
    return size;
}

void ImageAndTextCell::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
    const QPixmap image = imageFor(index);
    QStyleOptionViewItem opt(option);
    opt.rect =
        TextFrame(option.rect, image.isNull() ? QSize() : image.deviceIndependentSize().toSize());
    QStyledItemDelegate::updateEditorGeometry(editor, opt, index);
}
