#include "Browser/VKScanControl.h"

#include <QWidget>

#include <memory>

#include "BridgeSeam/IBridge.h"
#include "Browser/VKSaveResultController.h"
#include "Browser/VKSearchController.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Texts.h"
#include "Widgets/MAAttachedWindow.h"
#include "Windows/DiskTexts.h"

namespace velmora::browser {

namespace {

using C = BrowserControl;

const QString kScanPostName = QStringLiteral("NormalScranValue");
const QString kOfferCountKey = QStringLiteral("IsFristTime");
constexpr int kProgressMs = 1500;
constexpr int kDotsMs = 1000;
constexpr int kPopupMs = 8000;
constexpr qint64 kDotsAfterMs = 30000;
constexpr qint64 kDotsStopWithinMs = 3000;

// The dots' phase is shared by every browser of the process.
int& DotCounter() {
    static int counter = 0;
    return counter;
}

QString Found(const QString& count) {
    return ui::texts::Format(QStringLiteral("PLX_FOUR_FILESFOUND"), {count});
}

QString Remaining(const QString& time) {
    return ui::texts::Format(QStringLiteral("PLX_FOUR_REMAININGTIME"), {time});
}

}  // namespace

VKScanControl::VKScanControl(IBrowserControls& view, VKSearchController* search,
                             VKSaveResultController* save, BrowserTimers* timers, QObject* parent)
    : QObject(parent),
      view_(view),
      search_(search),
      save_(save),
      ownTimers_(timers ? nullptr : std::make_unique<QtBrowserTimers>()),
      timers_(timers ? *timers : *ownTimers_) {}

VKScanControl::~VKScanControl() {
    for (int id : {getPorTimer_, foundCountTimer_, endTimer_, popupTimer_})
        timers_.cancel(id);
    for (int id : pending_)
        timers_.cancel(id);
    delete attachedWindow_;
    delete deepScanVC_;
}

// A delayed step that must not outlive the controller.
void VKScanControl::later(int ms, std::function<void()> fn) {
    auto id = std::make_shared<int>(0);
    *id = timers_.after(ms, [this, id, fn = std::move(fn)] {
        pending_.erase(*id);
        fn();
    });
    pending_.insert(*id);
}

void VKScanControl::setEnabled(std::initializer_list<BrowserControl> controls, bool enabled) {
    for (BrowserControl c : controls)
        view_.setControlEnabled(c, enabled);
}

void VKScanControl::setVisible(std::initializer_list<BrowserControl> controls, bool visible) {
    for (BrowserControl c : controls)
        view_.setControlVisible(c, visible);
}

void VKScanControl::scanDataArrived() {
    oldData_ = ui::CurrentClock().Now();
    getScanProgress();
}

// The remaining time is rewritten at most once a second.
bool VKScanControl::timeGateAllows() {
    const qint64 now = ui::CurrentClock().Now().toSecsSinceEpoch();
    if (lastUpdateTime_ == 0 || now > lastUpdateTime_) {
        lastUpdateTime_ = now;
        return true;
    }
    return false;
}

QString VKScanControl::foundText(double percent, int64_t count) const {
    if (count != 0 || percent > 1)
        return Found(QString::number(static_cast<qlonglong>(count)));
    return QStringLiteral("Please wait...");
}

void VKScanControl::getScanProgress() {
    seam::IBridge& bridge = seam::Bridge();
    isDeepScan_ = bridge.IsDeepScan() != 0;
    if (!isDeepScan_ || isPause_) {
        view_.setControlEnabled(C::Segment, true);
    } else {
        view_.setControlEnabled(C::Segment, false);
        view_.setControlVisible(C::Adv, false);
    }
    double percent = 0;
    int64_t count = 0;
    const std::string remaining = bridge.GetScanProgress(&percent, &count);
    const bool gate = timeGateAllows();
    if (count != 0 || percent > 1) {
        view_.setControlText(C::FoundFiles, foundText(percent, count));
        if (gate)
            view_.setControlText(C::RemainTime, Remaining(QString::fromStdString(remaining)));
    } else {
        view_.setControlText(C::FoundFiles, QStringLiteral("Please wait..."));
        view_.setControlText(C::RemainTime, QStringLiteral("Prepare to scan your drive"));
    }
    const bool running = bridge.IsScanRunning() != 0;
    if (count != 0 && getPorTimer_ == 0 && running && !isPause_)
        getPorTimer_ = timers_.every(kProgressMs, [this] { showScanProgree(); });
    // The bar follows the scan from its first step, files found or not: a
    // deep scan walks most of the disk before its searchers hand over files.
    if (count != 0 || percent > 1)
        view_.setProgressValue(percent);
    if (!running) {
        bool endedProgram = false;
        endOfScan(&endedProgram);
        if (endedProgram)
            return;
    }
    const bool searching = bridge.VKGetIsSearching() != 0;
    view_.setControlEnabled(C::BackHome, isCanClick_ && !searching);
    setEnabled({C::Pause, C::Stop}, isCanClick_);
}

void VKScanControl::endOfScan(bool* endedProgram) {
    seam::IBridge& bridge = seam::Bridge();
    view_.stopImageLoading();
    if (!selectDesktop_)
        view_.rebuildTreesAfterScan();
    view_.setControlEnabled(C::Segment, true);
    setVisible({C::Continue, C::DeepScanLabel, C::Progress, C::Pause, C::Stop, C::ContinueScan,
                C::FoundFiles, C::RemainTime},
               false);
    setVisible({C::Recovery, C::SelectFiles}, true);
    view_.setControlEnabled(C::Search, true);
    isDeepScan_ = bridge.IsDeepScan() != 0;
    view_.setControlEnabled(C::Export, true);
    if (!isDeepScan_ && !isImport_) {
        view_.setControlEnabled(C::Adv, true);
        ui::PrivateSettings& settings = ui::PrivateSettings::shared();
        const int offers = settings.value(kOfferCountKey).toInt();
        if (offers < kDeepScanOffers && !deepScanVC_) {
            settings.setValue(kOfferCountKey, QString::number(offers + 1));
            deepScanVC_ = new VKDeepScanViewController();
            deepScanVC_->setDelegate(this);
            showPopoverWithViewController(deepScanVC_);
        }
    }
    isCanClick_ = true;
    if (isCloseWindow_) {
        if (QWidget* window = view_.window())
            window->hide();
        ui::NotificationCenter::defaultCenter().post(QStringLiteral("appWillTerminate"));
        *endedProgram = true;
        return;
    }
    if (isSelectBackHome_)
        doBackHomeAction(1);
    uint64_t bytes = 0;
    int64_t files = 0;
    bridge.GetScanFileSize(&bytes, &files);
    view_.setControlText(C::SelectFiles,
                         ui::texts::Format(QStringLiteral("PLX_FOUR_ALL_FILES_SIZE"),
                                           {windows::LongLongDiskSize(static_cast<int64_t>(bytes)),
                                            static_cast<qlonglong>(files)}));
    if (selectDesktop_ && search_)
        later(300, [this] { search_->doEndScanSearch(); });
}

void VKScanControl::showScanProgree() {
    if (oldData_.isValid()) {
        const qint64 since = oldData_.msecsTo(ui::CurrentClock().Now());
        if (since >= kDotsAfterMs)
            beginShowFoundCountPoint();
        else if (since < kDotsStopWithinMs)
            stopShowFoundCountPoint();
    }
    if (doShowScanProgree() >= 100) {
        timers_.cancel(getPorTimer_);
        getPorTimer_ = 0;
    }
}

double VKScanControl::doShowScanProgree() {
    seam::IBridge& bridge = seam::Bridge();
    double percent = 0;
    int64_t count = 0;
    const std::string remaining = bridge.GetScanProgress(&percent, &count);
    if (percent > 0) {
        view_.setControlEnabled(C::BackHome, isCanClick_ && bridge.VKGetIsSearching() == 0);
        view_.setControlEnabled(C::Stop, isCanClick_);
    }
    if (timeGateAllows())
        view_.setControlText(C::RemainTime, Remaining(QString::fromStdString(remaining)));
    if (percent < 1)
        percent = 1;
    view_.setProgressValue(percent);
    return percent;
}

void VKScanControl::beginShowFoundCountPoint() {
    if (foundCountTimer_ != 0)
        return;
    DotCounter() = 0;
    foundCountTimer_ = timers_.every(kDotsMs, [this] { showFoundCountPoint(); });
}

void VKScanControl::showFoundCountPoint() {
    static const char* const kSuffixes[] = {".", "..", "...", " "};
    int& counter = DotCounter();
    const QString suffix = QString::fromLatin1(kSuffixes[counter & 3]);
    counter = (counter + 1) & 3;
    writeFoundWithSuffix(suffix);
}

void VKScanControl::writeFoundWithSuffix(const QString& suffix) {
    double percent = 0;
    int64_t count = 0;
    seam::Bridge().GetScanProgress(&percent, &count);
    const QString text = foundText(percent, count);
    if (!text.isEmpty() && text != QStringLiteral(" "))
        view_.setControlText(C::FoundFiles, text + suffix);
}

void VKScanControl::stopShowFoundCountPoint() {
    writeFoundWithSuffix(QStringLiteral(" "));
    timers_.cancel(foundCountTimer_);
    foundCountTimer_ = 0;
}

// The point is given as the designs do, from the window's bottom-left.
void VKScanControl::attachPopover(QWidget* view) {
    QWidget* window = view_.window();
    const double height = window ? window->height() : 0;
    attachedWindow_ = MAAttachedWindow::Create(view, QPointF(80, height - 400), window,
                                               MAPositionBottomRight, 10.0);
    if (attachedWindow_) {
        attachedWindow_->show();
        attachedWindow_->raise();
        isClodePopView_ = false;
    }
}

void VKScanControl::showPopoverWithViewController(QWidget* view) {
    popView_ = view;
    if (!attachedWindow_)
        attachPopover(view);
    timers_.cancel(popupTimer_);
    popupTimer_ = timers_.after(kPopupMs, [this] {
        popupTimer_ = 0;
        popupViewHidden();
    });
}

void VKScanControl::detachPopover() {
    if (!attachedWindow_)
        return;
    // The offer's view outlives its bubble: take it back first.
    if (popView_)
        popView_->setParent(nullptr);
    attachedWindow_->hide();
    attachedWindow_->deleteLater();
    attachedWindow_ = nullptr;
}

void VKScanControl::popupViewHidden() {
    detachPopover();
    isClodePopView_ = true;
}

void VKScanControl::windowDidResize() {
    double percent = 0;
    int64_t count = 0;
    seam::Bridge().GetScanProgress(&percent, &count);
    view_.setProgressValue(percent < 1 ? 1 : percent);
    if (isClodePopView_ || !popView_)
        return;
    detachPopover();
    attachPopover(popView_);
}

bool VKScanControl::clearSearch() {
    return search_ ? search_->searchClearButtonClick() : false;
}

void VKScanControl::pauseButtonClick() {
    seam::IBridge& bridge = seam::Bridge();
    bridge.PauseOrResumeScan();
    if (!bridge.IsScanRunning()) {
        isPause_ = false;
        bridge.StopScan(1);
        isCanClick_ = false;
        getScanProgress();
        bridge.VKSetFlag(0);
        return;
    }
    bool cleared = false;
    if (!selectDesktop_) {
        cleared = clearSearch();
        view_.stopImageLoading();
    }
    isPause_ = !isPause_;
    isDeepScan_ = bridge.IsDeepScan() != 0;
    if (!isDeepScan_ || isPause_) {
        view_.setControlEnabled(C::Segment, true);
    } else {
        view_.setControlEnabled(C::Segment, false);
        view_.selectListMode();
    }
    if (isPause_) {
        isCanClick_ = true;
        view_.setControlVisible(C::Pause, false);
        view_.setControlVisible(C::ContinueScan, true);
        view_.setControlEnabled(C::Search, true);
        view_.refreshDetailPage(false);
        return;
    }
    if (!cleared)
        bridge.VKCleanOpNodeSate();
    if (!selectDesktop_)
        view_.reloadTrees();
    view_.setControlVisible(C::Pause, true);
    view_.setControlVisible(C::ContinueScan, false);
    setEnabled({C::Search, C::Recovery}, false);
    view_.setControlVisible(C::SelectFiles, false);
    setVisible({C::Progress, C::FoundFiles, C::RemainTime}, true);
    if (!selectDesktop_)
        later(500, [this] { view_.refreshDetailPage(true); });
}

void VKScanControl::stopButtonClick() {
    if (isCloseWindow_)
        return;
    seam::IBridge& bridge = seam::Bridge();
    if (!isPause_)
        bridge.PauseOrResumeScan();
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("PLX_FOUR_SCAN_STOP_"));
    QPointer<VKScanControl> self(this);
    ui::Alerts().BeginSheet(alert, view_.window(), [self](int code) {
        if (!self)
            return;
        seam::IBridge& bridge = seam::Bridge();
        // Anything but the stop button keeps the scan, as the user left it.
        if (code != 1) {
            if (!self->isPause_)
                bridge.PauseOrResumeScan();
            self->isCanClick_ = true;
            return;
        }
        bridge.VKCleanOpNodeSate();
        self->clearSearch();
        self->isPause_ = false;
        self->setEnabled({C::Search, C::Pause, C::ContinueScan, C::Stop, C::BackHome, C::Recovery},
                         false);
        self->later(500, [raw = self.data()] { raw->stopAction(); });
    });
}

