#include "HFSPlusDeepSearch.h"

#include <algorithm>
#include <cstring>

#include "ByteReader.h"
#include "DataRun.h"
#include "FileNode.h"
#include "HFSPlusFactories.h"
#include "HFSPlusLib/HFSPlusBTree.h"
#include "HFSPlusLib/HFSPlusFileNode.h"
#include "HFSPlusLib/HFSPlusKeys.h"
#include "HFSPlusLib/HFSPlusLayout.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "HFSPlusQuickSearch.h"
#include "IStorageDevice.h"
#include "ReleasePtr.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "TBitmap.h"
#include "Utility/CatchExeception.h"

namespace hfsplus {

namespace L = layout;

CompleteSearchPatition::~CompleteSearchPatition() {
    // The volume reads through the window: it goes first.
    volume.reset();
    device.reset();
}

// ---------------------------------------------------------------- wrapper builder

int CHFSPlusDirectoryTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type) {
    if (!real_ || !node)
        return 0;
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    if (fileNode)
        fileNode->SetBelongedPartition(static_cast<unsigned short>(partitionIndex_));
    const bool folder = node->IsDirectory() != 0;
    if (bitmap_ && fileNode && !node->IsDeleted() && !folder)
        Mark(node);
    const int taken = real_->AddNode(node, type);
    if (taken)
        ++(folder ? folders_ : files_);
    return taken;
}

void CHFSPlusDirectoryTreeBuilder::Mark(IFileNode* node) {
    auto* fileNode = static_cast<CFileNode*>(node);
    IDataRunList* list = fileNode->GetDataRunList();
    const unsigned unit = bitmap_->GetUnitSize();
    if (!list || unit == 0 || !bitmap_->GetBitmapData())
        return;
    std::vector<DataRun> runs;
    for (const DataRun* run = list->GetFirst(); run; run = list->GetNext())
        runs.push_back(*run);
    for (size_t i = 0; i < runs.size(); ++i) {
        const long long start = runs[i].start;
        long long count = static_cast<uint32_t>(runs[i].length);
        // The last block may hold the start of something else after the
        // file's end: leave it for the signature search.
        if (i + 1 == runs.size() && count > 0)
            --count;
        if (start < 0 || count <= 0)
            continue;
        const long long firstSector =
            start * sectorsPerBlock_ + static_cast<long long>(startSector_);
        const long long sectors = count * sectorsPerBlock_;
        // Only units wholly inside the run: a unit that reaches past it
        // may hold something the signature search must still see.
        const long long firstUnit = (firstSector + unit - 1) / unit;
        const long long endUnit = (firstSector + sectors) / unit;
        if (endUnit > firstUnit)
            bitmap_->SetBit(
                firstUnit, 1,
                static_cast<unsigned>(std::min<long long>(endUnit - firstUnit, UINT32_MAX)));
    }
}

// ---------------------------------------------------------------- controller

CHFSPlusCompleteFileSystemSearchController::~CHFSPlusCompleteFileSystemSearchController() = default;

void CHFSPlusCompleteFileSystemSearchController::SetDevice(IStorageDevice* device) {
    device_ = device;
    if (!device_)
        return;
    const int s = device_->GetSectorSize();
    sectorSize_ = s >= 512 && s % 512 == 0 ? static_cast<uint32_t>(s) : 512;
    totalSectors_ = std::max(0LL, device_->GetTotalSectors());
}

void CHFSPlusCompleteFileSystemSearchController::PreparetoSearch() {
    records_.clear();
    refused_.clear();
    unopened_.clear();
    orphans_.clear();
    surfaceExtents_.clear();
    surfaceAttributes_.clear();
    infoBlocks_.clear();
    journalHeaders_.clear();
    // A protective MBR: a GPT disk, whose first partition macOS puts at 40.
    protectiveMBR_ = false;
    if (device_) {
        std::vector<uint8_t> sector(sectorSize_);
        if (device_->ReadSector(sector.data(), 0, 1))
            protectiveMBR_ = sector[450] == 0xEE && sector[510] == 0x55 && sector[511] == 0xAA;
    }
    if (builder_)
        builder_->AddSearcherInfo(SEARCHER_HFSPLUS, L::kRootFolderID);
}

