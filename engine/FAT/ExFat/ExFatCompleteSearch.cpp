#include "ExFatCompleteSearch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "ExFatDBR.h"
#include "ExFatFileNode.h"
#include "ExFatLayout.h"
#include "IStorageDevice.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"

namespace {

// Reads of a block the cache does not hold go in pieces of this size, and
// sector by sector where a piece fails.
constexpr uint64_t kPieceBytes = 1 << 20;
// How far ahead of the sector looked at its successors' first bytes are
// fetched.
constexpr uint64_t kPrefetchSectors = 16;

// An up-case table begins by mapping the first code points to themselves.
constexpr uint8_t kUpcaseStart[16] = {0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0};
// The first two entries of an exFAT FAT: the media descriptor and the end mark.
constexpr uint8_t kFatStart[8] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Leading bytes that can begin a directory sector.
constexpr std::array<bool, 256> MakeEntryTypes() {
    std::array<bool, 256> t{};
    for (uint8_t type : {0x85, 0xC0, 0xC1, 0xE0, 0xE1, 0x83, 0xA0, 0xA1, 0xA2}) {
        t[type] = true;
        t[type & 0x7F] = true;
    }
    t[0x81] = t[0x82] = true;
    return t;
}
constexpr std::array<bool, 256> kEntryTypes = MakeEntryTypes();

}  // namespace

ICompleteFileSystemSearchController* CreateEXFatSearcher() {
    return new (std::nothrow) CExFatCompleteSearch();
}

void CExFatCompleteSearch::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_sectorSize = 512;
    m_sectorSizeUsable = true;
    m_totalSectors = 0;
    m_prepared = false;
    if (!device)
        return;
    const int size = device->GetSectorSize();
    // exFAT sectors are 512 to 4096 bytes; a device (or an image record)
    // that claims anything else is not searched.
    if (size < 512 || size > 4096 || (size & (size - 1)) != 0) {
        CatchExeception::WriteLog("exFAT deep search: device sector size %d refused\n", size);
        m_sectorSizeUsable = false;
        return;
    }
    m_sectorSize = static_cast<uint32_t>(size);
    const long long total = device->GetTotalSectors();
    m_totalSectors = total > 0 ? static_cast<uint64_t>(total) : 0;
}

void CExFatCompleteSearch::PreparetoSearch() {
    m_partitions.clear();
    m_partitionBuilder.Clear();
    m_preAnalyzer.FinisAnayze();
    m_carryCount = 0;
    m_prepared = false;
}

bool CExFatCompleteSearch::PrepareAnalyzeBlock() {
    if (!m_device || !m_builder || m_blockSectors <= 0 || !m_sectorSizeUsable)
        return false;
    if (m_prepared)
        return true;
    m_preAnalyzer.PrepareAnayze(m_sectorSize, exfat::boot::kMaxClusterShift, m_totalSectors);
    m_partitionBuilder.PrepareBuild(m_sectorSize, m_totalSectors);
    m_carry.assign(static_cast<size_t>(kCarrySectors) * m_sectorSize, 0);
    m_seam.assign(static_cast<size_t>(2 * kCarrySectors) * m_sectorSize, 0);
    m_carryCount = 0;
    m_prepared = true;
    return true;
}

const uint8_t* CExFatCompleteSearch::ReadBlock(uint64_t first, uint64_t count) {
    const size_t bytes = static_cast<size_t>(count) * m_sectorSize;
    if (m_block.size() < bytes)
        m_block.resize(bytes);
    if (m_device->ReadSector(m_block.data(), static_cast<long long>(first),
                             static_cast<long long>(count)))
        return m_block.data();
    // One bad sector must not hide its readable neighbours; what cannot be
    // read is zeros, which no structure is.
    const uint64_t piece = std::max<uint64_t>(1, kPieceBytes / m_sectorSize);
    for (uint64_t done = 0; done < count; done += piece) {
        const uint64_t n = std::min(piece, count - done);
        uint8_t* at = m_block.data() + done * m_sectorSize;
        if (m_device->ReadSector(at, static_cast<long long>(first + done),
                                 static_cast<long long>(n)))
            continue;
        for (uint64_t i = 0; i < n; ++i) {
            uint8_t* sector = at + i * m_sectorSize;
            if (!m_device->ReadSector(sector, static_cast<long long>(first + done + i), 1))
                std::memset(sector, 0, m_sectorSize);
        }
    }
    return m_block.data();
}

