#include "Windows/VKProgressWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

#include "BridgeSeam/IBridge.h"
#include "Resources/FontRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/WindowBuilder.h"

namespace velmora::windows {

namespace {

constexpr int kWidth = 420;
constexpr int kContentHeight = 120;
constexpr double kTitleBarHeight = 22;

const QString kFinishName = QStringLiteral("QueryProgressFinish");

// The code of a load that found damage in its file and left out what
// failed its checks.
constexpr int64_t kLoadDamaged = 8;

// What the user is told of a damaged result file: that it is damaged, how
// many records were left out, and whether the rest was loaded.
QString DamageText(const seam::IBridge::LoadDamage& damage) {
    QStringList parts{ui::texts::Text(QStringLiteral("LOAD_RESULT_DAMAGED"))};
    if (damage.checkFailed)
        parts << ui::texts::Text(QStringLiteral("LOAD_RESULT_CHECK_FAILED"));
    if (damage.recordsDropped > 0)
        parts << ui::texts::Format(QStringLiteral("LOAD_RESULT_RECORDS_DROPPED"),
                                   {QVariant::fromValue<qlonglong>(damage.recordsDropped)});
    if (damage.cutShort)
        parts << ui::texts::Text(QStringLiteral("LOAD_RESULT_CUT_SHORT"));
    parts << ui::texts::Text(damage.nodesKept > 0 ? QStringLiteral("LOAD_RESULT_REST_SHOWN")
                                                  : QStringLiteral("LOAD_RESULT_NOTHING_LOADED"));
    return parts.join(QLatin1Char(' '));
}

}  // namespace

// Code 6 is the load that kept what it could read of a result file (its
// node frame ended early); the whole 64-bit code is compared, so a code
// whose low half happens to be 6 is still a failure.
bool VKProgressWindow::IsSuccessCode(int64_t code) {
    return code == 0 || code == 6;
}

VKProgressWindow::VKProgressWindow(const QString& postName, bool save, QObject* parent)
    : QObject(parent), strPostName_(postName), bSave_(save) {
    aWindow_ = new TCImageWindow();
    aWindow_->setObjectName(QStringLiteral("ProgressXib"));
    aWindow_->setAttribute(Qt::WA_DeleteOnClose, false);
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    aWindow_->setTrafficLightButtonsLeftMargin(13);
    aWindow_->resize(kWidth, kContentHeight + static_cast<int>(kTitleBarHeight));
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

    title_ = new QLabel(ui::texts::Text(save ? QStringLiteral("SAVE_SCAN_RESULT")
                                             : QStringLiteral("LOAD_SCAN_RESULT")),
                        content);
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Bold"), 15));
    place(title_, 24, 82, 372, 24);
    description_ = new QLabel(ui::texts::Text(save ? QStringLiteral("SAVE_RESULT_WAIT")
                                                   : QStringLiteral("LOAD_RESULT_WAIT")),
                              content);
    description_->setObjectName(QStringLiteral("Description"));
    description_->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 13));
    place(description_, 24, 56, 372, 20);
    progress_ = new QProgressBar(content);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    place(progress_, 24, 24, 372, 16);

    // Both handlers belong to this object: they go when it goes, and
    // stopFollowing drops them as soon as the window is closed.
    auto& centre = ui::NotificationCenter::defaultCenter();
    centre.addObserver(this, strPostName_,
                       [this](const ui::Notification&) { changeProgressValue(); });
    centre.addObserver(this, kFinishName, [this](const ui::Notification&) { ProgressFinish(); });

    aWindow_->installEventFilter(this);
}

VKProgressWindow::~VKProgressWindow() {
    stopFollowing();
    if (aWindow_)
        aWindow_->removeEventFilter(this);
    delete aWindow_;
}

void VKProgressWindow::runModal() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = aWindow_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        aWindow_->move(frame.topLeft());
    }
    ui::FadeIn(aWindow_, 300, [this] { animationDidStop(); });
    ui::Modal().RunModal(aWindow_);
    if (aWindow_)
        aWindow_->activateWindow();
}