void CHFSPlusCompleteFileSystemSearchController::AnalyzeBlock(long long first, long long count) {
    if (!device_) {
        lastError_ = HFS_ERROR(kHFSNotReady);
        return;
    }
    if (first < 0 || count <= 0 || first >= totalSectors_)
        return;
    count = std::min(count, totalSectors_ - first);
    // The read-ahead cache lends its block; any other device is read in
    // pieces small enough to stay in the processor's cache.
    if (auto* cache = dynamic_cast<IDeviceCache*>(device_)) {
        long long heldFirst = 0, heldCount = 0;
        const uint8_t* held = cache->PeekCurrentBlock(&heldFirst, &heldCount);
        if (held && first >= heldFirst && first + count <= heldFirst + heldCount) {
            ScanBytes(held + static_cast<size_t>(first - heldFirst) * sectorSize_,
                      static_cast<size_t>(count) * sectorSize_,
                      static_cast<uint64_t>(first) * sectorSize_);
            return;
        }
    }
    const long long piece = std::max<long long>(1, kPieceBytes / sectorSize_);
    for (long long at = first; at < first + count; at += piece) {
        const long long n = std::min(piece, first + count - at);
        const size_t bytes = static_cast<size_t>(n) * sectorSize_;
        if (block_.size() < bytes)
            block_.resize(bytes);
        // An unreadable piece is passed over; the scan goes on.
        if (device_->ReadSector(block_.data(), at, n))
            ScanBytes(block_.data(), bytes, static_cast<uint64_t>(at) * sectorSize_);
    }
}

namespace {

// How far ahead of the piece being tested its successors are fetched.
constexpr size_t kPrefetchPieces = 16;

// A journal header's magic word, stored little-endian.
inline bool HasJournalMagic(const uint8_t* p) {
    return vk::LoadLE<uint32_t>(p + L::kJHMagic) == L::kJournalMagic;
}

// Whether a 512-byte piece may be a journal header, a journal info block
// or a leaf node, judged by its first 64 bytes alone. Nearly every piece of
// an empty or media-filled surface fails here, so the piece's other cache
// lines are never read.
inline bool MayHoldSurfaceStructure(const uint8_t* p) {
    if (HasJournalMagic(p))
        return true;
    // A leaf node's descriptor: kind -1, height 1, reserved 0, records.
    if (p[L::kNodeKind] == 0xFF && p[L::kNodeHeight] == 1 && p[L::kNodeReserved] == 0 &&
        p[L::kNodeReserved + 1] == 0 &&
        (p[L::kNodeNumRecords] != 0 || p[L::kNodeNumRecords + 1] != 0))
        return true;
    // An info block: the in-file-system flag (big-endian, lowest bit in
    // the fourth byte) and the first three of its zero reserved words.
    static_assert(L::kJIBFlags == 0 && L::kJournalInFS == 1 && L::kJIBReserved + 12 <= 64);
    if ((p[3] & 1) == 0)
        return false;
    uint64_t head = 0;
    uint32_t tail = 0;
    std::memcpy(&head, p + L::kJIBReserved, sizeof head);
    std::memcpy(&tail, p + L::kJIBReserved + sizeof head, sizeof tail);
    return (head | tail) == 0;
}

}  // namespace

void CHFSPlusCompleteFileSystemSearchController::ScanBytes(const uint8_t* data, size_t bytes,
                                                           uint64_t position) {
    // Every 512 bytes: a 4 KiB sector holds the header 1024 bytes in.
    for (size_t off = 0; off + L::kVolumeHeaderSize <= bytes; off += 512) {
        const uint8_t* p = data + off;
        // The block was read a while ago and is mostly out of the
        // processor's caches: later pieces are asked for early.
        if (off + kPrefetchPieces * 512 < bytes)
            __builtin_prefetch(p + kPrefetchPieces * 512);
        if (p[0] != 0x48 || (p[1] != 0x2B && p[1] != 0x58) || p[2] != 0) {
            if (MayHoldSurfaceStructure(p))
                TestSurfaceStructures(p, data + bytes, position + off);
            continue;
        }
        if (!CHFSPlusVolume::IsValidVolumeHeader(p, L::kVolumeHeaderSize))
            continue;
        FoundVolumeHeader(p, position + off);
    }
}

