// Where the fields of NTFS's on-disk structures lie. Every NTFS parser
// reads through vk::ByteReader at these offsets; nothing casts a packed
// structure. All values are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ntfs::layout {

// ---------------------------------------------------------------- boot sector
namespace boot {
constexpr size_t kSize = 512;
constexpr size_t kOemId = 0x03;  // "NTFS    "
constexpr size_t kOemIdSize = 8;
constexpr size_t kBytesPerSector = 0x0B;     // u16
constexpr size_t kSectorsPerCluster = 0x0D;  // u8
constexpr size_t kReservedSectors = 0x0E;    // u16, 0
constexpr size_t kFatCount = 0x10;           // u8, 0
constexpr size_t kRootEntries = 0x11;        // u16, 0
constexpr size_t kSectors16 = 0x13;          // u16, 0
constexpr size_t kSectorsPerFat = 0x16;      // u16, 0
constexpr size_t kSectors32 = 0x20;          // u32, 0
constexpr size_t kTotalSectors = 0x28;       // u64
constexpr size_t kMftCluster = 0x30;         // u64
constexpr size_t kMftMirrCluster = 0x38;     // u64
constexpr size_t kClustersPerRecord = 0x40;  // s8
constexpr size_t kClustersPerIndex = 0x44;   // s8
constexpr size_t kSerialNumber = 0x48;       // u64
constexpr size_t kEndMarker = 0x1FE;         // 0x55 0xAA
static_assert(kSerialNumber + 8 <= kEndMarker && kEndMarker + 2 == kSize);
}  // namespace boot

// The stride of the update-sequence protection, whatever the sector size.
constexpr size_t kUpdateSequenceStride = 512;

// ---------------------------------------------------------------- FILE record
namespace record {
constexpr size_t kMagic = 0x00;             // "FILE"
constexpr size_t kUsaOffset = 0x04;         // u16
constexpr size_t kUsaCount = 0x06;          // u16
constexpr size_t kLogSequence = 0x08;       // u64
constexpr size_t kSequenceNumber = 0x10;    // u16
constexpr size_t kLinkCount = 0x12;         // u16
constexpr size_t kFirstAttribute = 0x14;    // u16
constexpr size_t kFlags = 0x16;             // u16
constexpr size_t kBytesInUse = 0x18;        // u32
constexpr size_t kBytesAllocated = 0x1C;    // u32
constexpr size_t kBaseReference = 0x20;     // u64, low 48 bits the base record
constexpr size_t kNextAttributeId = 0x28;   // u16
constexpr size_t kRecordNumberPad = 0x2A;   // u16, 0 when 0x2C holds the number
constexpr size_t kRecordNumber = 0x2C;      // u32
constexpr size_t kHeaderWithNumber = 0x30;  // header length of records that carry it
constexpr uint16_t kFlagInUse = 0x0001;
constexpr uint16_t kFlagDirectory = 0x0002;
// The update-sequence array's place, as every NTFS version writes it.
constexpr uint16_t kMinUsaOffset = 42;
constexpr uint16_t kMaxUsaOffset = 256;
constexpr uint16_t kMaxUsaCount = 16;
constexpr uint32_t kMaxRecordSize = 4096;
constexpr uint32_t kMinRecordSize = 1024;
static_assert(kRecordNumber + 4 == kHeaderWithNumber);
static_assert(kMaxUsaOffset + 2 * kMaxUsaCount < kMinRecordSize);
static_assert((kMaxUsaCount - 1) * kUpdateSequenceStride >= kMaxRecordSize);
}  // namespace record

