#include "APFSContainer.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>

#include "APFSLayout.h"
#include "ByteReader.h"

namespace apfs {
namespace {

constexpr uint64_t kNone = UINT64_MAX;
// Earliest plausible time: 1985-11-05.
constexpr uint64_t kTimeFloor = 500000000000000000ULL;
// The latest time the format's own tools were known to write when this rule
// was made; the ceiling never drops below it, whatever the clock says.
constexpr uint64_t kFixedCeiling = 0x1A00000000000000ULL;
// Clocks of the machines that wrote a disk run ahead of ours by years at most.
constexpr uint64_t kCeilingMargin = 10ULL * 366 * 86400 * 1000000000ULL;

uint64_t Distance(uint64_t a, uint64_t b) {
    const int64_t d = static_cast<int32_t>(static_cast<uint32_t>(a - b));
    return static_cast<uint64_t>(d < 0 ? -d : d);
}

std::string ZeroTerminated(const uint8_t* p, size_t max) {
    size_t n = 0;
    while (n < max && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

bool PassesObjectHeader(const uint8_t* block, size_t size) {
    vk::ByteReader r(block, size);
    if (!r.Has(0, obj::kHeaderSize))
        return false;
    return r.LE64(obj::kOid) != 0 && r.LE16(obj::kType) < obj::kTypeLimit &&
           r.LE16(obj::kSubtype) < obj::kTypeLimit;
}

APFSContainer::APFSContainer(APFSDelegate* delegate, int ordinal, unsigned long long startSector)
    : delegate_(delegate),
      ordinal_(ordinal),
      buffer_(new uint8_t[kBlockSize]()),
      startSector_(startSector) {
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr) > 0 ? std::time(nullptr) : 0);
    const uint64_t ceiling = now * 1000000000ULL + kCeilingMargin;
    timeCeiling_ = ceiling > kFixedCeiling ? ceiling : kFixedCeiling;
    startBlock_ =
        static_cast<uint64_t>(sectorSize_) * startSector_ / static_cast<uint64_t>(blockSize_);
}

APFSContainer::~APFSContainer() {
    for (auto& [id, node] : files_)
        delete node;
    for (auto& [id, node] : directories_)
        delete node;
}

std::vector<APFSFileNode*> APFSContainer::Nodes() const {
    std::vector<APFSFileNode*> out;
    for (const auto& [id, node] : files_)
        out.push_back(node);
    for (const auto& [id, node] : directories_)
        out.push_back(node);
    return out;
}

bool APFSContainer::ReadBlock(uint64_t block) {
    return delegate_->ReadBlocks(this, block, blockSize_, buffer_.get()) != 0;
}

uint64_t APFSContainer::BlockLimit() const {
    if (blockCount_ != 0)
        return blockCount_;
    return sizeInSectors_ /
           (static_cast<uint64_t>(blockSize_) / static_cast<uint64_t>(sectorSize_) ?: 1);
}

bool APFSContainer::Plausible(uint64_t ns) const {
    return ns >= kTimeFloor && ns <= timeCeiling_;
}

void APFSContainer::TakeVolumeName() {
    vk::ByteReader r(buffer_.get(), kBlockSize);
    const std::string volume = ZeroTerminated(buffer_.get() + apsb::kName, apsb::kNameSize);
    if (r.LE32(apsb::kMagic) == apsb::kMagicValue)
        volumeNames_.push_back(volume);
    if (name_.empty())
        name_ = volume + "_" + std::to_string(ordinal_);
}

int APFSContainer::WalkFromContainerSuperblock() {
    if (!ReadBlock(0))
        return -1;
    vk::ByteReader sb(buffer_.get(), kBlockSize);
    // Blocks of any other size would not fit the buffer, and the deep search
    // reads the surface in 4096-byte blocks only.
    if (sb.LE32(nx::kBlockSize) != kBlockSize || !PassesObjectHeader(buffer_.get(), kBlockSize) ||
        sb.LE64(nx::kBlockCount) == 0)
        return -2;
    blockCount_ = sb.LE64(nx::kBlockCount);
    blockSize_ = static_cast<int>(sb.LE32(nx::kBlockSize));
    startBlock_ =
        static_cast<uint64_t>(sectorSize_) * startSector_ / static_cast<uint64_t>(blockSize_);
    const uint64_t perBlock =
        static_cast<uint64_t>(blockSize_) / static_cast<uint64_t>(sectorSize_);
    sizeInSectors_ =
        blockCount_ > UINT64_MAX / (perBlock ? perBlock : 1) ? UINT64_MAX : blockCount_ * perBlock;
    std::memcpy(uuid_, buffer_.get() + nx::kUuid, sizeof(uuid_));

    // Object maps along the chain of superblock copies.
    std::vector<uint64_t> maps;
    std::set<uint64_t> seen{0};
    for (int step = 0; step < 32; ++step) {
        vk::ByteReader cur(buffer_.get(), kBlockSize);
        maps.push_back(cur.LE64(nx::kObjectMap));
        const uint64_t next = cur.LE32(nx::kNextSuperblock);
        if (!seen.insert(next).second)
            break;
        if (next >= BlockLimit() || !ReadBlock(next))
            break;
    }

    std::vector<uint8_t> root(kBlockSize);
    for (uint64_t map : maps) {
        if (map == 0 || map >= BlockLimit() || !ReadBlock(map))
            continue;
        const uint64_t rootBlock = vk::ByteReader(buffer_.get(), kBlockSize).LE64(omap::kTreeRoot);
        if (rootBlock == 0 || rootBlock >= BlockLimit() || !ReadBlock(rootBlock))
            continue;
        if (vk::ByteReader(buffer_.get(), kBlockSize).LE16(obj::kSubtype) != obj::kSubtypeObjectMap)
            continue;
        std::memcpy(root.data(), buffer_.get(), kBlockSize);
        vk::ByteReader node(root.data(), root.size());
        const uint32_t keys = node.LE32(btree::kKeyCount);
        for (uint32_t n = 0; n < keys && n < btree::kMaxEntries; ++n) {
            const size_t entry = btree::kToc + btree::kFixedEntrySize * n;
            if (!node.Has(entry, btree::kFixedEntrySize))
                break;
            const long d = static_cast<long>(blockSize_) - node.LE16(entry + 2);
            if (d < 41 || d > 4135)
                break;
            const uint64_t volume = node.LE64(static_cast<size_t>(d - 32));
            if (volume == 0 || volume >= blockCount_)
                continue;
            if (!ReadBlock(volume) || !PassesObjectHeader(buffer_.get(), kBlockSize))
                continue;
            TakeVolumeName();
            const uint64_t volumeMap =
                vk::ByteReader(buffer_.get(), kBlockSize).LE64(apsb::kObjectMap);
            if (volumeMap == 0 || volumeMap >= BlockLimit() || !ReadBlock(volumeMap))
                continue;
            RunNodeQueue(vk::ByteReader(buffer_.get(), kBlockSize).LE64(omap::kTreeRoot));
        }
        walked_ = true;
    }
    return 0;
}

int APFSContainer::WalkFromVolumeSuperblock(uint64_t block) {
    if (!ReadBlock(block))
        return -1;
    if (!PassesObjectHeader(buffer_.get(), kBlockSize))
        return -2;
    TakeVolumeName();
    const uint64_t volumeMap = vk::ByteReader(buffer_.get(), kBlockSize).LE64(apsb::kObjectMap);
    if (volumeMap == 0 || volumeMap >= BlockLimit() || !ReadBlock(volumeMap))
        return 0;
    RunNodeQueue(vk::ByteReader(buffer_.get(), kBlockSize).LE64(omap::kTreeRoot));
    return 0;
}

void APFSContainer::RunNodeQueue(uint64_t first) {
    std::deque<uint64_t> queue{first};
    std::vector<uint64_t> found;
    const uint64_t limit = BlockLimit();
    while (!queue.empty()) {
        if (!delegate_->Continued())
            return;
        const uint64_t t = queue.front();
        queue.pop_front();
        // Every block is read at most once, so cycles between nodes end.
        if (t == 0 || t >= limit || visited_.count(t) != 0)
            continue;
        visited_[t] = 1;
        if (!ReadBlock(t) || !PassesObjectHeader(buffer_.get(), kBlockSize))
            continue;
        const uint16_t subtype = vk::ByteReader(buffer_.get(), kBlockSize).LE16(obj::kSubtype);
        if (subtype == obj::kSubtypeFsTree) {
            HandleFsTreeNode(buffer_.get(), t);
        } else if (subtype == obj::kSubtypeObjectMap) {
            found.clear();
            HandleObjectMapNode(buffer_.get(), found);
            for (uint64_t b : found)
                if (b != 0 && b < limit && visited_.count(b) == 0)
                    queue.push_back(b);
        }
    }
}

void APFSContainer::HandleObjectMapNode(const uint8_t* data, std::vector<uint64_t>& out) {
    vk::ByteReader node(data, kBlockSize);
    const long bs = blockSize_;
    const uint16_t flags = node.LE16(btree::kFlags);
    const uint32_t keys = node.LE32(btree::kKeyCount);
    const long toc = node.LE16(btree::kTocLength);
    auto take = [&](long pos) {
        if (pos > 0 && node.Has(static_cast<size_t>(pos), 8))
            out.push_back(node.LE64(static_cast<size_t>(pos)));
    };
    switch (flags) {
        case btree::kFlagFixed:
        case btree::kFlagFixed | btree::kFlagRoot: {
            const long trailer =
                flags & btree::kFlagRoot ? static_cast<long>(btree::kRootTrailer) : 0;
            for (uint32_t i = 0; i < keys && i < btree::kMaxEntries; ++i) {
                const size_t entry = btree::kToc + btree::kFixedEntrySize * i;
                if (!node.Has(entry, btree::kFixedEntrySize))
                    break;
                const long value = bs - trailer - node.LE16(entry + 2);
                const long key = node.LE16(entry) + toc + static_cast<long>(btree::kToc);
                if (value > 0 && value < bs && key < bs)
                    take(value);
            }
            break;
        }
        case btree::kFlagFixed | btree::kFlagLeaf: {
            // Values of entries the table no longer lists are still read:
            // they may name nodes of older transactions.
            const long w = node.LE16(btree::kToc) + toc + static_cast<long>(btree::kToc);
            if (w >= bs)
                break;
            for (long p = bs - static_cast<long>(omap::kValueSize); p > w;
                 p -= static_cast<long>(omap::kValueSize)) {
                if (node.LE64(static_cast<size_t>(p)) == omap::kPlainValueHead)
                    take(p + static_cast<long>(omap::kValueAddress));
            }
            break;
        }
        case btree::kFlagFixed | btree::kFlagLeaf | btree::kFlagRoot: {
            for (uint32_t j = 0; j < keys && j < btree::kMaxEntries; ++j) {
                const size_t entry = btree::kToc + btree::kFixedEntrySize * j;
                if (!node.Has(entry, btree::kFixedEntrySize))
                    break;
                const long d = bs - node.LE16(entry + 2);
                if (d < 41 || d > 4135)
                    break;
                take(d - 32);
            }
            break;
        }
        default:
            std::printf("!!!!Please notify to Watch this%d.!!!!\n", 225);
            break;
    }
}

void APFSContainer::AnalyzeLostNode(unsigned long long sector, uint64_t block,
                                    const uint8_t* data) {
    vk::ByteReader node(data, kBlockSize);
    const uint64_t oid = node.LE64(obj::kOid);
    if (ordinal_ != 0 && (sector - startSector_ > sizeInSectors_ || oid > blockCount_))
        return;
    // Block numbers are kept relative to the container everywhere, so that
    // copies met by the walk and on the surface compare by distance.
    const uint64_t relative = block - startBlock_;
    if (node.LE16(obj::kTypeFlags) == obj::kFlagsPhysical && oid != relative)
        return;
    if (oid >= blockCount_ || oid == 0)
        return;
    if (node.LE16(obj::kType) != obj::kTypeBtreeNode ||
        node.LE16(obj::kSubtype) != obj::kSubtypeFsTree)
        return;
    if (visited_.count(relative) != 0)
        return;
    HandleFsTreeNode(data, relative);
}

void APFSContainer::HandleFsTreeNode(const uint8_t* data, uint64_t block) {
    vk::ByteReader node(data, kBlockSize);
    const size_t bs = static_cast<size_t>(blockSize_);
    const uint16_t flags = node.LE16(btree::kFlags);
    const size_t trailer = (flags == 1 || flags == 3) ? btree::kRootTrailer : 0;
    const uint32_t keys = node.LE32(btree::kKeyCount);
    if (keys >= btree::kMaxEntries)
        return;
    const size_t toc = node.LE16(btree::kTocLength);
    for (uint32_t i = 0; i < keys; ++i) {
        if (!delegate_->Continued())
            return;
        const size_t entry = btree::kToc + btree::kVarEntrySize * i;
        if (!node.Has(entry, btree::kVarEntrySize))
            return;
        const size_t keyPos = node.LE16(entry) + toc + btree::kToc;
        const size_t keyLength = node.LE16(entry + 2);
        const size_t valueOffset = node.LE16(entry + 4) + trailer;
        const size_t valueLength = node.LE16(entry + 6);
        if (valueOffset >= bs || keyPos >= bs)
            continue;
        const size_t valuePos = bs - valueOffset;
        // Both the key and the value must lie inside the block as their
        // lengths say; a damaged entry is skipped, never read past.
        if (!node.Has(keyPos, keyLength) || !node.Has(valuePos, valueLength) || keyLength < 8)
            continue;
        const uint8_t* key = data + keyPos;
        const uint8_t* value = data + valuePos;
        switch (key[7]) {
            case fs::kKindFileExtent:
                if (valueLength >= fs::extent::kMinValue && keyLength >= fs::extent::kMinKey)
                    HandleExtent(key, value, block);
                break;
            case fs::kKindInode:
                if (valueLength >= fs::inode::kMinValue)
                    HandleInode(value, valueLength, block);
                break;
            case fs::kKindDirRecord:
                if (valueLength >= fs::drec::kMinValue && keyLength >= fs::drec::kName)
                    HandleDirRecord(key, keyLength, value, valueLength, block);
                break;
            default:
                break;
        }
    }
}

APFSFileNode* APFSContainer::NearestDirectory(uint64_t identifier, uint64_t block) {
    APFSFileNode* best = nullptr;
    uint64_t bestDistance = 0;
    auto [from, to] = directories_.equal_range(identifier);
    for (auto it = from; it != to; ++it) {
        const uint64_t d = Distance(block, it->second->block_);
        if (best == nullptr || d < bestDistance) {
            best = it->second;
            bestDistance = d;
        }
    }
    return best;
}

void APFSContainer::AttachNearest(APFSFileNode* node, uint64_t parent, uint64_t block) {
    APFSFileNode* directory = NearestDirectory(parent, block);
    node->storedParent_ = parent;
    if (directory != nullptr && directory != node)
        APFSFileNode::AttachToParent(directory, node);
    else
        node->SetParentNodeID(static_cast<long long>(parent));
}

APFSFileNode* APFSContainer::FindOrCreate(const Record& record, uint64_t block) {
    auto& index = (record.kind != Kind::Extent && record.directory) ? directories_ : files_;
    auto [from, to] = index.equal_range(record.identifier);
    for (auto it = from; it != to; ++it) {
        APFSFileNode* c = it->second;
        if (c->storedParent_ != record.parent)
            continue;
        const bool nameFits =
            record.kind != Kind::Extent && record.name.find(c->Name()) != std::string::npos;
        if (nameFits || (c->identifier_ & 0xFFFFFFFFULL) < 5) {
            c->block_ = block;
            return c;
        }
    }

    APFSFileNode* best = nullptr;
    APFSFileNode* last = nullptr;
    uint64_t window = 4096;
    const bool timed = record.kind != Kind::Extent && record.createTime != 0;
    for (auto it = from; it != to; ++it) {
        APFSFileNode* c = it->second;
        last = c;
        const uint64_t sizeBlocks = c->Size() / 4096;
        if (window > 256 && sizeBlocks > window - 256)
            window = sizeBlocks + 256;
        const uint64_t d = Distance(block, c->block_);
        if (d < window) {
            best = c;
            window = d;
        }
        if (timed && c->creation_ == record.createTime) {
            best = c;
            window = d;
        }
    }
    if (best != nullptr) {
        bool use = false;
        if (record.kind == Kind::Extent) {
            use = true;
        } else if (!record.directory) {
            if (record.parent == kNone) {
                use = true;
            } else if (best->storedParent_ == kNone) {
                best->storedParent_ = record.parent;
                best->SetParentNodeID(static_cast<long long>(record.parent));
                use = true;
            }
        }
        if (use) {
            best->block_ = block;
            return best;
        }
    }

    std::string name = record.name;
    long long number = 0;
    if (best != nullptr && std::sscanf(record.name.c_str(), "0x%lld", &number) == 1) {
        name = best->Name() + "-" + std::to_string(number);
        if (name.size() > 2000)
            name.resize(2000);
    }
    auto* node = new APFSFileNode();
    node->SetKind(record.directory);
    node->SetCurrentId(last != nullptr ? static_cast<long long>(reinterpret_cast<intptr_t>(node))
                                       : static_cast<long long>(record.identifier));
    node->SetBelongedPartition(static_cast<unsigned short>(ordinal_));
    node->SetParentNodeID(static_cast<long long>(record.parent));
    node->block_ = block;
    node->identifier_ = record.identifier;
    node->storedParent_ = record.parent;
    node->SetName(name);
    if (ordinal_ != 0 || walked_)
        node->flags_ |= APFSFileNode::kDeleted;
    else
        node->flags_ &= static_cast<uint8_t>(~APFSFileNode::kDeleted);
    if (last != nullptr && last->GetDataRunList() != nullptr)
        node->SetDataRunList(last->GetDataRunList()->Clone());
    index.emplace(record.identifier, node);
    return node;
}

void APFSContainer::Report(APFSFileNode* node) {
    if (node->flags_ & APFSFileNode::kReported)
        return;
    if (node->IsReadyToReport(false)) {
        pending_.erase(node);
        delegate_->AddNode(node);
    } else {
        pending_.insert(node);
    }
}

void APFSContainer::HandleInode(const uint8_t* value, size_t valueLength, uint64_t block) {
    vk::ByteReader v(value, valueLength);
    const uint64_t rawParent = v.LE64(fs::inode::kParent);
    const uint64_t parent = rawParent == kNone ? kNone : Tag(rawParent);
    const uint64_t id = Tag(v.LE64(fs::inode::kPrivateId));
    const uint64_t create = v.LE64(fs::inode::kCreate);
    const uint64_t modify = v.LE64(fs::inode::kModify);
    const uint64_t change = v.LE64(fs::inode::kChange);
    const uint64_t access = v.LE64(fs::inode::kAccess);
    const bool directory = (v.LE16(fs::inode::kMode) & fs::inode::kModeDirectory) != 0;

    // Extended fields: descriptors first, then their data, each item padded
    // to 8 bytes; nothing is read past the value.
    std::string rawName;
    uint64_t streamSize = 0;
    const uint32_t count = v.LE16(fs::inode::kFieldCount);
    size_t data = fs::inode::kFields + fs::inode::kFieldDescriptor * count;
    for (uint32_t i = 0; i < count && i < fs::inode::kMaxFields; ++i) {
        const size_t descriptor = fs::inode::kFields + fs::inode::kFieldDescriptor * i;
        if (!v.Has(descriptor, fs::inode::kFieldDescriptor))
            break;
        const uint16_t code = v.LE16(descriptor);
        const size_t size = v.LE16(descriptor + 2);
        if (!v.Has(data, size))
            break;
        if (code == fs::inode::kFieldName)
            rawName = ZeroTerminated(value + data, size);
        else if (code == fs::inode::kFieldDataStream && size >= 8)
            streamSize = v.LE64(data);
        data += (size + 7) & ~static_cast<size_t>(7);
    }
    // Names are shown as they are: hidden (dot) names and Finder's
    // .DS_Store are files like any other.
    const std::string& name = rawName;
    if (name.empty())
        return;

    Record record{Kind::Inode, id, parent, name, directory, create};
    APFSFileNode* node = FindOrCreate(record, block);
    if ((directory || !walked_) && !(node->flags_ & APFSFileNode::kReported) &&
        node->parentLink_ == nullptr && parent != kNone)
        AttachNearest(node, parent, block);
    if (streamSize != 0 &&
        (node->Size() == 0 ||
         (node->Name() == name && node->creation_ == create && node->Size() < streamSize)))
        node->SetSize(streamSize);
    if (node->Name().empty())
        node->SetName(rawName);
    if (node->creation_ == 0) {
        if (Plausible(create))
            node->creation_ = create;
        else if (Plausible(modify))
            node->creation_ = modify;
        else if (Plausible(change))
            node->creation_ = change;
        else
            // All three before 1985 (archives extracted with 1980 dates) or
            // all far ahead: still a file the user may want back, so keep the
            // earliest recorded one rather than drop the file.
            for (uint64_t t : {create, modify, change}) {
                if (t != 0 && t <= timeCeiling_) {
                    node->creation_ = t;
                    break;
                }
            }
        node->modification_ = modify;
        node->access_ = access;
    }
    Report(node);
}

void APFSContainer::HandleDirRecord(const uint8_t* key, size_t keyLength, const uint8_t* value,
                                    size_t valueLength, uint64_t block) {
    vk::ByteReader k(key, keyLength);
    vk::ByteReader v(value, valueLength);
    size_t length = k.LE32(fs::drec::kNameLength) & fs::drec::kNameLengthMask;
    // The length is bounded by the key it sits in.
    if (length > keyLength - fs::drec::kName)
        length = keyLength - fs::drec::kName;
    const std::string rawName = ZeroTerminated(key + fs::drec::kName, length);
    const std::string& name = rawName;
    const uint64_t parent = Tag(k.LE64(0) & 0xFFFFFFFFULL);
    const uint64_t rawTarget = v.LE64(fs::drec::kTarget);
    const uint64_t target = Tag(rawTarget);
    const uint64_t added = v.LE64(fs::drec::kDateAdded);
    const uint16_t type = v.LE16(fs::drec::kType);
    const bool directory = type == fs::drec::kTypeDirectory;

    Record record{Kind::DirRecord, target, parent, name, directory, added};
    APFSFileNode* node = FindOrCreate(record, block);
    if (directory && !(node->flags_ & APFSFileNode::kReported) && node->parentLink_ == nullptr)
        AttachNearest(node, parent, block);
    if (ordinal_ != 0 && rawTarget == 2) {
        node->SetParentNodeID(2);
        if (!name_.empty())
            node->SetName(name_);
    } else if (node->Name().empty()) {
        node->SetKind(directory);
        node->SetName(rawName);
        node->creation_ = node->modification_ = added;
    }
    Report(node);
}

void APFSContainer::HandleExtent(const uint8_t* key, const uint8_t* value, uint64_t block) {
    vk::ByteReader k(key, fs::extent::kMinKey);
    vk::ByteReader v(value, fs::extent::kMinValue);
    const uint64_t id = Tag(k.LE64(0) & fs::kOidMask);
    const uint64_t logical = k.LE64(fs::extent::kKeyLogical);
    // The top byte holds flags, not length.
    const uint64_t length = v.LE64(fs::extent::kValueLength) & fs::kOidMask;
    const uint64_t physical = v.LE64(fs::extent::kValuePhysical);
    const uint64_t bs = static_cast<uint64_t>(blockSize_);
    const uint64_t ss = static_cast<uint64_t>(sectorSize_);
    if (length == 0 || length > (1ULL << 50) || logical > (1ULL << 60))
        return;
    // Physical block 0 is a hole; any other extent must lie inside the container.
    if (physical != 0) {
        const uint64_t blocks = (length + bs - 1) / bs;
        const uint64_t limit = BlockLimit();
        if (physical >= limit || blocks > limit - physical)
            return;
    }
    Record record{Kind::Extent, id, kNone, std::string(), false, 0};
    APFSFileNode* node = FindOrCreate(record, block);
    const long long start = physical == 0 ? -1 : static_cast<long long>(bs * physical / ss);
    const long long sectors = static_cast<long long>((length + ss - 1) / ss);
    node->AddExtent(start, sectors, sectorSize_, logical);
    Report(node);
}

void APFSContainer::FlushPending(long long block) {
    const bool final = block == -1;
    const uint64_t relative = final ? kNone : static_cast<uint64_t>(block) - startBlock_;
    std::vector<APFSFileNode*> nodes(pending_.begin(), pending_.end());
    for (APFSFileNode* node : nodes) {
        if (!(node->flags_ & APFSFileNode::kReported) && node->parentLink_ == nullptr &&
            node->GetParentNodeID() != -1)
            AttachNearest(node, static_cast<uint64_t>(node->GetParentNodeID()), relative);
        if (!node->IsReadyToReport(final))
            continue;
        if (!node->IsDirectory() && node->GetDataRunList() == nullptr) {
            auto [from, to] = files_.equal_range(node->identifier_);
            for (auto it = from; it != to; ++it) {
                APFSFileNode* other = it->second;
                if (other != node && other->GetDataRunList() != nullptr &&
                    other->creation_ == node->creation_) {
                    node->SetDataRunList(other->GetDataRunList()->Clone());
                    break;
                }
            }
        }
        pending_.erase(node);
        delegate_->AddNode(node);
    }
}

}  // namespace apfs
