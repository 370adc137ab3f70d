// The thin progress strip of the results browser: a grey strip in which a
// blue bar grows from the left. The bar is never narrower than 10 points and
// snaps to the full width once it reaches the last point.
#pragma once

#include <QWidget>

class NSProgressBar;

class VKProgressView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kBarHeight = 4;

    explicit VKProgressView(QWidget* parent = nullptr);

    // The bar's width for a percentage in a strip of the given width.
    static float FillWidth(float percent, float stripWidth);

    void changeProgressValue(float percent);
    NSProgressBar* bar() const { return pProgress1_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    NSProgressBar* pProgress1_;
    double barWidth_ = 0;  // kept unrounded so resizes scale it exactly
};
