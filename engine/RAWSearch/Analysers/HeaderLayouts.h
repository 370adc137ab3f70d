// Where the formats whose header gives their size keep the fields the
// analysers read. Offsets count from the file's first byte; fields are
// little-endian unless the name says BE.
#pragma once

#include <cstddef>
#include <cstdint>

namespace icns_layout {          // Apple icon container
constexpr size_t kMagic = 0;     // "icns"
constexpr size_t kLengthBE = 4;  // whole file, 32 bits
constexpr uint32_t kMaxLength = 10905190;
}  // namespace icns_layout

namespace au_layout {                // Sun/NeXT audio
constexpr size_t kMagic = 0;         // ".snd"
constexpr size_t kDataOffsetBE = 4;  // 32 bits
constexpr size_t kDataSizeBE = 8;    // 32 bits, FFFFFFFF when unknown
constexpr uint32_t kMinDataOffset = 24;
}  // namespace au_layout

namespace bmp_layout {
constexpr size_t kMagic = 0;            // "BM"
constexpr size_t kFileSize = 2;         // 32 bits
constexpr size_t kReserved1 = 6;        // 16 bits, 0
constexpr size_t kReserved2 = 8;        // 16 bits, 0
constexpr size_t kInfoHeaderSize = 14;  // 32 bits: 40 (BITMAPINFOHEADER) or 124 (V5)
}  // namespace bmp_layout

namespace cab_layout {              // Microsoft cabinet
constexpr size_t kMagic = 0;        // "MSCF"
constexpr size_t kReserved1 = 4;    // 32 bits, 0
constexpr size_t kCabinetSize = 8;  // 32 bits
constexpr size_t kReserved2 = 12;   // 32 bits, 0
constexpr size_t kReserved3 = 20;   // 32 bits, 0
constexpr size_t kVersion = 24;     // 16 bits, 0x0103
constexpr uint16_t kVersion13 = 0x0103;
}  // namespace cab_layout

namespace chm_layout {                  // compiled HTML help, version 3 header
constexpr size_t kMagic = 0;            // "ITSF"
constexpr size_t kHeaderLength = 8;     // 32 bits, 0x60
constexpr size_t kGuid1 = 24;           // 16 bytes
constexpr size_t kGuid2 = 40;           // 16 bytes
constexpr size_t kSection0 = 96;        // the header section that follows: 0x1FE
constexpr size_t kFileSize = 104;       // 64 bits
constexpr size_t kSection0Zero1 = 112;  // 32 bits, 0
constexpr size_t kSection0Zero2 = 116;  // 32 bits, 0
constexpr uint32_t kHeaderLength3 = 0x60;
constexpr uint32_t kSection0Magic = 0x1FE;
constexpr uint8_t kGuid1Bytes[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                     0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
constexpr uint8_t kGuid2Bytes[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                     0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
}  // namespace chm_layout

namespace emf_layout {             // enhanced metafile header record
constexpr size_t kSignature = 40;  // " EMF"
constexpr size_t kFileSize = 48;   // 32 bits
constexpr size_t kReserved = 58;   // 16 bits, 0
}  // namespace emf_layout

namespace cpt_layout {               // Corel Photo-Paint image
constexpr size_t kMagic = 0;         // "CPT7", "CPT8" or "CPT9"
constexpr size_t kFileMark = 4;      // "FILE"
constexpr size_t kEntryCount = 40;   // 32 bits
constexpr size_t kTableOffset = 52;  // 32 bits, 316 in the files recognised
constexpr uint32_t kTableAt = 316;
constexpr uint32_t kEntryBytes = 8;
constexpr uint32_t kRecordFlag = 32;  // in the last entry's record
constexpr uint32_t kRecordData = 60;
}  // namespace cpt_layout

namespace crw_layout {        // Canon CIFF raw: byte order, header length, "HEAP", kind
constexpr size_t kHeap = 4;   // 00 00 "HEAP"
constexpr size_t kKind = 10;  // "CCDR", "TIFP" or "ARCH", then 02
constexpr uint64_t kDefaultSize = 0x3200000;
}  // namespace crw_layout

namespace hlp_layout {                 // Windows help
constexpr size_t kDirectoryStart = 4;  // 32 bits
constexpr size_t kFileSize = 12;       // 32 bits
}  // namespace hlp_layout

namespace ico_layout {        // icon and cursor directory
constexpr size_t kType = 2;   // 16 bits: 1 icon, 2 cursor
constexpr size_t kCount = 4;  // 16 bits
constexpr size_t kEntries = 6;
constexpr size_t kEntryBytes = 16;
constexpr size_t kEntryReserved = 3;    // 8 bits, 0
constexpr size_t kEntryBitCount = 6;    // 16 bits
constexpr size_t kEntryBytesInRes = 8;  // 32 bits
constexpr size_t kEntryOffset = 12;     // 32 bits
constexpr uint16_t kMaxImages = 16;
constexpr uint32_t kMaxImageBytes = 0xA00000;
constexpr uint64_t kMaxTotal = 0x100000;
}  // namespace ico_layout

namespace lowdoc_layout {         // early Word documents
constexpr size_t kTextEnd = 292;  // 32 bits
constexpr size_t kTail = 296;     // 16 bits
}  // namespace lowdoc_layout

namespace mny_layout {
constexpr size_t kSignature = 4;  // "MSISAM Database"
}  // namespace mny_layout

namespace mid_layout {                 // standard MIDI file
constexpr size_t kHeaderLengthBE = 4;  // 32 bits, 6
constexpr size_t kFormatBE = 8;        // 16 bits, 0 to 2
constexpr size_t kTracksBE = 10;       // 16 bits
constexpr size_t kFirstChunk = 14;
constexpr size_t kChunkLengthBE = 4;  // 32 bits, after the chunk's 4-byte id
constexpr size_t kChunkHeaderBytes = 8;
}  // namespace mid_layout

namespace mdb_layout {  // Jet and ACE databases
constexpr size_t kSignatureBytes = 20;
constexpr uint32_t kPageBytes = 4096;
constexpr uint64_t kLastPage = 0x63FFFFF;
}  // namespace mdb_layout

namespace lzh_layout {             // LHA member header
constexpr size_t kHeaderSize = 0;  // 8 bits
constexpr size_t kMethod = 2;      // "-lh5-" and kin
constexpr size_t kPackedSize = 7;  // 32 bits
constexpr size_t kHeaderProbe = 11;
constexpr int kMaxSteps = 2048;
constexpr uint32_t kMaxOffset = 0xD000000;
}  // namespace lzh_layout

namespace gz_layout {          // gzip member header (RFC 1952)
constexpr size_t kId = 0;      // 1F 8B
constexpr size_t kMethod = 2;  // 8, deflate
constexpr size_t kFlags = 3;
constexpr size_t kExtraFlags = 8;
constexpr size_t kOs = 9;
constexpr size_t kHeaderBytes = 10;
constexpr uint8_t kFlagHeaderCrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;
constexpr uint64_t kFieldLimit = 0x1400001;
constexpr uint64_t kMaxSize = 0xD000000;
}  // namespace gz_layout
