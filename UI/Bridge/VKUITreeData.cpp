#include "VKUITreeData.h"

#include <strings.h>

#include <cstdio>
#include <unordered_set>

#include "BridgeServices.h"
#include "VKUIPublic.h"

namespace {

// The trees of a program that has no scan source yet: nothing to show.
class NullTreeIndexSource final : public ITreeIndexSource {
public:
    std::vector<IFileNode*> GetFileSystemNode() override { return {}; }
    std::vector<IFileNode*> VKGetNewPathNode() override { return {}; }
    std::vector<IFileNode*> VKGetAllPathNode() override { return {}; }
    int FindRemoveData(IFileNode*) override { return 0; }
    void SetOpTreeFinished(int) override {}
    int GetScanType() override { return OP_TREE_PATH; }
    void DoSearch(std::vector<IFileNode*>& hits) override { hits.clear(); }
    int IsSearching() override { return searching_; }
    void SetSearching(int searching) override { searching_ = searching; }
    void SetSearchKey(const std::string&) override {}
    std::string GetSearchKey() override { return {}; }
    void SetNeedUIUpdate(int) override {}
    TypeIndexMap GetTypeMap() override { return {}; }
    DateIndexMap GetCreateTimeMap() override { return {}; }
    DateIndexMap GetModifyTimeMap() override { return {}; }
    void UnselectAllNodes() override {}
    std::vector<OpNodePtr> TypeRootNodes() override { return {}; }
    void RefreshTypeTree() override {}
    void TypeSetSearch(int) override {}
    void TypeSetNeedRefreshTree() override {}
    int TypeIsOtherNode(const OpNodeData*) override { return 0; }
    void TypeSetNodeState(OpNodeData*) override {}
    void RefreshTypeTreeState() override {}
    void RefreshTimeTree(OpNodeData*, int,
                         const std::function<void(IFileNode*, OpNodeData*)>&) override {}
    void TimeSetSearch(int) override {}
    void TimeSetNeedRefreshTree() override {}
    int TimeGetNeedRefreshTree() override { return 1; }
    void TimeResetNeedRefreshTree() override {}

private:
    std::atomic<int> searching_{0};
};

std::string Title(const char* format, int value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

OpNodeData* ChildNode(const OpChild& child) {
    const auto* node = std::get_if<OpNodePtr>(&child);
    return node != nullptr ? node->get() : nullptr;
}

int FindTitled(const std::vector<OpChild>& children, const std::string& title) {
    for (size_t i = 0; i < children.size(); ++i) {
        if (OpNodeData* node = ChildNode(children[i]);
            node != nullptr && node->fileNode() == nullptr && node->fadeName() == title)
            return static_cast<int>(i);
    }
    return -1;
}

void InsertSorted(OpNodeData* parent, const OpNodePtr& child) {
    const int at = VKUITreeData::GetDateInsertIndex(child->name(), parent->children());
    if (at < 0)
        parent->addChildObject(child);
    else
        parent->insertChildObject(static_cast<size_t>(at), child);
}

void FreeAll(std::vector<OpNodePtr>& array) {
    // Letting go of a deep path tree node by node would recurse once per
    // level; free() takes it apart without recursion.
    for (OpNodePtr& node : array) {
        if (node)
            node->free();
    }
    array.clear();
}

std::mutex& ProgramMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::shared_ptr<ITreeIndexSource>& ProgramSource() {
    static auto* source = new std::shared_ptr<ITreeIndexSource>;
    return *source;
}

}  // namespace

// The program's trees live as long as the process (reachable, so that
// leak checks see them).
VKUITreeData& VKUITreeData::instance() {
    static VKUITreeData* trees = [] {
        std::lock_guard<std::mutex> hold(ProgramMutex());
        return new VKUITreeData(ProgramSource());
    }();
    return *trees;
}

void VKUITreeData::InstallSource(std::shared_ptr<ITreeIndexSource> source) {
    {
        std::lock_guard<std::mutex> hold(ProgramMutex());
        ProgramSource() = source;
    }
    VKUITreeData& trees = instance();
    trees.WaitSearch();
    std::lock_guard<std::mutex> hold(trees.sourceMutex_);
    trees.source_ = source ? std::move(source) : std::make_shared<NullTreeIndexSource>();
}

VKUITreeData::VKUITreeData(std::shared_ptr<ITreeIndexSource> source)
    : source_(source ? std::move(source) : std::make_shared<NullTreeIndexSource>()) {}

VKUITreeData::~VKUITreeData() {
    WaitSearch();
    std::lock_guard<std::mutex> hold(mutex_);
    ResetLocked();
}

std::shared_ptr<ITreeIndexSource> VKUITreeData::Source() {
    std::lock_guard<std::mutex> hold(sourceMutex_);
    return source_;
}

std::vector<OpNodePtr> VKUITreeData::Snapshot(int kind) {
    std::lock_guard<std::mutex> hold(mutex_);
    switch (kind) {
        case OP_TREE_PATH:
            return *path_;
        case OP_TREE_FILE_TYPE:
            return *type_;
        case OP_TREE_CREATION_DATE:
            return *created_;
        case OP_TREE_MODIFICATION_DATE:
            return *modified_;
        default:
            return {};
    }
}

void VKUITreeData::UseArrays(std::vector<OpNodePtr>* path, std::vector<OpNodePtr>* type,
                             std::vector<OpNodePtr>* created, std::vector<OpNodePtr>* modified) {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto use = [](std::vector<OpNodePtr>*& current, std::vector<OpNodePtr>* next,
                        std::vector<OpNodePtr>& own) {
        if (next == nullptr)
            next = &own;
        if (next == current)
            return;
        next->insert(next->end(), current->begin(), current->end());
        current->clear();
        current = next;
    };
    use(path_, path, own_.path);
    use(type_, type, own_.type);
    use(created_, created, own_.created);
    use(modified_, modified, own_.modified);
}

size_t VKUITreeData::WaitingCount() {
    std::lock_guard<std::mutex> hold(mutex_);
    return waiting_.size();
}

void VKUITreeData::VKResetTreeNodeData() {
    std::lock_guard<std::mutex> hold(mutex_);
    ResetLocked();
}

void VKUITreeData::ResetLocked() {
    FreeAll(*path_);
    // The type groups belong to the type index, which keeps them across
    // refreshes: only the array lets go of them.
    type_->clear();
    FreeAll(*created_);
    FreeAll(*modified_);
    waiting_.clear();
    wrappers_.clear();
}

int VKUITreeData::VKGetTreeNodeData(int force) {
    std::lock_guard<std::mutex> hold(mutex_);
    RebuildLocked(force);
    return 1;
}

void VKUITreeData::RebuildLocked(int force) {
    AddTypeNodeToArr();
    AddDateNodeToArray((*created_), OP_TREE_CREATION_DATE);
    AddDateNodeToArray((*modified_), OP_TREE_MODIFICATION_DATE);
    PathUpdateLocked(force, false);
}

void VKUITreeData::AddTypeNodeToArr(bool afterSearch) {
    std::shared_ptr<ITreeIndexSource> source = Source();
    if (afterSearch)
        source->RefreshTypeTreeAfterSearch();
    else
        source->RefreshTypeTree();
    if (type_->empty())
        (*type_) = source->TypeRootNodes();
}

void VKUITreeData::AddDateNodeToArray(std::vector<OpNodePtr>& array, int kind, bool afterSearch) {
    if (array.empty()) {
        const char* key = kind == OP_TREE_CREATION_DATE       ? "CREATE_TIME_ROOT_NAME"
                          : kind == OP_TREE_MODIFICATION_DATE ? "MODIFY_TIME_ROOT_NAME"
                          : kind == OP_TREE_ACCESS_DATE       ? "LAST_ACCESS_TIME_ROOT_NAME"
                                                              : "";
        const std::string title =
            *key != '\0' ? velmora::bridge::CurrentTextCatalog()->Text(key, key) : std::string();
        OpNodePtr root = OpNodeData::makeGroup(kind, title);
        root->setExpandAble(1);
        array.push_back(root);
    }
    const auto file = [this](IFileNode* node, OpNodeData* root) { AddFileNode(node, root); };
    if (afterSearch)
        Source()->RefreshTimeTreeAfterSearch(array.front().get(), kind, file);
    else
        Source()->RefreshTimeTree(array.front().get(), kind, file);
}

// One pass over folders and roots: each gets its wrapper when its parent
// has one; the others wait for a later pass.
void VKUITreeData::WrapPass(std::vector<OpNodePtr>& scratch, const std::vector<IFileNode*>& nodes,
                            std::vector<IFileNode*>& waiting) {
    std::shared_ptr<ITreeIndexSource> source = Source();
    source->SetOpTreeFinished(0);
    for (IFileNode* node : nodes) {
        if (node == nullptr || wrappers_.count(node) != 0)
            continue;
        IFileNode* parent = node->GetParent();
        OpNodeData* parentWrapper = nullptr;
        if (parent != nullptr) {
            auto it = wrappers_.find(parent);
            if (it == wrappers_.end()) {
                waiting.push_back(node);
                continue;
            }
            parentWrapper = it->second;
        }
        OpNodePtr wrapper = OpNodeData::initWithNodeData(
            {node->IsDirectory(), node->IsDeleted(), parent == nullptr ? 1 : 0, node});
        wrapper->setExpandAble(parent == nullptr ? 1 : 0);
        if (parentWrapper != nullptr) {
            wrapper->setParent(parentWrapper);
            parentWrapper->setExpandAble(1);
        }
        wrappers_[node] = wrapper.get();
        scratch.push_back(std::move(wrapper));
    }
    source->SetOpTreeFinished(1);
}

// Wraps a folder of a search hit and, first, its ancestors that have no
// wrapper yet. Climbs the parent chain in a loop: a chain can be far deeper
// than a call per level would allow.
int VKUITreeData::VKAddSearchFileNodeToOpTree(std::vector<OpNodePtr>& scratch, IFileNode* node) {
    if (node == nullptr)
        return 0;
    std::vector<IFileNode*> chain;
    std::unordered_set<IFileNode*> seen;
    IFileNode* at = node;
    while (at != nullptr && wrappers_.count(at) == 0) {
        if (!seen.insert(at).second)
            return 0;  // a parent chain that loops has no top to hang from
        chain.push_back(at);
        at = at->GetParent();
    }
    OpNodeData* parentWrapper = at != nullptr ? wrappers_[at] : nullptr;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        IFileNode* current = *it;
        const bool top = parentWrapper == nullptr;
        OpNodePtr wrapper = OpNodeData::initWithNodeData(
            {current->IsDirectory(), current->IsDeleted(), top ? 1 : 0, current});
        wrapper->setExpandAble(top ? 1 : 0);
        if (!top) {
            wrapper->setParent(parentWrapper);
            parentWrapper->setExpandAble(1);
        }
        parentWrapper = wrapper.get();
        wrappers_[current] = wrapper.get();
        scratch.push_back(std::move(wrapper));
    }
    return 1;
}

