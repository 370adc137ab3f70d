// The directory-tree builder: gathers the nodes every searcher of one scan
// finds into one result tree per searcher type and hands them to the
// receiver in batches as they find their place.
//
// Nodes arrive in any order, so the builder keeps them by id and links a
// node as soon as its folder is known. The work is driven by events rather
// than by walking everything on each build: a node whose folder is missing
// waits under that folder's id and is tried again only when a folder of
// that id arrives; a subtree is handed over once, at the moment it becomes
// reachable from the root. That keeps a million-node volume linear.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FileNode.h"
#include "SearchInterfaces.h"

class IRecoveryFilter;
class IStorageDevice;
class CSearchedPartitionInfo;

// All nodes that carry one id (deleted and live copies, several partitions),
// in the order they were recorded: a view into CNodeIndex. The builder's
// marks for each node are kept on the node (CFileNode's builder marks).
struct _PARENT_INFO {
    IFileNode* first = nullptr;
    const std::vector<IFileNode*>* more = nullptr;

    bool HasMore() const { return more && !more->empty(); }
    template <typename F>
    void ForEach(F&& f) const {
        if (first)
            f(first);
        if (more) {
            for (IFileNode* n : *more)
                f(n);
        }
    }
};

// The nodes of one tree by id: one flat table with open addressing, so
// that recording a node allocates nothing of its own and a lookup touches
// one or two neighbouring slots. A slot holds the id and its first node;
// the rare ids with more nodes keep the others in a map of their own.
class CNodeIndex {
public:
    // The nodes recorded under `id`; first is null when there are none. The
    // view holds until the next Add or Erase of that id.
    _PARENT_INFO Find(long long id) const;
    // Records `node` under `id`, after those recorded before.
    void Add(long long id, IFileNode* node);
    void Erase(long long id);
    void Clear();
    // Ids recorded.
    size_t Size() const { return size_; }
    template <typename F>
    void ForEach(F&& f) const {
        for (const Slot& slot : slots_) {
            if (slot.first != 0)
                f(slot.id, View(slot));
        }
    }

private:
    struct Slot {
        long long id = 0;
        // The first node; bit 0 set when `more_` holds others of the id.
        uintptr_t first = 0;
    };
    static constexpr uintptr_t kHasMore = 1;
    size_t Home(long long id) const;
    // The slot of `id`, or the empty slot where it would go.
    size_t Probe(long long id) const;
    _PARENT_INFO View(const Slot& slot) const;
    void Grow();

    std::vector<Slot> slots_;
    size_t size_ = 0;
    unsigned shift_ = 64;
    std::unordered_map<long long, std::vector<IFileNode*>> more_;
};

// One searcher type's tree.
struct _DIRECTORY_TREE_INFO {
    // Received nodes in arrival order; shown ones stay listed (their mark
    // says so) until the final build, released ones are nulled.
    std::vector<IFileNode*> pending;
    std::vector<IFileNode*> trashCandidates;
    CNodeIndex folders;
    CNodeIndex files;
    // Every node handed to the receiver; owned until the builder goes.
    std::vector<IFileNode*> shown;
    std::vector<long long> privateDataIds;
    CFilesystemNode* root = nullptr;
    long long rootId = 0;
    long long trashId = 0;
    int32_t receivedSinceBuild = 0;
    int64_t shownTotal = 0;
    int64_t addedTotal = 0;
    double lastBuildTime = 0;
    int32_t trashFound = 0;
    int32_t rootSent = 0;

    // Nodes to try at the next build: new ones and those whose folder has
    // just arrived.
    std::vector<IFileNode*> toTry;
    // Nodes waiting for a folder id that has not arrived: per id the first
    // and last link of a chain through `waitLinks`, in the order they began
    // to wait. Links of woken chains are reused.
    struct WaitLink {
        IFileNode* node;
        int64_t next;
    };
    struct WaitChain {
        int64_t head;
        int64_t tail;
    };
    std::unordered_map<long long, WaitChain> waiting;
    std::vector<WaitLink> waitLinks;
    int64_t freeWaitLink = -1;
    // Nodes a replay's final build keeps alive although they were not
    // shown: a replayed result keeps every node it restored.
    std::vector<IFileNode*> extraOwned;
    // The names given to the tree's volume folders.
    std::vector<std::string> volumeNames;
};

class CDirectoryTreeBuilder : public IDirecotryTreeBuilder {
public:
    CDirectoryTreeBuilder(bool replay, TreeBuilderHooks hooks);
    ~CDirectoryTreeBuilder() override;

    int Initialize(const char* deviceName, IDrirectoryTree* receiver,
                   IRecoveryFilter* filter) override;
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    void FlashBuild(_tagSearcherType type) override;
    void Release() override;
    void SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override;
    void AddVolume(_tagSearcherType type, unsigned short partitionIndex, const char* label,
                   const char* fileSystem, long long byteOffset) override;

