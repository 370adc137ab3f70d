// Windows are built in code from the frames the designs give in Cocoa
// points: origin at the bottom left of the parent, y growing upwards. The
// conversion to Qt's top-left geometry happens here, once, so window code
// can use the designs' numbers as they are.
#pragma once

#include <QRect>
#include <QRectF>
#include <QString>
#include <QWidget>

namespace velmora::ui {

// A frame in Cocoa points inside a parent (or screen) of height `parentHeight`.
struct CocoaFrame {
    double x = 0, y = 0, width = 0, height = 0;
};

// Rounded to whole pixels so that adjoining frames stay adjoining.
QRect ToQtRect(const CocoaFrame& frame, int parentHeight);
CocoaFrame ToCocoaFrame(const QRect& rect, int parentHeight);

// Builds one window: its content size, and its controls by outlet name (each
// control's objectName), placed by Cocoa frames in their parent.
class WindowBuilder {
public:
    // `window` gets the content size fixed, as the designs' windows have.
    WindowBuilder(QWidget* window, int width, int height);

    // Makes a `T` under `parent` (the window when null) at `frame`.
    template <typename T>
    T* Add(const QString& outlet, const CocoaFrame& frame, QWidget* parent = nullptr) {
        QWidget* host = parent ? parent : window_;
        auto* widget = new T(host);
        Place(widget, outlet, frame);
        return widget;
    }
    // Places an existing widget; its parent must already be set.
    void Place(QWidget* widget, const QString& outlet, const CocoaFrame& frame);

    QWidget* window() const { return window_; }

private:
    QWidget* window_;
};

}  // namespace velmora::ui
