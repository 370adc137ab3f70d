// NTFS partition candidates of the deep search: each states that a volume
// with clusters of so many sectors starts at a sector, carries the evidence
// that says so, and is scored and pruned at the end of the scan.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "ByteReader.h"
#include "SearchedPartitionInfo.h"

class CNTFSDBR;

// What a candidate was built from.
enum NTFSBuildFromFlag : uint32_t {
    kNTFSFromBootSector = 0x01,
    kNTFSFromBackupBootSector = 0x02,
    kNTFSFromMftAndMirror = 0x04,
    kNTFSFromMft = 0x08,
    kNTFSFromMirror = 0x10,
    kNTFSFromFolders = 0x20,
    kNTFSFromFirstRestartPage = 0x40,
    kNTFSFromSecondRestartPage = 0x80,
};

class CSearchedNTFSPartitionInfo : public CSearchedPartitionInfo {
public:
    // Cluster sizes a candidate may have when the evidence does not say.
    static constexpr uint32_t kSupportedSectorsPerCluster[] = {1, 2, 4, 8, 16, 32, 64, 128};

    explicit CSearchedNTFSPartitionInfo(unsigned sectorSize = 512);
    int GetType() override { return 0; }

    // The device sector of the volume's cluster 0.
    int64_t Start() const { return runOriginSector; }
    int64_t FolderMatches() const { return position2; }
    void AddFolderMatch() { ++position2; }
    int64_t ReliabilityScore() const { return fsValue; }

    uint32_t GetPartitionBuildFromFlags() const { return flags; }
    void SetPartitionBuildFromFlag(uint32_t f) { flags = f; }
    void AddPartitionBuildFromFlag(uint32_t f) { flags |= f; }

    // A candidate from the statement that the structure at `recordSector`
    // is cluster `cluster` of its volume: none when the volume would start
    // before sector 0 or less than 8 sectors before the structure.
    static std::unique_ptr<CSearchedNTFSPartitionInfo> BuildPartitionInfoAccordingtoFileRecord(
        int64_t recordSector, int64_t cluster, uint32_t sectorsPerCluster, uint32_t flag,
        int64_t deviceTotalSectors, unsigned sectorSize);
    // A candidate from a boot sector read as lying at `start` (its first
    // sector) or elsewhere (the caller's start for a backup reading); none
    // when fewer than 8 sectors of the device are left.
    static std::unique_ptr<CSearchedNTFSPartitionInfo> BuildPartitionInfoFromDBR(
        const CNTFSDBR& dbr, int64_t start, uint32_t flag, int64_t deviceTotalSectors,
        unsigned deviceSectorSize);

    // The NTFS part in a result file: 96 bytes, little-endian.
    static constexpr size_t kSavedBytes = 96;
    template <typename Frame>
    bool Save(Frame& frame) const;
    template <typename Frame>
    bool Restore(Frame& frame);

    int64_t serialNumber = 0;
    uint32_t sectorsPerFileRecord = 2;
    uint32_t flags = 0;
    int32_t mftLocated = 0;
    int32_t reserved = 0;
    int64_t totalClusters = -1;
    int64_t logFileMatch = -1;
    int64_t attrDefMatch = -1;
    int64_t upCaseMatch = -1;
    int64_t mftRecordSector = -1;
    int64_t logFileRecordSector = -1;
    int64_t attrDefRecordSector = -1;
    int64_t upCaseRecordSector = -1;
    int64_t bitmapSectors = -1;
};

// By start, then by cluster size; candidates equal by both share evidence.
struct CSearchedNTFSPartitionInfoLessThan {
    bool operator()(const CSearchedNTFSPartitionInfo* a,
                    const CSearchedNTFSPartitionInfo* b) const {
        return a->Start() != b->Start() ? a->Start() < b->Start()
                                        : a->sectorsPerCluster < b->sectorsPerCluster;
    }
};

