#include "TCImageWindow.h"

#include <QAbstractButton>
#include <QEvent>
#include <QPalette>
#include <cmath>

#include "Resources/ImageRegistry.h"
#include "TCWindowButtonGroup.h"

using velmora::ui::ImageRegistry;

namespace {

const char* const kButtonImageStem[] = {"win_close", "win_minimize", "win_zoom"};

TCWindowButton* MakeStandardButton(int kind, const QString& group, QWidget* parent) {
    const QSize size(TCImageWindow::kStandardButtonSize, TCImageWindow::kStandardButtonSize);
    auto* button = new TCWindowButton(size, group, parent);
    const QString stem = QLatin1String(kButtonImageStem[kind]);
    button->setObjectName(stem);
    button->setActiveImage(ImageRegistry::Pixmap(stem, size));
    button->setActiveNotKeyWindowImage(ImageRegistry::Pixmap(stem + "_inactive", size));
    button->setInactiveImage(ImageRegistry::Pixmap(stem + "_inactive", size));
    button->setRolloverImage(ImageRegistry::Pixmap(stem + "_rollover", size));
    button->setPressedImage(ImageRegistry::Pixmap(stem + "_rollover", size));
    return button;
}

QRect Rounded(const QRectF& r) {
    return QRect(qRound(r.x()), qRound(r.y()), qRound(r.width()), qRound(r.height()));
}

}  // namespace

TCImageWindow::TCImageWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);
    // One group per window: the pointer over one window's buttons shows
    // the roll-over pictures of that window only.
    static quint64 windows = 0;
    const QString group = TCWindowButtonGroup::kTCWindowButtonGroupDefault() +
                          QStringLiteral(".window%1").arg(++windows);
    for (int kind = 0; kind < 3; ++kind) {
        standardButtons_[kind] = MakeStandardButton(kind, group, this);
        connect(standardButtons_[kind], &QAbstractButton::clicked, this,
                [this, kind] { performButtonAction(static_cast<ButtonKind>(kind)); });
    }
    titleBarHeight_ = cachedTitleBarHeight_ = kStandardTitleBarHeight;
    leftMargin_ = kStandardLeftMargin;
    separation_ = kStandardSeparation;
    contentView_ = new QWidget(this);
    createTitlebarView();
    layoutTrafficLightsAndContent();
}

TCImageWindow::~TCImageWindow() = default;

bool TCImageWindow::isActive() const {
    return isActiveWindow();
}

QRectF TCImageWindow::fromBottomUp(const QRectF& r) const {
    return QRectF(r.x(), height() - r.y() - r.height(), r.width(), r.height());
}

QRectF TCImageWindow::toBottomUp(const QRectF& r) const {
    return fromBottomUp(r);
}

void TCImageWindow::createTitlebarView() {
    titleBarContainer_ = new HxTitlebarContainer(this);
    titleBarContainer_->lower();
    if (contentView_) {
        contentView_->lower();
    }
    setTitleBarView(new HxTitlebarView);
}

void TCImageWindow::setTitleBarView(QWidget* view) {
    if (!view || view == titleBarView_) {
        return;
    }
    if (titleBarView_) {
        delete titleBarView_;
    }
    titleBarView_ = view;
    view->setParent(titleBarContainer_);
    view->setGeometry(titleBarContainer_->rect());
    view->show();
}

void TCImageWindow::setContentView(QWidget* view) {
    if (!view || view == contentView_) {
        return;
    }
    delete contentView_;
    contentView_ = view;
    view->setParent(this);
    view->lower();
    view->show();
    repositionContentView();
}

void TCImageWindow::recalculateFrameForTitleBarContainer() {
    const QRectF bar(0, 0, width(), titleBarHeight_);
    titleBarContainer_->setGeometry(Rounded(bar));
    if (titleBarView_) {
        titleBarView_->setGeometry(titleBarContainer_->rect());
    }
}

TCWindowButton* TCImageWindow::buttonToLayout(ButtonKind kind) const {
    const TCWindowButton* custom = nullptr;
    switch (kind) {
        case ButtonKind::Close:
            custom = closeButton_;
            break;
        case ButtonKind::Minimize:
            custom = minimizeButton_;
            break;
        case ButtonKind::Zoom:
            custom = zoomButton_;
            break;
    }
    return custom ? const_cast<TCWindowButton*>(custom) : standardButtons_[static_cast<int>(kind)];
}

