#include "FATQuickSearch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

#include "FATBuildWorker.h"
#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATPartitionInfo.h"
#include "FATTable.h"
#include "IStorageDevice.h"
#include "StorageDeviceData.h"
#include "Utility/CatchExeception.h"

namespace {

constexpr uint64_t kBackupBootSector = fat_layout::boot::kUsualBackupSector;

// Sector sizes the FAT code reads with; anything else is refused rather than
// used to size buffers.
bool SectorSizeOk(int size) {
    return fat_layout::SectorSizeOk(size);
}

}  // namespace

IQuickFileSystemSearchController* CreateFATQuickSearcher() {
    return new (std::nothrow) CFATQuickSearcher();
}

IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
    return new (std::nothrow) CFatVolumeAnalyze(device, startSector);
}

// ---------------------------------------------------------------------------
// Quick searcher

CFATQuickSearcher::~CFATQuickSearcher() {
    for (CFATSearchedPartitionInfo* record : m_partitions)
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(record);
}

int CFATQuickSearcher::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    // Only the first record is ever handed out: a quick search covers one
    // volume.
    const int found = m_partitions.empty() ? 0 : 1;
    return AnswerSearchedPartitionQuery(
        found, out, capacity,
        [this](int) -> CSearchedPartitionInfo* { return m_partitions.front()->Clone(); });
}

VKRESULT CFATQuickSearcher::GetFsType(int& type) const {
    if (!m_device || m_device->GetType() != kDeviceVolume)
        return VK_ERROR(kModuleFATSearch, kErrNotSupported);
    auto* data = dynamic_cast<IVolumeDeviceData*>(m_device->GetPrivateData());
    if (!data)
        return VK_ERROR(kModuleFATSearch, kErrNoInformation);
    const CCollectedVolumeDeviceInfoStruct* record = data->GetVolumeInfo();
    if (!record)
        return VK_ERROR(kModuleFATSearch, kErrNoInformation);
    type = record->fileSystemType;
    return VK_OK;
}

VKRESULT CFATQuickSearcher::QuickSearchFiles(IStorageDevice* volume, IProgress* progress) {
    VKRESULT result = VK_OK;
    bool walked = false;
    m_lastRecord = nullptr;
    if (!volume || !progress) {
        result = VK_ERROR(kModuleFATSearch, kErrBadArgument);
    } else if (!m_builder) {
        result = VK_ERROR(kModuleFATSearch, kErrNoInformation);
    } else {
        m_device = volume;
        m_progress = progress;
        int type = FILE_SYSTEM_UNKNOWN;
        result = GetFsType(type);
        if (ResultSucceeded(result)) {
            if (type == FILE_SYSTEM_FAT16 || type == FILE_SYSTEM_FAT32) {
                result = FatQuickSearchFiles(type);
                walked = true;
            } else {
                CatchExeception::WriteLog(
                    "FAT quick search: volume of file-system type %d refused\n", type);
                result = VK_ERROR(kModuleFATSearch, kErrFATNotFATVolume);
            }
        }
    }
    // The caller waits for the finished record to know the search is over,
    // whatever the outcome; a walk that began has its tree finished even
    // when it failed.
    FinishQuickSearch(walked ? m_builder : nullptr, SEARCHER_FAT, m_lastRecord, m_device, progress,
                      100, 100, result);
    m_device = nullptr;
    m_progress = nullptr;
    return result;
}

