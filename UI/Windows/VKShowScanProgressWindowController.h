// The small modal window shown while ticked files are recovered: a bar with
// the file being written, and in its place either a confirmation when the
// user asks to stop or a warning when the destination is full. It never
// calls the bridge: every decision goes to its delegate as 1 (pause, or
// resume when paused) or 2 (stop).
#pragma once

#include <QObject>
#include <QPointer>

#include "TopView/TCImageWindow.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmora::windows {

class VKShowScanProgressWindowControllerDelegate {
public:
    virtual ~VKShowScanProgressWindowControllerDelegate() = default;
    virtual void stopButtonAction(int code) = 0;
};

class VKShowScanProgressWindowController : public QObject {
    Q_OBJECT
public:
    enum class Panel { Progress, StopConfirmation, NoSpace };

    explicit VKShowScanProgressWindowController(QObject* parent = nullptr);
    ~VKShowScanProgressWindowController() override;

    // Not owned; null tells nobody.
    void setDelegate(VKShowScanProgressWindowControllerDelegate* delegate) { delegate_ = delegate; }
    VKShowScanProgressWindowControllerDelegate* delegate() const { return delegate_; }

    TCImageWindow* window() const { return aWindow_; }
    Panel visiblePanel() const;

    // The bar to `percent`; a null name keeps the name shown.
    void changeProgressValue(double percent, const QString* fileName);
    void setNoMemeryViewHidden();
    // The line under the file's name: how many files, and the time left.
    void setDetailText(const QString& text);

    void stopProgressButtonAction();
    void noButtonAction();
    void yesButtonAction();
    void continueButtonAction();
    void cancelButtonAction();
    // Fades the window in; the fade that ends at 0 ends the modal run.
    void fadeIn();

    QLabel* scaningFileName() const { return scaningFileName_; }
    QLabel* detailLabel() const { return detailLabel_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* yesButton() const { return yesButton_; }
    QPushButton* noButton() const { return noButton_; }
    QPushButton* continueButton() const { return noMemeryContinueButton_; }
    QPushButton* cancelButton() const { return noMemeryCancelButton_; }
    QLabel* warningNode() const { return warningNode_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show(Panel panel);
    void tell(int code);

    VKShowScanProgressWindowControllerDelegate* delegate_ = nullptr;
    QPointer<TCImageWindow> aWindow_;
    QLabel* aTitleLabel_ = nullptr;
    QWidget* recoveryProgressView_ = nullptr;
    QWidget* warningView_ = nullptr;
    QWidget* noMemeryView_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLabel* scaningFileName_ = nullptr;
    QLabel* detailLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QLabel* warningTitle_ = nullptr;
    QLabel* warningNode_ = nullptr;
    QPushButton* noButton_ = nullptr;
    QPushButton* yesButton_ = nullptr;
    QLabel* noMemeryTitle_ = nullptr;
    QLabel* noMemeryNode_ = nullptr;
    QPushButton* noMemeryContinueButton_ = nullptr;
    QPushButton* noMemeryCancelButton_ = nullptr;
};

}  // namespace velmora::windows