// The candidates of one scan; the set owns them.
class CNTFSCandidateSet {
public:
    using Set = std::multiset<CSearchedNTFSPartitionInfo*, CSearchedNTFSPartitionInfoLessThan>;
    // Far more than any surface shows; a bound on what damage can grow.
    static constexpr size_t kMaxCandidates = 100000;

    CNTFSCandidateSet() = default;
    ~CNTFSCandidateSet() { Clear(); }
    CNTFSCandidateSet(const CNTFSCandidateSet&) = delete;
    CNTFSCandidateSet& operator=(const CNTFSCandidateSet&) = delete;

    void Clear();
    bool Insert(std::unique_ptr<CSearchedNTFSPartitionInfo> candidate);
    // Removes and destroys one candidate.
    Set::iterator Erase(Set::iterator it);
    std::pair<Set::iterator, Set::iterator> EqualRange(const CSearchedNTFSPartitionInfo& c);
    Set& Items() { return m_set; }
    size_t Size() const { return m_set.size(); }

private:
    Set m_set;
};

// Flag bookkeeping over the candidate set.
class CNTFSPartitionInfoBuilder {
public:
    explicit CNTFSPartitionInfoBuilder(CNTFSCandidateSet& set) : m_set(set) {}
    void SetDeviceTotalSectors(int64_t total) { m_deviceTotal = total; }
    int64_t DeviceTotalSectors() const { return m_deviceTotal; }
    // For every candidate equal to `c`: flags = (flags & ~clear) | add; one
    // left without flags is removed. 1 when there was an equal candidate.
    int AdjustPartitionBuildFromFlag(const CSearchedNTFSPartitionInfo& c, uint32_t add,
                                     uint32_t clear);
    // Adds the evidence of a new candidate to its equals, or inserts it.
    void Merge(std::unique_ptr<CSearchedNTFSPartitionInfo> candidate);

private:
    CNTFSCandidateSet& m_set;
    int64_t m_deviceTotal = 0;
};

// 0 to 140 from the flags and the three match counts.
int64_t CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& c);

// ---------------------------------------------------------------- templates

template <typename Frame>
bool CSearchedNTFSPartitionInfo::Save(Frame& frame) const {
    uint8_t b[kSavedBytes];
    size_t o = 0;
    auto put64 = [&](int64_t v) {
        vk::StoreLE<int64_t>(b + o, v);
        o += 8;
    };
    auto put32 = [&](uint32_t v) {
        vk::StoreLE<uint32_t>(b + o, v);
        o += 4;
    };
    put64(serialNumber);
    put32(sectorsPerFileRecord);
    put32(flags);
    put32(static_cast<uint32_t>(mftLocated));
    put32(static_cast<uint32_t>(reserved));
    for (int64_t v : {totalClusters, logFileMatch, attrDefMatch, upCaseMatch, mftRecordSector,
                      logFileRecordSector, attrDefRecordSector, upCaseRecordSector, bitmapSectors})
        put64(v);
    return frame.WriteCurFrame(b, kSavedBytes) != 0;
}

template <typename Frame>
bool CSearchedNTFSPartitionInfo::Restore(Frame& frame) {
    uint8_t b[kSavedBytes];
    if (!frame.ReadCurFrame(b, kSavedBytes))
        return false;
    size_t o = 0;
    auto get64 = [&] {
        const int64_t v = vk::LoadLE<int64_t>(b + o);
        o += 8;
        return v;
    };
    auto get32 = [&] {
        const uint32_t v = vk::LoadLE<uint32_t>(b + o);
        o += 4;
        return v;
    };
    serialNumber = get64();
    sectorsPerFileRecord = get32();
    flags = get32();
    mftLocated = static_cast<int32_t>(get32());
    reserved = static_cast<int32_t>(get32());
    for (int64_t* v :
         {&totalClusters, &logFileMatch, &attrDefMatch, &upCaseMatch, &mftRecordSector,
          &logFileRecordSector, &attrDefRecordSector, &upCaseRecordSector, &bitmapSectors})
        *v = get64();
    return true;
}
