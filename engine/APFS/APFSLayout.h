// Where the APFS reader finds things inside the objects it reads. Every
// structure is little-endian and read through vk::ByteReader by these names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace apfs {

// The only block size the deep search and the recogniser accept.
constexpr uint32_t kBlockSize = 4096;

// Header at the start of every object.
namespace obj {
constexpr size_t kChecksum = 0;    // u64, not verified
constexpr size_t kOid = 8;         // u64
constexpr size_t kXid = 16;        // u64
constexpr size_t kType = 24;       // u16: object type
constexpr size_t kTypeFlags = 26;  // u16: storage flags
constexpr size_t kSubtype = 28;    // u16 (low half of a u32)
constexpr size_t kHeaderSize = 32;
constexpr uint16_t kTypeContainerSuperblock = 1;
constexpr uint16_t kTypeBtreeNode = 3;
constexpr uint16_t kSubtypeObjectMap = 11;
constexpr uint16_t kSubtypeFsTree = 14;
constexpr uint16_t kFlagsPhysical = 0x4000;
// Types and subtypes of real objects stay below this.
constexpr uint16_t kTypeLimit = 32;
}  // namespace obj
static_assert(obj::kSubtype + 4 == obj::kHeaderSize);

// Container superblock.
namespace nx {
constexpr size_t kMagic = 32;       // u32 "NXSB"
constexpr size_t kBlockSize = 36;   // u32
constexpr size_t kBlockCount = 40;  // u64
constexpr size_t kUuid = 72;        // 16 bytes
constexpr size_t kUuidSize = 16;
constexpr size_t kNextSuperblock = 136;  // u32, followed as a block number
constexpr size_t kObjectMap = 160;       // u64
constexpr uint32_t kMagicValue = 0x4253584E;
}  // namespace nx
static_assert(nx::kUuid + nx::kUuidSize <= nx::kNextSuperblock);

// Object map object.
namespace omap {
constexpr size_t kTreeRoot = 48;  // u64
// A value of an object-map leaf: flags u32, size u32, physical address u64.
constexpr size_t kValueSize = 16;
constexpr size_t kValueAddress = 8;
// Flags 0 and size 4096, read as one u64: what a live leaf value starts with.
constexpr uint64_t kPlainValueHead = 0x100000000000ULL;
}  // namespace omap
static_assert(omap::kValueAddress + 8 == omap::kValueSize);

// Volume superblock.
namespace apsb {
constexpr size_t kMagic = 32;       // u32 "APSB"
constexpr size_t kObjectMap = 128;  // u64
constexpr size_t kName = 704;       // zero-terminated UTF-8
constexpr size_t kNameSize = 256;
constexpr uint32_t kMagicValue = 0x42535041;
}  // namespace apsb
static_assert(apsb::kName + apsb::kNameSize <= kBlockSize);

// B-tree node.
namespace btree {
constexpr size_t kFlags = 32;      // u16
constexpr size_t kKeyCount = 36;   // u32
constexpr size_t kTocLength = 42;  // u16
constexpr size_t kToc = 56;        // table of contents
constexpr size_t kRootTrailer = 40;
// Entries of fixed-size trees (object maps): key offset u16, value offset u16.
constexpr size_t kFixedEntrySize = 4;
// Entries of variable-size trees: key offset, key length, value offset,
// value length, u16 each.
constexpr size_t kVarEntrySize = 8;
constexpr uint16_t kFlagRoot = 1;
constexpr uint16_t kFlagLeaf = 2;
constexpr uint16_t kFlagFixed = 4;
// Entries looked at in one node; no real 4 KiB node holds more.
constexpr uint32_t kMaxEntries = 1024;
}  // namespace btree
static_assert(btree::kToc == obj::kHeaderSize + 24);

// Records of a file-system tree. The kind is the top byte of the key's first u64.
namespace fs {
constexpr uint8_t kKindInode = 0x30;
constexpr uint8_t kKindFileExtent = 0x80;
constexpr uint8_t kKindDirRecord = 0x90;
constexpr uint64_t kOidMask = 0x00FFFFFFFFFFFFFFULL;

namespace extent {
constexpr size_t kKeyLogical = 8;  // u64
constexpr size_t kMinKey = 16;
constexpr size_t kValueLength = 0;    // u64
constexpr size_t kValuePhysical = 8;  // u64, 0 for a hole
constexpr size_t kMinValue = 16;
}  // namespace extent

namespace inode {
constexpr size_t kParent = 0;     // u64
constexpr size_t kPrivateId = 8;  // u64
constexpr size_t kCreate = 16;    // u64 ns since 1970
constexpr size_t kModify = 24;
constexpr size_t kChange = 32;
constexpr size_t kAccess = 40;
constexpr size_t kMode = 80;        // u16
constexpr size_t kFieldCount = 92;  // u16
constexpr size_t kFields = 96;      // 4-byte descriptors, then their data
constexpr size_t kFieldDescriptor = 4;
constexpr size_t kMinValue = 100;
constexpr uint16_t kModeDirectory = 0x4000;
constexpr uint16_t kFieldName = 0x0204;
constexpr uint16_t kFieldDataStream = 0x2008;
constexpr uint32_t kMaxFields = 1024;
}  // namespace inode
static_assert(inode::kFields == inode::kFieldCount + 4);

namespace drec {
constexpr size_t kNameLength = 8;  // u32: length in the low 10 bits, hash above
constexpr size_t kName = 12;
constexpr uint32_t kNameLengthMask = 0x3FF;
constexpr size_t kTarget = 0;     // u64
constexpr size_t kDateAdded = 8;  // u64
constexpr size_t kType = 16;      // u16
constexpr size_t kMinValue = 18;
constexpr uint16_t kTypeDirectory = 4;
}  // namespace drec
}  // namespace fs

}  // namespace apfs