void VKUITreeData::PathUpdateLocked(int flag, bool search) {
    std::shared_ptr<ITreeIndexSource> source = Source();
    std::vector<OpNodePtr> scratch;
    if (search) {
        // The folders that hold hits, with their ancestors: the path tree
        // of a search shows nothing else.
        const std::vector<IFileNode*> hits = searchHits_;
        source->SetOpTreeFinished(0);
        for (IFileNode* hit : hits) {
            if (hit != nullptr && hit->GetParent() != nullptr)
                VKAddSearchFileNodeToOpTree(scratch, hit->GetParent());
        }
        source->SetOpTreeFinished(1);
    } else {
        std::vector<IFileNode*> nodes =
            flag == 2 ? source->VKGetAllPathNode() : source->VKGetNewPathNode();
        std::vector<IFileNode*> next;
        WrapPass(scratch, nodes, next);
        // Folders of this pass whose parent came in later in the same list
        // join those still waiting from before: one retry each refresh,
        // up to 100 when the refresh is forced.
        // A folder reported again (all folders taken again) waits once.
        std::unordered_set<IFileNode*> waiting(waiting_.begin(), waiting_.end());
        for (IFileNode* node : next) {
            if (waiting.insert(node).second)
                waiting_.push_back(node);
        }
        for (int pass = 0; !waiting_.empty() && pass <= (flag != 0 ? 100 : 0); ++pass) {
            std::vector<IFileNode*> still;
            const std::vector<IFileNode*> retry = std::move(waiting_);
            WrapPass(scratch, retry, still);
            waiting_ = std::move(still);
            if (waiting_.size() == retry.size())
                break;  // nothing changed: further passes change nothing either
        }
    }
    for (OpNodePtr& node : scratch) {
        if (OpNodeData* parent = node->parent())
            parent->addChildObject(node);
        else
            path_->push_back(node);
    }
}

