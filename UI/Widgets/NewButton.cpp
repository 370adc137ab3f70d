#include "NewButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"
#include "WidgetHooks.h"

using velmora::ui::ICellNode;
using velmora::ui::ImageRegistry;

namespace {

// One guard for every cell of the process.
struct ClickGuard {
    int count = 0;
    double armedAt = 0;
};
ClickGuard& Guard() {
    static ClickGuard guard;
    return guard;
}

constexpr int kCheckBoxSize = 14;

ICellNode* NodeOf(const QModelIndex& index) {
    return index.data(velmora::ui::kCellNodeRole).value<ICellNode*>();
}

}  // namespace

NewButton::NewButton(QObject* parent) : QStyledItemDelegate(parent) {}

QRect NewButton::IconRect(const QRect& cell, bool hasIcon) {
    if (!hasIcon) {
        return QRect();
    }
    const int y = cell.y() + static_cast<int>(std::ceil((cell.height() - 18) / 2.0));
    return QRect(cell.x() + 17, y, 18, 18);
}

QRect NewButton::LabelRect(const QRect& cell, bool hasLabel, bool hasIcon) {
    if (!hasLabel) {
        return QRect();
    }
    const int y = cell.y() + static_cast<int>(std::ceil((cell.height() - 22) / 2.0));
    return QRect(cell.x() + (hasIcon ? 35 : 10), y, 800, 22);
}

QRect NewButton::HitRect(const QRect& cell) {
    return QRect(cell.topLeft(), QSize(15, 30));
}

bool NewButton::ClickGuardSet() {
    ClickGuard& g = Guard();
    if (g.count > 0 && velmora::ui::WidgetClockSeconds() - g.armedAt >= kClickGuardSeconds) {
        changeVlaue();
    }
    return g.count > 0;
}

void NewButton::changeVlaue() {
    Guard().count = 0;
}

bool NewButton::hitTest(const QPoint& point, const QRect& cell, const QModelIndex& index) {
    if (!HitRect(cell).contains(point) || ClickGuardSet()) {
        return false;
    }
    emit clickButtonAction(index);
    if (clickAction_) {
        clickAction_(index);
    }
    ClickGuard& g = Guard();
    ++g.count;
    g.armedAt = velmora::ui::WidgetClockSeconds();
    return true;
}

QString NewButton::CheckImageName(int state) {
    switch (state) {
        case 1:
            return QStringLiteral("pf_checkbox_half");
        case 2:
            return QStringLiteral("pf_checkbox_yes");
        default:
            return QStringLiteral("pf_checkbox_no");
    }
}

void NewButton::paint(QPainter* painter, const QStyleOptionViewItem& option,
                      const QModelIndex& index) const {
    const ICellNode* node = NodeOf(index);
    const QRect cell = option.rect;
    const bool hasIcon = node && node->iconKind() >= 0;
    const bool hasLabel = node != nullptr;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (hasIcon) {
        const QRect icon = IconRect(cell, true);
        painter->drawPixmap(
            icon, ImageRegistry::Pixmap(QStringLiteral("%1IconImage").arg(node->iconKind()),
                                        icon.size()));
    }
    if (hasLabel) {
        const QRect label = LabelRect(cell, true, hasIcon);
        painter->setFont(velmora::ui::FontRegistry::SystemFont(13));
        painter->setPen(option.state & QStyle::State_Selected
                            ? option.palette.color(QPalette::HighlightedText)
                            : option.palette.color(QPalette::Text));
        painter->setClipRect(cell);
        painter->drawText(label, Qt::AlignLeft | Qt::AlignVCenter, node->name());
        painter->setClipping(false);
    }
    // The tick box last, at the row's left end.
    const int state = node ? node->state() : 0;
    const QRect box(cell.x(), cell.y() + (cell.height() - kCheckBoxSize) / 2, kCheckBoxSize,
                    kCheckBoxSize);
    painter->drawPixmap(box, ImageRegistry::Pixmap(CheckImageName(state), box.size()));
    painter->restore();
}

QSize NewButton::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const ICellNode* node = NodeOf(index);
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (node) {
        const QFontMetrics metrics(velmora::ui::FontRegistry::SystemFont(13));
        size.setWidth((node->iconKind() >= 0 ? 35 : 10) + metrics.horizontalAdvance(node->name()) +
                      8);
    }
    size.setHeight(qMax(size.height(), 20));
    return size;
}

bool NewButton::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                            const QModelIndex& index) {
    // A press (or the second press of a double click) is the moment of the
    // hit test; everything else goes the view's way.
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
        return false;
    }
    return hitTest(mouse->position().toPoint(), option.rect, index);
}