void TCImageWindow::layoutTrafficLightsAndContent() {
    recalculateFrameForTitleBarContainer();
    // The bar, measured from the window's bottom edge upwards.
    const QRectF t = toBottomUp(QRectF(0, 0, width(), titleBarHeight_));
    TCWindowButton* buttons[3] = {buttonToLayout(ButtonKind::Close),
                                  buttonToLayout(ButtonKind::Minimize),
                                  buttonToLayout(ButtonKind::Zoom)};
    QRectF c = buttons[0] ? toBottomUp(buttons[0]->geometry()) : QRectF();
    QRectF m = buttons[1] ? toBottomUp(buttons[1]->geometry()) : QRectF();
    QRectF z = buttons[2] ? toBottomUp(buttons[2]->geometry()) : QRectF();
    if (!verticalButtons_) {
        const double y0 = centerButtons_ ? std::round(t.top() + t.height() / 2 - c.height() / 2)
                                         : t.bottom() - c.height() - buttonsTopMargin_;
        const double y = y0 + topButtonMoveUp_;
        c.moveTo(leftMargin_, y);
        m.moveTo(c.right() + separation_, y);
        z.moveTo(m.right() + separation_, y);
    } else {
        const double g = c.height() + m.height() + z.height() + 2 * (separation_ - 2);
        const double y0 = centerButtons_ ? std::round(t.top() + t.height() / 2 - g / 2)
                                         : t.bottom() - g - buttonsTopMargin_;
        c.moveLeft(leftMargin_);
        m.moveLeft(leftMargin_);
        z.moveLeft(leftMargin_);
        z.moveTop(y0);
        m.moveTop(z.bottom() + separation_ - 2);
        c.moveTop(m.bottom() + separation_ - 2);
    }
    const QRectF frames[3] = {c, m, z};
    for (int i = 0; i < 3; ++i) {
        if (buttons[i]) {
            buttons[i]->setGeometry(Rounded(fromBottomUp(frames[i])));
            buttons[i]->raise();
        }
    }
    if (fullScreenButton_) {
        QRectF s = toBottomUp(fullScreenButton_->geometry());
        if (!fullScreenRightMarginSet_) {
            setFullScreenButtonRightMargin(t.width() - s.right());
            return;  // laid out once more by the setter
        }
        s.moveLeft(t.width() - s.width() - fullScreenRightMargin_);
        s.moveTop(centerFullScreenButton_ ? std::round(t.top() + t.height() / 2 - s.height() / 2)
                                          : t.bottom() - s.height() - fullScreenTopMargin_);
        fullScreenButton_->setGeometry(Rounded(fromBottomUp(s)));
        fullScreenButton_->raise();
    }
    repositionContentView();
}

void TCImageWindow::repositionContentView() {
    if (!contentView_) {
        return;
    }
    const QRect frame = Rounded(QRectF(0, titleBarHeight_, width(), height() - titleBarHeight_));
    if (contentView_->geometry() != frame) {
        contentView_->setGeometry(frame);
        contentView_->update();
    }
}

void TCImageWindow::displayWindowAndTitlebar() {
    if (titleBarView_) {
        titleBarView_->update();
    }
}

void TCImageWindow::updateTitlebarView() {
    displayWindowAndTitlebar();
    if (!titleBarView_) {
        return;
    }
    // The owner's bar controls are usable only while the window is active.
    const bool active = isActive();
    for (TCWindowButton* b :
         {buttonToLayout(ButtonKind::Close), buttonToLayout(ButtonKind::Minimize),
          buttonToLayout(ButtonKind::Zoom), fullScreenButton_.data()}) {
        if (b) {
            b->updateRollOverImage();
        }
    }
    const auto children = titleBarView_->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly);
    for (QAbstractButton* control : children) {
        control->setEnabled(active);
    }
    emit activityChanged(active);
}

void TCImageWindow::setTitleBarHeight(double height) {
    if (height == titleBarHeight_) {
        return;
    }
    titleBarHeight_ = height;
    cachedTitleBarHeight_ = height;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
}

void TCImageWindow::setTrafficLightButtonsLeftMargin(double margin) {
    if (margin == leftMargin_) {
        return;
    }
    leftMargin_ = margin;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
}

void TCImageWindow::setFullScreenButtonRightMargin(double margin) {
    if (margin == fullScreenRightMargin_ && fullScreenRightMarginSet_) {
        return;
    }
    fullScreenRightMarginSet_ = true;
    fullScreenRightMargin_ = margin;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
}

void TCImageWindow::setTrafficLightSeparation(double separation) {
    if (separation == separation_) {
        return;
    }
    separation_ = separation;
    layoutTrafficLightsAndContent();
}

void TCImageWindow::setCenterTrafficLightButtons(bool center) {
    if (center == centerButtons_) {
        return;
    }
    centerButtons_ = center;
    layoutTrafficLightsAndContent();
}

