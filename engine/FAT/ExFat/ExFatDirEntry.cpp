#include "ExFatDirEntry.h"

#include <algorithm>

#include "ExFatLayout.h"

namespace exfat {

namespace {

constexpr auto MakeNameTable() {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[static_cast<size_t>(i)] = i >= 0x1A ? 1 : 0;
    for (unsigned char c : {0x22, 0x2A, 0x2F, 0x3A, 0x3C, 0x3E, 0x3F, 0x5C, 0x7C, 0xFF})
        t[c] = 0;
    return t;
}

bool AllZero(const vk::ByteReader& e, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (e.U8(i) != 0)
            return false;
    }
    return true;
}

}  // namespace

const std::array<uint8_t, 256> g_u8FileNameCheckTable = MakeNameTable();

bool IsValidTimestamp(uint32_t stamp) {
    const uint32_t day = (stamp >> 16) & 0x1F;
    const uint32_t month = (stamp >> 21) & 0x0F;
    const uint32_t hour = (stamp >> 11) & 0x1F;
    const uint32_t minute = (stamp >> 5) & 0x3F;
    const uint32_t doubleSeconds = stamp & 0x1F;
    return day != 0 && month >= 1 && month <= 12 && hour < 24 && minute < 60 && doubleSeconds < 30;
}

bool IsAllowedNameUnit(uint16_t unit) {
    if (unit < 0x20)
        return false;
    switch (unit) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            return false;
        default:
            return true;
    }
}

bool IsValidFileEntry(const vk::ByteReader& e) {
    if (!e.Has(0, entry::kSize))
        return false;
    if ((e.U8(entry::kType) & entry::kCategoryMask) != 0)
        return false;
    const uint8_t secondaries = e.U8(file::kSecondaryCount);
    if (secondaries < file::kMinSecondaryCount || secondaries > file::kMaxSecondaryCount)
        return false;
    if (!IsValidTimestamp(e.LE32(file::kCreateTimestamp)) ||
        !IsValidTimestamp(e.LE32(file::kModifiedTimestamp)) ||
        !IsValidTimestamp(e.LE32(file::kAccessedTimestamp)))
        return false;
    if (e.U8(file::kCreate10ms) > file::kMax10ms || e.U8(file::kModified10ms) > file::kMax10ms)
        return false;
    return e.LE16(file::kReserved1) == 0 && AllZero(e, file::kReserved2, entry::kSize);
}

bool IsValidStreamEntry(const vk::ByteReader& e, const StreamLimits& limits) {
    if (!e.Has(0, entry::kSize))
        return false;
    if ((e.U8(entry::kType) & entry::kCategoryMask) != entry::kSecondaryCategory)
        return false;
    if (e.U8(stream::kReserved1) != 0 || e.LE16(stream::kReserved2) != 0 ||
        e.LE32(stream::kReserved3) != 0)
        return false;
    const uint32_t first = e.LE32(stream::kFirstCluster);
    if (first == 1 || first >= kBadCluster)
        return false;
    const uint64_t length = e.LE64(stream::kDataLength);
    const uint64_t valid = e.LE64(stream::kValidDataLength);
    if (limits.sectorShift >= 64 || (length >> limits.sectorShift) >= limits.totalSectors ||
        (valid >> limits.sectorShift) >= limits.totalSectors)
        return false;
    if (first != 0 && (e.U8(stream::kFlags) & stream::kFlagNoFatChain) != 0) {
        const unsigned shift = limits.clusterShift < 64 ? limits.clusterShift : 63;
        if ((length >> shift) + first >= 0xFFFFFFF6ULL || (valid >> shift) + first >= 0xFFFFFFF6ULL)
            return false;
    }
    return true;
}

bool IsValidNameEntry(const vk::ByteReader& e) {
    if (!e.Has(0, entry::kSize))
        return false;
    if ((e.U8(entry::kType) & entry::kCategoryMask) != entry::kSecondaryCategory)
        return false;
    // The characters are not looked at: one a driver should have refused
    // (a "/", a control character, one flipped bit) is still the name of an
    // intact file, and refusing it would end the walk of its whole folder.
    // Where a name becomes a path, it is cleaned.
    return e.U8(name::kFlags) == 0 && e.LE16(name::kChars) != 0;
}

bool IsValidLabelEntry(const vk::ByteReader& e) {
    if (!e.Has(0, entry::kSize))
        return false;
    if ((e.U8(entry::kType) & entry::kCategoryMask) != 0)
        return false;
    const uint8_t count = e.U8(label::kCharCount);
    if (count > label::kMaxChars)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t unit = e.LE16(label::kChars + 2 * i);
        if (unit < 256 && g_u8FileNameCheckTable[unit] == 0)
            return false;
    }
    return AllZero(e, label::kChars + 2 * count, entry::kSize);
}

size_t FileEntryAfterZeros(const uint8_t* data, size_t from, size_t length) {
    if (!data)
        return kNoEntry;
    // Most sectors that start with zeros are zeros: their type bytes alone
    // show that no file entry follows.
    size_t file = kNoEntry;
    for (size_t off = from; off + entry::kSize <= length && file == kNoEntry; off += entry::kSize) {
        if (data[off] == entry::kTypeFile || data[off] == entry::Deleted(entry::kTypeFile))
            file = off;
    }
    if (file == kNoEntry)
        return kNoEntry;
    for (size_t off = from; off < file; off += entry::kSize) {
        const uint8_t* e = data + off;
        // The rest of a set whose head was zeroed goes with it.
        if ((e[0] & entry::kCategoryMask) != entry::kSecondaryCategory &&
            !std::all_of(e, e + entry::kSize, [](uint8_t b) { return b == 0; }))
            return kNoEntry;
    }
    return file;
}

uint16_t EntrySetChecksum(const uint8_t* bytes, size_t length, bool asInUse) {
    uint16_t sum = 0;
    if (!bytes)
        return sum;
    for (size_t i = 0; i < length; ++i) {
        if (i == file::kSetChecksum || i == file::kSetChecksum + 1)
            continue;
        uint8_t b = bytes[i];
        if (asInUse && i % entry::kSize == 0)
            b = i == 0              ? entry::kTypeFile
                : i == entry::kSize ? entry::kTypeStream
                                    : entry::kTypeName;
        sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
    }
    return sum;
}

}  // namespace exfat

bool CheckDirEntry(const uint8_t* bytes, size_t length, uint16_t checksum) {
    if (length == 0)
        return checksum == 0;
    if (!bytes)
        return false;
    if (exfat::EntrySetChecksum(bytes, length, false) == checksum)
        return true;
    return bytes[0] == exfat::entry::Deleted(exfat::entry::kTypeFile) &&
           exfat::EntrySetChecksum(bytes, length, true) == checksum;
}
