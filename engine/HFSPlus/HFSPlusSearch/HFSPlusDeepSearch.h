// Deep search for HFS+ volumes on a raw surface. Every 512-byte piece of
// every block is tested for a volume header; a header (the one 1024 bytes
// into a volume, or its copy 1024 bytes before the volume's end) names the
// volume's size, and a volume is taken only where its catalog opens at the
// start that header implies and the whole volume fits the device. Each
// volume so found is listed by the quick search of the live volume (journal
// included) as soon as it is found, through a builder that tags its nodes
// with the volume's partition index and marks their blocks as claimed.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "HFSPlusLib/HFSPlusStructs.h"
#include "SearchInterfaces.h"

class TBitmap;

namespace hfsplus {

class CHFSPlusVolume;
class CHFSPlusBTNode;

// One volume found on the surface.
struct CompleteSearchPatition {
    CompleteSearchPatition() = default;
    CompleteSearchPatition(const CompleteSearchPatition&) = delete;
    CompleteSearchPatition& operator=(const CompleteSearchPatition&) = delete;
    ~CompleteSearchPatition();

    long long startSector = -1;
    long long sectorCount = 0;
    uint32_t blockSize = 4096;
    uint32_t filesAdded = 0;
    uint32_t foldersAdded = 0;
    HFSPlusVolumeHeader header;
    long long headerSector = -1;  // where the header used was found
    bool fromBackupHeader = false;
    std::unique_ptr<IStorageDevice> device;  // window over the scanned device
    std::unique_ptr<CHFSPlusVolume> volume;
    uint32_t index = 0;
};

// Forwards to the scan's builder; tags each node with its volume's
// partition index and marks the blocks of live files in the shared bitmap.
class CHFSPlusDirectoryTreeBuilder final : public IDirecotryTreeBuilder {
public:
    CHFSPlusDirectoryTreeBuilder(IDirecotryTreeBuilder* real, unsigned sectorsPerBlock,
                                 unsigned partitionIndex, unsigned long long startSector)
        : real_(real),
          sectorsPerBlock_(sectorsPerBlock),
          partitionIndex_(partitionIndex),
          startSector_(startSector) {}
    int Initialize(const char* name, IDrirectoryTree* tree, IRecoveryFilter* filter) override {
        return real_ ? real_->Initialize(name, tree, filter) : 0;
    }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override {
        return real_ ? real_->AddSearcherInfo(type, rootId) : 0;
    }
    void FlashBuild(_tagSearcherType type) override {
        if (real_)
            real_->FlashBuild(type);
    }
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override {
        if (real_)
            real_->SetPartitonDevice(partition, device);
    }
    void AddVolume(_tagSearcherType type, unsigned short partitionIndex, const char* label,
                   const char* fileSystem, long long byteOffset) override {
        if (real_)
            real_->AddVolume(type, partitionIndex, label, fileSystem, byteOffset);
    }
    void SetBitmap(TBitmap* bitmap) { bitmap_ = bitmap; }
    unsigned Files() const { return files_; }
    unsigned Folders() const { return folders_; }

private:
    void Mark(IFileNode* node);

