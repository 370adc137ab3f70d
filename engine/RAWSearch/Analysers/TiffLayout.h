// TIFF as camera raw files use it: an 8-byte header, then image file
// directories (IFDs) of 12-byte entries linked by 32-bit offsets counted
// from the header's first byte; and the FUJIFILM RAF wrapper, whose own
// header points at an embedded JPEG and the raw data and whose TIFF part
// starts 160 bytes into the file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiff_layout {

constexpr size_t kByteOrder = 0;  // "II" little-endian, "MM" big-endian
constexpr size_t kMagic = 2;      // 42; 55 00 in Panasonic/Leica IIU files; "RO"/"RS"/"OR" Olympus
constexpr size_t kFirstIfd = 4;   // 32 bits
constexpr size_t kHeaderBytes = 8;

constexpr size_t kIfdCount = 0;  // 16 bits
constexpr size_t kIfdEntries = 2;
constexpr size_t kEntryBytes = 12;
constexpr size_t kLinkBytes = 4;   // the next directory's offset after the entries
constexpr size_t kEntryTag = 0;    // 16 bits
constexpr size_t kEntryType = 2;   // 16 bits, 1 to 12
constexpr size_t kEntryCount = 4;  // 32 bits
constexpr size_t kEntryValue = 8;  // the value when it takes 4 bytes or fewer, else its offset
static_assert(kEntryValue + 4 == kEntryBytes);

// Directories with more entries than this are not directories.
constexpr uint32_t kMaxEntries = 512;

// Bytes per element by field type 1 to 12, and 13 (a directory offset, as
// SubIFDs and EXIF pointers are often typed); other types count 0.
constexpr uint32_t TypeSize(uint32_t type) {
    constexpr uint8_t kSizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < 14 ? kSizes[type] : 0;
}
constexpr uint16_t kTypeIfd = 13;

// Bytes a directory of `count` entries takes with its link.
constexpr uint64_t DirectoryBytes(uint64_t count) {
    return kIfdEntries + count * kEntryBytes + kLinkBytes;
}
static_assert(DirectoryBytes(kMaxEntries) == 6150);

enum Tag : uint16_t {
    kTagIiuJpeg = 46,  // embedded JPEG of Panasonic/Leica IIU files
    kTagImageWidth = 256,
    kTagImageHeight = 257,
    kTagMake = 271,
    kTagModel = 272,
    kTagStripOffsets = 273,
    kTagStripByteCounts = 279,
    kTagDateTime = 306,
    kTagTileOffsets = 324,
    kTagTileByteCounts = 325,
    kTagSubIfds = 330,
    kTagJpegOffset = 513,
    kTagJpegLength = 514,
    kTagDataBlock = 640,  // a data block some writers keep in sub-directories
    kTagIptc = 33723,
    kTagExifIfd = 34665,
    kTagDateTimeOriginal = 36867,
    kTagMakerNote = 37500,
    kTagImageSourceData = 37724,
    kTagDngVersion = 50706,
    kTagDngPrivateData = 50740,
};

// A JPEG stream embedded as a strip or a thumbnail starts with one of these.
constexpr bool IsJpegStart(const uint8_t* p) {
    return p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF &&
           (p[3] == 0xE0 || p[3] == 0xE1 || p[3] == 0xDB);
}

}  // namespace tiff_layout

namespace raf_layout {

constexpr char kMagic[] = "FUJIFILMCCD-RAW ";  // 16 bytes at 0
constexpr size_t kMagicBytes = 16;
constexpr size_t kJpegOffsetBE = 84;  // 32 bits: the embedded JPEG
constexpr size_t kJpegLengthBE = 88;  // 32 bits
constexpr size_t kCfaHeaderOffsetBE = 92;
constexpr size_t kCfaHeaderLengthBE = 96;
constexpr size_t kCfaOffsetBE = 100;  // the raw data
constexpr size_t kCfaLengthBE = 104;
constexpr size_t kExtraLengthBE = 132;  // added to the end when non-zero
constexpr size_t kTiffStart = 160;      // the TIFF header and its directories
constexpr size_t kHeaderBytes = kTiffStart + 8;
// A JPEG offset past this is checked against kMaxOffset before use.
constexpr uint32_t kLateJpeg = 0x80000;

}  // namespace raf_layout
