#include "ExFatQuickSearch.h"

#include <algorithm>
#include <new>

#include "ExFatDBR.h"
#include "ExFatFileNode.h"
#include "ExFatLayout.h"
#include "IStorageDevice.h"
#include "SearchedPartitionInfo.h"
#include "Utility/CatchExeception.h"

namespace {

// exFAT sectors are 512 to 4096 bytes; a device (or an image record) that
// claims anything else is not read as exFAT.
bool ExFatSectorSize(int size) {
    return size >= 512 && size <= 4096 && (size & (size - 1)) == 0;
}

}  // namespace

IQuickFileSystemSearchController* CreateEXFatQuickSearcher() {
    return new (std::nothrow) CExFatQuickSearch();
}

IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
    if (!device || !ExFatSectorSize(device->GetSectorSize()))
        return nullptr;
    const int sectorSize = device->GetSectorSize();
    std::vector<uint8_t> sector(static_cast<size_t>(sectorSize), 0);
    if (!device->ReadSector(sector.data(), static_cast<long long>(startSector), 1))
        return nullptr;
    const CExFatDBR dbr(sector.data(), sector.size());
    if (!dbr.IsValid(static_cast<uint32_t>(sectorSize)))
        return nullptr;
    return new (std::nothrow) CExFatVolumeAnalyer(static_cast<long long>(dbr.GetTotalSectors()));
}

int CExFatVolumeAnalyer::GetLabel(char* buffer, int size) {
    if (buffer && size > 0)
        buffer[0] = '\0';
    return 0;
}

// ---------------------------------------------------------------------------

int CExFatQuickSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return AnswerSearchedPartitionQuery(
        m_prepared ? 1 : 0, out, capacity, [this](int) -> CSearchedPartitionInfo* {
            return new (std::nothrow) CSearchedPartitionInfo(m_record);
        });
}

VKRESULT CExFatQuickSearch::QuickSearchFiles(IStorageDevice* volume, IProgress* progress) {
    m_damage.Reset();
    m_prepared = false;
    bool announced = false;
    VKRESULT result = VK_OK;
    if (!volume || !progress) {
        result = VK_ERROR(kModuleFATSearch, kErrBadArgument);
    } else if (!m_builder) {
        result = VK_ERROR(kModuleFATSearch, kErrNoInformation);
    } else {
        result = PrepareSearch(volume);
        announced = m_prepared && !ResultIs(result, kModuleFATSearch, kErrExFatRefused);
        if (ResultSucceeded(result))
            result = QuickSearch(volume, progress);
    }
    m_partition.ClearFatData();
    m_damage.LogSummary();
    // With the volume's record the builder can read a recycle bin's index
    // files where they lie (runs count from the cluster heap); the caller
    // learns from the finished record that the search is over, whatever
    // became of it.
    FinishQuickSearch(announced ? m_builder : nullptr, SEARCHER_EXFAT,
                      announced ? &m_record : nullptr, volume, progress, 1, 1, result);
    return result;
}

VKRESULT CExFatQuickSearch::PrepareSearch(IStorageDevice* device) {
    const int sectorSize = device->GetSectorSize();
    if (!ExFatSectorSize(sectorSize)) {
        CatchExeception::WriteLog("exFAT quick search: device sector size %d refused\n",
                                  sectorSize);
        return VK_ERROR(kModuleFATSearch, kErrExFatNoBootSector);
    }
    std::vector<uint8_t> boot(static_cast<size_t>(sectorSize), 0);
    const CExFatDBR dbr(boot.data(), boot.size());
    if (!device->ReadSector(boot.data(), 0, 1) || !dbr.IsValid(static_cast<uint32_t>(sectorSize))) {
        CatchExeception::WriteLog("exFAT quick search: no valid boot sector for %d-byte sectors\n",
                                  sectorSize);
        return VK_ERROR(kModuleFATSearch, kErrExFatNoBootSector);
    }
    const uint8_t sectorShift = dbr.GetBytesPerSectorShift();
    const uint8_t clusterShift =
        static_cast<uint8_t>(sectorShift + dbr.GetSectorsPerClusterShift());
    const long long deviceSectors = device->GetTotalSectors();
    m_parser.PrepareAnayze(sectorShift, clusterShift,
                           deviceSectors > 0 ? static_cast<uint64_t>(deviceSectors) : 0);

    const uint32_t spc = dbr.GetSectorsperCluster();
    const uint64_t heap = dbr.GetDataRegionStartSector();
    uint32_t clusters = dbr.GetTotalCluster();
    // A FAT with room for more entries than the boot sector counts lets the
    // walk accept those clusters too, but only as far as the volume's own
    // sectors reach: beyond them lies whatever follows the volume.
    const uint64_t fatEntries = static_cast<uint64_t>(dbr.GetSectorsPerFat()) * sectorSize / 4;
    const uint64_t fitting = (dbr.GetTotalSectors() - heap) / spc;
    const uint64_t raised = std::min<uint64_t>(fatEntries > 2 ? fatEntries - 2 : 0, fitting);
    if (raised > clusters && raised <= exfat::kLastValidCluster - 1) {
        clusters = static_cast<uint32_t>(raised);
        CatchExeception::WriteLog("chang totalClustur = %d\n", static_cast<int>(clusters));
    }
    m_partition.SetSectorSize(static_cast<uint32_t>(sectorSize));
    m_partition.SetDataRegionStartSector(heap);
    m_partition.SetSectorsPerCluster(spc);
    m_partition.SetRootDirCluster(dbr.GetRootDirStartCluster());
    m_partition.SetTotalClusters(clusters);
    m_partition.SetStartSector(0);
    m_partition.SetTotalSectors(dbr.GetTotalSectors());
    // The active FAT: the second one only on volumes that keep two.
    uint64_t fatStart = dbr.GetFatStartSector();
    if (dbr.GetNumberOfFat() == 2 && dbr.GetActiveFatNumber() == 1)
        fatStart += dbr.GetSectorsPerFat();
    m_partition.GetFatTable().CreateFatTable(device, static_cast<long long>(fatStart),
                                             dbr.GetSectorsPerFat(), clusters);
    if (!m_partition.GetFatTable().IsValid())
        CatchExeception::WriteLog(
            "exFAT quick search: the FAT cannot be read; chains end at once\n");
    try {
        m_cluster.assign(static_cast<size_t>(m_partition.GetBytesPerCluster()), 0);
    } catch (const std::bad_alloc&) {
        return VK_ERROR(kModuleFATSearch, kErrOutOfMemory);
    }
    m_record = CSearchedPartitionInfo(static_cast<unsigned>(sectorSize));
    m_record.runOriginSector = static_cast<long long>(heap);
    m_record.startSector = 0;
    m_record.totalSectors = 0;
    m_record.fileSystemType = 7;
    m_record.sectorsPerCluster = spc;
    m_prepared = true;
    const long long rootId =
        static_cast<long long>(m_partition.ConvertClusterNumToSector(dbr.GetRootDirStartCluster()));
    if (!m_builder->AddSearcherInfo(SEARCHER_EXFAT, rootId))
        return VK_ERROR(kModuleFATSearch, kErrExFatRefused);
    return VK_OK;
}

