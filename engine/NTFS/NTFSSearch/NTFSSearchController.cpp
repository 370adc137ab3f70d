#include "NTFSSearchController.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <utility>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "FindFileFromLogFile.h"
#include "IStorageDevice.h"
#include "NTFSDirectoryTreeBuilder.h"
#include "NTFSFactories.h"
#include "NTFSLib/NTFSIndexRecord.h"
#include "NTFSLib/NTFSLayout.h"
#include "NTFSNodeMaker.h"
#include "SectorSize.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"

namespace {

// How far ahead of the sector being examined its successors are fetched.
constexpr int64_t kPrefetchSectors = 16;

bool IsFileMagic(const uint8_t* p, size_t length) {
    return length >= 4 && std::memcmp(p, "FILE", 4) == 0;
}

}  // namespace

ICompleteFileSystemSearchController* CreateNTFSSearcher() {
    return new (std::nothrow) CNTFSSearchController();
}

CNTFSSearchController::CNTFSSearchController() : DeepSearcherBase("NTFS deep search") {}

CNTFSSearchController::~CNTFSSearchController() {
    // The pairs and the readers point into the $MFT lists: they go first.
    m_pairs.clear();
    m_findFiles.clear();
}

int CNTFSSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    std::vector<CSearchedNTFSPartitionInfo*> all;
    if (m_ended) {
        all = m_kept;
    } else {
        all.assign(m_candidates.Items().begin(), m_candidates.Items().end());
    }
    return AnswerSearchedPartitionQuery(static_cast<int>(all.size()), out, capacity, [&](int i) {
        return static_cast<CSearchedPartitionInfo*>(new (std::nothrow)
                                                        CSearchedNTFSPartitionInfo(*all[i]));
    });
}

void CNTFSSearchController::SetDevice(IStorageDevice* device) {
    if (device == nullptr) {
        CatchExeception::WriteLog("NTFS deep search: no device given\n");
        return;
    }
    m_device = device;
    m_deviceTotal = std::max<long long>(0, device->GetTotalSectors());
    m_partitionBuilder.SetDeviceTotalSectors(m_deviceTotal);
}

void CNTFSSearchController::PreparetoSearch() {
    m_prepared = false;
    if (m_blockSectors <= 0 || m_device == nullptr)
        return;
    // Each scan starts from nothing: evidence and half-read records of an
    // earlier scan belong to another surface.
    FreeWorkingState();
    m_candidates.Clear();
    m_kept.clear();
    m_ended = false;
    m_damage.Reset();

    m_sectorSize = vk::NormaliseSectorSize(static_cast<uint64_t>(m_device->GetSectorSize()));
    m_deviceTotal = std::max<long long>(0, m_device->GetTotalSectors());
    m_partitionBuilder.SetDeviceTotalSectors(m_deviceTotal);

    m_attrDef = std::make_unique<CAttrDefFileAnalyzer>(m_sectorSize);
    m_upCase = std::make_unique<CUpCaseFileAnalyzer>(m_sectorSize);
    m_logFile = std::make_unique<CLogFileAnalyzer>(m_candidates, m_partitionBuilder, m_sectorSize);
    m_logFile->SetDeviceTotalSectors(m_deviceTotal);
    m_group = std::make_unique<CMetaFileRecordGroupinMFTAnalyzer>(
        CMetaFileRecordGroupinMFTAnalyzer::Lists{&m_mfts, &m_mirrors, &m_pairs, &m_findFiles},
        m_candidates, m_partitionBuilder, m_sectorSize);
    m_group->SetDeviceTotalSectors(m_deviceTotal);
    m_indexCopy.assign(kIndexBlockBytes, 0);

    if (m_builder != nullptr)
        m_builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    m_prepared = true;
}

void CNTFSSearchController::ForgetJoins() {
    m_fileJoin.clear();
    m_fileJoinSector = -1;
    m_fileJoinNeed = 0;
    m_indexJoin.clear();
    m_indexJoinSector = -1;
    if (m_logFile)
        m_logFile->ForgetSavedPage();
}

