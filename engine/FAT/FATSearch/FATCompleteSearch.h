// The FAT member of a deep scan: looks at every sector of the surface for
// FAT16 and FAT32 boot sectors (and FAT32 backups), first sectors of FATs
// and directory sectors, turns them into partition candidates, keeps and
// scores those that enough evidence backs, and builds the tree of each kept
// partition (searcher type 32).
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "FATBuildWorker.h"
#include "FATPartitionInfo.h"
#include "ResultCode.h"
#include "SearchInterfaces.h"

class CDoubleFATTable;
class CTempFATDBR;
class IStorageDevice;

ICompleteFileSystemSearchController* CreateFATSearcher();

struct CFatSearchedPartitionInfoLess {
    bool operator()(const CFATSearchedPartitionInfo* a, const CFATSearchedPartitionInfo* b) const {
        return a->GetDataStartSector() < b->GetDataStartSector();
    }
};

class CFATCompleteFSearcher final : public vk::DeepSearcherBase {
public:
    // A FAT copy expected to start at `sector`, for the candidate whose
    // boot sector said so.
    struct FATTableInfo {
        uint64_t sector = 0;
        CFATSearchedPartitionInfo* partition = nullptr;
        bool operator<(const FATTableInfo& other) const { return sector < other.sector; }
    };

    // Bounds on what the surface can make the search keep: a disk full of
    // copied folders must not grow the candidates without end.
    static constexpr size_t kMaxCandidates = size_t{1} << 20;
    static constexpr size_t kMaxFolderRecords = size_t{1} << 25;
    // Sub-folder candidates are tried with these cluster sizes, in order.
    static constexpr uint32_t FAT_SUPPORTED_SECTORS_PER_CLUSTER[] = {1, 2, 4, 8, 16, 32, 64, 128};

    CFATCompleteFSearcher() : DeepSearcherBase("FAT deep search") {}
    ~CFATCompleteFSearcher() override;

    // Copies of the kept partitions, with their scores.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void PreparetoSearch() override;
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetFileSectorMap(FileSectorMap* map) override { m_fileSectorMap = map; }

    // Winnows the candidates into `list` (appended, now the list's) and
    // scores them; the candidates and FAT-start registrations are emptied.
    void AddSearchedPartitionInfoList2(std::vector<CFATSearchedPartitionInfo*>& list);

    // One sector of the surface (sectorSize bytes), and a run of them.
    void AnalyzeSector(uint64_t sector, const uint8_t* data);
    void AnalyzeSectors(uint64_t first, const uint8_t* data, uint64_t count);
    bool AnalyzeFATDBRSector(uint64_t sector, const uint8_t* data);
    void UpdateFATTableInfo(uint64_t sector);
    bool AnalyzeFATSubFolderFirstSector(uint64_t sector, uint32_t cluster);
    CFATSearchedPartitionInfo* BuildPartitionInfoAccordingFATDBR(uint64_t start,
                                                                 const CTempFATDBR& boot,
                                                                 bool backup) const;
    CFATSearchedPartitionInfo* BuildPartitionInfoAccordingtoSubFolder(
        uint64_t sector, uint32_t cluster, uint32_t sectorsPerCluster) const;
    VKRESULT CompleteBulidDirectoryTree(CFATSearchedPartitionInfo* partition);
    // The directory-sector records a partition's build may use: all of
    // them, but those lying in a cluster that a kept partition with a higher
    // score has in use (or in its reserved, FAT or root area). A partition
    // rebuilt from its folders reaches to the disk's end; read with its
    // geometry, the directories of the volumes behind it would give it
    // wrong files.
    FATFolderSectorList RecordsFor(const CFATSearchedPartitionInfo* partition);

    const std::vector<CFATSearchedPartitionInfo*>& Partitions() const { return m_partitions; }
    const FATFolderSectorList& FolderSectors() const { return m_folders; }
    size_t CandidateCount() const { return m_candidates.size(); }
    uint32_t SectorSize() const { return m_sectorSize; }

private:
    using CandidateSet = std::multiset<CFATSearchedPartitionInfo*, CFatSearchedPartitionInfoLess>;

    bool IsValidFileSystem(uint64_t firstDataSector, uint32_t sectorsPerCluster, int type,
                           uint64_t& clusters, uint64_t& sectorsPerFat) const;
    CFATSearchedPartitionInfo* FindMatchedPartitionInfo(uint64_t firstDataSector,
                                                        uint32_t sectorsPerCluster) const;
    bool InsertCandidate(CFATSearchedPartitionInfo* candidate);
    bool HasDirectorySectorIn(uint64_t from, uint64_t to) const;
    void RegisterFATStarts(CFATSearchedPartitionInfo* candidate);
    void RecordFolderSector(const FIRSTFOLDERSECTOR& record);
    void ClearCandidates();
    // The FAT of a kept partition, made once while the trees are built.
    const CDoubleFATTable* KeptFat(const CFATSearchedPartitionInfo* partition);
    bool OwnsSector(const CFATSearchedPartitionInfo* partition, uint64_t sector);

    IStorageDevice* m_device = nullptr;
    uint32_t m_sectorSize = 512;
    bool m_sectorSizeUsable = true;
    uint64_t m_deviceSectors = 0;
    std::vector<CFATSearchedPartitionInfo*> m_partitions;
    CandidateSet m_candidates;
    std::multiset<FATTableInfo> m_fatStarts;
    FATFolderSectorList m_folders;
    FileSectorMap* m_fileSectorMap = nullptr;
    std::vector<uint8_t> m_block;
    std::vector<std::pair<const CFATSearchedPartitionInfo*, CDoubleFATTable*>> m_keptFats;
    bool m_loggedCandidateCap = false;
    bool m_loggedFolderCap = false;
};
