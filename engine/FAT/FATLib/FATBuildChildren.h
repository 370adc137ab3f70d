// The directory walk of one FAT16 or FAT32 partition: every live and deleted
// entry becomes a CFATFileNode with its data runs, handed to the tree
// builder; sub-folders come back to the caller, which owns the order of the
// walk. On FAT32 the lost high word of a deleted entry's first cluster is
// guessed from the content of the candidate clusters.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "DataRun.h"
#include "FATFileNode.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "Utility/ScanDamage.h"

class IFATTable;
class IDirecotryTreeBuilder;
class IProgress;
class CSearchedPartitionInfo;
class IStorageDevice;
class CTempFATDirEntry;

// Hands out the first clusters of empty files, from 2^32 upward, so that
// their node ids never meet a real cluster.
class CEmptyFileVirtualClusterNum {
public:
    static constexpr uint64_t kFirst = 0x100000000ULL;
    void ResetVirtualClusterNum() { m_next = kFirst; }
    uint64_t GetVirtualClusterNum() { return m_next++; }

private:
    std::atomic<uint64_t> m_next{kFirst};
};
CEmptyFileVirtualClusterNum& GetEmptyFileVirtualClusterNumObject();

// Data runs of a file, in clusters counted from cluster 2 (start = cluster
// - 2). dataSectors is the length of the data area, from cluster 2 to the
// end of the partition: no run may reach past it.
class CFATBuildDataRun {
public:
    CFATBuildDataRun(const IFATTable* fat, uint32_t sectorSize, uint32_t sectorsPerCluster,
                     uint64_t dataSectors, std::vector<bool>* clusterUse = nullptr);

    // Live files follow the FAT, bounded by the size. A chain that breaks
    // before it covers the size (an early end, a freed or bad entry, a
    // cluster outside the volume, a loop) keeps its runs up to the break
    // and a lost run for the rest: the file is incomplete, and guessing
    // where the rest lies would hand other data out as its own. Without any
    // readable FAT copy a live file is taken as contiguous clusters, like a
    // deleted one, and is a guess. Deleted files follow their stale chain
    // until a freed entry, then take contiguous clusters. Null when nothing
    // could be listed. `damaged`, when given, says whether the list holds a
    // lost run.
    IDataRunList* BuildDataRunList(uint64_t firstCluster, uint64_t size, bool deleted,
                                   bool* damaged = nullptr);
    static void BuildDeleteFileDataRunList(IDataRunList* list, uint64_t firstCluster, uint64_t size,
                                           const IFATTable* fat, uint32_t sectorsPerCluster,
                                           uint64_t dataSectors, uint32_t sectorSize);

private:
    void MarkUsed(IDataRunList* list);

    const IFATTable* m_fat;
    uint32_t m_sectorSize;
    uint32_t m_sectorsPerCluster;
    uint64_t m_dataSectors;
    std::vector<bool>* m_clusterUse;
};

using FATVisitedClusters = std::set<uint32_t>;
using FATFolderMap = std::map<uint64_t, CFATFileNode*>;
// The deep scan's map of file starts that the signature search found:
// device sector to the type id of the file starting there.
using FATFileSectorMap = FileSectorMap;
// The signature search's type name of a type id (upper case), or null.
using FATTypeNameLookup = const char* (*)(int typeId);

class CFATBuildChildren {
public:
    // fileSystemType: 1 FAT16, 2 FAT32. Sectors are device sectors; the
    // partition ends at the record's start sector + totalSectors. The
    // visited set and the folder map are the caller's, shared by the build.
    CFATBuildChildren(IDirecotryTreeBuilder* builder, IProgress* progress,
                      CSearchedPartitionInfo* partition, IStorageDevice* device,
                      FATVisitedClusters* visited, FATFolderMap* folderMap, uint64_t totalSectors,
                      int fileSystemType, const IFATTable* fat, uint32_t sectorsPerCluster,
                      uint32_t rootCluster, uint64_t rootDirStart, uint32_t rootDirSectors,
                      uint64_t dataStart);
    ~CFATBuildChildren();
    CFATBuildChildren(const CFATBuildChildren&) = delete;
    CFATBuildChildren& operator=(const CFATBuildChildren&) = delete;

    // Deep search: file starts found by the signature search and the names
    // of their types; map mode on makes the guess use them instead of
    // reading the candidates.
    void SetFileSectorMap(const FATFileSectorMap* map, FATTypeNameLookup typeName = nullptr) {
        m_fileSectorMap = map;
        m_typeName = typeName;
    }
    void SetQuickScan(bool mapMode) { m_mapMode = mapMode; }

