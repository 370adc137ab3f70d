#include "CNGridView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "CNGridViewNotifications.h"

namespace {

constexpr qint64 kCell = CNGridView::kCellSize;
constexpr int kFadeInMs = 350;
constexpr int kMoveMs = 150;
constexpr int kRedisplayAfterFrameMs = 300;

double& AnimationScale() {
    static double scale = 1.0;
    return scale;
}

CNGridView::MenuPopper& Popper() {
    static CNGridView::MenuPopper popper;
    return popper;
}

int Scaled(int ms) {
    return int(std::lround(ms * AnimationScale()));
}

}  // namespace

CNSelectionFrameView::CNSelectionFrameView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CNSelectionFrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF frame(0.5, 0.5, std::floor(width()) - 1.0, std::floor(height()) - 1.0);
    painter.fillRect(frame, QColor::fromRgbF(0, 0, 0, 0.15f));
    painter.setPen(QPen(Qt::white, 1.0));
    painter.drawRect(frame);
}

CNGridView::CNGridView(QWidget* parent) : QWidget(parent) {
    qRegisterMetaType<CNIndexSet>();
    // Hover follows the pointer without a button held.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // The right button selects and opens the grid's own menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setBackgroundColor(QColor());
    attachToScrollArea();
}

CNGridView::~CNGridView() = default;

void CNGridView::SetAnimationScale(double scale) {
    AnimationScale() = scale;
}

CNGridView::MenuPopper CNGridView::SetContextMenuPopper(MenuPopper popper) {
    return std::exchange(Popper(), std::move(popper));
}

QScrollArea* CNGridView::enclosingScrollArea() const {
    QWidget* viewport = parentWidget();
    if (viewport == nullptr) {
        return nullptr;
    }
    auto* area = qobject_cast<QScrollArea*>(viewport->parentWidget());
    return area != nullptr && area->viewport() == viewport ? area : nullptr;
}

bool CNGridView::event(QEvent* event) {
    // A grid made before it was put in its scroll area learns of scrolling
    // when it arrives there.
    if (event->type() == QEvent::ParentChange) {
        attachToScrollArea();
    }
    return QWidget::event(event);
}

void CNGridView::attachToScrollArea() {
    QScrollArea* area = enclosingScrollArea();
    if (area == scrollArea_) {
        return;
    }
    if (scrollArea_ != nullptr) {
        scrollArea_->viewport()->removeEventFilter(this);
        scrollArea_->verticalScrollBar()->disconnect(this);
        scrollArea_->horizontalScrollBar()->disconnect(this);
    }
    scrollArea_ = area;
    if (area == nullptr) {
        return;
    }
    area->setWidgetResizable(false);
    area->viewport()->installEventFilter(this);
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &CNGridView::updateVisibleRect);
    connect(area->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            &CNGridView::updateVisibleRect);
    setBackgroundColor(QColor());
    setFrame(QRect(0, 0, area->viewport()->width(), height()));
}

