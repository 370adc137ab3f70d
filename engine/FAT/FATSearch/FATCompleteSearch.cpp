#include "FATCompleteSearch.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "FATDBR.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "IStorageDevice.h"
#include "SectorSize.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"

namespace {

constexpr uint64_t kBackupBootOffset = 6;
// The highest cluster number a FAT32 entry can hold as a link.
constexpr uint64_t kLastLinkCluster = 0x0FFFFFF6;
// Sectors read from the cached block at once.
constexpr uint64_t kChunkBytes = 1 << 20;
// How far ahead of the sector looked at its successors' first bytes are
// fetched.
constexpr uint64_t kPrefetchSectors = 16;
// A FAT16 root directory lies in front of the data area, and a lost one is
// looked for in this many bytes there.
constexpr uint64_t kLostRootWindowBytes = 0x20000;
// The root directory assumed for a FAT16 volume rebuilt from its folders.
constexpr uint64_t kAssumedRootBytes = 0x4000;

// Cluster counts each type allows: above the first, up to the second.
struct ClusterRange {
    uint64_t above;
    uint64_t upTo;
    uint64_t halfBytesPerEntry;
};

constexpr ClusterRange RangeOf(int type) {
    return type == FILE_SYSTEM_FAT32 ? ClusterRange{0xFFF4, 0x0FFFFFF4, 8}
                                     : ClusterRange{4085, 0xFFF4, 4};
}

bool InRange(int type, uint64_t clusters) {
    const ClusterRange r = RangeOf(type);
    return clusters > r.above && clusters <= r.upTo;
}

// Sectors a FAT needs for `clusters` entries.
uint64_t FatSectorsFor(int type, uint64_t clusters, uint32_t sectorSize) {
    const uint64_t twice = 2ULL * sectorSize;
    return (RangeOf(type).halfBytesPerEntry * clusters + twice - 1) / twice;
}

// The label in a found volume's boot sector (or the FAT32 copy of it);
// empty when neither holds one, or holds the blank label formatting leaves.
std::string BootLabel(IStorageDevice* device, const CFATSearchedPartitionInfo& p) {
    const bool fat32 = p.fileSystemType == FILE_SYSTEM_FAT32;
    const int deviceSector = device->GetSectorSize();
    const size_t bytes = deviceSector >= 512 && deviceSector <= 65536 ? deviceSector : 512;
    std::vector<uint8_t> sector(bytes);
    for (uint64_t at : {uint64_t{0}, fat32 ? kBackupBootOffset : uint64_t{0}}) {
        if (!device->ReadSector(sector.data(), p.startSector + static_cast<long long>(at), 1))
            continue;
        using namespace fat_layout::boot;
        if (sector[kSignature.offset] != kSignature0 ||
            sector[kSignature.offset + 1] != kSignature1)
            continue;
        const fat_layout::Field sig = fat32 ? kFat32BootSignature : kFat16BootSignature;
        if (sector[sig.offset] != 0x29)
            continue;
        const fat_layout::Field field = fat32 ? kFat32Label : kFat16Label;
        std::string label(reinterpret_cast<const char*>(sector.data() + field.offset), field.size);
        while (!label.empty() && (label.back() == ' ' || label.back() == '\0'))
            label.pop_back();
        // Bytes of an OEM code page are not shown as they are.
        for (char& c : label) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                c = '_';
        }
        return label == "NO NAME" ? std::string() : label;
    }
    return {};
}

}  // namespace

ICompleteFileSystemSearchController* CreateFATSearcher() {
    return new (std::nothrow) CFATCompleteFSearcher();
}

CFATCompleteFSearcher::~CFATCompleteFSearcher() {
    for (const auto& [partition, fat] : m_keptFats)
        IFATTableFactory::DestroyFATTable(fat);
    ClearCandidates();
    for (CFATSearchedPartitionInfo* p : m_partitions)
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(p);
}

void CFATCompleteFSearcher::ClearCandidates() {
    m_fatStarts.clear();
    for (CFATSearchedPartitionInfo* c : m_candidates)
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(c);
    m_candidates.clear();
}