// ---------------------------------------------------------------- attributes
namespace attr {
constexpr size_t kType = 0x00;         // u32, 0xFFFFFFFF ends the list
constexpr size_t kLength = 0x04;       // u32
constexpr size_t kNonResident = 0x08;  // u8
constexpr size_t kNameLength = 0x09;   // u8, characters
constexpr size_t kNameOffset = 0x0A;   // u16
constexpr size_t kFlags = 0x0C;        // u16
constexpr size_t kAttributeId = 0x0E;  // u16
constexpr size_t kHeaderSize = 0x10;
// resident
constexpr size_t kValueLength = 0x10;  // u32
constexpr size_t kValueOffset = 0x14;  // u16
constexpr size_t kResidentHeaderSize = 0x18;
// non-resident
constexpr size_t kFirstVcn = 0x10;         // u64
constexpr size_t kLastVcn = 0x18;          // u64
constexpr size_t kRunsOffset = 0x20;       // u16
constexpr size_t kCompressionUnit = 0x22;  // u16
constexpr size_t kAllocatedSize = 0x28;    // u64
constexpr size_t kRealSize = 0x30;         // u64
constexpr size_t kInitializedSize = 0x38;  // u64
constexpr size_t kNonResidentHeaderSize = 0x40;
static_assert(kValueOffset + 2 <= kResidentHeaderSize);
static_assert(kInitializedSize + 8 == kNonResidentHeaderSize);

constexpr uint32_t kEnd = 0xFFFFFFFF;
constexpr uint16_t kFlagCompressed = 0x0001;
constexpr uint16_t kFlagEncrypted = 0x4000;

enum Type : uint32_t {
    kStandardInformation = 0x10,
    kAttributeList = 0x20,
    kFileName = 0x30,
    kObjectId = 0x40,
    kSecurityDescriptor = 0x50,
    kVolumeName = 0x60,
    kVolumeInformation = 0x70,
    kData = 0x80,
    kIndexRoot = 0x90,
    kIndexAllocation = 0xA0,
    kBitmap = 0xB0,
};
}  // namespace attr

// $STANDARD_INFORMATION value, from the value's start.
namespace si {
constexpr size_t kCreationTime = 0x00;
constexpr size_t kModificationTime = 0x08;
constexpr size_t kMftChangeTime = 0x10;
constexpr size_t kAccessTime = 0x18;
constexpr size_t kDosPermissions = 0x20;  // u32
constexpr size_t kMinSize = 0x28;         // times and permissions; NTFS 1.2 writes 48 bytes
constexpr uint32_t kReadOnly = 0x01;
constexpr uint32_t kHidden = 0x02;
constexpr uint32_t kSystem = 0x04;
constexpr uint32_t kArchive = 0x20;
}  // namespace si

// $FILE_NAME value, from the value's start.
namespace fn {
constexpr size_t kParentReference = 0x00;  // u64, low 48 bits the parent record
constexpr size_t kCreationTime = 0x08;
constexpr size_t kModificationTime = 0x10;
constexpr size_t kMftChangeTime = 0x18;
constexpr size_t kAccessTime = 0x20;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kRealSize = 0x30;
constexpr size_t kFlags = 0x38;       // u32
constexpr size_t kNameLength = 0x40;  // u8, characters
constexpr size_t kNamespace = 0x41;   // u8
constexpr size_t kName = 0x42;        // UTF-16LE
constexpr uint32_t kFlagDirectory = 0x10000000;
enum Namespace : uint8_t { kPosix = 0, kWin32 = 1, kDos = 2, kWin32AndDos = 3 };
}  // namespace fn

// $ATTRIBUTE_LIST entry, from the entry's start.
namespace alist {
constexpr size_t kType = 0x00;         // u32
constexpr size_t kLength = 0x04;       // u16
constexpr size_t kNameLength = 0x06;   // u8
constexpr size_t kNameOffset = 0x07;   // u8
constexpr size_t kFirstVcn = 0x08;     // u64
constexpr size_t kReference = 0x10;    // u64, low 48 bits the record holding the attribute
constexpr size_t kAttributeId = 0x18;  // u16
constexpr size_t kMinEntry = 0x1A;
// NTFS never lets an attribute list grow past this.
constexpr uint32_t kMaxListBytes = 256 * 1024;
}  // namespace alist

constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFULL;

