#include "HxTitlebarView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

#include "Resources/FontRegistry.h"
#include "Resources/UiColors.h"
#include "TCImageWindow.h"

namespace {

std::function<bool()>& MiniaturizeSetting() {
    static std::function<bool()> setting;
    return setting;
}

// The system's title font size for regular controls.
constexpr qreal kTitleFontSize = 13;

}  // namespace

QPainterPath createClippingPathWithRectAndRadius(const QRectF& rect, qreal radius) {
    // Top-down coordinates: the rounded corners are the top ones.
    QPainterPath path;
    path.moveTo(rect.left(), rect.bottom());
    path.lineTo(rect.left(), rect.top() + radius);
    path.arcTo(QRectF(rect.left(), rect.top(), 2 * radius, 2 * radius), 180, -90);
    path.lineTo(rect.right() - radius, rect.top());
    path.arcTo(QRectF(rect.right() - 2 * radius, rect.top(), 2 * radius, 2 * radius), 90, -90);
    path.lineTo(rect.right(), rect.bottom());
    path.closeSubpath();
    return path;
}

HxTitlebarView::HxTitlebarView(QWidget* parent) : QWidget(parent) {}

void HxTitlebarView::SetMiniaturizeOnDoubleClickSetting(std::function<bool()> setting) {
    MiniaturizeSetting() = std::move(setting);
}

TCImageWindow* HxTitlebarView::imageWindow() const {
    return qobject_cast<TCImageWindow*>(window());
}

HxTitlebarView::TitleLayout HxTitlebarView::titleLayout(const TCImageWindow& window) const {
    const bool active = window.isActive();
    TitleLayout t;
    const QColor& custom = active ? window.titleTextColor() : window.inactiveTitleTextColor();
    t.color = custom.isValid() ? custom : velmora::ui::colors::TitleText(active);
    const TCImageWindow::TitleShadow& shadow =
        active ? window.titleTextShadow() : window.inactiveTitleTextShadow();
    t.shadowColor = shadow.color.isValid() ? shadow.color : QColor(255, 255, 255, 128);
    t.shadowOffset = shadow.color.isValid() ? shadow.offset : QPointF(0, 1);
    t.font = velmora::ui::FontRegistry::SystemFont(kTitleFontSize);
    const QFontMetricsF metrics(t.font);
    const qreal w = metrics.horizontalAdvance(window.windowTitle());
    const qreal h = metrics.height();
    t.frame = QRectF(width() / 2.0 - w / 2, 2, w, h);
    return t;
}

void HxTitlebarView::paintEvent(QPaintEvent*) {
    TCImageWindow* w = imageWindow();
    if (!w) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const bool fullScreen = w->isFullScreen();
    if (w->titleBarDrawingBlock()) {
        w->titleBarDrawingBlock()(painter, w->isActive(), bounds,
                                  createClippingPathWithRectAndRadius(bounds, 4));
    } else {
        if (fullScreen) {
            painter.fillRect(bounds, velmora::ui::colors::TitleBar());
        }
        // The top row stays undrawn and the top corners are rounded.
        painter.setClipPath(createClippingPathWithRectAndRadius(bounds.adjusted(0, 1, 0, 0), 4));
        painter.fillRect(bounds, velmora::ui::colors::TitleBar());
        if (w->showsBaselineSeparator()) {
            painter.fillRect(QRectF(0, bounds.bottom() - 2, bounds.width(), 2),
                             velmora::ui::colors::TitleBar());
        }
        painter.setClipping(false);
    }
    if (w->showsTitle() && (!fullScreen || w->showsTitleInFullscreen())) {
        const TitleLayout t = titleLayout(*w);
        painter.setFont(t.font);
        painter.setPen(t.shadowColor);
        painter.drawText(t.frame.translated(t.shadowOffset), Qt::AlignLeft | Qt::AlignTop,
                         w->windowTitle());
        painter.setPen(t.color);
        painter.drawText(t.frame, Qt::AlignLeft | Qt::AlignTop, w->windowTitle());
    }
}

void HxTitlebarView::mousePressEvent(QMouseEvent* event) {
    // No system frame: the bar is where the window is dragged from.
    TCImageWindow* w = imageWindow();
    if (event->button() == Qt::LeftButton && w && w->isWindow() && w->windowHandle()) {
        w->windowHandle()->startSystemMove();
    }
    event->accept();
}

void HxTitlebarView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    TCImageWindow* w = imageWindow();
    if (w && MiniaturizeSetting() && MiniaturizeSetting()()) {
        w->showMinimized();
    }
}
