#include "NTFSMetaFileInfo.h"

#include <algorithm>

#include "NTFSLib/NTFSIndexRecord.h"
#include "NTFSLib/NTFSMultiFileRecord.h"

std::unique_ptr<CMFTInfo> CMFTInfo::Build(const CNTFSFileRecord& record, int64_t sector,
                                          uint32_t sectorSize, uint32_t knownSectorsPerCluster) {
    if (!record.IsValid() || !CMetaFileRecordTypeAnalyzer::IsValidMFTFileRecord(record))
        return nullptr;
    auto info = std::make_unique<CMFTInfo>();
    uint32_t spc = knownSectorsPerCluster;
    if (spc == 0 &&
        !CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, sectorSize, &spc))
        return nullptr;
    if (spc == 0)
        return nullptr;
    int64_t size = 0;
    if (!CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, info->m_runs, false,
                                                                     &size) ||
        info->m_runs.IsEmpty())
        return nullptr;
    info->m_runs.Sort();
    if (info->m_runs.GetLCN(0) < 0)
        return nullptr;
    info->m_sector = sector;
    info->m_sectorsPerCluster = spc;
    info->m_dataSize = size;
    const uint32_t recordBytes = record.GetAllocatedSize() ? record.GetAllocatedSize() : 1024;
    info->m_recordBytes = recordBytes;
    info->m_sectorsPerRecord =
        static_cast<uint8_t>(std::max<uint32_t>(1, recordBytes / (sectorSize ? sectorSize : 512)));
    return info;
}

bool CMFTInfo::InitFromBuffer(const uint8_t* record, size_t size, int64_t sector,
                              uint32_t sectorSize, uint32_t knownSectorsPerCluster) {
    CNTFSFileRecord parsed(record, size);
    auto built = Build(parsed, sector, sectorSize, knownSectorsPerCluster);
    if (!built)
        return false;
    *this = std::move(*built);
    return true;
}

bool CCommonFileRecordInfo::InitFromBuffer(const CNTFSFileRecord& record, int64_t sector) {
    if (!record.IsValid())
        return false;
    m_directory = record.IsFolder();
    if (record.HasXPNumberOfthisMFTRecord())
        m_number = record.GetXPNumberOfthisMFTRecord();
    m_parent = -1;
    for (int n : {1, 0}) {
        CNTFSFileRecordFileNameAttribute name(
            record.FindAttibute(ntfs::layout::attr::kFileName, n));
        // (A valid record's names were checked when it was read.)
        if (!name.Empty() && name.GetFileRecordNumberofParentDirectory() >= 5) {
            m_parent = name.GetFileRecordNumberofParentDirectory();
            break;
        }
    }
    m_sector = sector;
    return true;
}

bool CCommonFileRecordInfo::InitFromBuffer(const uint8_t* record, size_t size, int64_t sector) {
    return InitFromBuffer(CNTFSFileRecord(record, size), sector);
}

bool CMetaFileInfo::InitFromRecord(const CNTFSFileRecord& record, int64_t sector) {
    m_runs.ClearDataRunList();
    if (!record.IsValid() || !CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(
                                 record, m_runs, false, &m_dataSize))
        return false;
    m_runs.Sort();
    if (m_runs.IsEmpty() || m_runs.GetLCN(0) < 0)
        return false;
    m_sector = sector;
    m_lsn = record.GetLogFileSequenceNumber();
    return true;
}

std::unique_ptr<CMFTMirrInfo> CMFTMirrInfo::Build(const CNTFSFileRecord& record, int64_t sector,
                                                  uint32_t sectorSize) {
    auto info = std::make_unique<CMFTMirrInfo>();
    if (!CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, sectorSize,
                                                               &info->m_sectorsPerCluster) ||
        info->m_sectorsPerCluster == 0 || !info->InitFromRecord(record, sector))
        return nullptr;
    return info;
}

bool CLogFileInfo::InitFromBuffer(const CNTFSFileRecord& record, int64_t sector,
                                  uint32_t sectorSize) {
    return CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, sectorSize,
                                                                 &m_sectorsPerCluster) &&
           m_sectorsPerCluster != 0 && InitFromRecord(record, sector);
}

bool CBitmapFileInfo::InitFromBuffer(const CNTFSFileRecord& record, int64_t sector) {
    CNTFSDataRunList runs;
    int64_t size = 0;
    if (!record.IsValid() ||
        !CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, false, &size))
        return false;
    if (size <= 0 || runs.GetTotalClusters() <= 0)
        return false;
    m_size = size;
    m_sector = sector;
    return true;
}

bool CFolderIndexAllocationInfo::InitFromBuffer(const CNTFSFileRecord& record, int64_t sector,
                                                uint32_t sectorSize) {
    if (!record.IsValid() || record.IsExtendFileRecord())
        return false;
    int64_t number = -1;
    CNTFSFileRecordAttribute root = record.FindAttibute(ntfs::layout::attr::kIndexRoot, 0);
    if (!root.Empty())
        number = CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(root);
    CNTFSFileRecordDataRunsAttribute allocation(
        record.FindAttibute(ntfs::layout::attr::kIndexAllocation, 0));
    if (allocation.Empty() || allocation.IsResident() || allocation.GetLength() == 0 ||
        !allocation.GetDataRunList(m_runs))
        return false;
    m_sectorsPerCluster = allocation.GetSectorsPerCluster(sectorSize);
    if (m_sectorsPerCluster == 0)
        return false;
    m_sector = sector;
    m_lsn = record.GetLogFileSequenceNumber();
    if (record.HasXPNumberOfthisMFTRecord() && number == -1)
        number = record.GetXPNumberOfthisMFTRecord();
    m_number = number;
    // The root folder's blocks name the root (5), which every volume has:
    // no evidence of where this one lies.
    return m_number != -1 && m_number != 5;
}

bool CCommonFileRecordPositionInfo::Merge(int64_t sector, uint32_t sectorsPerRecord) {
    if (sectorsPerRecord != m_sectorsPerRecord || sector != End())
        return false;
    ++m_count;
    return true;
}
