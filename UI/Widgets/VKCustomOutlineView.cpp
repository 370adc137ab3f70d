#include "VKCustomOutlineView.h"

#include <QPainter>

#include "Resources/UiColors.h"

VKCustomOutlineView::VKCustomOutlineView(QWidget* parent) : QTreeView(parent) {
    // The row bands are the only highlight: the view's own selection paints
    // nothing over them.
    QPalette p = palette();
    p.setColor(QPalette::Highlight, Qt::transparent);
    setPalette(p);
}

QColor VKCustomOutlineView::rowBackground(int row) const {
    if (row == isSelectRow_) {
        return velmora::ui::colors::OutlineChosenRow();
    }
    if (isRootArr_.contains(QString::number(row))) {
        return velmora::ui::colors::OutlineDiskRow();
    }
    return Qt::white;
}

int VKCustomOutlineView::rowNumber(const QModelIndex& index) const {
    int row = 0;
    for (QModelIndex above = indexAbove(index); above.isValid(); above = indexAbove(above)) {
        ++row;
    }
    return row;
}

void VKCustomOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    const int row = rowNumber(index);
    QRect band = option.rect;
    band.setLeft(0);
    band.setRight(viewport()->width());
    painter->fillRect(band, rowBackground(row));
    QStyleOptionViewItem opt(option);
    opt.state &= ~QStyle::State_Selected;
    QTreeView::drawRow(painter, opt, index);
}
