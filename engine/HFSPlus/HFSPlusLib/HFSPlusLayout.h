// Byte offsets and sizes of the on-disk HFS+ / HFSX records (big-endian on
// disk) and of the journal records (little-endian as written by the
// journal). Every reader of a record goes through these names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hfsplus::layout {

// Volume header: 1024 bytes into the volume, 512 bytes long.
constexpr size_t kVolumeHeaderOffset = 1024;
constexpr size_t kVolumeHeaderSize = 512;
constexpr size_t kVHSignature = 0;
constexpr size_t kVHVersion = 2;
constexpr size_t kVHAttributes = 4;
constexpr size_t kVHJournalInfoBlock = 12;
constexpr size_t kVHCreateDate = 16;
constexpr size_t kVHModifyDate = 20;
constexpr size_t kVHFileCount = 32;
constexpr size_t kVHFolderCount = 36;
constexpr size_t kVHBlockSize = 40;
constexpr size_t kVHTotalBlocks = 44;
constexpr size_t kVHFreeBlocks = 48;
constexpr size_t kVHNextCatalogID = 64;
constexpr size_t kVHFinderInfo = 80;  // eight u32
constexpr size_t kVHAllocationFile = 112;
constexpr size_t kVHExtentsFile = 192;
constexpr size_t kVHCatalogFile = 272;
constexpr size_t kVHAttributesFile = 352;
constexpr size_t kVHStartupFile = 432;
static_assert(kVHStartupFile + 80 == kVolumeHeaderSize);

constexpr uint16_t kSignatureHFSPlus = 0x482B;  // "H+"
constexpr uint16_t kSignatureHFSX = 0x4858;     // "HX"
constexpr uint32_t kVolumeJournaledBit = 0x2000;

// Fork data (80 bytes): logical size, clump size, total blocks, 8 extents.
constexpr size_t kForkLogicalSize = 0;
constexpr size_t kForkTotalBlocks = 12;
constexpr size_t kForkExtents = 16;
constexpr size_t kForkDataSize = 80;
constexpr size_t kExtentDescriptorSize = 8;
constexpr size_t kExtentsPerRecord = 8;
constexpr size_t kExtentRecordSize = kExtentDescriptorSize * kExtentsPerRecord;
static_assert(kForkExtents + kExtentRecordSize == kForkDataSize);

// B-tree node descriptor (14 bytes).
constexpr size_t kNodeFLink = 0;
constexpr size_t kNodeBLink = 4;
constexpr size_t kNodeKind = 8;
constexpr size_t kNodeHeight = 9;
constexpr size_t kNodeNumRecords = 10;
constexpr size_t kNodeReserved = 12;
constexpr size_t kNodeDescriptorSize = 14;
constexpr int8_t kNodeLeaf = -1;
constexpr int8_t kNodeIndex = 0;
constexpr int8_t kNodeHeader = 1;
constexpr int8_t kNodeMap = 2;
constexpr size_t kMinNodeSize = 512;
constexpr size_t kMaxNodeSize = 32768;

// B-tree header record (record 0 of node 0, 106 bytes).
constexpr size_t kHdrTreeDepth = 0;
constexpr size_t kHdrRootNode = 2;
constexpr size_t kHdrLeafRecords = 6;
constexpr size_t kHdrFirstLeaf = 10;
constexpr size_t kHdrLastLeaf = 14;
constexpr size_t kHdrNodeSize = 18;
constexpr size_t kHdrMaxKeyLength = 20;
constexpr size_t kHdrTotalNodes = 22;
constexpr size_t kHdrFreeNodes = 26;
constexpr size_t kHdrKeyCompareType = 37;
constexpr size_t kHdrAttributes = 38;
constexpr size_t kHeaderRecSize = 106;
constexpr uint8_t kCompareCaseFolding = 0xCF;
constexpr uint8_t kCompareBinary = 0xBC;

// Keys.
constexpr size_t kKeyLength = 0;
// Catalog key: keyLength, parentID, name (u16 length + characters).
constexpr size_t kCatKeyParentID = 2;
constexpr size_t kCatKeyNameLength = 6;
constexpr size_t kCatKeyName = 8;
constexpr size_t kCatKeyMinLength = 6;  // keyLength of an empty name
constexpr size_t kMaxNameUnits = 255;
// Extent key (12 bytes): keyLength 10, forkType, pad, fileID, startBlock.
constexpr size_t kExtKeyForkType = 2;
constexpr size_t kExtKeyFileID = 4;
constexpr size_t kExtKeyStartBlock = 8;
constexpr size_t kExtKeySize = 12;
constexpr uint8_t kForkData = 0x00;
constexpr uint8_t kForkResource = 0xFF;
// Attribute key: keyLength, pad, fileID, startBlock, name.
constexpr size_t kAttrKeyFileID = 4;
constexpr size_t kAttrKeyStartBlock = 8;
constexpr size_t kAttrKeyNameLength = 12;
constexpr size_t kAttrKeyName = 14;
constexpr size_t kAttrKeyMinLength = 12;
constexpr size_t kMaxAttrNameUnits = 127;

