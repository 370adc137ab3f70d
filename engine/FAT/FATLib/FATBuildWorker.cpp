#include "FATBuildWorker.h"

#include <new>

#include "FATDBR.h"
#include "FATPartitionInfo.h"
#include "FATTable.h"
#include "IStorageDevice.h"
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
      m_sectorSize(device && device->GetSectorSize() > 0
                       ? static_cast<uint32_t>(device->GetSectorSize())
                       : 512) {}

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
    if (sectorSize < 512 || sectorSize > 4096 || length < static_cast<size_t>(sectorSize))
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
    if (!m_progress)
        return;
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    info.total = 100;
    info.done = percent;
    m_progress->UpdateProgress(&info);
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
