// Where the analysers of PostScript drawings, FreeHand documents, DXF
// drawings, camera raw containers and XML-headed files find their fields.
// Offsets count from the file's first byte; fields are little-endian unless
// the name says BE.
#pragma once

#include <cstddef>
#include <cstdint>

namespace eps_layout {
constexpr char kTextHead[] = "%!PS-Adobe-";
constexpr size_t kTextHeadBytes = sizeof(kTextHead) - 1;
// The DOS binary header: C5 D0 D3 C6, then offset and length of the
// PostScript, the Windows metafile and the TIFF section, then a checksum.
constexpr uint8_t kBinaryMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
constexpr size_t kPostScriptOffset = 4;
constexpr size_t kPostScriptLength = 8;
constexpr size_t kMetafileOffset = 12;
constexpr size_t kMetafileLength = 16;
constexpr size_t kTiffOffset = 20;
constexpr size_t kTiffLength = 24;
constexpr size_t kChecksum = 28;
constexpr size_t kHeaderBytes = 30;
static_assert(kChecksum + 2 == kHeaderBytes);
constexpr long long kMaximum = 0x514000000LL;  // a text EPS runs no further
}  // namespace eps_layout

namespace fh11_layout {  // FreeHand 11 document
constexpr uint8_t kMagic[4] = {0x1C, 0x01, 0x00, 0x00};
constexpr size_t kFixed = 4;  // these 12 bytes follow the magic
constexpr uint8_t kFixedBytes[12] = {0x02, 0x00, 0x04, 0x1C, 0x01, 0x14,
                                     0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
constexpr size_t kVersion = 34;  // "11"
constexpr long long kMaximum = 0xD000000;
}  // namespace fh11_layout

namespace dxf_layout {
// The first group of a DXF drawing: group code 0, "SECTION", group code 2.
constexpr char kSectionCRLF[] = "  0\r\nSECTION\r\n  ";
constexpr char kSectionLF[] = "  0\nSECTION\n  ";
constexpr size_t kSectionCRLFBytes = sizeof(kSectionCRLF) - 1;
constexpr size_t kSectionLFBytes = sizeof(kSectionLF) - 1;
static_assert(kSectionCRLFBytes == 16 && kSectionLFBytes == 14);
// A drawing may open with a "999" comment line instead.
constexpr char kComment[] = "999";
constexpr size_t kCommentEnd = 3;  // LF, or CR then LF, follows the code
// The last group: group code 0, "EOF".
constexpr char kEndCRLF[] = "  0\r\nEOF\r\n";
constexpr char kEndLF[] = "  0\nEOF\n";
constexpr size_t kEndCRLFBytes = sizeof(kEndCRLF) - 1;
constexpr size_t kEndLFBytes = sizeof(kEndLF) - 1;
static_assert(kEndCRLFBytes == 10 && kEndLFBytes == 8);
constexpr long long kMaximum = 0xD000000;
}  // namespace dxf_layout