void CHFSPlusCompleteFileSystemSearchController::FoundVolumeHeader(const uint8_t* bytes,
                                                                   uint64_t position) {
    HFSPlusVolumeHeader h;
    flipVolumeHeader(bytes, L::kVolumeHeaderSize, &h);
    if (ErrorLinesOn())
        std::printf("Find VolumeHeader SectorNumber[%llx],VolumeID[%llx]\n",
                    static_cast<unsigned long long>(position / sectorSize_),
                    static_cast<unsigned long long>(h.VolumeID()));
    const uint64_t size = uint64_t{h.totalBlocks} * h.blockSize;
    // The header 1024 bytes into its volume, or the copy 1024 bytes before
    // the volume's end: each names a start; the one where the volume opens
    // is taken.
    if (position >= L::kVolumeHeaderOffset &&
        TryVolume(position - L::kVolumeHeaderOffset, bytes, position, false))
        return;
    if (position + L::kVolumeHeaderOffset >= size)
        TryVolume(position + L::kVolumeHeaderOffset - size, bytes, position, true);
}

bool CHFSPlusCompleteFileSystemSearchController::TryVolume(uint64_t startByte,
                                                           const uint8_t* header,
                                                           uint64_t headerPosition, bool backup) {
    if (startByte % sectorSize_ != 0)
        return false;
    for (const auto& r : records_)
        if (static_cast<uint64_t>(r->startSector) * sectorSize_ == startByte)
            return false;  // found already
    if (refused_.count(startByte) || records_.size() >= kMaxVolumes)
        return false;
    HFSPlusVolumeHeader h;
    flipVolumeHeader(header, L::kVolumeHeaderSize, &h);
    const uint64_t size = uint64_t{h.totalBlocks} * h.blockSize;
    const uint64_t deviceBytes = static_cast<uint64_t>(totalSectors_) * sectorSize_;
    // A volume that would reach past the device is not one: a header of
    // absurd geometry, or a copy read as the wrong one of the two.
    if (size < 4 * uint64_t{h.blockSize} || size % sectorSize_ != 0 || startByte > deviceBytes ||
        size > deviceBytes - startByte) {
        refused_.insert(startByte);
        return false;
    }
    auto record = std::make_unique<CompleteSearchPatition>();
    record->startSector = static_cast<long long>(startByte / sectorSize_);
    record->sectorCount = static_cast<long long>(size / sectorSize_);
    record->device.reset(CreatePartitionDevice(device_, record->startSector, record->sectorCount));
    if (!record->device) {
        refused_.insert(startByte);
        return false;
    }
    VolumeOptions options;
    options.headerCopy = header;
    auto volume = std::make_unique<CHFSPlusVolume>(record->device.get(), options);
    if (ResultFailed(volume->GetLastError()) || !volume->Header()) {
        refused_.insert(startByte);
        // The header stands; its trees do not. What survives of its catalog
        // on the surface is placed by this header, not by a guess.
        unopened_.push_back({startByte, size, h.blockSize});
        return false;
    }
    record->volume = std::move(volume);
    record->header = *record->volume->Header();
    record->blockSize = record->header.blockSize;
    record->headerSector = static_cast<long long>(headerPosition / sectorSize_);
    record->fromBackupHeader = backup;
    record->index = static_cast<uint32_t>(records_.size());
    records_.push_back(std::move(record));
    SearchVolume(*records_.back());
    return true;
}

