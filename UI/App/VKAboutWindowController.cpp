#include "VKAboutWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "Resources/FontRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "VKLinkUrl.h"
#include "platform/desktop/Workspace.h"

VKAboutWindowController::VKAboutWindowController(velmora::platform::Workspace* workspace,
                                                 QObject* parent)
    : QObject(parent), workspace_(workspace) {
    namespace ui = velmora::ui;
    aWindow_ = new TCImageWindow();
    aWindow_->setObjectName(QStringLiteral("AboutWindowXib"));
    aWindow_->resize(kWidth, kHeight);
    aWindow_->setShowsTitle(false);
    aWindow_->installEventFilter(this);

    titleLabel_ =
        new QLabel(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")), aWindow_->titleBarView());
    titleLabel_->setObjectName(QStringLiteral("titleLabel"));
    titleLabel_->setGeometry(70, 0, 300, 22);
    titleLabel_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Neue Light"), 13));

    auto* content = new QWidget();
    content->setAutoFillBackground(true);
    QPalette palette = content->palette();
    palette.setColor(QPalette::Window, Qt::white);
    content->setPalette(palette);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 16, 24, 24);
    auto* product = new QLabel(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")), content);
    product->setObjectName(QStringLiteral("productLabel"));
    product->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Neue Light"), 16));
    product->setAlignment(Qt::AlignCenter);
    column->addWidget(product);
    auto* version = new QLabel(QApplication::applicationVersion(), content);
    version->setAlignment(Qt::AlignCenter);
    column->addWidget(version);
    const QString address = VKLinkUrl::GetUrl(QStringLiteral("AboutURL"));
    aboutlink_ = new QPushButton(address, content);
    aboutlink_->setObjectName(QStringLiteral("aboutlink"));
    aboutlink_->setFlat(true);
    aboutlink_->setCursor(Qt::PointingHandCursor);
    aboutlink_->setStyleSheet(
        QStringLiteral("QPushButton { color: rgb(24, 90, 166); text-decoration: underline; "
                       "border: none; }"));
    // No address configured: nothing to open.
    aboutlink_->setVisible(!address.isEmpty());
    connect(aboutlink_, &QPushButton::clicked, this, [this] { linkButtonAction(); });
    column->addWidget(aboutlink_);
    column->addStretch();
    aWindow_->setContentView(content);
}

VKAboutWindowController::~VKAboutWindowController() {
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

bool VKAboutWindowController::eventFilter(QObject* watched, QEvent* event) {
    // The type first: the window may be half destroyed when it sends one.
    if (event->type() == QEvent::Close && watched == aWindow_) {
        if (running_) {
            running_ = false;
            velmora::ui::Modal().StopModal(aWindow_, 0);
        }
        return false;
    }
    return QObject::eventFilter(watched, event);
}

void VKAboutWindowController::runModal() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = aWindow_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        aWindow_->move(frame.topLeft());
    }
    running_ = true;
    velmora::ui::Modal().RunModal(aWindow_);
    running_ = false;
}

void VKAboutWindowController::closeWindow() {
    aWindow_->close();
}

void VKAboutWindowController::linkButtonAction() {
    const QString address = VKLinkUrl::GetUrl(QStringLiteral("AboutURL"));
    if (workspace_ && !address.isEmpty())
        workspace_->OpenUrl(address.toStdString());
}