const uint8_t* CNTFSSearchController::BlockData(int64_t first, int64_t count) {
    const size_t ss = m_sectorSize;
    if (auto* cache = dynamic_cast<IDeviceCache*>(m_device)) {
        long long heldFirst = 0, heldCount = 0;
        const uint8_t* held = cache->PeekCurrentBlock(&heldFirst, &heldCount);
        if (held != nullptr && first >= heldFirst && first + count <= heldFirst + heldCount)
            return held + static_cast<size_t>(first - heldFirst) * ss;
    }
    const size_t bytes = static_cast<size_t>(count) * ss;
    if (m_block.size() < bytes)
        m_block.resize(bytes);
    if (m_device->ReadSector(m_block.data(), first, count))
        return m_block.data();
    // Sectors that cannot be read are zeros here: nothing is found in them,
    // and no structure is taken from what an earlier block left behind.
    bool any = false;
    for (int64_t i = 0; i < count; ++i) {
        uint8_t* at = m_block.data() + static_cast<size_t>(i) * ss;
        if (m_device->ReadSector(at, first + i, 1)) {
            any = true;
        } else {
            std::memset(at, 0, ss);
            m_damage.Skip("sector", static_cast<uint64_t>(first + i), "cannot be read");
        }
    }
    return any ? m_block.data() : nullptr;
}

void CNTFSSearchController::AnalyzeBlock(long long firstSector, long long sectorCount) {
    if (!m_prepared || firstSector < 0 || sectorCount <= 0 || firstSector >= m_deviceTotal)
        return;
    sectorCount = std::min<long long>(sectorCount, m_deviceTotal - firstSector);
    // A caller that offers more than a block is served a block at a time.
    for (long long at = firstSector; at < firstSector + sectorCount; at += m_blockSectors) {
        const long long n = std::min<long long>(m_blockSectors, firstSector + sectorCount - at);
        const uint8_t* data = BlockData(at, n);
        if (data == nullptr) {
            // Half-read records cannot be completed across the hole.
            ForgetJoins();
            continue;
        }
        AnalyzeSectors(data, at, n);
    }
}

void CNTFSSearchController::AnalyzeSectors(const uint8_t* block, int64_t first, int64_t count) {
    const size_t ss = m_sectorSize;
    int64_t firstRecordPage = count;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t sector = first + i;
        const uint8_t* p = block + static_cast<size_t>(i) * ss;
        if (i + kPrefetchSectors < count) {
            // Every test below reads a sector's first two cache lines; asked
            // for early, they arrive while the sectors before are examined.
            const uint8_t* ahead = p + kPrefetchSectors * ss;
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + 64);
        }
        if (firstRecordPage == count && std::memcmp(p, "RCRD", 4) == 0)
            firstRecordPage = i;
        const size_t length =
            ss * static_cast<size_t>(std::min<int64_t>(count - i, kWindowSectors));
        if (p[3] == 'N' && std::memcmp(p + 3, "NTFS    ", 8) == 0 && CNTFSDBR::IsFullValidDBR(p))
            AnalyzeNTFSDBRSector(sector, p);
        else if (std::memcmp(p, "RSTR", 4) == 0 && CLogFileAnalyzer::IsValidRSTRRecord(p, length))
            m_logFile->AnalyzeRSTRRecord(sector);
        else
            AnalyzeIndexRecord(sector, p, length);
        AnalyzeNTFSFileRecordSector(sector, p, length);
        m_attrDef->AnalyzeSectorBuffer(sector, p);
        m_upCase->AnalyzeSectorBuffer(sector, p);
    }
    m_logFile->AnalyzeRCRDRecord(block, first, count, firstRecordPage);
}

// ---------------------------------------------------------------- boot sectors

bool CNTFSSearchController::MergeBootReading(const CSearchedNTFSPartitionInfo& reading) {
    auto [it, end] = m_candidates.EqualRange(reading);
    if (it == end)
        return false;
    for (; it != end; ++it) {
        CSearchedNTFSPartitionInfo& e = **it;
        const bool hadBoot = (e.flags & (kNTFSFromBootSector | kNTFSFromBackupBootSector)) != 0;
        e.flags |= reading.flags;
        if (!hadBoot) {
            // The volume's own size and identity replace what the device's
            // end or the $Bitmap suggested.
            e.serialNumber = reading.serialNumber;
            e.totalClusters = reading.totalClusters;
            e.totalSectors = reading.totalSectors;
            e.sectorsPerFileRecord = reading.sectorsPerFileRecord;
        }
    }
    return true;
}

