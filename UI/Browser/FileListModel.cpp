#include "Browser/FileListModel.h"

#include <QPixmap>

#include "OpNodeData.h"
#include "Resources/ImageRegistry.h"
#include "UIPlatform/Texts.h"
#include "Windows/DiskTexts.h"

namespace velmora::browser {

namespace {

// The node as the interface reads it; made on the stack for one call.
OpNodeData Wrap(IFileNode* node) {
    TreeNodeData data;
    data.node = node;
    return OpNodeData(data);
}

const char* const kHeaderKeys[] = {"", "PLX_FOUR_TABLEVIEW_NAME", "PLX_FOUR_TABLEVIEW_SIZE",
                                   "PLX_FOUR_TABLEVIEW_PATH", "PLX_FOUR_TABLEVIEW_CREATED"};

}  // namespace

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void FileListModel::setRows(std::vector<IFileNode*> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

IFileNode* FileListModel::nodeAt(int row) const {
    return row >= 0 && static_cast<size_t>(row) < rows_.size() ? rows_[row] : nullptr;
}

FileListSortKeys FileListModel::SortKeys(IFileNode* node, int column) {
    FileListSortKeys keys;
    if (node == nullptr)
        return keys;
    const OpNodeData op = Wrap(node);
    switch (column) {
        case kNameColumn:
            keys.name = op.name();
            break;
        case kSizeColumn:
            keys.size = op.size();
            break;
        case kPathColumn:
            keys.path = op.path();
            break;
        case kCreatedColumn:
            keys.created = node->GetCreationTime();
            break;
        default:
            break;
    }
    return keys;
}

bool FileListModel::sortByColumn(int column, bool ascending) {
    if (column <= kCheckBoxColumn || column >= kFileListColumnCount)
        return false;
    beginResetModel();
    SortRowsByColumn(rows_, column, ascending, &FileListModel::SortKeys);
    endResetModel();
    return true;
}

void FileListModel::refreshTicks() {
    if (!rows_.empty())
        emit dataChanged(index(0, kCheckBoxColumn),
                         index(static_cast<int>(rows_.size()) - 1, kCheckBoxColumn));
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kFileListColumnCount;
}

QString FileListModel::cellText(int row, int column) const {
    IFileNode* node = nodeAt(row);
    if (node == nullptr)
        return {};
    const OpNodeData op = Wrap(node);
    switch (column) {
        case kNameColumn: {
            const std::string name = op.name();
            return name.empty() ? QStringLiteral("Unknow") : QString::fromStdString(name);
        }
        case kSizeColumn:
            // A folder has no size of its own: "0 byte" would read as empty.
            if (node->IsDirectory())
                return QStringLiteral("--");
            return windows::LongLongDiskSize(static_cast<int64_t>(op.size()));
        case kPathColumn:
            return QString::fromStdString(op.path());
        case kCreatedColumn:
            return QString::fromStdString(op.createTime());
        default:
            return {};
    }
}

QString FileListModel::cellImageName(int row, int column) const {
    IFileNode* node = nodeAt(row);
    if (node == nullptr)
        return {};
    if (column == kCheckBoxColumn) {
        // Files show two pictures only: a partly ticked folder looks unticked.
        return OpNodeData::fileNodeState(node) == CHECK_CHECKED ? QStringLiteral("pf_checkbox_yes")
                                                                : QStringLiteral("pf_checkbox_no");
    }
    if (column == kNameColumn && OpNodeData::isFileNodeDeleted(node))
        return QStringLiteral("deletered");
    return {};
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || nodeAt(index.row()) == nullptr)
        return {};
    switch (role) {
        case Qt::DisplayRole: {
            const QString text = cellText(index.row(), index.column());
            return index.column() == kCheckBoxColumn ? QVariant() : QVariant(text);
        }
        case Qt::ToolTipRole:
            // Names, paths and dates are cut off at the columns' default
            // widths: the tip shows them whole.
            return index.column() == kNameColumn || index.column() == kPathColumn ||
                           index.column() == kCreatedColumn
                       ? QVariant(cellText(index.row(), index.column()))
                       : QVariant();
        case Qt::DecorationRole: {
            const QString name = cellImageName(index.row(), index.column());
            if (name.isEmpty())
                return {};
            const int side = index.column() == kCheckBoxColumn ? 14 : 12;
            return ui::ImageRegistry::Pixmap(name, QSize(side, side));
        }
        case kImageNameRole:
            return cellImageName(index.row(), index.column());
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kFileListColumnCount)
        return {};
    if (role != Qt::DisplayRole)
        return {};
    if (section == kCheckBoxColumn)
        return QString();  // the header's own tick box sits there
    const QString text = ui::texts::Text(QString::fromLatin1(kHeaderKeys[section]));
    return text.isEmpty() ? QString::fromLatin1(FileListColumnIdentifier(section)) : text;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Cells are never edited.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace velmora::browser