void CFATCompleteFSearcher::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_sectorSize = 512;
    m_sectorSizeUsable = true;
    m_deviceSectors = 0;
    if (!device)
        return;
    const int size = device->GetSectorSize();
    // Every FAT structure this search reads is one sector or a run of them,
    // and the FAT code understands 512 to 4096 bytes: a device answering
    // anything else (a damaged image record) is not searched.
    if (size < 512 || size > 4096 || !vk::IsValidSectorSize(static_cast<uint64_t>(size))) {
        CatchExeception::WriteLog("FAT deep search: device sector size %d refused\n", size);
        m_sectorSizeUsable = false;
        return;
    }
    m_sectorSize = static_cast<uint32_t>(size);
    const long long total = device->GetTotalSectors();
    m_deviceSectors = total > 0 ? static_cast<uint64_t>(total) : 0;
}

void CFATCompleteFSearcher::PreparetoSearch() {
    // A searcher may serve a second scan: what the first one kept goes.
    for (CFATSearchedPartitionInfo* p : m_partitions)
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(p);
    m_partitions.clear();
}

int CFATCompleteFSearcher::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return AnswerSearchedPartitionQuery(
        static_cast<int>(m_partitions.size()), out, capacity,
        [this](int i) -> CSearchedPartitionInfo* { return m_partitions[i]->Clone(); });
}

// ---------------------------------------------------------------------------
// The walk over the surface

void CFATCompleteFSearcher::AnalyzeBlock(long long firstSector, long long sectorCount) {
    if (!m_device || !m_sectorSizeUsable || firstSector < 0 || sectorCount <= 0)
        return;
    const uint64_t first = static_cast<uint64_t>(firstSector);
    const uint64_t count = static_cast<uint64_t>(sectorCount);
    // The read-ahead cache lends its block: looked at in place, nothing is
    // copied.
    if (auto* cache = dynamic_cast<IDeviceCache*>(m_device)) {
        long long heldFirst = 0, heldCount = 0;
        const uint8_t* held = cache->PeekCurrentBlock(&heldFirst, &heldCount);
        if (held && firstSector >= heldFirst &&
            firstSector + sectorCount <= heldFirst + heldCount) {
            AnalyzeSectors(
                first, held + static_cast<size_t>(firstSector - heldFirst) * m_sectorSize, count);
            return;
        }
    }
    const uint64_t chunk = std::max<uint64_t>(1, kChunkBytes / m_sectorSize);
    for (uint64_t done = 0; done < count;) {
        const uint64_t n = std::min(chunk, count - done);
        const uint64_t at = first + done;
        m_block.resize(static_cast<size_t>(n * m_sectorSize));
        if (m_device->ReadSector(m_block.data(), static_cast<long long>(at),
                                 static_cast<long long>(n))) {
            AnalyzeSectors(at, m_block.data(), n);
        } else {
            // One bad sector must not hide its readable neighbours.
            for (uint64_t i = 0; i < n; ++i) {
                uint8_t* data = m_block.data();
                if (m_device->ReadSector(data, static_cast<long long>(at + i), 1) && data[0] != 0)
                    AnalyzeSector(at + i, data);
            }
        }
        done += n;
    }
}

void CFATCompleteFSearcher::AnalyzeSectors(uint64_t first, const uint8_t* data, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        // Later sectors' first bytes are asked for before they are needed:
        // a block is mostly out of the processor's caches by now.
        if (i + kPrefetchSectors < count)
            __builtin_prefetch(data + (i + kPrefetchSectors) * m_sectorSize);
        const uint8_t* sector = data + i * m_sectorSize;
        if (sector[0] != 0)
            AnalyzeSector(first + i, sector);
    }
}

