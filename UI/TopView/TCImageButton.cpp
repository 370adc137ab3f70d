#include "TCImageButton.h"

#include <algorithm>

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "Resources/ImageRegistry.h"

using velmora::ui::ImageRegistry;

TCImageButton::TCImageButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
}

TCImageButton::TCImageButton(const QRect& frame, QWidget* parent) : TCImageButton(parent) {
    setGeometry(frame);
}

void TCImageButton::setImageFromFileNormalName(const QString& normal, const QString& active,
                                               const QString& hover, const QString& disable) {
    const QString names[4] = {normal, active, hover, disable};
    for (int i = 0; i < 4; ++i) {
        names_[i] = names[i];
        images_[i] = names[i].isEmpty() ? QPixmap() : ImageRegistry::Pixmap(names[i]);
    }
    dstRect_ = QRect(QPoint(0, 0), images_[Normal].deviceIndependentSize().toSize());
    srcRect_ = dstRect_;
    update();
}

void TCImageButton::setTextWithName(const QString& text, const QRect& frame) {
    dstRect_ = QRect(0, 0, frame.width() - 4, frame.height());
    textField_ = new QLabel(text, this);
    // The label sits 2 points above the button's bounds.
    textField_->setGeometry(rect().translated(0, -2));
    textField_->setAlignment(Qt::AlignCenter);
    // Inside a button a label would take the button's text colour.
    textField_->setForegroundRole(QPalette::WindowText);
    textField_->setAttribute(Qt::WA_TransparentForMouseEvents);
    textField_->show();
    updateLabelColour();
}

void TCImageButton::setButtonEnabled(bool usable) {
    isDisabled_ = usable;
    updateLabelColour();
    repaint();
}

void TCImageButton::setButtonClicked(bool pressed) {
    isTracking_ = pressed;
    repaint();
}

TCImageButton::State TCImageButton::currentState() const {
    if (!isEnabled() || !isDisabled_) {
        return Disable;
    }
    if (isTracking_ || isDown()) {
        return Active;
    }
    return isFocus_ ? Hover : Normal;
}

QString TCImageButton::currentImageName() const {
    if (images_[Normal].isNull()) {
        return QString();
    }
    const State s = currentState();
    return images_[s].isNull() ? QString() : names_[s];
}

QSize TCImageButton::sizeHint() const {
    return images_[Normal].isNull() ? QAbstractButton::sizeHint() : dstRect_.size();
}

void TCImageButton::updateLabelColour() {
    if (!textField_) {
        return;
    }
    const QColor colour = currentState() == Disable ? QColor(Qt::gray) : QColor(Qt::white);
    QPalette p = textField_->palette();
    if (p.color(QPalette::WindowText) != colour) {
        p.setColor(QPalette::WindowText, colour);
        textField_->setPalette(p);
    }
}

void TCImageButton::paintEvent(QPaintEvent*) {
    if (images_[Normal].isNull()) {
        // Without pictures it is a plain push button.
        QStylePainter painter(this);
        QStyleOptionButton option;
        option.initFrom(this);
        option.text = text();
        if (isDown() || isTracking_) {
            option.state |= QStyle::State_Sunken;
        }
        painter.drawControl(QStyle::CE_PushButton, option);
        return;
    }
    const State s = currentState();
    if (images_[s].isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap& image = images_[s];
    const qreal ratio = image.devicePixelRatio();
    const QRectF source(srcRect_.x() * ratio, srcRect_.y() * ratio, srcRect_.width() * ratio,
                        srcRect_.height() * ratio);
    painter.drawPixmap(QRectF(dstRect_), image, source);
    if (hasFocus()) {
        // The keyboard's place: a ring inside the button's bounds.
        QPen pen(QColor(53, 130, 248));
        pen.setWidthF(2);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        // Around the picture, which a label can make narrower than the button.
        const QRectF ring = QRectF(dstRect_.isEmpty() ? rect() : dstRect_.intersected(rect()))
                                .adjusted(1, 1, -1, -1);
        const qreal radius = std::min(focusRingRadius_, std::min(ring.width(), ring.height()) / 2);
        painter.drawRoundedRect(ring, radius, radius);
        // A white line inside it shows on pictures of the ring's own blue.
        pen.setColor(Qt::white);
        painter.setPen(pen);
        const qreal inner = std::max<qreal>(0, radius - 2);
        painter.drawRoundedRect(ring.adjusted(2, 2, -2, -2), inner, inner);
    }
}

namespace {

bool IsClickKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

}  // namespace

void TCImageButton::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (!IsClickKey(event->key()) || modifiers != Qt::KeyboardModifiers()) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    if (!isDisabled_ || !isEnabled()) {
        // Unusable: the key goes on to the window, which may have a default.
        event->ignore();
        return;
    }
    if (!event->isAutoRepeat())
        click();
    event->accept();
}

void TCImageButton::keyReleaseEvent(QKeyEvent* event) {
    if (IsClickKey(event->key())) {
        event->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

void TCImageButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    if (isEnabled()) {
        isFocus_ = true;
        repaint();
    }
}

void TCImageButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    isFocus_ = false;
    repaint();
}

void TCImageButton::mousePressEvent(QMouseEvent* event) {
    if (!isDisabled_) {
        // Unusable: no press, no action.
        event->ignore();
        return;
    }
    QAbstractButton::mousePressEvent(event);
    repaint();
}

void TCImageButton::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractButton::mouseReleaseEvent(event);
    repaint();
}

void TCImageButton::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        updateLabelColour();
    }
}
