// The evidence collectors of the NTFS deep search: ranges of sectors whose
// content looks like a metafile's data ($LogFile pages, the $UpCase and
// $AttrDef tables), the metafile records found on the surface, and the
// group of metafile records at the head of an MFT, each turned into
// partition candidates.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "NTFSMetaFileInfo.h"
#include "NTFSPartitionInfo.h"

class IStorageDevice;

// Evidence lists stop growing here; what comes beyond is dropped.
constexpr size_t kMaxEvidence = 500000;

// Ranges of sectors that matched a metafile's content.
class CMetaFileAnalyzer {
public:
    struct Range {
        uint64_t first;
        int64_t count;
    };
    void CombineSectorOfRange(uint64_t sector);
    // Sectors of [a, b] (both included) that lie in the ranges.
    int64_t GetSectorRangeCount(uint64_t a, uint64_t b) const;
    // Sectors of the runs' clusters (from `start`) that lie in the ranges.
    int64_t GetMatchCount(const CNTFSDataRunList& runs, int64_t start,
                          uint32_t sectorsPerCluster) const;
    static bool CompareSectorBuffer(const uint8_t* sector, const uint8_t* reference);
    const std::vector<Range>& Ranges() const { return m_ranges; }

private:
    std::vector<Range> m_ranges;
    std::unordered_map<uint64_t, size_t> m_byEnd;  // one past the last sector -> range
};

// The metafile record a candidate's match count is taken from: the one at
// the candidate's $MFT record sector plus `offsetFromMft`, else the first
// inside the candidate's sectors.
template <typename Info>
const Info* FindMetaFileForCandidate(const std::vector<std::unique_ptr<Info>>& list,
                                     const CSearchedNTFSPartitionInfo& c, int64_t offsetFromMft);

// A restart page seen on the surface.
struct CRestartRecordInfo {
    int64_t sector = -1;
};

// The head of a record page cut by the end of a block, kept until the next
// block completes it. Each analyser (so each scan) has its own.
struct CSavedBuffer {
    std::vector<uint8_t> bytes;
    int64_t sector = -1;  // -1: empty
};

class CLogFileAnalyzer {
public:
    // The candidate set is reached through the builder, which holds it.
    CLogFileAnalyzer(CNTFSCandidateSet& /*set*/, CNTFSPartitionInfoBuilder& builder,
                     uint32_t sectorSize)
        : m_builder(builder), m_sectorSize(sectorSize) {}
    void SetDeviceTotalSectors(int64_t total) { m_deviceTotal = total; }

    // A restart page: "RSTR", the client name "NTFS" and every 512-byte
    // sector ending with the sequence number.
    static bool IsValidRSTRRecord(const uint8_t* buffer, size_t length);
    void AnalyzeRSTRRecord(int64_t sector);
    void AnalyzeLogFileFileRecord(const CNTFSFileRecord& record, int64_t sector);
    // The record pages of one block; a page cut by the block's end is kept
    // and completed by the next block when it follows directly. No page
    // begins before sector `firstHead` of the block (the caller saw every
    // sector's first bytes already; sectorCount: none begins in it).
    void AnalyzeRCRDRecord(const uint8_t* block, int64_t firstSector, int64_t sectorCount,
                           int64_t firstHead = 0);
    void CalcLogFileMatch(CSearchedNTFSPartitionInfo& c) const;
    bool IsaMetaFileRecordNotNeedtoCount() const { return m_logFiles.size() >= kMaxEvidence; }
    // Forgets a page head kept from an earlier block (an unreadable block
    // lies between).
    void ForgetSavedPage() { m_saved.sector = -1; }
    // Sectors of the record pages seen so far (tests).
    int64_t RecordPageSectors() const { return m_pages.GetSectorRangeCount(0, UINT64_MAX); }

private:
    // The volume candidates of a $LogFile record whose data starts at the
    // page at `sector`, merged with flag (or only flagging equals).
    std::unique_ptr<CSearchedNTFSPartitionInfo> Reading(const CLogFileInfo& log, int64_t sector,
                                                        uint32_t flag) const;
    void ExaminePage(const uint8_t* page, int64_t sector);
    uint32_t PageSectors() const { return m_sectorSize >= 4096 ? 1 : 4096 / m_sectorSize; }

    CNTFSPartitionInfoBuilder& m_builder;
    uint32_t m_sectorSize;
    int64_t m_deviceTotal = 0;
    std::vector<std::unique_ptr<CLogFileInfo>> m_logFiles;
    std::vector<CRestartRecordInfo> m_restarts;
    CMetaFileAnalyzer m_pages;
    CSavedBuffer m_saved;
};

