// Directory sectors met on the surface, gathered into runs (CFileSet): the
// entry sets of consecutive directory sectors are assembled into file
// records, and a set cut by a cluster boundary is joined again with its
// other half when that half turns up elsewhere (a fragmented directory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "ByteReader.h"
#include "ExFatEntrySet.h"
#include "ExFatFileSet.h"

class CFDTPreAnaylze {
public:
    // Halves of split entry sets waiting for their other half; beyond this
    // many the oldest is forgotten (a disk full of junk must not grow them
    // without end, nor make every join try them all).
    static constexpr size_t kMaxKept = 4096;
    // What is kept of a sector that begins with the rest of a set: the
    // longest rest a set can have (18 secondary entries).
    static constexpr size_t kTailBytes = 576;
    // The longest entry set: a file entry and 18 secondaries.
    static constexpr size_t kMaxSetBytes = 608;

    CFDTPreAnaylze();

    void PrepareAnayze(uint32_t sectorSize, uint8_t clusterShift, uint64_t totalSectors);
    // One sector that may be a directory sector, with `after` bytes of the
    // sectors following it in memory behind it. True when the current run is
    // finished (an entry failed, the run reached the largest cluster it can
    // have, or its last set goes on elsewhere): the caller then takes it.
    bool Analyze(uint64_t sector, const uint8_t* data, size_t after);
    // The current run, when it holds a file record or is a root directory,
    // with its cluster-size bounds finished; a new run starts either way.
    std::unique_ptr<CFileSet> GetFileSet();
    // Nothing gathered since the last GetFileSet.
    bool IsIdle() const { return !m_set->hasSector && !m_entries.IsOpen(); }
    // The first sector of the run that continues the run starting at
    // `sector` (GetNext), or that it continues (GetLast); -1 when none.
    int64_t GetNext(uint64_t sector) const;
    int64_t GetLast(uint64_t sector) const;
    // Forgets the current run, the kept halves and the links.
    void FinisAnayze();

    size_t KeptHeads() const { return m_heads.size(); }
    size_t KeptTails() const { return m_tails.size(); }

    // Joins the first part of an entry set (from its file entry) with the
    // rest at the start of `tail`: tries every split, from all the head's
    // entries down to one, and answers the record of the first whose
    // checksum passes and whose entries assemble into a whole set.
    std::optional<_tagFileBaseInfo> Joint(const uint8_t* head, size_t headBytes,
                                          uint64_t headSector, const uint8_t* tail,
                                          size_t tailBytes) const;

private:
    struct Head {
        std::vector<uint8_t> bytes;
        uint64_t sector = 0;  // where its file entry was read
    };

    void MarkAbridged(size_t index);
    void OfferHead(const uint8_t* entry, size_t bytes, uint64_t sector);
    void OfferTail(const uint8_t* data, size_t bytes, uint64_t sector);
    void Link(uint64_t head, uint64_t tail);

    uint32_t m_sectorSize = 512;
    exfat::StreamLimits m_limits;
    CExFatEntrySet m_entries;
    std::unique_ptr<CFileSet> m_set;
    std::map<uint64_t, Head> m_heads;                  // by the first sector of their run
    std::map<uint64_t, std::vector<uint8_t>> m_tails;  // likewise
    std::unordered_map<uint64_t, uint64_t> m_next;
    std::unordered_map<uint64_t, uint64_t> m_last;
};
