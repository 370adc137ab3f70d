// The header of the results tables: every section is drawn by a header cell
// of its own (CustomHeaderCell unless another is given); the sort column's
// cell gets priority 0 and draws the triangle.
#pragma once

#include <QHeaderView>
#include <map>
#include <memory>

#include "CustomHeaderCell.h"

class VKTableHeaderView : public QHeaderView {
    Q_OBJECT

public:
    static constexpr int kHeight = 20;

    explicit VKTableHeaderView(QWidget* parent = nullptr);

    // The cell of a section, made on first use.
    HeaderCell& cell(int logicalIndex) const;
    void setCell(int logicalIndex, std::unique_ptr<HeaderCell> cell);

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    void sortChanged(int logicalIndex, Qt::SortOrder order);

    mutable std::map<int, std::unique_ptr<HeaderCell>> cells_;
};
