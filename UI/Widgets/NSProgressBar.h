// The blue filled part of the progress strip.
#pragma once

#include <QWidget>

class NSProgressBar : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};
