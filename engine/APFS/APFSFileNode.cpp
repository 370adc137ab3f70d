#include "APFSFileNode.h"

#include <strings.h>

#include <limits>

namespace apfs {
namespace {

constexpr long long kFileTimeOf1970 = 116444736000000000LL;  // 0x19DB1DED53E8000

}  // namespace

long long ApfsTimeToFileTime(uint64_t ns) {
    if (ns == 0)
        return 0;
    const uint64_t seconds = ns / 1000000000ULL;
    // Far beyond any plausible time: keep what fits rather than wrap.
    if (seconds >
        static_cast<uint64_t>((std::numeric_limits<long long>::max() - kFileTimeOf1970) / 10000000))
        return 0;
    return static_cast<long long>(seconds) * 10000000LL + kFileTimeOf1970;
}

APFSFileNode::~APFSFileNode() {
    SetDataRunList(nullptr);
}

void APFSFileNode::Release() {
    if (ownedByCaller_)
        delete this;
}

void APFSFileNode::SetParentNodeID(long long id) {
    if (flags_ & kReported)
        return;
    flags_ |= kParentSet;
    // The parent of a volume's root directory (1) stands for the tree's root.
    if ((static_cast<uint64_t>(id) & 0xFFFFFFFFULL) == 1)
        id = static_cast<long long>((static_cast<uint64_t>(GetBelongedPartition()) << 32) + 2);
    CFileNode::SetParentNodeID(id);
}

IFileNode* APFSFileNode::Clone() {
    auto* copy = new APFSFileNode();
    copy->SetNodeId(GetCurrentNodeID());
    copy->CFileNode::SetParentNodeID(GetParentNodeID());
    copy->SetBelongedPartition(GetBelongedPartition());
    if (IDataRunList* runs = GetDataRunList())
        copy->SetDataRunList(runs->Clone());
    copy->name_ = name_;
    copy->size_ = size_;
    copy->creation_ = creation_;
    copy->modification_ = modification_;
    copy->access_ = access_;
    copy->block_ = block_;
    copy->identifier_ = identifier_;
    copy->storedParent_ = storedParent_;
    copy->flags_ = static_cast<uint8_t>(flags_ & ~(kReported | kTwin));
    copy->extents_ = extents_;
    copy->ownedByCaller_ = true;
    return copy;
}

void APFSFileNode::SetKind(bool directory) {
    if (flags_ & kKindSettled)
        return;
    flags_ =
        static_cast<uint8_t>((flags_ & ~kDirectory) | (directory ? kDirectory : 0) | kKindSettled);
}

void APFSFileNode::SetSize(uint64_t size) {
    if (size_ != 0 && !(flags_ & kDeleted))
        return;
    size_ = size;
    flags_ &= static_cast<uint8_t>(~kCovered);
}

void APFSFileNode::SetName(std::string_view name) {
    name_ = std::string(name);
    if (name_.size() == 8 && strncasecmp(name_.c_str(), ".Trashes", 8) == 0)
        flags_ |= kDirectory | kDeleted | kKindSettled;
}

void APFSFileNode::AttachToParent(APFSFileNode* parent, APFSFileNode* child) {
    if (parent == nullptr || child == nullptr)
        return;
    if ((parent->flags_ & kTwin) && parent->twinTarget_ != nullptr)
        parent = parent->twinTarget_;
    if (parent == child)
        return;
    child->parentLink_ = parent;
    child->SetParentNodeID(parent->GetCurrentNodeID());
    if (child->IsDirectory()) {
        // Bounded by the children actually linked; the list cannot loop as
        // a node is pushed at most once (it gets a parent link on the way).
        for (APFSFileNode* c = parent->firstChild_; c != nullptr; c = c->nextSibling_) {
            if (c != child && c->IsDirectory() && c->name_ == child->name_) {
                child->twinTarget_ = c;
                child->flags_ |= kTwin;
                break;
            }
        }
    }
    if (!(child->flags_ & kTwin) && child->nextSibling_ == nullptr &&
        parent->firstChild_ != child) {
        child->nextSibling_ = parent->firstChild_;
        parent->firstChild_ = child;
    }
}

bool APFSFileNode::IsReadyToReport(bool final) {
    if (flags_ & kReported)
        return false;
    if ((flags_ & kTwin) && twinTarget_ != nullptr)
        return false;
    if (name_.empty())
        return false;
    if (!IsDirectory() && creation_ == 0)
        return false;
    if (final) {
        if (GetParentNodeID() == -1)
            CFileNode::SetParentNodeID(
                static_cast<long long>((static_cast<uint64_t>(GetBelongedPartition()) << 32) + 3));
        return true;
    }
    return static_cast<uint64_t>(GetParentNodeID()) - 1 < 2 || parentLink_ != nullptr;
}

uint64_t APFSFileNode::CoveredBytes(int sectorSize) const {
    uint64_t covered = 0;
    for (const auto& [logical, run] : extents_)
        covered += static_cast<uint64_t>(run.length) * static_cast<uint64_t>(sectorSize);
    return covered;
}

bool APFSFileNode::AddExtent(long long start, long long length, int sectorSize, uint64_t logical) {
    if (sectorSize <= 0 || length <= 0)
        return false;
    auto coverTest = [&]() {
        const uint64_t covered = CoveredBytes(sectorSize);
        const uint64_t rounded = (size_ + 4095) / 4096 * 4096;
        if (rounded < covered)
            size_ = covered;
        if (covered >= size_)
            flags_ |= kCovered;
        else
            flags_ &= static_cast<uint8_t>(~kCovered);
        return (flags_ & kCovered) != 0;
    };
    if (size_ != 0 && coverTest())
        return true;
    if (logical == 0 && !extents_.empty())
        extents_.clear();
    bool changed = false;
    auto it = extents_.find(logical);
    if (it == extents_.end()) {
        extents_.emplace(logical, DataRun(start, length));
        changed = true;
    } else if (it->second.start == start && it->second.length < length) {
        it->second.length = length;
        changed = true;
    }
    if (changed)
        RebuildRuns(sectorSize);
    if (size_ == 0)
        return false;
    return coverTest();
}

// The run list follows the extents in logical order. A hole (negative start)
// and the space between two extents read as zeros, so every later extent
// keeps its place in the file; where stale copies overlap, the earlier
// extent wins.
void APFSFileNode::RebuildRuns(int sectorSize) {
    auto* runs = new CDataRunList();
    long long position = 0;  // sectors of the file laid out so far
    for (const auto& [logical, extent] : extents_) {
        const long long at = static_cast<long long>(logical / static_cast<uint64_t>(sectorSize));
        if (logical / static_cast<uint64_t>(sectorSize) >
            static_cast<uint64_t>(std::numeric_limits<long long>::max() / 2))
            break;
        if (at > position) {
            DataRun gap(-1, at - position);
            runs->AddDataRun(&gap);
            position = at;
        }
        long long skip = position - at;
        if (skip >= extent.length)
            continue;
        DataRun run(extent.start < 0 ? -1 : extent.start + skip, extent.length - skip);
        runs->AddDataRun(&run);
        position += run.length;
    }
    SetDataRunList(runs);
}

}  // namespace apfs