VKRESULT CFATQuickSearcher::FatQuickSearchFiles(int type) {
    const uint32_t flags = type == FILE_SYSTEM_FAT32 ? kFATQuickFlagsFat32 : kFATQuickFlagsFat16;
    const uint64_t start = 0;
    const int deviceSectorSize = m_device->GetSectorSize();
    CFATSearchedPartitionInfo* record = nullptr;
    VKRESULT result = VK_OK;
    CDoubleFATTable* fat = nullptr;

    std::vector<uint8_t> boot;
    if (!SectorSizeOk(deviceSectorSize)) {
        CatchExeception::WriteLog("FAT quick search: device sector size %d refused\n",
                                  deviceSectorSize);
        result = VK_ERROR(kModuleFATSearch, kErrFATNotFATVolume);
    } else {
        try {
            boot.assign(static_cast<size_t>(deviceSectorSize), 0);
        } catch (const std::bad_alloc&) {
            result = VK_ERROR(kModuleFATSearch, kErrOutOfMemory);
        }
    }
    if (ResultSucceeded(result)) {
        bool valid = m_device->ReadSector(boot.data(), static_cast<long long>(start), 1) &&
                     CFATBuildWorker::IsFullValidDBR(boot.data(), boot.size(), start, m_device);
        if (!valid && (flags & kFATFlagFat32BackupBoot)) {
            std::fill(boot.begin(), boot.end(), 0);
            valid = m_device->ReadSector(boot.data(),
                                         static_cast<long long>(start + kBackupBootSector), 1) &&
                    CFATBuildWorker::IsFullValidDBR(boot.data(), boot.size(), start, m_device);
            if (valid)
                CatchExeception::WriteLog(
                    "FAT quick search: boot sector damaged, searching from the backup\n");
        }
        if (!valid)
            result = VK_ERROR(kModuleFATSearch, kErrFATNotFATVolume);
    }

    FATGeometry geo;
    const CTempFATDBR dbr(boot.data(), boot.size(),
                          static_cast<uint32_t>(std::max(deviceSectorSize, 0)));
    if (ResultSucceeded(result)) {
        const long long deviceSectors = m_device->GetTotalSectors();
        const uint64_t available =
            deviceSectors > 0 ? static_cast<uint64_t>(deviceSectors) - start : 0;
        if (!dbr.GetGeometry(available, geo))
            result = VK_ERROR(kModuleFATSearch, kErrFATNotFATVolume);
    }
    if (ResultSucceeded(result)) {
        fat = IFATTableFactory::CreateFATTable(m_device, start + dbr.GetReservedSector(),
                                               dbr.GetFileSystemType(), dbr.GetSectorsPerFat(),
                                               flags & 0x80, flags & 0x200);
        if (!fat) {
            result = VK_ERROR(kModuleFATSearch, kErrNoInformation);
        } else if (!fat->HasCopy()) {
            // Live chains cannot be followed; files are still listed and
            // their data taken as contiguous.
            CatchExeception::WriteLog("FAT quick search: no readable FAT copy\n");
        }
    }
    if (ResultSucceeded(result)) {
        const int fsType = dbr.GetFileSystemType();
        const uint32_t rootSectors =
            fsType == FILE_SYSTEM_FAT16 ? static_cast<uint32_t>(geo.rootDirSectors) : 0;
        record = CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(
            static_cast<unsigned>(deviceSectorSize));
        if (!record) {
            result = VK_ERROR(kModuleFATSearch, kErrNotInitialised);
        } else {
            record->partitionIndex = 0;
            record->SetDataStartSector(static_cast<long long>(start + geo.dataStart));
            record->sectorsPerCluster = geo.sectorsPerCluster;
            record->SetMatchedSubFolderCount(0);
            record->fileSystemType = fsType;
            record->SetTotalSectors(geo.totalSectors);
            record->SetSectorPerFAT(dbr.GetSectorsPerFat());
            record->SetTotalCluster(
                static_cast<uint32_t>(std::min<uint64_t>(geo.totalClusters, UINT32_MAX)));
            record->SetStartSector(static_cast<long long>(start));
            record->SetReservedSector(static_cast<uint16_t>(dbr.GetReservedSector()));
            record->SetRootInfo(fsType == FILE_SYSTEM_FAT32 ? dbr.GetRootDirStartCluster()
                                                            : rootSectors);
            record->MergeFlag(flags);
            m_partitions.push_back(record);

            if (m_builder)
                m_builder->AddSearcherInfo(SEARCHER_FAT, 0);
            FATBuildGeometry build;
            build.fileSystemType = fsType;
            build.startSector = start;
            build.sectorsPerCluster = geo.sectorsPerCluster;
            build.rootDirSector = start + geo.rootDirStart;
            build.rootDirSectors = rootSectors;
            build.rootCluster = dbr.GetRootDirStartCluster();
            build.bootSectorKnown = 1;
            build.firstDataSector = start + geo.dataStart;
            // The volume as its boot sector describes it, not cut to the
            // device: a file that runs past a truncated image's end keeps its
            // runs, its readers get every sector that is there (a last
            // cluster in part too), and report the rest as lost.
            build.totalSectors = std::max<uint64_t>(geo.totalSectors, dbr.GetTotalSectors());
            CFATBuildWorker worker(m_builder, m_progress, record, m_device, build, fat);
            result = worker.QuickBuildDirectoryTree(1);
        }
    }
    m_lastRecord = record;
    IFATTableFactory::DestroyFATTable(fat);
    return result;
}

// ---------------------------------------------------------------------------
// Volume recogniser

CFatVolumeAnalyze::CFatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
    if (!device || !SectorSizeOk(device->GetSectorSize()))
        return;
    const uint32_t sectorSize = static_cast<uint32_t>(device->GetSectorSize());
    std::vector<uint8_t> buffer(4 * static_cast<size_t>(sectorSize), 0);
    if (!device->ReadSector(buffer.data(), static_cast<long long>(startSector), 4))
        return;
    const CTempFATDBR dbr(buffer.data(), sectorSize, sectorSize);
    const int type = dbr.GetFileSystemType();
    if (type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32)
        return;
    m_type = type;
    m_totalSectors = dbr.GetTotalSectors();
    std::string label;
    CFATVolume volume(device);
    if (volume.GetPartitionLabel(startSector, dbr, label))
        std::memcpy(m_label, label.data(), std::min(label.size(), sizeof(m_label) - 1));
}

