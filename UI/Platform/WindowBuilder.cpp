#include "UIPlatform/WindowBuilder.h"

#include <cmath>

namespace velmora::ui {

QRect ToQtRect(const CocoaFrame& f, int parentHeight) {
    // Round the edges, not the sizes: two frames that touch in points still
    // touch in pixels.
    const int left = static_cast<int>(std::lround(f.x));
    const int right = static_cast<int>(std::lround(f.x + f.width));
    const int top = static_cast<int>(std::lround(parentHeight - (f.y + f.height)));
    const int bottom = static_cast<int>(std::lround(parentHeight - f.y));
    return QRect(left, top, right - left, bottom - top);
}

CocoaFrame ToCocoaFrame(const QRect& r, int parentHeight) {
    return CocoaFrame{static_cast<double>(r.x()),
                      static_cast<double>(parentHeight - r.y() - r.height()),
                      static_cast<double>(r.width()), static_cast<double>(r.height())};
}

WindowBuilder::WindowBuilder(QWidget* window, int width, int height) : window_(window) {
    window_->setFixedSize(width, height);
}

void WindowBuilder::Place(QWidget* widget, const QString& outlet, const CocoaFrame& frame) {
    QWidget* parent = widget->parentWidget() ? widget->parentWidget() : window_;
    widget->setObjectName(outlet);
    widget->setGeometry(ToQtRect(frame, parent->height()));
}

}  // namespace velmora::ui
