#include "NTFSEvidence.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "NTFSLib/NTFSIndexRecord.h"
#include "NTFSLib/UpdateSequence.h"
#include "NTFSSearch/FindFileFromLogFile.h"

namespace {

constexpr size_t kPageBytes = 4096;

}  // namespace

// ---------------------------------------------------------------- sector ranges

void CMetaFileAnalyzer::CombineSectorOfRange(uint64_t sector) {
    auto it = m_byEnd.find(sector);
    if (it != m_byEnd.end()) {
        Range& r = m_ranges[it->second];
        const size_t index = it->second;
        m_byEnd.erase(it);
        ++r.count;
        m_byEnd.emplace(sector + 1, index);
        return;
    }
    if (m_ranges.size() >= kMaxEvidence)
        return;
    m_ranges.push_back({sector, 1});
    m_byEnd.emplace(sector + 1, m_ranges.size() - 1);
}

int64_t CMetaFileAnalyzer::GetSectorRangeCount(uint64_t a, uint64_t b) const {
    if (b < a)
        return 0;
    int64_t total = 0;
    for (const Range& r : m_ranges) {
        const uint64_t last = r.first + static_cast<uint64_t>(r.count) - 1;
        if (r.first <= a && last >= b)
            return total + static_cast<int64_t>(b - a + 1);
        const uint64_t lo = std::max(a, r.first);
        const uint64_t hi = std::min(b, last);
        if (lo <= hi)
            total += static_cast<int64_t>(hi - lo + 1);
    }
    return total;
}

int64_t CMetaFileAnalyzer::GetMatchCount(const CNTFSDataRunList& runs, int64_t start,
                                         uint32_t sectorsPerCluster) const {
    int64_t total = 0;
    for (const CDataRun& r : runs.Runs()) {
        if (r.lcn < 0)
            continue;
        uint64_t first = 0, sectors = 0;
        if (!vk::ClusterToSector(static_cast<uint64_t>(r.lcn), 0, sectorsPerCluster,
                                 static_cast<uint64_t>(start), &first) ||
            !vk::CheckedMul<uint64_t>(static_cast<uint64_t>(r.length), sectorsPerCluster,
                                      &sectors) ||
            sectors == 0)
            continue;
        total += GetSectorRangeCount(first, first + sectors - 1);
    }
    return total;
}

bool CMetaFileAnalyzer::CompareSectorBuffer(const uint8_t* sector, const uint8_t* reference) {
    return std::memcmp(sector, reference, 512) == 0;
}

// ---------------------------------------------------------------- $LogFile