// The trees are still built from what was found.
void VKScanControl::stopAction() {
    seam::Bridge().StopScan(0);
    isCanClick_ = false;
    view_.setControlEnabled(C::ContinueScan, false);
    view_.refreshDetailPage(false);
    timers_.cancel(endTimer_);
    endTimer_ = timers_.every(kProgressMs, [this] { doEndScan(); });
}

void VKScanControl::doEndScan() {
    if (seam::Bridge().IsScanRunning())
        return;
    timers_.cancel(endTimer_);
    endTimer_ = 0;
    getScanProgress();
    timers_.cancel(getPorTimer_);
    getPorTimer_ = 0;
}

void VKScanControl::backButtonAction() {
    // One question at a time: while another window waits for an answer
    // (the end of a recovery, say) this window's buttons are not there to
    // press, and a second question would stack over the first.
    if (isCloseWindow_ || ui::Modal().AnyRunning())
        return;
    seam::IBridge& bridge = seam::Bridge();
    if (!bridge.IsScanRunning()) {
        doBackHomeAction(1);
        return;
    }
    if (!isPause_)
        bridge.PauseOrResumeScan();
    ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("PLX_FOUR_SCAN_BACKHOME_"));
    QPointer<VKScanControl> self(this);
    ui::Alerts().BeginSheet(alert, view_.window(), [self](int code) {
        if (!self)
            return;
        seam::IBridge& bridge = seam::Bridge();
        if (code != 1) {
            if (!self->isPause_)
                bridge.PauseOrResumeScan();
            self->isCanClick_ = true;
            return;
        }
        bridge.VKCleanOpNodeSate();
        self->timers_.cancel(self->getPorTimer_);
        self->getPorTimer_ = 0;
        self->isPause_ = false;
        self->setEnabled({C::BackHome, C::ContinueScan, C::Stop, C::Recovery}, false);
        // What was found is dropped: the user leaves it.
        bridge.StopScan(1);
        self->isCanClick_ = false;
        self->isSelectBackHome_ = true;
        bridge.ResetShouldBuild();
        if (!bridge.IsScanRunning())
            self->doBackHomeAction(1);
    });
}

