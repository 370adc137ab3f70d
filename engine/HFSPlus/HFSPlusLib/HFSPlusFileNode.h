// One catalog record (live, from the journal or found on the surface) as a
// node of the engine's result trees.
#pragma once

#include <cstdint>
#include <string>

#include "FileNode.h"
#include "HFSPlusStructs.h"

namespace hfsplus {

class CHFSPlusVolume;

// Name of an item: leading NUL units skipped (the private folders' names
// start with four), UTF-8.
std::string CatalogNameToUtf8(const std::vector<uint16_t>& name);
// HFS+ seconds since 1904 as 100 ns ticks since 1601; 0 stays 0.
long long HFSTimeToTicks(uint32_t seconds);

class CHFSPlusFileNode : public CFileNode {
public:
    // Quick search: live records with deleted 0, journal records with 1.
    CHFSPlusFileNode(CHFSPlusVolume* volume, const BTKey& key, const HFSPlusCatalogRecord& record,
                     int deleted);
    // Deep search: a record found at `metadataSector` of the scanned device.
    CHFSPlusFileNode(CHFSPlusVolume* volume, long long metadataSector, unsigned partitionIndex,
                     const BTKey& key, const HFSPlusCatalogRecord& record);

    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return size_; }
    uint32_t GetAttribute() override { return 0; }
    long long GetCreationTime() override { return HFSTimeToTicks(createDate_); }
    long long GetModificationTime() override { return HFSTimeToTicks(modifyDate_); }
    long long GetLastAccessTime() override { return HFSTimeToTicks(accessDate_); }
    int IsDirectory() override { return (flags_ & kDirectory) ? 1 : 0; }
    int IsDeleted() override { return (flags_ & kDeleted) ? 1 : 0; }
    _tagSearcherType GetSearcheType() const override { return SEARCHER_HFSPLUS; }
    IFileNode* Clone() override { return this; }
    void MarkDeleted() override { flags_ |= kDeleted; }
    IFileReader* CreateCompressFileReader(void* fileSystemContext) override;
    void FilterFileNameByDot() override;
    void UpdateFileSize(long long size) override { size_ = size; }
    // A compressed file's size becomes its uncompressed size.
    void UpdateNodeInfo() override;

    CHFSPlusVolume* Volume() const { return volume_; }
    // The catalog ID whose forks and attributes hold the data: the file's
    // own, or the indirect node a hard link points to.
    uint32_t DataFileID() const { return dataFileID_; }
    // Length of the fork the data runs describe (the resource fork of a
    // compressed file), which the compressed reader needs.
    uint64_t ForkLength() const { return forkLength_; }
    // Set for a hard link whose indirect node was found.
    bool IsHardLink() const { return hardLink_; }
    uint32_t HardLinkTarget() const { return linkTarget_; }

    static constexpr uint8_t kDeleted = 0x1;
    static constexpr uint8_t kDirectory = 0x2;
    static constexpr uint8_t kCompressed = 0x4;

private:
    void Build(const BTKey& key, const HFSPlusCatalogRecord& record, int deleted,
               long long metadataSector, unsigned partitionIndex);
    void BuildFileDataRun(const HFSPlusForkData& fork, uint8_t forkType);

    CHFSPlusVolume* volume_;
    std::string name_;
    long long size_ = 0;
    uint32_t createDate_ = 0;
    uint32_t modifyDate_ = 0;
    uint32_t accessDate_ = 0;
    uint8_t flags_ = 0;
    uint32_t dataFileID_ = 0;
    uint64_t forkLength_ = 0;
    bool hardLink_ = false;
    uint32_t linkTarget_ = 0;
};

}  // namespace hfsplus
