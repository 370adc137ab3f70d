#include "FileNode.h"

#include <cstring>
#include <vector>

#include "DataRun.h"
#include "ReleasePtr.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"

namespace {

// Detects a loop while climbing a parent chain (Brent's method): constant
// memory, and a loop is noticed within a few turns of it.
class ChainGuard {
public:
    explicit ChainGuard(const CFileNode* start) : saved_(start) {}
    // False when `node` was met before: the chain loops.
    bool Next(const CFileNode* node) {
        if (node == saved_)
            return false;
        if (++steps_ == power_) {
            saved_ = node;
            power_ <<= 1;
            steps_ = 0;
        }
        return true;
    }

private:
    const CFileNode* saved_;
    unsigned long long power_ = 1;
    unsigned long long steps_ = 0;
};

void LogLoop(const CFileNode* node) {
    CatchExeception::WriteLog("CFileNode: parent chain of node %lld loops, walk stopped\n",
                              node->GetCurrentNodeID());
}

}  // namespace

CFileNode::~CFileNode() {
    if (parent_) {
        parent_->RemoveChild(this);
    } else if (prev_ || next_) {
        if (prev_)
            prev_->next_ = next_;
        if (next_)
            next_->prev_ = prev_;
    }
    for (CFileNode* child = firstChild_; child;) {
        CFileNode* following = child->next_;
        child->parent_ = nullptr;
        child->next_ = nullptr;
        child->prev_ = nullptr;
        child = following;
    }
    firstChild_ = nullptr;
    if (IDataRunList* runs = dataRuns_.load(std::memory_order_acquire))
        runs->Release();
}

IDataRunList* CFileNode::DecodeRunsOnDemand() const {
    vk::ReleasePtr<IDataRunList> made(MakeDataRunList());
    if (made == nullptr)
        return nullptr;
    // Two threads may decode at once: the first list stays, the other goes.
    IDataRunList* expected = nullptr;
    if (dataRuns_.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel))
        return made.release();
    return expected;
}

int CFileNode::StateFromSum() const {
    if (checkedSum_ == 0)
        return CHECK_UNCHECKED;
    if (static_cast<unsigned long long>(checkedSum_) == 2ULL * shownChildren_)
        return CHECK_CHECKED;
    return CHECK_PARTLY;
}

void CFileNode::ApplyChildChange(long long sumDelta, long long countDelta) {
    long long count = static_cast<long long>(shownChildren_) + countDelta;
    shownChildren_ = count < 0 ? 0u : static_cast<unsigned>(count);
    long long sum = static_cast<long long>(checkedSum_) + sumDelta;
    checkedSum_ = sum < 0 ? 0u : static_cast<unsigned>(sum);
    const int old = static_cast<int>(state_ & 0xF);
    const int now = StateFromSum();
    SetCheckBits(now);
    if (now != old && parent_)
        parent_->SetParentStatus(now - old);
}

void CFileNode::SetParentStatus(int delta) {
    ChainGuard guard(this);
    for (CFileNode* node = this; node && delta != 0;) {
        long long sum = static_cast<long long>(node->checkedSum_) + delta;
        node->checkedSum_ = sum < 0 ? 0u : static_cast<unsigned>(sum);
        const int old = static_cast<int>(node->state_ & 0xF);
        const int now = node->StateFromSum();
        node->SetCheckBits(now);
        delta = now - old;
        node = node->parent_;
        if (node && !guard.Next(node)) {
            LogLoop(this);
            break;
        }
    }
}

void CFileNode::SetCheck(_tagCheckedStatus status) {
    // The partly checked mark only ever results from the children.
    if (status != CHECK_UNCHECKED && status != CHECK_CHECKED)
        return;
    if (((state_ >> 4) & 0xF) == 0)
        return;
    const int old = static_cast<int>(state_ & 0xF);
    if (parent_)
        parent_->SetParentStatus(status - old);
    if (firstChild_)
        firstChild_->SetChildStatus(status, 1);
    SetCheckBits(status);
    checkedSum_ = static_cast<unsigned>(status) * shownChildren_;
}

