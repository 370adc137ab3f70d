// The MFT file record ("FILE" record) library: the header test, the
// update-sequence fix-ups, the attribute walk, the readers of each attribute
// kind the searches use and the recognisers of the metafiles. Every field is
// read through vk::ByteReader inside the examined record, so a lying length
// can never make a read leave the record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ByteReader.h"
#include "LostRanges.h"
#include "NTFSLayout.h"

// Header fields of a record buffer (at least the 48-byte header).
class CNTFSFileRecordHeader {
public:
    // The header test: "FILE", an update-sequence count of at most 16 that
    // fits the allocated size, an allocated size of at most 4,096 that is a
    // multiple of 1,024, the update-sequence array between bytes 42 and 256.
    // `size` is the bytes the caller holds (a multiple of 512).
    static bool IsValid(const uint8_t* buffer, size_t size);

    // Keeps the header of a record that passes.
    bool InitFromBuffer(const uint8_t* buffer, size_t size);
    const uint8_t* Data() const { return m_header.data(); }

private:
    std::array<uint8_t, ntfs::layout::record::kHeaderWithNumber> m_header{};
};

// A view of one attribute inside a record whose fix-ups are undone. `room`
// is the bytes from the attribute's start to the end of the examined record.
class CNTFSFileRecordAttribute {
public:
    CNTFSFileRecordAttribute() = default;
    CNTFSFileRecordAttribute(const uint8_t* attribute, size_t room) : m_r(attribute, room) {}

    // The header is sound and the attribute lies inside `room`: its length
    // at least the header of its kind, its name and its value (resident) or
    // mapping pairs (non-resident) inside it, and for $DATA well-formed
    // mapping pairs.
    static bool IsValid(const uint8_t* attribute, size_t room);
    static bool IsValidResidentAttribute(const uint8_t* attribute, size_t room);
    static bool IsValidNonResidentAttribute(const uint8_t* attribute, size_t room);
    bool IsValid() const { return IsValid(m_r.data(), m_r.size()); }

    bool Empty() const { return m_r.empty(); }
    const uint8_t* Data() const { return m_r.data(); }
    uint32_t GetType() const { return m_r.LE32(ntfs::layout::attr::kType); }
    uint32_t GetLength() const { return m_r.LE32(ntfs::layout::attr::kLength); }
    bool IsResident() const { return m_r.U8(ntfs::layout::attr::kNonResident) == 0; }
    uint8_t GetNameLength() const { return m_r.U8(ntfs::layout::attr::kNameLength); }
    bool IsNamed() const { return GetNameLength() != 0; }
    uint16_t GetNameOffset() const { return m_r.LE16(ntfs::layout::attr::kNameOffset); }
    uint16_t GetFlags() const { return m_r.LE16(ntfs::layout::attr::kFlags); }
    bool IsCompressed() const { return (GetFlags() & ntfs::layout::attr::kFlagCompressed) != 0; }
    bool IsEncrypted() const { return (GetFlags() & ntfs::layout::attr::kFlagEncrypted) != 0; }
    uint16_t GetAttributeId() const { return m_r.LE16(ntfs::layout::attr::kAttributeId); }
    // The attribute's own name (a stream name), UTF-8; empty when unnamed.
    std::string GetName() const;
    // Whether the attribute's name equals `name` (UTF-16 units, exactly).
    bool NameEquals(std::u16string_view name) const;

    // Resident attributes.
    uint32_t GetLengthOfAttribute() const { return m_r.LE32(ntfs::layout::attr::kValueLength); }
    uint16_t GetOffsetToAttribute() const { return m_r.LE16(ntfs::layout::attr::kValueOffset); }
    // The value's bytes; an empty, failed view when they leave the attribute.
    vk::ByteReader Value() const;

