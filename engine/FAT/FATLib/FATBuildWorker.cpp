#include "FATBuildWorker.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>

#include "CheckedMath.h"
#include "FATDBR.h"
#include "FATPartitionInfo.h"
#include "FATTable.h"
#include "IStorageDevice.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "Utility/CatchExeception.h"

CFATBuildWorker::CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress,
                                 CFATSearchedPartitionInfo* partition, IStorageDevice* device,
                                 const FATBuildGeometry& geometry, const IFATTable* fat)
    : m_builder(builder),
      m_progress(progress),
      m_partition(partition),
      m_device(device),
      m_geo(geometry),
      m_fat(fat),
      m_sectorSize(vk::NormaliseSectorSize(
          device ? static_cast<uint64_t>(std::max(device->GetSectorSize(), 0)) : 0)) {}

CFATBuildWorker::~CFATBuildWorker() {
    // The nodes belong to the tree builder.
    m_folderMap.clear();
    m_walked.clear();
}

bool CFATBuildWorker::IsFullValidDBR(const uint8_t* sector, size_t length, uint64_t startSector,
                                     IStorageDevice* device) {
    if (!device || !sector)
        return false;
    const int sectorSize = device->GetSectorSize();
    // Sector buffers below are sized from the device; a record claiming an
    // odd size must not make them overflow.
    if (!fat_layout::SectorSizeOk(sectorSize) || length < static_cast<size_t>(sectorSize))
        return false;
    const CTempFATDBR dbr(sector, length, static_cast<uint32_t>(sectorSize));
    if (!dbr.IsValidDBR())
        return false;
    const uint64_t fatSectors =
        static_cast<uint64_t>(dbr.GetSectorsPerFat()) * dbr.GetNumberOfFat();
    if (dbr.GetTotalSectors() < fatSectors)
        return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(sectorSize));
    const uint64_t firstFat = startSector + dbr.GetReservedSector();
    for (const uint64_t s : {firstFat, firstFat + dbr.GetSectorsPerFat()}) {
        int type = 0;
        if (device->ReadSector(buffer.data(), static_cast<long long>(s), 1) &&
            CFATTableAnalyser::IsValidFATTableFirstSector(buffer.data(), buffer.size(), type))
            return true;
    }
    return false;
}

uint64_t CFATBuildWorker::ConvertClusterNumToSector(uint64_t n) const {
    return n > 1 ? FATClusterToSector(m_geo.firstDataSector, n, m_geo.sectorsPerCluster) : 0;
}

uint32_t CFATBuildWorker::ConvertSectorToClusterNum(uint64_t s) const {
    if (m_geo.sectorsPerCluster == 0)
        return 0;
    return static_cast<uint32_t>((s - m_geo.firstDataSector) / m_geo.sectorsPerCluster + 2);
}

bool CFATBuildWorker::IsFirsectorInCluster(uint64_t s) const {
    return m_geo.sectorsPerCluster != 0 &&
           (s - m_geo.firstDataSector) % m_geo.sectorsPerCluster == 0;
}

void CFATBuildWorker::SendProgress(int64_t percent) {
    vk::SendProgress(m_progress, PROGRESS_RUNNING, 100, percent);
}

VKRESULT CFATBuildWorker::QuickBuildDirectoryTree(int mode) {
    GetEmptyFileVirtualClusterNumObject().ResetVirtualClusterNum();
    VKRESULT result = VK_OK;
    {
        CFATBuildChildren children(m_builder, m_progress, m_partition, m_device, &m_walked,
                                   &m_folderMap, m_geo.totalSectors, m_geo.fileSystemType, m_fat,
                                   m_geo.sectorsPerCluster, m_geo.rootCluster, m_geo.rootDirSector,
                                   m_geo.rootDirSectors, m_geo.firstDataSector);
        children.SetQuickScan(false);
        // The queue grows at its back while the front moves on; folders stay
        // the builder's, which keeps them alive for the whole build.
        std::vector<CFATFileNode*> queue;
        if (!children.BuildRoot(queue, mode, 1)) {
            CatchExeception::WriteLog("FAT quick build: root directory not built\n");
            result = VK_ERROR(kModuleFATSearch, kErrFailed);
        } else {
            int64_t highest = -1;
            size_t front = 0;
            int64_t done = 0;
            while (front < queue.size()) {
                if (m_progress && !m_progress->Continued()) {
                    result = VK_ERROR(kModuleFATSearch, kErrFATCancelled);
                    break;
                }
                ++done;
                const int64_t waiting = static_cast<int64_t>(queue.size() - front);
                const int64_t percent = done * 100 / (done + waiting);
                if (percent > highest) {
                    highest = percent;
                    SendProgress(percent);
                }
                CFATFileNode* folder = queue[front++];
                if (!folder || folder->GetFirstChild())
                    continue;
                children.BuildChildren(folder, static_cast<uint64_t>(folder->GetCurrentNodeID()),
                                       queue, 0, mode);
            }
        }
    }
    SendProgress(100);
    return result;
}