bool CLogFileAnalyzer::IsValidRSTRRecord(const uint8_t* buffer, size_t length) {
    if (buffer == nullptr || length < kPageBytes || std::memcmp(buffer, "RSTR", 4) != 0)
        return false;
    static const uint8_t kNtfs[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    if (std::memcmp(buffer + 144, kNtfs, 8) != 0)
        return false;
    // A restart page's update-sequence array sits at 30 and covers the page.
    return ntfs::SectorEndsMatch(buffer, {30, kPageBytes / 512});
}

std::unique_ptr<CSearchedNTFSPartitionInfo> CLogFileAnalyzer::Reading(const CLogFileInfo& log,
                                                                      int64_t sector,
                                                                      uint32_t flag) const {
    return CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(
        sector, log.GetFirstClusterNO(), log.GetSectorsPerCluster(), flag, m_deviceTotal,
        m_sectorSize);
}

void CLogFileAnalyzer::AnalyzeRSTRRecord(int64_t sector) {
    if (m_restarts.size() >= kMaxEvidence)
        return;
    const int64_t page = PageSectors();
    const bool second = !m_restarts.empty() && sector == m_restarts.back().sector + page;
    for (const auto& log : m_logFiles) {
        if (log->GetFirstClusterNO() == -1 || log->GetSectorsPerCluster() == 0)
            continue;
        if (second) {
            if (auto c = Reading(*log, sector - page, kNTFSFromSecondRestartPage))
                m_builder.AdjustPartitionBuildFromFlag(*c, kNTFSFromSecondRestartPage, 0);
            if (auto c = Reading(*log, sector, kNTFSFromFirstRestartPage))
                m_builder.AdjustPartitionBuildFromFlag(*c, 0, kNTFSFromFirstRestartPage);
        } else {
            m_builder.Merge(Reading(*log, sector, kNTFSFromFirstRestartPage));
            if (sector != page && sector - page >= 0)
                m_builder.Merge(Reading(*log, sector - page, kNTFSFromSecondRestartPage));
        }
    }
    m_restarts.push_back({sector});
}

void CLogFileAnalyzer::AnalyzeLogFileFileRecord(const CNTFSFileRecord& record, int64_t sector) {
    if (m_logFiles.size() >= kMaxEvidence)
        return;
    auto info = std::make_unique<CLogFileInfo>();
    if (!info->InitFromBuffer(record, sector, m_sectorSize))
        return;
    const int64_t page = PageSectors();
    for (size_t i = 0; i < m_restarts.size(); ++i) {
        const int64_t r = m_restarts[i].sector;
        if (i + 1 < m_restarts.size() && m_restarts[i + 1].sector == r + page) {
            m_builder.Merge(
                Reading(*info, r, kNTFSFromFirstRestartPage | kNTFSFromSecondRestartPage));
            ++i;
            continue;
        }
        m_builder.Merge(Reading(*info, r, kNTFSFromFirstRestartPage));
        if (r != page)
            m_builder.Merge(Reading(*info, r - page, kNTFSFromSecondRestartPage));
    }
    m_logFiles.push_back(std::move(info));
}

void CLogFileAnalyzer::ExaminePage(const uint8_t* page, int64_t sector) {
    if (!CRCRDRecord::IsValid(page, kPageBytes))
        return;
    for (int64_t s = 0; s < static_cast<int64_t>(PageSectors()); ++s)
        m_pages.CombineSectorOfRange(static_cast<uint64_t>(sector + s));
}

void CLogFileAnalyzer::AnalyzeRCRDRecord(const uint8_t* block, int64_t firstSector,
                                         int64_t sectorCount, int64_t firstHead) {
    const int64_t page = PageSectors();
    const size_t ss = m_sectorSize;
    int64_t position = 0;
    if (m_saved.sector != -1) {
        const int64_t held = static_cast<int64_t>(m_saved.bytes.size() / ss);
        if (firstSector == m_saved.sector + held && sectorCount < page - held) {
            // Blocks smaller than a page: it is gathered over several.
            m_saved.bytes.insert(m_saved.bytes.end(), block,
                                 block + static_cast<size_t>(sectorCount) * ss);
            return;
        }
        if (firstSector == m_saved.sector + held) {
            const size_t need = static_cast<size_t>(page - held) * ss;
            m_saved.bytes.insert(m_saved.bytes.end(), block, block + need);
            ExaminePage(m_saved.bytes.data(), m_saved.sector);
            position = page - held;
        }
        m_saved.sector = -1;
        m_saved.bytes.clear();
    }
    position = std::max(position, firstHead);
    while (position < sectorCount) {
        const uint8_t* at = block + static_cast<size_t>(position) * ss;
        if (at[0] != 'R' || !CRCRDRecord::IsValidRCRDRecordFirstSector(at, ss)) {
            ++position;
            continue;
        }
        if (sectorCount - position < page) {
            // Cut by the block's end: kept until the next block completes it.
            m_saved.bytes.assign(at, block + static_cast<size_t>(sectorCount) * ss);
            m_saved.sector = firstSector + position;
            return;
        }
        ExaminePage(at, firstSector + position);
        position += page;
    }
}

void CLogFileAnalyzer::CalcLogFileMatch(CSearchedNTFSPartitionInfo& c) const {
    const CLogFileInfo* log =
        FindMetaFileForCandidate(m_logFiles, c, 2 * static_cast<int64_t>(c.sectorsPerFileRecord));
    if (log == nullptr) {
        c.logFileMatch = 0;
        return;
    }
    c.logFileRecordSector = log->GetSectorAddress();
    c.logFileMatch =
        m_pages.GetMatchCount(log->GetNTFSDataRunList(), c.Start(), c.sectorsPerCluster);
}

// ---------------------------------------------------------------- $UpCase

namespace {

// The upper case of every UTF-16 code unit in the table mkntfs writes.
const std::array<uint16_t, 65536>& MkntfsUpCase() {
    static const std::array<uint16_t, 65536> table = [] {
        std::array<uint16_t, 65536> t{};
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = static_cast<uint16_t>(i);
        static const uint16_t pairs[][2] = {
#include "NTFSUpCaseTable.inc"
        };
        for (const auto& p : pairs)
            t[p[0]] = p[1];
        return t;
    }();
    return table;
}

}  // namespace

bool CUpCaseFileAnalyzer::IsUpCaseSlice(const uint8_t* data) {
    // Empty sectors are turned away before any table is looked at: two zero
    // code units open no slice, since the table's second unit is 1 and no
    // block's first unit has zero for its upper case.
    if (vk::LoadLE<uint32_t>(data) == 0)
        return false;
    const std::array<uint16_t, 65536>& up = MkntfsUpCase();
    // The upper case of each block's first code unit, and those of them
    // that lie in another block: most sectors fail on their first entry,
    // and these small tables stay at hand while the surface streams by.
    struct BlockStarts {
        std::array<uint16_t, 256> upper{};
        std::vector<uint16_t> elsewhere;
    };
    static const BlockStarts starts = [&] {
        BlockStarts b;
        for (size_t k = 0; k < 256; ++k) {
            b.upper[k] = up[256 * k];
            if ((up[256 * k] >> 8) != k)
                b.elsewhere.push_back(up[256 * k]);
        }
        return b;
    }();
    auto slice = [&](size_t k) {
        for (size_t i = 0; i < 256; ++i) {
            const uint16_t code = static_cast<uint16_t>(256 * k + i);
            const uint16_t value = vk::LoadLE<uint16_t>(data + 2 * i);
            if (value != code && value != up[code])
                return false;
        }
        return true;
    };
    // Which 256 code units the slice holds is told by its first entry,
    // unless that one's upper case lies in another block (Georgian small
    // letters at 0x2D00): then by its last, which no table maps.
    const uint16_t first = vk::LoadLE<uint16_t>(data);
    const uint8_t block = data[1];
    if ((first == 256 * block || first == starts.upper[block]) && slice(block))
        return true;
    // The last entry lies at the sector's far end: it is read only when the
    // first is the upper case of such a block's start, so that other
    // sectors cost no second touch of memory.
    if (std::find(starts.elsewhere.begin(), starts.elsewhere.end(), first) ==
        starts.elsewhere.end())
        return false;
    const uint16_t last = vk::LoadLE<uint16_t>(data + 510);
    return (last & 0xFF) == 0xFF && (last >> 8) != block && slice(last >> 8);
}

bool CUpCaseFileAnalyzer::AnalyzeSectorBuffer(int64_t sector, const uint8_t* data) {
    for (size_t at = 0; at < m_sectorSize; at += 512) {
        if (!IsUpCaseSlice(data + at))
            return false;
    }
    m_ranges.CombineSectorOfRange(static_cast<uint64_t>(sector));
    return true;
}

void CUpCaseFileAnalyzer::AnalyzeUpCaseFileRecord(const CNTFSFileRecord& record, int64_t sector) {
    if (m_records.size() >= kMaxEvidence)
        return;
    auto info = std::make_unique<CUpCaseFileInfo>();
    if (info->InitFromBuffer(record, sector))
        m_records.push_back(std::move(info));
}

void CUpCaseFileAnalyzer::CalcUpcaseMatch(CSearchedNTFSPartitionInfo& c) const {
    const CUpCaseFileInfo* info =
        FindMetaFileForCandidate(m_records, c, 10 * static_cast<int64_t>(c.sectorsPerFileRecord));
    if (info == nullptr) {
        c.upCaseMatch = 0;
        return;
    }
    c.upCaseRecordSector = info->GetSectorAddress();
    c.upCaseMatch =
        m_ranges.GetMatchCount(info->GetNTFSDataRunList(), c.Start(), c.sectorsPerCluster);
}

// ---------------------------------------------------------------- $AttrDef

const std::vector<uint8_t>& CAttrDefFileAnalyzer::StandardContent() {
    static const std::vector<uint8_t> content = [] {
        struct Entry {
            const char* name;
            uint32_t type;
            uint32_t flags;
            int64_t minimum;
            int64_t maximum;
        };
        static const Entry entries[] = {
            {"$STANDARD_INFORMATION", 0x10, 0x40, 48, 72},
            {"$ATTRIBUTE_LIST", 0x20, 0x80, 0, -1},
            {"$FILE_NAME", 0x30, 0x42, 68, 578},
            {"$OBJECT_ID", 0x40, 0x40, 0, 256},
            {"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, -1},
            {"$VOLUME_NAME", 0x60, 0x40, 2, 256},
            {"$VOLUME_INFORMATION", 0x70, 0x40, 12, 12},
            {"$DATA", 0x80, 0x00, 0, -1},
            {"$INDEX_ROOT", 0x90, 0x40, 0, -1},
            {"$INDEX_ALLOCATION", 0xA0, 0x80, 0, -1},
            {"$BITMAP", 0xB0, 0x80, 0, -1},
            {"$REPARSE_POINT", 0xC0, 0x80, 0, 16384},
            {"$EA_INFORMATION", 0xD0, 0x40, 8, 8},
            {"$EA", 0xE0, 0x00, 0, 65536},
            {"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 65536},
        };
        std::vector<uint8_t> out(2560, 0);
        size_t at = 0;
        for (const Entry& e : entries) {
            for (size_t i = 0; e.name[i]; ++i)
                out[at + 2 * i] = static_cast<uint8_t>(e.name[i]);
            vk::StoreLE<uint32_t>(out.data() + at + 128, e.type);
            vk::StoreLE<uint32_t>(out.data() + at + 140, e.flags);
            vk::StoreLE<int64_t>(out.data() + at + 144, e.minimum);
            vk::StoreLE<int64_t>(out.data() + at + 152, e.maximum);
            at += 160;
        }
        return out;
    }();
    return content;
}

void CAttrDefFileAnalyzer::AnalyzeAttrDefFileRecord(const CNTFSFileRecord& record, int64_t sector) {
    if (m_records.size() >= kMaxEvidence)
        return;
    auto info = std::make_unique<CAttrDefFileInfo>();
    if (info->InitFromBuffer(record, sector))
        m_records.push_back(std::move(info));
}

bool CAttrDefFileAnalyzer::AnalyzeSectorBuffer(int64_t sector, const uint8_t* data) {
    const std::vector<uint8_t>& content = StandardContent();
    if (m_sectorSize > 512) {
        // A large sector holds the whole table at its start.
        if (std::memcmp(data, content.data(), content.size()) != 0)
            return false;
        m_ranges.CombineSectorOfRange(static_cast<uint64_t>(sector));
        return true;
    }
    // Sectors differ from the table's pieces in their first bytes already,
    // or (zeros) at the piece's first byte that is not zero.
    struct Piece {
        uint64_t head = 0;
        size_t telling = 0;
    };
    static const std::array<Piece, 5> pieces = [&] {
        std::array<Piece, 5> at{};
        for (size_t k = 0; k < at.size(); ++k) {
            at[k].head = vk::LoadLE<uint64_t>(content.data() + 512 * k);
            while (at[k].telling < 511 && content[512 * k + at[k].telling] == 0)
                ++at[k].telling;
        }
        return at;
    }();
    const uint64_t head = vk::LoadLE<uint64_t>(data);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece& piece = pieces[k];
        if (head != piece.head || data[piece.telling] != content[512 * k + piece.telling])
            continue;
        if (CMetaFileAnalyzer::CompareSectorBuffer(data, content.data() + 512 * k)) {
            m_ranges.CombineSectorOfRange(static_cast<uint64_t>(sector));
            return true;
        }
    }
    return false;
}

void CAttrDefFileAnalyzer::CalcAttrDefMatch(CSearchedNTFSPartitionInfo& c) const {
    const CAttrDefFileInfo* info =
        FindMetaFileForCandidate(m_records, c, 4 * static_cast<int64_t>(c.sectorsPerFileRecord));
    if (info == nullptr) {
        c.attrDefMatch = 0;
        return;
    }
    c.attrDefRecordSector = info->GetSectorAddress();
    c.attrDefMatch =
        m_ranges.GetMatchCount(info->GetNTFSDataRunList(), c.Start(), c.sectorsPerCluster);
}

// ---------------------------------------------------------------- the metafile group

uint32_t CMetaFileRecordGroupinMFTAnalyzer::SectorsPerRecord(const CNTFSFileRecord& record) const {
    const uint32_t bytes = record.GetAllocatedSize() ? record.GetAllocatedSize() : 1024;
    return std::max<uint32_t>(1, bytes / m_sectorSize);
}

void CMetaFileRecordGroupinMFTAnalyzer::ResetGroup() {
    m_groupMft = nullptr;
    m_groupMirror = nullptr;
    m_groupSector = -1;
    m_bitmapClusters = -1;
}

bool CMetaFileRecordGroupinMFTAnalyzer::IsaMetaFileRecordNotNeedtoCount(
    const CNTFSFileRecord& record) const {
    if (CMetaFileRecordTypeAnalyzer::IsValidMFTFileRecord(record))
        return m_lists.mfts->size() >= kMaxEvidence;
    if (CMetaFileRecordTypeAnalyzer::IsValidMFTMirrFileRecord(record))
        return m_lists.mirrors->size() >= kMaxEvidence;
    return false;
}

int CMetaFileRecordGroupinMFTAnalyzer::AnalyzeNTFSMetaFileRecord(int64_t sector,
                                                                 const CNTFSFileRecord& record) {
    const int64_t spr = m_groupSectorsPerRecord;
    const int64_t d = m_groupSector == -1 ? -1 : sector - m_groupSector;
    // The later sectors of a record of the group are no records.
    if (!record.IsValid() && m_groupSector != -1 && d > 0 && d % spr != 0 && d <= 8 * spr)
        return 0;
    const int index =
        record.IsValid() ? CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record) : -1;
    const bool ends = !record.IsValid() || index == -1 || m_groupSector == -1 || d < 0 ||
                      d > 8 * spr || d % spr != 0 || index != d / spr;
    if (ends) {
        AnalyzeGroup();
        ResetGroup();
    }
    if (!record.IsValid())
        return 0;
    if (CMetaFileRecordTypeAnalyzer::IsValidMFTFileRecord(record)) {
        m_groupSector = sector;
        m_groupSectorsPerRecord = SectorsPerRecord(record);
        if (m_lists.mfts->size() >= kMaxEvidence)
            return 0;
        auto mft = CMFTInfo::Build(record, sector, m_sectorSize);
        if (!mft) {
            AnalyzeGroup();
            ResetGroup();
            return 0;
        }
        m_groupMft = mft.get();
        FindFileMFTAndLogx pair;
        pair.mft = mft.get();
        pair.logFile = std::make_unique<CFindFileFromLogFile>();
        m_lists.findFiles->push_back(std::move(pair));
        m_lists.mfts->push_back(std::move(mft));
        return 1;
    }
    if (CMetaFileRecordTypeAnalyzer::IsValidMFTMirrFileRecord(record)) {
        if (m_lists.mirrors->size() >= kMaxEvidence)
            return 0;
        auto mirror = CMFTMirrInfo::Build(record, sector, m_sectorSize);
        if (!mirror) {
            AnalyzeGroup();
            ResetGroup();
            return 0;
        }
        m_groupMirror = mirror.get();
        m_lists.mirrors->push_back(std::move(mirror));
        return 1;
    }
    if (CMetaFileRecordTypeAnalyzer::IsValidBitmapFileRecord(record)) {
        CBitmapFileInfo bitmap;
        if (bitmap.InitFromBuffer(record, sector))
            m_bitmapClusters = bitmap.GetFileSize() * 8;
    }
    return 1;
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeGroup() {
    if (m_groupMft == nullptr)
        return;
    if (m_groupMirror == nullptr) {
        AnalyzeSingleMFT(*m_groupMft);
        return;
    }
    CMFTFilesPair pair{m_groupMft, m_groupMirror};
    AnalyzeMFTFilesPair(pair);
    m_lists.pairs->push_back(pair);
}

void CMetaFileRecordGroupinMFTAnalyzer::AdjustPartitionSizeandMFTSector(
    CSearchedNTFSPartitionInfo& c) const {
    if (c.mftRecordSector == -1)
        c.mftRecordSector = m_groupSector;
    if (!(c.flags & kNTFSFromBootSector) && m_bitmapClusters > 0) {
        c.totalClusters = std::min(c.totalClusters, m_bitmapClusters);
        c.totalSectors = c.totalClusters * c.sectorsPerCluster;
    }
    if (m_bitmapClusters > 0)
        c.bitmapSectors = m_bitmapClusters * c.sectorsPerCluster;
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeSingleMFT(CMFTInfo& mft) {
    std::vector<std::unique_ptr<CSearchedNTFSPartitionInfo>> built;
    auto add = [&](uint32_t spc) {
        if (auto c = CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(
                mft.GetSectorAddress(), mft.GetFirstClusterNO(), spc, kNTFSFromMft, m_deviceTotal,
                m_sectorSize)) {
            c->sectorsPerFileRecord = m_groupSectorsPerRecord;
            built.push_back(std::move(c));
        }
    };
    if (mft.GetSectorsPerCluster() != 0) {
        add(mft.GetSectorsPerCluster());
    } else {
        for (uint32_t spc : CSearchedNTFSPartitionInfo::kSupportedSectorsPerCluster)
            add(spc);
    }
    for (auto& c : built) {
        auto [it, end] = m_set.EqualRange(*c);
        if (it != end) {
            m_builder.AdjustPartitionBuildFromFlag(*c, kNTFSFromMft, 0);
            auto [again, stop] = m_set.EqualRange(*c);
            for (; again != stop; ++again)
                AdjustPartitionSizeandMFTSector(**again);
            return;
        }
        AdjustPartitionSizeandMFTSector(*c);
        m_set.Insert(std::move(c));
    }
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeMFTFilesPair(CMFTFilesPair& pair) {
    CMFTInfo& mft = *pair.mft;
    auto mirror = CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(
        mft.GetSectorAddress(), pair.mirror->GetFirstClusterNO(), mft.GetSectorsPerCluster(),
        kNTFSFromMirror, m_deviceTotal, m_sectorSize);
    if (!mirror || pair.mirror->GetFirstClusterNO() == -1 || mft.GetSectorsPerCluster() == 0) {
        AnalyzeSingleMFT(mft);
        return;
    }
    AdjustPartitionSizeandMFTSector(*mirror);
    // Under the mirror reading, is the $MFT's own data where an earlier
    // group lies? Then this group is the mirror copy of that one.
    const int64_t mftData = mirror->Start() + mft.GetFirstClusterNO() *
                                                  static_cast<int64_t>(mft.GetSectorsPerCluster());
    // A true copy describes the same $MFT: the same clusters and cluster
    // size (a volume formatted again over the same place has its own).
    const bool copy =
        std::any_of(m_lists.pairs->begin(), m_lists.pairs->end(), [&](const CMFTFilesPair& p) {
            return p.mft != nullptr && p.mft->GetSectorAddress() == mftData &&
                   p.mft->GetSectorsPerCluster() == mft.GetSectorsPerCluster() &&
                   p.mft->GetFirstClusterNO() == mft.GetFirstClusterNO();
        });
    if (copy) {
        auto [it, end] = m_set.EqualRange(*mirror);
        for (; it != end; ++it) {
            if ((*it)->flags & kNTFSFromMft)
                (*it)->flags &= ~(kNTFSFromMft | kNTFSFromMftAndMirror);
            (*it)->flags |= kNTFSFromMftAndMirror;
        }
        return;
    }
    if (m_builder.AdjustPartitionBuildFromFlag(*mirror, kNTFSFromMirror, 0) == 1) {
        auto [it, end] = m_set.EqualRange(*mirror);
        for (; it != end; ++it)
            AdjustPartitionSizeandMFTSector(**it);
    } else {
        // Nothing places a volume there yet. The group may be an $MFT group
        // of its own or the mirror's copy of one whose $MFT records are
        // lost: both readings stay, and the rest of the evidence decides.
        m_set.Insert(std::move(mirror));
        AnalyzeSingleMFT(mft);
    }
}