void CNTFSSearchController::AnalyzeNTFSDBRSector(int64_t sector, const uint8_t* data) {
    CNTFSDBR dbr;
    NTFSVolumeGeometry g;
    // Absurd geometry (clusters or records the device cannot address) is
    // no boot sector of a volume here.
    if (!dbr.InitFromBuffer(data) || !GetNTFSVolumeGeometry(dbr, m_sectorSize, &g))
        return;
    uint64_t bytes = 0;
    if (!vk::CheckedMul<uint64_t>(dbr.GetTotalSectors(), dbr.GetBytesPerSector(), &bytes))
        return;
    const uint64_t volumeSectors = bytes / m_sectorSize;
    if (volumeSectors == 0 || volumeSectors > static_cast<uint64_t>(INT64_MAX / 2))
        return;
    const int64_t span = static_cast<int64_t>(volumeSectors);

    // Read as the backup at a volume's end.
    auto backup = CSearchedNTFSPartitionInfo::BuildPartitionInfoFromDBR(
        dbr, sector - span, kNTFSFromBackupBootSector, m_deviceTotal, m_sectorSize);
    if (backup) {
        bool confirmed = false;
        auto [it, end] = m_candidates.EqualRange(*backup);
        for (auto e = it; e != end; ++e) {
            if (((*e)->flags & kNTFSFromBootSector) ||
                ((*e)->totalSectors == backup->totalSectors &&
                 (*e)->serialNumber == backup->serialNumber))
                confirmed = true;
        }
        if (confirmed) {
            for (auto e = it; e != end; ++e)
                (*e)->flags |= kNTFSFromBackupBootSector;
            // The volume's first boot sector was read as a backup too, one
            // volume length early: that reading was wrong.
            CSearchedNTFSPartitionInfo early(*backup);
            early.runOriginSector -= span;
            if (early.runOriginSector >= 0)
                m_partitionBuilder.AdjustPartitionBuildFromFlag(early, 0,
                                                                kNTFSFromBackupBootSector);
            return;
        }
        if (!MergeBootReading(*backup))
            m_candidates.Insert(std::move(backup));
    }
    // Read as the first sector of a volume.
    auto first = CSearchedNTFSPartitionInfo::BuildPartitionInfoFromDBR(
        dbr, sector, kNTFSFromBootSector, m_deviceTotal, m_sectorSize);
    if (first && !MergeBootReading(*first))
        m_candidates.Insert(std::move(first));
}

// ---------------------------------------------------------------- index blocks

int CNTFSSearchController::AnalyzeIndexRecord(int64_t sector, const uint8_t* window,
                                              size_t length) {
    const size_t ss = m_sectorSize;
    if (m_indexJoinSector != -1) {
        const int64_t held = static_cast<int64_t>(m_indexJoin.size() / ss);
        // The later sectors of the block being joined.
        if (sector < m_indexJoinSector + held)
            return 0;
        const size_t need = kIndexBlockBytes - m_indexJoin.size();
        const int64_t at = m_indexJoinSector;
        if (sector == m_indexJoinSector + held && length < need) {
            // Blocks smaller than an index block: it is gathered over
            // several.
            m_indexJoin.insert(m_indexJoin.end(), window, window + length);
            return 0;
        }
        const bool follows = sector == m_indexJoinSector + held;
        if (follows)
            m_indexJoin.insert(m_indexJoin.end(), window, window + need);
        m_indexJoinSector = -1;
        if (follows) {
            std::vector<uint8_t> joined;
            joined.swap(m_indexJoin);
            return AnalyzeIndexBlock(at, joined.data());
        }
        m_indexJoin.clear();
    }
    if (length < 4 || std::memcmp(window, "INDX", 4) != 0)
        return 0;
    if (length < kIndexBlockBytes) {
        // Cut by the block's end: the next block completes it.
        m_indexJoin.assign(window, window + length);
        m_indexJoinSector = sector;
        return 0;
    }
    return AnalyzeIndexBlock(sector, window);
}

