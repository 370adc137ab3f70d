// The quick search of a live NTFS volume: the $MFT found from the boot
// sector (through its mirror when its first records are damaged), the
// $LogFile pass, then every record of the $MFT in order turned into a node
// for the tree builder. Records not in use become deleted nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "FindFileFromLogFile.h"
#include "NTFSFactories.h"
#include "NTFSIntelligentSearchInfo/NTFSMetaFileInfo.h"
#include "NTFSLib/NTFSDBR.h"
#include "NTFSLib/NTFSMultiFileRecord.h"
#include "NTFSNodeMaker.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "Utility/ScanDamage.h"

// Error numbers of module 0x12.
enum NTFSQuickSearchError : uint32_t {
    kErrNTFSNoDeviceOrProgress = 0x05,
    kErrNTFSNotNTFSVolume = 0x10,
    kErrNTFSNoMFT = 0x11,
};

class CNTFSQuickSearch final : public IQuickFileSystemSearchController {
public:
    CNTFSQuickSearch();
    ~CNTFSQuickSearch() override = default;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // The volume searched (type 3, clusters from sector 0); none before a
    // boot sector was read.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // 0 when the walk ran (also when stopped); module 0x12 errors: 5 without
    // device or progress sink, 0x10 when sector 0 is not an NTFS boot sector
    // the device can address, 0x11 when neither the $MFT record nor its
    // mirror gives the $MFT's runs.
    VKRESULT QuickSearchFiles(IStorageDevice* device, IProgress* progress) override;

    // Damaged structures skipped by the last search.
    uint64_t DamagedCount() const { return m_damage.Count(); }
    const CFindFileFromLogFile& LogFile() const { return m_logFile; }

    // Bytes of $MFT read per device request.
    static constexpr uint32_t kWalkBufferBytes = 1u << 20;

private:
    // The $MFT's runs from one copy of its record; false when it is not a
    // sound $MFT record.
    bool ReadMFTRuns(int64_t cluster, CNTFSDataRunList& runs, int64_t* records);
    VKRESULT BuildFileNodeFromMFTFileRecord(const CNTFSDataRunList& runs, int64_t records);
    // One record of the walk, whose first byte is at (sector, offset).
    void BuildFileNodeFromBuffer(const uint8_t* bytes, int64_t number, int64_t sector,
                                 uint32_t offset);
    // Files the $LogFile still has whose records now hold other files.
    void BuildNodesFromReusedRecords();

    IStorageDevice* m_device = nullptr;
    IProgress* m_progress = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    CSearchedPartitionInfo m_volume;
    bool m_haveVolume = false;
    NTFSVolumeGeometry m_geometry;
    CNTFSDataRunList m_mftRuns;
    NTFSRecordLocator m_locator;
    CFindFileFromLogFile m_logFile;
    std::unique_ptr<CNTFSNodeMaker> m_nodes;
    vk::DamageCounter m_damage{"NTFS quick search"};
};
