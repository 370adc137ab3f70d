#include "HFSPlusVolume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "HFSPlusJournal.h"
#include "HFSPlusLayout.h"
#include "IStorageDevice.h"
#include "SectorSize.h"
#include "Utility/TextConvert.h"

namespace hfsplus {

namespace L = layout;

// ---------------------------------------------------------------- fork readers

CHFSPlusRawfile::CHFSPlusRawfile(CHFSPlusVolume* volume, uint32_t fileID,
                                 const HFSPlusForkData& fork)
    : volume_(volume), fileID_(fileID) {
    if (!volume_ || !volume_->Header()) {
        lastError_ = HFS_ERROR(kHFSNullArgument);
        return;
    }
    lastError_ = volume_->CollectExtents(fileID, L::kForkData, fork, &extents_, false);
    const uint64_t blockSize = volume_->BlockSize();
    uint64_t at = 0;
    for (const HFSPlusExtentDescriptor& e : extents_) {
        starts_.push_back(at);
        at += uint64_t{e.blockCount} * blockSize;
    }
    length_ = std::min<uint64_t>(fork.logicalSize, at);
}

uint64_t CHFSPlusRawfile::Read(uint64_t offset, uint8_t* buffer, uint64_t length) {
    if (!buffer)
        return 0;
    const uint64_t blockSize = volume_->BlockSize();
    uint64_t done = 0;
    // The extent holding `offset`: the last one starting at or before it.
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    if (it == starts_.begin()) {
        lastError_ = HFS_ERROR(kHFSDamaged);
        return 0;
    }
    size_t i = static_cast<size_t>(it - starts_.begin()) - 1;
    while (done < length && i < extents_.size()) {
        const uint64_t extentBytes = uint64_t{extents_[i].blockCount} * blockSize;
        const uint64_t within = offset + done - starts_[i];
        if (within >= extentBytes) {
            ++i;
            continue;
        }
        const uint64_t take = std::min(length - done, extentBytes - within);
        const uint64_t position = uint64_t{extents_[i].startBlock} * blockSize + within;
        const uint64_t got = volume_->Read(position, buffer + done, take);
        done += got;
        if (got != take) {
            lastError_ = HFS_ERROR(kHFSShortRead);
            return done;
        }
        ++i;
    }
    if (done < length)
        lastError_ = HFS_ERROR(kHFSDamaged);
    return done;
}

CHFSPlusFileCache::CHFSPlusFileCache(CHFSPlusVolume* volume, uint32_t fileID,
                                     const HFSPlusForkData& fork, uint64_t limit)
    : CHFSPlusRawfile(volume, fileID, fork) {
    const uint64_t want = std::min(length_, limit);
    if (want == 0)
        return;
    cache_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(want)]);
    if (!cache_)
        return;
    if (CHFSPlusRawfile::Read(0, cache_.get(), want) != want) {
        cache_.reset();
        return;
    }
    cacheSize_ = want;
}

uint64_t CHFSPlusFileCache::Read(uint64_t offset, uint8_t* buffer, uint64_t length) {
    if (offset < cacheSize_ && buffer) {
        const uint64_t take = std::min<uint64_t>(length, cacheSize_ - offset);
        std::memcpy(buffer, cache_.get() + offset, static_cast<size_t>(take));
        if (take == length)
            return take;
        return take + CHFSPlusRawfile::Read(offset + take, buffer + take, length - take);
    }
    return CHFSPlusRawfile::Read(offset, buffer, length);
}

// ---------------------------------------------------------------- volume

CHFSPlusVolume::CHFSPlusVolume(IStorageDevice* device, const VolumeOptions& options)
    : device_(device) {
    lastError_ = Open(options);
}

CHFSPlusVolume::~CHFSPlusVolume() = default;

uint64_t CHFSPlusVolume::ByteSize() const {
    return header_ ? uint64_t{header_->totalBlocks} * header_->blockSize : 0;
}

bool CHFSPlusVolume::IsValidVolumeHeader(const uint8_t* sector, size_t length) {
    HFSPlusVolumeHeader h;
    if (!sector || length < L::kVolumeHeaderSize ||
        ResultFailed(flipVolumeHeader(sector, length, &h)))
        return false;
    if (h.signature != L::kSignatureHFSPlus && h.signature != L::kSignatureHFSX)
        return false;
    if (h.version > 16)
        return false;
    // Every size and position of the volume is a multiple of the block
    // size: 0, or a size that is not a power of two, would make them
    // meaningless (and divisions by it fail).
    if (h.blockSize < 512 || (h.blockSize & (h.blockSize - 1)) != 0)
        return false;
    if (h.totalBlocks < h.freeBlocks || h.totalBlocks < h.journalInfoBlock)
        return false;
    return uint64_t{h.blockSize} * h.catalogFile.totalBlocks == h.catalogFile.logicalSize;
}