int CNTFSSearchController::AnalyzeIndexBlock(int64_t sector, const uint8_t* block) {
    if (!CStandardIndexHeader::IsValid(block, kIndexBlockBytes))
        return 0;
    std::memcpy(m_indexCopy.data(), block, kIndexBlockBytes);
    if (!CIndexRecord::UnfixupIndexRecord(m_indexCopy.data(), kIndexBlockBytes) ||
        !CIndexRecord::CheckIndexEntries(m_indexCopy.data(), kIndexBlockBytes))
        return 0;
    CIndexRecordInfo info;
    info.sector = sector;
    info.parent = CIndexRecord::GetParentFileReference(m_indexCopy.data(), kIndexBlockBytes);
    info.vcn = CIndexRecord::GetVCN(m_indexCopy.data(), kIndexBlockBytes);
    info.lsn = CIndexRecord::GetLogFileSequenceNumber(m_indexCopy.data(), kIndexBlockBytes);
    // Every volume has a root folder: its blocks say nothing of where
    // this one lies.
    if (info.parent == 5)
        return 1;
    if (info.parent < 0 || info.vcn < 0)
        return 0;
    auto [it, end] = m_folders.equal_range(info.parent);
    for (; it != end; ++it)
        MatchFolder(info, *it->second);
    if (m_indexRecords.size() < kMaxEvidence)
        m_indexRecords.emplace(info.parent, info);
    return 1;
}

void CNTFSSearchController::MatchFolder(const CIndexRecordInfo& index,
                                        const CFolderIndexAllocationInfo& folder) {
    const uint32_t spc = folder.GetSectorsPerCluster();
    const uint64_t clusterBytes = uint64_t{spc} * m_sectorSize;
    if (spc == 0)
        return;
    int64_t cluster = index.vcn;
    int64_t within = 0;  // sectors of the block's cluster before it
    if (clusterBytes > kIndexBlockBytes) {
        // Blocks smaller than a cluster are counted in 512-byte units.
        uint64_t units = 0;
        if (!vk::CheckedMul<uint64_t>(static_cast<uint64_t>(index.vcn), 512, &units))
            return;
        cluster = static_cast<int64_t>(units / clusterBytes);
        within = static_cast<int64_t>(units % clusterBytes / m_sectorSize);
    }
    const int64_t lcn = folder.GetLCN(cluster);
    if (lcn < 0)
        return;
    auto c = CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(
        index.sector - within, lcn, spc, kNTFSFromFolders, m_deviceTotal, m_sectorSize);
    if (!c)
        return;
    auto [it, end] = m_candidates.EqualRange(*c);
    if (it == end) {
        m_candidates.Insert(std::move(c));
        return;
    }
    for (; it != end; ++it) {
        (*it)->AddPartitionBuildFromFlag(kNTFSFromFolders);
        (*it)->AddFolderMatch();
    }
}

// ---------------------------------------------------------------- FILE records

