#include "RawSearchController.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

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
// How often the scan's thread asks the progress sink while it waits for the
// search thread, so that a stop reaches the search thread soon.
constexpr auto kRelayPoll = std::chrono::milliseconds(5);

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
    // The search thread ends first: what it handed over is not filed, the
    // builder may be gone.
    StopThread(false);
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
    m_cache = device->GetType() == kDeviceCache ? dynamic_cast<IDeviceCache*>(device) : nullptr;
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
    StopThread(false);
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
    // A block shorter than the zeros after it would be all head: not worth
    // a thread (only tests use such blocks).
    if (m_wantThread && m_blockBytes >= m_ring.SlackBytes())
        StartThread();
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

void CRAWSearchController::ReadBlockSplit(uint8_t* slot, uint8_t* head, size_t headBytes,
                                          long long first, long long count) {
    const size_t sectorBytes = static_cast<size_t>(m_sectorSize);
    const long long headSectors = std::min(count, static_cast<long long>(headBytes / sectorBytes));
    if ((headSectors == 0 || m_device->ReadSector(head, first, headSectors) != 0) &&
        (headSectors == count ||
         m_device->ReadSector(slot + headBytes, first + headSectors, count - headSectors) != 0))
        return;
    // The same pieces as ReadBlock, so that the same sectors read as zeros;
    // each piece is read whole and split between the head and the slot.
    std::vector<uint8_t> piece(static_cast<size_t>(kSalvageSectors) * sectorBytes);
    long long lost = 0;
    for (long long done = 0; done < count; done += kSalvageSectors) {
        const long long n = std::min(kSalvageSectors, count - done);
        const size_t bytes = static_cast<size_t>(n) * sectorBytes;
        if (m_device->ReadSector(piece.data(), first + done, n) == 0) {
            std::memset(piece.data(), 0, bytes);
            lost += n;
        }
        const size_t at = static_cast<size_t>(done) * sectorBytes;
        for (size_t b = 0; b < bytes;) {
            const size_t pos = at + b;
            if (pos < headBytes) {
                const size_t run = std::min(bytes - b, headBytes - pos);
                std::memcpy(head + pos, piece.data() + b, run);
                b += run;
            } else {
                std::memcpy(slot + pos, piece.data() + b, bytes - b);
                b = bytes;
            }
        }
    }
    CatchExeception::WriteLog(
        "CRAWSearchController: %lld of %lld sectors from %lld unreadable, read as zeros\n", lost,
        count, first);
}

