// Turns what the exFAT surface search finds (boot sectors, first sectors of
// FATs, up-case tables and runs of directory sectors) into exFAT volumes.
// A volume is a hypothesis of a cluster heap's first sector and a cluster
// size: proposed by a boot sector (or its backup 12 sectors on), by a root
// directory (through its up-case table or its own place), by finding the
// contents of a run's folders where that geometry puts them, or by taking a
// run's files to follow it; runs that fit confirm it. At the end the
// hypotheses are winnowed and each survivor makes the nodes of its runs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "ExFatDBR.h"
#include "ExFatFileSet.h"
#include "ExFatPartition.h"

class IStorageDevice;

// What speaks for a volume; a higher word sorts first.
enum ExFatEvidence : uint32_t {
    kExFatMainBoot = 0x80000000,    // a boot sector at its start
    kExFatBackupBoot = 0x40000000,  // a boot sector 12 sectors on, or the start's confirmed by it
    kExFatRootDir = 0x10000000,     // a root directory
    kExFatFolderTree = 0x08000000,  // folders whose contents lie where the geometry puts them
    kExFatBackward = 0x02000000,    // a run whose files start right after it
    kExFatSecondFat = 0x2,          // the second FAT's first sector (volumes from boot sectors)
    kExFatFirstFat = 0x1,           // the first FAT's first sector (likewise)
};

class CExFatPartitionEx final : public CExFatPartition {
public:
    struct Match {
        CFileSet* set = nullptr;
        int score = 0;
    };

    // Matches the run (a second match keeps the higher score).
    void MatchSet(CFileSet* set, int score);
    bool IsMatched(const CFileSet* set) const {
        return set->hasSector && matches.count(set->firstSector) != 0;
    }
    bool FromBootSector() const { return (evidence & (kExFatMainBoot | kExFatBackupBoot)) != 0; }
    // The run lies between the heap's third cluster and the volume's end.
    bool Contains(const CFileSet& set) const;
    bool IsClusterStart(uint64_t sector) const;
    // The cluster a sector of the heap lies in (0 in front of the heap).
    uint64_t ClusterOf(uint64_t sector) const;
    std::pair<uint64_t, uint32_t> Key() const {
        return {GetDataRegionStartSector(), GetSectorsPerCluster()};
    }

    uint32_t fatOffset = 0;
    uint32_t fatLength = 0;
    uint32_t numberOfFats = 0;
    bool secondFatActive = false;
    uint32_t evidence = 0;
    std::map<uint64_t, Match> matches;       // by the run's first sector
    std::vector<uint64_t> dataSectors;       // matched runs on a cluster's first sector
    std::vector<uint64_t> otherDataSectors;  // and the others
};

// Higher evidence first, then more matched runs; then by place, so that the
// order never depends on where the partitions lie in memory.
struct CExFatPartitionGreater {
    bool operator()(const CExFatPartitionEx* a, const CExFatPartitionEx* b) const;
};

class CPartitionBuilder {
public:
    using Key = std::pair<uint64_t, uint32_t>;  // heap start, sectors per cluster
    using NodeSink = std::function<void(CExFatFileNode* node)>;

    // Waiting runs are matched lazily: when this many wait, or when the walk
    // has gone this far past where the last run's folders can lie, so that
    // the runs a match looks for (32 back, 128 ahead) are there.
    static constexpr size_t kLazyPending = 2176;
    static constexpr uint64_t kLazyDistance = 0x2000000;
    static constexpr size_t kMaxPartitions = 1024;
    static constexpr size_t kSpillTo = 512;
    // Bounds on what junk can make the builder keep or try.
    static constexpr size_t kMaxFileSets = size_t{1} << 22;
    static constexpr uint32_t kMaxRootClustersTried = 64;
    static constexpr size_t kMaxFoldersTried = 64;
    static constexpr size_t kMaxTreeSets = size_t{1} << 16;
    static constexpr size_t kMaxChain = 256;

    CPartitionBuilder() = default;
    ~CPartitionBuilder();
    CPartitionBuilder(const CPartitionBuilder&) = delete;
    CPartitionBuilder& operator=(const CPartitionBuilder&) = delete;

