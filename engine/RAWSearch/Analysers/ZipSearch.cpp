#include "ZipSearch.h"

#include <cstring>

#include "ByteReader.h"
#include "OfficeLayout.h"

using namespace zip_layout;

namespace classZipSearch {

namespace {

constexpr uint16_t kMaxMethod = 10;
constexpr size_t kMaxLocalName = 4096;
constexpr uint64_t kMaxZip64EndExtra = 65536;

uint32_t Signature(const uint8_t* p, size_t available) {
    return available >= 4 ? vk::LoadLE<uint32_t>(p) : 0;
}

// The compressed size a Zip64 extra block gives a local header whose own
// field is full; 0 when the extra field has none.
uint64_t Zip64CompressedSize(const uint8_t* extra, size_t length) {
    const vk::ByteReader r(extra, length);
    for (size_t at = 0; r.Has(at, kExtraHead);) {
        const uint16_t id = r.LE16(at);
        const uint16_t size = r.LE16(at + 2);
        if (id == kZip64ExtraId && size >= kZip64ExtraCompressed + 8 &&
            r.Has(at + kExtraHead, size))
            return r.LE64(at + kExtraHead + kZip64ExtraCompressed);
        at += kExtraHead + size;
    }
    return 0;
}

}  // namespace

int IsValidLocalZipFileHeader(const uint8_t* p, size_t available) {
    if (Signature(p, available) != kLocalSignature || available < kLocalBytes)
        return 0;
    return vk::LoadLE<uint16_t>(p + kLocalMethod) <= kMaxMethod &&
                   vk::LoadLE<uint16_t>(p + kLocalNameLength) <= kMaxLocalName
               ? 1
               : 0;
}
int IsValidCentralDirectoryHeader(const uint8_t* p, size_t available) {
    return Signature(p, available) == kCentralSignature ? 1 : 0;
}
int IsValidEndCentralDir(const uint8_t* p, size_t available) {
    return Signature(p, available) == kEndSignature ? 1 : 0;
}
int IsValidZip64EndCentralDirRecord(const uint8_t* p, size_t available) {
    return Signature(p, available) == kZip64EndSignature ? 1 : 0;
}
int IsValidZip64EndCentralDirLocator(const uint8_t* p, size_t available) {
    return Signature(p, available) == kZip64LocatorSignature ? 1 : 0;
}
int IsValidHeader(const uint8_t* p, size_t available) {
    return IsValidLocalZipFileHeader(p, available) || IsValidCentralDirectoryHeader(p, available) ||
                   IsValidEndCentralDir(p, available) ||
                   IsValidZip64EndCentralDirRecord(p, available) ||
                   IsValidZip64EndCentralDirLocator(p, available)
               ? 1
               : 0;
}

uint64_t EndRecordEnd(const uint8_t* record) {
    return kEndBytes + vk::LoadLE<uint16_t>(record + kEndCommentLength);
}

ReadResult ReadRecord(const uint8_t* p, size_t available, size_t maxName, Record& out) {
    out = Record{};
    if (p == nullptr || available < 4)
        return available < 4 && p != nullptr ? ReadResult::NeedMore : ReadResult::Invalid;
    const uint32_t signature = vk::LoadLE<uint32_t>(p);
    if (signature == kLocalSignature) {
        if (available < kLocalBytes)
            return ReadResult::NeedMore;
        if (!IsValidLocalZipFileHeader(p, available))
            return ReadResult::Invalid;
        tagZipLocalFileHeader& h = out.local;
        h.flags = vk::LoadLE<uint16_t>(p + kLocalFlags);
        h.method = vk::LoadLE<uint16_t>(p + kLocalMethod);
        h.compressedSize = vk::LoadLE<uint32_t>(p + kLocalCompressedSize);
        h.uncompressedSize = vk::LoadLE<uint32_t>(p + kLocalUncompressedSize);
        h.nameLength = vk::LoadLE<uint16_t>(p + kLocalNameLength);
        h.extraLength = vk::LoadLE<uint16_t>(p + kLocalExtraLength);
        if (h.nameLength > maxName)
            return ReadResult::Invalid;
        out.headerBytes = kLocalBytes + h.nameLength + h.extraLength;
        // The extra field is needed only when it carries the size.
        const bool zip64 = h.compressedSize == 0xFFFFFFFFu;
        const size_t needed = kLocalBytes + h.nameLength + (zip64 ? h.extraLength : 0);
        if (available < needed)
            return ReadResult::NeedMore;
        out.name.assign(reinterpret_cast<const char*>(p + kLocalBytes), h.nameLength);
        uint64_t compressed = h.compressedSize;
        if (zip64)
            compressed = Zip64CompressedSize(p + kLocalBytes + h.nameLength, h.extraLength);
        out.kind = RecordKind::Local;
        out.length = out.headerBytes + compressed;
        return ReadResult::Ok;
    }
    if (signature == kCentralSignature) {
        if (available < kCentralBytes)
            return ReadResult::NeedMore;
        const uint16_t name = vk::LoadLE<uint16_t>(p + kCentralNameLength);
        if (name > maxName)
            return ReadResult::Invalid;
        if (available < kCentralBytes + name)
            return ReadResult::NeedMore;
        out.kind = RecordKind::Central;
        out.name.assign(reinterpret_cast<const char*>(p + kCentralBytes), name);
        out.headerBytes = kCentralBytes + name + vk::LoadLE<uint16_t>(p + kCentralExtraLength) +
                          vk::LoadLE<uint16_t>(p + kCentralCommentLength);
        out.length = out.headerBytes;
        return ReadResult::Ok;
    }
    if (signature == kEndSignature) {
        if (available < kEndBytes)
            return ReadResult::NeedMore;
        out.kind = RecordKind::End;
        out.length = EndRecordEnd(p);
        out.headerBytes = kEndBytes;
        return ReadResult::Ok;
    }
    if (signature == kZip64EndSignature) {
        if (available < kZip64EndHead)
            return ReadResult::NeedMore;
        const uint64_t size = vk::LoadLE<uint64_t>(p + kZip64EndSize);
        if (size < kZip64EndBytes - kZip64EndHead || size > kMaxZip64EndExtra)
            return ReadResult::Invalid;
        out.kind = RecordKind::Zip64End;
        out.length = kZip64EndHead + size;
        out.headerBytes = kZip64EndHead;
        return ReadResult::Ok;
    }
    if (signature == kZip64LocatorSignature) {
        out.kind = RecordKind::Zip64Locator;
        out.length = kZip64LocatorBytes;
        out.headerBytes = 4;
        return ReadResult::Ok;
    }
    return ReadResult::Invalid;
}

bool EndRecordCloses(const ReadAt& read, uint64_t position) {
    const uint8_t* end = read(position, kEndBytes);
    if (end == nullptr || vk::LoadLE<uint32_t>(end) != kEndSignature)
        return false;
    const vk::ByteReader e(end, kEndBytes);
    const uint16_t disk = e.LE16(4);
    const uint16_t directoryDisk = e.LE16(6);
    const uint32_t directoryBytes = e.LE32(kEndDirectoryBytes);
    const uint32_t directoryOffset = e.LE32(kEndDirectoryOffset);
    // A Zip64 locator just before the end record points at the Zip64 end
    // record, which then follows the central directory.
    if (position >= kZip64LocatorBytes) {
        const uint8_t* locator = read(position - kZip64LocatorBytes, kZip64LocatorBytes);
        if (locator != nullptr && vk::LoadLE<uint32_t>(locator) == kZip64LocatorSignature) {
            const uint64_t record = vk::LoadLE<uint64_t>(locator + kZip64LocatorEndOffset);
            const uint64_t locatorAt = position - kZip64LocatorBytes;
            if (record >= locatorAt || locatorAt - record < kZip64EndBytes)
                return false;
            const uint8_t* z = read(record, kZip64EndBytes);
            if (z == nullptr || vk::LoadLE<uint32_t>(z) != kZip64EndSignature ||
                kZip64EndHead + vk::LoadLE<uint64_t>(z + kZip64EndSize) != locatorAt - record)
                return false;
            const uint64_t bytes64 = vk::LoadLE<uint64_t>(z + kZip64EndDirectoryBytes);
            const uint64_t offset64 = vk::LoadLE<uint64_t>(z + kZip64EndDirectoryOffset);
            return offset64 <= record && bytes64 == record - offset64;
        }
    }
    if (disk != 0 || directoryDisk != 0)
        return false;
    return static_cast<uint64_t>(directoryOffset) + directoryBytes == position;
}

long FindAt(const uint8_t* p, size_t available, size_t lastPosition, const char* pattern) {
    const size_t n = std::strlen(pattern);
    for (size_t at = 0; at <= lastPosition && at + n <= available; ++at) {
        if (std::memcmp(p + at, pattern, n) == 0)
            return static_cast<long>(at);
    }
    return -1;
}

}  // namespace classZipSearch