void CHFSPlusCompleteFileSystemSearchController::SearchVolume(CompleteSearchPatition& record) {
    if (!builder_)
        return;
    const unsigned perBlock = record.blockSize / sectorSize_;
    // The claimed-unit map the signature search reads, so that it does not
    // carve the live files again: scanning a live HFS+ volume it counts the
    // volume's blocks; scanning a disk (or any other device) it covers the
    // whole device in units of 8 sectors.
    if (bitmap_ && !bitmap_->GetBitmapData() && perBlock > 0) {
        if (active_ && record.startSector == 0)
            bitmap_->CreateBitmap(record.header.totalBlocks, perBlock);
        else
            bitmap_->CreateBitmap((totalSectors_ + kDeviceUnit - 1) / kDeviceUnit, kDeviceUnit);
    }
    CHFSPlusDirectoryTreeBuilder wrapper(builder_, perBlock, record.index,
                                         static_cast<unsigned long long>(record.startSector));
    wrapper.SetBitmap(bitmap_);
    CHFSPlusQuickFileSystemSearchProgress progress(progress_, true);
    const VKRESULT walked = QuickSearchVolume(record.volume.get(), &wrapper, &progress);
    if (ResultFailed(walked))
        lastError_ = walked;
    record.filesAdded += wrapper.Files();
    record.foldersAdded += wrapper.Folders();
}

bool CHFSPlusCompleteFileSystemSearchController::InsideFoundVolume(uint64_t position) const {
    return FoundVolumeAt(position) != nullptr;
}

CompleteSearchPatition* CHFSPlusCompleteFileSystemSearchController::FoundVolumeAt(
    uint64_t position) const {
    for (const auto& r : records_) {
        const uint64_t start = static_cast<uint64_t>(r->startSector) * sectorSize_;
        if (r->volume && position >= start &&
            position - start < static_cast<uint64_t>(r->sectorCount) * sectorSize_)
            return r.get();
    }
    return nullptr;
}

bool CHFSPlusCompleteFileSystemSearchController::InsideLiveTree(uint64_t position) const {
    const CompleteSearchPatition* r = FoundVolumeAt(position);
    if (!r)
        return false;
    const uint32_t file = r->volume->GetNodeBelongToFile(
        position - static_cast<uint64_t>(r->startSector) * sectorSize_);
    return file == L::kCatalogFileID || file == L::kExtentsFileID || file == L::kAttributesFileID;
}

void CHFSPlusCompleteFileSystemSearchController::TestSurfaceStructures(const uint8_t* p,
                                                                       const uint8_t* end,
                                                                       uint64_t position) {
    // Journal header: its magic and byte-order words.
    if (HasJournalMagic(p)) {
        JournalHeader h;
        flipJournalHeader(p, L::kJournalHeaderSize, &h);
        if (h.endian == L::kJournalEndian && journalHeaders_.size() < 1024 &&
            !InsideFoundVolume(position))
            journalHeaders_.emplace_back(position, h);
        return;
    }
    // Journal info block: its sector's tail filled with 0xDB, reserved
    // words zero.
    if (p[511] == L::kJIBFiller && p[L::kJIBRecordSize] == L::kJIBFiller) {
        bool tail = true;
        for (size_t i = L::kJIBRecordSize; i < 512 && tail; ++i)
            tail = p[i] == L::kJIBFiller;
        for (size_t i = L::kJIBReserved; i < L::kJIBRecordSize && tail; ++i)
            tail = p[i] == 0;
        JournalInfoBlock jib;
        flipJournalInfoBlock(p, 512, &jib);
        if (tail && (jib.flags & L::kJournalInFS) && jib.offset % 512 == 0 && jib.size % 512 == 0 &&
            infoBlocks_.size() < 1024 && !InsideFoundVolume(position))
            infoBlocks_.emplace_back(position, jib);
        return;
    }
    // Catalog leaf node: kind -1, height 1, reserved 0, some records.
    if (p[L::kNodeKind] != 0xFF || p[L::kNodeHeight] != 1 || p[L::kNodeReserved] != 0 ||
        p[L::kNodeReserved + 1] != 0 ||
        (p[L::kNodeNumRecords] == 0 && p[L::kNodeNumRecords + 1] == 0))
        return;
    // A found volume's live trees were read whole by its listing; what
    // lies elsewhere in it (old nodes in its journal or its free space) may
    // hold records its trees lost.
    if (InsideLiveTree(position))
        return;
    // The node's size is the first that makes a valid node; a node that
    // runs past the block is read on from the device.
    for (size_t size = L::kMinNodeSize; size <= L::kMaxNodeSize; size *= 2) {
        const uint8_t* node = p;
        if (static_cast<size_t>(end - p) < size) {
            const uint64_t first = position / sectorSize_;
            const uint64_t sectors =
                (position % sectorSize_ + size + sectorSize_ - 1) / sectorSize_;
            if (first + sectors > static_cast<uint64_t>(totalSectors_))
                return;
            nodeBuffer_.resize(static_cast<size_t>(sectors) * sectorSize_);
            if (!device_->ReadSector(nodeBuffer_.data(), static_cast<long long>(first),
                                     static_cast<long long>(sectors)))
                return;
            node = nodeBuffer_.data() + position % sectorSize_;
        }
        if (node[size - 2] != 0 || node[size - 1] != L::kNodeDescriptorSize ||
            !CHFSPlusBTNode::IsValidNode(node, size))
            continue;
        ClassifyLeaf(CHFSPlusBTNode(node, size), position);
        return;
    }
}