    void PrepareBuild(uint32_t sectorSize, uint64_t totalSectors);
    void RecordUpCaseTable(uint64_t sector);
    // Offers the first sector of a FAT to the volumes in list order.
    void RecordFAT(uint64_t sector);
    // A valid boot sector at `sector`.
    void Build(uint64_t sector, const CExFatDBR& boot);
    // A finished run, with the first sectors of the runs it continues and
    // that continue it (-1 when none).
    void PushFileSet(std::unique_ptr<CFileSet> set, int64_t previous, int64_t next);
    // Called for every sector analysed: works on one waiting run when enough
    // wait or the walk is far enough ahead.
    void Build(uint64_t sector) {
        if (m_next < m_pending.size() &&
            (m_pending.size() - m_next > kLazyPending || sector > m_horizon + kLazyDistance))
            BuildFromTree();
    }
    // Works on every waiting run, winnows the volumes and hands the
    // survivors over (now the caller's).
    void FinishBuid(std::vector<std::unique_ptr<CExFatPartitionEx>>& out);
    // The nodes of a finished volume's runs, with their parents; the
    // volume's FAT cache is used when it holds a window.
    void BuildFileTree(CExFatPartitionEx& partition, const NodeSink& sink) const;
    // Frees the runs and everything that refers to them.
    void Clear();

    // The pushed run whose first sector is `sector`; null.
    CFileSet* FindFileSet(uint64_t sector) const;
    // A FAT whose first sector was seen in front of a rebuilt volume's heap,
    // room enough for its clusters: its first sector, or -1.
    int64_t GuessFatStart(const CExFatPartitionEx& partition) const;

    // The steps, reachable for tests.
    void BuildFromTree();
    bool BuildFromTree(CFileSet* a, CFileSet* b, int minimum);
    // The score of taking `a` as a folder of the volume (heap h, c sectors
    // per cluster): its folders' runs level by level, each level counting
    // as much as its depth; 0 below `minimum`, on a loop, a run that cannot
    // belong, or files claiming one cluster twice. `found` gets the runs.
    int CheckTree(CFileSet* a, uint64_t h, uint64_t c, std::vector<CFileSet*>* found,
                  int minimum) const;
    bool BuildFromRoot(CFileSet* root);
    bool BuildFromUpcaseTable(CFileSet* root);
    void BuildFromAllocBackWard(CFileSet* set);
    bool BelongsToPartition(CFileSet* set);

    const std::vector<std::unique_ptr<CExFatPartitionEx>>& Partitions() const { return m_list; }
    CExFatPartitionEx* FindPartition(uint64_t heap, uint32_t sectorsPerCluster) const;
    // Drops the main-sector reading of the boot sector that proposed
    // `confirmed` as a backup, when nothing but that sector speaks for it.
    void DropOtherReading(const CExFatPartitionEx& confirmed);
    size_t PendingCount() const { return m_pending.size(); }
    size_t NextPending() const { return m_next; }
    const std::vector<uint64_t>& UpcaseStarts() const { return m_upcase; }

private:
    using Candidates = std::vector<CExFatPartitionEx*>;

    CExFatPartitionEx* NewPartition(uint64_t heap, uint32_t sectorsPerCluster, uint32_t evidence);
    void BuildPartionByRoot(uint64_t h, uint32_t c, CFileSet* root, uint32_t rootCluster,
                            Candidates& candidates,
                            std::vector<std::unique_ptr<CExFatPartitionEx>>& fresh, bool& found);
    void UpdatePartitionList(const Candidates& candidates,
                             std::vector<std::unique_ptr<CExFatPartitionEx>>& fresh, CFileSet* set);
    void Insert(std::unique_ptr<CExFatPartitionEx> partition);
    void SpillPartition();
    void SortList();
    void WinnowPartition();
    void Rematch(CExFatPartitionEx& partition);
    void SimpleBuild();
    void RemovePartionBeCoveredByOther(std::vector<std::unique_ptr<CExFatPartitionEx>>& out);
    void CalcPartitionParam(CExFatPartitionEx& partition) const;
    bool Collides(const std::vector<CFileSet*>& sets, uint64_t c) const;
    // The run and the runs linked after it.
    std::vector<CFileSet*> Chain(CFileSet* set) const;
    bool InsideDevice(uint64_t h, uint64_t c, uint64_t cluster) const;

    uint32_t m_sectorSize = 512;
    uint64_t m_totalSectors = 0;
    std::vector<std::unique_ptr<CFileSet>> m_sets;  // by first sector
    std::vector<CFileSet*> m_pending;               // not claimed, in push order
    size_t m_next = 0;
    uint64_t m_horizon = 0;
    std::map<Key, CExFatPartitionEx*> m_partitionSet;
    std::vector<std::unique_ptr<CExFatPartitionEx>> m_list;
    std::set<Key> m_removed;
    std::vector<uint64_t> m_upcase;
    std::vector<uint64_t> m_fatStarts;
    bool m_loggedSetCap = false;
};
