// Where the streaming and whole-file analysers of archives, text, mail,
// e-book, font and layered-image formats find their fields. Offsets count
// from the file's first byte (or, where said, from a block's first byte);
// fields are little-endian unless the name says BE.
#pragma once

#include <cstddef>
#include <cstdint>

namespace psafe3_layout {
constexpr size_t kTag = 0;         // "PWS3", any case
constexpr size_t kTagShifted = 3;  // or there
constexpr long long kMinimum = 20;
constexpr long long kMaximum = 52428800;
}  // namespace psafe3_layout

namespace sib_layout {
constexpr size_t kTagBytes = 9;  // 0F "SIBELIUS"
constexpr long long kMinimum = 512;
constexpr long long kMaximum = 10485760;
}  // namespace sib_layout

namespace jks_layout {
constexpr long long kMinimum = 20;
constexpr long long kMaximum = 0xA00000;
}  // namespace jks_layout

namespace gz_stream_layout {
constexpr long long kMinimum = 20;
constexpr long long kMaximum = 400000000;
}  // namespace gz_stream_layout

namespace dbx_layout {
constexpr size_t kHeadBytes = 16;
constexpr size_t kJmfBytes = 8;  // "JMF6" 03 00 10 00
constexpr size_t kFileSize = 124;
}  // namespace dbx_layout

namespace mobi_layout {              // a Palm database holding a MOBI book
constexpr size_t kTypeCreator = 60;  // "BOOKMOBI", any case
constexpr size_t kRecordCountBE =
    74;  // read as 32 bits: the next-list id's low half, then the count
constexpr size_t kListEntryBytes = 8;     // record offset (BE 32), attributes, unique id
constexpr long long kLastEntryBase = 70;  // the last entry's offset field: count × 8 + 70
constexpr uint8_t kEndRecord[4] = {0xE9, 0x8E, 0x0D, 0x0A};
}  // namespace mobi_layout

namespace rtf_layout {
constexpr size_t kVersionLetter = 4;  // "f" of "{\rtf"
constexpr long long kMinimum = 20;
constexpr long long kMaximum = 314572800;
constexpr long long kWalkLimit = 0xD000000;
}  // namespace rtf_layout

namespace html_layout {
constexpr long long kMinimum = 20;
constexpr long long kMaximum = 0x100000;
constexpr long long kUnicodeLimit = 0x100000;
constexpr size_t kUnicodeTagSearchEnd = 500;  // "<HTML>" at an even offset below this
}  // namespace html_layout