void VKUITreeData::AddPathNodeToArray(std::vector<OpNodePtr>& array) {
    std::shared_ptr<ITreeIndexSource> source = Source();
    std::vector<OpNodeData*> pending;
    for (const OpNodePtr& node : array)
        pending.push_back(node.get());
    while (!pending.empty()) {
        OpNodeData* element = pending.back();
        pending.pop_back();
        if (element == nullptr)
            continue;
        IFileNode* folder = element->fileNode();
        if (folder != nullptr && element->isExpandAble()) {
            std::unordered_set<IFileNode*> seen;
            for (IFileNode* child = folder->GetFirstChild(); child != nullptr;
                 child = child->GetNextNode()) {
                if (!seen.insert(child).second)
                    break;
                // A folder wrapped anywhere already (by a scan refresh) is
                // not wrapped twice.
                if (!child->IsDirectory() || !child->IsNodeShow() ||
                    source->FindRemoveData(child) != 1 || wrappers_.count(child) != 0)
                    continue;
                OpNodePtr wrapper = OpNodeData::initWithNodeData({0, 0, 0, child});
                wrapper->setType(OP_TREE_PATH);
                wrapper->setExpandAble(1);
                wrapper->setParent(element);
                wrappers_[child] = wrapper.get();
                element->addChildObject(std::move(wrapper));
            }
        }
        for (const OpChild& child : element->children()) {
            if (OpNodeData* node = ChildNode(child))
                pending.push_back(node);
        }
    }
}