void CHFSPlusCompleteFileSystemSearchController::ClassifyLeaf(const CHFSPlusBTNode& leaf,
                                                              uint64_t position) {
    // A leaf of the catalog (every record a catalog key and a valid record),
    // of the extents tree (12-byte keys, 64-byte extent records) or of the
    // attributes tree.
    const uint16_t count = leaf.GetRecordCount();
    std::vector<SurfaceRecord> catalog;
    std::vector<SurfaceExtent> extents;
    std::vector<SurfaceAttribute> attributes;
    bool isCatalog = true, isExtents = true, isAttributes = true;
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t length = 0;
        const uint8_t* record = leaf.GetRecord(i, &length);
        if (!record)
            return;
        BTKey key;
        if (isCatalog) {
            SurfaceRecord r;
            isCatalog =
                ResultSucceeded(filpCatalogKey(record, length, &r.key)) &&
                ResultSucceeded(flipCatalogRecord(record + r.key.keyLength + 2,
                                                  length - r.key.keyLength - 2u, &r.record));
            if (isCatalog &&
                (r.record.recordType == L::kRecFile || r.record.recordType == L::kRecFolder)) {
                r.position = position;
                catalog.push_back(std::move(r));
            }
        }
        if (isExtents) {
            SurfaceExtent e;
            isExtents = length == L::kExtKeySize + L::kExtentRecordSize &&
                        ResultSucceeded(filpExtentKey(record, length, &e.key)) &&
                        ResultSucceeded(flipExtentRecord(record + L::kExtKeySize,
                                                         L::kExtentRecordSize, &e.record));
            if (isExtents) {
                e.position = position;
                extents.push_back(std::move(e));
            }
        }
        if (isAttributes) {
            SurfaceAttribute a;
            isAttributes =
                ResultSucceeded(filpAttributeKey(record, length, &a.key)) &&
                ResultSucceeded(flipAttrRecord(record + a.key.keyLength + 2,
                                               length - a.key.keyLength - 2u, &a.record));
            if (isAttributes) {
                a.position = position;
                attributes.push_back(std::move(a));
            }
        }
        if (!isCatalog && !isExtents && !isAttributes)
            return;
    }
    // No bound: each record is a file or folder the user may need back, and
    // the memory they take is that of the records themselves.
    auto keep = [&](auto& from, auto& to) {
        for (auto& r : from)
            to.push_back(std::move(r));
    };
    if (isCatalog)
        keep(catalog, orphans_);
    else if (isExtents)
        keep(extents, surfaceExtents_);
    else if (isAttributes)
        keep(attributes, surfaceAttributes_);
}

void CHFSPlusCompleteFileSystemSearchController::GiveSurfaceRecordsToVolumes() {
    // Records met before their volume was found (a volume found by the
    // copy of its header at its end) are sorted out here too.
    std::vector<std::vector<SurfaceRecord>> byVolume(records_.size());
    std::erase_if(orphans_, [&](SurfaceRecord& r) {
        CompleteSearchPatition* v = FoundVolumeAt(r.position);
        if (!v)
            return false;
        if (!InsideLiveTree(r.position))
            byVolume[v->index].push_back(std::move(r));
        return true;
    });
    // Extents and attributes first: the files' nodes resolve their overflow
    // extents and compressed data through them. Copies the volume's journal
    // gave are kept.
    std::erase_if(surfaceExtents_, [&](const SurfaceExtent& e) {
        CompleteSearchPatition* v = FoundVolumeAt(e.position);
        if (v && !InsideLiveTree(e.position))
            v->volume->DeletedExtents().emplace(e.key, e.record);
        return v != nullptr;
    });
    std::erase_if(surfaceAttributes_, [&](const SurfaceAttribute& a) {
        CompleteSearchPatition* v = FoundVolumeAt(a.position);
        if (v && !InsideLiveTree(a.position))
            v->volume->DeletedAttributes().emplace(a.key, a.record);
        return v != nullptr;
    });
    for (auto& r : records_)
        if (!byVolume[r->index].empty())
            GiveSurfaceRecords(*r, byVolume[r->index]);
}

