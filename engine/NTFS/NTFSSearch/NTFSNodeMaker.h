// Turning one MFT file record into the nodes the tree builder receives:
// the record with its extension records, its properties (runs given back
// from the $LogFile when its deletion took them), one node per name (hard
// links). The quick search and the deep search's tree building share it.
#pragma once

#include <cstdint>
#include <vector>

#include "FindFileFromLogFile.h"
#include "NTFSLib/NTFSFileNode.h"
#include "NTFSLib/NTFSMultiFileRecord.h"
#include "SearchInterfaces.h"
#include "Utility/ScanDamage.h"

struct NTFSNodeContext {
    IStorageDevice* device = nullptr;
    IDirecotryTreeBuilder* builder = nullptr;
    // Where the volume's records lie (run origin, sizes, $MFT runs).
    NTFSRecordLocator locator;
    uint32_t sectorsPerCluster = 0;
    uint64_t totalClusters = 0;
    // Found-partition index the nodes carry.
    unsigned short partitionIndex = 0;
    // Asked in turn to give a deleted file back its runs.
    std::vector<CFindFileFromLogFile*> logFiles;
    vk::DamageCounter* damage = nullptr;
};

class CNTFSNodeMaker {
public:
    explicit CNTFSNodeMaker(const NTFSNodeContext& context) : m_c(context) {}

    // The nodes of the record whose first byte lies at (sector, offset),
    // whose MFT number is `number` (-1: the record's own number, if it
    // carries one). False when the record makes no node (not a record, an
    // extension record, a metafile, no name).
    bool MakeNodes(const uint8_t* bytes, size_t size, int64_t number, int64_t sector,
                   uint32_t offset);
    // Files whose record now holds another file, from their images in the
    // log.
    void MakeNodesFromReusedRecords(CFindFileFromLogFile& log);
    size_t NodesMade() const { return m_made; }

private:
    void CreateFileNode(int64_t number, int64_t parent, CNTFSFileProperties* properties,
                        int64_t sector);
    void CreateLinkNodes(CNTFSMultiFileRecord& record, int64_t number,
                         CNTFSFileProperties& properties, int64_t parent, int64_t sector);
    bool RunsInsideVolume(CNTFSFileProperties* properties) const;
    void Skip(const char* what, int64_t where, const char* why) const {
        if (m_c.damage != nullptr)
            m_c.damage->Skip(what, static_cast<uint64_t>(where), why);
    }

    NTFSNodeContext m_c;
    size_t m_made = 0;
    // The record whose nodes are being made was torn: they are damaged.
    bool m_recordTorn = false;
};