    // Non-resident attributes.
    int64_t GetStartVCN() const { return m_r.LES64(ntfs::layout::attr::kFirstVcn); }
    int64_t GetLastVCN() const { return m_r.LES64(ntfs::layout::attr::kLastVcn); }
    uint16_t GetCompressionUnitSize() const {
        return m_r.LE16(ntfs::layout::attr::kCompressionUnit);
    }
    int64_t GetAllocSizeofAttribute() const {
        return m_r.LES64(ntfs::layout::attr::kAllocatedSize);
    }
    int64_t GetRealSizeOfAttribute() const { return m_r.LES64(ntfs::layout::attr::kRealSize); }
    int64_t GetInitializedDataSize() const {
        return m_r.LES64(ntfs::layout::attr::kInitializedSize);
    }
    // The mapping pairs: from their offset to the end of the attribute.
    const uint8_t* GetDataRunsBuffer() const;
    size_t GetDataRunsLength() const;

protected:
    vk::ByteReader m_r;
};

// Non-resident attributes whose mapping pairs the searches decode.
class CNTFSDataRunList;
class CNTFSFileRecordDataRunsAttribute : public CNTFSFileRecordAttribute {
public:
    using CNTFSFileRecordAttribute::CNTFSFileRecordAttribute;
    explicit CNTFSFileRecordDataRunsAttribute(const CNTFSFileRecordAttribute& a)
        : CNTFSFileRecordAttribute(a) {}
    // Sum of the run lengths; -1 when the pairs are absent or malformed.
    int64_t GetTotalClusters() const;
    // Decodes the pairs (at the attribute's first VCN); false when invalid.
    bool GetDataRunList(CNTFSDataRunList& out) const;
    // Device sectors per cluster guessed from initialized size / clusters,
    // raised to a power of two; 0 when it cannot be told.
    uint32_t GetSectorsPerCluster(uint32_t sectorSize) const;
};

class CNTFSFileRecordStandardInformationAttribute : public CNTFSFileRecordAttribute {
public:
    using CNTFSFileRecordAttribute::CNTFSFileRecordAttribute;
    explicit CNTFSFileRecordStandardInformationAttribute(const CNTFSFileRecordAttribute& a)
        : CNTFSFileRecordAttribute(a) {}
    // Resident, with times and permissions inside the attribute.
    static bool IsValid(const uint8_t* attribute, size_t room);
    bool IsValid() const { return IsValid(m_r.data(), m_r.size()); }
    uint64_t GetCreationTime() const;
    uint64_t GetModificationTime() const;
    uint64_t GetLastAccessTime() const;
    uint32_t GetDosFilePermission() const;
};

class CNTFSFileRecordFileNameAttribute : public CNTFSFileRecordAttribute {
public:
    CNTFSFileRecordFileNameAttribute() = default;
    CNTFSFileRecordFileNameAttribute(const uint8_t* attribute, size_t room)
        : CNTFSFileRecordAttribute(attribute, room), m_value(Value()) {}
    explicit CNTFSFileRecordFileNameAttribute(const CNTFSFileRecordAttribute& a)
        : CNTFSFileRecordAttribute(a), m_value(Value()) {}
    // A valid resident $FILE_NAME whose name lies inside its value, whatever
    // characters it holds.
    static bool IsValid(const uint8_t* attribute, size_t room);
    bool IsValid() const { return IsValid(m_r.data(), m_r.size()); }

    int64_t GetFileRecordNumberofParentDirectory() const;
    uint64_t GetCreationTime() const;
    uint64_t GetModificationTime() const;
    uint64_t GetLastAccessTime() const;
    int64_t GetFileRealSize() const;
    uint32_t GetFileFlags() const;
    bool IsDirectory() const { return (GetFileFlags() & ntfs::layout::fn::kFlagDirectory) != 0; }
    uint8_t GetFileNameLength() const;
    // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS; anything above 3 is 4.
    uint8_t GetFileNameNamespaceType() const;
    // The name as stored, and as UTF-8 (up to a 0 unit).
    std::u16string GetFileNameUnits() const;
    std::string GetFileName() const;
    // The name equals `name` unit for unit (case matters).
    bool IsFileNameEqual(std::u16string_view name) const;
    static bool IsFileNameEqual(const uint8_t* attribute, size_t room, std::u16string_view name);

private:
    // The value, found once: every field below is read from it.
    vk::ByteReader m_value;
};

