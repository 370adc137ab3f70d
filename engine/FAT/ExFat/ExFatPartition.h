// The geometry of one exFAT volume (or of a partition a surface search
// rebuilt), its FAT cache, and the making of nodes with their data runs out
// of the records a directory parse gives.
#pragma once

#include <cstdint>
#include <vector>

#include "DataRun.h"
#include "ExFatDirEntry.h"
#include "ExFatTable.h"

class CExFatFileNode;

// An exFAT DOS-layout time and date as 100 ns ticks since 1601, taken as
// local time (daylight saving as the system says). The 10 ms increments and
// the UTC offsets are not used.
long long DosTime2FileTime(uint16_t time, uint16_t date);

// Clusters first .. first + count - 1.
struct ExFatClusterRun {
    uint32_t first = 0;
    uint32_t count = 0;
};

class CExFatPartition {
public:
    // A length that leaves only the FAT chain to end a walk (the root
    // folder has no stream extension to give its length).
    static constexpr uint64_t kWholeChain = UINT64_MAX;

    CExFatPartition() = default;
    virtual ~CExFatPartition() = default;
    CExFatPartition(const CExFatPartition&) = delete;
    CExFatPartition& operator=(const CExFatPartition&) = delete;

    void SetSectorSize(uint32_t bytes) { m_sectorSize = bytes; }
    void SetSectorsPerCluster(uint32_t sectors) { m_sectorsPerCluster = sectors; }
    void SetDataRegionStartSector(uint64_t sector) { m_heapStart = sector; }
    void SetRootDirCluster(uint32_t cluster) { m_rootCluster = cluster; }
    void SetStartSector(uint64_t sector) { m_startSector = sector; }
    void SetTotalSectors(uint64_t sectors) { m_totalSectors = sectors; }
    // The heap holds clusters 2 .. count + 1.
    void SetTotalClusters(uint32_t count) { m_totalClusters = count; }

    uint32_t GetSectorSize() const { return m_sectorSize; }
    uint32_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    uint64_t GetBytesPerCluster() const {
        return static_cast<uint64_t>(m_sectorSize) * m_sectorsPerCluster;
    }
    uint64_t GetDataRegionStartSector() const { return m_heapStart; }
    uint32_t GetRootDirCluster() const { return m_rootCluster; }
    uint64_t GetStartSector() const { return m_startSector; }
    uint64_t GetTotalSectors() const { return m_totalSectors; }
    uint32_t GetTotalClusters() const { return m_totalClusters; }
    // The first cluster number past the heap.
    uint64_t GetClusterLimit() const { return static_cast<uint64_t>(m_totalClusters) + 2; }
    bool IsHeapCluster(uint64_t cluster) const {
        return cluster >= 2 && cluster < GetClusterLimit();
    }

    CFatTable& GetFatTable() { return m_fat; }
    void ClearFatData() { m_fat.ClearFatData(); }

    // 0 for clusters below 2, else the first sector of the cluster.
    uint64_t ConvertClusterNumToSector(uint64_t cluster) const;
    // The cluster holding `sector`, rounded up to the next cluster boundary;
    // 0 without a cluster size.
    uint32_t ConvertSectorToClusterNum(uint64_t sector) const;
    // The FAT entry of `cluster` (itself when `noFatChain` and no FAT is
    // loaded); a result past the heap answers kEndOfChain.
    uint32_t GetNextCluster(uint32_t cluster, bool noFatChain);

    // The clusters a file or folder of `length` bytes occupies from `first`:
    // contiguous with the no-FAT-chain flag, else along the FAT; a deleted
    // one along what is left of its chain and then contiguously, as the FAT
    // entries of deleted files are freed. Never past the heap, never a
    // cluster twice; `cut` tells when the clusters end before the length.
    std::vector<ExFatClusterRun> GetClusterRuns(uint32_t first, uint64_t length, bool noFatChain,
                                                bool deleted, bool* cut = nullptr);
    // A new run list in clusters counted from the heap start (cluster 2 is
    // 0); empty for folders, empty files and first clusters outside the heap.
    IDataRunList* BuildFileDataRun(const _tagFileBaseInfo& record);
    // A new node for the record, with its run list; its ids are the caller's.
    CExFatFileNode* BuildFile(const _tagFileBaseInfo& record);

protected:
    CFatTable m_fat;
    uint32_t m_sectorSize = 512;
    uint32_t m_sectorsPerCluster = 1;
    uint32_t m_totalClusters = 0;
    uint32_t m_rootCluster = 0xFFFFFFFF;
    uint64_t m_heapStart = 0;
    uint64_t m_startSector = 0;
    uint64_t m_totalSectors = 0;
};