VKRESULT CExFatQuickSearch::QuickSearch(IStorageDevice* device, IProgress* progress) {
    m_readClusters.clear();
    std::deque<Folder> queue;
    Folder root;
    root.firstCluster = m_partition.GetRootDirCluster();
    root.length = CExFatPartition::kWholeChain;
    root.id = static_cast<long long>(m_partition.ConvertClusterNumToSector(root.firstCluster));
    if (!m_partition.IsHeapCluster(root.firstCluster) || !BuildChildren(device, root, queue)) {
        if (m_readClusters.size() <= 1 && queue.empty()) {
            CatchExeception::WriteLog("exFAT quick search: root folder at cluster %u unreadable\n",
                                      root.firstCluster);
            return VK_ERROR(kModuleFATSearch, kErrExFatRootUnreadable);
        }
        m_damage.Skip("root folder cluster", root.firstCluster, "unreadable");
    }
    int64_t done = 0;
    int64_t highest = -1;
    while (!queue.empty()) {
        if (!progress->Continued())
            return VK_ERROR(kModuleFATSearch, kErrExFatCancelled);
        const Folder folder = queue.front();
        queue.pop_front();
        ++done;
        const int64_t total = done + static_cast<int64_t>(queue.size());
        const int64_t percent = done * 100 / total;
        if (percent > highest) {
            highest = percent;
            vk::SendProgress(progress, PROGRESS_RUNNING, total, done);
        }
        // A folder that cannot be read costs only its own files.
        if (!BuildChildren(device, folder, queue))
            m_damage.Skip("folder", static_cast<uint64_t>(folder.id), "a cluster cannot be read");
    }
    return VK_OK;
}

bool CExFatQuickSearch::BuildChildren(IStorageDevice* device, const Folder& folder,
                                      std::deque<Folder>& queue) {
    m_parser.BeginFolder();
    const std::vector<ExFatClusterRun> runs = m_partition.GetClusterRuns(
        folder.firstCluster, folder.length, folder.noFatChain, folder.deleted);
    const uint32_t spc = m_partition.GetSectorsPerCluster();
    bool readable = true;
    bool more = true;
    for (const ExFatClusterRun& run : runs) {
        for (uint32_t i = 0; more && i < run.count; ++i) {
            const uint32_t cluster = run.first + i;
            // A cluster already read belongs to a folder met before: a folder
            // that holds itself, its parent, or a cluster another one holds.
            if (!m_readClusters.insert(cluster).second) {
                more = false;
                break;
            }
            const uint64_t sector = m_partition.ConvertClusterNumToSector(cluster);
            if (!device->ReadSector(m_cluster.data(), static_cast<long long>(sector), spc)) {
                readable = false;
                more = false;
                break;
            }
            more = m_parser.Analyze(m_cluster.data(), m_cluster.size(), sector);
        }
        if (!more)
            break;
    }
    for (_tagFileBaseInfo& record : m_parser.GetCompleted()) {
        // What a deleted folder held was deleted with it.
        if (folder.deleted)
            record.inUse = 0;
        CExFatFileNode* node = m_partition.BuildFile(record);
        if (!node)
            continue;
        const long long id =
            static_cast<long long>(m_partition.ConvertClusterNumToSector(record.firstCluster));
        node->SetID(id);
        node->SetParentID(folder.id);
        if (!m_builder->AddNode(node, SEARCHER_EXFAT)) {
            node->Release();
            continue;
        }
        if (record.IsDirectory()) {
            Folder child;
            child.firstCluster = record.firstCluster;
            child.length = record.dataLength;
            child.noFatChain = record.noFatChain != 0;
            child.deleted = record.inUse == 0;
            child.id = id;
            queue.push_back(child);
        }
    }
    m_parser.ClearCompleted();
    return readable;
}