void VKUITreeData::AddNodeToArr(int kind) {
    switch (kind) {
        case OP_TREE_PATH:
            AddPathNodeToArray(*path_);
            break;
        case OP_TREE_FILE_TYPE:
            AddTypeNodeToArr();
            break;
        case OP_TREE_CREATION_DATE:
            AddDateNodeToArray((*created_), OP_TREE_CREATION_DATE);
            break;
        case OP_TREE_MODIFICATION_DATE:
            AddDateNodeToArray((*modified_), OP_TREE_MODIFICATION_DATE);
            break;
        default:
            break;
    }
}

int VKUITreeData::GetScanTreeNodeData(int clear, std::vector<OpNodePtr>* roots) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (roots == nullptr)
        roots = path_;
    std::shared_ptr<ITreeIndexSource> source = Source();
    source->SetOpTreeFinished(0);
    const int kind = source->GetScanType();
    for (IFileNode* root : source->GetFileSystemNode()) {
        if (root == nullptr)
            continue;
        if (clear != 0) {
            root->ShowNode(1);
            root->SetCheck(CHECK_UNCHECKED);
        }
        if (kind == OP_TREE_PATH && wrappers_.count(root) == 0) {
            OpNodePtr wrapper =
                OpNodeData::initWithNodeData({root->IsDirectory(), root->IsDeleted(), 1, root});
            wrapper->setExpandAble(1);
            wrappers_[root] = wrapper.get();
            roots->push_back(std::move(wrapper));
        }
    }
    AddNodeToArr(kind);
    source->SetOpTreeFinished(1);
    return 0;
}

