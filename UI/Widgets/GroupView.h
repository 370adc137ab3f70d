// A grouping box: white, with a thin light rounded frame.
#pragma once

#include <QWidget>

class GroupView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // The frame drawn for a redrawn area of the given size.
    static QRectF FrameRect(const QSizeF& drawn);

protected:
    void paintEvent(QPaintEvent* event) override;
};
