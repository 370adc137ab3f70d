// What the two windows that close a recovery share: a heading, a message,
// the destination folder as a link that opens it in the user's file
// manager (as the invoking user, never as root), and an OK button. The
// owner runs the window modally; OK ends the run at once, the title bar's
// close button fades the window out first.
#pragma once

#include <QObject>
#include <QPointer>

#include "TopView/TCImageWindow.h"

class QLabel;
class QPushButton;

namespace velmora::platform {
class Workspace;
}

namespace velmora::windows {

class RecoveryEndWindow : public QObject {
    Q_OBJECT
public:
    ~RecoveryEndWindow() override;

    TCImageWindow* window() const { return aWindow_; }
    QLabel* titleLabel() const { return recoveryEndTitle_; }
    QLabel* noteLabel() const { return recoveryEndNode_; }
    QLabel* savePathLabel() const { return savePathLabel_; }
    QPushButton* okButton() const { return okButton_; }

    // Centres the window, fades it in and runs it modally.
    void runModal();
    // Opens the folder of the link; an empty folder opens nothing.
    void jumpToSavePath();
    void okButtonAction();

protected:
    // `workspace` null: the desktop's.
    RecoveryEndWindow(const QString& objectName, platform::Workspace* workspace, QObject* parent);
    void setSavePath(const QString& path);
    // Makes the window taller when the message needs more lines than its
    // place holds (a longer message, a longer translation): the message
    // grows, the link and the button move down with the window's bottom.
    void fitNote();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void endAndClose();

    platform::Workspace* workspace_;
    QString savePath_;
    QPointer<TCImageWindow> aWindow_;
    QLabel* recoveryEndTitle_ = nullptr;
    QLabel* recoveryEndNode_ = nullptr;
    QLabel* savePathLabel_ = nullptr;
    QPushButton* okButton_ = nullptr;
    bool closing_ = false;
};

}  // namespace velmora::windows