VKRESULT CHFSPlusVolume::Open(const VolumeOptions& options) {
    if (!device_)
        return HFS_ERROR(kHFSNullArgument);
    sectorSize_ =
        vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(0, device_->GetSectorSize())));
    const long long total = device_->GetTotalSectors();
    deviceBytes_ = total > 0 ? static_cast<uint64_t>(total) * sectorSize_ : 0;
    uint8_t vh[L::kVolumeHeaderSize];
    const bool read = Read(L::kVolumeHeaderOffset, vh, sizeof vh) == sizeof vh;
    if (!read || !IsValidVolumeHeader(vh, sizeof vh)) {
        // An unreadable or damaged header is replaced by a copy found
        // elsewhere when there is one.
        if (!options.headerCopy || !IsValidVolumeHeader(options.headerCopy, L::kVolumeHeaderSize))
            return read ? HFS_ERROR(kHFSDamaged) : HFS_ERROR(kHFSShortRead);
        std::memcpy(vh, options.headerCopy, sizeof vh);
    }
    header_ = std::make_unique<HFSPlusVolumeHeader>();
    flipVolumeHeader(vh, sizeof vh, header_.get());

    if (!options.skipJournal)
        journal_ = std::make_unique<CHFSPlusJournal>(this);

    extentsFile_ = std::make_unique<CHFSPlusRawfile>(this, L::kExtentsFileID, header_->extentsFile);
    if (header_->extentsFile.totalBlocks != 0) {
        extents_ = std::make_unique<CHFSPlusExtents>(this, extentsFile_.get());
        if (ResultFailed(extents_->GetLastError()))
            extents_.reset();
    }
    attributesFile_ =
        std::make_unique<CHFSPlusRawfile>(this, L::kAttributesFileID, header_->attributesFile);
    if (header_->attributesFile.totalBlocks != 0) {
        attributes_ = std::make_unique<CHFSPlusAttribute>(this, attributesFile_.get());
        if (ResultFailed(attributes_->GetLastError()))
            attributes_.reset();
    }
    if (options.skipCatalog)
        return HFS_ERROR(kHFSDamaged);  // no catalog header record, by request
    catalogFile_ = std::make_unique<CHFSPlusFileCache>(
        this, L::kCatalogFileID, header_->catalogFile, options.catalogCacheLimit);
    catalog_ = std::make_unique<CHFSPlusCatalog>(this, catalogFile_.get());
    if (ResultFailed(catalog_->GetLastError()) || !catalog_->GetHeaderRec()) {
        const VKRESULT code = catalog_->GetLastError();
        catalog_.reset();
        return ResultFailed(code) ? code : HFS_ERROR(kHFSDamaged);
    }
    keyCompareType_ = catalog_->KeyCompareType();
    deletedCatalog_ = std::multimap<BTKey, HFSPlusCatalogRecord, CCatalogKeyLess>(
        CCatalogKeyLess{keyCompareType_});
    FindNames();
    return VK_OK;
}

void CHFSPlusVolume::FindNames() {
    // The root folder's thread names the volume.
    HFSPlusSearchResult result;
    std::vector<uint8_t> data;
    HFSPlusCatalogRecord record;
    if (ResultSucceeded(
            Search(L::kCatalogFileID, MakeCatalogKey(L::kRootFolderID, {}), result, &data)) &&
        result.found && ResultSucceeded(flipCatalogRecord(data.data(), data.size(), &record)) &&
        record.recordType == L::kRecFolderThread) {
        volumeName_ = vk::Utf16UnitsToUtf8(record.threadName.data(), record.threadName.size());
    }
    std::vector<uint16_t> name = {0, 0, 0, 0};
    for (const char* p = "HFS+ Private Data"; *p; ++p)
        name.push_back(static_cast<unsigned char>(*p));
    if (ResultSucceeded(
            Search(L::kCatalogFileID, MakeCatalogKey(L::kRootFolderID, name), result, &data)) &&
        result.found && ResultSucceeded(flipCatalogRecord(data.data(), data.size(), &record)) &&
        record.recordType == L::kRecFolder) {
        privateFolderID_ = record.id;
    }
}

