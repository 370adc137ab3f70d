// The 32-byte FAT directory entry: 8.3 names, long-name pieces, deleted
// entries and the high cluster word of FAT32, read in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteReader.h"
#include "FATLayout.h"
#include "Utility/SystemTime.h"

constexpr size_t kFATDirEntrySize = fat_layout::dirent::kSize;
constexpr uint8_t kFATAttrReadOnly = fat_layout::kAttrReadOnly;
constexpr uint8_t kFATAttrVolumeLabel = fat_layout::kAttrVolumeLabel;
constexpr uint8_t kFATAttrDirectory = fat_layout::kAttrDirectory;
constexpr uint8_t kFATAttrLongName = fat_layout::kAttrLongName;
constexpr uint8_t kFATDeletedMark = fat_layout::kDeletedMark;
constexpr size_t kFATLongNameUnits = fat_layout::lfn::kUnits;
// Byte 12 of a short entry: base name / extension stored upper case but
// shown lower case.
constexpr uint8_t kFATLowerCaseBase = fat_layout::kLowerCaseBase;
constexpr uint8_t kFATLowerCaseExtension = fat_layout::kLowerCaseExtension;

// DOS time word: bits 0-4 two-second count, 5-10 minutes, 11-15 hours.
struct tagFATTIME {
    uint16_t value = 0;
    unsigned Seconds2() const { return value & 0x1F; }
    unsigned Minutes() const { return (value >> 5) & 0x3F; }
    unsigned Hours() const { return value >> 11; }
};
// DOS date word: bits 0-4 day, 5-8 month, 9-15 years since 1980.
struct tagFATDATE {
    uint16_t value = 0;
    unsigned Day() const { return value & 0x1F; }
    unsigned Month() const { return (value >> 5) & 0x0F; }
    unsigned YearsSince1980() const { return value >> 9; }
};

// DOS stamps are local time: converted through mktime with daylight saving
// left to the system. Always true; a zero date goes through mktime's own
// normalisation.
bool DosDateTimeToFileTime(uint16_t date, uint16_t time, _FILETIME* out);
bool SecondsSince1970ToFileTime(int64_t seconds, _FILETIME* out);

class CTempFATDirEntry {
public:
    // Writable entry: SetFirstClusterNO may rewrite it.
    explicit CTempFATDirEntry(uint8_t* entry);
    // Read-only entry: SetFirstClusterNO refuses.
    explicit CTempFATDirEntry(const uint8_t* entry);

    bool InitFromBuffer(uint8_t* entry);
    bool InitFromBuffer(const uint8_t* entry);

    // Relaxed skips the size/cluster consistency test.
    bool IsValidFATDirEntry(bool relaxed) const;
    // The same tests, except that printable characters a file system refuses
    // ("/", "*", "?"...) do not fail the name: the walks of folders keep such
    // a file, whose name is cleaned where it becomes a path.
    bool IsSoundFATDirEntry(bool relaxed) const;
    // "." or "..", blank-padded: the folder's own links, not files. A name
    // that merely begins with dots ("..NOTES") is a file.
    bool IsDotEntry() const;

    bool IsErased() const { return U8(fat_layout::dirent::kName.offset) == kFATDeletedMark; }
    bool IsNeverUsed() const {
        return U8(fat_layout::dirent::kName.offset) == fat_layout::kNeverUsedMark;
    }
    bool IsDirectory() const { return (Attribute() & kFATAttrDirectory) != 0; }
    bool IsVolumeLabel() const { return (Attribute() & kFATAttrVolumeLabel) != 0; }
    bool IsLongFileNameEntry() const { return Attribute() == kFATAttrLongName; }
    const uint8_t* GetLongFileNameIndex() const {
        return IsLongFileNameEntry() ? m_entry : nullptr;
    }
    const uint8_t* Raw() const { return m_entry; }

    uint8_t Attribute() const { return U8(fat_layout::dirent::kAttribute.offset); }
    uint32_t GetSize() const { return Reader().LE32(fat_layout::dirent::kFileSize.offset); }
    uint16_t CreationTime() const { return LE16(fat_layout::dirent::kCreationTime); }
    uint16_t CreationDate() const { return LE16(fat_layout::dirent::kCreationDate); }
    uint16_t LastAccessDate() const { return LE16(fat_layout::dirent::kLastAccessDate); }
    uint16_t HighClusterWord() const { return LE16(fat_layout::dirent::kClusterHigh); }
    uint16_t ModificationTime() const { return LE16(fat_layout::dirent::kModificationTime); }
    uint16_t ModificationDate() const { return LE16(fat_layout::dirent::kModificationDate); }
    uint16_t LowClusterWord() const { return LE16(fat_layout::dirent::kClusterLow); }

