// What the surface search knows of one run of consecutive exFAT directory
// sectors: the files its entry sets describe, the cluster numbers they use,
// the cluster sizes still possible for the volume it belongs to, and, for a
// root directory, the volume's bitmap, up-case table and label. The
// partition builder matches these runs against one another and against boot
// sectors to find volumes whose boot sectors are gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ExFatDirEntry.h"

enum ExFatFileSetFlag : uint32_t {
    kFileSetLabel = 0x1,
    kFileSetBitmap = 0x2,
    kFileSetUpcase = 0x4,
    // The run begins with secondary entries whose file entry lies elsewhere.
    kFileSetAbridged = 0x8,
    // The run's last entry set goes on in another sector.
    kFileSetNotEnded = 0x10,
    // Claimed by a found volume.
    kFileSetMatched = 0x20,
};

class CFileSet {
public:
    // Cluster sizes exFAT allows, in bytes.
    static constexpr uint64_t kMinClusterBytes = 512;
    static constexpr uint64_t kMaxClusterBytes = 0x2000000;
    static constexpr uint32_t kNoCluster = 0xFFFFFFFF;

    // Takes one whole entry set's record.
    void UpdateFileList(_tagFileBaseInfo&& record);
    void SetBitmapInfo(uint32_t cluster, uint64_t length);
    void SetUpcaseTableInfo(uint32_t cluster, uint64_t length);
    void SetVolumeLabel(std::string label);
    // The run now reaches `sector` (its first sector when it had none).
    void RecordSector(uint64_t sector);
    // Turns the cluster-size bounds into sectors, raising the smallest one
    // where a contiguous file could not fit in front of the next file
    // otherwise. Called once, when the run is handed out.
    void CalculateClusterSize(uint32_t sectorSize);
    // Both runs keep only the cluster sizes both allow (runs of one split
    // directory). Both must have been finished.
    void NarrowWith(CFileSet& other);

    bool IsRoot() const {
        return (flags & (kFileSetLabel | kFileSetBitmap | kFileSetUpcase)) ==
               (kFileSetLabel | kFileSetBitmap | kFileSetUpcase);
    }
    bool HasFiles() const { return !live.empty() || !deleted.empty(); }
    bool HasFolders() const { return !folders.empty(); }
    bool IsAbridged() const { return (flags & kFileSetAbridged) != 0; }
    bool IsMatched() const { return (flags & kFileSetMatched) != 0; }
    bool HasClusters() const { return lowestCluster != kNoCluster; }
    // In sectors, once finished.
    bool Admits(uint64_t sectorsPerCluster) const {
        return sectorsPerCluster >= minClusterSize && sectorsPerCluster <= maxClusterSize;
    }
    uint64_t LastSector() const { return firstSector + (sectorCount ? sectorCount - 1 : 0); }

    // Live records in first-cluster order; deleted ones as found.
    std::vector<_tagFileBaseInfo> live;
    std::vector<_tagFileBaseInfo> deleted;
    // First clusters of the live folders, ascending once finished.
    std::vector<uint32_t> folders;
    // Over the records' first clusters that name a heap cluster.
    uint32_t lowestCluster = kNoCluster;
    uint32_t highestCluster = 0;
    // Bytes until the run is finished, sectors afterwards.
    uint64_t minClusterSize = kMinClusterBytes;
    uint64_t maxClusterSize = kMaxClusterBytes;
    bool finished = false;
    uint64_t firstSector = 0;
    bool hasSector = false;
    uint32_t sectorCount = 0;
    // Root directories: the lowest cluster the root itself can start at
    // (past the bitmap's and the up-case table's), the heap's cluster count
    // (the bitmap's bits), the up-case table and the label.
    uint32_t rootMinCluster = 2;
    uint32_t totalClusters = 0;
    uint32_t upcaseCluster = 0;
    uint64_t upcaseLength = 0;
    std::string label;
    uint32_t flags = 0;
    // The runs before and after this one of a directory split between
    // sectors that do not follow each other.
    CFileSet* previous = nullptr;
    CFileSet* next = nullptr;
};