void CHFSPlusCompleteFileSystemSearchController::GiveSurfaceRecords(
    CompleteSearchPatition& record, std::vector<SurfaceRecord>& records) {
    CHFSPlusVolume* volume = record.volume.get();
    // The newest copy of each record: a journal keeps many generations.
    auto same = [](const SurfaceRecord& a, const SurfaceRecord& b) {
        return a.key.id == b.key.id && a.record.id == b.record.id && a.key.name == b.key.name;
    };
    std::stable_sort(records.begin(), records.end(),
                     [](const SurfaceRecord& a, const SurfaceRecord& b) {
                         if (a.key.id != b.key.id)
                             return a.key.id < b.key.id;
                         if (a.record.id != b.record.id)
                             return a.record.id < b.record.id;
                         if (a.key.name != b.key.name)
                             return a.key.name < b.key.name;
                         return a.record.contentModDate > b.record.contentModDate;
                     });
    records.erase(std::unique(records.begin(), records.end(), same), records.end());
    CHFSPlusDirectoryTreeBuilder wrapper(builder_, record.blockSize / sectorSize_, record.index,
                                         static_cast<unsigned long long>(record.startSector));
    const uint32_t privateID = volume->PrivateFolderID();
    size_t kept = 0;
    for (const SurfaceRecord& r : records) {
        // What the volume's trees or its journal still hold, its listing
        // showed; hard links' indirect nodes are reached through the links.
        HFSPlusCatalogRecord known;
        if (r.record.createDate == 0 || (privateID != 0 && r.key.id == privateID) ||
            (volume->LookupCatalog(r.key, &known) && known.id == r.record.id))
            continue;
        vk::ReleasePtr<CHFSPlusFileNode> node(
            new CHFSPlusFileNode(volume, static_cast<long long>(r.position / sectorSize_),
                                 record.index, r.key, r.record));
        if (node->GetCurrentNodeID() == -1)
            continue;
        node->MarkDeleted();
        // Taken, the node is the tree builder's; refused, it is let go here.
        if (wrapper.AddNode(node.get(), SEARCHER_HFSPLUS)) {
            node.release();
            ++kept;
        }
    }
    if (ErrorLinesOn() && kept != 0)
        std::printf("HFS+ volume at sector %lld: %zu records found outside its trees\n",
                    record.startSector, kept);
    record.filesAdded += wrapper.Files();
    record.foldersAdded += wrapper.Folders();
}