// --- Search ---------------------------------------------------------------

int VKUITreeData::DoSearchWithString(const std::string& text, const std::string& postKey) {
    std::lock_guard<std::mutex> hold(searchThreadMutex_);
    std::shared_ptr<ITreeIndexSource> source = Source();
    if (source->IsSearching())
        return 0;
    source->SetSearching(1);
    source->SetSearchKey(text);
    // A search whose flag was cleared may still be finishing its trees.
    searchThread_.Join();
    searchThread_ = velmora::bridge::StartThread([this, postKey] { DoSearchFn(postKey); });
    if (!searchThread_.Joinable()) {
        source->SetSearching(0);
        return 0;
    }
    return 1;
}

void VKUITreeData::DoSearchFn(const std::string& postKey) {
    std::shared_ptr<ITreeIndexSource> source = Source();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        source->TypeSetSearch(1);
        source->TimeSetSearch(1);
        ResetLocked();
        searchHits_.clear();
        source->DoSearch(searchHits_);
        RebuildWithSearchLocked(postKey);
        VKUIPublic::NotifyMainThread("DoSearchFinished");
        searchHits_.clear();
    }
    source->SetNeedUIUpdate(0);
}

// The tree the browser shows comes first, so that it can show the hits
// while the other trees are still being made.
void VKUITreeData::RebuildWithSearchLocked(const std::string& key) {
    const int kind = Source()->GetScanType();
    auto path = [this] { PathUpdateLocked(0, true); };
    // The source's search left what it found: the trees file just that.
    auto type = [this] { AddTypeNodeToArr(true); };
    auto created = [this] { AddDateNodeToArray((*created_), OP_TREE_CREATION_DATE, true); };
    auto modified = [this] { AddDateNodeToArray((*modified_), OP_TREE_MODIFICATION_DATE, true); };
    switch (kind) {
        case OP_TREE_FILE_TYPE:
            type();
            VKUIPublic::NotifyMainThread(key);
            created();
            modified();
            path();
            break;
        case OP_TREE_PATH:
            path();
            VKUIPublic::NotifyMainThread(key);
            type();
            created();
            modified();
            break;
        case OP_TREE_MODIFICATION_DATE:
            modified();
            VKUIPublic::NotifyMainThread(key);
            type();
            created();
            path();
            break;
        case OP_TREE_CREATION_DATE:
            created();
            VKUIPublic::NotifyMainThread(key);
            type();
            modified();
            path();
            break;
        default:
            break;
    }
}

std::string VKUITreeData::GetSearchString() {
    return Source()->GetSearchKey();
}

void VKUITreeData::StopSearch() {
    Source()->SetSearching(0);
}

int VKUITreeData::VKGetIsSearching() {
    return Source()->IsSearching();
}

void VKUITreeData::WaitSearch() {
    std::lock_guard<std::mutex> hold(searchThreadMutex_);
    searchThread_.Join();
}

void VKUITreeData::GetSearchResultToArr(std::vector<IFileNode*>& list) {
    std::shared_ptr<ITreeIndexSource> source = Source();
    if (source->GetSearchKey().empty())
        return;
    std::lock_guard<std::mutex> hold(mutex_);
    for (const auto& [category, nodes] : source->GetTypeMap()) {
        for (IFileNode* node : nodes) {
            if (node != nullptr && node->IsNodeShow())
                list.push_back(node);
        }
    }
}

