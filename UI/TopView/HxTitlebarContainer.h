// Holds the title-bar view at the top of a title-bar window. Drags that reach
// it go no further.
#pragma once

#include <QWidget>

class HxTitlebarContainer : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};
