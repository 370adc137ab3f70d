#include "PLXCustemButton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"
#include "Resources/UiColors.h"

using velmora::ui::FontRegistry;
using velmora::ui::ImageRegistry;

namespace {

constexpr int kBackgroundWidth = 400;
constexpr int kBackgroundHeight = 72;

QLabel* MakeLine(QWidget* parent, const QRect& frame, qreal points, const QColor& colour,
                 const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(frame);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(FontRegistry::Font(QStringLiteral("Helvetica Light"), points));
    // Inside a button a label would take the button's text colour.
    label->setForegroundRole(QPalette::WindowText);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->show();
    return label;
}

}  // namespace

PLXCustemButton::PLXCustemButton(QWidget* parent) : QAbstractButton(parent) {
    setText(QStringLiteral(" "));
    setFocusPolicy(Qt::NoFocus);
    iconImageView_ = new QLabel(this);
    iconImageView_->setGeometry(10, 10, 350, 50);
    // The icon sits at the left end, clear of the text lines from x 52.
    iconImageView_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    iconImageView_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PLXCustemButton::setIconImage(const QString& iconName, const QString& hoverIconName) {
    iconName_ = iconName;
    iconHoverName_ = hoverIconName;
    iconImage_ = ImageRegistry::Pixmap(iconName);
    iconHoverImage_ = ImageRegistry::Pixmap(hoverIconName);
    showIcon(true);
}

void PLXCustemButton::showIcon(bool hover) {
    iconImageView_->setPixmap(hover ? iconHoverImage_ : iconImage_);
    shownIconName_ = hover ? iconHoverName_ : iconName_;
}

void PLXCustemButton::setTitleStr(const QString& title, const QString& nodeStr) {
    titleTextField_ =
        MakeLine(this, QRect(52, 10, 338, 20), 16, velmora::ui::colors::ButtonTitle(), title);
    nodeTextField_ = MakeLine(this, QRect(52, 34, 338, 30), 12,
                              velmora::ui::colors::ButtonSecondLine(), nodeStr);
    setHoverBgImage();
}

void PLXCustemButton::setHoverBgImage() {
    normalImage_ = QPixmap();
    hoverImage_ = ImageRegistry::Pixmap(QStringLiteral("hover_bg"),
                                        QSize(kBackgroundWidth, kBackgroundHeight));
    dstRect_ = QRect(0, 0, kBackgroundWidth, kBackgroundHeight);
    srcRect_ = dstRect_;
    // Pointer enter and leave count only from now on.
    hoverSetUp_ = true;
    update();
}

void PLXCustemButton::changeButtonStart(bool selected) {
    isSelected_ = selected;
    showIcon(selected);
    update();
}

void PLXCustemButton::setButtonEnabled(bool enabled) {
    isDisabled_ = enabled;
    repaint();
}

const QPixmap* PLXCustemButton::background() const {
    if (isEnabled() && isDisabled_) {
        return isFocus_ ? &hoverImage_ : &normalImage_;
    }
    return &disableImage_;
}

QString PLXCustemButton::backgroundImageName() const {
    const QPixmap* image = background();
    if (image->isNull()) {
        return QString();
    }
    return image == &hoverImage_ ? QStringLiteral("hover_bg") : QStringLiteral("disable");
}

void PLXCustemButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QPixmap* image = background();
    if (!image->isNull()) {
        const qreal ratio = image->devicePixelRatio();
        painter.drawPixmap(QRectF(dstRect_), *image,
                           QRectF(srcRect_.x() * ratio, srcRect_.y() * ratio,
                                  srcRect_.width() * ratio, srcRect_.height() * ratio));
    }
}

void PLXCustemButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    if (hoverSetUp_ && isEnabled()) {
        isFocus_ = true;
        repaint();
    }
}

void PLXCustemButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    if (hoverSetUp_) {
        isFocus_ = false;
        repaint();
    }
}

void PLXCustemButton::mousePressEvent(QMouseEvent* event) {
    if (!isDisabled_) {
        event->ignore();
        return;
    }
    isSelected_ = !isSelected_;
    showIcon(isSelected_);
    QAbstractButton::mousePressEvent(event);
    repaint();
}