void CHFSPlusCompleteFileSystemSearchController::BuildOrphanVolume() {
    std::erase_if(infoBlocks_, [&](const auto& j) { return InsideFoundVolume(j.first); });
    std::erase_if(journalHeaders_, [&](const auto& j) { return InsideFoundVolume(j.first); });
    if (orphans_.empty() || records_.size() >= kMaxVolumes)
        return;
    // Where the volume began: the header of a volume that would not open,
    // when the records lie inside it; else the journal header sits `offset`
    // bytes into the volume its info block names, and both agree on the
    // journal's size.
    const uint64_t firstRecord = orphans_.front().position;
    uint64_t start = protectiveMBR_ ? 40ULL * 512 : 0;
    uint64_t journalStart = 0, journalEnd = 0;
    uint32_t blockSize = 4096;
    uint64_t volumeBytes = 0;
    for (const UnopenedVolume& u : unopened_) {
        if (firstRecord >= u.startByte && firstRecord - u.startByte < u.bytes) {
            start = u.startByte;
            blockSize = u.blockSize;
            volumeBytes = u.bytes;
            break;
        }
    }
    for (const auto& [jibAt, jib] : infoBlocks_) {
        bool placed = false;
        for (const auto& [jhAt, jh] : journalHeaders_) {
            if (jh.size != jib.size || jhAt < jib.offset || jhAt - jib.offset > firstRecord ||
                jibAt < jhAt - jib.offset || (jhAt - jib.offset) % sectorSize_ != 0 ||
                (volumeBytes != 0 && jhAt - jib.offset != start))
                continue;
            start = jhAt - jib.offset;
            // The info block lies on a block boundary of the volume.
            while (volumeBytes == 0 && blockSize > 512 && (jibAt - start) % blockSize != 0)
                blockSize /= 2;
            journalStart = jhAt;
            journalEnd = jhAt + jh.size;
            placed = true;
            break;
        }
        if (placed)
            break;
    }
    if (start % sectorSize_ != 0 || start / sectorSize_ >= static_cast<uint64_t>(totalSectors_))
        return;
    auto record = std::make_unique<CompleteSearchPatition>();
    record->startSector = static_cast<long long>(start / sectorSize_);
    record->sectorCount = totalSectors_ - record->startSector;
    if (volumeBytes != 0)
        record->sectorCount = std::min<long long>(
            record->sectorCount, static_cast<long long>(volumeBytes / sectorSize_));
    record->blockSize = blockSize;
    record->index = static_cast<uint32_t>(records_.size());
    if (ErrorLinesOn())
        std::printf(
            "HFS+ catalog records without a volume header: %zu, taken to start at sector %lld%s\n",
            orphans_.size(), record->startSector,
            volumeBytes == 0 && journalEnd == 0 ? " (a guess: their files are marked damaged)"
                                                : "");
    // A volume over the window with a header made up from what is known,
    // and no trees: the surface's extents and attributes records stand in
    // for its trees, so overflow extents, compressed files and hard links
    // still resolve.
    uint8_t header[L::kVolumeHeaderSize] = {};
    const uint64_t bytes = static_cast<uint64_t>(record->sectorCount) * sectorSize_;
    vk::StoreBE<uint16_t>(header + L::kVHSignature, L::kSignatureHFSPlus);
    vk::StoreBE<uint16_t>(header + L::kVHVersion, 4);
    vk::StoreBE<uint32_t>(header + L::kVHBlockSize, blockSize);
    vk::StoreBE<uint32_t>(header + L::kVHTotalBlocks,
                          static_cast<uint32_t>(std::min<uint64_t>(bytes / blockSize, UINT32_MAX)));
    record->device.reset(CreatePartitionDevice(device_, record->startSector, record->sectorCount));
    VolumeOptions options;
    options.skipCatalog = true;
    options.skipJournal = true;
    options.headerCopy = header;
    if (record->device)
        record->volume = std::make_unique<CHFSPlusVolume>(record->device.get(), options);
    CHFSPlusVolume* volume =
        record->volume && record->volume->Header() ? record->volume.get() : nullptr;
    // Copies kept by the journal stand for items the live trees lost: they
    // are shown deleted, and only where no live copy exists.
    auto inJournal = [&](uint64_t at) { return at >= journalStart && at < journalEnd; };
    if (volume) {
        for (int pass = 0; pass < 2; ++pass) {
            for (const SurfaceExtent& e : surfaceExtents_)
                if (inJournal(e.position) == (pass == 1))
                    volume->DeletedExtents().emplace(e.key, e.record);
            for (const SurfaceAttribute& a : surfaceAttributes_)
                if (inJournal(a.position) == (pass == 1))
                    volume->DeletedAttributes().emplace(a.key, a.record);
            for (const SurfaceRecord& r : orphans_)
                if (inJournal(r.position) == (pass == 1) &&
                    !volume->FindDeleteCatalog(r.key, nullptr))
                    volume->DeletedCatalog().emplace(r.key, r.record);
        }
        std::vector<uint16_t> privateName = {0, 0, 0, 0};
        for (const char* c = "HFS+ Private Data"; *c; ++c)
            privateName.push_back(static_cast<unsigned char>(*c));
        HFSPlusCatalogRecord folder;
        if (volume->FindDeleteCatalog(MakeCatalogKey(L::kRootFolderID, privateName), &folder))
            volume->SetPrivateFolderID(folder.id);
    }
    std::set<std::pair<uint32_t, uint32_t>> live;
    for (const SurfaceRecord& r : orphans_)
        if (!inJournal(r.position))
            live.emplace(r.key.id, r.record.id);
    std::set<std::pair<uint32_t, uint32_t>> given;
    // Neither a header nor the journal placed the volume: its start is a
    // guess, and a wrong one reads every file from the wrong place. Its
    // files are marked, never passed off as sure, and claim no sectors from
    // the signature search.
    const bool startGuessed = volumeBytes == 0 && journalEnd == 0;
    CHFSPlusDirectoryTreeBuilder wrapper(builder_, blockSize / sectorSize_, record->index,
                                         static_cast<unsigned long long>(record->startSector));
    if (!startGuessed)
        wrapper.SetBitmap(bitmap_);
    const uint32_t privateID = volume ? volume->PrivateFolderID() : 0;
    std::vector<vk::ReleasePtr<CHFSPlusFileNode>> indirect;
    std::set<uint32_t> linked;
    auto give = [&](CHFSPlusFileNode* node) {
        if (startGuessed && !node->IsDirectory())
            node->MarkDamaged();
        if (!wrapper.AddNode(node, SEARCHER_HFSPLUS))
            node->Release();
    };
    for (const SurfaceRecord& r : orphans_) {
        const bool journal = inJournal(r.position);
        if (journal && live.count({r.key.id, r.record.id}))
            continue;
        if (!given.emplace(r.key.id, r.record.id).second || r.record.createDate == 0)
            continue;
        vk::ReleasePtr<CHFSPlusFileNode> node(
            new CHFSPlusFileNode(volume, static_cast<long long>(r.position / sectorSize_),
                                 record->index, r.key, r.record));
        if (journal)
            node->MarkDeleted();
        if (node->GetCurrentNodeID() == -1)
            continue;
        if (node->IsHardLink())
            linked.insert(node->HardLinkTarget());
        if (privateID != 0 && !node->IsDirectory() && node->GetParentNodeID() == privateID) {
            indirect.push_back(std::move(node));
            continue;
        }
        give(node.release());
    }
    // A target some link reached goes with the list.
    for (vk::ReleasePtr<CHFSPlusFileNode>& node : indirect) {
        if (!linked.count(static_cast<uint32_t>(node->GetCurrentNodeID())))
            give(node.release());
    }
    record->filesAdded = wrapper.Files();
    record->foldersAdded = wrapper.Folders();
    records_.push_back(std::move(record));
    orphans_.clear();
    surfaceExtents_.clear();
    surfaceAttributes_.clear();
}

