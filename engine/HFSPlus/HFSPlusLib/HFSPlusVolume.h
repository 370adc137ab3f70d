// One HFS+ or HFSX volume on a device whose sector 0 is the volume's first
// sector: its header, the fork readers of its special files, the three
// B-trees, the journal and the records found only in the journal. Nothing
// here writes to the device.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HFSPlusBTree.h"
#include "HFSPlusKeys.h"
#include "HFSPlusStructs.h"

class IStorageDevice;

namespace hfsplus {

class CHFSPlusJournal;

// Most of a catalog file kept in memory.
constexpr uint64_t kCatalogCacheLimit = 0x10000000;  // 256 MiB
// Overflow records one fork may chain; far above any real file.
constexpr unsigned kMaxOverflowRecords = 1u << 20;

// Reads a special file (or any fork) by byte offset through its extents.
class CHFSPlusRawfile {
public:
    // The extents come from the fork record and, past its eight, from the
    // extents tree; code 6 when they cannot all be found (the reader then
    // covers what was found).
    CHFSPlusRawfile(CHFSPlusVolume* volume, uint32_t fileID, const HFSPlusForkData& fork);
    virtual ~CHFSPlusRawfile() = default;
    CHFSPlusRawfile(const CHFSPlusRawfile&) = delete;
    CHFSPlusRawfile& operator=(const CHFSPlusRawfile&) = delete;

    // Bytes delivered; fewer past the last extent (code 6) or on a failed
    // read (code 0xe).
    virtual uint64_t Read(uint64_t offset, uint8_t* buffer, uint64_t length);
    VKRESULT GetLastError() const { return lastError_; }
    uint32_t FileID() const { return fileID_; }
    // The fork's logical size, cut to what its extents cover.
    uint64_t Length() const { return length_; }
    const std::vector<HFSPlusExtentDescriptor>& Extents() const { return extents_; }

protected:
    CHFSPlusVolume* volume_;
    uint32_t fileID_;
    std::vector<HFSPlusExtentDescriptor> extents_;
    std::vector<uint64_t> starts_;  // byte offset of each extent in the fork
    uint64_t length_ = 0;
    VKRESULT lastError_ = 0;
};

// The catalog's reader: its first bytes (up to a limit) held in memory.
class CHFSPlusFileCache final : public CHFSPlusRawfile {
public:
    CHFSPlusFileCache(CHFSPlusVolume* volume, uint32_t fileID, const HFSPlusForkData& fork,
                      uint64_t limit);
    uint64_t Read(uint64_t offset, uint8_t* buffer, uint64_t length) override;
    uint64_t CachedBytes() const { return cacheSize_; }

private:
    // Not a vector: filling it with zeros first would cost as much again.
    std::unique_ptr<uint8_t[]> cache_;
    uint64_t cacheSize_ = 0;
};

struct VolumeOptions {
    // Opens no catalog (reading compressed files needs only the header,
    // the extents and the attributes).
    bool skipCatalog = false;
    uint64_t catalogCacheLimit = kCatalogCacheLimit;
    // Opens no journal either (the recogniser only wants the name).
    bool skipJournal = false;
    // A copy of the volume header found elsewhere (the one 1024 bytes before
    // the volume's end), used when the volume's own is not valid.
    const uint8_t* headerCopy = nullptr;
};

class CHFSPlusVolume {
public:
    explicit CHFSPlusVolume(IStorageDevice* device, const VolumeOptions& options = {});
    ~CHFSPlusVolume();
    CHFSPlusVolume(const CHFSPlusVolume&) = delete;
    CHFSPlusVolume& operator=(const CHFSPlusVolume&) = delete;

    // The outcome of the opening, later the last failure.
    VKRESULT GetLastError() const { return lastError_; }
    const HFSPlusVolumeHeader* Header() const { return header_ ? header_.get() : nullptr; }
    IStorageDevice* Device() const { return device_; }
    uint32_t SectorSize() const { return sectorSize_; }
    uint32_t BlockSize() const { return header_ ? header_->blockSize : 0; }
    // The volume's size in bytes (total blocks times block size).
    uint64_t ByteSize() const;

    // Bytes at a byte offset of the volume; fewer on a failed read.
    uint64_t Read(uint64_t byteOffset, void* buffer, uint64_t length);