void CExFatCompleteSearch::AnalyzeBlock(long long firstSector, long long sectorCount) {
    if (!PrepareAnalyzeBlock() || firstSector < 0 || sectorCount <= 0)
        return;
    const uint64_t first = static_cast<uint64_t>(firstSector);
    if (first >= m_totalSectors)
        return;
    const uint64_t count =
        std::min<uint64_t>(static_cast<uint64_t>(sectorCount), m_totalSectors - first);
    const size_t ss = m_sectorSize;

    // The read-ahead cache lends its block; anything else is read here.
    const uint8_t* block = nullptr;
    if (auto* cache = dynamic_cast<IDeviceCache*>(m_device)) {
        long long heldFirst = 0, heldCount = 0;
        const uint8_t* held = cache->PeekCurrentBlock(&heldFirst, &heldCount);
        if (held && firstSector >= heldFirst &&
            firstSector + static_cast<long long>(count) <= heldFirst + heldCount)
            block = held + static_cast<size_t>(firstSector - heldFirst) * ss;
    }
    if (!block)
        block = ReadBlock(first, count);

    // Sectors carried from a block that this one does not follow have no
    // neighbours here.
    if (m_carryCount != 0 && m_carryFirst + m_carryCount != first)
        FlushCarry();

    // The seam: the carried sectors and this block's first two.
    const uint64_t head = std::min<uint64_t>(count, kCarrySectors);
    const uint64_t seamCount = m_carryCount + head;
    if (m_carryCount != 0) {
        std::memcpy(m_seam.data(), m_carry.data(), m_carryCount * ss);
        std::memcpy(m_seam.data() + m_carryCount * ss, block, head * ss);
        for (uint64_t j = 0; j + kCarrySectors < seamCount; ++j)
            AnalyzeSector(m_carryFirst + j, m_seam.data() + j * ss, (seamCount - j - 1) * ss);
    }
    // The block in place. Each sector's first bytes are asked for well
    // before they are looked at: the block was read into memory a while ago
    // and is mostly out of the processor's caches, so looking at sector
    // after sector would otherwise wait on memory for every one.
    for (uint64_t i = 0; i + kCarrySectors < count; ++i) {
        if (i + kPrefetchSectors < count)
            __builtin_prefetch(block + (i + kPrefetchSectors) * ss);
        AnalyzeSector(first + i, block + i * ss, kCarrySectors * ss);
    }

    // What has not two sectors after it yet waits for the next block.
    if (count >= kCarrySectors) {
        std::memcpy(m_carry.data(), block + (count - kCarrySectors) * ss, kCarrySectors * ss);
        m_carryCount = kCarrySectors;
        m_carryFirst = first + count - kCarrySectors;
    } else {
        const uint64_t keep = std::min<uint64_t>(seamCount, kCarrySectors);
        const uint8_t* from = m_carryCount != 0 ? m_seam.data() + (seamCount - keep) * ss
                                                : block + (count - keep) * ss;
        std::memmove(m_carry.data(), from, keep * ss);
        m_carryFirst = first + count - keep;
        m_carryCount = static_cast<uint32_t>(keep);
    }
}

void CExFatCompleteSearch::FlushCarry() {
    if (m_carryCount == 0)
        return;
    const size_t ss = m_sectorSize;
    std::fill(m_seam.begin(), m_seam.end(), 0);
    std::memcpy(m_seam.data(), m_carry.data(), m_carryCount * ss);
    for (uint32_t j = 0; j < m_carryCount; ++j)
        AnalyzeSector(m_carryFirst + j, m_seam.data() + j * ss, (kCarrySectors * 2 - j - 1) * ss);
    m_carryCount = 0;
}

void CExFatCompleteSearch::AnalyzeSector(uint64_t sector, const uint8_t* p, size_t after) {
    // Most sectors are file data or zeros: each kind is told by the
    // sector's first bytes, so that only what may be a structure is read on.
    const uint8_t first = p[0];
    if (first == 0) {
        if (p[2] == 1 && std::memcmp(p, kUpcaseStart, sizeof(kUpcaseStart)) == 0)
            m_partitionBuilder.RecordUpCaseTable(sector);
        // A directory sector whose first entries were zeroed still holds
        // the sets after them.
        if (exfat::FileEntryAfterZeros(p, 0, m_sectorSize) == exfat::kNoEntry ||
            m_preAnalyzer.Analyze(sector, p, after))
            GetFileSet();
    } else if (std::memcmp(p + exfat::boot::kFileSystemName, "EXFAT   ", 8) == 0) {
        if (p[510] == 0x55 && p[511] == 0xAA) {
            const CExFatDBR boot(p, m_sectorSize);
            if (boot.IsValid(m_sectorSize))
                m_partitionBuilder.Build(sector, boot);
        }
        GetFileSet();
    } else if (first == 0xF8 && std::memcmp(p, kFatStart, sizeof(kFatStart)) == 0) {
        m_partitionBuilder.RecordFAT(sector);
        GetFileSet();
    } else if (kEntryTypes[first]) {
        if (m_preAnalyzer.Analyze(sector, p, after))
            GetFileSet();
    } else {
        // No directory sector: the run before it ends here.
        GetFileSet();
    }
    m_partitionBuilder.Build(sector);
}

void CExFatCompleteSearch::TakeFileSet() {
    std::unique_ptr<CFileSet> set = m_preAnalyzer.GetFileSet();
    if (!set)
        return;
    const uint64_t first = set->firstSector;
    const int64_t previous = set->IsAbridged() ? m_preAnalyzer.GetLast(first) : -1;
    const int64_t next = (set->flags & kFileSetNotEnded) ? m_preAnalyzer.GetNext(first) : -1;
    m_partitionBuilder.PushFileSet(std::move(set), previous, next);
}

