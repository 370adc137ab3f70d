#include "Browser/Autoresizing.h"

#include <QEvent>
#include <algorithm>

namespace velmora::browser {

Autoresizing::~Autoresizing() {
    detach();
}

void Autoresizing::track(QWidget* control, int mask) {
    QWidget* parent = control->parentWidget();
    if (parent == nullptr)
        return;
    const int rightMargin = parent->width() - control->geometry().right() - 1;
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& entry) { return entry.control == control; });
    if (found != entries_.end())
        *found = {control, mask, rightMargin};
    else
        entries_.push_back({control, mask, rightMargin});
    if (std::find(parents_.begin(), parents_.end(), parent) == parents_.end()) {
        parents_.emplace_back(parent);
        parent->installEventFilter(this);
    }
}

void Autoresizing::detach() {
    for (const QPointer<QWidget>& parent : parents_) {
        if (parent)
            parent->removeEventFilter(this);
    }
    parents_.clear();
}

void Autoresizing::apply(const Entry& entry) const {
    QWidget* control = entry.control;
    const int parentWidth = control->parentWidget()->width();
    QRect frame = control->geometry();
    if (entry.mask & kFlexibleWidth)
        frame.setWidth(std::max(0, parentWidth - entry.rightMargin - frame.x()));
    else if (entry.mask & kFlexibleLeftMargin)
        frame.moveLeft(parentWidth - entry.rightMargin - frame.width());
    control->setGeometry(frame);
}

bool Autoresizing::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: a parent being torn down is no widget anymore.
    if (event->type() == QEvent::Resize) {
        for (const Entry& entry : entries_) {
            if (entry.control && entry.control->parentWidget() == watched)
                apply(entry);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velmora::browser
