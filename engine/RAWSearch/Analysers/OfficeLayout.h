// On-disk layouts the office-document analysers read: the compound-file
// header and directory entries, ZIP records, and the summary-information
// property set. Offsets are from the structure's first byte; all fields are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ole_layout {

// Compound-file header (the first 512 bytes of the file).
constexpr size_t kHeaderBytes = 512;
constexpr size_t kSignature = 0;                 // D0 CF 11 E0 A1 B1 1A E1
constexpr uint32_t kSignatureHigh = 0xE11AB1A1;  // the second four bytes, read as LE32
constexpr size_t kMajorVersion = 26;
constexpr size_t kByteOrder = 28;  // FE FF
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr size_t kSectorShift = 30;
constexpr size_t kFatSectorCount = 44;
constexpr size_t kFirstDirectorySector = 48;
constexpr size_t kFirstDifatSector = 0x44;
constexpr size_t kDifatSectorCount = 72;
constexpr size_t kHeaderDifat = 76;
constexpr size_t kHeaderDifatEntries = 109;
static_assert(kHeaderDifat + kHeaderDifatEntries * 4 == kHeaderBytes);

// Sector sizes of version 3 and version 4 files.
constexpr uint16_t kVersion3 = 3;
constexpr uint16_t kVersion4 = 4;
constexpr uint16_t kShift512 = 9;
constexpr uint16_t kShift4096 = 12;
constexpr unsigned kUnit = 512;

// Special sector numbers.
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;

// Directory entry.
constexpr size_t kEntryBytes = 128;
constexpr size_t kEntryName = 0;  // UTF-16LE, NUL-terminated
constexpr size_t kEntryNameBytes = 64;
constexpr size_t kEntryClassId = 0x50;
constexpr size_t kClassIdBytes = 16;
static_assert(kEntryClassId + kClassIdBytes <= kEntryBytes);

}  // namespace ole_layout

namespace summary_layout {

// Property-set stream header.
constexpr size_t kByteOrder = 0;  // FE FF
constexpr size_t kVersion = 2;
constexpr size_t kSectionCount = 24;
constexpr size_t kFormatId = 28;
constexpr size_t kSectionOffset = 44;
constexpr size_t kHeaderBytes = 48;
// Section: its byte count and property count, then (id, offset) pairs.
constexpr size_t kSectionBytes = 0;
constexpr size_t kPropertyCount = 4;
constexpr size_t kPropertyList = 8;
constexpr size_t kPropertyEntryBytes = 8;
// A value: its 32-bit type, then its data.
constexpr size_t kValueType = 0;
constexpr size_t kValueData = 4;
constexpr size_t kValueMinBytes = 8;

// The summary-information format identifier F29F85E0-4FF9-1068-AB91-08002B27B3D9
// as it is stored.
constexpr uint8_t kSummaryFormatId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                          0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

}  // namespace summary_layout

namespace zip_layout {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kZip64EndSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

// Local file header.
constexpr size_t kLocalFlags = 6;
constexpr size_t kLocalMethod = 8;
constexpr size_t kLocalCompressedSize = 18;
constexpr size_t kLocalUncompressedSize = 22;
constexpr size_t kLocalNameLength = 26;
constexpr size_t kLocalExtraLength = 28;
constexpr size_t kLocalBytes = 30;
constexpr uint16_t kFlagDataDescriptor = 0x0008;

// Central directory header.
constexpr size_t kCentralNameLength = 28;
constexpr size_t kCentralExtraLength = 30;
constexpr size_t kCentralCommentLength = 32;
constexpr size_t kCentralBytes = 46;

// End of central directory record.
constexpr size_t kEndDirectoryBytes = 12;
constexpr size_t kEndDirectoryOffset = 16;
constexpr size_t kEndCommentLength = 20;
constexpr size_t kEndBytes = 22;

// Zip64 end record: its size after the first 12 bytes; the locator.
constexpr size_t kZip64EndSize = 4;
constexpr size_t kZip64EndBytes = 56;
constexpr size_t kZip64EndHead = 12;
constexpr size_t kZip64EndDirectoryBytes = 40;
constexpr size_t kZip64EndDirectoryOffset = 48;
static_assert(kZip64EndDirectoryOffset + 8 == kZip64EndBytes);
constexpr size_t kZip64LocatorEndOffset = 8;
constexpr size_t kZip64LocatorBytes = 20;

// Extra field blocks: id, length, data; the Zip64 block's sizes.
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr size_t kExtraHead = 4;
constexpr size_t kZip64ExtraCompressed = 8;  // after the uncompressed size

}  // namespace zip_layout
