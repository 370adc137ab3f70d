// The name column of the result trees: a tick box at the row's left end, the
// node's icon and its name. A click on the tick box (the 15 x 30 point
// rectangle at the cell's origin) is reported once; for 0.2 s after a hit
// every such cell of the process reports no hit, so a double click ticks
// once.
#pragma once

#include <QModelIndex>
#include <QStyledItemDelegate>
#include <functional>

#include "CellNode.h"

class NewButton : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr double kClickGuardSeconds = 0.2;

    explicit NewButton(QObject* parent = nullptr);

    // Rectangles for a cell frame.
    static QRect IconRect(const QRect& cell, bool hasIcon);
    static QRect LabelRect(const QRect& cell, bool hasLabel, bool hasIcon);
    static QRect HitRect(const QRect& cell);
    static QSize _imageSize() { return QSize(800, 22); }
    static QSize _iconImageSzie() { return QSize(18, 18); }

    // Whether a press at a point of the view is a hit for the cell; a hit
    // calls the delegate and arms the guard.
    bool hitTest(const QPoint& point, const QRect& cell, const QModelIndex& index);
    // Clears the process-wide click guard.
    static void changeVlaue();
    static bool ClickGuardSet();

    // The delegate's click report (the trees and the results browser).
    void setClickAction(std::function<void(const QModelIndex&)> action) {
        clickAction_ = std::move(action);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // The picture of a check state.
    static QString CheckImageName(int state);

signals:
    void clickButtonAction(const QModelIndex& index);

private:
    std::function<void(const QModelIndex&)> clickAction_;
};
