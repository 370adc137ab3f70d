#include "DirectoryTreeBuilder.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_set>

#include "EngineServices.h"
#include "IRecoveryFilter.h"
#include "RecoveryInterfaces.h"
#include "RecyclerFilter.h"
#include "ReleasePtr.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"
#include "platform/AppPaths.h"

namespace {

// The builder's marks on a node (CFileNode's builder marks).
constexpr uint32_t kShown = 1;     // handed to the receiver
constexpr uint32_t kWaiting = 2;   // listed under a missing folder id
constexpr uint32_t kSettled = 4;   // final build: deleted state worked out
constexpr uint32_t kRecorded = 8;  // in a tree's index: the builder owns it
constexpr uint32_t kOnPath = 16;   // on the chain PropagateDeleted climbs

// An incremental build waits for this many new nodes or this many seconds.
constexpr int32_t kBuildEveryNodes = 1024;
constexpr double kBuildEverySeconds = 3.0;
// A build lets go of the tree lock for a moment after this many nodes.
constexpr size_t kBuildNodesPerLockTurn = 4096;

// Index files larger than this are not read: the name sits in the first
// bytes, and a bigger one is not an index file.
constexpr long long kIndexFileMaxSize = 1024;

const char* NameOf(IFileNode* node) {
    const char* name = node->GetFileName();
    return name ? name : "";
}

// The rules of a tree no row describes: a plain tree with no suffix.
const SearcherTreeRules& RulesOf(_tagSearcherType type) {
    static const SearcherTreeRules kPlain{};
    const SearcherTreeRules* rules = vk::FindTreeRules(type);
    return rules ? *rules : kPlain;
}

bool IsTrashName(const char* name) {
    return std::strcmp(name, ".Trashes") == 0 || std::strcmp(name, ".Trash") == 0;
}

bool IsSelfOrParentEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Every node a tree holds is a CFileNode: AddNode refuses any other class,
// and the roots and the folder of lost files are CFilesystemNodes.
CFileNode* AsNode(IFileNode* node) {
    return static_cast<CFileNode*>(node);
}

uint32_t MarksOf(IFileNode* node) {
    return AsNode(node)->GetBuilderMarks();
}

void SetMarks(IFileNode* node, uint32_t marks) {
    AsNode(node)->SetBuilderMarks(MarksOf(node) | marks);
}

void ClearMarks(IFileNode* node, uint32_t marks) {
    AsNode(node)->SetBuilderMarks(MarksOf(node) & ~marks);
}

bool SamePartition(IFileNode* a, IFileNode* b) {
    return AsNode(a)->GetBelongedPartition() == AsNode(b)->GetBelongedPartition();
}

}  // namespace

size_t CNodeIndex::Home(long long id) const {
    // Fibonacci hashing: ids of one volume are mostly consecutive numbers,
    // which the multiplication spreads over the whole table.
    return static_cast<size_t>((static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ULL) >> shift_);
}

size_t CNodeIndex::Probe(long long id) const {
    const size_t mask = slots_.size() - 1;
    size_t i = Home(id);
    while (slots_[i].first != 0 && slots_[i].id != id)
        i = (i + 1) & mask;
    return i;
}

_PARENT_INFO CNodeIndex::View(const Slot& slot) const {
    _PARENT_INFO view;
    view.first = reinterpret_cast<IFileNode*>(slot.first & ~kHasMore);
    if (slot.first & kHasMore) {
        auto it = more_.find(slot.id);
        if (it != more_.end())
            view.more = &it->second;
    }
    return view;
}

void CNodeIndex::Grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    const size_t capacity = old.empty() ? 1024 : old.size() * 2;
    slots_.resize(capacity);
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    for (const Slot& slot : old) {
        if (slot.first != 0)
            slots_[Probe(slot.id)] = slot;
    }
}

_PARENT_INFO CNodeIndex::Find(long long id) const {
    if (size_ == 0)
        return {};
    const Slot& slot = slots_[Probe(id)];
    return slot.first != 0 ? View(slot) : _PARENT_INFO{};
}

void CNodeIndex::Add(long long id, IFileNode* node) {
    if (node == nullptr)
        return;
    // At most three slots in four are used: probes stay short.
    if ((size_ + 1) * 4 > slots_.size() * 3)
        Grow();
    Slot& slot = slots_[Probe(id)];
    if (slot.first == 0) {
        slot.id = id;
        slot.first = reinterpret_cast<uintptr_t>(node);
        ++size_;
        return;
    }
    slot.first |= kHasMore;
    more_[id].push_back(node);
}

void CNodeIndex::Erase(long long id) {
    if (size_ == 0)
        return;
    const size_t mask = slots_.size() - 1;
    const size_t i = Probe(id);
    if (slots_[i].first == 0)
        return;
    if (slots_[i].first & kHasMore)
        more_.erase(id);
    // Backward shift: each later entry of the run moves into the hole when
    // its home lies at or before the hole, so no lookup meets a gap early.
    size_t hole = i;
    for (size_t j = (i + 1) & mask; slots_[j].first != 0; j = (j + 1) & mask) {
        const size_t home = Home(slots_[j].id);
        if (((j - home) & mask) >= ((j - hole) & mask)) {
            slots_[hole] = slots_[j];
            hole = j;
        }
    }
    slots_[hole] = Slot{};
    --size_;
}

