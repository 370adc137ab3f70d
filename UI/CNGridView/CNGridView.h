// The thumbnail grid: a long list of items as fixed 150-point square cells,
// the document widget of a QScrollArea. Only the rows in sight plus one
// spare row hold item views; views that scroll away wait in a reuse queue
// keyed by reuse identifier until the data source takes them back. Hover,
// selection with Ctrl and Shift, the right-click menu and the grid's
// notifications (posted before its delegate hears of the same event) are
// here too.
#pragma once

#include <QHash>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <map>
#include <set>

#include "CNGridViewItemBase.h"
#include "CNGridViewNotifications.h"

class QScrollArea;
class CNGridView;

// The rubber band of a drag selection: black at 15 % inside a white line.
class CNSelectionFrameView : public QWidget {
    Q_OBJECT

public:
    explicit CNSelectionFrameView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

using CNIndexSet = std::set<qint64>;
Q_DECLARE_METATYPE(CNIndexSet)

// Column and row of an item, both counted from 1.
struct CNItemPoint {
    quint64 column = 0;
    quint64 row = 0;
    bool operator==(const CNItemPoint&) const = default;
};
inline CNItemPoint CNMakeItemPoint(quint64 column, quint64 row) {
    return {column, row};
}

struct CNRange {
    qint64 location = 0;
    qint64 length = 0;
    bool operator==(const CNRange&) const = default;
};

class CNGridViewDataSource {
public:
    virtual ~CNGridViewDataSource() = default;
    virtual qint64 numberOfItemsInSection(CNGridView* gridView, qint64 section) = 0;
    // Usually a view taken back with dequeueReusableItemWithIdentifier and
    // filled; nullptr leaves the cell empty. The grid takes ownership.
    virtual CNGridViewItemBase* itemAtIndex(CNGridView* gridView, qint64 index, qint64 section) = 0;
    virtual qint64 numberOfSectionsInGridView(CNGridView*) { return CNNotFound; }
    virtual QString titleForHeaderInSection(CNGridView*, qint64) { return {}; }
    virtual QStringList sectionIndexTitlesForGridView(CNGridView*) { return {}; }
};

// Every operation is optional: the defaults do nothing.
class CNGridViewDelegate {
public:
    virtual ~CNGridViewDelegate() = default;
    virtual void willHoverItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void willUnhoverItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void willSelectItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void didSelectItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void willDeselectItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void didDeselectItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void willDeselectAllItems(CNGridView*, const QList<CNGridViewItemBase*>&) {}
    virtual void didDeselectAllItems(CNGridView*) {}
    virtual void didClickItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void didDoubleClickItemAtIndex(CNGridView*, qint64, qint64) {}
    virtual void didActivateContextMenuWithIndexes(CNGridView*, const CNIndexSet&, qint64) {}
};

class CNGridView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kCellSize = 150;

    explicit CNGridView(QWidget* parent = nullptr);
    ~CNGridView() override;

    // Scales every animation's duration; 0 makes fades and moves immediate.
    static void SetAnimationScale(double scale);
    // Shows the context menu of a right click; the default runs it at the
    // pointer. Tests install one that records instead of waiting.
    using MenuPopper = std::function<void(QMenu* menu, const QPoint& globalPos)>;
    static MenuPopper SetContextMenuPopper(MenuPopper popper);

