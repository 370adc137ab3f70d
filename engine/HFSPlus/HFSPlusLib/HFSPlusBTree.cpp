#include "HFSPlusBTree.h"

#include <unordered_set>

#include "ByteReader.h"
#include "HFSPlusKeys.h"
#include "HFSPlusLayout.h"
#include "HFSPlusVolume.h"
#include "Utility/CatchExeception.h"

namespace hfsplus {

namespace L = layout;

// ---------------------------------------------------------------- nodes

bool CHFSPlusBTNode::IsValidNode(const uint8_t* bytes, size_t size) {
    if (!bytes || size < L::kMinNodeSize || size > L::kMaxNodeSize || size % 512 != 0)
        return false;
    BTNodeDescriptor d;
    if (ResultFailed(flipNodeDescriptor(bytes, size, &d)))
        return false;
    switch (d.kind) {
        case L::kNodeHeader:
            if (d.height != 0)
                return false;
            break;
        case L::kNodeLeaf:
            if (d.height != 1)
                return false;
            break;
        case L::kNodeIndex:
            if (d.height < 2)
                return false;
            break;
        case L::kNodeMap:
            break;
        default:
            return false;
    }
    // The offset table holds numRecords + 1 entries (the last one is the
    // start of free space) and must not reach into the descriptor.
    const size_t tableBytes = 2 * (size_t{d.numRecords} + 1);
    if (tableBytes > size - L::kNodeDescriptorSize)
        return false;
    const size_t tableStart = size - tableBytes;
    vk::ByteReader r(bytes, size);
    size_t previous = r.BE16(size - 2);
    if (previous != L::kNodeDescriptorSize)
        return false;
    for (size_t i = 1; i <= d.numRecords; ++i) {
        const size_t offset = r.BE16(size - 2 * (i + 1));
        if (offset <= previous || offset > tableStart)
            return false;
        previous = offset;
    }
    return true;
}

CHFSPlusBTNode::CHFSPlusBTNode(std::vector<uint8_t>&& bytes) : bytes_(std::move(bytes)) {
    valid_ = IsValidNode(bytes_.data(), bytes_.size());
    if (valid_)
        flipNodeDescriptor(bytes_.data(), bytes_.size(), &descriptor_);
}

CHFSPlusBTNode::CHFSPlusBTNode(const uint8_t* bytes, size_t size) {
    if (!bytes)
        return;
    bytes_.assign(bytes, bytes + size);
    valid_ = IsValidNode(bytes_.data(), bytes_.size());
    if (valid_)
        flipNodeDescriptor(bytes_.data(), bytes_.size(), &descriptor_);
}

const uint8_t* CHFSPlusBTNode::GetRecord(uint16_t index, uint16_t* size) const {
    if (!valid_ || index >= descriptor_.numRecords)
        return nullptr;
    // Validation made the offsets rise and end before the table.
    vk::ByteReader r(bytes_.data(), bytes_.size());
    const size_t n = bytes_.size();
    const size_t start = r.BE16(n - 2 * (size_t{index} + 1));
    const size_t end = r.BE16(n - 2 * (size_t{index} + 2));
    if (size)
        *size = static_cast<uint16_t>(end - start);
    return bytes_.data() + start;
}

// ---------------------------------------------------------------- option base

CHFSPlusBTreeOptionBase::CHFSPlusBTreeOptionBase(CHFSPlusVolume* volume, CHFSPlusRawfile* fork)
    : volume_(volume), fork_(fork) {}

void CHFSPlusBTreeOptionBase::Open() {
    if (!volume_ || !fork_) {
        lastError_ = HFS_ERROR(kHFSNullArgument);
        return;
    }
    uint8_t head[512];
    if (fork_->Read(0, head, sizeof head) != sizeof head) {
        lastError_ = HFS_ERROR(kHFSShortRead);
        return;
    }
    BTHeaderRec rec;
    flipBTHeaderRec(head + L::kNodeDescriptorSize, sizeof head - L::kNodeDescriptorSize, &rec);
    if (rec.nodeSize < L::kMinNodeSize || rec.nodeSize > L::kMaxNodeSize ||
        rec.nodeSize % 512 != 0) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return;
    }
    header_.nodeSize = rec.nodeSize;
    nodeCount_ = fork_->Length() / rec.nodeSize;
    std::unique_ptr<CHFSPlusBTNode> node = CreateNode(0);
    if (!node || node->Descriptor().kind != L::kNodeHeader) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return;
    }
    uint16_t size = 0;
    const uint8_t* record = node->GetRecord(0, &size);
    if (!record || ResultFailed(flipBTHeaderRec(record, size, &header_))) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return;
    }
    header_.nodeSize = rec.nodeSize;
    haveHeader_ = true;
}

