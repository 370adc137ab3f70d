#include "VKProgressView.h"

#include <QPainter>
#include <QResizeEvent>
#include <cmath>

#include "NSProgressBar.h"
#include "Resources/UiColors.h"

VKProgressView::VKProgressView(QWidget* parent) : QWidget(parent) {
    pProgress1_ = new NSProgressBar(this);
    pProgress1_->setGeometry(0, height() - kBarHeight, 0, kBarHeight);
}

float VKProgressView::FillWidth(float percent, float stripWidth) {
    // A percentage that is not a number shows the empty state rather than a
    // bar of undefined width.
    if (std::isnan(percent)) {
        percent = 0;
    }
    float fill = percent / 100.0f * stripWidth;
    if (fill > stripWidth - 1) {
        fill = stripWidth;
    } else if (fill < 10) {
        fill = 10;
    }
    return fill;
}

void VKProgressView::changeProgressValue(float percent) {
    barWidth_ = FillWidth(percent, width());
    pProgress1_->setGeometry(0, height() - kBarHeight, qRound(barWidth_), kBarHeight);
    pProgress1_->update();
    update();
}

void VKProgressView::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), velmora::ui::colors::StripBackground());
}

void VKProgressView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The bar and the space right of it share a change of width in
    // proportion to their sizes: the bar keeps its share of the strip.
    const int oldWidth = event->oldSize().width();
    if (oldWidth > 0) {
        barWidth_ = barWidth_ * width() / oldWidth;
    }
    pProgress1_->setGeometry(0, height() - kBarHeight, qRound(barWidth_), kBarHeight);
}
