// JPEG markers and the fields of the segments the analysers read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jpeg_layout {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kSOF0 = 0xC0;  // baseline frame
constexpr uint8_t kSOF2 = 0xC2;  // progressive frame
constexpr uint8_t kDHT = 0xC4;
constexpr uint8_t kJPG = 0xC8;
constexpr uint8_t kDAC = 0xCC;
constexpr uint8_t kRST0 = 0xD0;
constexpr uint8_t kRST7 = 0xD7;
constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kAPP0 = 0xE0;
constexpr uint8_t kAPP1 = 0xE1;
constexpr uint8_t kTEM = 0x01;

// A marker: FF, its code, then (for all but SOI, EOI, RSTn and TEM) a
// 16-bit big-endian length that counts itself but not the marker.
constexpr size_t kCode = 1;
constexpr size_t kLengthBE = 2;
constexpr size_t kPayload = 4;

// Frame header, from the marker.
constexpr size_t kFramePrecision = 4;
constexpr size_t kFrameHeightBE = 5;
constexpr size_t kFrameWidthBE = 7;
constexpr size_t kFrameComponents = 9;
// Scan header, from the marker.
constexpr size_t kScanComponents = 4;

// The identifier of an APP0 or APP1 segment, from the file's start when the
// segment is the first: "JFIF" or "Exif" at 6.
constexpr size_t kFirstAppId = 6;
// An APP1 right after a 16-byte APP0 (JFIF files with EXIF).
constexpr size_t kApp1AfterJfif = 20;
constexpr size_t kFirstMarker = 2;

// Start-of-frame codes: C0 to CF less DHT, JPG and DAC.
constexpr bool IsStartOfFrame(uint8_t code) {
    return code >= 0xC0 && code <= 0xCF && code != kDHT && code != kJPG && code != kDAC;
}
// Codes that stand alone, without a length.
constexpr bool IsStandalone(uint8_t code) {
    return (code >= kRST0 && code <= kRST7) || code == kSOI || code == kEOI || code == kTEM;
}

}  // namespace jpeg_layout