// --- Tick marks -------------------------------------------------------------

int VKUITreeData::VKCleanState() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::shared_ptr<ITreeIndexSource> source = Source();
    source->SetOpTreeFinished(0);
    for (IFileNode* root : source->GetFileSystemNode()) {
        if (root != nullptr) {
            root->ShowNode(1);
            root->SetCheck(CHECK_UNCHECKED);
        }
    }
    source->SetOpTreeFinished(1);
    return 1;
}

int VKUITreeData::VKCleanOpNodeSate() {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto* array : {path_, type_, created_, modified_}) {
        for (const OpNodePtr& node : *array) {
            if (node)
                node->setNodeState(CHECK_UNCHECKED);
        }
    }
    return 1;
}

void VKUITreeData::UnselectedAllNodes() {
    std::lock_guard<std::mutex> hold(mutex_);
    Source()->UnselectAllNodes();
}

void VKUITreeData::VKTableViewCellCilck() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::shared_ptr<ITreeIndexSource> source = Source();
    source->TypeSetNeedRefreshTree();
    source->TimeSetNeedRefreshTree();
}

void VKUITreeData::SetNodeState(OpNodeData* node, int state) {
    if (node == nullptr)
        return;
    std::lock_guard<std::mutex> hold(mutex_);
    node->setNodeState(state);
}

// --- The browser's questions ----------------------------------------------

int VKUITreeData::GetFileNodeToArray(std::vector<OpChild>& list, OpNodeData* node) {
    if (node == nullptr)
        return 0;
    switch (node->type()) {
        case OP_TREE_PATH:
            return GetPathInfoToArray(list, node);
        case OP_TREE_FILE_TYPE:
            return GetTypeInfoToArray(list, node);
        case OP_TREE_CREATION_DATE:
        case OP_TREE_MODIFICATION_DATE:
        case OP_TREE_ACCESS_DATE:
            return GetDateInfoToArray(list, node);
        default:
            return 0;
    }
}

int VKUITreeData::GetPathInfoToArray(std::vector<OpChild>& list, OpNodeData* node) {
    if (node == nullptr || !node->isDirect())
        return 0;
    std::lock_guard<std::mutex> hold(mutex_);
    list.clear();
    IFileNode* folder = node->fileNode();
    if (folder == nullptr)
        return 0;
    // A damaged or hostile tree can chain siblings into a loop: each file is
    // listed once and the walk ends where the chain comes back.
    std::unordered_set<IFileNode*> seen;
    for (IFileNode* child = folder->GetFirstChild(); child != nullptr;
         child = child->GetNextNode()) {
        if (!seen.insert(child).second)
            break;
        if (!child->IsDirectory() && child->IsNodeShow())
            list.emplace_back(child);
    }
    return list.empty() ? 0 : 1;
}

int VKUITreeData::GetTypeInfoToArray(std::vector<OpChild>& list, OpNodeData* node) {
    if (node == nullptr)
        return 0;
    std::lock_guard<std::mutex> hold(mutex_);
    list.clear();
    if (node->parent() == nullptr && !Source()->TypeIsOtherNode(node))
        return 1;
    list = node->children();
    return 0;
}

int VKUITreeData::GetDateInfoToArray(std::vector<OpChild>& list, OpNodeData* node) {
    if (node == nullptr)
        return 0;
    std::lock_guard<std::mutex> hold(mutex_);
    list.clear();
    int year = 0;
    const time_t stamp = node->type() == OP_TREE_CREATION_DATE ? node->createtime()
                         : node->type() == OP_TREE_MODIFICATION_DATE
                             ? node->modifytime()
                             : velmora::bridge::CurrentClock()->Now();
    VKCPPPublic::instance().GetYearMonthByTimeT(&year, nullptr, stamp);
    if (node->parent() == nullptr || node->name() == Title("%04d", year))
        return 0;
    list = node->children();
    return 0;
}