// One record, copied and with its update sequence undone. The examined part
// is the whole record as its header allocates it (1,024 or 4,096 bytes), cut
// to what the caller read.
class CNTFSFileRecord {
public:
    CNTFSFileRecord() = default;
    CNTFSFileRecord(const uint8_t* buffer, size_t size) { Init(buffer, size); }

    // Static tests on a caller's buffer, which they leave as it was.
    // A valid record: size at least 1,024, the header test and sound
    // attributes once the fix-ups of the sectors whose end matches the
    // update sequence are undone (a torn record is valid; see TornSectors).
    static bool IsValid(const uint8_t* buffer, size_t size);
    // Every sector the update sequence protects (inside `size`) ends with the
    // sequence number.
    static bool IsValidUpdateSequence(const uint8_t* buffer, size_t size);
    // Puts the saved words back over the sector ends; false (buffer
    // untouched) when the sequence does not match.
    static bool UnfixupFileRecord(uint8_t* buffer, size_t size);
    // The reverse: saves the sector ends and writes the sequence number.
    static bool FixupFileRecord(uint8_t* buffer, size_t size);
    // The attribute walk over a buffer whose fix-ups are undone.
    static bool CheckAttibutes(const uint8_t* buffer, size_t size);
    // The bytes of a record that are examined: its allocated size (1,024
    // when 0) cut to `size`.
    static size_t ExaminedSize(const uint8_t* buffer, size_t size);
    // The record size a FILE header found on a surface states: 1,024 unless
    // it says a power of two up to 4,096.
    static size_t StatedRecordSize(const uint8_t* header, size_t length);
    // The n-th (from 0) attribute of `type` in a fixed-up buffer; an empty
    // view when absent. The walk ends at the end marker, at a length of 0,
    // at an attribute that leaves the record, or after kMaxAttributes.
    static CNTFSFileRecordAttribute FindAttibute(const uint8_t* buffer, size_t size, uint32_t type,
                                                 int n, size_t* offset = nullptr);
    static int GetAttibuteCountofSpecifiedType(const uint8_t* buffer, size_t size, uint32_t type);

    // Copies and checks; false (object invalid) otherwise.
    bool Init(const uint8_t* buffer, size_t size);
    // A record image as NTFS keeps it in memory and writes it to the
    // $LogFile: its sector ends already hold their own bytes, so there is no
    // update sequence to check. The header and attribute tests still apply.
    bool InitFromImage(const uint8_t* buffer, size_t size);
    bool IsValid() const { return m_valid; }
    // Bit i set: the i-th 512-byte sector of the record did not end with the
    // sequence number (a torn write). What it holds may be an older version
    // of the record, and its last two bytes are not the record's.
    uint32_t TornSectors() const { return m_tornSectors; }
    // The bytes of [offset, offset + length) of the record that lie in torn
    // sectors, as offsets from `offset`.
    CLostRanges TornBytes(size_t offset, size_t length) const;
    const uint8_t* Data() const { return m_buf.data(); }
    size_t Size() const { return m_size; }

    uint16_t GetFlags() const;
    bool IsinUse() const { return (GetFlags() & ntfs::layout::record::kFlagInUse) != 0; }
    bool IsFolder() const { return (GetFlags() & ntfs::layout::record::kFlagDirectory) != 0; }
    uint64_t GetLogFileSequenceNumber() const;
    // Raised each time the record is given to a new file.
    uint16_t GetSequenceNumber() const;
    uint16_t GetFirstAttibuteOffset() const;
    uint32_t GetLength() const;
    uint32_t GetAllocatedSize() const;
    uint64_t GetBaseFileRecordNumber() const;
    bool IsExtendFileRecord() const { return GetBaseFileRecordNumber() != 0; }
    bool HasXPNumberOfthisMFTRecord() const;
    uint32_t GetXPNumberOfthisMFTRecord() const;