    // The revised cluster when one was set and is above 0, else the entry's.
    uint64_t GetFirstClusterNO() const;
    // Rewrites both cluster words of the entry; false on a read-only entry.
    bool SetFirstClusterNO(uint64_t cluster);
    void SetIsReviseDirEntryCluNum(bool revise) { m_revise = revise; }
    void SetReviseDirEntryCluNum(uint64_t cluster) { m_reviseCluster = cluster; }

    // The 13 units of a long-name piece as UTF-8, ending at the first zero
    // unit, written NUL-terminated into at most outSize bytes without cutting
    // a character; "_" when nothing converts. Units that are not valid
    // UTF-16 become "_".
    bool GetLongFileName(char* out, size_t outSize) const;
    std::string GetLongFileName() const;
    // Long-name piece fields: sequence number 1-20, the last-piece flag and
    // the checksum of the short entry it belongs to.
    unsigned LongNameOrdinal() const {
        return U8(fat_layout::lfn::kOrdinal.offset) & fat_layout::lfn::kOrdinalMask;
    }
    bool IsLastLongNamePiece() const {
        return (U8(fat_layout::lfn::kOrdinal.offset) & fat_layout::lfn::kLastPieceFlag) != 0;
    }
    uint8_t LongNameChecksum() const { return U8(fat_layout::lfn::kChecksum.offset); }
    // The checksum a long-name piece carries for this short entry.
    uint8_t ShortNameChecksum() const;

    // "NAME.EXT" (or "NAMEEXT" with noDot, as for labels); a deleted entry's
    // first byte shows as "#", high and control bytes as "_"; the lower-case
    // flags of byte 12 are honoured.
    void GetShortName(std::string& out, bool noDot) const;
    std::string GetShortName(bool noDot = false) const {
        std::string s;
        GetShortName(s, noDot);
        return s;
    }

    bool IsFilenameEqual(const char* name8, const char* ext3) const;

    static bool IsValidFileName(const uint8_t* name11);
    // Blank first byte, bytes below 0x1A and 0xFF only.
    static bool IsStorableFileName(const uint8_t* name11);

private:
    bool FieldsValid(bool relaxed) const;

    vk::ByteReader Reader() const { return vk::ByteReader(m_entry, kFATDirEntrySize); }
    uint8_t U8(size_t off) const { return Reader().U8(off); }
    uint16_t LE16(fat_layout::Field field) const { return Reader().LE16(field.offset); }

    uint8_t* m_writable;
    const uint8_t* m_entry;
    bool m_revise = false;
    uint64_t m_reviseCluster = 0;
};

// Gathers the long-name pieces that precede a short entry (they lie on disk
// last piece first) and answers the name once the short entry comes. A run
// that is broken (pieces with different checksums, a gap in the sequence of
// a live run, a checksum that does not match the live short entry, a name
// with characters FAT forbids or one that grows too long) gives no name, so
// the caller falls back to the short name. Deleted runs have lost their
// sequence numbers and the short entry its first byte, so only the pieces'
// agreement among themselves is checked there.
class CFATLongNameRun {
public:
    static constexpr size_t kMaxNameBytes = 2047;

    void Reset();
    bool Empty() const { return m_pieces == 0; }
    // Adds one long-name entry; false (and the run dropped) when it cannot
    // continue the run.
    bool Add(const CTempFATDirEntry& longEntry);
    // The assembled name for this short entry; false when there is none.
    // The run is reset either way.
    bool Finish(const CTempFATDirEntry& shortEntry, std::string& name);
    // The UTF-8 length the name gathered so far will have.
    size_t NameBytes() const;
    // The name outgrew kMaxNameBytes: no long name for this run.
    bool Broken() const { return m_broken; }

private:
    // The UTF-16 units of the whole name, joined before they are converted:
    // a character outside the Basic Multilingual Plane can be split across
    // two pieces, and converting piece by piece would lose it.
    std::u16string m_units;
    size_t m_pieces = 0;
    unsigned m_expectedOrdinal = 0;
    uint8_t m_checksum = 0;
    bool m_deleted = false;
    bool m_broken = false;
};