uint64_t VKUITreeData::GetNodeChildrenCnt(OpNodeData* node) {
    std::lock_guard<std::mutex> hold(mutex_);
    return GetNodeChildrenCntImp(node);
}

uint64_t VKUITreeData::GetNodeChildrenCntImp(OpNodeData* node) {
    if (node == nullptr)
        return 0;
    const bool dateRoot = node->parent() == nullptr && (node->type() == OP_TREE_CREATION_DATE ||
                                                        node->type() == OP_TREE_MODIFICATION_DATE);
    uint64_t sum = 0;
    for (const OpChild& child : node->children()) {
        OpNodeData* sub = ChildNode(child);
        if (dateRoot) {
            sum += GetNodeChildrenCntImp(sub);
        } else if (sub == nullptr) {
            return node->children().size();
        } else {
            sum += sub->children().size();
        }
    }
    return sum;
}

void VKUITreeData::AddFileNode(IFileNode* node, OpNodeData* root) {
    if (node == nullptr || root == nullptr)
        return;
    // The tree's own kind says which time files the node: the tree shown
    // is not necessarily the one being filled.
    const int kind = root->type();
    long long time = 0;
    if (kind == OP_TREE_CREATION_DATE)
        time = node->GetCreationTime();
    else if (kind == OP_TREE_MODIFICATION_DATE)
        time = node->GetModificationTime();
    else if (kind == OP_TREE_ACCESS_DATE)
        time = node->GetLastAccessTime();
    else
        return;
    if (time == 0)
        return;  // never recorded: no date to file it under
    int year = 0, month = 0;
    VKCPPPublic::instance().GetYearMonthByFileTime(&year, &month,
                                                   U64ToFileTime(static_cast<uint64_t>(time)));
    if (year < 1 || month < 1)
        return;

    int index = -1;
    OpNodeData* yearNode = nullptr;
    if (IsYearNodeExist(year, root->children(), &index)) {
        yearNode = ChildNode(root->children()[static_cast<size_t>(index)]);
    } else {
        OpNodePtr created = OpNodeData::makeGroup(kind, Title("%04d", year));
        created->setExpandAble(1);
        created->setParent(root);
        InsertSorted(root, created);
        yearNode = created.get();
    }
    OpNodeData* monthNode = nullptr;
    index = FindTitled(yearNode->children(), Title("%02d", month));
    if (index >= 0) {
        monthNode = ChildNode(yearNode->children()[static_cast<size_t>(index)]);
    } else {
        OpNodePtr created = OpNodeData::makeGroup(kind, Title("%02d", month));
        created->setExpandAble(0);
        created->setParent(yearNode);
        const time_t now = velmora::bridge::CurrentClock()->Now();
        struct tm local {};
        ::localtime_r(&now, &local);
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_isdst = -1;
        const time_t stamp = ::mktime(&local);
        if (kind == OP_TREE_MODIFICATION_DATE) {
            yearNode->setModifyTime(stamp);
            created->setModifyTime(stamp);
        } else if (kind == OP_TREE_CREATION_DATE) {
            yearNode->setCreateTime(stamp);
            created->setCreateTime(stamp);
        }
        InsertSorted(yearNode, created);
        monthNode = created.get();
    }
    monthNode->addChildObject(node);
}

int VKUITreeData::GetDateInsertIndex(const std::string& title,
                                     const std::vector<OpChild>& children) {
    for (size_t i = 0; i < children.size(); ++i) {
        OpNodeData* node = ChildNode(children[i]);
        if (node != nullptr && ::strcasecmp(node->name().c_str(), title.c_str()) > 0)
            return static_cast<int>(i);
    }
    return -1;
}