namespace rar_layout {  // RAR 1.5 to 4 blocks
constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr uint8_t kEndBlock[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
constexpr size_t kMarkerBytes = 7;
// Every block head.
constexpr size_t kHeadCrc = 0;   // 16 bits
constexpr size_t kType = 2;      // byte
constexpr size_t kFlags = 3;     // 16 bits
constexpr size_t kHeadSize = 5;  // 16 bits
constexpr size_t kHeadBytes = 7;
// Blocks that carry data: its length follows the head.
constexpr size_t kDataSize = 7;  // 32 bits (the packed size of a file)
// File headers.
constexpr size_t kUnpackedSize = 11;    // 32 bits
constexpr size_t kHostOs = 15;          // byte
constexpr size_t kHighPackedSize = 32;  // 32 bits, with the large-file flag
constexpr uint16_t kLargeFile = 0x0100;
constexpr size_t kSubBlockZero = 13;  // old sub-blocks: byte 0
constexpr size_t kProbeBytes = 40;    // what one block read looks at
constexpr long long kStreamLimit = 0x40000000;
constexpr long long kWholeLimit = 0xD000000;
}  // namespace rar_layout

namespace tar_layout {  // POSIX and GNU tar, 512-byte blocks
constexpr size_t kBlock = 512;
constexpr size_t kSize = 124;  // 12 characters, octal (or base 256 with the top bit)
constexpr size_t kSizeBytes = 12;
constexpr size_t kMagic = 257;  // "ustar"
constexpr size_t kEndBlocks = 2 * kBlock;
constexpr long long kRecord = 10240;  // writers pad the archive to whole records
constexpr long long kWholeLimit = 0xD000000;
constexpr long long kStreamLimit = 0x1000000000LL;  // 64 GiB: a walk that far is lost
}  // namespace tar_layout

namespace lzh_stream_layout {      // LHA member headers
constexpr size_t kHeaderSize = 0;  // level 0 and 1: byte; level 2: 16 bits
constexpr size_t kMethod = 2;      // "-lh5-" ...
constexpr size_t kPackedSize = 7;  // 32 bits
constexpr size_t kLevel = 20;      // byte
constexpr size_t kProbeBytes = 22;
constexpr long long kLimit = 0xC800000;
constexpr int kMaxHeadersPerSector = 1025;
}  // namespace lzh_stream_layout

namespace dmg_layout {                 // a disk image whose first chunk is a bzip2 stream
constexpr size_t kHeadBytes = 10;      // "BZh11AY&SY"
constexpr size_t kTrailerBytes = 512;  // "koly", version 4, header size 512 (BE)
constexpr size_t kTrailerVersionBE = 4;
constexpr size_t kTrailerSizeBE = 8;
constexpr long long kStreamLimit = 0xC800000;
constexpr long long kWholeLimit = 0x82000000LL;
constexpr long long kLookBackFrom = 10240;
}  // namespace dmg_layout

namespace sit_layout {            // StuffIt 5 and StuffIt X
constexpr size_t kFit = 4;        // "fIt"
constexpr size_t kKind = 7;       // " " classic, "!" StuffIt X
constexpr size_t kLengthBE = 84;  // classic archives: the whole length
constexpr uint8_t kWebHead[16] = {0x57, 0x45, 0x42, 0x42, 0x41, 0x49, 0x4B, 0x45,
                                  0x66, 0x66, 0xEB, 0xB4, 0xA3, 0x74, 0xBD, 0x7B};
constexpr uint8_t kEndMarkers[3][8] = {
    {0x02, 0xD7, 0x0A, 0x19, 0x98, 0xF6, 0x42, 0x88},
    {0x02, 0xD7, 0x0A, 0x3B, 0x98, 0xF6, 0x42, 0x88},
    {0x02, 0xD7, 0x0A, 0x10, 0x98, 0xF6, 0x42, 0x88},
};
constexpr long long kStreamLimit = 2000000000;
constexpr long long kWholeLimit = 0x82000000LL;
}  // namespace sit_layout

namespace png_layout {
constexpr size_t kSignatureTail = 4;  // 0D 0A 1A 0A
constexpr size_t kFirstLengthBE = 8;  // the header chunk's length
constexpr size_t kFirstType = 12;     // "IHDR"
constexpr size_t kWidthBE = 16;
constexpr size_t kHeightBE = 20;
constexpr long long kAfterHeader = 20;  // + the header chunk's length: the next chunk
constexpr size_t kChunkHead = 8;        // length (BE), type
constexpr long long kChunkExtra = 12;   // length, type, CRC
constexpr long long kStreamLimit = 100000000;
constexpr long long kWholeLimit = 0x1400000;
}  // namespace png_layout

namespace one_layout {  // OneNote section files
constexpr uint8_t kGuidTail[12] = {0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1,
                                   0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
constexpr size_t kGuidTailAt = 4;
constexpr size_t kLength = 196;        // 64 bits: the expected length
constexpr size_t kLegacyLength = 100;  // 64 bits read: used when the other is 0
constexpr size_t kProbeBytes = kLength + 8;
constexpr long long kStreamLimit = 400000000;
constexpr long long kWholeLimit = 0x1A000000;
}  // namespace one_layout

namespace jet_layout {  // Jet and ACE databases: 4 KiB pages
constexpr long long kPage = 4096;
constexpr long long kLimit = 2000000000;
constexpr int kMostEmptyPages = 35;
constexpr int kZeroTailBytes = 12;
}  // namespace jet_layout

namespace gif_layout {
constexpr size_t kPacked = 10;  // logical screen: bit 7 a global table, bits 0-2 its size
constexpr long long kAfterScreen = 13;
constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImage = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr long long kDescriptorBytes = 10;  // 2C and nine bytes
constexpr size_t kDescriptorPacked = 9;
constexpr long long kLimit = 0xD000000;
}  // namespace gif_layout

namespace psp_layout {  // Paint Shop Pro images
constexpr size_t kSignatureBytes = 32;
constexpr long long kFirstBlock = 36;
constexpr uint8_t kBlockHead[4] = {0x7E, 0x42, 0x4B, 0x00};
constexpr size_t kBlockLength = 6;  // 32 bits, after the head of 10 bytes
constexpr long long kBlockHeadBytes = 10;
constexpr long long kStreamLimit = 20000000;
constexpr long long kWholeLimit = 0xD000000;
constexpr long long kSmallest = 512;
}  // namespace psp_layout

namespace psd_layout {            // Photoshop documents, big-endian
constexpr size_t kVersionBE = 4;  // 1
constexpr size_t kReserved = 6;   // six zero bytes
constexpr size_t kChannelsBE = 12;
constexpr size_t kHeightBE = 14;
constexpr size_t kWidthBE = 18;
constexpr size_t kDepthBE = 22;
constexpr size_t kColourModeLengthBE = 26;
constexpr long long kAfterColourMode = 30;
constexpr long long kStreamLimit = 200000000;
constexpr long long kWholeLimit = 0xD000000;
}  // namespace psd_layout

namespace wpg_layout {
constexpr long long kLimit = 100000000;
constexpr int kZeroTailBytes = 16;
}  // namespace wpg_layout

namespace indd_layout {  // InDesign documents: 4 KiB pages, then objects
constexpr uint8_t kSignature[24] = {0x06, 0x06, 0xED, 0xF5, 0xD8, 0x1D, 0x46, 0xE5,
                                    0xBD, 0x31, 0xEF, 0xE7, 0xFE, 0x74, 0xB7, 0x1D,
                                    'D',  'O',  'C',  'U',  'M',  'E',  'N',  'T'};
constexpr size_t kPageCount = 280;  // 32 bits
constexpr long long kPage = 4096;
constexpr uint8_t kObjectHead[16] = {0xDE, 0x39, 0x39, 0x79, 0x51, 0x88, 0x4B, 0x6C,
                                     0x8E, 0x63, 0xEE, 0xF8, 0xAE, 0xE0, 0xDD, 0x38};
constexpr size_t kObjectLength = 24;  // 32 bits
constexpr long long kObjectHeadBytes = 64;
constexpr long long kLimit = 200000000;
}  // namespace indd_layout

namespace swf_layout {  // Flash movies
constexpr size_t kVersion = 3;
constexpr size_t kLength = 4;  // 32 bits: the whole (uncompressed) movie
constexpr uint8_t kLastVersion = 32;
constexpr uint8_t kFirstCompressedVersion = 6;
constexpr long long kCompressedExtra = 8;
}  // namespace swf_layout

namespace ttf_layout {  // TrueType fonts, big-endian
constexpr size_t kTableCountBE = 4;
constexpr size_t kDirectory = 12;
constexpr size_t kRecordBytes = 16;  // tag, checksum, offset, length
constexpr size_t kRecordLengthBE = 12;
constexpr uint16_t kMostTables = 31;
}  // namespace ttf_layout

namespace wmf_layout {  // Windows metafiles
constexpr uint32_t kPlainHead = 0x00090001;
constexpr size_t kPlainSizeWords = 6;  // 32 bits, in 16-bit words
constexpr size_t kPlainZero = 16;      // 16 bits
constexpr uint8_t kPlaceableKey[6] = {0xD7, 0xCD, 0xC6, 0x9A, 0x00, 0x00};
constexpr size_t kPlaceableHandle = 4;     // 16 bits, 0
constexpr size_t kPlaceableReserved = 16;  // 32 bits, 0
constexpr size_t kPlaceableChecksum = 20;  // 16 bits: XOR of the ten words before
constexpr size_t kPlaceableBytes = 22;
constexpr size_t kPlaceableSizeWords = 28;  // the metafile header's size, 32 bits
constexpr size_t kPlaceableZero = 38;       // 16 bits
}  // namespace wmf_layout

namespace wpd_layout {          // WordPerfect 6 and later
constexpr size_t kProduct = 8;  // product, file type, major and minor version
constexpr size_t kIndex = 14;   // four bytes compared
constexpr size_t kFileSize = 20;
}  // namespace wpd_layout

namespace pst_layout {  // Outlook personal folders
constexpr size_t kFormat = 10;
constexpr uint8_t kUnicode = 0x17;
constexpr uint8_t kAnsi = 0x0E;
constexpr size_t kUnicodeEnd = 184;  // 32 bits read
constexpr size_t kAnsiEnd = 168;
constexpr long long kOtherSize = 0x100000;
}  // namespace pst_layout

namespace itl_layout {  // media-library files
constexpr size_t kLengthBE = 8;
}  // namespace itl_layout

namespace mbox_layout {
constexpr long long kPiece = 512;  // looked at in pieces of 512 bytes
constexpr long long kLimit = 0xD000000;
}  // namespace mbox_layout

namespace sqlite_layout {  // SQLite 3 databases, big-endian
constexpr size_t kPageSizeBE = 16;
constexpr size_t kEncodingRead = 56;  // read as 32 bits in the machine's order
constexpr uint32_t kMostEncoding = 0x3FFFFFF;
constexpr size_t kPagesBE = 28;
constexpr size_t kChangeCounterBE = 24;
constexpr size_t kValidForBE = 92;  // the change counter the page count was written with
constexpr size_t kFreePagesBE = 36;
constexpr size_t kCellContentBE = 105;  // the first page's cell content area
constexpr size_t kFirstCellBE = 108;    // its first cell
constexpr size_t kCellCountBE = 3;      // in a page
constexpr size_t kCellPointers = 8;
constexpr size_t kNextPageLow = 3;  // free-list and overflow pages: the next page's low byte
constexpr size_t kMarkerText = 10;  // from a cell: the start of its values
constexpr size_t kMarkerBytes = 34;
constexpr size_t kSketchBytes = 200;
constexpr long long kLimit = 200000000;
constexpr int kZeroRun = 5;
constexpr int kLongestName = 50;
}  // namespace sqlite_layout

namespace threeds_layout {          // 3D Studio meshes: chunks of id (16 bits) and length (32 bits)
constexpr uint16_t kMain = 0x4D4D;  // "MM": the whole file
constexpr size_t kMainLength = 2;   // 32 bits
constexpr size_t kEditor = 16;      // 0x3D3D after the version chunk
constexpr uint16_t kEditorId = 0x3D3D;
constexpr size_t kCartridge = 256;       // "NCSD": a cartridge image instead
constexpr size_t kCartridgeUnits = 260;  // 32 bits, in units of 512 bytes
constexpr long long kLimit = 200000000;
constexpr long long kCartridgeLimit = 1000000000;
constexpr long long kSmallest = 16;
}  // namespace threeds_layout