void CNodeIndex::Clear() {
    std::vector<Slot>().swap(slots_);
    more_.clear();
    size_ = 0;
    shift_ = 64;
}

TreeBuilderHooks DefaultTreeBuilderHooks() {
    TreeBuilderHooks hooks;
    hooks.now = [] {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    };
    hooks.sleep = [](unsigned seconds) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    };
    hooks.userHome = [] { return velmora::platform::InvokingUserHome(); };
    return hooks;
}

IDirecotryTreeBuilder* CreateTreeBuilder(bool replay, TreeBuilderHooks hooks) {
    return new CDirectoryTreeBuilder(replay, std::move(hooks));
}

IDirecotryTreeBuilder* CreateTreeBuilder(bool replay) {
    return new CDirectoryTreeBuilder(replay, DefaultTreeBuilderHooks());
}

CDirectoryTreeBuilder::CDirectoryTreeBuilder(bool replay, TreeBuilderHooks hooks)
    : replay_(replay), hooks_(std::move(hooks)) {
    TreeBuilderHooks defaults = DefaultTreeBuilderHooks();
    if (!hooks_.now)
        hooks_.now = defaults.now;
    if (!hooks_.sleep)
        hooks_.sleep = defaults.sleep;
    if (!hooks_.userHome)
        hooks_.userHome = defaults.userHome;
}

// Every node the builder took is released exactly once, whether or not the
// final build ran (a stopped scan skips it): shown nodes, nodes still
// pending, nodes waiting in the recycle-bin lists, then the roots.
CDirectoryTreeBuilder::~CDirectoryTreeBuilder() {
    for (auto& tree : trees_) {
        for (IFileNode* node : tree->pending) {
            if (node && !IsShownNode(*tree, node))
                node->Release();
        }
        tree->pending.clear();
        tree->folders.Clear();
        tree->files.Clear();
        for (IFileNode* node : tree->shown)
            node->Release();
        for (IFileNode* node : tree->extraOwned)
            node->Release();
        if (tree->root)
            tree->root->Release();
    }
    for (auto* list : {&recycledFiles_, &recycleFolders_, &indexFiles_}) {
        for (Diverted& d : *list)
            d.node->Release();
    }
}

void CDirectoryTreeBuilder::Release() {
    delete this;
}

int CDirectoryTreeBuilder::Initialize(const char* deviceName, IDrirectoryTree* receiver,
                                      IRecoveryFilter* filter) {
    if (!deviceName || !receiver || !filter)
        return 0;
    deviceName_ = *deviceName ? deviceName : "Disk";
    receiver_ = receiver;
    treeLock_ = receiver->GetTreeLock();
    filter_ = filter;
    flushing_ = false;
    return 1;
}

CDirectoryTreeBuilder::TreeGuard::TreeGuard(CDirectoryTreeBuilder& builder) : builder_(builder) {
    if (builder_.lockDepth_++ == 0 && builder_.treeLock_)
        builder_.treeLock_->lock();
}

CDirectoryTreeBuilder::TreeGuard::~TreeGuard() {
    if (--builder_.lockDepth_ == 0 && builder_.treeLock_)
        builder_.treeLock_->unlock();
}

CDirectoryTreeBuilder::TreeUnguard::TreeUnguard(CDirectoryTreeBuilder& builder)
    : released_(builder.lockDepth_ > 0 ? builder.treeLock_ : nullptr) {
    if (released_)
        released_->unlock();
}

CDirectoryTreeBuilder::TreeUnguard::~TreeUnguard() {
    if (released_)
        released_->lock();
}

void CDirectoryTreeBuilder::SetPartitonDevice(CSearchedPartitionInfo* partition,
                                              IStorageDevice* device) {
    partition_ = partition;
    device_ = device;
}

int CDirectoryTreeBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId) {
    if (_DIRECTORY_TREE_INFO* tree = FindTree(type)) {
        tree->rootId = rootId;
        // Nodes that waited for a folder of that id now hang under the root.
        WakeWaiting(*tree, rootId);
        return 1;
    }
    auto tree = std::make_unique<_DIRECTORY_TREE_INFO>();
    const std::string name = deviceName_ + RulesOf(type).rootSuffix;
    tree->root = new CFilesystemNode(name.c_str(), deviceName_.c_str(), type, rootId);
    tree->rootId = rootId;
    tree->lastBuildTime = hooks_.now();
    trees_.push_back(std::move(tree));
    return 1;
}

