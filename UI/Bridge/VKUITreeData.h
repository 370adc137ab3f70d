// The four result trees of the results browser (by path, by file type, by
// creation date, by modification date), grown from the scan's indexes while
// the scan runs, rebuilt for a search, and the browser's questions about
// their nodes: the files below a folder or group, the counts, the filing of
// files into years and months and the tick marks of the month groups.
//
// Threads: the scan's worker, the search thread and the main thread all
// touch the trees. Every change and every read of their structure happens
// under the one tree lock; the calls below take it themselves. A window
// model that walks the trees takes it too (Lock()), or works on Snapshot()
// copies of the top-level nodes only while it holds no pointer below them.
// Whoever links new engine nodes into the engine's trees while the browser
// may be reading them does so under the same lock.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "OpNodeData.h"
#include "StartThread.h"

// Files by year, then month (1-12), in arrival order.
using DateIndexMap = std::map<int, std::map<int, std::vector<IFileNode*>>>;
// Files by category bit, in arrival order.
using TypeIndexMap = std::map<unsigned, std::vector<IFileNode*>>;

// What the trees take from the scan operation and from the file-type and
// date indexes. The scan road supplies the program's; tests script their own.
// Apart from the two Refresh calls (made under the tree lock, which they
// must not take again) every call may come from any thread.
class ITreeIndexSource {
public:
    virtual ~ITreeIndexSource() = default;

    // The scan operation.
    // The file-system roots, in arrival order.
    virtual std::vector<IFileNode*> GetFileSystemNode() = 0;
    // Roots and folders that arrived since the last call (emptied here).
    virtual std::vector<IFileNode*> VKGetNewPathNode() = 0;
    // The roots, then every folder.
    virtual std::vector<IFileNode*> VKGetAllPathNode() = 0;
    virtual int FindRemoveData(IFileNode* node) = 0;
    // 0 while the trees take over nodes: the scan posts no refresh then.
    virtual void SetOpTreeFinished(int finished) = 0;
    // The tree kind the browser shows (OpTreeKind).
    virtual int GetScanType() = 0;
    // Shows the nodes matching the search key, hides the others, and
    // collects the matching files.
    virtual void DoSearch(std::vector<IFileNode*>& hits) = 0;
    virtual int IsSearching() = 0;
    virtual void SetSearching(int searching) = 0;
    // "" forgets the key.
    virtual void SetSearchKey(const std::string& key) = 0;
    virtual std::string GetSearchKey() = 0;
    virtual void SetNeedUIUpdate(int need) = 0;
    virtual TypeIndexMap GetTypeMap() = 0;
    virtual DateIndexMap GetCreateTimeMap() = 0;
    virtual DateIndexMap GetModifyTimeMap() = 0;
    // Unticks every root (the engine carries it down).
    virtual void UnselectAllNodes() = 0;

    // The file-type index.
    // The category groups, in the order 1, 2, 4, 8, 16, 32, 64.
    virtual std::vector<OpNodePtr> TypeRootNodes() = 0;
    // Files what arrived since the last refresh into the category groups.
    virtual void RefreshTypeTree() = 0;
    // The same right after DoSearch (the trees reset for it, the lock held
    // since): a source that kept what its search found files just that,
    // without walking its whole index again.
    virtual void RefreshTypeTreeAfterSearch() { RefreshTypeTree(); }
    virtual void TypeSetSearch(int searching) = 0;
    virtual void TypeSetNeedRefreshTree() = 0;
    // Whether the group is the category of other files.
    virtual int TypeIsOtherNode(const OpNodeData* node) = 0;
    // Works the group's mark out from its file leaves.
    virtual void TypeSetNodeState(OpNodeData* node) = 0;
    virtual void RefreshTypeTreeState() = 0;

    // The date index.
    // Hands every file that arrived since the last refresh of that kind to
    // `file` with `root` (which files it below a year and a month).
    virtual void RefreshTimeTree(OpNodeData* root, int kind,
                                 const std::function<void(IFileNode*, OpNodeData*)>& file) = 0;
    // The same right after DoSearch, as RefreshTypeTreeAfterSearch.
    virtual void RefreshTimeTreeAfterSearch(
        OpNodeData* root, int kind, const std::function<void(IFileNode*, OpNodeData*)>& file) {
        RefreshTimeTree(root, kind, file);
    }
    virtual void TimeSetSearch(int searching) = 0;
    virtual void TimeSetNeedRefreshTree() = 0;
    virtual int TimeGetNeedRefreshTree() = 0;
    virtual void TimeResetNeedRefreshTree() = 0;
};

// The four top-level arrays of the browser.
struct TreeArrays {
    std::vector<OpNodePtr> path, type, created, modified;
};

class VKUITreeData {
public:
    // The program's trees (over the installed source).
    static VKUITreeData& instance();
    // Installs the source of the program's trees; null: none (the trees
    // then stay empty).
    static void InstallSource(std::shared_ptr<ITreeIndexSource> source);

