#include "Browser/ResultTreeModel.h"

#include <functional>

#include "BridgeSeam/IBridge.h"

namespace velmora::browser {

namespace {

thread_local int t_readLockDepth = 0;

// Calls `folder` for each folder among a node's children: the entries the
// bridge listed under it, or, for a node of the path tree that lists none,
// the engine node's own children. An entry is a node of the interface tree
// or an engine node (wrapped only when its row needs it); false from
// `folder` ends the walk.
using FolderVisit = std::function<bool(const OpNodePtr& node, IFileNode* leaf)>;

void ForEachFolder(OpNodeData& node, const FolderVisit& folder) {
    if (!node.children().empty()) {
        for (const OpChild& child : node.children()) {
            if (const auto* sub = std::get_if<OpNodePtr>(&child)) {
                if (*sub && (*sub)->isDirect() && !folder(*sub, nullptr))
                    return;
            } else if (IFileNode* leaf = std::get<IFileNode*>(child);
                       OpNodeData::isFileNodeDirect(leaf) && !folder(nullptr, leaf)) {
                return;
            }
        }
        return;
    }
    IFileNode* engine = node.fileNode();
    if (engine == nullptr)
        return;
    for (IFileNode* child = engine->GetFirstChild(); child != nullptr;
         child = child->GetNextNode()) {
        if (child->IsDirectory() && !folder(nullptr, child))
            return;
    }
}

bool HasFolder(OpNodeData& node) {
    bool found = false;
    ForEachFolder(node, [&](const OpNodePtr&, IFileNode*) {
        found = true;
        return false;
    });
    return found;
}

}  // namespace

// One row: its node and the rows made below it. It is the tick-box cell's
// view of the node.
struct ResultTreeModel::Item : ui::ICellNode {
    const ResultTreeModel* model = nullptr;
    // The row's node; for an engine folder it is made when first asked for.
    mutable OpNodePtr node;
    IFileNode* leaf = nullptr;
    Item* parent = nullptr;
    int row = 0;
    bool fetched = false;
    std::vector<std::unique_ptr<Item>> children;
    std::unordered_set<const void*> made;  // the entries that have a row

    // What identifies the entry across take-overs.
    const void* Key() const {
        return leaf != nullptr ? static_cast<const void*>(leaf) : node.get();
    }

    const OpNodePtr& Node() const {
        if (!node && leaf != nullptr) {
            node = OpNodeData::initWithFileNode(leaf);
            node->setParent(parent->Node().get());
        }
        return node;
    }