void CDirectoryTreeBuilder::AddVolume(_tagSearcherType type, unsigned short partitionIndex,
                                      const char* label, const char* fileSystem,
                                      long long byteOffset) {
    _DIRECTORY_TREE_INFO* tree = FindTree(type);
    if (!tree || replay_)
        return;
    // Two volumes of one tree never share a folder name: their files would
    // be merged wherever they are recovered.
    const std::string byPlace = std::string(fileSystem && *fileSystem ? fileSystem : "Volume") +
                                " at " + std::to_string(byteOffset);
    std::string name = label ? label : "";
    auto taken = [&](const std::string& n) {
        return std::find(tree->volumeNames.begin(), tree->volumeNames.end(), n) !=
               tree->volumeNames.end();
    };
    if (name.empty() || taken(name))
        name = name.empty() ? byPlace : name + " (" + byPlace + ")";
    for (int n = 2; taken(name); ++n)
        name = byPlace + " (" + std::to_string(n) + ")";
    auto* folder =
        new CFilesystemNode(name.c_str(), deviceName_.c_str(), type, kVolumeFolderNodeId);
    folder->SetBelongedPartition(partitionIndex);
    folder->SetParentNodeID(tree->rootId);
    // A volume announced twice keeps its first folder.
    const _PARENT_INFO known = tree->folders.Find(kVolumeFolderNodeId);
    bool twice = false;
    known.ForEach([&](IFileNode* e) { twice = twice || SamePartition(e, folder); });
    if (twice || !AddNode(folder, type)) {
        folder->Release();
        return;
    }
    tree->volumeNames.push_back(name);
}

_DIRECTORY_TREE_INFO* CDirectoryTreeBuilder::FindTree(_tagSearcherType type) {
    for (auto& tree : trees_) {
        if (tree->root && tree->root->GetSearcheType() == type)
            return tree.get();
    }
    return nullptr;
}

bool CDirectoryTreeBuilder::IsShownNode(_DIRECTORY_TREE_INFO& tree, IFileNode* node) {
    if (node == tree.root)
        return true;
    const uint32_t marks = MarksOf(node);
    return (marks & kRecorded) && (marks & kShown);
}

bool CDirectoryTreeBuilder::IsPendingNode(_DIRECTORY_TREE_INFO&, IFileNode* node) {
    const uint32_t marks = MarksOf(node);
    return (marks & kRecorded) && !(marks & kShown);
}

int CDirectoryTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type) {
    if (!node)
        return 0;
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    if (!fileNode) {
        CatchExeception::WriteLog(
            "CDirectoryTreeBuilder::AddNode: node of a foreign class refused\n");
        return 0;
    }
    if (filter_ && !filter_->IsFileNodeValid(node))
        return 0;
    const long long id = node->GetCurrentNodeID();
    if (id == node->GetParentNodeID())
        return 0;
    _DIRECTORY_TREE_INFO* tree = FindTree(type);
    if (!tree)
        return 0;
    if (fileNode->GetParent() || fileNode->GetNextNode()) {
        CatchExeception::WriteLog(
            "CDirectoryTreeBuilder::AddNode: node %lld is already linked, refused\n", id);
        return 0;
    }
    // The same object handed over twice is already ours; taking it again
    // would link or free it twice.
    if (fileNode->GetBuilderMarks() & kRecorded)
        return 1;
    // A node without a name is still a found file: recovery makes a name
    // for it. Only a folder's entries for itself and its parent are not
    // files; every other name, leading dots and all, is the user's.
    if (IsSelfOrParentEntry(NameOf(node)))
        return 0;

    const SearcherTreeRules& rules = RulesOf(type);
    if (!flushing_ && rules.divertsRecycleBins && InsertToRecycleBin(node, type)) {
        node->MarkDeleted();
        return 1;
    }

    const bool isFolder = node->IsDirectory() != 0;
    const char* name = NameOf(node);
    // From here on the node meets nodes already handed over: their copies
    // are compared and may take its runs, its folder's child list grows.
    TreeGuard guard(*this);

    // A file system may keep bookkeeping (HFS+ its hard-link targets) in a
    // hidden folder at the root; the folders inside it are not the user's.
    if (!replay_ && tree->privateDataIds.empty() && rules.hiddenRootFolder != nullptr &&
        std::strcmp(name, rules.hiddenRootFolder) == 0 && node->GetParentNodeID() == tree->rootId) {
        tree->privateDataIds.push_back(id);
        DropPrivateFolders(*tree, id);
        return 0;
    }

    bool trashCandidate = false;
    if (!tree->trashFound && isFolder && IsTrashName(name)) {
        if (node->GetParentNodeID() == tree->rootId) {
            // A volume's own trash: what it holds was deleted by the user.
            tree->trashId = id;
            node->MarkDeleted();
        } else if (IsUserTrashFolder(*tree, node)) {
            node->SetParentNodeID(tree->rootId);
            tree->trashId = id;
            tree->trashFound = 1;
            node->MarkDeleted();
        } else {
            trashCandidate = true;
        }
    }

    if (isFolder) {
        if (!tree->privateDataIds.empty() &&
            node->GetParentNodeID() == tree->privateDataIds.front())
            return 0;
        if (!RecordFileNode(tree->folders, node))
            return 0;
        if (trashCandidate)
            tree->trashCandidates.push_back(node);
        WakeWaiting(*tree, id);
    } else {
        if (!RecordFileNode(tree->files, node))
            return 0;
    }

    ++tree->receivedSinceBuild;
    ++tree->addedTotal;
    tree->pending.push_back(node);
    tree->toTry.push_back(node);
    std::vector<IFileNode*> batch = BuildTree(*tree, false);
    if (!batch.empty())
        ShowNodes(*tree, batch, 0);
    return 1;
}

