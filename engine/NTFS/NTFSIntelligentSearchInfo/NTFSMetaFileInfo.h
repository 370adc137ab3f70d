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
    // The $DATA's real size: how many bytes of records the $MFT holds.
    int64_t GetDataSize() const { return m_dataSize; }

private:
    int64_t m_sector = -1;
    CNTFSDataRunList m_runs;
    uint8_t m_sectorsPerRecord = 2;
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
