#include "TopView/ApplicationMenuButton.h"

#include <QAction>
#include <QMenu>

ApplicationMenuButton::ApplicationMenuButton(const QRect& frame, QWidget* titleBar,
                                             MenuSource source)
    : TCImageButton(frame, titleBar), menu_(source ? source() : nullptr) {
    setObjectName(QStringLiteral("menuButton"));
    setImageFromFileNormalName("icon_menu", "icon_menu_hover", "icon_menu_hover", "icon_menu");
    setButtonEnabled(true);
    setToolTip(QStringLiteral("Menu"));
    setAccessibleName(toolTip());
    setVisible(menu_ != nullptr);
    if (!menu_)
        return;
    velmora::ui::AddKeyEquivalents(window(), menu_);
    connect(this, &QAbstractButton::clicked, this, &ApplicationMenuButton::popupMenu);
}

void ApplicationMenuButton::popupMenu() {
    if (!menu_)
        return;
    // Right-aligned under the button: it sits at the window's right edge.
    const QSize size = menu_->sizeHint();
    const QPoint below = mapToGlobal(QPoint(width(), height() + 2));
    menu_->popup(QPoint(below.x() - size.width(), below.y()));
}

namespace velmora::ui {

void AddKeyEquivalents(QWidget* window, QMenu* menu) {
    if (!window || !menu)
        return;
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu())
            AddKeyEquivalents(window, sub);
        else if (!action->shortcut().isEmpty() && !window->actions().contains(action))
            window->addAction(action);
    }
}

}  // namespace velmora::ui
