// What the NTFS searches keep about file records they have read: the $MFT
// record with its runs (where every other record lies) and, for any record
// turned into a node, its folder flag, place, parent and number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "NTFSLib/NTFSDataRun.h"
#include "NTFSLib/NTFSFileRecord.h"

class IFileProperties;
class CFindFileFromLogFile;

// A $MFT record: its sector and the runs of its unnamed $DATA.
class CMFTInfo {
public:
    // From a valid "$MFT" record whose unnamed $DATA maps VCN 0 and gives
    // the cluster size (or whose cluster size the caller knows). Null
    // otherwise.
    static std::unique_ptr<CMFTInfo> Build(const CNTFSFileRecord& record, int64_t sector,
                                           uint32_t sectorSize = 512,
                                           uint32_t knownSectorsPerCluster = 0);
    bool InitFromBuffer(const uint8_t* record, size_t size, int64_t sector,
                        uint32_t sectorSize = 512, uint32_t knownSectorsPerCluster = 0);

    int64_t GetSectorAddress() const { return m_sector; }
    const CNTFSDataRunList& GetNTFSDataRunList() const { return m_runs; }
    CNTFSDataRunList& GetNTFSDataRunList() { return m_runs; }
    // The LCN of the run that starts at VCN 0; -1 when none.
    int64_t GetFirstClusterNO() const { return m_runs.GetLCN(0); }
    uint32_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    uint8_t GetSectorsPerFileRecord() const { return m_sectorsPerRecord; }
    // Bytes of one record, from the record's own header.
    uint32_t GetRecordBytes() const { return m_recordBytes; }
    // The $DATA's real size: how many bytes of records the $MFT holds.
    int64_t GetDataSize() const { return m_dataSize; }

private:
    int64_t m_sector = -1;
    CNTFSDataRunList m_runs;
    uint8_t m_sectorsPerRecord = 2;
    uint32_t m_recordBytes = 1024;
    uint32_t m_sectorsPerCluster = 0;
    int64_t m_dataSize = 0;
};

// A record read back to become a node.
class CCommonFileRecordInfo {
public:
    // A valid record: its folder flag, its own number when it carries one,
    // and its parent from the second $FILE_NAME when that names record 5 or
    // above, else from the first (records 0 to 4 are metafiles: no parent).
    bool InitFromBuffer(const CNTFSFileRecord& record, int64_t sector);
    bool InitFromBuffer(const uint8_t* record, size_t size, int64_t sector);

    bool IsDirectory() const { return m_directory; }
    int64_t GetSectorAddress() const { return m_sector; }
    int64_t GetFileRecordNumberofParentDirectory() const { return m_parent; }
    void SetFileRecordNumberofParentDirectory(int64_t parent) { m_parent = parent; }
    int64_t GetMFTFileRecordNumber() const { return m_number; }
    void SetMFTFileRecordNumber(int64_t number) { m_number = number; }
    // Handed on to the node made for the record; never freed here.
    IFileProperties* GetNTFSFileProperties() const { return m_properties; }
    void SetNTFSFileProperties(IFileProperties* properties) { m_properties = properties; }

private:
    bool m_directory = false;
    int64_t m_sector = 0;
    int64_t m_parent = -1;
    IFileProperties* m_properties = nullptr;
    int64_t m_number = -1;
};

// A metafile record found on the surface: its sector, the runs of its
// unnamed data and its $LogFile sequence number.
class CMetaFileInfo {
public:
    // A valid record whose unnamed data has runs (VCN 0 mapped).
    bool InitFromRecord(const CNTFSFileRecord& record, int64_t sector);
    int64_t GetSectorAddress() const { return m_sector; }
    const CNTFSDataRunList& GetNTFSDataRunList() const { return m_runs; }
    int64_t GetFirstClusterNO() const { return m_runs.GetLCN(0); }
    uint64_t GetLogFileSequenceNumber() const { return m_lsn; }
    int64_t GetDataSize() const { return m_dataSize; }

protected:
    int64_t m_sector = -1;
    CNTFSDataRunList m_runs;
    uint64_t m_lsn = 0;
    int64_t m_dataSize = 0;
};