void CRAWSearchController::TakeMarks(BlockJob& job) const {
    job.marks.clear();
    if (m_bitmap == nullptr || m_bitmap->GetBitmapData() == nullptr ||
        m_bitmap->GetBitmapSize() == 0)
        return;
    job.unit = std::max<long long>(1, m_bitmap->GetUnitSize());
    job.markFirst = job.first / job.unit;
    const long long lastUnit = (job.first + job.count - 1) / job.unit;
    job.marks.resize(static_cast<size_t>(lastUnit - job.markFirst + 1));
    for (size_t i = 0; i < job.marks.size(); ++i)
        job.marks[i] = m_bitmap->GetBit(job.markFirst + static_cast<long long>(i)) != 0 ? 1 : 0;
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
    BlockJob job;
    job.first = first;
    job.count = count;
    // The ring places the block right after the block just before it, or
    // after zeros, and zeros after it.
    job.previous = m_havePrevious && first > 0 &&
                   m_previousFirst + static_cast<long long>(m_sectorsPerBlock) == first;
    // The marks as they stand when the block is offered: searchers before
    // this one have looked at it, later ones and later blocks not yet.
    TakeMarks(job);
    const size_t held = static_cast<size_t>(count) * static_cast<size_t>(m_sectorSize);

    if (!m_threaded) {
        job.upper = m_ring.PlaceBlock(static_cast<unsigned long long>(first));
        if (job.upper == nullptr)
            return;
        ReadBlock(job.upper, first, count);
        if (held < m_blockBytes)
            std::memset(job.upper + held, 0, m_blockBytes - held);
        m_havePrevious = true;
        m_previousFirst = first;
        LookAtBlock(job);
        return;
    }

    FileOutgoing();
    CNotifyCenter& notify = CNotifyCenter::Instance();
    notify.Refresh();
    const auto waitFor = [this, &notify](const auto& ready) {
        for (;;) {
            std::unique_lock<std::mutex> lock(m_lock);
            if (ready() || m_idle.wait_for(lock, kRelayPoll, ready))
                return;
            lock.unlock();
            notify.Refresh();
        }
    };
    m_havePrevious = true;
    m_previousFirst = first;
    // The cache's current block, lent when it holds this one whole and read
    // without error: the placing thread copies it into its slot, so the
    // scan's thread neither reads nor copies it and goes on with the other
    // searchers. A failed block is read here, piece by piece, as without the
    // cache.
    if (m_placerRuns && m_cache != nullptr && m_cache->GetSectorSize() == m_sectorSize) {
        std::shared_ptr<const CachedBlock> lent = m_cache->LendCurrentBlock();
        if (lent && lent->ok && lent->data != nullptr && first >= lent->first &&
            count <= lent->first + lent->count - first) {
            job.lent = std::move(lent);
            waitFor([this] { return m_toPlace.size() < kLentAhead; });
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_toPlace.push_back(std::move(job));
            }
            m_placeWake.notify_one();
            return;
        }
    }
    // A block read here waits until the blocks lent before it are placed and
    // the search thread has taken the one before: the slot it is read into
    // is free from then on.
    waitFor([this] { return m_toPlace.empty() && !m_placing && m_jobs.empty(); });
    FillSlot(job, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void CRAWSearchController::LookAtBlock(const BlockJob& job) {
    CRawFileAnalyserListSingle& registry = CRawFileAnalyserListSingle::CreateInstance();
    const long long first = job.first;
    const long long count = job.count;
    uint8_t* upper = job.upper;
    if (!job.head.empty()) {
        // Placing makes the zeros after the block before this one into this
        // block's head; the rest of the block is in its slot already.
        uint8_t* placed = m_ring.PlaceBlock(static_cast<unsigned long long>(first));
        if (placed != upper) {
            CatchExeception::WriteLog(
                "CRAWSearchController: block at %lld placed apart from where it was read\n", first);
            return;
        }
        std::memcpy(upper, job.head.data(), job.head.size());
    }

    const long long windowFirst = job.previous ? first - m_sectorsPerBlock : first;
    CNotifyCenter& notify = CNotifyCenter::Instance();
    for (long long i = 0; i < count;) {
        const long long s = first + i;
        if (!job.marks.empty() &&
            job.marks[static_cast<size_t>(s / job.unit - job.markFirst)] != 0) {
            i += s % job.unit == 0 ? job.unit : 1;
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
                NoteSector(s, candidate->m_type);
                if (candidate->m_size != 0 && RawFileTypeHasManager(candidate->m_type)) {
                    HandOver(std::move(candidate));
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
            HandOver(std::move(*entry.kept));
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
            HandOver(std::move(m_pending.front()));
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

bool CRAWSearchController::FitToDevice(CRawFileInfo& candidate) {
    if (candidate.m_size <= 0 || candidate.m_startSector < 0)
        return false;
    // A size read from a damaged header may run past the device: what lies
    // beyond its end cannot be recovered, so the file stops there.
    const long long total = m_threaded            ? m_totalSectors
                            : m_device != nullptr ? m_device->GetTotalSectors()
                                                  : 0;
    if (total > 0) {
        if (candidate.m_startSector >= total)
            return false;
        const long long room =
            (total - candidate.m_startSector) * static_cast<long long>(m_sectorSize);
        if (candidate.m_size > room)
            candidate.m_size = room;
    }
    return true;
}

bool CRAWSearchController::FileWithManager(CRawFileInfo& candidate) {
    CRAWFileManager* manager = ManagerFor(candidate.m_type);
    if (manager == nullptr)
        return false;
    manager->AddRawFileInfo(&candidate);
    return true;
}

bool CRAWSearchController::GiveToManager(CRawFileInfo& candidate) {
    return FitToDevice(candidate) && FileWithManager(candidate);
}

void CRAWSearchController::HandOver(Owned candidate) {
    if (!m_threaded) {
        GiveToManager(*candidate);
        return;
    }
    if (!FitToDevice(*candidate))
        return;
    // The managers and the builder belong to the scan's thread: they get a
    // copy of what they read (start, size, type, name, time, label); the
    // candidate itself ends here, where it would have without the thread,
    // since ending it may change what its analyser recognises next.
    auto copy = std::make_unique<CRawFileInfo>(static_cast<const CRawFileInfo&>(*candidate));
    candidate.reset();
    std::lock_guard<std::mutex> lock(m_lock);
    m_outgoing.push_back({std::move(copy), 0, 0});
}

void CRAWSearchController::NoteSector(long long sector, RAW_FILE_TYPE type) {
    if (m_sectorMap == nullptr)
        return;
    if (!m_threaded) {
        m_sectorMap->emplace(static_cast<unsigned long long>(sector), static_cast<unsigned>(type));
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_outgoing.push_back(
        {nullptr, static_cast<unsigned long long>(sector), static_cast<unsigned>(type)});
}

void CRAWSearchController::FillSlot(BlockJob& job, const uint8_t* bytes) {
    const bool follows = m_shadowHeld && job.first == m_shadowEnd;
    const unsigned slot = m_ring.SlotFor(m_shadowHeld, follows, m_shadowNewest);
    job.upper = m_ring.SlotAddress(slot);
    const size_t sectorBytes = static_cast<size_t>(m_sectorSize);
    const size_t held = static_cast<size_t>(job.count) * sectorBytes;
    // The slot's first bytes are the zeros after the block being looked at
    // until this block is placed: they wait in the job.
    const size_t headBytes =
        std::min(m_blockBytes, (m_ring.SlackBytes() + sectorBytes - 1) / sectorBytes * sectorBytes);
    job.head.assign(headBytes, 0);
    if (bytes == nullptr) {
        ReadBlockSplit(job.upper, job.head.data(), headBytes, job.first, job.count);
    } else {
        std::memcpy(job.head.data(), bytes, std::min(headBytes, held));
        if (held > headBytes)
            std::memcpy(job.upper + headBytes, bytes + headBytes, held - headBytes);
    }
    if (held < m_blockBytes) {
        const size_t zeroFrom = std::max(held, headBytes);
        if (zeroFrom < m_blockBytes)
            std::memset(job.upper + zeroFrom, 0, m_blockBytes - zeroFrom);
    }
    m_shadowHeld = true;
    m_shadowNewest = slot;
    m_shadowEnd = job.first + static_cast<long long>(m_sectorsPerBlock);
}

void CRAWSearchController::PlacerThread() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_placeWake.wait(lock, [this] { return m_closing || !m_toPlace.empty(); });
        if (m_toPlace.empty())
            break;
        BlockJob job = std::move(m_toPlace.front());
        m_toPlace.pop_front();
        m_placing = true;
        m_idle.notify_all();
        // The slot is free once the search thread has taken the block
        // before this one.
        m_idle.wait(lock, [this] { return m_jobs.empty() || m_dropping; });
        if (!m_dropping) {
            lock.unlock();
            FillSlot(job, job.lent->data + static_cast<size_t>(job.first - job.lent->first) *
                                               static_cast<size_t>(m_sectorSize));
            job.lent.reset();
            lock.lock();
            if (!m_dropping) {
                m_jobs.push_back(std::move(job));
                m_wake.notify_one();
            }
        }
        m_placing = false;
        m_idle.notify_all();
    }
}

void CRAWSearchController::FileOutgoing() {
    std::vector<Outgoing> ready;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ready.swap(m_outgoing);
    }
    for (Outgoing& item : ready) {
        if (item.file)
            FileWithManager(*item.file);
        else if (m_sectorMap != nullptr)
            m_sectorMap->emplace(item.sector, item.type);
    }
}

void CRAWSearchController::StartThread() {
    m_jobs.clear();
    m_outgoing.clear();
    m_closing = false;
    m_busy = false;
    m_shadowHeld = false;
    m_shadowNewest = 0;
    m_shadowEnd = 0;
    m_totalSectors = m_device != nullptr ? m_device->GetTotalSectors() : 0;
    m_threaded = true;
    CNotifyCenter::Instance().SetRelay(true);
    try {
        m_worker = std::thread(&CRAWSearchController::SearchThread, this);
    } catch (const std::system_error&) {
        // Without the thread the scan's thread looks at the blocks itself.
        m_threaded = false;
        CNotifyCenter::Instance().SetRelay(false);
        return;
    }
    m_toPlace.clear();
    m_placing = false;
    m_dropping = false;
    try {
        m_placer = std::thread(&CRAWSearchController::PlacerThread, this);
        m_placerRuns = true;
    } catch (const std::system_error&) {
        // Without it the scan's thread reads every block into its slot.
        m_placerRuns = false;
    }
}

void CRAWSearchController::SearchThread() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_closing || !m_jobs.empty(); });
        if (m_jobs.empty())
            break;
        BlockJob job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        m_idle.notify_all();
        lock.unlock();
        LookAtBlock(job);
        job = BlockJob();
        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}