void CExFatCompleteSearch::LoadFat(CExFatPartitionEx& p) {
    CFatTable& fat = p.GetFatTable();
    fat.ClearFatData();
    if (p.FromBootSector()) {
        // Only a FAT whose first sector was seen where the boot sector puts it.
        const bool first = (p.evidence & kExFatFirstFat) != 0;
        const bool second = p.numberOfFats == 2 && (p.evidence & kExFatSecondFat) != 0;
        if (!first && !second)
            return;
        const bool useSecond = second && (p.secondFatActive || !first);
        const uint64_t start =
            p.GetStartSector() + p.fatOffset + (useSecond ? uint64_t{p.fatLength} : 0);
        fat.CreateFatTable(m_device, static_cast<long long>(start), p.fatLength,
                           p.GetTotalClusters());
        return;
    }
    // A volume rebuilt without its boot sector: the FAT whose first sector
    // lies nearest in front of the heap, when it leads the root folder on.
    const int64_t start = m_partitionBuilder.GuessFatStart(p);
    if (start < 0)
        return;
    const uint64_t length = p.GetDataRegionStartSector() - static_cast<uint64_t>(start);
    const uint64_t needed =
        (static_cast<uint64_t>(p.GetTotalClusters()) + 2) * 4 / m_sectorSize + 1;
    fat.CreateFatTable(m_device, start, static_cast<uint32_t>(std::min<uint64_t>(length, needed)),
                       p.GetTotalClusters());
    const uint32_t root = p.GetRootDirCluster();
    if (fat.IsValid() && p.IsHeapCluster(root)) {
        const uint32_t entry = fat.GetNextCluster(root);
        if (entry == exfat::kFreeCluster || (entry < exfat::kBadCluster && !p.IsHeapCluster(entry)))
            fat.ClearFatData();
    }
    if (fat.IsValid())
        CatchExeception::WriteLog(
            "exFAT deep search: volume at heap %llu takes the FAT at sector %lld\n",
            static_cast<unsigned long long>(p.GetDataRegionStartSector()),
            static_cast<long long>(start));
}

void CExFatCompleteSearch::FinishWalk() {
    if (!m_prepared)
        return;
    FlushCarry();
    GetFileSet();
    m_preAnalyzer.FinisAnayze();
}

void CExFatCompleteSearch::EndSearch(int build) {
    if (!build || !m_prepared)
        return;
    FinishWalk();
    m_partitions.clear();
    m_partitionBuilder.FinishBuid(m_partitions);
    if (!m_partitions.empty() && m_builder && m_device) {
        m_builder->AddSearcherInfo(SEARCHER_EXFAT, -1);
        // Each volume found gets its own folder in the tree, named by the
        // label its root directory holds, before any of its files arrive.
        for (size_t i = 0; i < m_partitions.size(); ++i) {
            const CExFatPartitionEx& p = *m_partitions[i];
            std::string label;
            for (const auto& [sector, match] : p.matches) {
                if (match.set && match.set->IsRoot() && !match.set->label.empty()) {
                    label = match.set->label;
                    break;
                }
            }
            const long long offset =
                static_cast<long long>(p.GetStartSector()) * m_device->GetSectorSize();
            m_builder->AddVolume(SEARCHER_EXFAT, static_cast<unsigned short>(i), label.c_str(),
                                 "exFAT", offset);
        }
        for (size_t i = 0; i < m_partitions.size(); ++i) {
            CExFatPartitionEx& p = *m_partitions[i];
            LoadFat(p);
            m_partitionBuilder.BuildFileTree(p, [&](CExFatFileNode* node) {
                node->SetBelongedPartition(static_cast<uint16_t>(i));
                if (!m_builder->AddNode(node, SEARCHER_EXFAT))
                    node->Release();
            });
            p.ClearFatData();
            // The runs go with the builder's state below.
            p.matches.clear();
        }
        m_builder->SetPartitonDevice(nullptr, m_device);
        m_builder->FlashBuild(SEARCHER_EXFAT);
    }
    for (auto& p : m_partitions)
        p->matches.clear();
    m_partitionBuilder.Clear();
    m_prepared = false;
}

int CExFatCompleteSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return AnswerSearchedPartitionQuery(
        static_cast<int>(m_partitions.size()), out, capacity,
        [this](int i) -> CSearchedPartitionInfo* {
            const CExFatPartitionEx& p = *m_partitions[static_cast<size_t>(i)];
            auto* record = new (std::nothrow) CSearchedPartitionInfo(p.GetSectorSize());
            if (!record)
                return nullptr;
            record->runOriginSector = static_cast<long long>(p.GetDataRegionStartSector());
            record->startSector = static_cast<long long>(p.GetStartSector());
            record->totalSectors = static_cast<long long>(p.GetTotalSectors());
            record->fileSystemType = 7;
            record->sectorsPerCluster = p.GetSectorsPerCluster();
            record->partitionIndex = static_cast<int16_t>(i);
            record->fsValue = p.evidence;
            return record;
        });
}