    IDirecotryTreeBuilder* real_;
    TBitmap* bitmap_ = nullptr;
    unsigned sectorsPerBlock_;
    unsigned partitionIndex_;
    unsigned long long startSector_;
    unsigned files_ = 0;
    unsigned folders_ = 0;
};

class CHFSPlusCompleteFileSystemSearchController final
    : public ICompleteFileSystemSearchController {
public:
    CHFSPlusCompleteFileSystemSearchController() = default;
    ~CHFSPlusCompleteFileSystemSearchController() override;
    CHFSPlusCompleteFileSystemSearchController(const CHFSPlusCompleteFileSystemSearchController&) =
        delete;
    CHFSPlusCompleteFileSystemSearchController& operator=(
        const CHFSPlusCompleteFileSystemSearchController&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { builder_ = builder; }
    // One record per volume found, in the order found.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectorsPerBlock) override { blockSectors_ = sectorsPerBlock; }
    void PreparetoSearch() override;
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetIProgressSink(IProgress* progress) override { progress_ = progress; }
    void SetBitmap(TBitmap* bitmap) override { bitmap_ = bitmap; }
    TBitmap* GetBitmap() override { return bitmap_; }
    bool SetActivePartition(bool active) override {
        active_ = active;
        return active;
    }

    const std::vector<std::unique_ptr<CompleteSearchPatition>>& Partitions() const {
        return records_;
    }
    VKRESULT GetLastError() const { return lastError_; }

    // Bytes of a block tested at a time.
    static constexpr long long kPieceBytes = 64 * 1024;
    // Most volumes one scan takes: each keeps its catalog in memory.
    static constexpr size_t kMaxVolumes = 64;
    // Sectors per bit of the claimed-unit map over a whole device.
    static constexpr unsigned kDeviceUnit = 8;

private:
    struct SurfaceRecord {
        BTKey key;
        HFSPlusCatalogRecord record;
        uint64_t position;
    };
    // Tests every 512-byte piece of bytes that start at byte `position`.
    void ScanBytes(const uint8_t* data, size_t bytes, uint64_t position);
    // Catalog leaf nodes, journal info blocks and journal headers met where
    // no volume was found: what is left of a volume both of whose headers
    // are gone.
    void TestSurfaceStructures(const uint8_t* piece, const uint8_t* end, uint64_t position);
    void ClassifyLeaf(const CHFSPlusBTNode& leaf, uint64_t position);
    bool InsideFoundVolume(uint64_t position) const;
    // The found volume whose bytes hold `position`; null for none.
    CompleteSearchPatition* FoundVolumeAt(uint64_t position) const;
    // Whether `position` lies in a B-tree file of the found volume that
    // holds it: such nodes are the live trees, which its listing read.
    bool InsideLiveTree(uint64_t position) const;
    // Gives each found volume the surface's records that lie inside it
    // (copies in its journal area and in its free space) and that its own
    // listing did not show; they leave the surface lists.
    void GiveSurfaceRecordsToVolumes();
    void GiveSurfaceRecords(CompleteSearchPatition& record, std::vector<SurfaceRecord>& records);
    // Lists the surface's catalog records that no found volume holds, as a
    // volume of its own whose start a header of a volume that could not be
    // opened, or else the journal's two headers, gives.
    void BuildOrphanVolume();
    // A volume header at byte `position` of the device.
    void FoundVolumeHeader(const uint8_t* header, uint64_t position);
    // Opens the volume a header implies at `startByte`; true when taken.
    bool TryVolume(uint64_t startByte, const uint8_t* header, uint64_t headerPosition, bool backup);
    void SearchVolume(CompleteSearchPatition& record);

    IStorageDevice* device_ = nullptr;
    uint32_t sectorSize_ = 512;
    long long totalSectors_ = 0;
    IDirecotryTreeBuilder* builder_ = nullptr;
    IProgress* progress_ = nullptr;
    TBitmap* bitmap_ = nullptr;
    bool active_ = false;
    int blockSectors_ = 0;
    std::vector<uint8_t> block_;
    std::vector<std::unique_ptr<CompleteSearchPatition>> records_;
    // Starts already tried without success, so a header met again (its
    // backup, a copy in the journal) costs nothing.
    std::set<uint64_t> refused_;
    // Volumes whose header is sound but whose trees would not open (a
    // catalog header node lost): where their surviving records belong.
    struct UnopenedVolume {
        uint64_t startByte;
        uint64_t bytes;
        uint32_t blockSize;
    };
    std::vector<UnopenedVolume> unopened_;
    std::vector<SurfaceRecord> orphans_;
    struct SurfaceExtent {
        BTKey key;
        HFSPlusExtentRecord record;
        uint64_t position;
    };
    struct SurfaceAttribute {
        BTKey key;
        HFSPlusAttrRecord record;
        uint64_t position;
    };
    std::vector<SurfaceExtent> surfaceExtents_;
    std::vector<SurfaceAttribute> surfaceAttributes_;
    std::vector<std::pair<uint64_t, JournalInfoBlock>> infoBlocks_;
    std::vector<std::pair<uint64_t, JournalHeader>> journalHeaders_;
    bool protectiveMBR_ = false;
    std::vector<uint8_t> nodeBuffer_;
    VKRESULT lastError_ = 0;
};

}  // namespace hfsplus