int CDirectoryTreeBuilder::RecordFileNode(CNodeIndex& index, IFileNode* node) {
    const long long id = node->GetCurrentNodeID();
    const _PARENT_INFO info = index.Find(id);
    if (!info.first) {
        index.Add(id, node);
        SetMarks(node, kRecorded);
        return 1;
    }
    if (!replay_) {
        auto* fresh = static_cast<CFileNode*>(node);
        bool copy = false;
        info.ForEach([&](IFileNode* e) {
            if (copy)
                return;
            CFileNode* known = AsNode(e);
            if (!(*known == *fresh))
                return;
            // The newer copy's data wins when the recorded one is older: an
            // older copy (an earlier generation of the record) must never
            // replace the runs of a newer one.
            if (fresh->GetFileSize() != 0 &&
                fresh->GetModificationTime() > known->GetModificationTime()) {
                known->MergeNode(fresh);
            }
            copy = true;
        });
        if (copy)
            return 0;
    }
    index.Add(id, node);
    SetMarks(node, kRecorded);
    return 1;
}

void CDirectoryTreeBuilder::DropPrivateFolders(_DIRECTORY_TREE_INFO& tree, long long privateId) {
    std::unordered_set<IFileNode*> dropped;
    // Ids that lose nodes, with the nodes they keep: rewritten after the
    // walk, since erasing moves entries the walk is over.
    std::vector<std::pair<long long, std::vector<IFileNode*>>> changed;
    tree.folders.ForEach([&](long long id, const _PARENT_INFO& info) {
        std::vector<IFileNode*> keep;
        bool drops = false;
        info.ForEach([&](IFileNode* e) {
            if (!(MarksOf(e) & kShown) && e->GetParentNodeID() == privateId) {
                dropped.insert(e);
                drops = true;
            } else {
                keep.push_back(e);
            }
        });
        if (drops)
            changed.emplace_back(id, std::move(keep));
    });
    for (auto& [id, keep] : changed) {
        tree.folders.Erase(id);
        for (IFileNode* n : keep)
            tree.folders.Add(id, n);
    }
    if (dropped.empty())
        return;
    auto gone = [&](IFileNode* n) { return n && dropped.count(n) != 0; };
    for (IFileNode*& n : tree.pending) {
        if (gone(n))
            n = nullptr;
    }
    std::erase_if(tree.toTry, gone);
    std::erase_if(tree.trashCandidates, gone);
    for (auto& link : tree.waitLinks) {
        if (gone(link.node))
            link.node = nullptr;
    }
    for (IFileNode* n : dropped)
        n->Release();
}

void CDirectoryTreeBuilder::WakeWaiting(_DIRECTORY_TREE_INFO& tree, long long folderId) {
    if (tree.waiting.empty())
        return;
    auto it = tree.waiting.find(folderId);
    if (it == tree.waiting.end())
        return;
    for (int64_t i = it->second.head; i >= 0;) {
        auto& link = tree.waitLinks[static_cast<size_t>(i)];
        const int64_t next = link.next;
        if (link.node) {
            ClearMarks(link.node, kWaiting);
            tree.toTry.push_back(link.node);
        }
        link = {nullptr, tree.freeWaitLink};
        tree.freeWaitLink = i;
        i = next;
    }
    tree.waiting.erase(it);
}

void CDirectoryTreeBuilder::AddWaiting(_DIRECTORY_TREE_INFO& tree, long long folderId,
                                       IFileNode* node) {
    int64_t at = tree.freeWaitLink;
    if (at >= 0) {
        tree.freeWaitLink = tree.waitLinks[static_cast<size_t>(at)].next;
        tree.waitLinks[static_cast<size_t>(at)] = {node, -1};
    } else {
        at = static_cast<int64_t>(tree.waitLinks.size());
        tree.waitLinks.push_back({node, -1});
    }
    auto [it, inserted] =
        tree.waiting.try_emplace(folderId, _DIRECTORY_TREE_INFO::WaitChain{at, at});
    if (!inserted) {
        tree.waitLinks[static_cast<size_t>(it->second.tail)].next = at;
        it->second.tail = at;
    }
}

