#include "Windows/VKDiskOutlineModel.h"

#include <QColor>

#include "Resources/ImageRegistry.h"
#include "Windows/DiskTexts.h"

namespace velmora::windows {

namespace {

DiskVolumeNodeData* Raw(const QModelIndex& index) {
    return static_cast<DiskVolumeNodeData*>(index.internalPointer());
}

}  // namespace

QString VKDiskOutlineModel::Identifier(int column) {
    static const char* const kIds[] = {"Name", "Size", "FileSystem", "isSSD", "isSelect"};
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(kIds[column]) : QString();
}

VKDiskOutlineModel::VKDiskOutlineModel(QObject* parent) : QAbstractItemModel(parent) {}

void VKDiskOutlineModel::reset(const std::vector<DiskVolumeNodePtr>* rows,
                               const DiskVolumeNodeData* desktop) {
    beginResetModel();
    rows_ = rows;
    desktop_ = desktop;
    selected_ = nullptr;
    places_.clear();
    if (rows_) {
        for (size_t i = 0; i < rows_->size(); ++i) {
            const DiskVolumeNodePtr& row = (*rows_)[i];
            places_[row.get()] = {nullptr, static_cast<int>(i)};
            for (size_t j = 0; j < row->numberOfChildren(); ++j)
                places_[row->childAtIndex(j).get()] = {row, static_cast<int>(j)};
        }
    }
    endResetModel();
}

void VKDiskOutlineModel::setHeaderTitles(const QStringList& titles) {
    headers_ = titles;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

void VKDiskOutlineModel::setSelected(const DiskVolumeNodeData* item) {
    selected_ = item;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

DiskVolumeNodePtr VKDiskOutlineModel::itemAt(const QModelIndex& index) const {
    if (!index.isValid())
        return nullptr;
    const DiskVolumeNodeData* item = Raw(index);
    const auto it = places_.find(item);
    if (it == places_.end())
        return nullptr;
    return it->second.parent ? it->second.parent->childAtIndex(it->second.row)
                             : (*rows_)[it->second.row];
}

QModelIndex VKDiskOutlineModel::indexOf(const DiskVolumeNodeData* item) const {
    const auto it = places_.find(item);
    if (it == places_.end())
        return {};
    return createIndex(it->second.row, 0, const_cast<DiskVolumeNodeData*>(item));
}

QString VKDiskOutlineModel::iconName(const DiskVolumeNodeData* item) const {
    if (item->isSystemVolume())
        return QStringLiteral("icon_disk_osx");
    if (item->isDmg())
        return QStringLiteral("icon_mirror");
    if (item->isUSB())
        return QStringLiteral("icon_usb");
    return item == desktop_ ? QStringLiteral("icon_desktop") : QStringLiteral("icon_disk");
}

QModelIndex VKDiskOutlineModel::index(int row, int column, const QModelIndex& parent) const {
    if (!rows_ || row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid()) {
        if (row >= static_cast<int>(rows_->size()))
            return {};
        return createIndex(row, column, (*rows_)[row].get());
    }
    const DiskVolumeNodePtr child = Raw(parent)->childAtIndex(row);
    return child ? createIndex(row, column, child.get()) : QModelIndex();
}

QModelIndex VKDiskOutlineModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    const auto it = places_.find(Raw(child));
    if (it == places_.end() || !it->second.parent)
        return {};
    return indexOf(it->second.parent.get());
}

int VKDiskOutlineModel::rowCount(const QModelIndex& parent) const {
    if (!rows_)
        return 0;
    if (!parent.isValid())
        return static_cast<int>(rows_->size());
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(Raw(parent)->numberOfChildren());
}

int VKDiskOutlineModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

QString VKDiskOutlineModel::text(const DiskVolumeNodeData* item, int column) const {
    const bool desktop = item == desktop_;
    switch (column) {
        case Name:
            return desktop ? QStringLiteral("Desktop") : QString::fromStdString(item->name());
        case Size:
            return desktop ? QStringLiteral(" ") : LongLongDiskSize(item->capacity());
        case FileSystem:
            return desktop ? QStringLiteral(" ")
                           : FileSystemTypeForInt(item->fileSystem(), item->isDmg() != 0);
        case IsSSD:
            if (desktop || item->numberOfChildren() == 0)
                return QStringLiteral(" ");
            return QString::fromStdString(item->name()).contains(QStringLiteral("SSD"))
                       ? QStringLiteral("SSD")
                       : QStringLiteral("HDD");
        default:
            return {};
    }
}

QVariant VKDiskOutlineModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const DiskVolumeNodeData* item = Raw(index);
    const bool selected = item == selected_;
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == IsSelect)
                return {};
            return text(item, index.column());
        case Qt::DecorationRole:
            if (index.column() == Name)
                return ui::ImageRegistry::Icon(iconName(item));
            if (index.column() == IsSelect && selected)
                return ui::ImageRegistry::Icon(QStringLiteral("select_disk"));
            return {};
        case Qt::ForegroundRole:
            return selected ? QColor(Qt::white) : QColor(Qt::black);
        default:
            return {};
    }
}

QVariant VKDiskOutlineModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section < headers_.size() ? headers_[section] : QVariant();
}

}  // namespace velmora::windows