// ---------------------------------------------------------------------------
// Build of a partition found by a deep scan

namespace {

std::atomic<int> g_placeholderCounter{0};

}  // namespace

CFATFileNode* CFATBuildWorker::CreateTempFileNode(uint64_t cluster, uint64_t parentCluster) {
    vk::ReleasePtr<CFATFileNode> node(new (std::nothrow) CFATFileNode());
    if (!node)
        return nullptr;
    CFATFileProperties* props = CFATFileProperties::Create();
    if (!props)
        return nullptr;
    char name[32];
    std::snprintf(name, sizeof(name), kFATPlaceholderFormat, g_placeholderCounter.fetch_add(1));
    props->SetFileName(name);
    props->SetAttribute(static_cast<uint16_t>(props->GetAttribute() | 0x10));
    props->SetState(kFATPlaceholderState);
    props->SetFirstClusterNum(static_cast<long long>(cluster));
    props->SetParentFirstClusterNum(static_cast<long long>(parentCluster));
    props->SetMetaDataSector(static_cast<long long>(ConvertClusterNumToSector(parentCluster)));
    props->SetCreationTime();
    props->SetModificationTime();
    props->SetLastAccessTime();
    node->SetFileProperties(props);
    return node.release();
}

void CFATBuildWorker::BuildFat16LostRoot(CFATBuildChildren& children, uint64_t sector) {
    std::vector<uint8_t> buffer(m_sectorSize, 0);
    if (!m_device->ReadSector(buffer.data(), static_cast<long long>(sector), 1)) {
        CatchExeception::WriteLog("FAT deep build: root sector %llu unreadable, skipped\n",
                                  static_cast<unsigned long long>(sector));
        return;
    }
    std::vector<CFATFileNode*> folders;
    children.BuildChildrenFromBuffer(buffer.data(), buffer.size(), nullptr, folders, nullptr,
                                     nullptr, 0, 1);
}

