#include "Windows/VKShowScanProgressWindowController.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "Windows/RecoveryWindowParts.h"

namespace velmora::windows {

namespace {

constexpr int kWidth = 460;
constexpr int kContentHeight = 150;

QPushButton* KeyButton(QWidget* parent, const QString& objectName, const QString& key) {
    auto* button = new QPushButton(ui::texts::Text(key), parent);
    button->setObjectName(objectName);
    return button;
}

}  // namespace

VKShowScanProgressWindowController::VKShowScanProgressWindowController(QObject* parent)
    : QObject(parent) {
    const recovery::SmallWindow made = recovery::MakeSmallWindow(
        QStringLiteral("VKShowScanProgressWindowController"), kWidth, kContentHeight, 80);
    aWindow_ = made.window;
    aTitleLabel_ = made.titleLabel;
    auto panel = [&](const char* name) {
        auto* view = new QWidget(made.content);
        view->setObjectName(QString::fromLatin1(name));
        view->setGeometry(0, 0, kWidth, kContentHeight);
        return view;
    };
    auto placeIn = [&](QWidget* w, double x, double y, double width, double height) {
        made.place(w, x, y, width, height);
    };

    recoveryProgressView_ = panel("recoveryProgressView");
    titleLabel_ = recovery::KeyLabel(recoveryProgressView_, QStringLiteral("titleLabel"),
                                     QStringLiteral("PLX_FOUR_RECOVER_PROGRESS_TITLE"), 15, true);
    placeIn(titleLabel_, 24, 108, 412, 24);
    progressBar_ = new QProgressBar(recoveryProgressView_);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    placeIn(progressBar_, 24, 80, 412, 16);
    scaningFileName_ = new QLabel(recoveryProgressView_);
    scaningFileName_->setObjectName(QStringLiteral("scaningFileName"));
    scaningFileName_->setTextFormat(Qt::PlainText);
    placeIn(scaningFileName_, 24, 54, 412, 20);
    detailLabel_ = new QLabel(recoveryProgressView_);
    detailLabel_->setObjectName(QStringLiteral("recoveryDetailLabel"));
    detailLabel_->setTextFormat(Qt::PlainText);
    detailLabel_->setStyleSheet(QStringLiteral("color: #7e8fa4;"));
    placeIn(detailLabel_, 24, 18, 310, 22);
    stopButton_ = KeyButton(recoveryProgressView_, QStringLiteral("stopButton"),
                            QStringLiteral("PLX_FOUR_RECOVERY_STOP_YES_BUTTON"));
    placeIn(stopButton_, 346, 14, 90, 30);
    connect(stopButton_, &QPushButton::clicked, this, [this] { stopProgressButtonAction(); });

    warningView_ = panel("warningView");
    warningTitle_ = recovery::KeyLabel(warningView_, QStringLiteral("warningTitle"),
                                       QStringLiteral("PLX_FOUR_RECOVERY_STOP_TITLE"), 15, true);
    placeIn(warningTitle_, 24, 108, 412, 24);
    warningNode_ =
        recovery::KeyLabel(warningView_, QStringLiteral("warningNode"),
                           QStringLiteral("PLX_FOUR_RECOVERY_STOP_NODE"), 13, false, true);
    placeIn(warningNode_, 24, 54, 412, 48);
    noButton_ = KeyButton(warningView_, QStringLiteral("noButton"),
                          QStringLiteral("PLX_FOUR_RECOVERY_STOP_NO_BUTTON"));
    placeIn(noButton_, 236, 14, 100, 30);
    yesButton_ = KeyButton(warningView_, QStringLiteral("yesButton"),
                           QStringLiteral("PLX_FOUR_RECOVERY_STOP_YES_BUTTON"));
    placeIn(yesButton_, 346, 14, 90, 30);
    connect(noButton_, &QPushButton::clicked, this, [this] { noButtonAction(); });
    connect(yesButton_, &QPushButton::clicked, this, [this] { yesButtonAction(); });

    noMemeryView_ = panel("noMemeryView");
    noMemeryTitle_ =
        recovery::KeyLabel(noMemeryView_, QStringLiteral("noMemeryTitle"),
                           QStringLiteral("PLX_FOUR_RECOVERY_NO_SPACE_TITLE"), 15, true);
    placeIn(noMemeryTitle_, 24, 108, 412, 24);
    noMemeryNode_ =
        recovery::KeyLabel(noMemeryView_, QStringLiteral("noMemeryNode"),
                           QStringLiteral("PLX_FOUR_RECOVERY_NO_SPACE_NODE"), 13, false, true);
    placeIn(noMemeryNode_, 24, 54, 412, 48);
    noMemeryContinueButton_ = KeyButton(noMemeryView_, QStringLiteral("noMemeryContinueButton"),
                                        QStringLiteral("PLX_FOUR_RECOVERY_NO_SPACE_NO_BUTTON"));
    placeIn(noMemeryContinueButton_, 236, 14, 100, 30);
    noMemeryCancelButton_ = KeyButton(noMemeryView_, QStringLiteral("noMemeryCancelButton"),
                                      QStringLiteral("PLX_FOUR_RECOVERY_NO_SPACE_YES_BUTTON"));
    placeIn(noMemeryCancelButton_, 346, 14, 90, 30);
    connect(noMemeryContinueButton_, &QPushButton::clicked, this,
            [this] { continueButtonAction(); });
    connect(noMemeryCancelButton_, &QPushButton::clicked, this, [this] { cancelButtonAction(); });

    show(Panel::Progress);
    // Every close request (the title bar's button too) comes here first.
    aWindow_->installEventFilter(this);
}

VKShowScanProgressWindowController::~VKShowScanProgressWindowController() {
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

VKShowScanProgressWindowController::Panel VKShowScanProgressWindowController::visiblePanel() const {
    if (warningView_->isVisibleTo(aWindow_))
        return Panel::StopConfirmation;
    if (noMemeryView_->isVisibleTo(aWindow_))
        return Panel::NoSpace;
    return Panel::Progress;
}

void VKShowScanProgressWindowController::show(Panel panel) {
    recoveryProgressView_->setVisible(panel == Panel::Progress);
    warningView_->setVisible(panel == Panel::StopConfirmation);
    noMemeryView_->setVisible(panel == Panel::NoSpace);
}

void VKShowScanProgressWindowController::tell(int code) {
    if (delegate_)
        delegate_->stopButtonAction(code);
}

void VKShowScanProgressWindowController::changeProgressValue(double percent,
                                                             const QString* fileName) {
    progressBar_->setValue(static_cast<int>(std::clamp(percent, 0.0, 100.0)));
    if (fileName) {
        scaningFileName_->setText(*fileName);
        scaningFileName_->update();
    }
}

void VKShowScanProgressWindowController::setDetailText(const QString& text) {
    detailLabel_->setText(text);
}

void VKShowScanProgressWindowController::setNoMemeryViewHidden() {
    show(Panel::NoSpace);
}

void VKShowScanProgressWindowController::stopProgressButtonAction() {
    show(Panel::StopConfirmation);
    tell(1);
}

void VKShowScanProgressWindowController::noButtonAction() {
    show(Panel::Progress);
    tell(1);
}

// The run ends before the delegate hears of it, so the delegate may take the
// window away and open another modal window at once.
void VKShowScanProgressWindowController::yesButtonAction() {
    ui::Modal().StopModal(aWindow_, 0);
    tell(2);
}

void VKShowScanProgressWindowController::continueButtonAction() {
    show(Panel::Progress);
    tell(1);
}

void VKShowScanProgressWindowController::cancelButtonAction() {
    ui::Modal().StopModal(aWindow_, 0);
    tell(2);
}

void VKShowScanProgressWindowController::fadeIn() {
    ui::FadeIn(aWindow_, 300);
}

bool VKShowScanProgressWindowController::eventFilter(QObject* watched, QEvent* event) {
    // Closing the window must not leave the recovery running with nothing
    // left to pause or stop it: a close asks to stop, as the stop button
    // does. From the no-space panel the bridge has paused the recovery
    // already, so only the question is shown.
    // The event's type first: the guarded pointer would cast a window that
    // is being destroyed to the window class it no longer is.
    if (event->type() == QEvent::Close && watched == aWindow_) {
        event->ignore();
        switch (visiblePanel()) {
            case Panel::Progress:
                stopProgressButtonAction();
                break;
            case Panel::NoSpace:
                show(Panel::StopConfirmation);
                break;
            case Panel::StopConfirmation:
                break;
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::windows