void CNTFSSearchController::AnalyzeNTFSFileRecordSector(int64_t sector, const uint8_t* window,
                                                        size_t length) {
    const size_t ss = m_sectorSize;
    if (m_fileJoinSector != -1) {
        const int64_t held = static_cast<int64_t>(m_fileJoin.size() / ss);
        // The later sectors of the record being joined.
        if (sector < m_fileJoinSector + held)
            return;
        const size_t need = m_fileJoinNeed - m_fileJoin.size();
        const int64_t at = m_fileJoinSector;
        if (sector == m_fileJoinSector + held && length < need) {
            // Blocks smaller than a record: it is gathered over several.
            m_fileJoin.insert(m_fileJoin.end(), window, window + length);
            return;
        }
        const bool follows = sector == m_fileJoinSector + held;
        m_fileJoinSector = -1;
        if (follows) {
            m_fileJoin.insert(m_fileJoin.end(), window, window + need);
            CNTFSFileRecord record(m_fileJoin.data(), m_fileJoin.size());
            m_fileJoin.clear();
            m_group->AnalyzeNTFSMetaFileRecord(at, record);
            if (record.IsValid()) {
                AnalyzeParsedRecord(at, record);
                // This sector is the rest of that record.
                return;
            }
        }
        m_fileJoin.clear();
    }
    size_t next = 0;  // where the sector's next record may lie
    if (!IsFileMagic(window, length)) {
        if (m_group->IsGroupOpen())
            m_group->AnalyzeNTFSMetaFileRecord(sector, m_notARecord);
        next = ntfs::layout::record::kMinRecordSize;
    } else {
        const size_t bytes = CNTFSFileRecord::StatedRecordSize(window, length);
        const size_t need =
            std::max(bytes, std::min<size_t>(ss, ntfs::layout::record::kMaxRecordSize));
        if (length < need) {
            // Cut by the block's end: the next block completes it.
            m_fileJoin.assign(window, window + length);
            m_fileJoinSector = sector;
            m_fileJoinNeed = need;
            return;
        }
        CNTFSFileRecord record(window, need);
        m_group->AnalyzeNTFSMetaFileRecord(sector, record);
        if (record.IsValid())
            AnalyzeParsedRecord(sector, record);
        next = bytes;
    }
    // A large sector holds several records; each counts (the metafile
    // group goes by sectors and sees the first only).
    for (size_t o = next; o + ntfs::layout::record::kMinRecordSize <= ss;) {
        const uint8_t* p = window + o;
        if (!IsFileMagic(p, ss - o)) {
            o += ntfs::layout::record::kMinRecordSize;
            continue;
        }
        const size_t bytes = CNTFSFileRecord::StatedRecordSize(p, ss - o);
        if (o + bytes > ss)
            break;
        CNTFSFileRecord record(p, bytes);
        if (record.IsValid())
            AnalyzeParsedRecord(sector, record);
        o += bytes;
    }
}

void CNTFSSearchController::AnalyzeParsedRecord(int64_t sector, const CNTFSFileRecord& record) {
    if (record.IsFolder() &&
        CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(record))
        AnalyzeFolderFileRecordHavingIndexAllocation(sector, record);
    else if (CMetaFileRecordTypeAnalyzer::IsValidLogFileRecord(record))
        m_logFile->AnalyzeLogFileFileRecord(record, sector);
    else if (CMetaFileRecordTypeAnalyzer::IsValidAttrDefFileRecord(record))
        m_attrDef->AnalyzeAttrDefFileRecord(record, sector);
    else if (CMetaFileRecordTypeAnalyzer::IsValidUpCaseFileRecord(record))
        m_upCase->AnalyzeUpCaseFileRecord(record, sector);
    else
        AnalyzeNormalFileRecord(sector, record);
}

void CNTFSSearchController::AnalyzeFolderFileRecordHavingIndexAllocation(
    int64_t sector, const CNTFSFileRecord& record) {
    auto folder = std::make_unique<CFolderIndexAllocationInfo>();
    if (!folder->InitFromBuffer(record, sector, m_sectorSize)) {
        // No evidence of the volume's place, but still a folder of its
        // tree.
        AnalyzeNormalFileRecord(sector, record);
        return;
    }
    const int64_t number = folder->GetMFTFileRecordNumber();
    auto [it, end] = m_indexRecords.equal_range(number);
    for (; it != end; ++it)
        MatchFolder(it->second, *folder);
    if (m_folders.size() < kMaxEvidence)
        m_folders.emplace(number, std::move(folder));
    AnalyzeNormalFileRecord(sector, record);
}

void CNTFSSearchController::AnalyzeNormalFileRecord(int64_t sector, const CNTFSFileRecord& record) {
    if (record.IsExtendFileRecord() || m_group->IsaMetaFileRecordNotNeedtoCount(record) ||
        m_logFile->IsaMetaFileRecordNotNeedtoCount())
        return;
    const uint32_t bytes = record.GetAllocatedSize() ? record.GetAllocatedSize() : 1024;
    AddPosition(sector, std::max<uint32_t>(1, bytes / m_sectorSize), false);
}

