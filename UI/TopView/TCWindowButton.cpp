#include "TCWindowButton.h"

#include <QEnterEvent>
#include <QPainter>

#include "TCWindowButtonGroup.h"

TCWindowButton::TCWindowButton(const QSize& size, const QString& groupIdentifier, QWidget* parent)
    : QAbstractButton(parent), groupIdentifier_(groupIdentifier), size_(size) {
    resize(size);
    setFocusPolicy(Qt::NoFocus);
    connect(group(), &TCWindowButtonGroup::rolloverStateDidUpdate, this,
            [this] { updateRollOverImage(); });
}

TCWindowButton* TCWindowButton::windowButtonWithSize(const QSize& size,
                                                     const QString& groupIdentifier,
                                                     QWidget* parent) {
    return new TCWindowButton(size, groupIdentifier, parent);
}

TCWindowButtonGroup* TCWindowButton::group() const {
    return TCWindowButtonGroup::groupWithIdentifier(groupIdentifier_);
}

void TCWindowButton::showImage(Shown which) {
    if (shown_ != which) {
        shown_ = which;
        update();
    }
}

void TCWindowButton::updateImage() {
    if (isEnabled()) {
        updateActiveImage();
    } else {
        showImage(Shown::Inactive);
    }
}

void TCWindowButton::updateActiveImage() {
    const QWidget* w = window();
    showImage(w && w->isActiveWindow() ? Shown::Active : Shown::ActiveNotKeyWindow);
}

void TCWindowButton::updateRollOverImage() {
    if (group()->shouldDisplayRollOver() && isEnabled()) {
        showImage(Shown::Rollover);
    } else {
        updateImage();
    }
}

void TCWindowButton::windowWillEnterFullScreen() {
    group()->resetMouseCaptures();
    hide();
}

void TCWindowButton::windowWillExitFullScreen() {
    group()->resetMouseCaptures();
    show();
}

void TCWindowButton::paintEvent(QPaintEvent*) {
    const QPixmap* image = nullptr;
    if (isDown() && !pressedImage_.isNull()) {
        image = &pressedImage_;
    } else {
        switch (shown_) {
            case Shown::Active:
                image = &activeImage_;
                break;
            case Shown::ActiveNotKeyWindow:
                image = &activeNotKeyWindowImage_;
                break;
            case Shown::Inactive:
                image = &inactiveImage_;
                break;
            case Shown::Rollover:
                image = &rolloverImage_;
                break;
            case Shown::None:
                break;
        }
    }
    if (image && !image->isNull()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), *image);
    }
}

void TCWindowButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    group()->didCaptureMousePointer();
    updateRollOverImage();
}

void TCWindowButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    group()->didReleaseMousePointer();
    updateRollOverImage();
}

void TCWindowButton::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    switch (event->type()) {
        case QEvent::EnabledChange:
        case QEvent::ActivationChange:
            updateImage();
            break;
        case QEvent::ParentChange:
            if (parentWidget()) {
                updateImage();
            }
            break;
        default:
            break;
    }
}

void TCWindowButton::showEvent(QShowEvent* event) {
    QAbstractButton::showEvent(event);
    updateImage();
}