bool VKScanControl::SaveScanResult() {
    if ((save_ && (save_->bSave() || save_->isImport())) || isImport_ || isSelectBackHome_)
        return true;
    ui::AlertContent alert;
    alert.message = ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_TITLE"));
    alert.informative = ui::texts::Text(QStringLiteral("SAVE_SCAN_TIP"));
    alert.defaultButton = ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_SAVE_BUTTON"));
    alert.alternateButton = ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_STAY_BUTTON"));
    alert.otherButton = ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_LEAVE_BUTTON"));
    switch (ui::Alerts().Run(alert, view_.window())) {
        case 1:
            // Leaving after a save that did not happen (the panel
            // cancelled, a full or unwritable disk) would drop the results
            // the user just asked to keep.
            return save_ ? save_->exportButtonAction() : true;
        case 0:
            return false;
        default:
            return true;
    }
}

void VKScanControl::resetScanTexts() {
    view_.setControlText(C::RemainTime, Remaining(QStringLiteral("-:-:-")));
    view_.setControlText(C::FoundFiles, Found(QStringLiteral("0")));
    view_.setProgressValue(0);
}

void VKScanControl::doBackHomeAction(int ask) {
    if (ask == 1 && !SaveScanResult())
        return;
    if (isBackHome_)
        return;
    isBackHome_ = true;
    view_.stopImageLoading();
    qInfo("begin back home");
    if (search_)
        search_->saveSearchHistroy();
    resetScanTexts();
    popupViewHidden();
    view_.showRootWindow();
    qInfo("finish back home");
}

