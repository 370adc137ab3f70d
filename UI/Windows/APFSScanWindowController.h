// The notice shown instead of a scan when the chosen row cannot be opened
// (an APFS volume the engine cannot scan): the user reads it, may open the
// help page, and closes it. The owner runs it modally; nothing is returned.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QLabel;
class QPushButton;
#include "TopView/TCImageWindow.h"
class VKHandButton;

namespace velmora::platform {
class Workspace;
}

namespace velmora::windows {

class APFSScanWindowController : public QObject {
    Q_OBJECT
public:
    // `workspace` opens the help link (the desktop's when null).
    explicit APFSScanWindowController(platform::Workspace* workspace = nullptr,
                                      QObject* parent = nullptr);
    ~APFSScanWindowController() override;

    // The address of a link key ("APFS_HELP_URL"); empty for none. The
    // "PrivateData" link table of English unless a caller sets another.
    void setLinkResolver(std::function<QString(const QString&)> resolver) {
        linkUrl_ = std::move(resolver);
    }

    TCImageWindow* window() const { return aWindow_; }
    QLabel* titleLabel() const { return aTitleLabel_; }
    QPushButton* okButton() const { return okButton_; }
    VKHandButton* linkButton() const { return actualizarButton_; }
    bool shuttingDown() const { return shuttingDown_; }

    // Centres the window, runs it modally and brings the program forward.
    void runModal();

    void closeWindow();
    void okButtonAction();
    void linkButtonAction();
    // Fades the window out; the modal run ends when the fade reaches 0.
    void windowShouldClose();
    // A quit request while the notice is open: the first one fades the
    // notice out and answers false; the quit goes on once it is gone.
    bool applicationShouldTerminate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void animationDidStop();
    void endAndClose();

    platform::Workspace* workspace_;
    std::function<QString(const QString&)> linkUrl_;
    QPointer<TCImageWindow> aWindow_;
    QLabel* aTitleLabel_ = nullptr;
    QLabel* textField_ = nullptr;
    QLabel* textField1_ = nullptr;
    VKHandButton* actualizarButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    bool shuttingDown_ = false;
    bool closing_ = false;
    int iClickCount_ = 0;
};

}  // namespace velmora::windows