void TCImageWindow::setVerticalTrafficLightButtons(bool vertical) {
    if (vertical == verticalButtons_) {
        return;
    }
    verticalButtons_ = vertical;
    layoutTrafficLightsAndContent();
}

void TCImageWindow::setCenterFullScreenButton(bool center) {
    if (center == centerFullScreenButton_) {
        return;
    }
    centerFullScreenButton_ = center;
    layoutTrafficLightsAndContent();
}

void TCImageWindow::setShowsTitle(bool shows) {
    if (shows == showsTitle_) {
        return;
    }
    showsTitle_ = shows;
    displayWindowAndTitlebar();
}

void TCImageWindow::setShowsBaselineSeparator(bool shows) {
    if (shows == showsBaselineSeparator_) {
        return;
    }
    showsBaselineSeparator_ = shows;
    displayWindowAndTitlebar();
}

void TCImageWindow::replaceButton(QPointer<TCWindowButton>& slot, TCWindowButton* button,
                                  ButtonKind kind) {
    if (button == slot) {
        return;
    }
    if (slot) {
        slot->setParent(nullptr);
        slot->deleteLater();
    }
    slot = button;
    TCWindowButton* standard = standardButtons_[static_cast<int>(kind)];
    standard->setVisible(!button);
    if (button) {
        button->setParent(this);
        button->move(standard->pos());
        connect(button, &QAbstractButton::clicked, this,
                [this, kind] { performButtonAction(kind); });
        button->show();
        button->raise();
    }
}

void TCImageWindow::setCloseButton(TCWindowButton* button) {
    replaceButton(closeButton_, button, ButtonKind::Close);
}

void TCImageWindow::setMinimizeButton(TCWindowButton* button) {
    replaceButton(minimizeButton_, button, ButtonKind::Minimize);
}

void TCImageWindow::setZoomButton(TCWindowButton* button) {
    replaceButton(zoomButton_, button, ButtonKind::Zoom);
}

void TCImageWindow::setFullScreenButton(TCWindowButton* button) {
    if (button == fullScreenButton_) {
        return;
    }
    if (fullScreenButton_) {
        fullScreenButton_->setParent(nullptr);
        fullScreenButton_->deleteLater();
    }
    fullScreenButton_ = button;
    if (button) {
        button->setParent(this);
        connect(button, &QAbstractButton::clicked, this,
                [this] { isFullScreen() ? showNormal() : showFullScreen(); });
        button->show();
        button->raise();
    }
}

void TCImageWindow::performButtonAction(ButtonKind kind) {
    switch (kind) {
        case ButtonKind::Close:
            close();
            break;
        case ButtonKind::Minimize:
            showMinimized();
            break;
        case ButtonKind::Zoom:
            isMaximized() ? showNormal() : showMaximized();
            break;
    }
}

QRect TCImageWindow::sheetRect(const QRect& proposed) const {
    QRect r = proposed;
    r.moveTop(qRound(titleBarHeight_));
    return r;
}

void TCImageWindow::windowWillEnterFullScreen() {
    for (TCWindowButton* b :
         {buttonToLayout(ButtonKind::Close), buttonToLayout(ButtonKind::Minimize),
          buttonToLayout(ButtonKind::Zoom), fullScreenButton_.data()}) {
        if (b) {
            b->windowWillEnterFullScreen();
        }
    }
    if (!hideTitleBarInFullScreen_) {
        return;
    }
    titleBarHeight_ = 0;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
    if (titleBarView_) {
        titleBarView_->hide();
    }
}

void TCImageWindow::windowWillExitFullScreen() {
    for (TCWindowButton* b :
         {buttonToLayout(ButtonKind::Close), buttonToLayout(ButtonKind::Minimize),
          buttonToLayout(ButtonKind::Zoom), fullScreenButton_.data()}) {
        if (b) {
            b->windowWillExitFullScreen();
        }
    }
    if (!hideTitleBarInFullScreen_) {
        return;
    }
    titleBarHeight_ = cachedTitleBarHeight_;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
    if (titleBarView_) {
        titleBarView_->show();
    }
}

void TCImageWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutTrafficLightsAndContent();
}

void TCImageWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    layoutTrafficLightsAndContent();
}

void TCImageWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        updateTitlebarView();
        layoutTrafficLightsAndContent();
    } else if (event->type() == QEvent::WindowStateChange) {
        const bool fullScreen = isFullScreen();
        if (fullScreen != wasFullScreen_) {
            wasFullScreen_ = fullScreen;
            fullScreen ? windowWillEnterFullScreen() : windowWillExitFullScreen();
        }
    }
}
