// A borderless, see-through window that shows one view inside a drawn
// bubble: a rounded rectangle with an arrow whose tip points at a point of
// a parent window (or of the screen). It sits on one of twelve sides of the
// point, or picks the side that keeps it on the screen.
//
// The geometry works as the designs give it: in screen coordinates with y
// growing upwards (origin at the bottom of the primary screen). Callers
// give and get Qt coordinates; the window converts once at its edges.
#pragma once

#include <QBrush>
#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

enum MAWindowPosition {
    MAPositionLeft = 0,
    MAPositionBottom = 1,
    MAPositionRight = 2,
    MAPositionTop = 3,
    MAPositionLeftTop = 4,
    MAPositionLeftBottom = 5,
    MAPositionRightTop = 6,
    MAPositionRightBottom = 7,
    MAPositionTopLeft = 8,
    MAPositionTopRight = 9,
    MAPositionBottomLeft = 10,
    MAPositionBottomRight = 11,
    MAPositionAutomatic = 12,
};

class MAAttachedWindow : public QWidget {
    Q_OBJECT

public:
    // The window around view, its arrow pointing at point: in parentWindow's
    // coordinates, or on the screen without one. Returns nullptr for a null
    // view. With a parent window the window is its child (deleted with it);
    // without one the caller owns it.
    static MAAttachedWindow* Create(QWidget* view, QPointF point, QWidget* parentWindow = nullptr,
                                    int side = MAPositionAutomatic, float distance = 0);
    ~MAAttachedWindow() override;

    // The edge of the bubble that carries the arrow, by the side's family:
    // MAPositionLeft (window left of the point), Bottom, Right or Top.
    static int Family(int side);
    // Where the window goes for a side, all in y-up screen coordinates;
    // viewFrame receives the view's frame inside the window.
    struct Metrics {
        QSizeF viewSize;
        double margin = 2;
        double arrowHeight = 0;
        double arrowInset = 0;
        float distance = 0;
    };
    static QRectF PlacedFrame(int side, QPointF point, const Metrics& metrics,
                              QRectF* viewFrame = nullptr);
    // The side that keeps the bubble on screen.
    static int BestSide(const QRectF& screen, const QRectF& parentFrame, QPointF point,
                        const Metrics& metrics);

    void setPoint(QPointF point, int side);
    int side() const { return side_; }
    float distance() const { return distance_; }

    QColor windowBackgroundColor() const { return background_.color(); }
    void setBackgroundColor(const QColor& color);
    void setBackgroundImage(const QImage& image);
    QColor borderColor() const { return borderColor_; }
    void setBorderColor(const QColor& color);
    float borderWidth() const { return borderWidth_; }
    void setBorderWidth(float width);
    float viewMargin() const { return viewMargin_; }
    void setViewMargin(float margin);
    float cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(float radius);
    float arrowBaseWidth() const { return arrowBaseWidth_; }
    void setArrowBaseWidth(float width);
    float arrowHeight() const { return arrowHeight_; }
    void setArrowHeight(float height);
    // Carried as 0.0 or 1.0; a value is stored truncated to a whole number.
    float hasArrow() const { return hasArrow_; }
    void setHasArrow(float has);
    float drawsRoundCornerBesideArrow() const { return drawsRoundCornerBesideArrow_; }
    void setDrawsRoundCornerBesideArrow(float draws);

    // A close asked of the bubble closes its parent window when it has one.
    void performClose();

    // The window's frame in y-up screen coordinates, and the view's frame
    // inside it (y-up, from the window's bottom left).
    QRectF attachedFrame() const { return frame_; }
    QRectF viewFrame() const { return viewFrame_; }
    // The bubble's outline in the window's own (Qt) coordinates.
    QPainterPath backgroundPath() const;
    // How many times the geometry was computed (a resize while computing it
    // must not compute it again).
    int geometryUpdates() const { return geometryUpdates_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    MAAttachedWindow(QWidget* view, QPointF point, QWidget* parentWindow, int side, float distance);
    Metrics metrics() const;
    double arrowInset() const;
    QPointF pointOnScreen() const;
    void updateGeometry();
    void redisplay();

    QColor borderColor_ = Qt::white;
    float borderWidth_ = 0.2f;
    float viewMargin_ = 2.0f;
    float arrowBaseWidth_ = 0;
    float arrowHeight_ = 0;
    quint8 hasArrow_ = 1;
    float cornerRadius_ = 8.0f;
    quint8 drawsRoundCornerBesideArrow_ = 1;
    QBrush background_ = QBrush(Qt::white);
    QPointer<QWidget> view_;
    QPointer<QWidget> window_;
    QPointF point_;
    int side_ = MAPositionAutomatic;
    float distance_ = 0;
    QRectF viewFrame_;
    QRectF frame_;
    bool resizing_ = false;
    int geometryUpdates_ = 0;
};
