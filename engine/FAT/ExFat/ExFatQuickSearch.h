// The exFAT faces the engine core creates through its factory table: the
// quick searcher of a live exFAT volume and the volume recogniser.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

#include "ExFatEntrySet.h"
#include "ExFatPartition.h"
#include "ResultCode.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "Utility/ScanDamage.h"

class IStorageDevice;

IQuickFileSystemSearchController* CreateEXFatQuickSearcher();
// Null unless the sector at `startSector` is a valid exFAT boot sector for
// the device's sector size.
IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);

// Error numbers of the exFAT quick search, under the FAT search's module
// number (0x0a). A stop asked by the caller carries the number the FAT
// search uses for it.
enum ExFatSearchError : uint32_t {
    kErrExFatCancelled = 0xD,
    kErrExFatNoBootSector = 0x20,    // no valid exFAT boot sector for this device
    kErrExFatRootUnreadable = 0x21,  // the root folder's first cluster cannot be read
    kErrExFatRefused = 0x22,         // the tree builder refused the searcher
};

class CExFatQuickSearch final : public IQuickFileSystemSearchController {
public:
    CExFatQuickSearch() = default;
    ~CExFatQuickSearch() override = default;
    CExFatQuickSearch(const CExFatQuickSearch&) = delete;
    CExFatQuickSearch& operator=(const CExFatQuickSearch&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // The volume searched, once its boot sector was read (a copy the caller
    // owns): cluster-heap start as the origin of the runs, type 7.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // Reads the boot sector, walks the folders breadth-first and hands every
    // file and folder to the tree builder. Always ends with a finished
    // progress record carrying the result: 0, or why nothing (or not
    // everything) could be searched.
    VKRESULT QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    // Structures skipped as damaged in the last search.
    uint64_t GetDamageCount() const { return m_damage.Count(); }
    const CExFatPartition& GetPartition() const { return m_partition; }

private:
    // One folder still to read.
    struct Folder {
        uint32_t firstCluster = 0;
        uint64_t length = 0;
        bool noFatChain = false;
        bool deleted = false;
        long long id = 0;
    };

    VKRESULT PrepareSearch(IStorageDevice* device);
    VKRESULT QuickSearch(IStorageDevice* device, IProgress* progress);
    // Reads one folder's clusters, hands its files and folders over and
    // queues its folders. False when a cluster could not be read; what was
    // read before is still handed over.
    bool BuildChildren(IStorageDevice* device, const Folder& folder, std::deque<Folder>& queue);

    IDirecotryTreeBuilder* m_builder = nullptr;
    CExFatPartition m_partition;
    CEFDTAnalyze m_parser;
    std::vector<uint8_t> m_cluster;
    std::unordered_set<uint32_t> m_readClusters;
    // The volume as its partition record describes it, once prepared.
    CSearchedPartitionInfo m_record;
    bool m_prepared = false;
    vk::DamageCounter m_damage{"exFAT quick search"};
};

class CExFatVolumeAnalyer final : public IVolumeAnalyze {
public:
    explicit CExFatVolumeAnalyer(long long totalSectors) : m_totalSectors(totalSectors) {}
    int GetFileSystemType() override { return 7; }
    long long GetTotalSector() override { return m_totalSectors; }
    // The label is not read: an empty text.
    int GetLabel(char* buffer, int size) override;

private:
    long long m_totalSectors;
};
