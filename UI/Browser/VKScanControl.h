// The scan-control half of the results browser: the progress poll and its
// texts, the end of a scan, the deep-scan offer in a pop-over, the waiting
// dots, and the pause, stop, deep-scan and back-home actions. All scan
// state lives in the bridge; this mirrors its answers in the browser's
// controls. Main thread only, driven by the browser's "NormalScranValue"
// and by timers.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

#include "Browser/BrowserTimers.h"
#include "Browser/VKBrowserControls.h"
#include "Widgets/MAAttachedWindow.h"
#include "Widgets/VKDeepScanViewController.h"

namespace velmora::browser {

class VKSaveResultController;
class VKSearchController;

class VKScanControl : public QObject, public VKDeepScanViewControllerDelegate {
    Q_OBJECT
public:
    // The offer of a deep scan is made after this many quick scans of an
    // installation, then never again.
    static constexpr int kDeepScanOffers = 2;

    // `search` and `save` may be null (no search field, no saving).
    // `timers`: the program's Qt timers when null.
    VKScanControl(IBrowserControls& view, VKSearchController* search, VKSaveResultController* save,
                  BrowserTimers* timers = nullptr, QObject* parent = nullptr);
    ~VKScanControl() override;

    void setSelectDesktop(bool desktop) { selectDesktop_ = desktop; }
    void setIsImport(bool import) { isImport_ = import; }
    // The user asked to quit during the scan: its end ends the program.
    void setIsCloseWindow(bool close) { isCloseWindow_ = close; }

    // "NormalScranValue": new scan data; polls.
    void scanDataArrived();
    void getScanProgress();
    double doShowScanProgree();

    void pauseButtonClick();
    void stopButtonClick();
    void backButtonAction();
    void deepSrcanButtonAction();
    // True when going home may go on.
    bool SaveScanResult();
    void doBackHomeAction(int ask);

    // The pop-over of the offer.
    void showPopoverWithViewController(QWidget* view);
    void popupViewHidden() override;
    // The browser window was resized: an open pop-over is attached anew at
    // the window's new size, keeping its closing time.
    void windowDidResize();

    bool isPause() const { return isPause_; }
    bool isCanClick() const { return isCanClick_; }
    bool isBackHome() const { return isBackHome_; }
    bool isSelectBackHome() const { return isSelectBackHome_; }
    bool progressTimerRunning() const { return getPorTimer_ != 0; }
    bool dotsRunning() const { return foundCountTimer_ != 0; }
    MAAttachedWindow* attachedWindow() const { return attachedWindow_; }
    VKDeepScanViewController* deepScanOffer() const { return deepScanVC_; }

private:
    void endOfScan(bool* endedProgram);
    void showScanProgree();
    bool timeGateAllows();
    QString foundText(double percent, int64_t count) const;
    void beginShowFoundCountPoint();
    void showFoundCountPoint();
    void stopShowFoundCountPoint();
    void writeFoundWithSuffix(const QString& suffix);
    void stopAction();
    void doEndScan();
    void doDeepScanAction();
    void resetScanTexts();
    void later(int ms, std::function<void()> fn);
    void attachPopover(QWidget* view);
    void detachPopover();
    bool clearSearch();
    void setEnabled(std::initializer_list<BrowserControl> controls, bool enabled);
    void setVisible(std::initializer_list<BrowserControl> controls, bool visible);

    IBrowserControls& view_;
    VKSearchController* search_;
    VKSaveResultController* save_;
    std::unique_ptr<BrowserTimers> ownTimers_;
    BrowserTimers& timers_;

    bool isDeepScan_ = false;
    bool isPause_ = false;
    bool isCanClick_ = false;
    bool isCloseWindow_ = false;
    bool isSelectBackHome_ = false;
    bool isBackHome_ = false;
    bool isImport_ = false;
    bool selectDesktop_ = false;
    int getPorTimer_ = 0;
    int foundCountTimer_ = 0;
    int endTimer_ = 0;
    int popupTimer_ = 0;
    QDateTime oldData_;
    qint64 lastUpdateTime_ = 0;
    QPointer<VKDeepScanViewController> deepScanVC_;
    QPointer<MAAttachedWindow> attachedWindow_;
    QPointer<QWidget> popView_;
    std::set<int> pending_;
    bool isClodePopView_ = true;
};

}  // namespace velmora::browser