void CFATCompleteFSearcher::AnalyzeSector(uint64_t sector, const uint8_t* data) {
    // Most sectors are file data: what the first 64 bytes rule out is not
    // looked at further. A boot sector names the device's sector size at
    // 11, where a directory sector's first entry keeps its attribute (a
    // long-name entry, or bits 6 and 7 clear), and a FAT starts with its
    // media entry.
    const uint16_t bytesPerSector = vk::LoadLE<uint16_t>(data + 11);
    const uint8_t attribute = data[11];
    const bool mayBeBoot = bytesPerSector == m_sectorSize;
    const bool mayBeFolder = attribute <= 0x3F;
    if (!mayBeBoot && !mayBeFolder && data[1] != 0xFF)
        return;
    if (mayBeBoot && CTempFATDBR::SimpleCheck(data, m_sectorSize) &&
        AnalyzeFATDBRSector(sector, data))
        return;
    int type = 0;
    if (CFATTableAnalyser::IsValidFATTableFirstSector(data, m_sectorSize, type)) {
        UpdateFATTableInfo(sector);
        return;
    }
    if (!mayBeFolder)
        return;
    CFATFolderAnalyser folder(m_sectorSize);
    if (!folder.AnalyseSector(data))
        return;
    FIRSTFOLDERSECTOR record{sector, kFATNoFolderCluster, kFATNoFolderCluster};
    if (folder.GetVerdict() == CFATFolderAnalyser::kSubFolderFirstSector) {
        const uint64_t own = folder.GetCurDirCluster();
        const uint64_t parent = folder.GetParentDirCluster();
        // A "." below cluster 2 names no cluster of the data area; the
        // sector still counts as a directory sector.
        if (own >= 2 && own <= kLastLinkCluster) {
            AnalyzeFATSubFolderFirstSector(sector, static_cast<uint32_t>(own));
            record.cluster = static_cast<uint32_t>(own);
            // A folder claiming to be its own parent could hang nowhere.
            record.parentCluster = parent != own && parent <= kLastLinkCluster
                                       ? static_cast<uint32_t>(parent)
                                       : kFATNoFolderCluster;
        }
    }
    RecordFolderSector(record);
}

void CFATCompleteFSearcher::RecordFolderSector(const FIRSTFOLDERSECTOR& record) {
    // Blocks come in ascending order, so the list stays sorted by appending;
    // a caller going back is served by a sorted insert.
    if (m_folders.empty() || m_folders.back().sector < record.sector) {
        if (m_folders.size() >= kMaxFolderRecords) {
            if (!m_loggedFolderCap)
                CatchExeception::WriteLog(
                    "FAT deep search: more than %zu directory sectors, later ones ignored\n",
                    kMaxFolderRecords);
            m_loggedFolderCap = true;
            return;
        }
        m_folders.push_back(record);
        return;
    }
    const auto at =
        std::lower_bound(m_folders.begin(), m_folders.end(), record.sector,
                         [](const FIRSTFOLDERSECTOR& r, uint64_t s) { return r.sector < s; });
    if (at != m_folders.end() && at->sector == record.sector)
        return;
    if (m_folders.size() < kMaxFolderRecords)
        m_folders.insert(at, record);
}

bool CFATCompleteFSearcher::HasDirectorySectorIn(uint64_t from, uint64_t to) const {
    const auto at =
        std::lower_bound(m_folders.begin(), m_folders.end(), from,
                         [](const FIRSTFOLDERSECTOR& r, uint64_t s) { return r.sector < s; });
    return at != m_folders.end() && at->sector < to;
}

bool CFATCompleteFSearcher::InsertCandidate(CFATSearchedPartitionInfo* candidate) {
    if (m_candidates.size() >= kMaxCandidates) {
        if (!m_loggedCandidateCap)
            CatchExeception::WriteLog(
                "FAT deep search: more than %zu partition candidates, later ones dropped\n",
                kMaxCandidates);
        m_loggedCandidateCap = true;
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(candidate);
        return false;
    }
    m_candidates.insert(candidate);
    return true;
}

void CFATCompleteFSearcher::RegisterFATStarts(CFATSearchedPartitionInfo* candidate) {
    const uint64_t first =
        static_cast<uint64_t>(candidate->startSector) + candidate->GetReservedSector();
    m_fatStarts.insert({first, candidate});
    m_fatStarts.insert({first + candidate->GetSectorPerFAT(), candidate});
}