std::vector<IFileNode*> CDirectoryTreeBuilder::BuildTree(_DIRECTORY_TREE_INFO& tree, bool force) {
    std::vector<IFileNode*> batch;
    const double now = hooks_.now();
    if (!force) {
        if (tree.receivedSinceBuild < kBuildEveryNodes &&
            now - tree.lastBuildTime < kBuildEverySeconds)
            return batch;
        // A tree with a hidden folder waits for it, so that the folders
        // inside it are never shown.
        if (RulesOf(tree.root->GetSearcheType()).hiddenRootFolder != nullptr &&
            tree.privateDataIds.empty())
            return batch;
    }
    tree.receivedSinceBuild = 0;
    tree.lastBuildTime = now;

    std::vector<IFileNode*> work;
    work.swap(tree.toTry);
    if (force) {
        // A final build tries everything still unplaced: a live file may
        // have been held back until its folder turned out to be deleted.
        work.clear();
        for (IFileNode* n : tree.pending) {
            if (n && !n->GetParent() && !IsShownNode(tree, n))
                work.push_back(n);
        }
    }
    size_t done = 0;
    for (IFileNode* n : work) {
        Attach(tree, n, batch);
        // A final build may place a whole volume at once: the readers of
        // the shown trees get their turn now and then.
        if (++done % kBuildNodesPerLockTurn == 0) {
            TreeUnguard turn(*this);
            std::this_thread::yield();
        }
    }
    return batch;
}

// Links the node under its folder and climbs on while the folder itself is
// unplaced. A subtree that reaches the root is handed over whole.
void CDirectoryTreeBuilder::Attach(_DIRECTORY_TREE_INFO& tree, IFileNode* node,
                                   std::vector<IFileNode*>& batch) {
    const bool attachAll = RulesOf(tree.root->GetSearcheType()).attachesAllNodes;
    IFileNode* current = node;
    // Once something is linked, each folder climbed to holds it: it is not
    // empty, and a deep chain is not walked again at every step.
    bool holdsLinked = false;
    // Every turn links one more unlinked node, and a link that would close
    // a loop is refused, so this ends.
    while (current && !current->GetParent() && current != tree.root) {
        IFileNode* parent = FindParent(tree, current);
        if (!parent) {
            const uint32_t marks = MarksOf(current);
            if ((marks & kRecorded) && !(marks & kWaiting)) {
                SetMarks(current, kWaiting);
                AddWaiting(tree, current->GetParentNodeID(), current);
            }
            return;
        }
        if (!current->IsDeleted() && parent->IsDeleted())
            current->MarkDeleted();
        if (!attachAll) {
            if (current->IsDirectory()) {
                if (!holdsLinked && IsEmptyFolder(current))
                    return;
            } else if (!current->IsDeleted() && filter_ && !filter_->ShowNormalFiles()) {
                return;
            }
        }
        if (!AsNode(parent)->AddChildNode(AsNode(current)))
            return;
        if (IsShownNode(tree, parent)) {
            EmitSubtree(tree, current, batch);
            return;
        }
        if (parent->GetParent())
            return;
        holdsLinked = true;
        current = parent;
    }
}

IFileNode* CDirectoryTreeBuilder::FindParent(_DIRECTORY_TREE_INFO& tree, IFileNode* node) {
    const long long parentId = node->GetParentNodeID();
    if (parentId == tree.rootId) {
        IFileNode* volume = VolumeFolderOf(tree, node);
        return volume ? volume : tree.root;
    }
    const _PARENT_INFO candidates = tree.folders.Find(parentId);
    if (!candidates.first)
        return nullptr;
    return GetCorrectParent(tree.trashId, candidates, node);
}

IFileNode* CDirectoryTreeBuilder::VolumeFolderOf(_DIRECTORY_TREE_INFO& tree, IFileNode* node) {
    if (node->GetCurrentNodeID() == kVolumeFolderNodeId)
        return nullptr;
    IFileNode* volume = nullptr;
    tree.folders.Find(kVolumeFolderNodeId).ForEach([&](IFileNode* e) {
        if (!volume && e != node && SamePartition(e, node))
            volume = e;
    });
    return volume;
}

IFileNode* CDirectoryTreeBuilder::GetCorrectParent(long long trashId,
                                                   const _PARENT_INFO& candidates,
                                                   IFileNode* node) {
    // Another volume's folder is never a node's parent, whatever id it
    // carries: without a folder of its own volume the node stays unplaced
    // (and ends among the lost files).
    if (!candidates.HasMore())
        return SamePartition(candidates.first, node) ? candidates.first : nullptr;
    auto insideTrash = [&](IFileNode* c) {
        if (trashId == 0)
            return false;
        // Parent links never loop (linking refuses it); the bound guards
        // against a chain longer than any real volume holds.
        int steps = 0;
        for (IFileNode* p = c; p && steps < 1 << 16; p = p->GetParent(), ++steps) {
            if (p->GetCurrentNodeID() == trashId)
                return true;
        }
        return false;
    };
    IFileNode* pick = nullptr;
    candidates.ForEach([&](IFileNode* e) {
        if (!pick && e != node && e->IsDirectory() && SamePartition(e, node) && !e->IsDeleted() &&
            insideTrash(e)) {
            pick = e;
        }
    });
    if (pick)
        return pick;
    candidates.ForEach([&](IFileNode* e) {
        if (!pick && e != node && e->IsDirectory() && SamePartition(e, node))
            pick = e;
    });
    if (pick)
        return pick;
    candidates.ForEach([&](IFileNode* e) {
        if (!pick && e != node && SamePartition(e, node))
            pick = e;
    });
    return pick;
}

