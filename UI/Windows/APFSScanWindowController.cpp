#include "Windows/APFSScanWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "Resources/FontRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/WindowBuilder.h"
#include "Widgets/VKHandButton.h"
#include "platform/desktop/CommandRunner.h"
#include "platform/desktop/Workspace.h"

namespace velmora::windows {

namespace {

constexpr int kWidth = 480;
constexpr int kContentHeight = 190;
constexpr double kTitleBarHeight = 22;

platform::Workspace& DesktopWorkspace() {
    static platform::SystemCommandRunner runner;
    static platform::DesktopWorkspace workspace(runner);
    return workspace;
}

QString EnglishLink(const QString& key) {
    return ui::PrivateSettings::shared().value(QStringLiteral("en")).toMap().value(key).toString();
}

}  // namespace

APFSScanWindowController::APFSScanWindowController(platform::Workspace* workspace, QObject* parent)
    : QObject(parent),
      workspace_(workspace ? workspace : &DesktopWorkspace()),
      linkUrl_(&EnglishLink) {
    aWindow_ = new TCImageWindow();
    aWindow_->setObjectName(QStringLiteral("APFSScanWindowController"));
    aWindow_->setAttribute(Qt::WA_DeleteOnClose, false);
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    aWindow_->setTrafficLightButtonsLeftMargin(13);
    aWindow_->resize(kWidth, kContentHeight + static_cast<int>(kTitleBarHeight));
    iClickCount_ = 0;

    QWidget* bar = aWindow_->titleBarView();
    aTitleLabel_ = new QLabel(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")), bar);
    aTitleLabel_->setGeometry(ui::ToQtRect({80, 2, 300, 18}, static_cast<int>(kTitleBarHeight)));
    aTitleLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    aTitleLabel_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Light"), 14));
    aWindow_->setShowsTitle(false);

    auto* content = new QWidget();
    content->setAutoFillBackground(true);
    QPalette p = content->palette();
    p.setColor(QPalette::Window, Qt::white);
    content->setPalette(p);
    aWindow_->setContentView(content);
    auto place = [](QWidget* w, double x, double y, double width, double height) {
        w->setGeometry(ui::ToQtRect({x, y, width, height}, kContentHeight));
    };

    textField_ = new QLabel(ui::texts::Text(QStringLiteral("PLX_APFS_NOTICE_TITLE")), content);
    textField_->setObjectName(QStringLiteral("textField"));
    textField_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Bold"), 15));
    place(textField_, 24, 140, 432, 26);
    textField1_ = new QLabel(ui::texts::Text(QStringLiteral("PLX_APFS_NOTICE_NODE")), content);
    textField1_->setObjectName(QStringLiteral("textField1"));
    textField1_->setWordWrap(true);
    textField1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    textField1_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 13));
    place(textField1_, 24, 70, 432, 66);

    actualizarButton_ =
        new VKHandButton(ui::texts::Text(QStringLiteral("PLX_APFS_NOTICE_LINK")), content);
    actualizarButton_->setObjectName(QStringLiteral("actualizarButton"));
    actualizarButton_->setFlat(true);
    actualizarButton_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; color: #3582f8; text-decoration: underline; "
                       "text-align: left; }"));
    place(actualizarButton_, 24, 24, 220, 24);
    connect(actualizarButton_, &QPushButton::clicked, this, [this] { linkButtonAction(); });

    okButton_ = new QPushButton(ui::texts::Text(QStringLiteral("PLX_APFS_NOTICE_OK")), content);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true);
    place(okButton_, 366, 20, 90, 30);
    connect(okButton_, &QPushButton::clicked, this, [this] { okButtonAction(); });
    // Without a mouse: Return takes the focused OK; Escape, which no
    // control here uses, reaches the window and closes the notice as OK does.
    okButton_->setFocus();

    // The close button (and any other close request) comes here first.
    aWindow_->installEventFilter(this);
}

APFSScanWindowController::~APFSScanWindowController() {
    // The window sends events while it is torn down; we are gone by then.
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

void APFSScanWindowController::runModal() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = aWindow_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        aWindow_->move(frame.topLeft());
    }
    // Fades in as it appears.
    ui::FadeIn(aWindow_, 300, [this] { animationDidStop(); });
    ui::Modal().RunModal(aWindow_);
    if (aWindow_) {
        aWindow_->activateWindow();
    }
}

void APFSScanWindowController::endAndClose() {
    ui::Modal().StopModal(aWindow_, 0);
    closing_ = true;
    aWindow_->close();
    closing_ = false;
}

void APFSScanWindowController::closeWindow() {
    endAndClose();
}

void APFSScanWindowController::okButtonAction() {
    endAndClose();
}

// No address for the key opens nothing.
void APFSScanWindowController::linkButtonAction() {
    const QString url = linkUrl_ ? linkUrl_(QStringLiteral("APFS_HELP_URL")) : QString();
    if (url.isEmpty())
        return;
    workspace_->OpenUrl(url.toStdString());
}

void APFSScanWindowController::windowShouldClose() {
    ui::Fade(aWindow_, 0, 300, [this] { animationDidStop(); });
}

bool APFSScanWindowController::applicationShouldTerminate() {
    if (shuttingDown_)
        return true;
    shuttingDown_ = true;
    windowShouldClose();
    return false;
}

// Only a fade that ended fully transparent closes the notice; the fade-in
// ends at 1 and does nothing.
void APFSScanWindowController::animationDidStop() {
    if (!aWindow_ || aWindow_->windowOpacity() != 0.0)
        return;
    endAndClose();
    if (shuttingDown_)
        QCoreApplication::quit();
}

bool APFSScanWindowController::eventFilter(QObject* watched, QEvent* event) {
    // A close from outside (the close button) ends the modal run as
    // closeWindow does, and the window then closes.
    // The event's type first: the guarded pointer would cast a window that
    // is being destroyed to the window class it no longer is.
    if (event->type() == QEvent::Close && !closing_ && watched == aWindow_)
        ui::Modal().StopModal(aWindow_, 0);
    if (event->type() == QEvent::KeyPress && watched == aWindow_ &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        okButtonAction();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::windows