bool CNGridView::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: while the scroll area is torn down the guarded
    // pointer would cast it to the class it no longer is.
    if (event->type() == QEvent::Resize && scrollArea_ != nullptr &&
        watched == scrollArea_->viewport()) {
        // The grid is as wide as the clip; its height follows its rows.
        const int clipWidth = scrollArea_->viewport()->width();
        if (clipWidth != width()) {
            setFrame(QRect(0, 0, clipWidth, height()));
        } else {
            updateVisibleRect();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CNGridView::setBackgroundColor(const QColor&) {
    // Whatever colour is asked for, the grid shows the control colour.
    const QColor control = QApplication::palette().color(QPalette::Window);
    QPalette p = palette();
    p.setColor(QPalette::Window, control);
    setPalette(p);
    setAutoFillBackground(true);
    if (scrollArea_ != nullptr) {
        QPalette vp = scrollArea_->viewport()->palette();
        vp.setColor(QPalette::Window, control);
        scrollArea_->viewport()->setPalette(vp);
        scrollArea_->viewport()->setAutoFillBackground(true);
    }
}

void CNGridView::setScrollElasticity(bool) {
    // Scroll bars here have no rubber-band overscroll to switch.
}

void CNGridView::setItemSize(const QSize&) {
    refreshGridViewAnimated(true, true);
}

// ---- data source ----

qint64 CNGridView::numberOfItemsInSection(qint64 section) {
    return dataSource_ != nullptr ? dataSource_->numberOfItemsInSection(this, section) : CNNotFound;
}

CNGridViewItemBase* CNGridView::itemAtIndex(qint64 index, qint64 section) {
    return dataSource_ != nullptr ? dataSource_->itemAtIndex(this, index, section) : nullptr;
}

qint64 CNGridView::numberOfSectionsInGridView() {
    return dataSource_ != nullptr ? dataSource_->numberOfSectionsInGridView(this) : CNNotFound;
}

QString CNGridView::titleForHeaderInSection(qint64 section) {
    return dataSource_ != nullptr ? dataSource_->titleForHeaderInSection(this, section) : QString();
}

QStringList CNGridView::sectionIndexTitlesForGridView() {
    return dataSource_ != nullptr ? dataSource_->sectionIndexTitlesForGridView(this)
                                  : QStringList();
}

// ---- loading and reuse ----

void CNGridView::reloadDataAnimated(bool animated) {
    const qint64 count = numberOfItemsInSection(0);
    numberOfItems_ = count == CNNotFound || count < 0 ? 0 : count;
    // The views go back to the reuse queue rather than away: a loading
    // thread may still hold one to hand it a late thumbnail.
    auto visible = std::exchange(keyedVisibleItems_, {});
    for (auto& [index, item] : visible) {
        item->hide();
        if (!selectedItems_.contains(index) || selectedItems_.at(index) != item) {
            enqueueForReuse(item);
        }
    }
    refreshGridViewAnimated(animated, true);
}

void CNGridView::enqueueForReuse(CNGridViewItemBase* item) {
    item->hide();
    item->prepareForReuse();
    auto& queue = reuseableItems_[item->reuseIdentifier()];
    if (!queue.contains(item)) {
        queue.append(item);
    }
}

CNGridViewItemBase* CNGridView::dequeueReusableItemWithIdentifier(const QString& identifier) {
    auto it = reuseableItems_.find(identifier);
    if (it == reuseableItems_.end() || it->isEmpty()) {
        return nullptr;
    }
    CNGridViewItemBase* item = it->takeLast();
    item->setRepresentedObject(QVariant());
    return item;
}

qsizetype CNGridView::reuseableItemCount(const QString& identifier) const {
    auto it = reuseableItems_.find(identifier);
    return it == reuseableItems_.end() ? 0 : it->size();
}

void CNGridView::releaseIfUnused(CNGridViewItemBase* item) {
    for (auto& [index, visible] : keyedVisibleItems_) {
        if (visible == item) {
            return;
        }
    }
    enqueueForReuse(item);
}

void CNGridView::refreshInset() {
    if (!useCenterAlignment_) {
        contentInset_ = 0;
        return;
    }
    const double clipWidth = clippedRect().width();
    contentInset_ = std::floor((clipWidth - double(columnsInGridView() * kCell)) / 2);
}

void CNGridView::refreshGridViewAnimated(bool animated, bool initialCall) {
    isInitialCall_ = initialCall;
    const int newHeight = int(allOverRowsInGridView() * kCell + 2 * contentInset_);
    if (std::abs(newHeight - height()) > 1) {
        resize(width(), newHeight);
    }
    refreshInset();
    QMetaObject::invokeMethod(
        this,
        [this, animated] {
            refreshInset();
            updateReuseableItems();
            updateVisibleItems();
            arrangeGridViewItemsAnimated(animated);
        },
        Qt::QueuedConnection);
}

void CNGridView::updateVisibleRect() {
    updateReuseableItems();
    updateVisibleItems();
    arrangeGridViewItemsAnimated(false);
}

void CNGridView::setFrame(const QRect& frame) {
    const bool widthChanged = frame.width() != width();
    setGeometry(frame);
    refreshGridViewAnimated(widthChanged, true);
    QTimer::singleShot(Scaled(kRedisplayAfterFrameMs), this, &CNGridView::refreshGridView);
}

void CNGridView::updateReuseableItems() {
    // Selected views stay where they are (they are not reusable); the others
    // are recycled even while a selection exists, or one selected file would
    // make a view for every cell scrolled past.
    const CNRange range = visibleItemRange();
    for (auto it = keyedVisibleItems_.begin(); it != keyedVisibleItems_.end();) {
        CNGridViewItemBase* item = it->second;
        const qint64 index = item->index();
        const bool inRange = index >= range.location && index < range.location + range.length;
        if (!inRange && item->isReuseable()) {
            it = keyedVisibleItems_.erase(it);
            enqueueForReuse(item);
        } else {
            ++it;
        }
    }
}

void CNGridView::updateVisibleItems() {
    const CNRange range = visibleItemRange();
    for (qint64 index = range.location; index < range.location + range.length; ++index) {
        if (keyedVisibleItems_.contains(index)) {
            continue;
        }
        CNGridViewItemBase* item = itemAtIndex(index, 0);
        if (item == nullptr) {
            continue;
        }
        item->setIndex(index);
        if (isInitialCall_) {
            item->setAlphaValue(0);
            item->setGeometry(rectForItemAtIndex(index));
        }
        keyedVisibleItems_[index] = item;
        if (item->parentWidget() != this) {
            item->setParent(this);
        }
        item->show();
    }
}

void CNGridView::arrangeGridViewItemsAnimated(bool animated) {
    if (keyedVisibleItems_.empty()) {
        return;
    }
    if (isInitialCall_) {
        isInitialCall_ = false;
        const int duration = Scaled(kFadeInMs);
        for (auto& [index, item] : keyedVisibleItems_) {
            if (duration <= 0) {
                item->setAlphaValue(1);
                continue;
            }
            auto* fade = new QPropertyAnimation(item, "alphaValue", item);
            fade->setDuration(duration);
            fade->setEndValue(1.0);
            fade->start(QAbstractAnimation::DeleteWhenStopped);
        }
        return;
    }
    const int duration = animated ? Scaled(kMoveMs) : 0;
    for (auto& [index, item] : keyedVisibleItems_) {
        const QRect target = rectForItemAtIndex(index);
        if (duration <= 0) {
            if (item->geometry() != target) {
                item->setGeometry(target);
            }
            continue;
        }
        auto* move = new QPropertyAnimation(item, "geometry", item);
        move->setDuration(duration);
        move->setEndValue(target);
        move->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

// ---- changes of single items ----

void CNGridView::renumberVisibleItems(qint64 fromIndex, const std::function<qint64(qint64)>& shift,
                                      bool animated) {
    std::vector<CNGridViewItemBase*> moved;
    for (auto it = keyedVisibleItems_.rbegin(); it != keyedVisibleItems_.rend(); ++it) {
        if (it->first >= fromIndex) {
            moved.push_back(it->second);
        }
    }
    // From the highest index down, so no view lands on one not yet moved.
    for (CNGridViewItemBase* item : moved) {
        const qint64 oldIndex = item->index();
        const qint64 newIndex = oldIndex + shift(oldIndex);
        keyedVisibleItems_.erase(oldIndex);
        keyedVisibleItems_[newIndex] = item;
        item->setIndex(newIndex);
    }
    const int duration = animated ? Scaled(kMoveMs) : 0;
    for (CNGridViewItemBase* item : moved) {
        const QRect target = rectForItemAtIndex(item->index());
        if (duration <= 0) {
            item->setGeometry(target);
            continue;
        }
        auto* move = new QPropertyAnimation(item, "geometry", item);
        move->setDuration(duration);
        move->setEndValue(target);
        move->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void CNGridView::insertItemAtIndex(qint64 index, bool animated) {
    renumberVisibleItems(
        index, [](qint64) { return 1; }, animated);
    ++numberOfItems_;
    refreshGridViewAnimated(animated, true);
}

void CNGridView::insertItemsAtIndexes(const CNIndexSet& indexes, bool animated) {
    if (indexes.empty()) {
        return;
    }
    renumberVisibleItems(
        *indexes.begin(),
        [&indexes](qint64 index) {
            return qint64(std::distance(indexes.begin(), indexes.upper_bound(index)));
        },
        animated);
    numberOfItems_ += qint64(indexes.size());
    refreshGridViewAnimated(animated, false);
}

void CNGridView::takeOutVisibleItems(const std::vector<CNGridViewItemBase*>& items, bool animated,
                                     bool recycle) {
    const int duration = animated ? Scaled(kMoveMs) : 0;
    for (CNGridViewItemBase* item : items) {
        if (duration > 0) {
            auto* fade = new QPropertyAnimation(item, "alphaValue", item);
            fade->setDuration(duration);
            fade->setEndValue(1.0);
            connect(fade, &QAbstractAnimation::finished, item, [this, item] {
                if (!keyedVisibleItems_.contains(item->index()) ||
                    keyedVisibleItems_.at(item->index()) != item) {
                    releaseIfUnused(item);
                }
            });
            fade->start(QAbstractAnimation::DeleteWhenStopped);
        } else if (recycle) {
            enqueueForReuse(item);
        } else {
            releaseIfUnused(item);
        }
    }
}

void CNGridView::reloadItemsAtIndexes(const CNIndexSet& indexes, bool animated) {
    if (indexes.empty()) {
        return;
    }
    std::vector<CNGridViewItemBase*> taken;
    for (auto it = keyedVisibleItems_.rbegin(); it != keyedVisibleItems_.rend(); ++it) {
        if (indexes.contains(it->first)) {
            taken.push_back(it->second);
        }
    }
    for (CNGridViewItemBase* item : taken) {
        keyedVisibleItems_.erase(item->index());
    }
    takeOutVisibleItems(taken, animated, false);
    refreshGridViewAnimated(animated, false);
}

void CNGridView::removeItemsAtIndexes(const CNIndexSet& indexes, bool animated) {
    if (indexes.empty()) {
        return;
    }
    std::vector<CNGridViewItemBase*> taken;
    for (auto it = keyedVisibleItems_.rbegin(); it != keyedVisibleItems_.rend(); ++it) {
        if (it->first >= *indexes.begin()) {
            taken.push_back(it->second);
        }
    }
    for (CNGridViewItemBase* item : taken) {
        keyedVisibleItems_.erase(item->index());
    }
    takeOutVisibleItems(taken, animated, true);
    numberOfItems_ = std::max<qint64>(0, numberOfItems_ - qint64(indexes.size()));
    refreshGridViewAnimated(animated, false);
}

// ---- geometry ----

QRect CNGridView::clippedRect() const {
    if (scrollArea_ == nullptr) {
        return {};
    }
    const QWidget* viewport = scrollArea_->viewport();
    return {scrollArea_->horizontalScrollBar()->value(), scrollArea_->verticalScrollBar()->value(),
            viewport->width(), viewport->height()};
}

qint64 CNGridView::columnsInGridView() const {
    const qint64 columns = std::max(0, clippedRect().width()) / kCell;
    return columns == 0 ? 1 : columns;
}

qint64 CNGridView::visibleRowsInGridView() const {
    return (std::max(0, clippedRect().height()) + kCell - 1) / kCell;
}

qint64 CNGridView::allOverRowsInGridView() const {
    const qint64 columns = columnsInGridView();
    return (numberOfItems_ + columns - 1) / columns;
}

CNRange CNGridView::visibleItemRange() const {
    const qint64 columns = columnsInGridView();
    const qint64 clipY = clippedRect().y();
    qint64 first = 0;
    if (clipY > kCell) {
        first = (clipY + kCell - 1) / kCell * columns - columns;
    }
    // The rows in sight and one spare row.
    qint64 length = std::min(numberOfItems_, columns * visibleRowsInGridView() + columns);
    if (first + length > numberOfItems_) {
        // Scrolled past the last row: nothing, never a negative length.
        length = std::max<qint64>(0, numberOfItems_ - first);
    }
    return {first, length};
}

CNIndexSet CNGridView::visibleIndexes() const {
    const CNRange range = visibleItemRange();
    CNIndexSet indexes;
    for (qint64 i = range.location; i < range.location + range.length; ++i) {
        indexes.insert(indexes.end(), i);
    }
    return indexes;
}

CNIndexSet CNGridView::indexesForVisibleItems() const {
    CNIndexSet indexes;
    for (auto& [index, item] : keyedVisibleItems_) {
        indexes.insert(item->index());
    }
    return indexes;
}

QRect CNGridView::rectForItemAtIndex(qint64 index) const {
    const qint64 columns = columnsInGridView();
    const auto inset = qint64(contentInset_);
    return QRect(int(index % columns * kCell + inset), int(index / columns * kCell + inset), kCell,
                 kCell);
}

qint64 CNGridView::indexForItemAtLocation(const QPoint& location) const {
    const qint64 columns = columnsInGridView();
    const double x = location.x() - contentInset_;
    const double y = location.y() - contentInset_;
    if (x < 0 || y < 0) {
        return CNNotFound;
    }
    const auto column = qint64(std::floor(x / kCell));
    const auto row = qint64(std::floor(y / kCell));
    // The right edge of the last column belongs to no cell: it must not
    // give the first item of the next row.
    if (column >= columns) {
        return CNNotFound;
    }
    const qint64 index = column + row * columns;
    return index < numberOfItems_ ? index : CNNotFound;
}

CNItemPoint CNGridView::locationForItemAtIndex(qint64 index) const {
    const qint64 columns = columnsInGridView();
    const qint64 row = index / columns;
    return CNMakeItemPoint(quint64(index - columns * row + 1), quint64(row + 1));
}

CNGridViewItemBase* CNGridView::visibleItemAtIndex(qint64 index) const {
    auto it = keyedVisibleItems_.find(index);
    return it == keyedVisibleItems_.end() ? nullptr : it->second;
}

// ---- notifications, posted before the delegate hears ----

void CNGridView::post(const char* name, const QVariantMap& userInfo) {
    CNGridViewNotificationCenter::defaultCenter()->post(QLatin1String(name), this, userInfo);
}

QVariantMap CNGridView::IndexInfo(qint64 index) {
    return {{QLatin1String(CNGridViewItemIndexKey), QVariant::fromValue(index)}};
}

// The notification goes out before the delegate hears, as observers of the
// grid expect to see the change first.
void CNGridView::postItemEvent(const char* name, qint64 index, DelegateItemCall call) {
    post(name, IndexInfo(index));
    if (delegate_ != nullptr) {
        (delegate_->*call)(this, index, 0);
    }
}

void CNGridView::postWillHover(qint64 index) {
    postItemEvent(CNGridViewWillHoverItemNotification, index,
                  &CNGridViewDelegate::willHoverItemAtIndex);
}

void CNGridView::postWillUnhover(qint64 index) {
    postItemEvent(CNGridViewWillUnhoverItemNotification, index,
                  &CNGridViewDelegate::willUnhoverItemAtIndex);
}

void CNGridView::postWillSelect(qint64 index) {
    postItemEvent(CNGridViewWillSelectItemNotification, index,
                  &CNGridViewDelegate::willSelectItemAtIndex);
}

void CNGridView::postDidSelect(qint64 index) {
    postItemEvent(CNGridViewDidSelectItemNotification, index,
                  &CNGridViewDelegate::didSelectItemAtIndex);
}

void CNGridView::postWillDeselect(qint64 index) {
    postItemEvent(CNGridViewWillDeselectItemNotification, index,
                  &CNGridViewDelegate::willDeselectItemAtIndex);
}

void CNGridView::postDidDeselect(qint64 index) {
    postItemEvent(CNGridViewDidDeselectItemNotification, index,
                  &CNGridViewDelegate::didDeselectItemAtIndex);
}

// ---- hover and selection ----

void CNGridView::hoverItemAtIndex(qint64 index) {
    postWillHover(index);
    lastHoveredIndex_ = index;
    if (CNGridViewItemBase* item = visibleItemAtIndex(index)) {
        item->setHovered(true);
    }
}

void CNGridView::unHoverItemAtIndex(qint64 index) {
    postWillUnhover(index);
    if (CNGridViewItemBase* item = visibleItemAtIndex(index)) {
        item->setHovered(false);
    }
}

void CNGridView::selectItem(CNGridViewItemBase* item) {
    if (item == nullptr || selectedItems_.contains(item->index())) {
        return;
    }
    const qint64 index = item->index();
    postWillSelect(index);
    item->setSelected(true);
    selectedItems_[index] = item;
    postDidSelect(index);
}

void CNGridView::deSelectItem(CNGridViewItemBase* item) {
    if (item == nullptr || !selectedItems_.contains(item->index())) {
        return;
    }
    const qint64 index = item->index();
    postWillDeselect(index);
    item->setSelected(false);
    CNGridViewItemBase* held = selectedItems_.at(index);
    selectedItems_.erase(index);
    postDidDeselect(index);
    // A selected view kept through a reload goes back to the reuse queue.
    releaseIfUnused(held);
}

void CNGridView::deselectAllItems() {
    if (selectedItems_.empty()) {
        return;
    }
    const QList<CNGridViewItemBase*> items = selectedItems();
    post(CNGridViewWillDeselectAllItemsNotification,
         {{QLatin1String(CNGridViewSelectedItemsKey), QVariant::fromValue(items)}});
    if (delegate_ != nullptr) {
        delegate_->willDeselectAllItems(this, items);
    }
    // Every item of every grid hears this and clears its selection.
    post(CNGridViewDeSelectAllItemsNotification);
    auto held = std::exchange(selectedItems_, {});
    for (auto& [index, item] : held) {
        releaseIfUnused(item);
    }
    post(CNGridViewDidDeselectAllItemsNotification);
    if (delegate_ != nullptr) {
        delegate_->didDeselectAllItems(this);
    }
}

void CNGridView::selectAllItems() {
    const qint64 count = numberOfItemsInSection(0);
    for (qint64 index = 0; count != CNNotFound && index < count; ++index) {
        CNGridViewItemBase* item = itemAtIndex(index, 0);
        if (item == nullptr) {
            continue;
        }
        if (item->parentWidget() != this) {
            item->hide();
            item->setParent(this);
        }
        item->setSelected(true);
        item->setIndex(index);
        selectedItems_[index] = item;
    }
}

QList<CNGridViewItemBase*> CNGridView::selectedItems() const {
    QList<CNGridViewItemBase*> items;
    for (auto& [index, item] : selectedItems_) {
        items.append(item);
    }
    return items;
}

CNIndexSet CNGridView::selectedIndexes() const {
    CNIndexSet indexes;
    for (auto& [index, item] : selectedItems_) {
        indexes.insert(item->index());
    }
    return indexes;
}

void CNGridView::setAllowsMultipleSelection(bool allows) {
    allowsMultipleSelection_ = allows;
    if (!allows && !selectedItems_.empty()) {
        post(CNGridViewDeSelectAllItemsNotification);
        auto held = std::exchange(selectedItems_, {});
        for (auto& [index, item] : held) {
            releaseIfUnused(item);
        }
    }
}

void CNGridView::selectItemAtIndex(qint64 index, Qt::KeyboardModifiers modifiers) {
    if (index == CNNotFound) {
        return;
    }
    if (lastSelectedItemIndex_ != CNNotFound && lastSelectedItemIndex_ != index) {
        deSelectItem(visibleItemAtIndex(lastSelectedItemIndex_));
    }
    CNGridViewItemBase* item = visibleItemAtIndex(index);
    if (item == nullptr) {
        return;
    }
    const bool command = modifiers.testFlag(Qt::ControlModifier);
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool selected = item->selected();
    if (!allowsMultipleSelection_) {
        if (command && selected) {
            deSelectItem(item);
        } else {
            selectItem(item);
        }
    } else if (!selected && !shift && !command) {
        deselectAllItems();
        selectItem(item);
    } else if (selected && command) {
        deSelectItem(item);
    } else if (!selected && command) {
        selectItem(item);
    } else if (shift) {
        if (selectedItems_.empty()) {
            selectItem(item);
        } else {
            const qint64 last = selectedItems_.rbegin()->first;
            for (qint64 i = std::min(last, index); i <= std::max(last, index); ++i) {
                CNGridViewItemBase* between = visibleItemAtIndex(i);
                if (between != nullptr && !between->selected()) {
                    selectItem(between);
                }
            }
        }
    } else {
        deselectAllItems();
        selectItem(item);
    }
    lastSelectedItemIndex_ = allowsMultipleSelection_ ? CNNotFound : index;
}

void CNGridView::rightMouseDown(const QPoint& location, const QPoint& globalPos) {
    const qint64 index = indexForItemAtLocation(location);
    if (index == CNNotFound) {
        deselectAllItems();
        return;
    }
    CNIndexSet indexes = selectedIndexes();
    if (!indexes.contains(index)) {
        indexes = {index};
        deselectAllItems();
        selectItem(visibleItemAtIndex(index));
    }
    if (itemContextMenu_ == nullptr) {
        return;
    }
    for (QAction* action : itemContextMenu_->actions()) {
        action->setData(QVariant::fromValue(indexes));
    }
    if (Popper()) {
        Popper()(itemContextMenu_, globalPos);
    } else {
        itemContextMenu_->exec(globalPos);
    }
    post(CNGridViewRightMouseButtonClickedOnItemNotification,
         {{QLatin1String(CNGridViewItemsIndexSetKey), QVariant::fromValue(indexes)}});
    if (delegate_ != nullptr) {
        delegate_->didActivateContextMenuWithIndexes(this, indexes, 0);
    }
}

void CNGridView::mouseDragged(QMouseEvent* event) {
    if (!allowsMultipleSelection_ || !allowsMultipleSelectionWithDrag_) {
        return;
    }
    mouseHasDragged_ = true;
    if (abortSelection_) {
        return;
    }
    drawSelectionFrameForMousePointerAtLocation(event->position().toPoint());
    selectItemsCoveredBySelectionFrame(selectionFrameView_->geometry(), event->modifiers());
}

void CNGridView::drawSelectionFrameForMousePointerAtLocation(const QPoint& p) {
    if (selectionFrameView_ == nullptr) {
        selectionFrameInitialPoint_ = p;
        selectionFrameView_ = new CNSelectionFrameView(this);
        selectionFrameView_->setGeometry(p.x(), p.y(), 0, 0);
        selectionFrameView_->show();
        return;
    }
    const QPoint s = selectionFrameInitialPoint_;
    const QRect clip = clippedRect();
    const qint64 right = columnsInGridView() * kCell;
    const int x = std::max(std::min(p.x(), s.x()), clip.x());
    const int y = std::max(std::min(p.y(), s.y()), clip.y());
    qint64 width = p.x() > s.x() ? p.x() - s.x() : s.x() - x;
    if (x + width >= right) {
        width = right - x - 1;
    }
    qint64 height = p.y() > s.y() ? p.y() - s.y() : s.y() - y;
    if (y + height > clip.y() + clip.height()) {
        height = clip.y() + clip.height() - y;
    }
    selectionFrameView_->setGeometry(x, y, int(std::max<qint64>(0, width)),
                                     int(std::max<qint64>(0, height)));
    selectionFrameView_->raise();
}

qint64 CNGridView::boundIndexForItemAtLocation(const QPoint& location) const {
    const qint64 columns = columnsInGridView();
    const qint64 x = std::min<qint64>(std::max(0, location.x()), columns * kCell);
    const qint64 y = std::max(0, location.y());
    return x / kCell + y / kCell * columns;
}

CNIndexSet CNGridView::indexesMarkedBySelectionFrame() const {
    CNIndexSet indexes;
    for (auto& [index, item] : selectedItemsBySelectionFrame_) {
        indexes.insert(index);
    }
    return indexes;
}

void CNGridView::selectItemsCoveredBySelectionFrame(const QRect& frame,
                                                    Qt::KeyboardModifiers modifiers) {
    CNItemPoint topLeft = locationForItemAtIndex(boundIndexForItemAtLocation(frame.topLeft()));
    CNItemPoint bottomRight = locationForItemAtIndex(
        boundIndexForItemAtLocation(frame.topLeft() + QPoint(frame.width(), frame.height())));
    auto inside = [&](const CNItemPoint& at) {
        return at.column >= topLeft.column && at.column <= bottomRight.column &&
               at.row >= topLeft.row && at.row <= bottomRight.row;
    };
    for (auto it = selectedItemsBySelectionFrame_.begin();
         it != selectedItemsBySelectionFrame_.end();) {
        const qint64 index = it->first;
        CNGridViewItemBase* item = it->second;
        const auto held = selectedItems_.find(index);
        if (inside(locationForItemAtIndex(index))) {
            ++it;
        } else if (held != selectedItems_.end() && held->second == item) {
            item->setSelected(true);
            ++it;
        } else {
            item->setSelected(false);
            it = selectedItemsBySelectionFrame_.erase(it);
        }
    }
    const bool counts = frame.width() > 0 && frame.height() > 0;
    const auto rows = quint64(allOverRowsInGridView());
    const auto columns = quint64(columnsInGridView());
    topLeft.row = std::min(topLeft.row, rows);
    bottomRight.row = std::min(bottomRight.row, rows);
    topLeft.column = std::min(topLeft.column, columns);
    bottomRight.column = std::min(bottomRight.column, columns);
    const bool command = modifiers.testFlag(Qt::ControlModifier);
    for (quint64 row = topLeft.row; row <= bottomRight.row; ++row) {
        for (quint64 column = topLeft.column; column <= bottomRight.column; ++column) {
            const auto index = qint64((row - 1) * columns + column - 1);
            CNGridViewItemBase* item = visibleItemAtIndex(index);
            if (item == nullptr || !counts) {
                continue;
            }
            selectedItemsBySelectionFrame_[index] = item;
            const auto held = selectedItems_.find(index);
            const bool wasSelected = held != selectedItems_.end() && held->second == item;
            item->setSelected(command ? !wasSelected : true);
        }
    }
}

void CNGridView::handleClicks(const QList<qint64>& clicks) {
    switch (clicks.size()) {
        case 1:
            handleSingleClickForItemAtIndex(clicks[0]);
            break;
        case 2:
            if (clicks[0] == clicks[1]) {
                handleDoubleClickForItemAtIndex(clicks[0]);
            } else {
                handleSingleClickForItemAtIndex(clicks[0]);
                handleSingleClickForItemAtIndex(clicks[1]);
            }
            break;
        case 3:
            if (clicks[0] == clicks[1] && clicks[1] == clicks[2]) {
                handleDoubleClickForItemAtIndex(clicks[0]);
            } else if (clicks[0] == clicks[1]) {
                handleDoubleClickForItemAtIndex(clicks[0]);
                handleSingleClickForItemAtIndex(clicks[2]);
            } else if (clicks[1] == clicks[2]) {
                handleSingleClickForItemAtIndex(clicks[0]);
                handleDoubleClickForItemAtIndex(clicks[2]);
            } else {
                for (qint64 index : clicks) {
                    handleSingleClickForItemAtIndex(index);
                }
            }
            break;
        default:
            break;
    }
}

void CNGridView::handleSingleClickForItemAtIndex(qint64 index) {
    if (index == CNNotFound) {
        return;
    }
    post(CNGridViewDidClickItemNotification, IndexInfo(index));
    if (delegate_ != nullptr) {
        delegate_->didClickItemAtIndex(this, index, 0);
    }
}

void CNGridView::handleDoubleClickForItemAtIndex(qint64 index) {
    if (index == CNNotFound) {
        return;
    }
    post(CNGridViewDidDoubleClickItemNotification, IndexInfo(index));
    if (delegate_ != nullptr) {
        delegate_->didDoubleClickItemAtIndex(this, index, 0);
    }
}

// ---- events ----

void CNGridView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons().testFlag(Qt::LeftButton)) {
        mouseDragged(event);
        return;
    }
    if (!useHover_) {
        return;
    }
    const qint64 index = indexForItemAtLocation(event->position().toPoint());
    if (index == CNNotFound && lastHoveredIndex_ == CNNotFound) {
        return;
    }
    if (lastHoveredIndex_ != CNNotFound && lastHoveredIndex_ != index) {
        unHoverItemAtIndex(lastHoveredIndex_);
    }
    if (index != lastHoveredIndex_) {
        hoverItemAtIndex(index);
    }
}

void CNGridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        rightMouseDown(event->position().toPoint(), event->globalPosition().toPoint());
    }
    // A left click outside an item's check box does nothing.
    event->accept();
}

void CNGridView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void CNGridView::leaveEvent(QEvent* event) {
    lastHoveredIndex_ = CNNotFound;
    QWidget::leaveEvent(event);
}

void CNGridView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        abortSelection_ = true;
    }
    QWidget::keyPressEvent(event);
}