void CDirectoryTreeBuilder::EmitSubtree(_DIRECTORY_TREE_INFO&, IFileNode* top,
                                        std::vector<IFileNode*>& batch) {
    std::vector<IFileNode*>& stack = walk_;
    stack.assign(1, top);
    while (!stack.empty()) {
        IFileNode* n = stack.back();
        stack.pop_back();
        const uint32_t marks = MarksOf(n);
        if (marks & kRecorded) {
            if (marks & kShown)
                continue;
            SetMarks(n, kShown);
        }
        batch.push_back(n);
        for (IFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode())
            stack.push_back(c);
    }
}

bool CDirectoryTreeBuilder::IsEmptyFolder(IFileNode* folder) {
    std::vector<IFileNode*>& stack = emptyWalk_;
    stack.assign(1, folder);
    while (!stack.empty()) {
        IFileNode* n = stack.back();
        stack.pop_back();
        // A folder whose entries could not all be read may hold files that
        // were not found: it is shown, so the loss is seen.
        if (static_cast<CFileNode*>(n)->IsDamaged())
            return false;
        for (IFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode()) {
            if (!c->IsDirectory())
                return false;
            stack.push_back(c);
        }
    }
    return true;
}

// Whether the folder sits in the invoking user's home: its folder path,
// climbed through the recorded folders, equals that home.
bool CDirectoryTreeBuilder::IsUserTrashFolder(_DIRECTORY_TREE_INFO& tree, IFileNode* folder) {
    std::string home = hooks_.userHome();
    if (home.empty())
        return false;
    if (home.back() != '/')
        home += '/';
    std::vector<std::string> parts;
    std::unordered_set<IFileNode*> seen{folder};
    IFileNode* current = folder;
    for (;;) {
        const long long parentId = current->GetParentNodeID();
        if (parentId == tree.rootId)
            break;
        const _PARENT_INFO candidates = tree.folders.Find(parentId);
        if (!candidates.first)
            return false;
        IFileNode* parent = GetCorrectParent(tree.trashId, candidates, current);
        // A loop of parent ids never reaches the root.
        if (!parent || !seen.insert(parent).second)
            return false;
        parts.emplace_back(NameOf(parent));
        // No home is deeper than this; a longer chain cannot match.
        if (parts.size() > 256)
            return false;
        current = parent;
    }
    std::string path = "/";
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        path += *it + "/";
    return path == home;
}

void CDirectoryTreeBuilder::ShowNodes(_DIRECTORY_TREE_INFO& tree, std::vector<IFileNode*>& nodes,
                                      int lost) {
    if (nodes.empty())
        return;
    // Shown nodes are owned through the shown list whether or not anybody
    // receives them: they are linked into the root's tree.
    for (IFileNode* n : nodes) {
        n->IsCompressed();
        tree.shown.push_back(n);
    }
    tree.shownTotal += static_cast<int64_t>(nodes.size());
    if (!receiver_)
        return;
    // The receiver takes its own locks, and may take the tree lock.
    TreeUnguard calling(*this);
    if (!tree.rootSent) {
        tree.rootSent = 1;
        receiver_->ShowFilesystemNode(tree.root);
        hooks_.sleep(1);
    }
    receiver_->ShowNodes(nodes.data(), static_cast<unsigned>(nodes.size()), lost);
}

bool CDirectoryTreeBuilder::InsertToRecycleBin(IFileNode* node, _tagSearcherType type) {
    const char* name = NameOf(node);
    bool divert =
        CRecyclerFilter::IsRecycledName(name) || CRecyclerFilter::IsRecycleBinFolder(node);
    if (!divert) {
        int steps = 0;
        for (IFileNode* p = node->GetParent(); p && steps < 1 << 16; p = p->GetParent(), ++steps) {
            if (CRecyclerFilter::IsRecycleBinFolder(p)) {
                divert = true;
                break;
            }
        }
    }
    if (!divert) {
        const long long parentId = node->GetParentNodeID();
        divert =
            std::any_of(recycleFolderIds_.begin(), recycleFolderIds_.end(),
                        [&](const auto& f) { return f.first == parentId && f.second == type; });
    }
    if (!divert)
        return false;
    if (node->GetAttribute() & 0x10) {
        recycleFolders_.push_back({node, type});
        recycleFolderIds_.emplace_back(node->GetCurrentNodeID(), type);
    } else if (CRecyclerFilter::IsIndexFileName(name)) {
        indexFiles_.push_back({node, type});
    } else {
        recycledFiles_.push_back({node, type});
    }
    return true;
}

