// The model of one result tree of the results browser (by path, file type,
// creation or modification date) over the bridge's OpNodeData nodes. It
// shows folders only: a folder's files belong to the file pane.
//
// Rows are made when their folder is first expanded (fetchMore), so a tree
// of a million nodes opens at once and costs only what the user opened.
// Every walk over the nodes' children runs under the bridge's tree lock,
// because the scan thread keeps adding nodes while the browser shows them.
#pragma once

#include <QAbstractItemModel>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "OpNodeData.h"
#include "Widgets/CellNode.h"

namespace velmora::browser {

class ResultTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // Holds the bridge's tree lock for the thread's outermost holder only,
    // so a paint can hold it once for all its rows while the model's own
    // reads inside it take it again.
    class ReadLock {
    public:
        ReadLock();
        ~ReadLock();
        ReadLock(const ReadLock&) = delete;
        ReadLock& operator=(const ReadLock&) = delete;

    private:
        std::unique_lock<std::mutex> lock_;
    };

    explicit ResultTreeModel(QObject* parent = nullptr);
    ~ResultTreeModel() override;

    // Shows the roots of `roots` (owned by the browser) as a tree of `kind`.
    void loadDataFormDetail(std::vector<OpNodePtr>* roots, int kind);
    // Takes over what the scan added since: new roots, and new folders in
    // the folders already opened. Rows already shown stay where they are.
    void refresh();
    int dataType() const { return dataType_; }

    OpNodeData* nodeAt(const QModelIndex& index) const;
    OpNodePtr sharedNodeAt(const QModelIndex& index) const;
    // The row of a root node, invalid when it is none.
    QModelIndex rootIndex(int row) const;
    // Rows made so far (the tree's cost).
    size_t madeRows() const { return madeRows_; }

    // Whether a node shows an expander: a folder with a folder below it, or
    // one the user has opened before.
    static bool IsExpandable(const OpNodeData& node);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Tells the views that tick marks may have changed everywhere.
    void marksChanged();

private:
    struct Item;
    Item* itemAt(const QModelIndex& index) const;
    // Appends the folders of `item` not made yet; the number added.
    int takeOverFolders(Item* item, const QModelIndex& index);
    void refreshOpened(Item* item, const QModelIndex& index);

    std::vector<OpNodePtr>* roots_ = nullptr;
    int dataType_ = OP_TREE_PATH;
    std::unique_ptr<Item> root_;
    size_t madeRows_ = 0;
};

}  // namespace velmora::browser