    QString name() const override {
        const OpNodePtr& node = Node();
        const std::string raw = node ? node->name() : std::string();
        const QString shown = raw.empty() ? QStringLiteral("Unknow") : QString::fromStdString(raw);
        if (model->dataType_ == OP_TREE_PATH || !node)
            return shown;
        const auto count = static_cast<qulonglong>(seam::Bridge().GetNodeChildrenCnt(*node));
        return QStringLiteral("%1(%2)").arg(shown).arg(count);
    }
    // The scan changes a node's mark bits while it links nodes under it.
    int state() const override {
        const OpNodePtr& node = Node();
        if (!node)
            return 0;
        ReadLock lock;
        return node->state();
    }
    int iconKind() const override {
        const OpNodePtr& node = Node();
        if (!node)
            return -1;
        // Every row of the creation-date tree has the month picture.
        if (model->dataType_ == OP_TREE_CREATION_DATE)
            return OP_ICON_DATE_GROUP;
        return node->nodeType();
    }
};

ResultTreeModel::ReadLock::ReadLock() {
    if (t_readLockDepth++ == 0)
        lock_ = seam::Bridge().LockTreeData();
}

ResultTreeModel::ReadLock::~ReadLock() {
    --t_readLockDepth;
}

ResultTreeModel::ResultTreeModel(QObject* parent)
    : QAbstractItemModel(parent), root_(std::make_unique<Item>()) {
    root_->model = this;
    root_->fetched = true;
}

ResultTreeModel::~ResultTreeModel() = default;

bool ResultTreeModel::IsExpandable(const OpNodeData& constNode) {
    auto& node = const_cast<OpNodeData&>(constNode);
    if (node.isDirect() && node.isHasFolderChildren() && HasFolder(node))
        return true;
    return node.isExpand() != 0;
}

void ResultTreeModel::loadDataFormDetail(std::vector<OpNodePtr>* roots, int kind) {
    beginResetModel();
    roots_ = roots;
    dataType_ = kind;
    root_ = std::make_unique<Item>();
    root_->model = this;
    root_->fetched = true;
    madeRows_ = 0;
    endResetModel();
    refresh();
}

void ResultTreeModel::refresh() {
    if (roots_ == nullptr)
        return;
    std::vector<OpNodePtr> roots;
    {
        ReadLock lock;
        roots = *roots_;
    }
    // The bridge empties the arrays for a new scan or a search: start over.
    bool same = roots.size() >= root_->children.size();
    for (size_t i = 0; same && i < root_->children.size(); ++i)
        same = roots[i] == root_->children[i]->node;
    if (!same) {
        loadDataFormDetail(roots_, dataType_);
        return;
    }
    const int first = static_cast<int>(root_->children.size());
    const int last = static_cast<int>(roots.size()) - 1;
    if (last >= first) {
        beginInsertRows({}, first, last);
        for (int i = first; i <= last; ++i) {
            auto item = std::make_unique<Item>();
            item->model = this;
            item->node = roots[static_cast<size_t>(i)];
            item->parent = root_.get();
            item->row = i;
            root_->children.push_back(std::move(item));
            ++madeRows_;
        }
        endInsertRows();
    }
    for (int i = 0; i < first; ++i)
        refreshOpened(root_->children[static_cast<size_t>(i)].get(), index(i, 0));
    if (first > 0)
        emit dataChanged(index(0, 0), index(first - 1, 0));
}

void ResultTreeModel::refreshOpened(Item* item, const QModelIndex& at) {
    if (!item->fetched)
        return;
    takeOverFolders(item, at);
    for (size_t i = 0; i < item->children.size(); ++i)
        refreshOpened(item->children[i].get(), index(static_cast<int>(i), 0, at));
}

int ResultTreeModel::takeOverFolders(Item* item, const QModelIndex& at) {
    std::vector<std::unique_ptr<Item>> added;
    // The first take-over makes every row; later ones skip what has one
    // (the set is made then, not for folders only opened once).
    const bool first = item->children.empty();
    if (!first && item->made.empty()) {
        item->made.reserve(item->children.size());
        for (const auto& child : item->children)
            item->made.insert(child->Key());
    }
    {
        ReadLock lock;
        ForEachFolder(*item->Node(), [&](const OpNodePtr& node, IFileNode* leaf) {
            const void* key = node ? static_cast<const void*>(node.get()) : leaf;
            if (!first && !item->made.insert(key).second)
                return true;
            auto child = std::make_unique<Item>();
            child->model = this;
            child->node = node;
            child->leaf = leaf;
            child->parent = item;
            added.push_back(std::move(child));
            return true;
        });
    }
    if (added.empty())
        return 0;
    const int firstRow = static_cast<int>(item->children.size());
    const int count = static_cast<int>(added.size());
    beginInsertRows(at, firstRow, firstRow + count - 1);
    item->children.reserve(item->children.size() + added.size());
    for (auto& child : added) {
        child->row = static_cast<int>(item->children.size());
        item->children.push_back(std::move(child));
    }
    madeRows_ += static_cast<size_t>(count);
    endInsertRows();
    return count;
}

ResultTreeModel::Item* ResultTreeModel::itemAt(const QModelIndex& index) const {
    if (!index.isValid())
        return root_.get();
    return static_cast<Item*>(index.internalPointer());
}

OpNodeData* ResultTreeModel::nodeAt(const QModelIndex& index) const {
    return index.isValid() ? itemAt(index)->Node().get() : nullptr;
}

OpNodePtr ResultTreeModel::sharedNodeAt(const QModelIndex& index) const {
    return index.isValid() ? itemAt(index)->Node() : OpNodePtr();
}

QModelIndex ResultTreeModel::rootIndex(int row) const {
    return index(row, 0);
}

QModelIndex ResultTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Item* item = itemAt(parent);
    if (column != 0 || row < 0 || static_cast<size_t>(row) >= item->children.size())
        return {};
    return createIndex(row, 0, item->children[static_cast<size_t>(row)].get());
}

QModelIndex ResultTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    const Item* up = itemAt(child)->parent;
    if (up == nullptr || up == root_.get())
        return {};
    return createIndex(up->row, 0, const_cast<Item*>(up));
}

int ResultTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(itemAt(parent)->children.size());
}

int ResultTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant ResultTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    Item* item = itemAt(index);
    switch (role) {
        case Qt::DisplayRole:
            return item->name();
        case ui::kCellNodeRole:
            return QVariant::fromValue<ui::ICellNode*>(item);
        default:
            return {};
    }
}

bool ResultTreeModel::hasChildren(const QModelIndex& parent) const {
    const Item* item = itemAt(parent);
    if (item == root_.get())
        return !item->children.empty();
    if (item->fetched)
        return !item->children.empty() || item->Node()->isExpand() != 0;
    ReadLock lock;
    return IsExpandable(*item->Node());
}

bool ResultTreeModel::canFetchMore(const QModelIndex& parent) const {
    return parent.isValid() && !itemAt(parent)->fetched;
}

void ResultTreeModel::fetchMore(const QModelIndex& parent) {
    Item* item = itemAt(parent);
    if (!parent.isValid() || item->fetched)
        return;
    item->fetched = true;
    takeOverFolders(item, parent);
}

Qt::ItemFlags ResultTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void ResultTreeModel::marksChanged() {
    if (!root_->children.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(root_->children.size()) - 1, 0));
}

}  // namespace velmora::browser