uint32_t CHFSPlusBTreeOptionBase::GetRoot() {
    if (!haveHeader_) {
        lastError_ = HFS_ERROR(kHFSNotReady);
        return 0;
    }
    // A tree whose header says it holds records but names no root lost its
    // root field, not its nodes: the root is found among them.
    if (header_.rootNode == 0 &&
        (header_.leafRecords != 0 || header_.firstLeafNode != 0 || header_.treeDepth != 0)) {
        if (!rootSearched_) {
            rootSearched_ = true;
            foundRoot_ = FindRoot();
        }
        if (foundRoot_ != 0)
            return foundRoot_;
    }
    return header_.rootNode;
}

uint32_t CHFSPlusBTreeOptionBase::FindRoot() {
    const VKRESULT saved = lastError_;
    // Nodes the header's map marks free may hold a tree's old nodes; only
    // the nodes in use count (those past the header's map are unknown).
    std::vector<uint8_t> map;
    if (std::unique_ptr<CHFSPlusBTNode> head = CreateNode(0)) {
        uint16_t size = 0;
        if (const uint8_t* record = head->GetRecord(2, &size))
            map.assign(record, record + size);
    }
    auto inUse = [&](uint64_t n) {
        return n / 8 >= map.size() || (map[n / 8] & (0x80u >> (n % 8))) != 0;
    };
    // The root is the one node at the tree's height: an index node at the
    // header's depth, the only leaf of a tree of depth 1, or, without a
    // depth, the one node higher than all others.
    uint32_t root = 0;
    unsigned height = 0, atHeight = 0;
    for (uint64_t n = 1; n < nodeCount_ && n <= UINT32_MAX; ++n) {
        if (!inUse(n))
            continue;
        std::unique_ptr<CHFSPlusBTNode> node = CreateNode(static_cast<uint32_t>(n));
        if (!node)
            continue;
        const int8_t kind = node->Descriptor().kind;
        if (kind != L::kNodeIndex && kind != L::kNodeLeaf)
            continue;
        const unsigned h = node->Descriptor().height;
        if (header_.treeDepth != 0 ? h != header_.treeDepth : h < height)
            continue;
        if (h > height) {
            height = h;
            atHeight = 0;
        }
        root = static_cast<uint32_t>(n);
        ++atHeight;
    }
    lastError_ = saved;
    if (atHeight != 1)
        return 0;
    CatchExeception::WriteLog("HFS+ B-tree: the header names no root; node %u is taken as it\n",
                              root);
    return root;
}

std::unique_ptr<CHFSPlusBTNode> CHFSPlusBTreeOptionBase::CreateNode(uint32_t n) {
    const uint32_t size = header_.nodeSize;
    // A node number from disk (a child pointer, the root) must name a node
    // of this file.
    if (size == 0 || n >= nodeCount_) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return nullptr;
    }
    std::vector<uint8_t> bytes(size);
    if (fork_->Read(uint64_t{n} * size, bytes.data(), size) != size) {
        lastError_ = HFS_ERROR(kHFSShortRead);
        return nullptr;
    }
    auto node = std::make_unique<CHFSPlusBTNode>(std::move(bytes));
    if (!node->IsValid()) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return nullptr;
    }
    return node;
}

uint32_t CHFSPlusBTreeOptionBase::GetChild(const CHFSPlusBTNode& node, uint16_t index) {
    if (node.Descriptor().kind != L::kNodeIndex) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return 0;
    }
    uint16_t size = 0;
    const uint8_t* record = node.GetRecord(index, &size);
    vk::ByteReader r(record, record ? size : 0);
    const size_t keyBytes = size_t{r.BE16(0)} + 2;
    const uint32_t child = r.BE32(keyBytes);
    if (!record || r.failed()) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return 0;
    }
    return child;
}

bool CHFSPlusBTreeOptionBase::DataRead(const CHFSPlusBTNode& node, uint16_t index, BTKey* key,
                                       const uint8_t** data, size_t* size) {
    uint16_t recordSize = 0;
    const uint8_t* record = node.GetRecord(index, &recordSize);
    if (!record || ResultFailed(KeyRead(record, recordSize, key)))
        return false;
    const size_t keyBytes = size_t{key->keyLength} + 2;
    if (keyBytes > recordSize)
        return false;
    *data = record + keyBytes;
    *size = recordSize - keyBytes;
    return true;
}

// ---------------------------------------------------------------- search and walk