// Catalog records.
constexpr int16_t kRecFolder = 1;
constexpr int16_t kRecFile = 2;
constexpr int16_t kRecFolderThread = 3;
constexpr int16_t kRecFileThread = 4;
constexpr size_t kFolderRecordSize = 88;
constexpr size_t kFileRecordSize = 248;
constexpr size_t kThreadMinSize = 10;
constexpr size_t kThreadMaxSize = 520;
// Fields shared by folder and file records.
constexpr size_t kRecType = 0;
constexpr size_t kRecFlags = 2;
constexpr size_t kRecValence = 4;  // folders only
constexpr size_t kRecID = 8;
constexpr size_t kRecCreateDate = 12;
constexpr size_t kRecContentModDate = 16;
constexpr size_t kRecAttributeModDate = 20;
constexpr size_t kRecAccessDate = 24;
constexpr size_t kRecBSDOwnerFlags = 41;
constexpr size_t kRecBSDFileMode = 42;
constexpr size_t kRecBSDSpecial = 44;  // inode number of a hard link
constexpr size_t kRecFinderType = 48;
constexpr size_t kRecFinderCreator = 52;
constexpr size_t kRecDataFork = 88;
constexpr size_t kRecResourceFork = 168;
static_assert(kRecResourceFork + kForkDataSize == kFileRecordSize);
// Thread records: type, reserved, parentID, name.
constexpr size_t kThreadParentID = 4;
constexpr size_t kThreadNameLength = 8;
constexpr size_t kThreadName = 10;

constexpr uint8_t kOwnerFlagCompressed = 0x20;
constexpr uint32_t kTypeHardLink = 0x686C6E6B;     // "hlnk"
constexpr uint32_t kCreatorHFSPlus = 0x6866732B;   // "hfs+"
constexpr uint32_t kTypeFolderAlias = 0x66647270;  // "fdrp"

// Attribute records.
constexpr uint32_t kAttrInline = 0x10;
constexpr uint32_t kAttrFork = 0x20;
constexpr uint32_t kAttrExtents = 0x30;
constexpr size_t kAttrInlineSizeField = 12;
constexpr size_t kAttrInlineData = 16;
constexpr size_t kAttrForkRecordSize = 88;
constexpr size_t kAttrExtentsRecordSize = 72;

// Journal info block (big-endian).
constexpr size_t kJIBFlags = 0;
constexpr size_t kJIBOffset = 36;
constexpr size_t kJIBSize = 44;
constexpr size_t kJIBRecordSize = 180;
constexpr size_t kJIBReserved = 52;  // 32 u32, all zero
constexpr uint32_t kJournalInFS = 0x1;
constexpr uint32_t kJournalOnOtherDevice = 0x2;
constexpr uint8_t kJIBFiller = 0xDB;

// Journal header (little-endian as this journal writes it).
constexpr size_t kJHMagic = 0;
constexpr size_t kJHEndian = 4;
constexpr size_t kJHStart = 8;
constexpr size_t kJHEnd = 16;
constexpr size_t kJHSize = 24;
constexpr size_t kJHBlhdrSize = 32;
constexpr size_t kJHChecksum = 36;
constexpr size_t kJHJhdrSize = 40;
constexpr size_t kJournalHeaderSize = 44;
constexpr uint32_t kJournalMagic = 0x4A4E4C78;
constexpr uint32_t kJournalEndian = 0x12345678;
// Block list header: max_blocks, num_blocks, bytes_used, checksum, flags,
// then 16-byte entries (bnum u64, bsize u32, next u32), entry 0 for the
// list itself.
constexpr size_t kBLMaxBlocks = 0;
constexpr size_t kBLNumBlocks = 2;
constexpr size_t kBLEntries = 16;
constexpr size_t kBLEntrySize = 16;
constexpr size_t kBLEntryBnum = 0;
constexpr size_t kBLEntryBsize = 8;

// decmpfs attribute header (little-endian): magic, type, uncompressed size.
constexpr size_t kDecmpfsType = 4;
constexpr size_t kDecmpfsSize = 8;
constexpr size_t kDecmpfsHeaderSize = 16;
constexpr const char* kDecmpfsName = "com.apple.decmpfs";
// Resource fork of type 4: big-endian head whose first word is the offset H
// of the data; at H a big-endian length, a little-endian block count and
// (offset, size) pairs counted from H + 4.
constexpr size_t kRsrcHeadSize = 16;
constexpr size_t kRsrcBlockTable = 4;  // count, from H + 4
constexpr size_t kRsrcBlockEntry = 8;
// Compressed files are cut into blocks of this much output.
constexpr size_t kCompressionBlock = 65536;

// Special files (catalog node IDs).
constexpr uint32_t kRootParentID = 1;
constexpr uint32_t kRootFolderID = 2;
constexpr uint32_t kExtentsFileID = 3;
constexpr uint32_t kCatalogFileID = 4;
constexpr uint32_t kAllocationFileID = 6;
constexpr uint32_t kStartupFileID = 7;
constexpr uint32_t kAttributesFileID = 8;

// Seconds from 1601-01-01 to 1904-01-01, and the 100 ns tick.
constexpr long long kSeconds1601To1904 = 9561628800LL;
constexpr long long kTicksPerSecond = 10000000LL;

}  // namespace hfsplus::layout
