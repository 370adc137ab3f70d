// The record of one FAT partition found by a FAT search. Of the base record:
// runOriginSector is the first sector of the data area, position2 the count
// of matched sub-folders and fsValue the partition's score (default 1); the
// base's double score stays 0.
#pragma once

#include <cstdint>

#include "SearchedPartitionInfo.h"

enum FATPartitionFlag : uint32_t {
    kFATFlagFat12Boot = 0x01,
    kFATFlagFat16Boot = 0x02,
    kFATFlagFat32Boot = 0x04,
    kFATFlagFat32BackupBoot = 0x08,
    kFATFlagSubFolder = 0x10,
    kFATFlagFirstFat = 0xC0,    // 0x80 is the FAT factory's use-first flag
    kFATFlagSecondFat = 0x300,  // 0x200 is its use-second flag
};

class CFATSearchedPartitionInfo final : public CSearchedPartitionInfo {
public:
    explicit CFATSearchedPartitionInfo(unsigned sectorSize = 512)
        : CSearchedPartitionInfo(sectorSize) {}
    int GetType() override { return 1; }

    static CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo(unsigned sectorSize);
    static void DestroyFATSearchedPartitionInfo(CFATSearchedPartitionInfo* record) {
        delete record;
    }
    // Every field but the matched sub-folder counter and the context.
    CFATSearchedPartitionInfo* Clone() const;

    void SetSectorPerFAT(uint32_t n) { sectorsPerFat = n; }
    void SetTotalCluster(uint32_t n) { totalClusters = n; }
    void SetStartSector(long long s) { startSector = s; }
    void SetReservedSector(uint16_t n) { reservedSectors = n; }
    void SetRootInfo(uint32_t n) { rootInfo = n; }
    void MergeFlag(uint32_t bits) { flags |= bits; }

    uint16_t GetReservedSector() const { return reservedSectors; }
    uint32_t GetSectorPerFAT() const { return sectorsPerFat; }
    uint32_t GetTotalCluster() const { return totalClusters; }
    uint32_t GetRootInfo() const { return rootInfo; }
    uint32_t GetFlag() const { return flags; }
    long long GetDataStartSector() const { return runOriginSector; }
    void SetDataStartSector(long long s) { runOriginSector = s; }
    long long GetMatchedSubFolderCount() const { return position2; }
    void SetMatchedSubFolderCount(long long n) { position2 = n; }
    long long GetScore() const { return fsValue; }
    void SetScore(long long s) { fsValue = s; }

    uint16_t reservedSectors = 0;
    uint32_t sectorsPerFat = 0;
    uint32_t totalClusters = 0;
    uint32_t rootInfo = 0;  // FAT32: root cluster; FAT16: root directory sectors
    uint32_t flags = 0;
};