void CDirectoryTreeBuilder::RestoreRecycledName(IFileNode* node, _tagSearcherType type) {
    const char* name = NameOf(node);
    if (name[0] != '$' || name[1] != 'R' || CRecyclerFilter::IsRecycleBinFolder(node) || !device_)
        return;
    auto pair = std::find_if(indexFiles_.begin(), indexFiles_.end(), [&](const Diverted& d) {
        return d.type == type && CRecyclerFilter::IsPair(name, NameOf(d.node));
    });
    if (pair == indexFiles_.end())
        return;
    IFileNode* index = pair->node;
    const long long size = index->GetFileSize();
    if (size > kIndexFileMaxSize)
        return;
    // Runs count clusters from the partition record's run origin: 0 on an
    // NTFS volume, the data area's first sector on FAT.
    const long long startSector = partition_ ? partition_->runOriginSector : 0;
    const unsigned sectorsPerCluster =
        partition_ && partition_->sectorsPerCluster ? partition_->sectorsPerCluster : 2;
    IResidentDataService* service = vk::ResidentDataService();
    vk::ReleasePtr<IFileReader> reader(
        service ? service->CreateResidentDataReader(device_, index, startSector, sectorsPerCluster)
                : nullptr);
    indexFiles_.erase(pair);
    std::string original;
    if (reader) {
        unsigned char buffer[512] = {};
        int error = 0;
        const unsigned want = static_cast<unsigned>(std::clamp<long long>(size, 0, sizeof(buffer)));
        const unsigned got = reader->ReadData(0, reinterpret_cast<char*>(buffer), want, &error);
        reader.reset();
        original = CRecyclerFilter::NameFromIndexFile(buffer, std::min<unsigned>(got, want));
    }
    index->Release();
    if (original.empty())
        return;
    IFileProperties* props =
        RulesOf(type).recycledNameToProperties ? CRecyclerFilter::GetFileProperties(node) : nullptr;
    if (props) {
        props->SetFileName(original.c_str());
    } else {
        node->SetFileName(original.c_str());
    }
}

void CDirectoryTreeBuilder::ReaddRecycled(_tagSearcherType type) {
    auto takeOfType = [&](std::vector<Diverted>& list) {
        std::vector<IFileNode*> taken;
        std::erase_if(list, [&](const Diverted& d) {
            if (d.type != type)
                return false;
            taken.push_back(d.node);
            return true;
        });
        return taken;
    };
    std::vector<IFileNode*> nodes = takeOfType(recycleFolders_);
    std::vector<IFileNode*> files = takeOfType(recycledFiles_);
    nodes.insert(nodes.end(), files.begin(), files.end());
    std::erase_if(recycleFolderIds_, [&](const auto& f) { return f.second == type; });
    for (IFileNode* n : nodes) {
        RestoreRecycledName(n, type);
        // The builder took these nodes once; one refused now (a copy, a
        // hidden name) is still ours to free.
        if (!AddNode(n, type))
            n->Release();
    }
    // Index files without a data file describe nothing left to recover.
    for (IFileNode* n : takeOfType(indexFiles_))
        n->Release();
}

void CDirectoryTreeBuilder::BuildUntilDone(_DIRECTORY_TREE_INFO& tree) {
    for (;;) {
        std::vector<IFileNode*> batch = BuildTree(tree, true);
        if (batch.empty())
            return;
        ShowNodes(tree, batch, 0);
    }
}

// A pending node below a deleted folder is deleted too. Each chain is
// climbed once: what is settled either way is remembered.
void CDirectoryTreeBuilder::PropagateDeleted(_DIRECTORY_TREE_INFO& tree) {
    std::vector<CFileNode*>& path = path_;
    for (IFileNode* node : tree.pending) {
        if (!node || node->IsDeleted())
            continue;
        path.clear();
        bool deleted = false;
        IFileNode* current = node;
        while (current) {
            if (current->IsDeleted()) {
                deleted = true;
                break;
            }
            const uint32_t marks = MarksOf(current);
            if (!(marks & kRecorded) || (marks & (kShown | kSettled | kOnPath)))
                break;
            SetMarks(current, kOnPath);
            path.push_back(AsNode(current));
            IFileNode* parent = current->GetParent();
            current = parent ? parent : FindParent(tree, current);
        }
        // The deleted ancestor's mark carries down the chain from the top.
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (deleted)
                (*it)->MarkDeleted();
            (*it)->SetBuilderMarks(((*it)->GetBuilderMarks() & ~kOnPath) | kSettled);
        }
    }
}