VKRESULT CHFSPlusBTree::Search(const BTKey& key, HFSPlusSearchResult& result,
                               std::vector<uint8_t>* record) {
    result = HFSPlusSearchResult{};
    uint32_t current = option_->GetRoot();
    if (current == 0)
        return option_->GetLastError();
    std::unordered_set<uint32_t> visited;
    for (unsigned depth = 0; depth < kMaxTreeDepth; ++depth) {
        if (!visited.insert(current).second)
            return HFS_ERROR(kHFSDamaged);
        std::unique_ptr<CHFSPlusBTNode> node = option_->CreateNode(current);
        if (!node)
            return option_->GetLastError();
        const uint16_t count = node->GetRecordCount();
        const int8_t kind = node->Descriptor().kind;
        if (kind == L::kNodeIndex) {
            // Descend into the last record whose key is not above the one
            // searched for.
            int chosen = -1;
            for (uint16_t i = 0; i < count; ++i) {
                uint16_t size = 0;
                const uint8_t* rec = node->GetRecord(i, &size);
                BTKey k;
                if (!rec || ResultFailed(option_->KeyRead(rec, size, &k)))
                    return HFS_ERROR(kHFSDamaged);
                const int c = option_->Compare(k, key);
                if (c > 0)
                    break;
                chosen = i;
                if (c == 0)
                    break;
            }
            if (chosen < 0)
                return VK_OK;  // smaller than every key: not in the tree
            current = option_->GetChild(*node, static_cast<uint16_t>(chosen));
            if (current == 0)
                return option_->GetLastError();
            continue;
        }
        if (kind != L::kNodeLeaf)
            return HFS_ERROR(kHFSDamaged);
        for (uint16_t i = 0; i < count; ++i) {
            BTKey k;
            const uint8_t* data = nullptr;
            size_t size = 0;
            if (!option_->DataRead(*node, i, &k, &data, &size))
                return HFS_ERROR(kHFSDamaged);
            const int c = option_->Compare(k, key);
            if (c > 0) {
                result.node = current;
                result.index = i;
                return VK_OK;
            }
            if (c == 0) {
                result.node = current;
                result.index = i;
                result.found = 1;
                if (record)
                    record->assign(data, data + size);
                return VK_OK;
            }
        }
        result.node = current;
        result.index = count;
        return VK_OK;
    }
    return HFS_ERROR(kHFSDamaged);
}

VKRESULT CHFSPlusBTree::Traverse(const LeafAction& action, const ContinueQuery& continued) {
    damaged_ = 0;
    const uint32_t root = option_->GetRoot();
    if (root == 0)
        return option_->GetLastError();
    VKRESULT firstDamage = VK_OK;
    auto damage = [&](const char* why, uint32_t n) {
        ++damaged_;
        if (damaged_ <= 20 && ErrorLinesOn())
            CatchExeception::WriteLog("HFS+ B-tree: node %u skipped (%s)", n, why);
        if (firstDamage == VK_OK)
            firstDamage = VK_ERROR(kModuleHFSPlus, kHFSDamaged);
    };
    struct Frame {
        std::unique_ptr<CHFSPlusBTNode> node;
        uint16_t next;
    };
    std::vector<Frame> stack;
    std::unordered_set<uint32_t> visited;
    BTKey key;  // reused: its name keeps its room from record to record
    auto push = [&](uint32_t n) {
        if (!visited.insert(n).second) {
            damage("met twice", n);
            return;
        }
        if (stack.size() >= kMaxTreeDepth) {
            damage("deeper than any tree", n);
            return;
        }
        std::unique_ptr<CHFSPlusBTNode> node = option_->CreateNode(n);
        if (!node) {
            damage("unreadable", n);
            return;
        }
        const int8_t kind = node->Descriptor().kind;
        if (kind != L::kNodeIndex && kind != L::kNodeLeaf) {
            damage("not an index or leaf node", n);
            return;
        }
        stack.push_back({std::move(node), 0});
    };
    push(root);
    while (!stack.empty()) {
        if (continued && !continued())
            return HFS_ERROR(kHFSStopped);
        Frame& top = stack.back();
        if (top.node->Descriptor().kind == L::kNodeLeaf) {
            const uint16_t count = top.node->GetRecordCount();
            for (uint16_t i = 0; i < count; ++i) {
                const uint8_t* data = nullptr;
                size_t size = 0;
                if (!option_->DataRead(*top.node, i, &key, &data, &size)) {
                    damage("record unreadable", 0);
                    continue;
                }
                if (!action(key, data, size))
                    return HFS_ERROR(kHFSStopped);
            }
            stack.pop_back();
            continue;
        }
        if (top.next >= top.node->GetRecordCount()) {
            stack.pop_back();
            continue;
        }
        const uint32_t child = option_->GetChild(*top.node, top.next++);
        if (child == 0) {
            damage("child pointer unreadable", 0);
            continue;
        }
        push(child);
    }
    return firstDamage;
}

// ---------------------------------------------------------------- orders

int CHFSPlusCatalog::Compare(const BTKey& a, const BTKey& b) const {
    return CompareCatalogKeys(a, b, header_.keyCompareType);
}

int CHFSPlusExtents::Compare(const BTKey& a, const BTKey& b) const {
    return CompareExtentKeys(a, b);
}

int CHFSPlusAttribute::Compare(const BTKey& a, const BTKey& b) const {
    return CompareAttributeKeys(a, b);
}

}  // namespace hfsplus
