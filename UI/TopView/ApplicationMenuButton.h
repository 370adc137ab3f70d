// The application's menu (About, updates, participation, windows, help,
// quit) reached from a button in a window's title bar: the windows draw
// their own title bars, so there is no desktop menu bar to hold it.
#pragma once

#include <QMenu>
#include <QPointer>
#include <functional>

#include "TopView/TCImageButton.h"

class ApplicationMenuButton : public TCImageButton {
public:
    // Gives the menu, or null when the program has none (the button then
    // stays hidden).
    using MenuSource = std::function<QMenu*()>;

    ApplicationMenuButton(const QRect& frame, QWidget* titleBar, MenuSource source);

    // Opens the menu under the button, as a click does.
    void popupMenu();
    QMenu* menu() const { return menu_; }

private:
    QPointer<QMenu> menu_;
};

namespace velmora::ui {
// The key equivalents of `menu` and its submenus work while `window` is the
// active window (a popup menu that is not open hears no keys itself).
void AddKeyEquivalents(QWidget* window, QMenu* menu);
}  // namespace velmora::ui
