#include "VKTableHeaderView.h"

#include <QPainter>

VKTableHeaderView::VKTableHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFixedHeight(kHeight);
    setSectionsClickable(true);
    setHighlightSections(false);
    connect(this, &QHeaderView::sortIndicatorChanged, this, &VKTableHeaderView::sortChanged);
}

HeaderCell& VKTableHeaderView::cell(int logicalIndex) const {
    std::unique_ptr<HeaderCell>& slot = cells_[logicalIndex];
    if (!slot) {
        slot = std::make_unique<CustomHeaderCell>();
    }
    return *slot;
}

void VKTableHeaderView::setCell(int logicalIndex, std::unique_ptr<HeaderCell> cell) {
    cells_[logicalIndex] = std::move(cell);
    viewport()->update();
}

QSize VKTableHeaderView::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(kHeight);
    return size;
}

void VKTableHeaderView::sortChanged(int logicalIndex, Qt::SortOrder order) {
    for (auto& [section, c] : cells_) {
        if (section != logicalIndex && c) {
            c->setSortAscending(true, 1);
        }
    }
    if (logicalIndex >= 0) {
        cell(logicalIndex).setSortAscending(order == Qt::AscendingOrder, 0);
    }
    viewport()->update();
}

void VKTableHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) {
        return;
    }
    const QString title =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString()
                : QString();
    HeaderCell& c = cell(logicalIndex);
    c.drawWithFrame(*painter, rect, title);
    if (isSortIndicatorShown() && sortIndicatorSection() == logicalIndex) {
        c.drawSortIndicatorWithFrame(*painter, rect, sortIndicatorOrder() == Qt::AscendingOrder, 0);
    }
}