void VKProgressWindow::changeProgressValue() {
    uint64_t total = 0, current = 0;
    int64_t code = 0;
    iErrorCode_ = 0;
    seam::Bridge().GetSaveorRestoreProgress(&total, &current, &code, bSave_ ? 1 : 0);
    const double percent =
        static_cast<double>(current) * 100.0 / static_cast<double>(total == 0 ? 1 : total);
    // The bar never moves back: a late or reordered report is ignored.
    const int value = static_cast<int>(qBound(0.0, percent, 100.0));
    if (value > progress_->value())
        progress_->setValue(value);
}

void VKProgressWindow::ProgressFinish() {
    uint64_t total = 0, current = 0;
    int64_t code = 0;
    seam::Bridge().GetSaveorRestoreProgress(&total, &current, &code, bSave_ ? 1 : 0);
    iErrorCode_ = code;
    qInfo("---------------Progress finish----------------");
    bFinish_ = true;
    bSucess_ = IsSuccessCode(code);
    // A damaged file loads what passed its checks: the user is told what
    // was left out, and the browser shows the rest when there is any.
    if (!bSave_ && code == kLoadDamaged) {
        const seam::IBridge::LoadDamage damage = seam::Bridge().GetLoadDamage();
        bSucess_ = !damage.checkFailed && damage.nodesKept > 0;
        damageText_ = DamageText(damage);
    }
    if (!finishTimer_)
        finishTimer_ = ui::Repeat(this, 500, [this] { onTimer(); });
}

void VKProgressWindow::onTimer() {
    if (!bFinish_)
        return;
    qInfo("----------call onTimer begin-------------");
    stopFollowing();
    if (!bSucess_ || !damageText_.isEmpty()) {
        ui::AlertContent alert;
        alert.informative = damageText_.isEmpty()
                                ? ui::texts::Text(QStringLiteral("READ_RSF_FAILED"))
                                : damageText_;
        alert.defaultButton =
            ui::texts::Text(QStringLiteral("PLX_FOUR_RECOVERY_NO_COMPETENCE_YES_BUTTON"));
        ui::Alerts().Run(alert, aWindow_);
    }
    endAndClose();
    qInfo("----------close ProgressWindow-------------");
    if (!bSave_ && bSucess_)
        ui::NotificationCenter::defaultCenter().post(QStringLiteral("ShowDetailWindow"));
    qInfo("----------call onTimer finish-------------");
}

// A window closed before the end hears nothing more: a late progress or
// end notice would otherwise run the end (an alert, a second close) on a
// window nobody waits for.
void VKProgressWindow::stopFollowing() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
    if (finishTimer_) {
        // Possibly inside its own tick: let it go once the tick is over.
        finishTimer_->stop();
        finishTimer_->deleteLater();
        finishTimer_ = nullptr;
    }
}

void VKProgressWindow::endAndClose() {
    stopFollowing();
    if (!aWindow_)
        return;
    ui::Modal().StopModal(aWindow_, 0);
    closing_ = true;
    aWindow_->close();
    closing_ = false;
}

void VKProgressWindow::closeWindow() {
    endAndClose();
}

void VKProgressWindow::windowShouldClose() {
    ui::Fade(aWindow_, 0, 300, [this] { animationDidStop(); });
}

bool VKProgressWindow::applicationShouldTerminate() {
    if (shuttingDown_)
        return true;
    shuttingDown_ = true;
    windowShouldClose();
    return false;
}

// Only a fade that ended fully transparent closes the window.
void VKProgressWindow::animationDidStop() {
    if (!aWindow_ || aWindow_->windowOpacity() != 0.0)
        return;
    endAndClose();
    if (shuttingDown_)
        QCoreApplication::quit();
}

int RunProgressWindow(const QString& postName, bool save) {
    VKProgressWindow progress(postName, save);
    progress.runModal();
    return progress.getResult();
}

bool VKProgressWindow::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: the guarded pointer would cast a window that
    // is being destroyed.
    if (event->type() == QEvent::Close && !closing_ && watched == aWindow_) {
        stopFollowing();
        ui::Modal().StopModal(aWindow_, 0);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::windows
