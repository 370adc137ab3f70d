// Where the exFAT code finds things inside the boot sector and the 32-byte
// directory entries. Everything is little-endian and read through
// vk::ByteReader by these names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exfat {

// Cluster numbers: the heap starts at cluster 2; FAT entries at or above
// kBadCluster are the bad mark and the end-of-chain marks.
constexpr uint32_t kFirstCluster = 2;
constexpr uint32_t kLastValidCluster = 0xFFFFFFF5;
constexpr uint32_t kBadCluster = 0xFFFFFFF7;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;
constexpr uint32_t kFreeCluster = 0;

// The main (and backup) boot sector.
namespace boot {
constexpr size_t kFileSystemName = 3;  // 8 bytes "EXFAT   "
constexpr size_t kFileSystemNameSize = 8;
constexpr size_t kMustBeZero = 11;  // up to kMustBeZeroEnd, exclusive
constexpr size_t kMustBeZeroEnd = 64;
constexpr size_t kPartitionOffset = 64;    // u64
constexpr size_t kVolumeLength = 72;       // u64, sectors
constexpr size_t kFatOffset = 80;          // u32, sectors from the volume start
constexpr size_t kFatLength = 84;          // u32, sectors
constexpr size_t kClusterHeapOffset = 88;  // u32, sectors from the volume start
constexpr size_t kClusterCount = 92;       // u32
constexpr size_t kRootCluster = 96;        // u32
constexpr size_t kVolumeSerial = 100;      // u32
constexpr size_t kVolumeFlags = 106;       // u16; bit 0 the active FAT
constexpr size_t kBytesPerSectorShift = 108;
constexpr size_t kSectorsPerClusterShift = 109;
constexpr size_t kNumberOfFats = 110;
constexpr size_t kSignature = 510;  // u16
constexpr size_t kSize = 512;
constexpr uint16_t kSignatureValue = 0xAA55;
constexpr uint16_t kActiveFatFlag = 0x0001;
constexpr uint8_t kMinSectorShift = 9;
constexpr uint8_t kMaxSectorShift = 12;
// Clusters are at most 32 MiB: the two shifts add up to at most this.
constexpr uint8_t kMaxClusterShift = 25;
// Where the backup boot region starts, in sectors from the volume start.
constexpr uint64_t kBackupBootSector = 12;
}  // namespace boot
static_assert(boot::kMustBeZeroEnd == boot::kPartitionOffset);
static_assert(boot::kVolumeLength + 8 == boot::kFatOffset);
static_assert(boot::kRootCluster + 4 == boot::kVolumeSerial);
static_assert(boot::kSignature + 2 == boot::kSize);

// Directory entries.
namespace entry {
constexpr size_t kSize = 32;
constexpr size_t kType = 0;
constexpr uint8_t kInUse = 0x80;
// Bits 5 and 6 of the type: clear on primary entries, 0x40 on secondary ones.
constexpr uint8_t kCategoryMask = 0x60;
constexpr uint8_t kSecondaryCategory = 0x40;

constexpr uint8_t kTypeFile = 0x85;
constexpr uint8_t kTypeStream = 0xC0;
constexpr uint8_t kTypeName = 0xC1;
constexpr uint8_t kTypeBitmap = 0x81;
constexpr uint8_t kTypeUpcase = 0x82;
constexpr uint8_t kTypeLabel = 0x83;
// Benign primary entries a volume may carry beside its files (volume GUID,
// TexFAT padding, access control table) and the vendor secondaries a file's
// set may end with.
constexpr uint8_t kTypeVolumeGuid = 0xA0;
constexpr uint8_t kTypeTexFatPadding = 0xA1;
constexpr uint8_t kTypeAccessControl = 0xA2;
constexpr uint8_t kTypeVendorExtension = 0xE0;
constexpr uint8_t kTypeVendorAllocation = 0xE1;

constexpr uint8_t Deleted(uint8_t type) {
    return static_cast<uint8_t>(type & ~kInUse);
}
// One of the benign primary entries above, in use or deleted: accepted
// wherever it stands and otherwise passed over.
constexpr bool IsBenignPrimary(uint8_t type) {
    const auto live = static_cast<uint8_t>(type | kInUse);
    return live == kTypeVolumeGuid || live == kTypeTexFatPadding || live == kTypeAccessControl;
}
}  // namespace entry

// File entry: the primary entry of a file's or folder's set.
namespace file {
constexpr size_t kSecondaryCount = 1;
constexpr size_t kSetChecksum = 2;         // u16
constexpr size_t kAttributes = 4;          // u16
constexpr size_t kReserved1 = 6;           // u16
constexpr size_t kCreateTimestamp = 8;     // u32: time low half, date high half
constexpr size_t kModifiedTimestamp = 12;  // u32
constexpr size_t kAccessedTimestamp = 16;  // u32
constexpr size_t kCreate10ms = 20;
constexpr size_t kModified10ms = 21;
constexpr size_t kReserved2 = 25;  // up to the end of the entry
constexpr uint8_t kMinSecondaryCount = 2;
constexpr uint8_t kMaxSecondaryCount = 18;
constexpr uint8_t kMax10ms = 199;
constexpr uint16_t kAttributeDirectory = 0x10;
}  // namespace file
static_assert(file::kAccessedTimestamp + 4 == file::kCreate10ms);

// Stream extension: the first secondary entry, with the file's data.
namespace stream {
constexpr size_t kFlags = 1;
constexpr size_t kReserved1 = 2;
constexpr size_t kNameLength = 3;       // UTF-16 units
constexpr size_t kNameHash = 4;         // u16
constexpr size_t kReserved2 = 6;        // u16
constexpr size_t kValidDataLength = 8;  // u64
constexpr size_t kReserved3 = 16;       // u32
constexpr size_t kFirstCluster = 20;    // u32
constexpr size_t kDataLength = 24;      // u64
constexpr uint8_t kFlagNoFatChain = 0x02;
}  // namespace stream
static_assert(stream::kDataLength + 8 == entry::kSize);

// File name entry: 15 UTF-16LE units each.
namespace name {
constexpr size_t kFlags = 1;
constexpr size_t kChars = 2;
constexpr size_t kCharsPerEntry = 15;
// A name is at most 255 units, so the longest set is a stream and 17 names.
constexpr size_t kMaxNameUnits = 255;
}  // namespace name
static_assert(name::kChars + 2 * name::kCharsPerEntry == entry::kSize);

// Allocation bitmap and up-case table entries.
namespace table {
constexpr size_t kFirstCluster = 20;  // u32
constexpr size_t kDataLength = 24;    // u64
}  // namespace table

// Volume label entry.
namespace label {
constexpr size_t kCharCount = 1;
constexpr size_t kChars = 2;
constexpr size_t kMaxChars = 11;
constexpr size_t kReserved = 24;  // up to the end of the entry
}  // namespace label
static_assert(label::kChars + 2 * label::kMaxChars == label::kReserved);

}  // namespace exfat