    // Exact-key search in tree 3, 4 or 8 (code 3 for another).
    VKRESULT Search(uint32_t fileID, const BTKey& key, HFSPlusSearchResult& result,
                    std::vector<uint8_t>* record);
    VKRESULT Traverse(uint32_t fileID, const LeafAction& action, const ContinueQuery& continued);

    // The inline data of attribute `name` of a file, from the live tree or
    // the journal's records; its length, 0 when absent.
    size_t getAttribute(uint32_t fileID, const char* name, std::vector<uint8_t>* data);
    // A catalog record by key: live tree first, then the journal's.
    bool LookupCatalog(const BTKey& key, HFSPlusCatalogRecord* record);

    // Records found only in the journal.
    bool FindDeleteCatalog(const BTKey& key, HFSPlusCatalogRecord* record) const;
    bool FindDeleteExtent(const BTKey& key, HFSPlusExtentRecord* record) const;
    bool FindDeleteAttribute(const BTKey& key, HFSPlusAttrRecord* record) const;
    std::multimap<BTKey, HFSPlusCatalogRecord, CCatalogKeyLess>& DeletedCatalog() {
        return deletedCatalog_;
    }
    std::map<BTKey, HFSPlusExtentRecord, CExtentKeyLess>& DeletedExtents() {
        return deletedExtents_;
    }
    std::map<BTKey, HFSPlusAttrRecord, CAttributeKeyLess>& DeletedAttributes() {
        return deletedAttributes_;
    }

    // Extents of a fork: its own eight, then overflow records from the
    // extents tree (and, when `useJournal`, from the journal's records).
    // Stops at a missing record or one that adds nothing (code 6).
    VKRESULT CollectExtents(uint32_t fileID, uint8_t forkType, const HFSPlusForkData& fork,
                            std::vector<HFSPlusExtentDescriptor>* out, bool useJournal);

    // Which special file holds this byte of the volume: 4, 3, 8, 6, 7 or 0.
    uint32_t GetNodeBelongToFile(uint64_t byteOffset);
    bool IsBelongToFile(uint32_t fileID, const HFSPlusForkData& fork, uint64_t byteOffset);

    // Signature "H+" or "HX", version at most 16, a block size that is a
    // power of two from 512 up, free and journal blocks inside the volume,
    // and a catalog fork whose size matches its blocks.
    static bool IsValidVolumeHeader(const uint8_t* sector, size_t length);

    CHFSPlusCatalog* Catalog() const { return catalog_.get(); }
    CHFSPlusExtents* ExtentsTree() const { return extents_.get(); }
    CHFSPlusAttribute* Attributes() const { return attributes_.get(); }
    CHFSPlusJournal* Journal() const { return journal_.get(); }
    uint8_t KeyCompareType() const { return keyCompareType_; }
    // The private folder of hard-link targets, 0 when there is none.
    uint32_t PrivateFolderID() const { return privateFolderID_; }
    // For a volume without a catalog whose records came from elsewhere.
    void SetPrivateFolderID(uint32_t id) { privateFolderID_ = id; }
    // The volume's name (the root folder's), UTF-8; empty when unknown.
    const std::string& VolumeName() const { return volumeName_; }

private:
    VKRESULT Open(const VolumeOptions& options);
    void FindNames();

    IStorageDevice* device_;
    uint32_t sectorSize_ = 512;
    uint64_t deviceBytes_ = 0;
    VKRESULT lastError_ = 0;
    std::unique_ptr<HFSPlusVolumeHeader> header_;
    std::unique_ptr<CHFSPlusRawfile> extentsFile_;
    std::unique_ptr<CHFSPlusExtents> extents_;
    std::unique_ptr<CHFSPlusRawfile> attributesFile_;
    std::unique_ptr<CHFSPlusAttribute> attributes_;
    std::unique_ptr<CHFSPlusRawfile> catalogFile_;
    std::unique_ptr<CHFSPlusCatalog> catalog_;
    std::unique_ptr<CHFSPlusJournal> journal_;
    std::multimap<BTKey, HFSPlusCatalogRecord, CCatalogKeyLess> deletedCatalog_;
    std::map<BTKey, HFSPlusExtentRecord, CExtentKeyLess> deletedExtents_;
    std::map<BTKey, HFSPlusAttrRecord, CAttributeKeyLess> deletedAttributes_;
    uint8_t keyCompareType_ = 0xCF;
    uint32_t privateFolderID_ = 0;
    std::string volumeName_;
};

}  // namespace hfsplus