uint64_t CHFSPlusVolume::Read(uint64_t byteOffset, void* buffer, uint64_t length) {
    if (!device_ || !buffer || length == 0)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    const uint64_t S = sectorSize_;
    uint64_t end = 0;
    if (!vk::CheckedAdd(byteOffset, length, &end) || end > deviceBytes_) {
        // Deliver what the device holds, then report the rest as unread.
        if (byteOffset >= deviceBytes_) {
            lastError_ = HFS_ERROR(kHFSReadFailure);
            return 0;
        }
        const uint64_t got = Read(byteOffset, buffer, deviceBytes_ - byteOffset);
        lastError_ = HFS_ERROR(kHFSReadFailure);
        return got;
    }
    uint64_t done = 0;
    std::vector<uint8_t> scratch;
    auto readPartial = [&](uint64_t position, uint64_t take) -> bool {
        scratch.resize(S);
        const uint64_t sector = position / S;
        if (!device_->ReadSector(scratch.data(), static_cast<long long>(sector), 1))
            return false;
        std::memcpy(out + done, scratch.data() + position % S, static_cast<size_t>(take));
        done += take;
        return true;
    };
    auto fail = [&]() {
        lastError_ = HFS_ERROR(kHFSReadFailure);
        if (ErrorLinesOn())
            std::printf("Location:%llu\tSize:%llu\n",
                        static_cast<unsigned long long>(byteOffset + done),
                        static_cast<unsigned long long>(length - done));
        return done;
    };
    if (byteOffset % S != 0) {
        const uint64_t take = std::min(length, S - byteOffset % S);
        if (!readPartial(byteOffset, take))
            return fail();
    }
    const uint64_t whole = (length - done) / S;
    if (whole > 0) {
        if (!device_->ReadSector(out + done, static_cast<long long>((byteOffset + done) / S),
                                 static_cast<long long>(whole)))
            return fail();
        done += whole * S;
    }
    if (done < length && !readPartial(byteOffset + done, length - done))
        return fail();
    return done;
}

VKRESULT CHFSPlusVolume::Search(uint32_t fileID, const BTKey& key, HFSPlusSearchResult& result,
                                std::vector<uint8_t>* record) {
    result = HFSPlusSearchResult{};
    if (!header_)
        return HFS_ERROR(kHFSNullArgument);
    CHFSPlusBTreeOptionBase* tree = nullptr;
    switch (fileID) {
        case L::kExtentsFileID:
            tree = extents_.get();
            break;
        case L::kCatalogFileID:
            tree = catalog_.get();
            break;
        case L::kAttributesFileID:
            tree = attributes_.get();
            break;
        default:
            return HFS_ERROR(kHFSUnknownFile);
    }
    if (!tree)
        return HFS_ERROR(kHFSNotReady);
    return tree->Search(key, result, record);
}

VKRESULT CHFSPlusVolume::Traverse(uint32_t fileID, const LeafAction& action,
                                  const ContinueQuery& continued) {
    if (fileID != L::kCatalogFileID)
        return HFS_ERROR(kHFSUnknownFile);
    if (!catalog_)
        return HFS_ERROR(kHFSNotReady);
    return catalog_->Traverse(action, continued);
}

size_t CHFSPlusVolume::getAttribute(uint32_t fileID, const char* name, std::vector<uint8_t>* data) {
    if (!data)
        return 0;
    data->clear();
    const BTKey key = MakeAttributeKey(fileID, name);
    HFSPlusAttrRecord record;
    bool found = false;
    if (attributes_) {
        HFSPlusSearchResult result;
        std::vector<uint8_t> bytes;
        if (ResultSucceeded(attributes_->Search(key, result, &bytes)) && result.found &&
            ResultSucceeded(flipAttrRecord(bytes.data(), bytes.size(), &record)))
            found = true;
    }
    if (!found && !FindDeleteAttribute(key, &record))
        return 0;
    if (record.recordType != L::kAttrInline) {
        if (ErrorLinesOn())
            std::fprintf(stderr, "unsupported attribute node format\n");
        return 0;
    }
    *data = std::move(record.data);
    return data->size();
}