void CHFSPlusCompleteFileSystemSearchController::EndSearch(int build) {
    if (!build || !builder_)
        return;
    GiveSurfaceRecordsToVolumes();
    BuildOrphanVolume();
    builder_->FlashBuild(SEARCHER_HFSPLUS);
    bitmap_ = nullptr;
}

int CHFSPlusCompleteFileSystemSearchController::GetSearchedPartitionInfo(
    CSearchedPartitionInfo** out, int capacity) {
    const int count = static_cast<int>(records_.size());
    if (!out || capacity < count)
        return count;
    int made = 0;
    for (const auto& r : records_) {
        auto* info = new CSearchedPartitionInfo(sectorSize_);
        info->partitionIndex = static_cast<int16_t>(r->index);
        info->runOriginSector = r->startSector;
        info->startSector = r->startSector;
        info->SetTotalSectors(static_cast<unsigned long long>(r->sectorCount));
        info->fileSystemType = FS_HFSPLUS;
        info->sectorsPerCluster = r->blockSize / sectorSize_;
        if (info->sectorsPerCluster == 0) {
            if (ErrorLinesOn())
                std::printf("Warn:SectorsperCluster calc Error!\n");
            info->sectorsPerCluster = 4096 / sectorSize_;
        }
        out[made++] = info;
    }
    return made;
}

}  // namespace hfsplus

ICompleteFileSystemSearchController* CreateHFSPlusSearcher() {
    return new hfsplus::CHFSPlusCompleteFileSystemSearchController();
}