void CFileNode::SetChildStatus(_tagCheckedStatus status, int first) {
    // Iterative: a deep tree must not exhaust the scanning thread's stack.
    std::vector<std::pair<CFileNode*, bool>> pending{{this, first != 0}};
    while (!pending.empty()) {
        auto [node, isFirst] = pending.back();
        pending.pop_back();
        if (((node->state_ >> 4) & 0xF) != 0)
            node->SetCheckBits(status);
        if (status == CHECK_PARTLY)
            continue;
        node->checkedSum_ = static_cast<unsigned>(status) * node->shownChildren_;
        if (isFirst) {
            for (CFileNode* sibling = node->next_; sibling; sibling = sibling->next_) {
                if (((sibling->state_ >> 4) & 0xF) != 0)
                    pending.emplace_back(sibling, false);
            }
        }
        if (node->firstChild_)
            pending.emplace_back(node->firstChild_, true);
    }
}

void CFileNode::ShowNode(int show) {
    const int now = show != 0 ? 1 : 0;
    const int old = ((state_ >> 4) & 0xF) != 0 ? 1 : 0;
    if (parent_ && now != old)
        parent_->ShowParent(now ? 1 : -1);
    SetShowBits(now);
}

void CFileNode::ShowParent(int delta) {
    ChainGuard guard(this);
    for (CFileNode* node = this; node && delta != 0;) {
        long long count = static_cast<long long>(node->shownChildren_) + delta;
        node->shownChildren_ = count < 0 ? 0u : static_cast<unsigned>(count);
        const int want = node->shownChildren_ != 0 ? 1 : 0;
        const int had = ((node->state_ >> 4) & 0xF) != 0 ? 1 : 0;
        node->SetShowBits(want);
        if (want == had)
            break;
        delta = want ? 1 : -1;
        node = node->parent_;
        if (node && !guard.Next(node)) {
            LogLoop(this);
            break;
        }
    }
}

int CFileNode::IsLoopedToSelf(const IFileNode* a, const IFileNode* b) {
    const auto* node = dynamic_cast<const CFileNode*>(a);
    if (!node || !b)
        return 0;
    ChainGuard guard(node);
    for (const CFileNode* p = node->parent_; p; p = p->parent_) {
        if (p == b)
            return 1;
        // A chain that loops can never be safely extended: treat it as one
        // that reaches b.
        if (!guard.Next(p))
            return 1;
    }
    return 0;
}

int CFileNode::AddChild(IFileNode* node) {
    return AddChildNode(dynamic_cast<CFileNode*>(node));
}

int CFileNode::AddChildNode(CFileNode* child) {
    if (!child)
        return 0;
    if (child == this) {
        CatchExeception::WriteLog("CFileNode::AddChild: node %lld cannot be its own child\n",
                                  nodeId_);
        return 0;
    }
    if (child->parent_ || child->next_ || child->prev_) {
        CatchExeception::WriteLog(
            "CFileNode::AddChild: node %lld is already linked into a tree, refused\n",
            child->nodeId_);
        return 0;
    }
    if (IsLoopedToSelf(this, child)) {
        CatchExeception::WriteLog(
            "CFileNode::AddChild: node %lld is an ancestor of node %lld, refused\n", child->nodeId_,
            nodeId_);
        return 0;
    }
    child->next_ = firstChild_;
    if (firstChild_)
        firstChild_->prev_ = child;
    firstChild_ = child;
    child->parent_ = this;
    if (((child->state_ >> 4) & 0xF) != 0)
        ApplyChildChange(static_cast<long long>(child->state_ & 0xF), 1);
    return 1;
}

int CFileNode::AddNext(IFileNode* other) {
    auto* node = dynamic_cast<CFileNode*>(other);
    if (!node)
        return 0;
    if (node == this || node->parent_ || node->next_ || node->prev_ ||
        (parent_ && (node == parent_ || IsLoopedToSelf(this, node)))) {
        CatchExeception::WriteLog(
            "CFileNode::AddNext: node %lld is already linked or an ancestor, refused\n",
            node->nodeId_);
        return 0;
    }
    node->next_ = next_;
    if (next_)
        next_->prev_ = node;
    node->prev_ = this;
    next_ = node;
    // The node joins this node's parent's list, so it counts there too.
    if (parent_) {
        node->parent_ = parent_;
        if (((node->state_ >> 4) & 0xF) != 0)
            parent_->ApplyChildChange(static_cast<long long>(node->state_ & 0xF), 1);
    }
    return 1;
}

void CFileNode::Unlink(CFileNode* child) {
    if (child->prev_)
        child->prev_->next_ = child->next_;
    else
        firstChild_ = child->next_;
    if (child->next_)
        child->next_->prev_ = child->prev_;
    child->parent_ = nullptr;
    child->next_ = nullptr;
    child->prev_ = nullptr;
}

