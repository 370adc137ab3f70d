// The 32-byte exFAT directory entries: the checks each kind must pass, the
// entry-set checksum, and the record a directory parse makes of one file's
// entry set. Shared by the quick search and the surface search.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteReader.h"

// One file or folder as its entry set describes it.
struct _tagFileBaseInfo {
    uint64_t dataLength = 0;
    uint64_t validDataLength = 0;
    uint32_t firstCluster = 0;
    uint8_t noFatChain = 0;
    uint8_t inUse = 0;
    uint16_t attributes = 0;
    // Time in the low half, date in the high half (DOS layout).
    uint32_t createTime = 0;
    uint32_t modifyTime = 0;
    uint32_t accessTime = 0;
    // The first sector of the directory cluster (or sector) the set was read from.
    uint64_t metadataSector = 0;
    // UTF-8, the whole name (up to 255 UTF-16 units).
    std::string name;

    bool IsDirectory() const { return (attributes & 0x10) != 0; }
};

namespace exfat {

// Bytes that may stand in a volume label: everything but 0x00-0x19, the
// characters " * / : < > ? \ | and 0xFF.
extern const std::array<uint8_t, 256> g_u8FileNameCheckTable;

// Day 1-31, month 1-12, hour below 24, minute below 60, seconds below 60;
// year and UTC offset are not looked at.
bool IsValidTimestamp(uint32_t stamp);

// A UTF-16 unit that may stand in a file name: exFAT forbids U+0000-U+001F
// and " * / : < > ? \ | (and compliant drivers refuse to create them).
// A name entry holding one is still read (see IsValidNameEntry).
bool IsAllowedNameUnit(uint16_t unit);

// What a stream extension's lengths and cluster are checked against.
struct StreamLimits {
    uint8_t sectorShift = 9;
    uint8_t clusterShift = 12;
    uint64_t totalSectors = 0;
};

// Each takes a view of one 32-byte entry (a shorter view fails).
bool IsValidFileEntry(const vk::ByteReader& e);
bool IsValidStreamEntry(const vk::ByteReader& e, const StreamLimits& limits);
bool IsValidNameEntry(const vk::ByteReader& e);
bool IsValidLabelEntry(const vk::ByteReader& e);

// Where a folder's entries go on after zeroed entries starting at `from`:
// the offset of the first entry after them that is neither all zeros nor a
// secondary entry (what is left of a set whose head was zeroed), when it is
// a file entry (live or deleted) within `length` bytes; else kNoEntry, and
// the zeros are the folder's end. A folder ends in zeros only, so a file
// entry after them means the zeros are damage.
size_t FileEntryAfterZeros(const uint8_t* data, size_t from, size_t length);
constexpr size_t kNoEntry = static_cast<size_t>(-1);

// The set checksum over `length` bytes (bytes 2 and 3 left out). With
// asInUse, the type bytes count as those of a set in use: 0x85 at 0, 0xC0 at
// 32 and 0xC1 at every further entry.
uint16_t EntrySetChecksum(const uint8_t* bytes, size_t length, bool asInUse);

}  // namespace exfat

// Whether a set's stored checksum matches its bytes; a deleted set (first
// byte 0x05) also passes with the sum it had while in use. A length of 0
// passes only a checksum of 0.
bool CheckDirEntry(const uint8_t* bytes, size_t length, uint16_t checksum);