bool CFATCompleteFSearcher::AnalyzeFATDBRSector(uint64_t sector, const uint8_t* data) {
    const CTempFATDBR boot(data, m_sectorSize, m_sectorSize);
    if (!boot.IsValidDBR())
        return false;
    bool result = false;
    if (CFATSearchedPartitionInfo* primary =
            BuildPartitionInfoAccordingFATDBR(sector, boot, false)) {
        if (InsertCandidate(primary))
            RegisterFATStarts(primary);
        result = true;
    }
    if (boot.GetFileSystemType() == FILE_SYSTEM_FAT32 && sector >= kBackupBootOffset) {
        CFATSearchedPartitionInfo* backup =
            BuildPartitionInfoAccordingFATDBR(sector - kBackupBootOffset, boot, true);
        if (backup) {
            CFATSearchedPartitionInfo* known = FindMatchedPartitionInfo(
                static_cast<uint64_t>(backup->GetDataStartSector()), backup->sectorsPerCluster);
            if (known) {
                known->MergeFlag(kFATFlagFat32BackupBoot);
                CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(backup);
            } else if (InsertCandidate(backup)) {
                RegisterFATStarts(backup);
            }
            result = true;
        }
    }
    return result;
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::BuildPartitionInfoAccordingFATDBR(
    uint64_t start, const CTempFATDBR& boot, bool backup) const {
    const int type = boot.GetFileSystemType();
    if (type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32)
        return nullptr;
    uint64_t total = boot.GetTotalSectors();
    uint64_t end = 0;
    if (!vk::CheckedAdd(start, total, &end) || end > m_deviceSectors) {
        if (start >= m_deviceSectors)
            return nullptr;
        total = m_deviceSectors - start;
        end = m_deviceSectors;
    }
    const uint32_t spc = boot.GetSectorsperCluster();
    const uint64_t spf = boot.GetSectorsPerFat();
    if (spc == 0)
        return nullptr;
    uint64_t firstData = start + boot.GetReservedSector() + boot.GetNumberOfFat() * spf;
    uint64_t rootInfo = boot.GetRootDirStartCluster();
    if (type == FILE_SYSTEM_FAT16) {
        rootInfo = static_cast<uint64_t>(boot.GetRootEntries()) * 32 / m_sectorSize;
        firstData += rootInfo;
    }
    if (end <= firstData)
        return nullptr;
    const uint64_t clusters = (end - firstData) / spc;
    if (!InRange(type, clusters))
        return nullptr;
    if (spf < FatSectorsFor(type, clusters, m_sectorSize))
        return nullptr;
    if (type == FILE_SYSTEM_FAT32 && clusters < rootInfo)
        return nullptr;

    auto* record = CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(m_sectorSize);
    if (!record)
        return nullptr;
    record->SetDataStartSector(static_cast<long long>(firstData));
    record->sectorsPerCluster = spc;
    record->SetMatchedSubFolderCount(0);
    record->fileSystemType = type;
    record->SetTotalSectors(total);
    record->SetSectorPerFAT(static_cast<uint32_t>(spf));
    record->SetTotalCluster(static_cast<uint32_t>(clusters));
    record->SetStartSector(static_cast<long long>(start));
    record->SetReservedSector(static_cast<uint16_t>(boot.GetReservedSector()));
    record->SetRootInfo(static_cast<uint32_t>(rootInfo));
    if (type == FILE_SYSTEM_FAT32)
        record->MergeFlag(backup ? kFATFlagFat32BackupBoot : kFATFlagFat32Boot);
    else if (!backup)
        record->MergeFlag(kFATFlagFat16Boot);
    return record;
}

void CFATCompleteFSearcher::UpdateFATTableInfo(uint64_t sector) {
    const auto [from, to] = m_fatStarts.equal_range(FATTableInfo{sector, nullptr});
    for (auto it = from; it != to; ++it) {
        CFATSearchedPartitionInfo* c = it->partition;
        const uint64_t first = static_cast<uint64_t>(c->startSector) + c->GetReservedSector();
        if (sector == first)
            c->MergeFlag(kFATFlagFirstFat);
        else if (sector == first + c->GetSectorPerFAT())
            c->MergeFlag(kFATFlagSecondFat);
    }
    m_fatStarts.erase(from, to);
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::FindMatchedPartitionInfo(
    uint64_t firstDataSector, uint32_t sectorsPerCluster) const {
    CFATSearchedPartitionInfo key(m_sectorSize);
    key.SetDataStartSector(static_cast<long long>(firstDataSector));
    const auto [from, to] = m_candidates.equal_range(&key);
    for (auto it = from; it != to; ++it)
        if ((*it)->sectorsPerCluster == sectorsPerCluster)
            return *it;
    return nullptr;
}

bool CFATCompleteFSearcher::AnalyzeFATSubFolderFirstSector(uint64_t sector, uint32_t cluster) {
    if (cluster < 2)
        return false;
    uint32_t kept[std::size(FAT_SUPPORTED_SECTORS_PER_CLUSTER)] = {};
    size_t keptCount = 0;
    for (const uint32_t spc : FAT_SUPPORTED_SECTORS_PER_CLUSTER) {
        const uint64_t offset = static_cast<uint64_t>(cluster - 2) * spc;
        if (offset > sector)
            continue;
        kept[keptCount++] = spc;
        if (CFATSearchedPartitionInfo* match = FindMatchedPartitionInfo(sector - offset, spc)) {
            match->MergeFlag(kFATFlagSubFolder);
            match->SetMatchedSubFolderCount(match->GetMatchedSubFolderCount() + 1);
            return true;
        }
    }
    for (size_t i = 0; i < keptCount; ++i)
        if (CFATSearchedPartitionInfo* c =
                BuildPartitionInfoAccordingtoSubFolder(sector, cluster, kept[i]))
            InsertCandidate(c);
    return true;
}

bool CFATCompleteFSearcher::IsValidFileSystem(uint64_t firstDataSector, uint32_t sectorsPerCluster,
                                              int type, uint64_t& clusters,
                                              uint64_t& sectorsPerFat) const {
    if (sectorsPerCluster == 0 || m_deviceSectors <= firstDataSector)
        return false;
    clusters = (m_deviceSectors - firstDataSector) / sectorsPerCluster;
    if (!InRange(type, clusters))
        return false;
    sectorsPerFat = FatSectorsFor(type, clusters, m_sectorSize);
    if (firstDataSector / 2 >= sectorsPerFat)
        return true;
    // The data runs to the device's end only if two FATs that big fit in
    // front of it; otherwise the volume is as big as half the space in
    // front of the data can map.
    clusters = (firstDataSector / 2) * 2 * m_sectorSize / RangeOf(type).halfBytesPerEntry;
    if (!InRange(type, clusters))
        return false;
    sectorsPerFat = FatSectorsFor(type, clusters, m_sectorSize);
    return true;
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::BuildPartitionInfoAccordingtoSubFolder(
    uint64_t sector, uint32_t cluster, uint32_t sectorsPerCluster) const {
    if (cluster < 2 || sectorsPerCluster == 0)
        return nullptr;
    const uint64_t offset = static_cast<uint64_t>(cluster - 2) * sectorsPerCluster;
    if (offset > sector)
        return nullptr;
    const uint64_t firstData = sector - offset;
    uint64_t clusters = 0, spf = 0;
    int type = FILE_SYSTEM_UNKNOWN;
    // Directory sectors right in front of the data area are a FAT16 root:
    // a FAT32 volume has its FATs there. On a big disk the count of
    // clusters up to the disk's end would otherwise call a FAT16 volume
    // FAT32 and lose its root.
    const uint64_t window = kLostRootWindowBytes / m_sectorSize;
    const bool rootAreaInFront =
        HasDirectorySectorIn(firstData > window ? firstData - window : 0, firstData);
    if (rootAreaInFront) {
        if (IsValidFileSystem(firstData, sectorsPerCluster, FILE_SYSTEM_FAT16, clusters, spf)) {
            type = FILE_SYSTEM_FAT16;
        } else if (IsValidFileSystem(firstData, sectorsPerCluster, FILE_SYSTEM_FAT32, clusters,
                                     spf)) {
            // Room for more clusters than FAT16 can count: the volume ends
            // where its last FAT16 cluster does.
            type = FILE_SYSTEM_FAT16;
            clusters = RangeOf(FILE_SYSTEM_FAT16).upTo;
            spf = FatSectorsFor(FILE_SYSTEM_FAT16, clusters, m_sectorSize);
        }
    }
    if (type == FILE_SYSTEM_UNKNOWN) {
        if (IsValidFileSystem(firstData, sectorsPerCluster, FILE_SYSTEM_FAT32, clusters, spf))
            type = FILE_SYSTEM_FAT32;
        else if (IsValidFileSystem(firstData, sectorsPerCluster, FILE_SYSTEM_FAT16, clusters, spf))
            type = FILE_SYSTEM_FAT16;
        else
            return nullptr;
    }
    // One reserved sector and two FATs in front of the data (and a FAT16
    // root between them).
    if (2 * spf + 1 > firstData)
        return nullptr;
    uint64_t start = firstData - 2 * spf - 1;
    uint64_t rootSectors = 0;
    if (type == FILE_SYSTEM_FAT16) {
        rootSectors = std::min<uint64_t>(start, kAssumedRootBytes / m_sectorSize);
        start -= rootSectors;
    }
    auto* record = CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(m_sectorSize);
    if (!record)
        return nullptr;
    record->SetDataStartSector(static_cast<long long>(firstData));
    record->sectorsPerCluster = sectorsPerCluster;
    record->SetMatchedSubFolderCount(0);
    record->fileSystemType = type;
    record->SetTotalSectors(clusters * sectorsPerCluster + rootSectors + 2 * spf + 1);
    record->SetSectorPerFAT(static_cast<uint32_t>(spf));
    record->SetTotalCluster(static_cast<uint32_t>(clusters));
    record->SetStartSector(static_cast<long long>(start));
    record->SetReservedSector(1);
    record->SetRootInfo(type == FILE_SYSTEM_FAT32 ? 2 : static_cast<uint32_t>(rootSectors));
    record->MergeFlag(kFATFlagSubFolder);
    return record;
}

// ---------------------------------------------------------------------------
// Winnowing, scoring and the trees

void CFATCompleteFSearcher::AddSearchedPartitionInfoList2(
    std::vector<CFATSearchedPartitionInfo*>& list) {
    for (CFATSearchedPartitionInfo* c : m_candidates) {
        const uint32_t flag = c->GetFlag();
        const bool boot = (flag & 0xF) != 0;
        const bool folders = c->GetMatchedSubFolderCount() > 0;
        const bool fatSeen = (flag & 0x140) != 0;
        if (!(folders || (boot && fatSeen))) {
            CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(c);
            continue;
        }
        const long long fatPart =
            ((flag & 0x40) && (flag & 0x100)) ? 50 : ((flag & 0x140) ? 45 : 10);
        long long bootPart = 10;
        if (c->fileSystemType == FILE_SYSTEM_FAT32)
            bootPart = ((flag & 0x4) && (flag & 0x8)) ? 50 : ((flag & 0xC) ? 45 : 10);
        else
            bootPart = (flag & 0x3) ? 50 : 10;
        c->SetScore(fatPart + bootPart);
        c->partitionIndex = static_cast<int16_t>(list.size());
        list.push_back(c);
    }
    m_fatStarts.clear();
    m_candidates.clear();
}

VKRESULT CFATCompleteFSearcher::CompleteBulidDirectoryTree(CFATSearchedPartitionInfo* p) {
    const uint64_t start = static_cast<uint64_t>(p->startSector);
    const uint64_t fatStart = start + p->GetReservedSector();
    const uint32_t flag = p->GetFlag();
    CDoubleFATTable* fat = IFATTableFactory::CreateFATTable(
        m_device, fatStart, p->fileSystemType, p->GetSectorPerFAT(), flag & 0x80, flag & 0x200);
    if (!fat) {
        CatchExeception::WriteLog("FAT deep search: no FAT table for the partition at %llu\n",
                                  static_cast<unsigned long long>(start));
        return VK_ERROR(kModuleFATSearch, kErrNoInformation);
    }
    if (!fat->HasCopy())
        CatchExeception::WriteLog(
            "FAT deep search: partition at %llu has no readable FAT; files taken as contiguous\n",
            static_cast<unsigned long long>(start));
    const bool boot = (flag & 0xF) != 0;
    FATBuildGeometry g;
    g.fileSystemType = p->fileSystemType;
    g.startSector = start;
    g.sectorsPerCluster = p->sectorsPerCluster;
    g.bootSectorKnown = boot ? 1 : 0;
    g.firstDataSector = static_cast<uint64_t>(p->GetDataStartSector());
    g.totalSectors = p->GetTotalSectors();
    if (boot) {
        if (p->fileSystemType == FILE_SYSTEM_FAT32) {
            g.rootCluster = p->GetRootInfo();
        } else {
            g.rootDirSector = fatStart + 2ULL * p->GetSectorPerFAT();
            g.rootDirSectors = p->GetRootInfo();
        }
    } else {
        g.rootDirSector = 0xFFFFFFFF;
    }
    {
        CFATBuildWorker worker(m_builder, nullptr, p, m_device, g, fat);
        worker.SetFileSectorMap(m_fileSectorMap);
        worker.CompleteBuildDirectoryTree(RecordsFor(p));
    }
    IFATTableFactory::DestroyFATTable(fat);
    return VK_OK;
}

const CDoubleFATTable* CFATCompleteFSearcher::KeptFat(const CFATSearchedPartitionInfo* p) {
    for (const auto& [partition, fat] : m_keptFats)
        if (partition == p)
            return fat;
    CDoubleFATTable* fat = IFATTableFactory::CreateFATTable(
        m_device, static_cast<uint64_t>(p->startSector) + p->GetReservedSector(), p->fileSystemType,
        p->GetSectorPerFAT(), p->GetFlag() & 0x80, p->GetFlag() & 0x200);
    m_keptFats.emplace_back(p, fat);
    return fat;
}

bool CFATCompleteFSearcher::OwnsSector(const CFATSearchedPartitionInfo* p, uint64_t sector) {
    const uint64_t start = static_cast<uint64_t>(p->startSector);
    const uint64_t data = static_cast<uint64_t>(p->GetDataStartSector());
    uint64_t end = 0;
    if (!vk::CheckedAdd(start, static_cast<uint64_t>(p->GetTotalSectors()), &end))
        end = UINT64_MAX;
    if (sector < start || sector >= end)
        return false;
    if (sector < data)
        return true;  // its boot sector, FATs and root directory
    if (p->sectorsPerCluster == 0)
        return false;
    const uint64_t cluster = (sector - data) / p->sectorsPerCluster + 2;
    const CDoubleFATTable* fat = KeptFat(p);
    // Without a FAT every cluster may be in use.
    if (!fat || !fat->HasCopy())
        return true;
    return cluster <= kLastLinkCluster && fat->GetNextCluster(static_cast<uint32_t>(cluster)) != 0;
}

FATFolderSectorList CFATCompleteFSearcher::RecordsFor(const CFATSearchedPartitionInfo* p) {
    std::vector<const CFATSearchedPartitionInfo*> stronger;
    for (const CFATSearchedPartitionInfo* q : m_partitions)
        if (q != p && q->GetScore() > p->GetScore())
            stronger.push_back(q);
    if (stronger.empty())
        return m_folders;
    FATFolderSectorList records;
    records.reserve(m_folders.size());
    for (const FIRSTFOLDERSECTOR& r : m_folders) {
        bool owned = false;
        for (const CFATSearchedPartitionInfo* q : stronger)
            if ((owned = OwnsSector(q, r.sector)))
                break;
        if (!owned)
            records.push_back(r);
    }
    return records;
}

void CFATCompleteFSearcher::EndSearch(int build) {
    if (!build)
        return;
    AddSearchedPartitionInfoList2(m_partitions);
    if (m_partitions.empty() || !m_builder || !m_device)
        return;
    m_builder->AddSearcherInfo(SEARCHER_FAT, 0);
    // Each volume found gets its own folder in the tree, named before any
    // of its files arrive.
    for (CFATSearchedPartitionInfo* p : m_partitions) {
        const std::string label = BootLabel(m_device, *p);
        const long long offset = p->startSector * static_cast<long long>(m_device->GetSectorSize());
        m_builder->AddVolume(SEARCHER_FAT, static_cast<unsigned short>(p->partitionIndex),
                             label.c_str(),
                             p->fileSystemType == FILE_SYSTEM_FAT32 ? "FAT32" : "FAT16", offset);
    }
    for (CFATSearchedPartitionInfo* p : m_partitions)
        CompleteBulidDirectoryTree(p);
    for (const auto& [partition, fat] : m_keptFats)
        IFATTableFactory::DestroyFATTable(fat);
    m_keptFats.clear();
    m_builder->SetPartitonDevice(nullptr, m_device);
    m_builder->FlashBuild(SEARCHER_FAT);
}