void CRAWSearchController::WaitIdle() {
    if (!m_threaded)
        return;
    CNotifyCenter& notify = CNotifyCenter::Instance();
    for (;;) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_idle.wait_for(lock, kRelayPoll, [this] {
                return m_toPlace.empty() && !m_placing && m_jobs.empty() && !m_busy;
            }))
            break;
        lock.unlock();
        // A stop asked meanwhile reaches the search thread.
        notify.Refresh();
        FileOutgoing();
    }
    FileOutgoing();
}

void CRAWSearchController::StopThread(bool file) {
    if (!m_threaded)
        return;
    if (file) {
        WaitIdle();
    } else {
        std::lock_guard<std::mutex> lock(m_lock);
        m_dropping = true;
        m_toPlace.clear();
        m_jobs.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_closing = true;
    }
    m_placeWake.notify_all();
    m_idle.notify_all();
    m_wake.notify_all();
    if (m_placerRuns) {
        m_placer.join();
        m_placerRuns = false;
    }
    if (!file) {
        // The block being looked at ends at the next poll when the scan was
        // stopped; otherwise it is finished.
        for (;;) {
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_idle.wait_for(lock, kRelayPoll, [this] { return !m_busy; }))
                break;
            lock.unlock();
            CNotifyCenter::Instance().Refresh();
        }
    }
    m_worker.join();
    m_threaded = false;
    CNotifyCenter::Instance().SetRelay(false);
    if (file) {
        FileOutgoing();
    } else {
        std::lock_guard<std::mutex> lock(m_lock);
        m_outgoing.clear();
    }
}

void CRAWSearchController::FinishBlocks() {
    StopThread(true);
}

void CRAWSearchController::EndSearch(int build) {
    FinishBlocks();
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
