// The rows of the results browser's file list: the engine nodes of the
// chosen folder (or of a search), held as pointers in the order shown. Cell
// texts and pictures are made from the node when the view asks for them;
// nothing per row is kept beside the pointer.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "Browser/FileListSort.h"

class IFileNode;

namespace velmora::browser {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // The name of the picture of a cell ("pf_checkbox_yes", "deletered"...),
    // beside the picture itself under Qt::DecorationRole.
    static constexpr int kImageNameRole = Qt::UserRole + 1;

    explicit FileListModel(QObject* parent = nullptr);

    // Replaces every row.
    void setRows(std::vector<IFileNode*> rows);
    const std::vector<IFileNode*>& rows() const { return rows_; }
    // Null past the end.
    IFileNode* nodeAt(int row) const;

    // Sorts by a column (first the largest, the last name... when not
    // ascending); "CheckBox" reorders nothing. Answers whether it sorted.
    bool sortByColumn(int column, bool ascending);
    // The keys a sort reads of one node (only the column's is filled).
    static FileListSortKeys SortKeys(IFileNode* node, int column);

    // The tick pictures changed (rows' states were set elsewhere).
    void refreshTicks();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The text of a cell as the table shows it; empty past the end.
    QString cellText(int row, int column) const;
    // The picture name of a cell: the tick of "CheckBox", the deleted mark
    // of "Name"; empty for none.
    QString cellImageName(int row, int column) const;

private:
    std::vector<IFileNode*> rows_;
};

}  // namespace velmora::browser
