#include "Browser/SpacePreviewWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include "Resources/FontRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/WindowBuilder.h"

namespace velmora::browser {

SpacePreviewWindow::SpacePreviewWindow(QObject* parent) : QObject(parent) {
    aWindow_ = new TCImageWindow();
    aWindow_->setObjectName(QStringLiteral("SpacePreviewWindow"));
    aWindow_->setAttribute(Qt::WA_DeleteOnClose, false);
    aWindow_->resize(kWidth, kImageHeight + static_cast<int>(kTitleBarHeight));
    windowDidLoad();
}

SpacePreviewWindow::~SpacePreviewWindow() {
    // The window sends events while it is torn down; we are gone by then.
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

void SpacePreviewWindow::windowDidLoad() {
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    aWindow_->setTrafficLightButtonsLeftMargin(8);
    aWindow_->setShowsTitle(false);
    QWidget* bar = aWindow_->titleBarView();
    if (titleLabel_ == nullptr) {
        titleLabel_ = new QLabel(bar);
        titleLabel_->setObjectName(QStringLiteral("titleLabel"));
        titleLabel_->setGeometry(ui::ToQtRect({70, 2, 410, 16}, static_cast<int>(kTitleBarHeight)));
        titleLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        titleLabel_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Light"), 12));
        titleLabel_->setAutoFillBackground(true);
        titleLabel_->setBackgroundRole(QPalette::Button);
    }

    auto* content = new QWidget();
    content->setAutoFillBackground(true);
    QPalette p = content->palette();
    p.setColor(QPalette::Window, Qt::white);
    content->setPalette(p);
    imageView_ = new QLabel(content);
    imageView_->setObjectName(QStringLiteral("imageView"));
    imageView_->setAlignment(Qt::AlignCenter);
    imageView_->setGeometry(0, 0, kWidth, kImageHeight);
    aWindow_->setContentView(content);

    titleLabel_->setText(strName_);
    setShowImage(showImage_);
    bClose_ = false;
    // The close button (and any other close request) comes here first.
    aWindow_->installEventFilter(this);
}

void SpacePreviewWindow::setStrName(const QString& name) {
    strName_ = name;
    if (titleLabel_ != nullptr)
        titleLabel_->setText(name);
}

void SpacePreviewWindow::setShowImage(const QImage& image) {
    showImage_ = image;
    if (imageView_ == nullptr)
        return;
    if (image.isNull()) {
        imageView_->clear();
        return;
    }
    // Scaled down to fit, never up: an icon keeps its size.
    QPixmap picture = QPixmap::fromImage(image);
    if (picture.width() > imageView_->width() || picture.height() > imageView_->height())
        picture = picture.scaled(imageView_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    imageView_->setPixmap(picture);
}

void SpacePreviewWindow::showCentred() {
    if (!aWindow_)
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = aWindow_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        aWindow_->move(frame.topLeft());
    }
    aWindow_->show();
}

void SpacePreviewWindow::markClosed() {
    bClose_ = true;
    // The preview is not run modally; a loop some other window runs
    // meanwhile is not ours to end, only one run on the preview itself.
    if (aWindow_ && ui::Modal().IsRunning(aWindow_))
        ui::Modal().StopModal(aWindow_, 0);
}

void SpacePreviewWindow::closeWindow() {
    markClosed();
    if (!aWindow_)
        return;
    closing_ = true;
    aWindow_->close();
    closing_ = false;
}

bool SpacePreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    // The type first: `watched` may be a window half torn down.
    if (event->type() == QEvent::Close && watched == aWindow_ && !closing_) {
        markClosed();
        return false;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::browser
