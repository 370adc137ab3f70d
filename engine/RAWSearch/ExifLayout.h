// The EXIF block as a JPEG's APP1 segment (or a TIFF file) holds it: "Exif"
// and two zero bytes, then a TIFF header whose offsets count from its own
// first byte, then image file directories of 12-byte entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exif_layout {

constexpr size_t kExifHeaderBytes = 6;  // "Exif" 00 00
constexpr size_t kTiffByteOrder = 0;    // "II" or "MM"
constexpr size_t kTiffMagic = 2;        // 42 in that byte order
constexpr size_t kTiffFirstIfd = 4;     // 32-bit offset of the first directory
constexpr size_t kTiffHeaderBytes = 8;

constexpr size_t kIfdCount = 0;  // 16-bit entry count
constexpr size_t kIfdEntries = 2;
constexpr size_t kIfdEntryBytes = 12;
constexpr size_t kIfdNextLinkBytes = 4;

constexpr size_t kEntryTag = 0;         // 16 bits
constexpr size_t kEntryFormat = 2;      // 16 bits, 1 to 12
constexpr size_t kEntryComponents = 4;  // 32 bits
constexpr size_t kEntryValue =
    8;  // the value itself when it takes 4 bytes or fewer, else its offset
static_assert(kEntryValue + 4 == kIfdEntryBytes);

constexpr int kFormatCount = 12;
// Bytes per component by format 1 to 12 (index 0 unused).
constexpr uint8_t kFormatBytes[kFormatCount + 1] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

enum Format : uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSByte = 6,
    kUndefined = 7,
    kSShort = 8,
    kSLong = 9,
    kSRational = 10,
    kFloat = 11,
    kDouble = 12,
};

enum Tag : uint16_t {
    kTagWidthRaw = 0x0001,
    kTagImageWidth = 0x0100,
    kTagImageHeight = 0x0101,
    kTagMake = 0x010F,
    kTagModel = 0x0110,
    kTagOrientation = 0x0112,
    kTagDateTime = 0x0132,
    kTagXResolution = 0x011A,
    kTagYResolution = 0x011B,
    kTagResolutionUnit = 0x0128,
    kTagThumbnailOffset = 0x0201,
    kTagThumbnailLength = 0x0202,
    kTagExposureTime = 0x829A,
    kTagFNumber = 0x829D,
    kTagExifIfd = 0x8769,
    kTagExposureProgram = 0x8822,
    kTagIso = 0x8827,
    kTagExifVersion = 0x9000,
    kTagDateTimeOriginal = 0x9003,
    kTagDateTimeDigitized = 0x9004,
    kTagCompressionLevel = 0x9102,
    kTagBrightness = 0x9203,
    kTagExposureBias = 0x9204,
    kTagSubjectDistance = 0x9206,
    kTagMeteringMode = 0x9207,
    kTagLightSource = 0x9208,
    kTagFlash = 0x9209,
    kTagFocalLength = 0x920A,
    kTagMakerNote = 0x927C,
    kTagUserComment = 0x9286,
    kTagPixelXDimension = 0xA002,
    kTagPixelYDimension = 0xA003,
    kTagInteropIfd = 0xA005,
    kTagFocalPlaneXRes = 0xA20E,
    kTagFocalPlaneYRes = 0xA20F,
    kTagFocalPlaneUnit = 0xA210,
};

}  // namespace exif_layout