    explicit VKUITreeData(std::shared_ptr<ITreeIndexSource> source);
    // Waits for a search under way.
    ~VKUITreeData();
    VKUITreeData(const VKUITreeData&) = delete;
    VKUITreeData& operator=(const VKUITreeData&) = delete;

    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
    // The tree lock itself (the windows' LockTreeData).
    std::mutex& Mutex() { return mutex_; }
    // Copies of the top-level nodes of one tree (OpTreeKind 0-3).
    std::vector<OpNodePtr> Snapshot(int kind);
    // The browser's own four arrays, which it reads under the tree lock,
    // become the trees' top levels (null: the trees' own one); what the
    // trees held moves into them.
    void UseArrays(std::vector<OpNodePtr>* path, std::vector<OpNodePtr>* type,
                   std::vector<OpNodePtr>* created, std::vector<OpNodePtr>* modified);

    // Empties the four trees, the waiting folders and the wrappers.
    void VKResetTreeNodeData();
    // A scan refresh: type tree, both date trees, then the path tree.
    // force: keeps retrying folders whose parent is not wrapped yet (up to
    // 100 passes); force 2 takes every folder again.
    int VKGetTreeNodeData(int force);
    // The browser takes over the roots: new roots are added to `roots` (the
    // path tree's top level when null) with the path view shown, and the
    // tree of the shown kind is filled; clear: every root shown again and
    // unticked.
    int GetScanTreeNodeData(int clear, std::vector<OpNodePtr>* roots = nullptr);

    // Starts a search on a thread of its own; 0 while one runs (until
    // StopSearch). `postKey` is posted when the shown tree is rebuilt,
    // "DoSearchFinished" at the end.
    int DoSearchWithString(const std::string& text, const std::string& postKey);
    std::string GetSearchString();
    void StopSearch();
    int VKGetIsSearching();
    // Waits for the search thread's end.
    void WaitSearch();
    // With a search key: every shown file of the type index.
    void GetSearchResultToArr(std::vector<IFileNode*>& list);

    // Tick marks.
    int VKCleanState();
    int VKCleanOpNodeSate();
    void UnselectedAllNodes();
    void VKTableViewCellCilck();
    void SetNodeState(OpNodeData* node, int state);

    // The browser's questions (all take the lock).
    int GetFileNodeToArray(std::vector<OpChild>& list, OpNodeData* node);
    int GetPathInfoToArray(std::vector<OpChild>& list, OpNodeData* node);
    int GetTypeInfoToArray(std::vector<OpChild>& list, OpNodeData* node);
    int GetDateInfoToArray(std::vector<OpChild>& list, OpNodeData* node);
    uint64_t GetNodeChildrenCnt(OpNodeData* node);
    void RefreshTimeTreeState(const std::vector<OpNodePtr>& roots, int onlyWhenMarked);
    void RefreshTypeTreeState(OpNodeData* node);

    // Files a node below the date root (the lock held by the caller, as
    // during a refresh): by the root's kind, the year and month of the
    // node's creation or modification time.
    void AddFileNode(IFileNode* node, OpNodeData* root);

    // Helpers without state.
    // Position of the first child whose title sorts after `title` (ASCII
    // case ignored); -1 when none.
    static int GetDateInsertIndex(const std::string& title, const std::vector<OpChild>& children);
    static int IsYearNodeExist(int year, const std::vector<OpChild>& years, int* index);
    static int IsMonthNodeExist(int month, const std::vector<OpChild>& years, int year, int* index);
    // The month's mark from the files filed under it; hidden files do not
    // count.
    static void setNodeState(OpNodeData* month, const std::vector<IFileNode*>& nodes);
    static int IsTypeStringExsit(const char* name, const std::vector<OpNodePtr>& array);

    // Folders still waiting for their parent's wrapper.
    size_t WaitingCount();

private:
    void ResetLocked();
    void RebuildLocked(int force);
    // afterSearch: right after the source's DoSearch (see the source).
    void AddTypeNodeToArr(bool afterSearch = false);
    void AddDateNodeToArray(std::vector<OpNodePtr>& array, int kind, bool afterSearch = false);
    void PathUpdateLocked(int flag, bool search);
    void WrapPass(std::vector<OpNodePtr>& scratch, const std::vector<IFileNode*>& nodes,
                  std::vector<IFileNode*>& waiting);
    int VKAddSearchFileNodeToOpTree(std::vector<OpNodePtr>& scratch, IFileNode* node);
    void AddPathNodeToArray(std::vector<OpNodePtr>& array);
    void AddNodeToArr(int kind);
    void RebuildWithSearchLocked(const std::string& key);
    void DoSearchFn(const std::string& postKey);
    std::shared_ptr<ITreeIndexSource> Source();
    // The count of GetNodeChildrenCnt, with mutex_ held.
    uint64_t GetNodeChildrenCntImp(OpNodeData* node);

    std::mutex sourceMutex_;
    std::shared_ptr<ITreeIndexSource> source_;
    std::mutex mutex_;
    TreeArrays own_;
    // The top levels in use: the trees' own arrays or the browser's.
    std::vector<OpNodePtr>* path_ = &own_.path;
    std::vector<OpNodePtr>* type_ = &own_.type;
    std::vector<OpNodePtr>* created_ = &own_.created;
    std::vector<OpNodePtr>* modified_ = &own_.modified;
    // Engine node -> its wrapper in the path tree; a node is wrapped once.
    std::unordered_map<IFileNode*, OpNodeData*> wrappers_;
    std::vector<IFileNode*> waiting_;
    std::vector<IFileNode*> searchHits_;
    std::mutex searchThreadMutex_;
    velmora::bridge::BridgeThread searchThread_;
};