    // reportLive 0: live files of live folders are not reported. Result 1
    // on success, 0 when nothing was walked.
    int BuildRoot(std::vector<CFATFileNode*>& folders, int reportLive, int enable);
    int BuildChildren(CFATFileNode* folder, uint64_t firstCluster,
                      std::vector<CFATFileNode*>& folders, int root, int reportLive);
    // -1 to stop the folder, else the offset of an unfinished long-name run
    // or the length.
    long long BuildChildrenFromBuffer(uint8_t* entries, size_t length, CFATFileNode* parent,
                                      std::vector<CFATFileNode*>& folders,
                                      std::vector<CFATFileNode*>* deletedFolders,
                                      std::vector<CFATFileNode*>* deletedFiles, int stop,
                                      int reportLive);

    uint64_t ConvertClusterNumToSector(uint64_t n) const;
    IDataRunList* BuildDataRunList(uint64_t firstCluster, uint64_t size, bool deleted,
                                   bool* damaged = nullptr);
    static bool IsBeginWithDot(const char* name) { return name && name[0] == '.'; }

    // The revise switch: "bRevise" of section "UserExperience" in
    // "UIConfig.ini" of the work folder; off turns the FAT32 guess off.
    bool IsReviseOn() const { return m_revise; }
    IProgress* GetProgress() const { return m_progress; }
    // One past the last cluster of the partition.
    uint64_t ClusterLimit() const { return m_clusterLimit; }
    // Structures of the walk that were damaged and skipped (each logged).
    uint64_t DamagedCount() const { return m_damage.Count(); }

private:
    struct Candidate {
        uint64_t cluster = 0;
        bool found = false;
    };
    void ReverseDelFileFirstNum(CTempFATDirEntry& entry, uint64_t start, uint64_t& expected,
                                CFATFileProperties* properties, bool forced);
    Candidate TryGetRealFirstNum(uint64_t first, int attempts, bool folderTest);
    bool bEffectiveDIRFDT(uint64_t cluster);
    bool bReviseFAT32FileFirstClu(uint64_t cluster);
    bool ReadClusterStart(uint64_t cluster);
    uint8_t& VerdictOf(uint64_t cluster);
    void bInDelFileOrDIRMap(uint64_t& cluster, CTempFATDirEntry& entry,
                            CFATFileProperties* properties, bool& found, uint64_t previous,
                            bool folderMode);
    void HandOver(CFATFileNode* node, bool isFolder, std::vector<CFATFileNode*>& folders);
    // Whether a run reaches past the device's last sector (a cut image).
    bool RunsPassDeviceEnd(IDataRunList* runs) const;
    // Cuts a size the data area cannot hold to the area's size; the size
    // the entry claimed, or 0 when it was not cut.
    long long CapToVolume(CFATFileProperties& props) const;
    // Bytes of the clusters a run list holds, lost runs included.
    long long RunBytes(IDataRunList* runs) const;
    // Reads `count` sectors from `first`, keeping every one that can be
    // read; the others are zeros and flagged in `unreadable`. The number
    // that could not be read.
    uint64_t ReadSectorsSalvaging(uint8_t* out, uint64_t first, uint64_t count,
                                  std::vector<bool>& unreadable);

    IDirecotryTreeBuilder* m_builder;
    IProgress* m_progress;
    CSearchedPartitionInfo* m_partition;
    IStorageDevice* m_device;
    FATVisitedClusters* m_visited;
    FATFolderMap* m_folderMap;
    uint32_t m_sectorSize;
    uint64_t m_totalSectors;
    int m_fsType;
    const IFATTable* m_fat;
    uint32_t m_sectorsPerCluster;
    uint32_t m_rootCluster;
    uint64_t m_rootDirStart;
    uint32_t m_rootDirSectors;
    uint64_t m_dataStart;
    uint64_t m_dataSectors = 0;
    uint64_t m_clusterLimit = 2;
    uint64_t m_deviceSectors = 0;

    std::string m_currentExtension;
    bool m_revise = false;
    std::vector<uint8_t> m_sector;  // scratch buffer of the candidate tests
    std::map<uint64_t, std::string> m_folderNames;
    std::map<uint64_t, std::string> m_deletedFileNames;
    const FATFileSectorMap* m_fileSectorMap = nullptr;
    FATTypeNameLookup m_typeName = nullptr;
    bool m_mapMode = false;
    // Verdicts of the content tests by cluster: the guesses of neighbouring
    // entries try the same candidates, and the device does not change
    // during a walk. Bit 0: known as a file start, bit 1: known as a
    // folder start; bits 2 and 3 say which verdict is known.
    // Volumes of up to 16M clusters keep them in a flat table (a byte per
    // cluster, made at the first test); larger ones in a hash map.
    std::unordered_map<uint64_t, uint8_t> m_verdicts;
    std::vector<uint8_t> m_flatVerdicts;
    bool m_flatVerdictsFailed = false;
    // Where the walk expects the next deleted FAT32 file.
    uint64_t m_preReadFileCluNum = 0;
    // Nodes made without a tree builder stay the walker's.
    std::vector<vk::ReleasePtr<CFATFileNode>> m_ownedNodes;
    vk::DamageCounter m_damage{"FAT walk"};
};
