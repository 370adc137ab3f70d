// Directory index blocks ("INDX"), the index root of a folder record, and
// the record pages of the $LogFile ("RCRD"): tests and field readers over a
// caller's buffer of known size. Every entry walked is kept inside the
// bytes its block says are in use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "NTFSFileRecord.h"

class CStandardIndexHeader {
public:
    static bool IsValidMagicNumber(const uint8_t* buffer, size_t size);
    // "INDX", entry areas that fit the block, an update sequence that
    // covers exactly the block's sectors and lies between bytes 40 and 256.
    static bool IsValid(const uint8_t* buffer, size_t size);
};

class CIndexRecord {
public:
    // Largest index block read: NTFS writes 4 KiB blocks, the format allows 64 KiB.
    static constexpr size_t kMaxBlockSize = 65536;

    // Every sector the update sequence protects ends with the sequence number.
    static bool IsValidUpdateSequence(const uint8_t* buffer, size_t size);
    static bool UnfixupIndexRecord(uint8_t* buffer, size_t size);
    static bool FixupIndexRecord(uint8_t* buffer, size_t size);
    // The entry walk over a block whose fix-ups are undone: every entry of
    // a file-name index that is not the last names the same parent folder
    // and has a sound key; no entry leaves the in-use area.
    static bool CheckIndexEntries(const uint8_t* buffer, size_t size);
    // The header test, the update sequence and the entry walk, on a copy.
    static bool IsValid(const uint8_t* buffer, size_t size);
    // An entry whose key's allocated size is at least its real size.
    static bool IsValid(const uint8_t* entry, size_t room, int);

    // The folder the block belongs to: the low 32 bits of the first entry's
    // parent reference (a valid, fixed-up block); -1 when there is no entry.
    static int64_t GetParentFileReference(const uint8_t* buffer, size_t size);
    static int64_t GetVCN(const uint8_t* buffer, size_t size);
    static uint64_t GetLogFileSequenceNumber(const uint8_t* buffer, size_t size);
};

class CNTFSFileRecordIndexRootAttribute {
public:
    // A resident $INDEX_ROOT whose value holds its in-use entries.
    static bool IsValid(const CNTFSFileRecordAttribute& attribute);
    // The folder's own record number as its entries' keys name it, or -1
    // (no entries, entries naming different parents, a damaged root).
    static int64_t GetMFTFileRecordNumberfrom0x90(const CNTFSFileRecordAttribute& attribute);
};

class CRCRDRecord {
public:
    static bool IsValidMagicNumber(const uint8_t* buffer, size_t size);
    static bool IsValidRCRDRecordFirstSector(const uint8_t* buffer, size_t size) {
        return size >= 512 && IsValidMagicNumber(buffer, size);
    }
    // Count 9 at offset 40 and all eight sector ends carry the sequence number.
    static bool IsValidUpdateSequence(const uint8_t* buffer, size_t size);
    static bool IsValid(const uint8_t* buffer, size_t size) {
        return IsValidMagicNumber(buffer, size) && IsValidUpdateSequence(buffer, size);
    }
    static bool Unfixup(uint8_t* buffer, size_t size);
};

namespace NTFSPublicFunction {
// Whether `sector` is the first sector of cluster `cluster` of a partition
// starting at `partitionStart` with `sectorsPerCluster` (1 or even) sectors.
bool IsClusterNOMatch(int64_t sector, int64_t cluster, int64_t partitionStart,
                      int64_t sectorsPerCluster);
}  // namespace NTFSPublicFunction
