// The disk page's outline as a Qt model over the page's rows: the top level
// is the page's list (the Desktop entry first), a row's children are its
// volumes. Columns by identifier: "Name", "Size", "FileSystem", "isSSD",
// "isSelect".
#pragma once

#include <QAbstractItemModel>
#include <unordered_map>
#include <vector>

#include "DiskVolumeNodeData.h"

namespace velmora::windows {

class VKDiskOutlineModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { Name, Size, FileSystem, IsSSD, IsSelect, ColumnCount };
    static QString Identifier(int column);

    explicit VKDiskOutlineModel(QObject* parent = nullptr);

    // The rows shown; `desktop` is the entry that stands for the desktop
    // volume (its texts are "Desktop" and blanks).
    void reset(const std::vector<DiskVolumeNodePtr>* rows, const DiskVolumeNodeData* desktop);
    void setHeaderTitles(const QStringList& titles);
    // The row drawn as selected (white text, the selection mark).
    void setSelected(const DiskVolumeNodeData* item);

    DiskVolumeNodePtr itemAt(const QModelIndex& index) const;
    QModelIndex indexOf(const DiskVolumeNodeData* item) const;
    // The picture name of the Name column.
    QString iconName(const DiskVolumeNodeData* item) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Place {
        DiskVolumeNodePtr parent;  // null at the top level
        int row = 0;
    };
    QString text(const DiskVolumeNodeData* item, int column) const;

    const std::vector<DiskVolumeNodePtr>* rows_ = nullptr;
    const DiskVolumeNodeData* desktop_ = nullptr;
    const DiskVolumeNodeData* selected_ = nullptr;
    std::unordered_map<const DiskVolumeNodeData*, Place> places_;
    QStringList headers_;
};

}  // namespace velmora::windows