void CDirectoryTreeBuilder::BuildLostNodes(_DIRECTORY_TREE_INFO& tree) {
    CatchExeception::Trace("CDirectoryTreeBuilder::BuildLostNodes entry\n");
    const bool showNormal = !filter_ || filter_->ShowNormalFiles();
    // Empty files under a folder are dropped from it first, so that a
    // folder left with nothing is judged empty.
    for (IFileNode* n : tree.pending) {
        if (!n || n->IsDirectory() || n->GetFileSize() != 0 || !IsPendingNode(tree, n))
            continue;
        if (auto* parent = dynamic_cast<CFileNode*>(n->GetParent()))
            parent->RemoveChild(static_cast<CFileNode*>(n));
    }
    // A deep scan's volume keeps its lost files in a folder of its own;
    // the tree's folder holds those of no known volume.
    auto makeLost = [&] {
        return new CFilesystemNode("Other lost files", "LostFiles", tree.root->GetSearcheType(),
                                   -1);
    };
    CFilesystemNode* lost = makeLost();
    std::vector<std::pair<IFileNode*, CFilesystemNode*>> volumeLost;
    for (IFileNode* n : tree.pending) {
        if (!n || n->GetParent() || !IsPendingNode(tree, n))
            continue;
        if (n->IsDirectory()) {
            if (n->GetCurrentNodeID() == kVolumeFolderNodeId || IsEmptyFolder(n))
                continue;
        } else if (n->GetFileSize() == 0 || (!n->IsDeleted() && !showNormal)) {
            continue;
        }
        CFilesystemNode* into = lost;
        if (IFileNode* volume = VolumeFolderOf(tree, n)) {
            auto it = std::find_if(volumeLost.begin(), volumeLost.end(),
                                   [&](const auto& v) { return v.first == volume; });
            if (it == volumeLost.end()) {
                volumeLost.emplace_back(volume, makeLost());
                it = volumeLost.end() - 1;
                it->second->SetBelongedPartition(AsNode(volume)->GetBelongedPartition());
            }
            into = it->second;
        }
        into->AddChild(n);
    }
    for (auto& [volume, folder] : volumeLost) {
        std::vector<IFileNode*> batch;
        for (IFileNode* c = folder->GetFirstChild(); c; c = c->GetNextNode())
            EmitSubtree(tree, c, batch);
        volume->AddChild(folder);
        batch.push_back(folder);
        if (!IsShownNode(tree, volume)) {
            // The volume's folder had nothing placed in it until now.
            if (!volume->GetParent())
                tree.root->AddChild(volume);
            SetMarks(volume, kShown);
            batch.push_back(volume);
        }
        ShowNodes(tree, batch, 1);
    }
    std::vector<IFileNode*> batch;
    for (IFileNode* c = lost->GetFirstChild(); c; c = c->GetNextNode())
        EmitSubtree(tree, c, batch);
    CatchExeception::Trace("CDirectoryTreeBuilder BuildLostNodes nodsNotify.size() = %ld.\n",
                           static_cast<long>(batch.size()));
    if (batch.empty()) {
        lost->Release();
        return;
    }
    tree.root->AddChild(lost);
    // The folder joins the batch and, with it, the shown nodes it owns.
    batch.push_back(lost);
    ShowNodes(tree, batch, 1);
}

void CDirectoryTreeBuilder::ReleaseUnshown(_DIRECTORY_TREE_INFO& tree) {
    for (auto* index : {&tree.files, &tree.folders}) {
        int released = 0;
        index->ForEach([&](long long, const _PARENT_INFO& info) {
            info.ForEach([&](IFileNode* e) {
                if (MarksOf(e) & kShown)
                    return;
                if (replay_) {
                    tree.extraOwned.push_back(e);
                } else {
                    e->Release();
                    ++released;
                }
            });
        });
        index->Clear();
        CatchExeception::Trace(
            "CDirectoryTreeBuilder::ReleaseNodeByFilter --- nReleasedCount = %d\n", released);
    }
}

void CDirectoryTreeBuilder::FlashBuild(_tagSearcherType type) {
    _DIRECTORY_TREE_INFO* tree = FindTree(type);
    if (!tree)
        return;
    flushing_ = true;
    // Reads the recycle bin's index files from the device: not under the
    // tree lock (each node it adds again takes the lock in AddNode).
    ReaddRecycled(type);
    TreeGuard guard(*this);
    BuildUntilDone(*tree);

    if (!tree->trashFound) {
        for (IFileNode* candidate : tree->trashCandidates) {
            if (IsUserTrashFolder(*tree, candidate)) {
                candidate->MarkDeleted();
                tree->trashId = candidate->GetCurrentNodeID();
                tree->trashFound = 1;
                break;
            }
        }
    }
    PropagateDeleted(*tree);
    BuildUntilDone(*tree);
    BuildLostNodes(*tree);

    // Nodes never shown go now; the shown ones live as long as the builder.
    // No reader can reach an unshown node (nor does one link to a shown
    // one), so the many releases run without the tree lock.
    {
        TreeUnguard releasing(*this);
        ReleaseUnshown(*tree);
    }
    tree->pending.clear();
    tree->pending.shrink_to_fit();
    tree->toTry.clear();
    tree->waiting.clear();
    tree->waitLinks.clear();
    tree->waitLinks.shrink_to_fit();
    tree->freeWaitLink = -1;
    tree->trashCandidates.clear();

    CatchExeception::Trace(
        "CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total files: %lld\n", type,
        static_cast<long long>(tree->shownTotal));
    CatchExeception::Trace(
        "CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total added files: %lld\n", type,
        static_cast<long long>(tree->addedTotal));
    flushing_ = false;
}
