// Assembling entry sets into file records, and parsing directory clusters.
// The assembler holds one set at a time (file entry, stream extension, name
// entries, vendor entries) and hands out a record once the set is whole; the
// quick search's parser and the surface search's pre-analysis both feed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ByteReader.h"
#include "ExFatDirEntry.h"

class CExFatEntrySet {
public:
    enum class Step : uint8_t {
        Accepted,   // taken into the open set
        Completed,  // taken, and the set is whole: Take() hands it out
        Dropped,    // out of order or not matching: the open set is gone
    };

    // Forgets the open set.
    void Reset();
    bool IsOpen() const { return m_state != 0; }
    // Secondary entries the open set still expects.
    unsigned Expected() const { return m_expected; }

    // A file entry (checked by the caller) opens a new set; one left open is
    // dropped. `metadataSector` is where the set was read.
    void PushPrimaryEntry(const vk::ByteReader& e, uint64_t metadataSector);
    // The stream extension: only right after the file entry, with the same
    // in-use bit.
    Step PushStreamEntry(const vk::ByteReader& e);
    // A name entry: only after the stream and the names before it, without
    // a gap, with the same in-use bit.
    Step PushNameEntry(const vk::ByteReader& e);
    // A vendor extension or allocation entry closing a set after its names.
    Step PushVendorEntry(const vk::ByteReader& e);
    // Counts one entry of the directory as seen by the open set; called
    // after every entry while a set is open, so gaps show.
    void CountEntry() {
        if (m_state != 0)
            ++m_counted;
    }

    // Moves the whole set's record out; the set is closed.
    _tagFileBaseInfo Take();
    // A set cut short by a damaged entry: true, with its record named by the
    // name entries read so far, when it has its stream and at least one
    // name entry; the set is closed either way.
    bool TakeCut(_tagFileBaseInfo* out);

private:
    Step Finish();
    bool SameUse(const vk::ByteReader& e) const;

    // 0 none, 1 file entry seen, 2 stream seen, then one more per entry.
    unsigned m_state = 0;
    unsigned m_expected = 0;
    unsigned m_counted = 0;
    uint8_t m_nameLength = 0;
    std::vector<uint16_t> m_units;
    _tagFileBaseInfo m_record;
};

// The quick search's directory parser.
class CEFDTAnalyze {
public:
    void PrepareAnayze(uint8_t sectorShift, uint8_t clusterShift, uint64_t totalSectors);
    // A new folder: a set left open at the end of the previous one must not
    // take this folder's entries.
    void BeginFolder() { m_set.Reset(); }
    // Parses `length` bytes of one folder read at `sector` entry by entry.
    // An entry that fails its check, and zeroed entries followed by a file
    // entry, are skipped; a set they cut short keeps what its intact entries
    // name. Only the folder's end (zeros to the end of the buffer) stops the
    // parse. True when the folder may go on in its next cluster; false at
    // its end.
    bool Analyze(const uint8_t* buffer, size_t length, uint64_t sector);

    std::vector<_tagFileBaseInfo>& GetCompleted() { return m_completed; }
    void ClearCompleted() { m_completed.clear(); }

private:
    bool AnalyzeEntry(const vk::ByteReader& e, uint64_t sector);
    // Closes the open set after a damaged entry, keeping what it names.
    void CloseCutSet();

    exfat::StreamLimits m_limits;
    CExFatEntrySet m_set;
    std::vector<_tagFileBaseInfo> m_completed;
};
