#include "NTFSIntelligentSearchInfo/NTFSMetaFileInfo.h"

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
    info->m_sectorsPerRecord = static_cast<uint8_t>(recordBytes / (sectorSize ? sectorSize : 512));
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
