// A text link button: the pointing hand while the pointer is over it.
#pragma once

#include <QPushButton>

class VKHandButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