int CFATBuildWorker::CompleteBuildDirectoryTree(const FATFolderSectorList& records) {
    GetEmptyFileVirtualClusterNumObject().ResetVirtualClusterNum();
    if (!m_device || m_geo.sectorsPerCluster == 0 || m_geo.sectorsPerCluster > 128)
        return 1;
    CFATBuildChildren children(m_builder, m_progress, m_partition, m_device, &m_walked,
                               &m_folderMap, m_geo.totalSectors, m_geo.fileSystemType, m_fat,
                               m_geo.sectorsPerCluster, m_geo.rootCluster, m_geo.rootDirSector,
                               m_geo.rootDirSectors, m_geo.firstDataSector);
    children.SetFileSectorMap(m_fileSectorMap);
    children.SetQuickScan(true);
    std::vector<CFATFileNode*> queue;
    // A root that cannot be read leaves the folders found on the surface.
    children.BuildRoot(queue, 1, m_geo.bootSectorKnown);
    queue.clear();

    // A FAT16 volume without its boot sector: its root directory lies in
    // front of the data area, at a place only the boot sector knew; a
    // 128 KiB window in front of the data holds any root there is.
    uint64_t low = m_geo.firstDataSector;
    if (m_geo.fileSystemType != FILE_SYSTEM_FAT32 && !m_geo.bootSectorKnown) {
        const uint64_t window = 0x20000 / m_sectorSize;
        low = low > window ? low - window : 0;
    }
    uint64_t end = 0;
    if (!vk::CheckedAdd(m_geo.startSector, m_geo.totalSectors, &end))
        end = UINT64_MAX;
    const auto byLow =
        std::lower_bound(records.begin(), records.end(), low,
                         [](const FIRSTFOLDERSECTOR& r, uint64_t s) { return r.sector < s; });
    const auto byEnd =
        std::lower_bound(byLow, records.end(), end,
                         [](const FIRSTFOLDERSECTOR& r, uint64_t s) { return r.sector < s; });
    if (byLow == byEnd)
        return 1;

    for (auto it = byLow; it != byEnd; ++it) {
        const FIRSTFOLDERSECTOR& record = *it;
        if (record.sector < m_geo.firstDataSector) {
            // Only the lost-root window reaches in front of the data area.
            BuildFat16LostRoot(children, record.sector);
            continue;
        }
        // A "." naming cluster 0 or 1 is no folder of this volume: taking
        // it would put the folder in front of the data area.
        if (record.cluster == kFATNoFolderCluster || record.cluster < 2)
            continue;
        const uint64_t own = (record.sector - m_geo.firstDataSector) / m_geo.sectorsPerCluster + 2;
        if (own != record.cluster || !IsFirsectorInCluster(record.sector))
            continue;
        CFATFileNode* folder = nullptr;
        if (const auto found = m_folderMap.find(record.cluster); found != m_folderMap.end()) {
            folder = found->second;
        } else {
            folder = CreateTempFileNode(record.cluster, record.parentCluster);
            if (!folder)
                continue;
            if (m_partition)
                folder->SetBelongedPartition(
                    static_cast<unsigned short>(m_partition->partitionIndex));
            if (!m_builder || !m_builder->AddNode(folder, SEARCHER_FAT)) {
                folder->Release();
                continue;
            }
            m_folderMap[record.cluster] = folder;
        }
        // Deeper folders come through their own records, not by descending.
        children.BuildChildren(folder, record.cluster, queue, 0, 1);
        queue.clear();
    }
    return BuildLostNode(children, byLow, byEnd);
}

int CFATBuildWorker::BuildLostNode(CFATBuildChildren& children,
                                   FATFolderSectorList::const_iterator first,
                                   FATFolderSectorList::const_iterator last) {
    first = std::lower_bound(first, last, m_geo.firstDataSector,
                             [](const FIRSTFOLDERSECTOR& r, uint64_t s) { return r.sector < s; });
    if (first == last)
        return 0;
    const uint32_t spc = m_geo.sectorsPerCluster;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(static_cast<size_t>(spc) * m_sectorSize, 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::vector<CFATFileNode*> folders;
    for (auto it = first; it != last; ++it) {
        if (it->cluster != kFATNoFolderCluster || !IsFirsectorInCluster(it->sector))
            continue;
        const uint64_t own = (it->sector - m_geo.firstDataSector) / spc + 2;
        if (own >= children.ClusterLimit())
            continue;
        const uint32_t cluster = static_cast<uint32_t>(own);
        if (m_walked.count(cluster))
            continue;
        if (!m_device->ReadSector(buffer.data(), static_cast<long long>(it->sector), spc)) {
            CatchExeception::WriteLog("FAT deep build: lost folder cluster %u unreadable\n",
                                      cluster);
            continue;
        }
        // The placeholder only carries the parent for the entries: they
        // name no folder that is known, so they go to the lost files.
        vk::ReleasePtr<CFATFileNode> placeholder(
            CreateTempFileNode(kFATNoFolderCluster, kFATNoFolderCluster));
        if (!placeholder)
            continue;
        if (m_partition)
            placeholder->SetBelongedPartition(
                static_cast<unsigned short>(m_partition->partitionIndex));
        children.BuildChildrenFromBuffer(buffer.data(), buffer.size(), placeholder.get(), folders,
                                         nullptr, nullptr, 0, 1);
        folders.clear();
    }
    return 1;
}
