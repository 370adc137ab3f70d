// The grid's notifications: names, user-info keys and the process-wide
// centre they travel through. Observers hear a notification before the
// grid's delegate does, on the main thread, synchronously.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

inline constexpr const char* CNGridViewSelectAllItemsNotification = "CNGridViewSelectAllItems";
inline constexpr const char* CNGridViewDeSelectAllItemsNotification = "CNGridViewDeSelectAllItems";
inline constexpr const char* CNGridViewWillHoverItemNotification = "CNGridViewWillHoverItem";
inline constexpr const char* CNGridViewWillUnhoverItemNotification = "CNGridViewWillUnhoverItem";
inline constexpr const char* CNGridViewWillSelectItemNotification = "CNGridViewWillSelectItem";
inline constexpr const char* CNGridViewDidSelectItemNotification = "CNGridViewDidSelectItem";
inline constexpr const char* CNGridViewWillDeselectItemNotification = "CNGridViewWillDeselectItem";
inline constexpr const char* CNGridViewDidDeselectItemNotification = "CNGridViewDidDeselectItem";
inline constexpr const char* CNGridViewWillDeselectAllItemsNotification =
    "CNGridViewWillDeselectAllItems";
inline constexpr const char* CNGridViewDidDeselectAllItemsNotification =
    "CNGridViewDidDeselectAllItems";
inline constexpr const char* CNGridViewDidClickItemNotification = "CNGridViewDidClickItem";
inline constexpr const char* CNGridViewDidDoubleClickItemNotification =
    "CNGridViewDidDoubleClickItem";
inline constexpr const char* CNGridViewRightMouseButtonClickedOnItemNotification =
    "CNGridViewRightMouseButtonClickedOnItem";

// The item's index (qint64).
inline constexpr const char* CNGridViewItemIndexKey = "gridViewItemIndex";
// The selected item views (QList<CNGridViewItemBase*>).
inline constexpr const char* CNGridViewSelectedItemsKey = "CNGridViewSelectedItems";
// An index set (CNIndexSet).
inline constexpr const char* CNGridViewItemsIndexSetKey = "CNGridViewItemsIndexSetKey";

// Every grid posts here with itself as the object; every item listens here
// for select-all and deselect-all from any grid.
class CNGridViewNotificationCenter : public QObject {
    Q_OBJECT

public:
    static CNGridViewNotificationCenter* defaultCenter();

    void post(const QString& name, QObject* object, const QVariantMap& userInfo = {});

signals:
    void posted(const QString& name, QObject* object, const QVariantMap& userInfo);
};