int VKUITreeData::IsYearNodeExist(int year, const std::vector<OpChild>& years, int* index) {
    const int at = FindTitled(years, Title("%04d", year));
    if (at < 0)
        return 0;
    if (index != nullptr)
        *index = at;
    return 1;
}

int VKUITreeData::IsMonthNodeExist(int month, const std::vector<OpChild>& years, int year,
                                   int* index) {
    int at = -1;
    if (!IsYearNodeExist(year, years, &at))
        return 0;
    OpNodeData* yearNode = ChildNode(years[static_cast<size_t>(at)]);
    const int found = FindTitled(yearNode->children(), Title("%02d", month));
    if (found < 0)
        return 0;
    if (index != nullptr)
        *index = found;
    return 1;
}

void VKUITreeData::setNodeState(OpNodeData* month, const std::vector<IFileNode*>& nodes) {
    if (month == nullptr)
        return;
    int sum = 0, count = 0;
    int state = month->state();
    for (IFileNode* node : nodes) {
        if (node == nullptr || !node->IsNodeShow())
            continue;
        const int mark = node->GetCheckedStatus();
        sum += mark;
        ++count;
        if (mark > 0)
            state = CHECK_PARTLY;
        else if (sum > 0 && state == CHECK_PARTLY)
            break;  // ticked and unticked files: partly ticked, whatever follows
    }
    if (sum == 0)
        state = CHECK_UNCHECKED;
    else if (sum == 2 * count)
        state = CHECK_CHECKED;
    // The month's own mark and the groups above it; the files keep theirs.
    month->setParentNodeState(state);
}

void VKUITreeData::RefreshTimeTreeState(const std::vector<OpNodePtr>& roots, int onlyWhenMarked) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::shared_ptr<ITreeIndexSource> source = Source();
    if (onlyWhenMarked == 1) {
        if (!source->TimeGetNeedRefreshTree())
            return;
        source->TimeResetNeedRefreshTree();
    }
    DateIndexMap created, modified;
    bool haveCreated = false, haveModified = false;
    for (const OpNodePtr& root : roots) {
        if (!root)
            continue;
        const DateIndexMap* index = nullptr;
        if (root->type() == OP_TREE_CREATION_DATE) {
            if (!haveCreated)
                created = source->GetCreateTimeMap(), haveCreated = true;
            index = &created;
        } else if (root->type() == OP_TREE_MODIFICATION_DATE) {
            if (!haveModified)
                modified = source->GetModifyTimeMap(), haveModified = true;
            index = &modified;
        }
        static const std::vector<IFileNode*> none;
        for (const OpChild& y : root->children()) {
            OpNodeData* yearNode = ChildNode(y);
            if (yearNode == nullptr)
                continue;
            for (const OpChild& m : yearNode->children()) {
                OpNodeData* monthNode = ChildNode(m);
                if (monthNode == nullptr)
                    continue;
                // The titles say which month a group files: its time stamp
                // is today's date moved into that month, which spills into
                // the next month on the 31st of a shorter one.
                const int year = std::atoi(yearNode->name().c_str());
                const int month = std::atoi(monthNode->name().c_str());
                const std::vector<IFileNode*>* files = &none;
                if (index != nullptr) {
                    auto yit = index->find(year);
                    if (yit != index->end()) {
                        auto mit = yit->second.find(month);
                        if (mit != yit->second.end())
                            files = &mit->second;
                    }
                }
                setNodeState(monthNode, *files);
            }
        }
    }
}

void VKUITreeData::RefreshTypeTreeState(OpNodeData* node) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (node != nullptr)
        Source()->TypeSetNodeState(node);
    else
        Source()->RefreshTypeTreeState();
}

int VKUITreeData::IsTypeStringExsit(const char* name, const std::vector<OpNodePtr>& array) {
    if (name == nullptr)
        return 0;
    if (*name == '\0')
        return 1;
    for (const OpNodePtr& node : array) {
        if (node && node->name() == name)
            return 1;
    }
    return 0;
}
