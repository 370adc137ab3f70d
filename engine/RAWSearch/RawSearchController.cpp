#include "RawSearchController.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "ByteReader.h"
#include "IRecoveryFilter.h"
#include "IStorageDevice.h"
#include "NotifyCenter.h"
#include "RawFileAnalyserList.h"
#include "RawFileManager.h"
#include "RawFileNode.h"
#include "SearchedPartitionInfo.h"
#include "SectorSize.h"
#include "TBitmap.h"
#include "Utility/CatchExeception.h"

namespace {

constexpr long long kPollSectors = 256;
constexpr int kPrefetchSectors = 4;

// Zero bytes at the end of the sector, in whole 32-bit words, at most 32.
int32_t ZeroTail(const uint8_t* sector, int sectorSize) {
    int32_t zeros = 0;
    for (int end = sectorSize; end >= 4 && zeros < CRawFileInfo::kMaxZeroTail; end -= 4) {
        if (vk::LoadLE<uint32_t>(sector + end - 4) != 0)
            break;
        zeros += 4;
    }
    return zeros;
}

}  // namespace

ICompleteFileSystemSearchController* CreateRAWSearcher() {
    return new CRAWSearchController();
}

CRAWSearchController::~CRAWSearchController() {
    // Candidates before the managers and the registry's analysers they point at.
    m_open.clear();
    m_kept.clear();
    m_pending.clear();
    m_managers.clear();
    // A stopped scan never ends the search: its progress sink must not
    // outlive the scan in the process-wide holder.
    if (m_ownsNotify)
        CNotifyCenter::Instance().Reset();
}

int CRAWSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    const int size = m_device != nullptr ? m_device->GetSectorSize() : 0;
    const unsigned sectorSize = size > 0 ? static_cast<unsigned>(size) : 512;
    return AnswerSearchedPartitionQuery(1, out, capacity, [sectorSize](int) {
        auto* record = new CSearchedPartitionInfo(sectorSize);
        record->sectorsPerCluster = 1;
        record->startSector = 0;
        record->position2 = 0;
        record->score = 1.0;
        return record;
    });
}

void CRAWSearchController::SetDevice(IStorageDevice* device) {
    if (device == nullptr) {
        CatchExeception::WriteLog("CRAWSearchController::SetDevice: no device\n");
        return;
    }
    m_device = device;
}

void CRAWSearchController::SetBlockSize(int sectorsPerBlock) {
    if (sectorsPerBlock <= 0) {
        CatchExeception::WriteLog("CRAWSearchController::SetBlockSize: %d sectors\n",
                                  sectorsPerBlock);
        return;
    }
    m_sectorsPerBlock = static_cast<unsigned>(sectorsPerBlock);
}

void CRAWSearchController::SetIProgressSink(IProgress* progress) {
    CNotifyCenter::Instance().SetProgress(progress);
    m_ownsNotify = progress != nullptr;
}

void CRAWSearchController::PreparetoSearch() {
    m_prepared = false;
    m_open.clear();
    m_kept.clear();
    m_pending.clear();
    if (m_builder != nullptr)
        CRawFileAnalyserListSingle::CreateInstance().ReinitAnalyzeList(nullptr);
    CRAWFileManager::ResetFolderIds();
    m_sectorSize = static_cast<int>(vk::NormaliseSectorSize(
        m_device != nullptr ? static_cast<uint64_t>(std::max(0, m_device->GetSectorSize())) : 0));
    ResetRawFileNameCounters();
    if (m_builder != nullptr) {
        m_builder->AddSearcherInfo(SEARCHER_RAW, 1);
        m_builder->AddSearcherInfo(SEARCHER_RAW_LABEL, 1000);
    }
    m_havePrevious = false;
    m_blockBytes = 0;
    if (m_device == nullptr || m_sectorsPerBlock == 0)
        return;
    const uint64_t blockBytes =
        static_cast<uint64_t>(m_sectorsPerBlock) * static_cast<uint64_t>(m_sectorSize);
    if (blockBytes > (1ULL << 30)) {
        CatchExeception::WriteLog("CRAWSearchController: blocks of %llu bytes refused\n",
                                  static_cast<unsigned long long>(blockBytes));
        return;
    }
    // Blocks are read into the ring itself, next to the block before them.
    if (!m_ring.InitBufferDevice(m_device, 0, static_cast<unsigned>(m_sectorSize),
                                 m_sectorsPerBlock, kRingBlocks,
                                 CRawFileInfo::kContextSlackBytes)) {
        CatchExeception::WriteLog(
            "CRAWSearchController: no memory for the ring of recent blocks\n");
        return;
    }
    m_blockBytes = static_cast<size_t>(blockBytes);
    m_prepared = true;
}