    // The object's forms look the attributes up in the table made when the
    // record was checked.
    CNTFSFileRecordAttribute FindAttibute(uint32_t type, int n, size_t* offset = nullptr) const;
    int GetAttibuteCountofSpecifiedType(uint32_t type) const;
    bool HasAttributeList() const {
        return !FindAttibute(ntfs::layout::attr::kAttributeList, 0).Empty();
    }

    // More attributes than this in one record is damage (a 4 KiB record
    // holds at most 4096 / 24 of the smallest).
    static constexpr int kMaxAttributes = 256;

private:
    // Init and InitFromImage: copies, undoes the update sequence when the
    // record comes from the disk, and lists the attributes.
    bool Load(const uint8_t* buffer, size_t size, bool fromDisk);
    // Checks the attributes and lists them; false when they are not sound.
    bool IndexAttributes();
    // Puts back the saved words of the sectors whose end carries the
    // sequence number; returns the others as a TornSectors mask.
    static uint32_t UnfixupMatchingSectors(uint8_t* buffer, size_t size);

    struct AttributeEntry {
        uint32_t type;
        uint16_t offset;
        uint16_t length;
    };
    // A 4 KiB record holds at most 4096 / 24 attributes.
    static constexpr size_t kMaxIndexed = 176;

    std::array<uint8_t, ntfs::layout::record::kMaxRecordSize> m_buf;
    size_t m_size = 0;
    bool m_valid = false;
    uint32_t m_tornSectors = 0;
    uint16_t m_attributeCount = 0;
    std::array<AttributeEntry, kMaxIndexed> m_attributes;
};

// The metafiles, known by the name of their first $FILE_NAME.
class CMetaFileRecordTypeAnalyzer {
public:
    // The record number paired with the metafile name of the record's first
    // $FILE_NAME; -1 for an invalid or extension record, one without a name,
    // or any other name.
    static int GetMetaFileRecordIndex(const CNTFSFileRecord& record);
    // A metafile name with hidden and system set in $STANDARD_INFORMATION.
    static bool IsValidMetaFileRecord(const CNTFSFileRecord& record);
    static bool IsValidMetaFileRecord(const CNTFSFileRecord& record, std::u16string_view name);
    static bool IsValidMFTFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$MFT");
    }
    static bool IsValidMFTMirrFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$MFTMirr");
    }
    static bool IsValidLogFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$LogFile");
    }
    static bool IsValidVolumeFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$Volume");
    }
    static bool IsValidBitmapFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$Bitmap");
    }
    static bool IsValidAttrDefFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$AttrDef");
    }
    static bool IsValidUpCaseFileRecord(const CNTFSFileRecord& r) {
        return IsValidMetaFileRecord(r, u"$UpCase");
    }
};

class CIsMetaFileRecord {
public:
    // Records 0 to 24 are reserved for metafiles.
    static bool IsMetaFileRecord(int64_t recordNumber) {
        return recordNumber >= 0 && recordNumber <= 24;
    }
    static bool IsMetaFileRecord(const uint8_t* buffer, size_t size);
};

class CFolderFileRecordAnalyzer {
public:
    // A folder record with a non-resident $INDEX_ALLOCATION.
    static bool IsValidFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record);
};

class CVolumeFileAnalyzer {
public:
    // The label of a valid "$Volume" record, converted to UTF-8 into `label`
    // (at most labelSize - 1 bytes and a terminator, cut between whole
    // characters). The bytes written without the terminator, or -1 when the
    // record is not $Volume or its $VOLUME_NAME leaves the record.
    static int GetLabel(const uint8_t* record, size_t recordSize, char* label, size_t labelSize);
};