void CNTFSSearchController::AddPosition(int64_t sector, uint32_t sectorsPerRecord, bool fresh) {
    if (!m_positions.empty()) {
        const CCommonFileRecordPositionInfo& last = m_positions.back();
        // Another record of a sector already noted.
        if (sector >= last.GetFileRecordStartSector() && sector < last.End())
            return;
    }
    if (!fresh && !m_positions.empty() && m_positions.back().Merge(sector, sectorsPerRecord))
        return;
    if (m_positions.size() >= kMaxPositions) {
        m_damage.Skip("file record", static_cast<uint64_t>(sector),
                      "too many scattered records to keep");
        return;
    }
    m_positions.emplace_back(sector, sectorsPerRecord);
}

// ---------------------------------------------------------------- the end

void CNTFSSearchController::EndSearch(int build) {
    if (build == 0 || !m_prepared)
        return;
    m_group->EndGroup();
    ScoreAndPrune();
    if (m_builder != nullptr) {
        // Recycle-bin index files are read at the most reliable volume's
        // cluster origin.
        m_builder->SetPartitonDevice(m_kept.empty() ? nullptr : m_kept.front(), m_device);
        SetSearchedNTFSPartitionBelongCtrl();
    }
    FreeWorkingState();
    m_prepared = false;
    m_damage.LogSummary();
    if (m_builder != nullptr)
        m_builder->FlashBuild(SEARCHER_NTFS);
}

void CNTFSSearchController::ScoreAndPrune() {
    auto& set = m_candidates.Items();
    for (CSearchedNTFSPartitionInfo* c : set) {
        m_attrDef->CalcAttrDefMatch(*c);
        m_upCase->CalcUpcaseMatch(*c);
        m_logFile->CalcLogFileMatch(*c);
        if (c->mftRecordSector != -1)
            c->mftLocated = 1;
        c->fsValue = CalcFileSystemReliabilityScore(*c);
    }
    size_t position = 0;
    for (auto it = set.begin(); it != set.end(); ++position) {
        CSearchedNTFSPartitionInfo* c = *it;
        if (position < 2 || (c->ReliabilityScore() >= 11 && c->FolderMatches() != 0)) {
            c->startSector = c->runOriginSector;
            ++it;
        } else {
            it = m_candidates.Erase(it);
        }
    }
    if (set.size() >= 3) {
        for (auto it = set.begin(); it != set.end();) {
            if ((*it)->ReliabilityScore() <= 50 && (*it)->mftLocated == 0)
                it = m_candidates.Erase(it);
            else
                ++it;
        }
    }
    // Best first: recovery and the user try the most reliable reading of
    // the surface before the others. The score does not count folders
    // matched with their index blocks; among equal scores they decide, then
    // start order.
    m_kept.assign(set.begin(), set.end());
    std::stable_sort(m_kept.begin(), m_kept.end(),
                     [](const CSearchedNTFSPartitionInfo* a, const CSearchedNTFSPartitionInfo* b) {
                         if (a->ReliabilityScore() != b->ReliabilityScore())
                             return a->ReliabilityScore() > b->ReliabilityScore();
                         return a->FolderMatches() > b->FolderMatches();
                     });
    m_ended = true;
}

void CNTFSSearchController::SetSearchedNTFSPartitionBelongCtrl() {
    CNTFSIntelligentSearchInfo info;
    info.findFiles = &m_findFiles;
    info.positions = &m_positions;
    CNTFSDirectoryTreeBuilder trees(info, m_device, m_builder, m_sectorSize, &m_damage);
    trees.BuildDirectoryTrees(m_kept);
}

void CNTFSSearchController::FreeWorkingState() {
    m_block.clear();
    m_block.shrink_to_fit();
    m_group.reset();
    m_attrDef.reset();
    m_upCase.reset();
    m_logFile.reset();
    m_pairs.clear();
    m_findFiles.clear();
    m_mirrors.clear();
    m_mfts.clear();
    m_folders.clear();
    m_indexRecords.clear();
    m_positions.clear();
    m_positions.shrink_to_fit();
    m_fileJoin.clear();
    m_fileJoinSector = -1;
    m_fileJoinNeed = 0;
    m_indexJoin.clear();
    m_indexJoinSector = -1;
}