bool CHFSPlusVolume::LookupCatalog(const BTKey& key, HFSPlusCatalogRecord* record) {
    HFSPlusSearchResult result;
    std::vector<uint8_t> bytes;
    if (catalog_ && ResultSucceeded(catalog_->Search(key, result, &bytes)) && result.found &&
        ResultSucceeded(flipCatalogRecord(bytes.data(), bytes.size(), record)))
        return true;
    return FindDeleteCatalog(key, record);
}

bool CHFSPlusVolume::FindDeleteCatalog(const BTKey& key, HFSPlusCatalogRecord* record) const {
    auto it = deletedCatalog_.find(key);
    if (it == deletedCatalog_.end())
        return false;
    if (record)
        *record = it->second;
    return true;
}

bool CHFSPlusVolume::FindDeleteExtent(const BTKey& key, HFSPlusExtentRecord* record) const {
    auto it = deletedExtents_.find(key);
    if (it == deletedExtents_.end())
        return false;
    if (record)
        *record = it->second;
    return true;
}

bool CHFSPlusVolume::FindDeleteAttribute(const BTKey& key, HFSPlusAttrRecord* record) const {
    auto it = deletedAttributes_.find(key);
    if (it == deletedAttributes_.end())
        return false;
    if (record)
        *record = it->second;
    return true;
}

VKRESULT CHFSPlusVolume::CollectExtents(uint32_t fileID, uint8_t forkType,
                                        const HFSPlusForkData& fork,
                                        std::vector<HFSPlusExtentDescriptor>* out,
                                        bool useJournal) {
    out->clear();
    const uint64_t total = fork.totalBlocks;
    uint64_t blocks = 0;
    auto take = [&](const HFSPlusExtentRecord& record) {
        uint64_t added = 0;
        for (const HFSPlusExtentDescriptor& e : record) {
            if (blocks >= total || e.blockCount == 0)
                break;
            out->push_back(e);
            blocks += e.blockCount;
            added += e.blockCount;
        }
        return added;
    };
    take(fork.extents);
    for (unsigned round = 0; blocks < total; ++round) {
        // The extents file cannot describe itself, and a chain of records
        // that adds nothing or never ends is damage, not a fork.
        if (fileID == L::kExtentsFileID || (!extents_ && !useJournal) ||
            round >= kMaxOverflowRecords || blocks > UINT32_MAX)
            return HFS_ERROR(kHFSDamaged);
        const BTKey key = MakeExtentKey(fileID, forkType, static_cast<uint32_t>(blocks));
        HFSPlusExtentRecord record{};
        HFSPlusSearchResult result;
        std::vector<uint8_t> bytes;
        bool found = extents_ && ResultSucceeded(extents_->Search(key, result, &bytes)) &&
                     result.found &&
                     ResultSucceeded(flipExtentRecord(bytes.data(), bytes.size(), &record));
        if (!found && useJournal)
            found = FindDeleteExtent(key, &record);
        if (!found || take(record) == 0)
            return HFS_ERROR(kHFSDamaged);
    }
    return VK_OK;
}

bool CHFSPlusVolume::IsBelongToFile(uint32_t fileID, const HFSPlusForkData& fork,
                                    uint64_t byteOffset) {
    if (!header_)
        return false;
    std::vector<HFSPlusExtentDescriptor> extents;
    CollectExtents(fileID, L::kForkData, fork, &extents, false);
    const uint64_t B = header_->blockSize;
    for (const HFSPlusExtentDescriptor& e : extents) {
        const uint64_t first = uint64_t{e.startBlock} * B;
        if (first <= byteOffset && byteOffset < first + uint64_t{e.blockCount} * B)
            return true;
    }
    return false;
}

uint32_t CHFSPlusVolume::GetNodeBelongToFile(uint64_t byteOffset) {
    if (!header_)
        return 0;
    // The open special files know their extents already.
    const uint64_t B = header_->blockSize;
    for (const CHFSPlusRawfile* file :
         {catalogFile_.get(), extentsFile_.get(), attributesFile_.get()}) {
        if (!file)
            continue;
        for (const HFSPlusExtentDescriptor& e : file->Extents()) {
            const uint64_t first = uint64_t{e.startBlock} * B;
            if (first <= byteOffset && byteOffset < first + uint64_t{e.blockCount} * B)
                return file->FileID();
        }
    }
    for (uint32_t id : {L::kAllocationFileID, L::kStartupFileID}) {
        if (IsBelongToFile(id, *header_->ForkOf(id), byteOffset))
            return id;
    }
    return 0;
}

}  // namespace hfsplus