bool CRAWSearchController::ReadBlock(uint8_t* into, long long first, long long count) {
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(m_sectorSize);
    if (m_device->ReadSector(into, first, count) != 0)
        return true;
    // Bad sectors are the normal case on the media this runs on: keep every
    // piece that still reads, let the rest read as zeros, so that sector
    // numbers stay where they are for the ring and the open candidates.
    std::memset(into, 0, bytes);
    long long lost = 0;
    for (long long done = 0; done < count; done += kSalvageSectors) {
        const long long n = std::min(kSalvageSectors, count - done);
        uint8_t* piece = into + static_cast<size_t>(done) * static_cast<size_t>(m_sectorSize);
        if (m_device->ReadSector(piece, first + done, n) == 0) {
            std::memset(piece, 0, static_cast<size_t>(n) * static_cast<size_t>(m_sectorSize));
            lost += n;
        }
    }
    CatchExeception::WriteLog(
        "CRAWSearchController: %lld of %lld sectors from %lld unreadable, read as zeros\n", lost,
        count, first);
    return false;
}

void CRAWSearchController::AnalyzeBlock(long long first, long long count) {
    CRawFileAnalyserListSingle& registry = CRawFileAnalyserListSingle::CreateInstance();
    if (registry.IsEmpty(0) || !m_prepared || first < 0 || count <= 0)
        return;
    if (count > static_cast<long long>(m_sectorsPerBlock)) {
        CatchExeception::WriteLog("CRAWSearchController: block of %lld sectors cut to %u\n", count,
                                  m_sectorsPerBlock);
        count = m_sectorsPerBlock;
    }
    const bool useBitmap = m_bitmap != nullptr && m_bitmap->GetBitmapData() != nullptr &&
                           m_bitmap->GetBitmapSize() != 0;
    const long long unit = useBitmap ? std::max<long long>(1, m_bitmap->GetUnitSize()) : 1;

    // The ring places the block right after the block just before it, or
    // after zeros, and zeros after it.
    const bool previous = m_havePrevious && first > 0 &&
                          m_previousFirst + static_cast<long long>(m_sectorsPerBlock) == first;
    uint8_t* upper = m_ring.PlaceBlock(static_cast<unsigned long long>(first));
    if (upper == nullptr)
        return;
    ReadBlock(upper, first, count);
    const size_t held = static_cast<size_t>(count) * static_cast<size_t>(m_sectorSize);
    if (held < m_blockBytes)
        std::memset(upper + held, 0, m_blockBytes - held);

    const long long windowFirst = previous ? first - m_sectorsPerBlock : first;
    CNotifyCenter& notify = CNotifyCenter::Instance();
    for (long long i = 0; i < count;) {
        const long long s = first + i;
        if (useBitmap && m_bitmap->GetBit(s / unit) != 0) {
            i += s % unit == 0 ? unit : 1;
            continue;
        }
        if (i % kPollSectors == 0 && notify.isContinue() == 0)
            break;
        unsigned char* sector = upper + static_cast<size_t>(i) * static_cast<size_t>(m_sectorSize);
        // Every sector's first and last bytes are tested; fetching them a few
        // sectors ahead keeps the walk from waiting on memory at each one
        // (a fetch past the end of the memory is harmless).
        const unsigned char* ahead = sector + kPrefetchSectors * m_sectorSize;
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + m_sectorSize - 4);
        CRawFileInfo::SearchContext context;
        context.windowFirstSector = windowFirst;
        context.windowEndSector = first + count;
        context.flags = vk::LoadLE<uint32_t>(sector) == 0 ? CRawFileInfo::kContextZeroWord : 0;
        context.zeroTail = ZeroTail(sector, m_sectorSize);

        CRawFileInfo scratch;
        scratch.m_startSector = s;
        CRawFileInfo* found = nullptr;
        if (IRawFileAnalyser* analyser =
                registry.Lookup(0, sector, scratch, m_sectorSize, s, context)) {
            Owned candidate(analyser->CreateRawFileInfo());
            if (candidate) {
                candidate->m_type = scratch.m_type;
                candidate->m_size = scratch.m_size;
                candidate->m_startSector = s;
                candidate->m_analyser = analyser;
                if (m_sectorMap != nullptr)
                    m_sectorMap->emplace(static_cast<unsigned long long>(s),
                                         static_cast<unsigned>(candidate->m_type));
                if (candidate->m_size != 0 && RawFileTypeHasManager(candidate->m_type)) {
                    GiveToManager(*candidate);
                } else {
                    found = candidate.get();
                    Place(std::move(candidate), sector, s);
                }
            }
        }
        // Files that are still streaming need this sector even when another
        // file was recognised at it: the sector may be part of theirs.
        Stream(sector, s, context, found);
        ++i;
    }

    m_havePrevious = true;
    m_previousFirst = first;
    if (m_ring.IsFullBuffer())
        SizePendingFromRing();
    m_ring.AddPlacedBlock(static_cast<unsigned long long>(first));
}

