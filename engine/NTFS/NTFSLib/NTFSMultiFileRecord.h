// Files spread over a base record and the extension records its
// $ATTRIBUTE_LIST names: where those records lie, reading them, and finding
// the n-th attribute of a type across all of them. Also the collection of a
// record's $DATA runs used to find the $MFT's own clusters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "NTFSDataRun.h"
#include "NTFSFileRecord.h"

class IStorageDevice;

// Turns MFT record numbers into device positions through the $MFT's runs.
// Positions are worked out in bytes, so records smaller than a device
// sector (1 KiB records on 4 KiB sectors) get their own place too.
struct NTFSRecordLocator {
    int64_t runOrigin = 0;      // device sector of cluster 0
    uint32_t sectorSize = 512;  // device sector size
    uint64_t clusterBytes = 0;
    uint32_t recordBytes = 1024;
    const CNTFSDataRunList* mftRuns = nullptr;

    // False when the record lies in no cluster of the $MFT runs.
    bool Locate(int64_t recordNumber, int64_t* sector, uint32_t* offsetInSector) const;
    // Reads one record (recordBytes bytes) at a located position.
    static bool ReadAt(IStorageDevice* device, int64_t sector, uint32_t offsetInSector,
                       uint32_t recordBytes, std::vector<uint8_t>& out);
};

// One record named by an attribute list. startSector is -1 while unknown or
// when the record lies in no known cluster.
struct CAttributeListExtendFileRecordInfo {
    int64_t startSector = -1;
    uint32_t offsetInSector = 0;
    int64_t recordNumber = 0;
};
using ExtendFileRecordInfoList = std::vector<CAttributeListExtendFileRecordInfo>;

// An extension record, read on first use.
struct CAttributeListExtendFileRecordBufferInfo {
    CAttributeListExtendFileRecordInfo where;
    bool read = false;
    std::unique_ptr<CNTFSFileRecord> record;  // null when unreadable or not a usable record
};

// An attribute found across the records of one file.
struct NTFSAttributeRef {
    CNTFSFileRecordAttribute attribute;
    size_t offset = 0;            // inside the record that holds it
    int64_t sector = -1;          // that record's first device sector
    uint32_t offsetInSector = 0;  // and its first byte inside that sector
    bool Empty() const { return attribute.Empty(); }
};

class CNTFSMultiFileRecord {
public:
    // The records a base record's first $ATTRIBUTE_LIST names, each once,
    // start sectors unknown. Null for an invalid record or one without a
    // list, for a non-resident list with damaged runs or one larger than
    // NTFS allows (256 KiB), and for an empty list. Non-resident lists are
    // read at partitionStart + sectorsPerCluster * LCN.
    static std::unique_ptr<ExtendFileRecordInfoList> GetExtendFileRecordInfoList(
        const CNTFSFileRecord& record, int64_t partitionStart, uint32_t sectorsPerCluster,
        IStorageDevice* device);
    static void CalcFileRecordStartSectorinExtendFileRecordInfoList(
        ExtendFileRecordInfoList& list, const NTFSRecordLocator& locator);
    // Drops the base record itself (by number or by place) and records of
    // unknown place.
    static void RemoveMainFileRecordInfofromFileRecordInfoList(ExtendFileRecordInfoList& list,
                                                               int64_t baseSector,
                                                               uint32_t baseOffset,
                                                               int64_t baseNumber);
    // The three steps; null when the record names no list, otherwise the
    // (possibly empty) list of extension records with their places.
    static std::unique_ptr<ExtendFileRecordInfoList> InitExtendFileRecord(
        const CNTFSFileRecord& record, int64_t baseSector, uint32_t baseOffset, int64_t baseNumber,
        const NTFSRecordLocator& locator, IStorageDevice* device);
    static bool HasSameExtendFileRecordInfoList(const ExtendFileRecordInfoList& list,
                                                int64_t recordNumber);
    static void RemoveMainMFTFileRecordInfofromList(ExtendFileRecordInfoList& list);

    // Over a caller's record object (not copied; it must outlive this one).
    CNTFSMultiFileRecord(const CNTFSFileRecord& base, int64_t baseSector, uint32_t baseOffset,
                         IStorageDevice* device, const ExtendFileRecordInfoList* infoList);
    // Over raw bytes, copied.
    CNTFSMultiFileRecord(const uint8_t* record, size_t size, int64_t baseSector,
                         uint32_t baseOffset, IStorageDevice* device,
                         const ExtendFileRecordInfoList* infoList);

    bool IsValid() const { return m_base != nullptr && m_base->IsValid(); }
    bool IsinUse() const { return IsValid() && m_base->IsinUse(); }
    bool IsFolder() const { return IsValid() && m_base->IsFolder(); }
    int64_t GetMainFileRecordIndex() const;
    const CNTFSFileRecord& Base() const { return *m_base; }
    int64_t BaseSector() const { return m_baseSector; }

    // The n-th attribute of `type`, counted through the base record and then
    // each extension record in list order; extension records that cannot be
    // read, are not valid, or belong to another base record do not count.
    NTFSAttributeRef FindAttibute(uint32_t type, int n);

private:
    void Adopt(IStorageDevice* device, const ExtendFileRecordInfoList* infoList);
    const CNTFSFileRecord* Extension(size_t i);

    std::optional<CNTFSFileRecord> m_own;
    const CNTFSFileRecord* m_base = nullptr;
    int64_t m_baseSector = -1;
    uint32_t m_baseOffset = 0;
    IStorageDevice* m_device = nullptr;
    std::vector<CAttributeListExtendFileRecordBufferInfo> m_extensions;
};

// The $DATA runs of single records.
class CNTFSFileRecordAnalyzer {
public:
    // An unnamed, valid non-resident attribute's runs appended at its first
    // VCN; realSize its real size (0 without pairs). False adds nothing.
    static bool AddDataRunListfromNonResidentAttributeBuffer(
        const CNTFSFileRecordAttribute& attribute, int64_t* realSize, int64_t* firstVcn,
        CNTFSDataRunList& runList);
    // Every unnamed $DATA of this one record: false for a resident one or
    // (with checkTotals) one whose pairs cover another number of clusters
    // than its VCN range; realSize that of the extent at VCN 0.
    static bool AddDataRunListfromFileRecordBuffer(const CNTFSFileRecord& record,
                                                   CNTFSDataRunList& runList, bool checkTotals,
                                                   int64_t* realSize);
    // Sectors per cluster from real size / clusters of the unnamed $DATA,
    // raised to a power of two (0 above 128 or without clusters).
    static bool GetSectorsPerClusterfrom0x80(const CNTFSFileRecord& record, uint32_t sectorSize,
                                             uint32_t* sectorsPerCluster);
    static bool IsValidFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record) {
        return CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(record);
    }
};