int CFileNode::RemoveChild(CFileNode* child) {
    if (!child || child->parent_ != this)
        return 0;
    Unlink(child);
    if (((child->state_ >> 4) & 0xF) != 0)
        ApplyChildChange(-static_cast<long long>(child->state_ & 0xF), -1);
    return 1;
}

void CFileNode::SetParent(CFileNode* parent) {
    if (parent && (parent == this || IsLoopedToSelf(parent, this))) {
        CatchExeception::WriteLog(
            "CFileNode::SetParent: node %lld would become its own ancestor, refused\n", nodeId_);
        return;
    }
    parent_ = parent;
}

void CFileNode::SetMetaDataSector(long long sector) {
    state_ = (state_ & 0xFFFFFFULL) | (static_cast<uint64_t>(sector) << 24);
}

void CFileNode::SetBelongedPartition(unsigned short index) {
    state_ = (state_ & ~0xFFFF00ULL) | (static_cast<uint64_t>(index) << 8);
}

void CFileNode::SetDataRunList(IDataRunList* list) {
    runsOnDemand_ = 0;
    IDataRunList* old = dataRuns_.load(std::memory_order_acquire);
    if (list == old)
        return;
    if (old)
        old->Release();
    dataRuns_.store(list, std::memory_order_release);
}

void CFileNode::MergeNode(CFileNode* other) {
    if (!other || other == this)
        return;
    // The other node's runs as it would answer them, decoded if need be.
    IDataRunList* taken = other->GetDataRunList();
    other->dataRuns_.store(nullptr, std::memory_order_release);
    other->runsOnDemand_ = 0;
    SetDataRunList(taken);
    // What is known to be missing travels with the runs.
    damaged_ = other->damaged_;
    claimedSize_ = other->claimedSize_;
    // The written length belongs to the runs: another copy's would give
    // zeros where these runs hold data, or the reverse.
    UpdateValidDataLength(other->GetValidDataLength());
    UpdateFileSize(other->GetFileSize());
}

const char* CFileNode::FilterFileNameByDot(const char* name) {
    if (!name)
        return "";
    while (*name == ' ' || *name == '.')
        ++name;
    return name;
}

int CFileNode::operator==(CFileNode& other) {
    if (nodeId_ != other.nodeId_)
        return 0;
    if ((IsDirectory() != 0) != (other.IsDirectory() != 0))
        return 0;
    if (parentNodeId_ != other.parentNodeId_)
        return 0;
    // Ids repeat from one volume to the next: two volumes of one file system
    // on a disk share their root's id and often their first folders' ids and
    // names. Nodes of two volumes are never copies of each other, and one
    // volume's folder must not take another's properties.
    if (GetBelongedPartition() != other.GetBelongedPartition())
        return 0;
    const char* mine = GetFileName();
    const char* theirs = other.GetFileName();
    const bool sameName = (mine == nullptr && theirs == nullptr) ||
                          (mine != nullptr && theirs != nullptr && std::strcmp(mine, theirs) == 0);
    const SearcherNodeRules rules = vk::NodeRulesOf(GetSearcheType());
    if (!sameName) {
        // A directory entry seen again under another name (a rename, or a
        // deleted entry's first byte): the newer directory's properties win
        // where the file system's rows say so.
        if (rules.renamedFolderPassesProperties && other.IsDirectory() &&
            other.GetCreationTime() >= GetCreationTime()) {
            CopyFilePropertiesFrom(other);
        }
        return 0;
    }
    return 1;
}

CFileNode& CFileNode::operator=(const CFileNode& other) {
    if (this == &other)
        return *this;
    // Value fields only: copying the links would make this node claim a
    // place in lists it is not in, and sharing the run list would free it
    // twice.
    nodeId_ = other.nodeId_;
    parentNodeId_ = other.parentNodeId_;
    state_ = other.state_;
    compressed_ = other.compressed_;
    damaged_ = other.damaged_;
    claimedSize_ = other.claimedSize_;
    IDataRunList* runs = other.GetDataRunList();
    SetDataRunList(runs ? runs->Clone() : nullptr);
    return *this;
}

CFilesystemNode::CFilesystemNode(const char* name, const char* volumeName, _tagSearcherType type,
                                 long long nodeId)
    : type_(type), name_(name ? name : ""), volumeName_(volumeName ? volumeName : "") {
    SetNodeId(nodeId);
}

IFileNode* CFilesystemNode::Clone() {
    return new CFilesystemNode(name_.c_str(), volumeName_.c_str(), type_, GetCurrentNodeID());
}
