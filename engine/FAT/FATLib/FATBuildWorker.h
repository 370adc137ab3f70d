// Builds the directory tree of one FAT16 or FAT32 partition: decides what
// is walked and in which order, while CFATBuildChildren reads the folders
// and makes the nodes. A worker lives for one build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FATBuildChildren.h"
#include "ResultCode.h"

class IDirecotryTreeBuilder;
class IFATTable;
class IProgress;
class IStorageDevice;
class CFATSearchedPartitionInfo;

// Error numbers of the FAT search (module kModuleFATSearch) beyond the
// engine's common ones.
enum FATSearchError : uint32_t {
    kErrFATNotFATVolume = 0xC,  // no FAT16/FAT32 boot sector, or a volume of another type
    kErrFATCancelled = 0xD,     // the caller asked the walk to stop
};

// One directory sector that a deep scan met on the surface. For the first
// sector of a sub-folder ("." and ".."), the folder's own first cluster and
// its parent's; kFATNoFolderCluster in both for any other directory sector.
struct FIRSTFOLDERSECTOR {
    uint64_t sector = 0;
    uint32_t cluster = 0;
    uint32_t parentCluster = 0;
};
constexpr uint32_t kFATNoFolderCluster = 0xFFFFFFFF;
// Ascending by sector, one record per sector.
using FATFolderSectorList = std::vector<FIRSTFOLDERSECTOR>;

// Placeholder folders of a deep build are named "DIR<n>" from one counter
// for the whole process, so that two scans never hand out the same name.
constexpr const char* kFATPlaceholderFormat = "DIR%d";
constexpr unsigned short kFATPlaceholderState = kFATStateDeleted | kFATStateReguessChildren;

struct FATBuildGeometry {
    int fileSystemType = 0;    // 1 FAT16, 2 FAT32
    uint64_t startSector = 0;  // of the partition on the device
    uint32_t sectorsPerCluster = 0;
    uint64_t rootDirSector = 0;   // FAT16: the fixed root area
    uint32_t rootDirSectors = 0;  // FAT16: its length
    uint32_t rootCluster = 0;     // FAT32
    int bootSectorKnown = 1;
    uint64_t firstDataSector = 0;  // sector of cluster 2
    uint64_t totalSectors = 0;     // of the partition
};

class CFATBuildWorker {
public:
    // Nothing is owned but the worker's own maps; the progress sink may be
    // null.
    CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress,
                    CFATSearchedPartitionInfo* partition, IStorageDevice* device,
                    const FATBuildGeometry& geometry, const IFATTable* fat);
    ~CFATBuildWorker();
    CFATBuildWorker(const CFATBuildWorker&) = delete;
    CFATBuildWorker& operator=(const CFATBuildWorker&) = delete;

    // A boot sector worth walking from: valid for the device's sector size,
    // big enough for its FATs, and followed by a FAT (first or second copy)
    // that starts like one.
    static bool IsFullValidDBR(const uint8_t* sector, size_t length, uint64_t startSector,
                               IStorageDevice* device);

    // Breadth-first walk of a live volume; every live and deleted entry goes
    // to the tree builder. 0, or the root-not-built or cancelled failure.
    // The progress sink gets rising percentages and always a final 100.
    // (The build over a deep search's folder records joins here with the
    // FAT deep search.)
    VKRESULT QuickBuildDirectoryTree(int mode);

    // Deep scan: file starts the signature search found, handed to the
    // walker's first-cluster guess.
    void SetFileSectorMap(const FileSectorMap* map) { m_fileSectorMap = map; }
    // Builds a partition that a deep scan found: its root when the boot
    // sector is known, a lost FAT16 root from the directory sectors in
    // front of the data area, every sub-folder met on the surface (under
    // a placeholder when its parent is gone), then the directory clusters
    // no folder claimed. 1, or the lost-folder pass's result.
    int CompleteBuildDirectoryTree(const FATFolderSectorList& records);

    // A folder node standing in for one whose entry is lost; the caller
    // owns it. Null when it cannot be made.
    CFATFileNode* CreateTempFileNode(uint64_t cluster, uint64_t parentCluster);

    uint64_t ConvertClusterNumToSector(uint64_t n) const;
    uint32_t ConvertSectorToClusterNum(uint64_t s) const;
    bool IsFirsectorInCluster(uint64_t s) const;

private:
    void SendProgress(int64_t percent);
    void BuildFat16LostRoot(CFATBuildChildren& children, uint64_t sector);
    int BuildLostNode(CFATBuildChildren& children, FATFolderSectorList::const_iterator first,
                      FATFolderSectorList::const_iterator last);

    IDirecotryTreeBuilder* m_builder;
    IProgress* m_progress;
    CFATSearchedPartitionInfo* m_partition;
    IStorageDevice* m_device;
    FATBuildGeometry m_geo;
    const IFATTable* m_fat;
    uint32_t m_sectorSize;
    FATFolderMap m_folderMap;
    FATVisitedClusters m_walked;
    const FileSectorMap* m_fileSectorMap = nullptr;
};
