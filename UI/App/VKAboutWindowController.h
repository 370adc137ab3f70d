// The About window: a small title-bar window with the product's title, its
// version and the link to the About page, run modally from the main window,
// the results browser and the menu.
#pragma once

#include <QObject>
#include <QPointer>

class QLabel;
class QPushButton;
#include "TopView/TCImageWindow.h"

namespace velmora::platform {
class Workspace;
}

class VKAboutWindowController : public QObject {
    Q_OBJECT

public:
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 200;

    // `workspace` opens the link (as the invoking user); null: no link.
    explicit VKAboutWindowController(velmora::platform::Workspace* workspace,
                                     QObject* parent = nullptr);
    ~VKAboutWindowController() override;

    TCImageWindow* window() const { return aWindow_; }
    QLabel* titleLabel() const { return titleLabel_; }
    QPushButton* aboutLink() const { return aboutlink_; }

    // Centres the window and runs it until it is closed.
    void runModal();
    void closeWindow();
    void linkButtonAction();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    velmora::platform::Workspace* workspace_;
    QPointer<TCImageWindow> aWindow_;
    QLabel* titleLabel_ = nullptr;
    QPushButton* aboutlink_ = nullptr;
    bool running_ = false;
};