    CDirectoryTreeBuilder(const CDirectoryTreeBuilder&) = delete;
    CDirectoryTreeBuilder& operator=(const CDirectoryTreeBuilder&) = delete;

private:
    struct Diverted {
        IFileNode* node;
        _tagSearcherType type;
    };

    _DIRECTORY_TREE_INFO* FindTree(_tagSearcherType type);
    bool IsShownNode(_DIRECTORY_TREE_INFO& tree, IFileNode* node);
    bool IsPendingNode(_DIRECTORY_TREE_INFO& tree, IFileNode* node);

    bool InsertToRecycleBin(IFileNode* node, _tagSearcherType type);
    void RestoreRecycledName(IFileNode* node, _tagSearcherType type);
    void ReaddRecycled(_tagSearcherType type);

    // 1 recorded, 0 refused as a copy of a recorded node.
    int RecordFileNode(CNodeIndex& index, IFileNode* node);
    void DropPrivateFolders(_DIRECTORY_TREE_INFO& tree, long long privateId);
    void WakeWaiting(_DIRECTORY_TREE_INFO& tree, long long folderId);
    void AddWaiting(_DIRECTORY_TREE_INFO& tree, long long folderId, IFileNode* node);

    std::vector<IFileNode*> BuildTree(_DIRECTORY_TREE_INFO& tree, bool force);
    void Attach(_DIRECTORY_TREE_INFO& tree, IFileNode* node, std::vector<IFileNode*>& batch);
    IFileNode* FindParent(_DIRECTORY_TREE_INFO& tree, IFileNode* node);
    // The folder of the node's volume in a deep scan's tree; null when its
    // volume has none (or the node is such a folder).
    IFileNode* VolumeFolderOf(_DIRECTORY_TREE_INFO& tree, IFileNode* node);
    IFileNode* GetCorrectParent(long long trashId, const _PARENT_INFO& candidates, IFileNode* node);
    void EmitSubtree(_DIRECTORY_TREE_INFO& tree, IFileNode* top, std::vector<IFileNode*>& batch);
    bool IsEmptyFolder(IFileNode* folder);
    bool IsUserTrashFolder(_DIRECTORY_TREE_INFO& tree, IFileNode* folder);

    // Holds the receiver's tree lock for the outermost of nested entries
    // (AddNode runs inside FlashBuild too).
    class TreeGuard {
    public:
        explicit TreeGuard(CDirectoryTreeBuilder& builder);
        ~TreeGuard();
        TreeGuard(const TreeGuard&) = delete;
        TreeGuard& operator=(const TreeGuard&) = delete;

    private:
        CDirectoryTreeBuilder& builder_;
    };
    // Lets go of the tree lock for its life when it is held (around calls
    // to the receiver and work on nodes nobody else can reach).
    class TreeUnguard {
    public:
        explicit TreeUnguard(CDirectoryTreeBuilder& builder);
        ~TreeUnguard();
        TreeUnguard(const TreeUnguard&) = delete;
        TreeUnguard& operator=(const TreeUnguard&) = delete;

    private:
        std::mutex* released_;
    };

    void ShowNodes(_DIRECTORY_TREE_INFO& tree, std::vector<IFileNode*>& nodes, int lost);
    void BuildUntilDone(_DIRECTORY_TREE_INFO& tree);
    void PropagateDeleted(_DIRECTORY_TREE_INFO& tree);
    void BuildLostNodes(_DIRECTORY_TREE_INFO& tree);
    void ReleaseUnshown(_DIRECTORY_TREE_INFO& tree);

    bool replay_;
    std::vector<std::unique_ptr<_DIRECTORY_TREE_INFO>> trees_;
    IDrirectoryTree* receiver_ = nullptr;
    // The receiver's tree lock (null: none) and how deep the entries that
    // hold it are nested.
    std::mutex* treeLock_ = nullptr;
    int lockDepth_ = 0;
    IRecoveryFilter* filter_ = nullptr;
    std::string deviceName_ = "Disk";
    std::vector<Diverted> recycledFiles_;
    std::vector<Diverted> recycleFolders_;
    std::vector<Diverted> indexFiles_;
    std::vector<std::pair<long long, _tagSearcherType>> recycleFolderIds_;
    IStorageDevice* device_ = nullptr;
    CSearchedPartitionInfo* partition_ = nullptr;
    bool flushing_ = false;
    TreeBuilderHooks hooks_;
    // Scratch lists of the tree walks, kept to spare an allocation per walk.
    std::vector<IFileNode*> walk_;
    std::vector<CFileNode*> path_;
    std::vector<IFileNode*> emptyWalk_;
};
