#include "Browser/BrowserSplitView.h"

#include <QChildEvent>
#include <algorithm>

namespace velmora::browser {

BrowserSplitView::BrowserSplitView(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    setChildrenCollapsible(false);
}

int BrowserSplitView::ConstrainCoordinate(int proposed, int dividerIndex) {
    if (dividerIndex == 0)
        return std::clamp(proposed, kLeftMin, kLeftMax);
    return std::clamp(proposed, kOtherMin, kOtherMax);
}

int BrowserSplitView::dividerPosition(int dividerIndex) const {
    const QList<int> s = sizes();
    int position = 0;
    for (int i = 0; i <= dividerIndex && i < s.size(); ++i)
        position += s[i] + (i > 0 ? handleWidth() : 0);
    return position;
}

void BrowserSplitView::moveDivider(int position, int dividerIndex) {
    // QSplitter counts its handles from 1 (handle 0 is never shown).
    moveSplitter(ConstrainCoordinate(position, dividerIndex), dividerIndex + 1);
}

void BrowserSplitView::childEvent(QChildEvent* event) {
    QSplitter::childEvent(event);
    if (event->type() == QEvent::ChildPolished || event->type() == QEvent::ChildAdded)
        applyLimits();
}

// A drag of the handle goes no further than its neighbours' limits allow:
// the first pane's width is the first divider's place.
void BrowserSplitView::applyLimits() {
    if (count() == 0)
        return;
    QWidget* left = widget(0);
    left->setMinimumWidth(kLeftMin);
    left->setMaximumWidth(kLeftMax);
    for (int i = 0; i < count(); ++i)
        setCollapsible(i, false);
}

}  // namespace velmora::browser
