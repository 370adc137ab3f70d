#include "Windows/RecoveryEndWindow.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "Windows/RecoveryWindowParts.h"
#include "platform/desktop/CommandRunner.h"
#include "platform/desktop/Workspace.h"

namespace velmora::windows {

namespace {

constexpr int kWidth = 460;
constexpr int kContentHeight = 170;

platform::Workspace& DesktopWorkspace() {
    static auto* runner = new platform::SystemCommandRunner();
    static auto* workspace = new platform::DesktopWorkspace(*runner);
    return *workspace;
}

}  // namespace

RecoveryEndWindow::RecoveryEndWindow(const QString& objectName, platform::Workspace* workspace,
                                     QObject* parent)
    : QObject(parent), workspace_(workspace ? workspace : &DesktopWorkspace()) {
    const recovery::SmallWindow made =
        recovery::MakeSmallWindow(objectName, kWidth, kContentHeight, 80);
    aWindow_ = made.window;
    recoveryEndTitle_ = recovery::KeyLabel(made.content, QStringLiteral("recoveryEndTitle"),
                                           QStringLiteral("PLX_FOUR_RECOVER_END_TITLE"), 15, true);
    made.place(recoveryEndTitle_, 24, 128, 412, 24);
    recoveryEndNode_ =
        recovery::KeyLabel(made.content, QStringLiteral("recoveryEndNode"),
                           QStringLiteral("PLX_FOUR_RECOVER_END_NODE"), 13, false, true);
    made.place(recoveryEndNode_, 24, 84, 412, 40);
    savePathLabel_ = new QLabel(made.content);
    savePathLabel_->setObjectName(QStringLiteral("savePathLabel"));
    savePathLabel_->setCursor(Qt::PointingHandCursor);
    made.place(savePathLabel_, 24, 58, 412, 22);
    connect(savePathLabel_, &QLabel::linkActivated, this, [this] { jumpToSavePath(); });
    okButton_ = new QPushButton(ui::texts::Text(QStringLiteral("PLX_FOUR_RECOVERY_STOP_BUTTON")),
                                made.content);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true);
    made.place(okButton_, 346, 14, 90, 30);
    connect(okButton_, &QPushButton::clicked, this, [this] { okButtonAction(); });
    aWindow_->installEventFilter(this);
}

RecoveryEndWindow::~RecoveryEndWindow() {
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

void RecoveryEndWindow::setSavePath(const QString& path) {
    savePath_ = path;
    recovery::SetPathLink(savePathLabel_, path);
}

void RecoveryEndWindow::fitNote() {
    const int needed = recoveryEndNode_->heightForWidth(recoveryEndNode_->width());
    const int extra = needed - recoveryEndNode_->height();
    if (extra <= 0)
        return;
    recoveryEndNode_->resize(recoveryEndNode_->width(), needed);
    for (QWidget* below : {static_cast<QWidget*>(savePathLabel_), static_cast<QWidget*>(okButton_)})
        below->move(below->x(), below->y() + extra);
    aWindow_->resize(aWindow_->width(), aWindow_->height() + extra);
}

void RecoveryEndWindow::runModal() {
    recovery::CentreOnScreen(aWindow_);
    ui::FadeIn(aWindow_, 300);
    ui::Modal().RunModal(aWindow_);
    if (aWindow_)
        aWindow_->activateWindow();
}

void RecoveryEndWindow::jumpToSavePath() {
    if (savePath_.isEmpty())
        return;
    if (workspace_->OpenFolder(savePath_.toStdString()))
        return;
    // No program could open it (none installed, or the folder is gone): the
    // user is told where the files are rather than left clicking a link
    // that does nothing.
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("RECOVERY_FOLDER_NOT_OPENED_"));
    alert.informative =
        ui::texts::Format(QStringLiteral("RECOVERY_FOLDER_NOT_OPENED_NODE"), {savePath_});
    alert.alternateButton.clear();
    ui::Alerts().BeginSheet(alert, aWindow_, [](int) {});
}

void RecoveryEndWindow::endAndClose() {
    ui::Modal().StopModal(aWindow_, 0);
    closing_ = true;
    aWindow_->close();
    closing_ = false;
}

void RecoveryEndWindow::okButtonAction() {
    endAndClose();
}

bool RecoveryEndWindow::eventFilter(QObject* watched, QEvent* event) {
    // The title bar's close fades the window out; the run ends once it is
    // fully transparent. The event's type first: the guarded pointer would
    // cast a window that is being destroyed.
    if (event->type() == QEvent::Close && !closing_ && watched == aWindow_) {
        event->ignore();
        ui::Fade(aWindow_, 0, 300, [this] {
            if (aWindow_ && aWindow_->windowOpacity() == 0.0)
                endAndClose();
        });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::windows