void CRAWSearchController::Place(Owned candidate, unsigned char* sector, long long sectorNumber) {
    const bool streaming = candidate->WhetherImplementGuess();
    if (streaming && candidate->m_size == 0) {
        if (m_open.size() >= kMaxOpen) {
            // The oldest gives way; it stays kept and is sized whole later.
            m_open.front().info->WillBeRemove(sector, sectorNumber);
            m_open.erase(m_open.begin());
        }
        CRawFileInfo* info = candidate.get();
        m_kept.push_back(std::move(candidate));
        m_open.push_back({info, std::prev(m_kept.end())});
    } else if (candidate->m_size != 0) {
        m_kept.push_back(std::move(candidate));
    } else {
        m_pending.push_back(std::move(candidate));
    }
}

void CRAWSearchController::Stream(unsigned char* sector, long long sectorNumber,
                                  CRawFileInfo::SearchContext& context, CRawFileInfo* found) {
    for (size_t k = 0; k < m_open.size();) {
        OpenEntry entry = m_open[k];
        CRawFileInfo* info = entry.info;
        context.other = found == info ? nullptr : found;
        if (info->CalcRawSize(sector, m_sectorSize, sectorNumber, context) != 1) {
            ++k;
            continue;
        }
        if (info == found)
            found = nullptr;  // it may be destroyed below; others must not see it
        if (info->m_size != 0 && RawFileTypeHasManager(info->m_type)) {
            GiveToManager(*info);
            m_kept.erase(entry.kept);
        } else if (info->m_size == 0 && info->m_analyser != nullptr) {
            info->WillBeRemove(sector, sectorNumber);
            m_pending.push_back(std::move(*entry.kept));
            m_kept.erase(entry.kept);
        }
        m_open.erase(m_open.begin() + static_cast<long>(k));
    }
    context.other = nullptr;
}

void CRAWSearchController::SizePendingFromRing() {
    CNotifyCenter& notify = CNotifyCenter::Instance();
    const unsigned long long oldestEnd = m_ring.GetDeviceStartSector() + m_sectorsPerBlock - 1;
    while (!m_pending.empty()) {
        if (notify.isContinue() == 0)
            return;
        CRawFileInfo& candidate = *m_pending.front();
        if (candidate.m_startSector >= 0 &&
            static_cast<unsigned long long>(candidate.m_startSector) > oldestEnd)
            return;
        if (candidate.m_analyser != nullptr &&
            candidate.m_analyser->GetRawFileSize(candidate, &m_ring) != 0 && candidate.m_size > 0) {
            GiveToManager(candidate);
        }
        m_pending.pop_front();
    }
}