class CUpCaseFileAnalyzer {
public:
    explicit CUpCaseFileAnalyzer(uint32_t sectorSize) : m_sectorSize(sectorSize) {}
    void AnalyzeUpCaseFileRecord(const CNTFSFileRecord& record, int64_t sector);
    // A sector of an upper-case table as NTFS formatters write it: every
    // code unit mapped to itself or to the upper case mkntfs gives it. Both
    // the table mkntfs writes and Windows' (which leaves more code units as
    // they are) pass.
    bool AnalyzeSectorBuffer(int64_t sector, const uint8_t* data);
    static bool IsUpCaseSlice(const uint8_t* data512);
    void CalcUpcaseMatch(CSearchedNTFSPartitionInfo& c) const;

private:
    uint32_t m_sectorSize;
    std::vector<std::unique_ptr<CUpCaseFileInfo>> m_records;
    CMetaFileAnalyzer m_ranges;
};

class CAttrDefFileAnalyzer {
public:
    explicit CAttrDefFileAnalyzer(uint32_t sectorSize) : m_sectorSize(sectorSize) {}
    // The 2,560 bytes every NTFS volume keeps in $AttrDef.
    static const std::vector<uint8_t>& StandardContent();
    void AnalyzeAttrDefFileRecord(const CNTFSFileRecord& record, int64_t sector);
    bool AnalyzeSectorBuffer(int64_t sector, const uint8_t* data);
    void CalcAttrDefMatch(CSearchedNTFSPartitionInfo& c) const;
    size_t RecordCount() const { return m_records.size(); }

private:
    uint32_t m_sectorSize;
    std::vector<std::unique_ptr<CAttrDefFileInfo>> m_records;
    CMetaFileAnalyzer m_ranges;
};

// The metafile records at the head of an MFT, one group at a time.
class CMetaFileRecordGroupinMFTAnalyzer {
public:
    struct Lists {
        std::vector<std::unique_ptr<CMFTInfo>>* mfts;
        std::vector<std::unique_ptr<CMFTMirrInfo>>* mirrors;
        std::vector<CMFTFilesPair>* pairs;
        std::vector<FindFileMFTAndLogx>* findFiles;
    };
    CMetaFileRecordGroupinMFTAnalyzer(Lists lists, CNTFSCandidateSet& set,
                                      CNTFSPartitionInfoBuilder& builder, uint32_t sectorSize)
        : m_lists(lists), m_set(set), m_builder(builder), m_sectorSize(sectorSize) {}
    void SetDeviceTotalSectors(int64_t total) { m_deviceTotal = total; }
    // Every record window the controller parses, valid or not; 1 when it
    // belongs to a group.
    int AnalyzeNTFSMetaFileRecord(int64_t sector, const CNTFSFileRecord& record);
    bool IsaMetaFileRecordNotNeedtoCount(const CNTFSFileRecord& record) const;
    // Whether a group waits for its next record (every sector then counts).
    bool IsGroupOpen() const { return m_groupSector != -1; }
    // The surface has ended: the open group is judged as it stands.
    void EndGroup() {
        AnalyzeGroup();
        ResetGroup();
    }

private:
    void ResetGroup();
    void AnalyzeGroup();
    void AnalyzeSingleMFT(CMFTInfo& mft);
    void AnalyzeMFTFilesPair(CMFTFilesPair& pair);
    void AdjustPartitionSizeandMFTSector(CSearchedNTFSPartitionInfo& c) const;
    uint32_t SectorsPerRecord(const CNTFSFileRecord& record) const;

    Lists m_lists;
    CNTFSCandidateSet& m_set;
    CNTFSPartitionInfoBuilder& m_builder;
    uint32_t m_sectorSize;
    int64_t m_deviceTotal = 0;
    CMFTInfo* m_groupMft = nullptr;
    CMFTMirrInfo* m_groupMirror = nullptr;
    int64_t m_groupSector = -1;
    uint32_t m_groupSectorsPerRecord = 2;
    int64_t m_bitmapClusters = -1;
};

// ---------------------------------------------------------------- template

template <typename Info>
const Info* FindMetaFileForCandidate(const std::vector<std::unique_ptr<Info>>& list,
                                     const CSearchedNTFSPartitionInfo& c, int64_t offsetFromMft) {
    if (c.mftRecordSector != -1) {
        for (const auto& info : list) {
            if (info->GetSectorAddress() == c.mftRecordSector + offsetFromMft)
                return info.get();
        }
    }
    const int64_t end = c.Start() + c.totalSectors;
    for (const auto& info : list) {
        if (info->GetSectorAddress() >= end)
            break;
        if (info->GetSectorAddress() >= c.Start())
            return info.get();
    }
    return nullptr;
}