// ---------------------------------------------------------------- INDX record
namespace indx {
constexpr size_t kMagic = 0x00;  // "INDX"
constexpr size_t kUsaOffset = 0x04;
constexpr size_t kUsaCount = 0x06;
constexpr size_t kLogSequence = 0x08;
constexpr size_t kVcn = 0x10;
constexpr size_t kNodeHeader = 0x18;        // the entries' offsets count from here
constexpr size_t kEntriesOffset = 0x18;     // u32, from kNodeHeader
constexpr size_t kEntriesInUse = 0x1C;      // u32
constexpr size_t kEntriesAllocated = 0x20;  // u32
constexpr uint16_t kMinUsaOffset = 40;
constexpr uint16_t kMaxUsaOffset = 256;
}  // namespace indx

// An index entry of a file-name index, from the entry's start.
namespace ientry {
constexpr size_t kReference = 0x00;  // u64
constexpr size_t kLength = 0x08;     // u16
constexpr size_t kKeyLength = 0x0A;  // u16
constexpr size_t kFlags = 0x0C;      // u16
constexpr size_t kKey = 0x10;        // a $FILE_NAME value
constexpr size_t kKeyParent = kKey + fn::kParentReference;
constexpr size_t kKeyAllocatedSize = kKey + fn::kAllocatedSize;  // 0x38
constexpr size_t kKeyRealSize = kKey + fn::kRealSize;            // 0x40
constexpr size_t kKeyNameLength = kKey + fn::kNameLength;        // 0x50
constexpr size_t kMinFileNameEntry = kKey + fn::kName;           // 0x52
constexpr uint16_t kFlagSubNode = 0x0001;
constexpr uint16_t kFlagLast = 0x0002;
static_assert(kKeyAllocatedSize == 0x38 && kKeyRealSize == 0x40 && kKeyNameLength == 0x50);
}  // namespace ientry

// $INDEX_ROOT value, from the value's start.
namespace iroot {
constexpr size_t kAttributeType = 0x00;
constexpr size_t kCollation = 0x04;
constexpr size_t kBlockSize = 0x08;
constexpr size_t kClustersPerBlock = 0x0C;
constexpr size_t kNodeHeader = 0x10;
constexpr size_t kEntriesOffset = 0x10;  // u32, from kNodeHeader
constexpr size_t kEntriesInUse = 0x14;   // u32, from kNodeHeader
constexpr size_t kEntriesAllocated = 0x18;
}  // namespace iroot

// ---------------------------------------------------------------- $LogFile
namespace log {
constexpr size_t kPageSize = 4096;
constexpr size_t kPageUsaOffset = 0x28;
constexpr uint16_t kPageUsaCount = 9;
// Record page ("RCRD") header.
constexpr size_t kPageLastLsn = 0x08;     // u64
constexpr size_t kPageFlags = 0x10;       // u32
constexpr size_t kPageCount = 0x14;       // u16
constexpr size_t kPagePosition = 0x16;    // u16
constexpr size_t kPageNextRecord = 0x18;  // u16
constexpr size_t kPageLastEndLsn = 0x20;  // u64
constexpr size_t kPageHeaderSize = 64;
constexpr size_t kFirstRecordPage = 4;
// Log record header, from the record's start.
constexpr size_t kRecordLsn = 0x00;           // u64
constexpr size_t kRecordClientLength = 0x18;  // u32
constexpr size_t kRecordHeaderSize = 48;
// The NTFS client's operation header that follows it (offsets from the log
// record's start).
constexpr size_t kRedoOperation = 48;
constexpr size_t kUndoOperation = 50;
constexpr size_t kRedoOffset = 52;  // from kRecordHeaderSize
constexpr size_t kRedoLength = 54;
constexpr size_t kUndoOffset = 56;  // from kRecordHeaderSize
constexpr size_t kUndoLength = 58;
constexpr size_t kTargetAttribute = 60;
constexpr size_t kLcnsToFollow = 62;
constexpr size_t kRecordOffset = 64;
constexpr size_t kAttributeOffset = 66;
constexpr size_t kClusterBlockOffset = 68;
constexpr size_t kTargetVcn = 72;  // u64
constexpr size_t kOperationHeaderEnd = 88;
static_assert(kTargetVcn + 8 + 8 == kOperationHeaderEnd);
}  // namespace log

}  // namespace ntfs::layout
