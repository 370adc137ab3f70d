// The exFAT member of a deep scan: sorts every sector of the surface into
// up-case table starts, exFAT boot sectors, FAT starts and directory
// sectors, gathers the directory sectors into runs, lets the partition
// builder turn all of it into volumes, and at the end hands every volume's
// files and folders to the tree builder (searcher type 33).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ExFatPartitionBuilder.h"
#include "ExFatPreAnalyze.h"
#include "SearchInterfaces.h"

class IStorageDevice;

ICompleteFileSystemSearchController* CreateEXFatSearcher();

class CExFatCompleteSearch final : public vk::DeepSearcherBase {
public:
    // Every sector is analysed with the two sectors after it in memory: an
    // entry set of 19 entries that starts in a sector's last entry reaches
    // that far.
    static constexpr uint32_t kCarrySectors = 2;

    CExFatCompleteSearch() : DeepSearcherBase("exFAT deep search") {}
    ~CExFatCompleteSearch() override = default;

    // The volumes found: heap start as the origin of the runs, the evidence
    // word as the file-system value, the index their nodes carry.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    // Forgets what an earlier scan with this searcher found.
    void PreparetoSearch() override;
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;

    // One sector (of the device's size) with `after` bytes of the sectors
    // following it behind it in memory.
    void AnalyzeSector(uint64_t sector, const uint8_t* data, size_t after);

    // The end of the walk: the sectors still carried (the surface's last
    // two) are analysed with zeros after them and the last run is handed to
    // the partition builder. EndSearch starts with it.
    void FinishWalk();

    const std::vector<std::unique_ptr<CExFatPartitionEx>>& Partitions() const {
        return m_partitions;
    }
    CPartitionBuilder& Builder() { return m_partitionBuilder; }
    CFDTPreAnaylze& PreAnalyzer() { return m_preAnalyzer; }
    uint32_t SectorSize() const { return m_sectorSize; }

private:
    bool PrepareAnalyzeBlock();
    // Reads the block into m_block; what cannot be read reads as zeros.
    const uint8_t* ReadBlock(uint64_t first, uint64_t count);
    // Hands the finished run, if there is one, to the partition builder.
    void GetFileSet() {
        if (!m_preAnalyzer.IsIdle())
            TakeFileSet();
    }
    void TakeFileSet();
    // The carried sectors, with zeros after them (the end of the surface, or
    // a block that does not follow).
    void FlushCarry();
    void LoadFat(CExFatPartitionEx& partition);

    IStorageDevice* m_device = nullptr;
    uint32_t m_sectorSize = 512;
    bool m_sectorSizeUsable = true;
    uint64_t m_totalSectors = 0;
    bool m_prepared = false;

    std::vector<uint8_t> m_block;
    // The last sectors of the previous block, not yet analysed.
    std::vector<uint8_t> m_carry;
    uint32_t m_carryCount = 0;
    uint64_t m_carryFirst = 0;
    std::vector<uint8_t> m_seam;

    CFDTPreAnaylze m_preAnalyzer;
    CPartitionBuilder m_partitionBuilder;
    std::vector<std::unique_ptr<CExFatPartitionEx>> m_partitions;
};