CRAWFileManager* CRAWSearchController::ManagerFor(RAW_FILE_TYPE type) {
    const char* name = RawFileTypeName(type);
    if (name == nullptr)
        return nullptr;
    std::string ext = name;
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const int category = GetExtensionFileTypeID(ext.c_str());
    auto it = m_managers.find(category);
    if (it == m_managers.end()) {
        it =
            m_managers
                .emplace(category, std::make_unique<CRAWFileManager>(
                                       1, category, m_builder, static_cast<unsigned>(m_sectorSize)))
                .first;
    }
    return it->second.get();
}

bool CRAWSearchController::GiveToManager(CRawFileInfo& candidate) {
    if (candidate.m_size <= 0 || candidate.m_startSector < 0)
        return false;
    // A size read from a damaged header may run past the device: what lies
    // beyond its end cannot be recovered, so the file stops there.
    const long long total = m_device != nullptr ? m_device->GetTotalSectors() : 0;
    if (total > 0) {
        if (candidate.m_startSector >= total)
            return false;
        const long long room =
            (total - candidate.m_startSector) * static_cast<long long>(m_sectorSize);
        if (candidate.m_size > room)
            candidate.m_size = room;
    }
    CRAWFileManager* manager = ManagerFor(candidate.m_type);
    if (manager == nullptr)
        return false;
    manager->AddRawFileInfo(&candidate);
    return true;
}

void CRAWSearchController::EndSearch(int build) {
    if (build == 0)
        return;
    for (OpenEntry& entry : m_open)
        entry.info->WillBeRemove(nullptr, -1);
    m_open.clear();
    while (!m_pending.empty()) {
        m_kept.push_back(std::move(m_pending.front()));
        m_pending.pop_front();
    }
    std::printf("--------------%s:%d:list size = %d--------\n", "EndSearch", 401,
                static_cast<int>(m_kept.size()));
    CNotifyCenter& notify = CNotifyCenter::Instance();
    while (!m_kept.empty() && notify.isContinue() != 0) {
        CRawFileInfo& candidate = *m_kept.front();
        // A size a candidate fixed when it was evicted or cut off counts; a
        // running length does not.
        if (candidate.m_size != 0 && !candidate.IsSizeFinal())
            candidate.m_size = 0;
        if (candidate.m_size != 0) {
            if (RawFileTypeHasManager(candidate.m_type))
                GiveToManager(candidate);
        } else if (candidate.m_analyser != nullptr && m_device != nullptr) {
            if (candidate.m_analyser->GetRawFileSize(candidate, m_device) != 0 &&
                candidate.m_size > 0 && RawFileTypeHasManager(candidate.m_type))
                GiveToManager(candidate);
        }
        m_kept.pop_front();
    }
    // A stop leaves the rest unsized; it is not shown.
    m_kept.clear();
    std::printf("--------------%s:%d:--------\n", "EndSearch", 436);
    std::fflush(stdout);
    notify.Reset();
    m_ownsNotify = false;
    m_ring.Close();
    m_prepared = false;
    if (m_builder != nullptr) {
        m_builder->FlashBuild(SEARCHER_RAW);
        m_builder->FlashBuild(SEARCHER_RAW_LABEL);
    }
    m_bitmap = nullptr;
}

int RawSearchTestFileStart(const unsigned char* sector, unsigned length) {
    if (sector == nullptr || length < 4)
        return 0;
    // Analysers read a whole sector; a shorter piece is padded with zeros.
    unsigned char copy[4096] = {};
    std::memcpy(copy, sector, std::min<size_t>(length, sizeof copy));
    const CRawFileAnalyserListSingle& registry = CRawFileAnalyserListSingle::CreateInstance();
    const uint32_t word = vk::LoadLE<uint32_t>(copy);
    if (word != 0) {
        if (registry.GetAnalyserMap(1).count(word) != 0)
            return 1;
        const auto range =
            registry.GetAnalyserMultimap(1).equal_range(static_cast<uint16_t>(word & 0xFFFF));
        for (auto it = range.first; it != range.second; ++it) {
            CRawFileInfo scratch;
            if (it->second->AnalyseBuffer(copy, scratch) != 0)
                return 1;
        }
    }
    for (IRawFileAnalyser* analyser : registry.GetAnalyserList(1)) {
        CRawFileInfo scratch;
        if (analyser->AnalyseBuffer(copy, scratch) != 0)
            return 1;
    }
    return 0;
}
