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
// A candidate the search let go of is read again from the device up to
// here, not to the maximum: on a disk of compressed data a sector closing
// with zeros may be gigabytes away.
constexpr long long kWholeFileReadLimit = 0xD000000;
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

namespace xml_head_layout {
constexpr char kXml[] = "<?xml";  // any case
constexpr size_t kGpxAt[2] = {57, 39};
constexpr size_t kPlistAt[2] = {39, 40};
constexpr char kPlist[] = "<!DOCTYPE plist";
constexpr char kGpx[] = "<gpx";
constexpr char kGpxCompressed[] = "BCFZ";
constexpr char kXmlVersion[] = "<?xml version=";  // then a quotation mark
constexpr size_t kXmlVersionAt[2] = {0, 3};       // 3: after a UTF-8 byte-order mark
constexpr size_t kHeadSearch = 512;               // where the root element is looked for
constexpr uint8_t kBinarySvg[4] = {0xCD, 0x01, 0x00, 0x00};
constexpr size_t kBinarySvgLength = 1100;  // 32 bits: the length after the fixed part
constexpr long long kBinarySvgFixed = 1152;
constexpr long long kLimit = 0xA00000;
constexpr int kZeroTail = 8;  // zero bytes a GPX or property list's last sector ends with
}  // namespace xml_head_layout

namespace x3f_layout {                 // Sigma/Foveon raw picture
constexpr char kDirectory[] = "SECd";  // the section directory
constexpr size_t kDirectoryCount = 8;  // 32 bits, after "SECd" and the version
constexpr size_t kDirectoryHeadBytes = 12;
constexpr size_t kDirectoryEntryBytes = 12;     // offset, length, kind
constexpr size_t kPointerBytes = 4;             // the directory's offset ends the file
constexpr long long kUsualDirectoryBytes = 76;  // five sections
constexpr uint32_t kMaxSections = 1000;
constexpr long long kLimit = 0x6400000;  // 100 MiB while streaming
constexpr long long kWholeFileLimit = 0x6800000;
}  // namespace x3f_layout

namespace mrw_layout {  // Minolta raw picture; fields big-endian
constexpr uint8_t kMagic[4] = {0x00, 'M', 'R', 'M'};
constexpr size_t kDataOffsetBE = 4;     // 32 bits: the raw data starts 8 bytes later
constexpr size_t kSensorHeightBE = 24;  // 16 bits, in the PRD block
constexpr size_t kSensorWidthBE = 26;   // 16 bits
constexpr size_t kDataBits = 32;        // stored bits per pixel
}  // namespace mrw_layout