    CNGridViewDelegate* delegate() const { return delegate_; }
    void setDelegate(CNGridViewDelegate* delegate) { delegate_ = delegate; }
    CNGridViewDataSource* dataSource() const { return dataSource_; }
    void setDataSource(CNGridViewDataSource* dataSource) { dataSource_ = dataSource; }
    QString gridViewTitle() const { return gridViewTitle_; }
    void setGridViewTitle(const QString& title) { gridViewTitle_ = title; }
    // The scroll area always shows the system's control colour.
    void setBackgroundColor(const QColor& color);
    void setScrollElasticity(bool elastic);
    // The cell stays 150 points: this only refreshes the grid.
    void setItemSize(const QSize& size);
    QSize itemSize() const { return {kCellSize, kCellSize}; }
    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool allows) { allowsSelection_ = allows; }
    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
    void setAllowsMultipleSelection(bool allows);
    bool allowsMultipleSelectionWithDrag() const { return allowsMultipleSelectionWithDrag_; }
    void setAllowsMultipleSelectionWithDrag(bool allows) {
        allowsMultipleSelectionWithDrag_ = allows;
    }
    bool useSelectionRing() const { return useSelectionRing_; }
    void setUseSelectionRing(bool use) { useSelectionRing_ = use; }
    bool useHover() const { return useHover_; }
    void setUseHover(bool use) { useHover_ = use; }
    QMenu* itemContextMenu() const { return itemContextMenu_; }
    void setItemContextMenu(QMenu* menu) { itemContextMenu_ = menu; }
    QWidget* headerView() const { return headerView_; }
    void setHeaderView(QWidget* view) { headerView_ = view; }
    bool useCenterAlignment() const { return useCenterAlignment_; }
    void setUseCenterAlignment(bool use) { useCenterAlignment_ = use; }
    double contentInset() const { return contentInset_; }

    // Forwarded to the data source.
    qint64 numberOfItemsInSection(qint64 section);
    CNGridViewItemBase* itemAtIndex(qint64 index, qint64 section);
    qint64 numberOfSectionsInGridView();
    QString titleForHeaderInSection(qint64 section);
    QStringList sectionIndexTitlesForGridView();

    // Loading and reuse.
    void reloadData() { reloadDataAnimated(false); }
    void reloadDataAnimated(bool animated);
    CNGridViewItemBase* dequeueReusableItemWithIdentifier(const QString& identifier);
    void refreshGridViewAnimated(bool animated, bool initialCall);
    void refreshGridView() { update(); }
    // The bounds of the clip changed: recycle, fill, arrange.
    void updateVisibleRect();
    // The grid's frame (the scroll area keeps its width to the viewport's).
    void setFrame(const QRect& frame);

    // Changes of single items.
    void insertItemAtIndex(qint64 index, bool animated);
    void insertItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void reloadItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void removeItemsAtIndexes(const CNIndexSet& indexes, bool animated);

    // Geometry. Locations are in the grid's own coordinates.
    QRect clippedRect() const;
    qint64 columnsInGridView() const;
    qint64 visibleRowsInGridView() const;
    qint64 allOverRowsInGridView() const;
    CNRange visibleItemRange() const;
    CNIndexSet visibleIndexes() const;
    qint64 numberOfVisibleItems() const { return qint64(keyedVisibleItems_.size()); }
    CNIndexSet indexesForVisibleItems() const;
    QRect rectForItemAtIndex(qint64 index) const;
    qint64 indexForItemAtLocation(const QPoint& location) const;
    CNItemPoint locationForItemAtIndex(qint64 index) const;
    qint64 numberOfItems() const { return numberOfItems_; }
    // The placed view at index, nullptr when none.
    CNGridViewItemBase* visibleItemAtIndex(qint64 index) const;
    // Views waiting for reuse under an identifier.
    qsizetype reuseableItemCount(const QString& identifier) const;

    // Hover and selection.
    qint64 lastHoveredIndex() const { return lastHoveredIndex_; }
    void hoverItemAtIndex(qint64 index);
    void unHoverItemAtIndex(qint64 index);
    void selectItem(CNGridViewItemBase* item);
    void deSelectItem(CNGridViewItemBase* item);
    void deselectAllItems();
    void selectAllItems();
    QList<CNGridViewItemBase*> selectedItems() const;
    CNIndexSet selectedIndexes() const;
    void selectItemAtIndex(qint64 index, Qt::KeyboardModifiers modifiers);
    bool abortSelection() const { return abortSelection_; }

    // Drag selection (only with multiple selection and drag selection on):
    // items under the rubber band are marked selected without joining the
    // selection and without notifications.
    void drawSelectionFrameForMousePointerAtLocation(const QPoint& location);
    qint64 boundIndexForItemAtLocation(const QPoint& location) const;
    void selectItemsCoveredBySelectionFrame(const QRect& frame, Qt::KeyboardModifiers modifiers);
    CNSelectionFrameView* selectionFrameView() const { return selectionFrameView_; }
    CNIndexSet indexesMarkedBySelectionFrame() const;

    // Clicks sorted into single and double clicks: the item indexes of up
    // to three clicks in a row.
    void handleClicks(const QList<qint64>& clickIndexes);
    void handleSingleClickForItemAtIndex(qint64 index);
    void handleDoubleClickForItemAtIndex(qint64 index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QScrollArea* enclosingScrollArea() const;
    void attachToScrollArea();
    void refreshInset();
    void updateReuseableItems();
    void updateVisibleItems();
    void arrangeGridViewItemsAnimated(bool animated);
    void enqueueForReuse(CNGridViewItemBase* item);
    void rightMouseDown(const QPoint& location, const QPoint& globalPos);
    void mouseDragged(QMouseEvent* event);
    void renumberVisibleItems(qint64 fromIndex, const std::function<qint64(qint64)>& shift,
                              bool animated);
    void takeOutVisibleItems(const std::vector<CNGridViewItemBase*>& items, bool animated,
                             bool recycle);
    // Deletes a view that no dictionary holds any more.
    void releaseIfUnused(CNGridViewItemBase* item);
    void post(const char* name, const QVariantMap& userInfo = {});
    static QVariantMap IndexInfo(qint64 index);

    // The posting forms of the delegate's operations.
    using DelegateItemCall = void (CNGridViewDelegate::*)(CNGridView*, qint64, qint64);
    void postItemEvent(const char* name, qint64 index, DelegateItemCall call);
    void postWillHover(qint64 index);
    void postWillUnhover(qint64 index);
    void postWillSelect(qint64 index);
    void postDidSelect(qint64 index);
    void postWillDeselect(qint64 index);
    void postDidDeselect(qint64 index);

    std::map<qint64, CNGridViewItemBase*> keyedVisibleItems_;
    QHash<QString, QList<CNGridViewItemBase*>> reuseableItems_;
    std::map<qint64, CNGridViewItemBase*> selectedItems_;
    std::map<qint64, CNGridViewItemBase*> selectedItemsBySelectionFrame_;
    QPointer<CNSelectionFrameView> selectionFrameView_;
    QPoint selectionFrameInitialPoint_;
    bool mouseHasDragged_ = false;
    qint64 lastHoveredIndex_ = CNNotFound;
    qint64 lastSelectedItemIndex_ = CNNotFound;
    qint64 numberOfItems_ = 0;
    bool isInitialCall_ = true;
    bool abortSelection_ = false;
    double contentInset_ = 0;

    CNGridViewDelegate* delegate_ = nullptr;
    CNGridViewDataSource* dataSource_ = nullptr;
    QString gridViewTitle_;
    bool allowsSelection_ = false;
    bool allowsMultipleSelection_ = false;
    bool allowsMultipleSelectionWithDrag_ = false;
    bool useSelectionRing_ = true;
    bool useHover_ = true;
    QPointer<QMenu> itemContextMenu_;
    QPointer<QWidget> headerView_;
    bool useCenterAlignment_ = false;
    QPointer<QScrollArea> scrollArea_;
};
