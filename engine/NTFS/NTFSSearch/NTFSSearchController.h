// The NTFS deep search: every sector of the surface is looked at for NTFS
// structures (boot sectors, $LogFile restart and record pages, index blocks,
// FILE records, the $AttrDef and $UpCase contents); each piece of evidence
// says where a volume starts and how large its clusters are. At the end the
// candidates are scored and pruned, and each kept one gets its tree.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "NTFSIntelligentSearchInfo/NTFSEvidence.h"
#include "NTFSIntelligentSearchInfo/NTFSMetaFileInfo.h"
#include "NTFSIntelligentSearchInfo/NTFSPartitionInfo.h"
#include "NTFSLib/NTFSDBR.h"
#include "SearchInterfaces.h"
#include "Utility/ScanDamage.h"

class IStorageDevice;
class CNTFSNodeMaker;

// An index block seen on the surface.
struct CIndexRecordInfo {
    int64_t sector = -1;
    int64_t vcn = -1;
    uint64_t lsn = 0;
    int64_t parent = -1;  // the folder that owns it
};

class CNTFSSearchController final : public vk::DeepSearcherBase {
public:
    // Index blocks as NTFS writes them.
    static constexpr uint32_t kIndexBlockBytes = 4096;
    // Structures are looked for in windows of at most this many sectors.
    static constexpr int kWindowSectors = 16;
    // Runs of FILE records kept for the trees; a surface that scatters more
    // is damage beyond what a tree can be made of.
    static constexpr size_t kMaxPositions = 4u << 20;

    CNTFSSearchController();
    ~CNTFSSearchController() override;

    // Before EndSearch: every candidate, in start order. After it: the kept
    // candidates, most reliable first.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void PreparetoSearch() override;
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;

    // The candidates as they stand (tests).
    CNTFSCandidateSet& Candidates() { return m_candidates; }
    const std::vector<CSearchedNTFSPartitionInfo*>& Kept() const { return m_kept; }
    uint64_t DamagedCount() const { return m_damage.Count(); }
    size_t IndexRecordCount() const { return m_indexRecords.size(); }
    const std::vector<CCommonFileRecordPositionInfo>& Positions() const { return m_positions; }
    int64_t LogRecordPageSectors() const { return m_logFile ? m_logFile->RecordPageSectors() : 0; }

private:
    // The sectors of a block: the read-ahead cache's own copy, or read here
    // (unreadable sectors zeroed). Null when nothing of it can be read.
    const uint8_t* BlockData(int64_t first, int64_t count);
    void AnalyzeSectors(const uint8_t* block, int64_t first, int64_t count);
    void AnalyzeNTFSDBRSector(int64_t sector, const uint8_t* data);
    int AnalyzeIndexRecord(int64_t sector, const uint8_t* window, size_t length);
    int AnalyzeIndexBlock(int64_t sector, const uint8_t* block);
    void AnalyzeNTFSFileRecordSector(int64_t sector, const uint8_t* window, size_t length);
    void AnalyzeParsedRecord(int64_t sector, const CNTFSFileRecord& record);
    void AnalyzeFolderFileRecordHavingIndexAllocation(int64_t sector,
                                                      const CNTFSFileRecord& record);
    void AnalyzeNormalFileRecord(int64_t sector, const CNTFSFileRecord& record);
    void AddPosition(int64_t sector, uint32_t sectorsPerRecord, bool fresh);
    void MatchFolder(const CIndexRecordInfo& index, const CFolderIndexAllocationInfo& folder);
    // A boot-sector reading merged into its equals (which take its serial
    // number and size when no boot sector spoke for them yet); true when
    // there were equals.
    bool MergeBootReading(const CSearchedNTFSPartitionInfo& reading);
    void ForgetJoins();
    void ScoreAndPrune();
    // The kept candidates' trees.
    void SetSearchedNTFSPartitionBelongCtrl();
    void FreeWorkingState();

    IStorageDevice* m_device = nullptr;
    uint32_t m_sectorSize = 512;
    int64_t m_deviceTotal = 0;
    bool m_prepared = false;
    std::vector<uint8_t> m_block;
    std::vector<uint8_t> m_indexCopy;

    CNTFSCandidateSet m_candidates;
    CNTFSPartitionInfoBuilder m_partitionBuilder{m_candidates};
    std::vector<CSearchedNTFSPartitionInfo*> m_kept;  // after EndSearch, best first
    bool m_ended = false;

    std::multimap<int64_t, CIndexRecordInfo> m_indexRecords;  // by parent
    std::multimap<int64_t, std::unique_ptr<CFolderIndexAllocationInfo>>
        m_folders;  // by record number
    std::vector<std::unique_ptr<CMFTInfo>> m_mfts;
    std::vector<std::unique_ptr<CMFTMirrInfo>> m_mirrors;
    std::vector<CMFTFilesPair> m_pairs;
    std::vector<FindFileMFTAndLogx> m_findFiles;
    std::vector<CCommonFileRecordPositionInfo> m_positions;

    std::unique_ptr<CMetaFileRecordGroupinMFTAnalyzer> m_group;
    std::unique_ptr<CAttrDefFileAnalyzer> m_attrDef;
    std::unique_ptr<CUpCaseFileAnalyzer> m_upCase;
    std::unique_ptr<CLogFileAnalyzer> m_logFile;
    CNTFSFileRecord m_notARecord;  // handed to the group analyser for other sectors

    // Records cut by the end of a block, completed by the next one. They
    // belong to this scan alone.
    std::vector<uint8_t> m_fileJoin;
    int64_t m_fileJoinSector = -1;
    size_t m_fileJoinNeed = 0;
    std::vector<uint8_t> m_indexJoin;
    int64_t m_indexJoinSector = -1;

    vk::DamageCounter m_damage{"NTFS deep search"};
};
