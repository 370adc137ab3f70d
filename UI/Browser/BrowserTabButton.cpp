#include "Browser/BrowserTabButton.h"

#include <QPainter>

#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"

namespace velmora::browser {

BrowserTabButton::BrowserTabButton(QWidget* parent) : QAbstractButton(parent) {
    setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Light"), 13));
    setCursor(Qt::PointingHandCursor);
}

void BrowserTabButton::setImageName(const QString& name) {
    imageName_ = name.trimmed();
    update();
}

void BrowserTabButton::setTitleColor(const QColor& color) {
    titleColor_ = color;
    update();
}

void BrowserTabButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!imageName_.isEmpty())
        painter.drawPixmap(rect(), ui::ImageRegistry::Pixmap(imageName_, size()));
    QColor colour = titleColor_;
    if (!isEnabled())
        colour.setAlpha(110);
    painter.setPen(colour);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace velmora::browser
