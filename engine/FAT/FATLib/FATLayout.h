// Where things lie in FAT's on-disk structures: the boot sector (with the
// FAT16 and FAT32 extended parameter blocks), the 32-byte directory entry
// and its long-name form, and the first entries of a FAT copy. Every reader
// of these structures reads its fields by these names through
// vk::ByteReader; no other FAT source spells an offset as a number.
// All values are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SectorSize.h"

namespace fat_layout {

// A field: byte offset and width inside its structure.
struct Field {
    size_t offset;
    size_t size;
};
constexpr size_t End(Field f) {
    return f.offset + f.size;
}

// ---- Boot sector ------------------------------------------------------

namespace boot {
constexpr Field kJump{0, 3};
constexpr Field kOemName{3, 8};
constexpr Field kBytesPerSector{11, 2};
constexpr Field kSectorsPerCluster{13, 1};
constexpr Field kReservedSectors{14, 2};
constexpr Field kNumberOfFats{16, 1};
constexpr Field kRootEntries{17, 2};     // FAT16: entries of the fixed root area
constexpr Field kTotalSectors16{19, 2};  // 0 when the 32-bit count holds it
constexpr Field kMediaDescriptor{21, 1};
constexpr Field kSectorsPerFat16{22, 2};  // 0 on FAT32
constexpr Field kSectorsPerTrack{24, 2};
constexpr Field kHeads{26, 2};
constexpr Field kHiddenSectors{28, 4};
constexpr Field kTotalSectors32{32, 4};

// FAT16 extended parameter block.
constexpr Field kFat16DriveNumber{36, 1};
constexpr Field kFat16BootSignature{38, 1};
constexpr Field kFat16VolumeId{39, 4};
constexpr Field kFat16Label{43, 11};
constexpr Field kFat16TypeText{54, 8};  // "FAT16   " (or "FAT12   ")

// FAT32 extended parameter block.
constexpr Field kFat32SectorsPerFat{36, 4};
constexpr Field kFat32Flags{40, 2};
constexpr Field kFat32Version{42, 2};
constexpr Field kFat32RootCluster{44, 4};
constexpr Field kFat32FsInfoSector{48, 2};
constexpr Field kFat32BackupBootSector{50, 2};
constexpr Field kFat32DriveNumber{64, 1};
constexpr Field kFat32BootSignature{66, 1};
constexpr Field kFat32VolumeId{67, 4};
constexpr Field kFat32Label{71, 11};
constexpr Field kFat32TypeText{82, 8};  // "FAT32   "

constexpr Field kSignature{510, 2};  // 0x55 0xAA
constexpr uint8_t kSignature0 = 0x55;
constexpr uint8_t kSignature1 = 0xAA;
// The boot record fits in the first 512 bytes whatever the sector size.
constexpr size_t kRecordSize = 512;
// Where a FAT32 volume keeps its backup boot sector (the usual value of
// kFat32BackupBootSector).
constexpr uint64_t kUsualBackupSector = 6;

static_assert(End(kTotalSectors32) == kFat16DriveNumber.offset);
static_assert(End(kFat16TypeText) == 62);
static_assert(End(kFat32TypeText) == 90);
static_assert(End(kSignature) == kRecordSize);
}  // namespace boot

// Bytes per sector a FAT boot sector may name.
constexpr uint32_t kMinBytesPerSector = 512;
constexpr uint32_t kMaxBytesPerSector = 4096;
// A device sector size the FAT code reads with: one the engine's rule
// accepts, no larger than a boot sector may name.
constexpr bool SectorSizeOk(int64_t size) {
    return size > 0 && vk::IsValidSectorSize(static_cast<uint64_t>(size)) &&
           size <= static_cast<int64_t>(kMaxBytesPerSector);
}
// Two FAT copies are what the searches understand.
constexpr uint8_t kNumberOfFats = 2;
// A FAT16 root area holds at least this many entries.
constexpr uint32_t kMinFat16RootEntries = 224;
// The on-disk format's own rule for the kind of a FAT: fewer clusters than
// kMinFat16Clusters make FAT12, fewer than kMinFat32Clusters FAT16, more
// FAT32. The type text is only a label.
constexpr uint64_t kMinFat16Clusters = 4085;
constexpr uint64_t kMinFat32Clusters = 65525;
// Clusters count from 2: cluster 2 is the first of the data area.
constexpr uint64_t kFirstCluster = 2;

// ---- Directory entry --------------------------------------------------

namespace dirent {
constexpr size_t kSize = 32;
constexpr Field kName{0, 8};
constexpr Field kExtension{8, 3};
constexpr Field kShortName{0, 11};
constexpr Field kAttribute{11, 1};
constexpr Field kCaseFlags{12, 1};  // NT: base/extension shown lower case
constexpr Field kCreationTenths{13, 1};
constexpr Field kCreationTime{14, 2};
constexpr Field kCreationDate{16, 2};
constexpr Field kLastAccessDate{18, 2};
constexpr Field kClusterHigh{20, 2};  // FAT32 only
constexpr Field kModificationTime{22, 2};
constexpr Field kModificationDate{24, 2};
constexpr Field kClusterLow{26, 2};
constexpr Field kFileSize{28, 4};

static_assert(End(kFileSize) == kSize);
static_assert(End(kName) == kExtension.offset && End(kExtension) == kAttribute.offset);
}  // namespace dirent

// First name byte: an entry never used (the rest of the folder is empty) and
// one that was deleted.
constexpr uint8_t kNeverUsedMark = 0x00;
constexpr uint8_t kDeletedMark = 0xE5;

// Attribute bits.
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolumeLabel = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;  // all four low bits: a long-name piece
constexpr uint8_t kAttrValidBits = 0x3F;

// Case flags of byte 12.
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;

// ---- Long-name entry --------------------------------------------------

namespace lfn {
constexpr Field kOrdinal{0, 1};  // sequence number 1-20, 0x40 on the last piece
constexpr Field kUnits1{1, 10};  // five UTF-16LE units
constexpr Field kAttribute{11, 1};
constexpr Field kType{12, 1};
constexpr Field kChecksum{13, 1};  // of the short entry it belongs to
constexpr Field kUnits2{14, 12};   // six units
constexpr Field kClusterLow{26, 2};
constexpr Field kUnits3{28, 4};  // two units

constexpr size_t kUnits = (kUnits1.size + kUnits2.size + kUnits3.size) / 2;
constexpr uint8_t kOrdinalMask = 0x1F;
constexpr uint8_t kLastPieceFlag = 0x40;

static_assert(kUnits == 13);
static_assert(End(kUnits3) == dirent::kSize);
static_assert(kAttribute.offset == dirent::kAttribute.offset);
}  // namespace lfn

// ---- FAT copies -------------------------------------------------------

namespace table {
constexpr size_t kFat16EntrySize = 2;
constexpr size_t kFat32EntrySize = 4;
// A FAT32 entry's top four bits are reserved (some systems set them).
constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
// Entries 0 and 1 hold the media byte and status bits, not clusters. Entry
// 1's "clean shutdown" and "no disk error" bits change at run time, so they
// never decide whether a copy is a FAT.
constexpr uint32_t kFat16HeaderMask = 0x3FFFFFF8;  // entries 0 and 1 read as one value
constexpr uint32_t kFat32Entry0Mask = 0x0FFFFFF0;
constexpr uint32_t kFat32Entry1Mask = 0x03FFFFF8;
// Highest entry values that continue a chain.
constexpr uint32_t kFat16LastLink = 0xFFF6;
constexpr uint32_t kFat32LastLink = 0x0FFFFFF6;
constexpr uint32_t kFat16Bad = 0xFFF7;
constexpr uint32_t kFat16EndOfChain = 0xFFF8;  // and above
}  // namespace table

}  // namespace fat_layout