// $MFTMirr, $LogFile, $AttrDef and $UpCase records, with the cluster size
// their data gives (0 when it does not tell).
class CMFTMirrInfo : public CMetaFileInfo {
public:
    // Requires the cluster size.
    static std::unique_ptr<CMFTMirrInfo> Build(const CNTFSFileRecord& record, int64_t sector,
                                               uint32_t sectorSize);
    uint32_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }

private:
    uint32_t m_sectorsPerCluster = 0;
};

class CLogFileInfo : public CMetaFileInfo {
public:
    // Requires the cluster size.
    bool InitFromBuffer(const CNTFSFileRecord& record, int64_t sector, uint32_t sectorSize);
    uint32_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }

private:
    uint32_t m_sectorsPerCluster = 0;
};

class CAttrDefFileInfo : public CMetaFileInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, int64_t sector) {
        return InitFromRecord(record, sector);
    }
};

class CUpCaseFileInfo : public CMetaFileInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, int64_t sector) {
        return InitFromRecord(record, sector);
    }
};

// A $Bitmap record: how large the volume is, from the bits it keeps.
class CBitmapFileInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, int64_t sector);
    int64_t GetFileSize() const { return m_size; }
    int64_t GetSectorAddress() const { return m_sector; }

private:
    int64_t m_size = -1;
    int64_t m_sector = -1;
};

// An $MFT record and the $MFTMirr record that followed it in one group.
struct CMFTFilesPair {
    CMFTInfo* mft = nullptr;
    CMFTMirrInfo* mirror = nullptr;
};

// Every $MFT record kept, with the $LogFile reader of its volume.
struct FindFileMFTAndLogx {
    CMFTInfo* mft = nullptr;
    std::unique_ptr<CFindFileFromLogFile> logFile;
};

// A folder record with an index allocation: its own number and the runs of
// its index blocks, which tie the blocks found on the surface to clusters.
class CFolderIndexAllocationInfo {
public:
    // A valid base folder record (not the root) whose number is known, with
    // a non-resident $INDEX_ALLOCATION whose runs decode.
    bool InitFromBuffer(const CNTFSFileRecord& record, int64_t sector, uint32_t sectorSize);
    int64_t GetLCN(int64_t vcn) const { return m_runs.GetLCN(vcn); }
    int64_t GetMFTFileRecordNumber() const { return m_number; }
    int64_t GetSectorAddress() const { return m_sector; }
    uint32_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    uint64_t GetLogFileSequenceNumber() const { return m_lsn; }

private:
    int64_t m_sector = -1;
    CNTFSDataRunList m_runs;
    uint64_t m_lsn = 0;
    int64_t m_number = -1;
    uint32_t m_sectorsPerCluster = 0;
};

// A run of FILE records lying back to back: its first sector, how many, and
// the sectors each takes.
class CCommonFileRecordPositionInfo {
public:
    CCommonFileRecordPositionInfo(int64_t sector, uint32_t sectorsPerRecord)
        : m_sector(sector), m_sectorsPerRecord(sectorsPerRecord ? sectorsPerRecord : 2) {}
    // Takes a record that follows the run directly; false otherwise.
    bool Merge(int64_t sector, uint32_t sectorsPerRecord);
    int64_t GetFileRecordStartSector() const { return m_sector; }
    int64_t GetFileRecordCount() const { return m_count; }
    uint32_t GetSectorsPerRecord() const { return m_sectorsPerRecord; }
    int64_t End() const { return m_sector + m_count * m_sectorsPerRecord; }

private:
    int64_t m_sector;
    int64_t m_count = 1;
    uint32_t m_sectorsPerRecord;
};