int CFatVolumeAnalyze::GetLabel(char* buffer, int size) {
    if (!buffer || size <= 0)
        return 0;
    const size_t n = std::min(static_cast<size_t>(size), sizeof(m_label));
    std::memcpy(buffer, m_label, n);
    buffer[n - 1] = '\0';
    return static_cast<int>(n);
}

// ---------------------------------------------------------------------------
// Labels

CFATVolume::CFATVolume(IStorageDevice* device)
    : m_device(device),
      m_sectorSize(device && SectorSizeOk(device->GetSectorSize())
                       ? static_cast<uint32_t>(device->GetSectorSize())
                       : 512) {}

bool CFATVolume::GetPartitionLabel(uint64_t startSector, const CTempFATDBR& boot,
                                   std::string& out) {
    out.clear();
    if (!m_device)
        return false;
    switch (boot.GetFileSystemType()) {
        case FILE_SYSTEM_FAT32:
            return GetFat32Label(startSector, boot, out);
        case FILE_SYSTEM_FAT16:
            return GetFatLabel(startSector, boot, out);
        default:
            return false;
    }
}

bool CFATVolume::GetFatLabel(uint64_t startSector, const CTempFATDBR& boot, std::string& out) {
    const uint32_t spc = boot.GetSectorsperCluster();
    const uint64_t rootSectors =
        static_cast<uint64_t>(boot.GetRootEntries()) * kFATDirEntrySize / m_sectorSize;
    if (spc == 0 || rootSectors == 0)
        return false;
    const uint64_t root = startSector + boot.GetReservedSector() +
                          static_cast<uint64_t>(boot.GetNumberOfFat()) * boot.GetSectorsPerFat();
    for (uint64_t done = 0; done < rootSectors; done += spc) {
        const uint32_t sectors = static_cast<uint32_t>(std::min<uint64_t>(spc, rootSectors - done));
        const int found = AnalyzeDirClusterToGetLabel(root + done, sectors, out);
        if (found != 0)
            return found > 0;
    }
    return false;
}

bool CFATVolume::GetFat32Label(uint64_t startSector, const CTempFATDBR& boot, std::string& out) {
    const uint32_t spc = boot.GetSectorsperCluster();
    if (spc == 0)
        return false;
    const uint64_t fatStart = startSector + boot.GetReservedSector();
    const uint64_t dataStart =
        fatStart + static_cast<uint64_t>(boot.GetNumberOfFat()) * boot.GetSectorsPerFat();
    const uint64_t entriesPerBlock =
        static_cast<uint64_t>(m_sectorSize) * spc / fat_layout::table::kFat32EntrySize;
    const long long deviceSectors = m_device->GetTotalSectors();
    const uint64_t clusterLimit =
        deviceSectors > 0 && static_cast<uint64_t>(deviceSectors) > dataStart
            ? (static_cast<uint64_t>(deviceSectors) - dataStart) / spc + 2
            : 0;
    std::vector<uint8_t> block(static_cast<size_t>(m_sectorSize) * spc);
    uint64_t loadedBlock = UINT64_MAX;
    std::unordered_set<uint64_t> seen;
    uint64_t cluster = boot.GetRootDirStartCluster();
    // Bounded by the volume's clusters and cut at the first cluster seen
    // twice: a looping chain ends the search.
    while (CFATTableAnalyser::IsUsedCluster(cluster) && cluster < clusterLimit &&
           seen.insert(cluster).second) {
        const int found =
            AnalyzeDirClusterToGetLabel(FATClusterToSector(dataStart, cluster, spc), spc, out);
        if (found != 0)
            return found > 0;
        const uint64_t blockNo = cluster / entriesPerBlock;
        if (blockNo != loadedBlock) {
            if (!m_device->ReadSector(block.data(),
                                      static_cast<long long>(fatStart + blockNo * spc), spc))
                return false;
            loadedBlock = blockNo;
        }
        const vk::ByteReader r(block.data(), block.size());
        cluster = r.LE32((cluster % entriesPerBlock) * fat_layout::table::kFat32EntrySize) &
                  kFATClusterMask;
    }
    return false;
}

int CFATVolume::AnalyzeDirClusterToGetLabel(uint64_t sector, uint32_t sectors, std::string& out) {
    std::vector<uint8_t> buffer(static_cast<size_t>(m_sectorSize) * sectors);
    if (!m_device->ReadSector(buffer.data(), static_cast<long long>(sector), sectors))
        return -1;
    for (size_t off = 0; off + kFATDirEntrySize <= buffer.size(); off += kFATDirEntrySize) {
        const CTempFATDirEntry entry(static_cast<const uint8_t*>(buffer.data() + off));
        if (!entry.IsValidFATDirEntry(false))
            return 0;
        if (entry.IsLongFileNameEntry() || entry.IsErased() || !entry.IsVolumeLabel())
            continue;
        entry.GetShortName(out, true);
        return 1;
    }
    return 0;
}
