// The default bar of a title-bar window: white in every state, the window's
// title centred at its top when asked for. Pressing and dragging it moves the
// window (the window has no system frame); a double click minimises it when
// the user's setting says so.
#pragma once

#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <functional>

class TCImageWindow;

class HxTitlebarView : public QWidget {
    Q_OBJECT

public:
    explicit HxTitlebarView(QWidget* parent = nullptr);

    struct TitleLayout {
        QRectF frame;
        QFont font;
        QColor color;
        QColor shadowColor;
        QPointF shadowOffset;
    };
    // Where and how the window's title is drawn in this bar.
    TitleLayout titleLayout(const TCImageWindow& window) const;

    // Reads the user's "minimise on double click" setting; absent means no.
    static void SetMiniaturizeOnDoubleClickSetting(std::function<bool()> setting);

    // A hook that draws nothing; kept for windows that draw their own bar.
    void drawNoiseWithOpacity(double) {}

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TCImageWindow* imageWindow() const;
};

// A path around a rectangle with only its two top corners rounded.
QPainterPath createClippingPathWithRectAndRadius(const QRectF& rect, qreal radius);
