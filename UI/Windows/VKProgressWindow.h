// The small modal window shown while the current scan result is written to
// a result file or one is read back. Its caller starts the work and the
// bridge's progress poller, then runs the window; the window follows the
// poller's notifications, closes itself when the work has ended and tells
// the caller whether it succeeded. A successful load posts
// "ShowDetailWindow" so that the main window opens the results browser.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QLabel;
class QProgressBar;
class QTimer;
#include "TopView/TCImageWindow.h"

namespace velmora::windows {

class VKProgressWindow : public QObject {
    Q_OBJECT
public:
    // The notification the poller posts while the work reports progress
    // ("QueryProgressInfo" when saving, "NormalScranValue" when loading).
    VKProgressWindow(const QString& postName, bool save, QObject* parent = nullptr);
    ~VKProgressWindow() override;

    TCImageWindow* window() const { return aWindow_; }
    QProgressBar* progress() const { return progress_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* descriptionLabel() const { return description_; }
    const QString& strPostName() const { return strPostName_; }
    bool bSave() const { return bSave_; }

    // Centres the window and runs it modally until the work ends or the
    // user closes it.
    void runModal();
    // Non-zero when the work ended well.
    int getResult() const { return bSucess_ ? 1 : 0; }
    int64_t getErrorCode() const { return iErrorCode_; }
    // The text a damaged load's alert gives (empty when none).
    const QString& damageText() const { return damageText_; }

    void changeProgressValue();
    void ProgressFinish();
    void onTimer();
    // The close button: ends the run early; the outcome stays a failure
    // unless the end came first.
    void closeWindow();
    void windowShouldClose();
    bool applicationShouldTerminate();

    // The codes that count as a finished save or load.
    static bool IsSuccessCode(int64_t code);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void stopFollowing();
    void endAndClose();
    void animationDidStop();

    QString strPostName_;
    bool bSave_;
    QPointer<TCImageWindow> aWindow_;
    QLabel* title_ = nullptr;
    QLabel* description_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPointer<QTimer> finishTimer_;
    bool bSucess_ = false;
    bool bFinish_ = false;
    bool shuttingDown_ = false;
    bool closing_ = false;
    int64_t iErrorCode_ = 0;
    // What a damaged load left out, told when the work ends; empty otherwise.
    QString damageText_;
};

// Runs a progress window for `postName` modally and answers its result:
// what the main window is handed to follow a load ("NormalScranValue",
// save false) and the browser uses for a save.
int RunProgressWindow(const QString& postName, bool save);

}  // namespace velmora::windows