void VKScanControl::deepSrcanButtonAction() {
    seam::Bridge().VKCleanOpNodeSate();
    popupViewHidden();
    view_.stopImageLoading();
    resetScanTexts();
    isCanClick_ = true;
    isPause_ = false;
    isDeepScan_ = true;
    view_.resetForNewScan();
    setEnabled({C::BackHome, C::Pause, C::Stop, C::Export}, false);
    view_.setControlEnabled(C::ContinueScan, true);
    setVisible({C::SelectFiles, C::Continue, C::DeepScanLabel, C::Adv}, false);
    setVisible({C::Progress, C::Pause, C::Stop, C::FoundFiles, C::RemainTime}, true);
    later(200, [this] { doDeepScanAction(); });
}

void VKScanControl::doDeepScanAction() {
    seam::IBridge& bridge = seam::Bridge();
    view_.setControlEnabled(C::Segment, false);
    view_.selectListMode();
    if (save_)
        save_->setBSave(false);
    bridge.ResetShouldBuild();
    view_.setControlEnabled(C::Search, false);
    view_.setSearchText(QString());
    bridge.DoDeepScan(kScanPostName.toStdString());
    timers_.cancel(getPorTimer_);
    getPorTimer_ = 0;
    later(1000, [this] { view_.setStopButtonCanBeUseState(); });
}

}  // namespace velmora::browser
