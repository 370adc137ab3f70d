// The trees of the volumes a deep search kept: each volume's FILE records,
// read back from where the scan saw them, become nodes with their parents'
// numbers, and the shared tree builder links them. Records inside a
// volume's $MFT take their numbers from their place in it; the others carry
// their own.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "NTFSIntelligentSearchInfo/NTFSMetaFileInfo.h"
#include "NTFSIntelligentSearchInfo/NTFSPartitionInfo.h"
#include "SearchInterfaces.h"
#include "Utility/ScanDamage.h"

class IStorageDevice;
class CFindFileFromLogFile;
class CNTFSNodeMaker;

// What the scan gathered that the trees are made of (borrowed from the
// controller).
struct CNTFSIntelligentSearchInfo {
    // Every $MFT seen, each with the reader of its $LogFile.
    std::vector<FindFileMFTAndLogx>* findFiles = nullptr;
    // Where FILE records lie on the surface.
    const std::vector<CCommonFileRecordPositionInfo>* positions = nullptr;
};

class CMFTDirectoryTreeBuilder {
public:
    // The record number of the record at (sector, offset) inside an $MFT
    // whose clusters count from `start`; -1 when it is not in the $MFT's
    // data or not on a record boundary.
    static int64_t GetMFTNumber(int64_t sector, uint32_t offset, const CMFTInfo& mft, int64_t start,
                                uint32_t sectorsPerCluster, uint32_t sectorSize);
};

class CNTFSDirectoryTreeBuilder {
public:
    CNTFSDirectoryTreeBuilder(const CNTFSIntelligentSearchInfo& info, IStorageDevice* device,
                              IDirecotryTreeBuilder* builder, uint32_t sectorSize,
                              vk::DamageCounter* damage);
    ~CNTFSDirectoryTreeBuilder();

    // The trees of the kept candidates (most reliable first), each under
    // its ordinal as partition index.
    void BuildDirectoryTrees(const std::vector<CSearchedNTFSPartitionInfo*>& kept);

private:
    struct Matched;
    void BuildDirectoryTree(CSearchedNTFSPartitionInfo& candidate, int ordinal);
    // Reads the candidate's FILE records back from the surface and hands
    // each to the node maker of the $MFT that holds it, or to `loose`.
    void ReadFileProperties(const CSearchedNTFSPartitionInfo& candidate, int ordinal,
                            std::vector<Matched>& matched, CNTFSNodeMaker& loose);
    // The $MFTs whose records a candidate's tree is made of.
    std::vector<CMFTInfo*> MatchMFTs(const CSearchedNTFSPartitionInfo& candidate,
                                     const std::set<const CMFTInfo*>& claimed) const;
    // Whether the record at (sector, offset) lies in the $MFT of another
    // kept candidate: then it is that volume's, not a loose record.
    bool HeldByAnotherVolume(int64_t sector, uint32_t offset, int ordinal) const;

    CNTFSIntelligentSearchInfo m_info;
    IStorageDevice* m_device;
    IDirecotryTreeBuilder* m_builder;
    uint32_t m_sectorSize;
    int64_t m_deviceTotal = 0;
    vk::DamageCounter* m_damage;
    std::vector<CSearchedNTFSPartitionInfo*> m_kept;
    std::vector<std::vector<CMFTInfo*>> m_matched;  // per kept candidate
};
