#include "NTFSIndexRecord.h"

#include <cstring>
#include <vector>

#include "ByteReader.h"
#include "UpdateSequence.h"

namespace ix = ntfs::layout::indx;
namespace ie = ntfs::layout::ientry;
namespace ir = ntfs::layout::iroot;
namespace lg = ntfs::layout::log;
using ntfs::layout::kReferenceMask;
using ntfs::layout::kUpdateSequenceStride;

namespace {

// Entries of one index node: [first, end) inside the block, each entry's
// header inside the area before it is read.
struct EntryArea {
    size_t first = 0;
    size_t end = 0;
};

bool IndexBlockArea(const vk::ByteReader& r, EntryArea* area) {
    // Both the first entry's offset and the bytes in use count from the
    // node header, whose own 16 bytes are in use too.
    const uint64_t first = uint64_t{ix::kNodeHeader} + r.LE32(ix::kEntriesOffset);
    const uint64_t end = uint64_t{ix::kNodeHeader} + r.LE32(ix::kEntriesInUse);
    if (r.failed() || end > r.size() || first > end)
        return false;
    area->first = static_cast<size_t>(first);
    area->end = static_cast<size_t>(end);
    return true;
}

// A log-file page's array sits at a fixed place and covers its first
// eight strides.
constexpr ntfs::UpdateSequence kLogPageSequence{lg::kPageUsaOffset, lg::kPageUsaCount - 1u};

size_t SectorsOf(const vk::ByteReader& r) {
    const uint16_t count = r.LE16(ix::kUsaCount);
    return count == 0 ? 0 : std::min<size_t>(count - 1u, r.size() / kUpdateSequenceStride);
}

}  // namespace

bool CStandardIndexHeader::IsValidMagicNumber(const uint8_t* buffer, size_t size) {
    return vk::ByteReader(buffer, size).Matches(ix::kMagic, "INDX");
}

bool CStandardIndexHeader::IsValid(const uint8_t* buffer, size_t size) {
    vk::ByteReader r(buffer, size);
    if (!r.Matches(ix::kMagic, "INDX") || !r.Has(0, ix::kEntriesAllocated + 4))
        return false;
    const uint32_t allocated = r.LE32(ix::kEntriesAllocated);
    const uint32_t inUse = r.LE32(ix::kEntriesInUse);
    const uint32_t first = r.LE32(ix::kEntriesOffset);
    const uint16_t count = r.LE16(ix::kUsaCount);
    const uint16_t usa = r.LE16(ix::kUsaOffset);
    if (allocated > size || inUse > allocated || count == 0 || count > 16)
        return false;
    if (count - 1u > size / kUpdateSequenceStride)
        return false;
    if (count - 1u != ((uint64_t{allocated} + first) / kUpdateSequenceStride) % 65536)
        return false;
    return usa >= ix::kMinUsaOffset && usa <= ix::kMaxUsaOffset && r.Has(usa, 2u * count);
}

bool CIndexRecord::IsValidUpdateSequence(const uint8_t* buffer, size_t size) {
    vk::ByteReader r(buffer, size);
    if (!r.Has(0, ix::kEntriesAllocated + 4))
        return false;
    const ntfs::UpdateSequence sequence{r.LE16(ix::kUsaOffset), SectorsOf(r)};
    return r.Has(sequence.arrayOffset, 2 * (sequence.sectors + 1)) &&
           ntfs::SectorEndsMatch(buffer, sequence);
}

bool CIndexRecord::UnfixupIndexRecord(uint8_t* buffer, size_t size) {
    if (!IsValidUpdateSequence(buffer, size))
        return false;
    vk::ByteReader r(buffer, size);
    ntfs::UndoFixups(buffer, {r.LE16(ix::kUsaOffset), SectorsOf(r)});
    return true;
}

bool CIndexRecord::FixupIndexRecord(uint8_t* buffer, size_t size) {
    vk::ByteReader r(buffer, size);
    if (!r.Has(0, ix::kEntriesAllocated + 4))
        return false;
    const ntfs::UpdateSequence sequence{r.LE16(ix::kUsaOffset), SectorsOf(r)};
    if (!r.Has(sequence.arrayOffset, 2 * (sequence.sectors + 1)))
        return false;
    ntfs::ApplyFixups(buffer, sequence);
    return true;
}

bool CIndexRecord::IsValid(const uint8_t* entry, size_t room, int) {
    vk::ByteReader r(entry, room);
    return r.Has(0, ie::kKeyRealSize + 8) &&
           r.LE64(ie::kKeyAllocatedSize) >= r.LE64(ie::kKeyRealSize);
}

bool CIndexRecord::CheckIndexEntries(const uint8_t* buffer, size_t size) {
    vk::ByteReader r(buffer, size);
    EntryArea area;
    if (!IndexBlockArea(r, &area))
        return false;
    bool haveParent = false;
    uint64_t parent = 0;
    for (size_t off = area.first; off < area.end;) {
        // The entry header must lie inside the in-use area before its
        // length and flags are believed.
        if (!vk::RangeInside(area.end, off, ie::kKey))
            return false;
        const uint16_t flags = r.LE16(off + ie::kFlags);
        const uint16_t length = r.LE16(off + ie::kLength);
        if (flags & ie::kFlagLast)
            return true;
        if (length == 0)
            return true;
        if (!vk::RangeInside(area.end, off, length))
            return false;
        if (flags != ie::kFlagSubNode) {
            if (length < ie::kMinFileNameEntry || !IsValid(buffer + off, length, 0))
                return false;
            const uint64_t p = r.LE64(off + ie::kKeyParent);
            if (!haveParent) {
                parent = p;
                haveParent = true;
            } else if (p != parent) {
                return false;
            }
        }
        off += length;
    }
    return true;
}

bool CIndexRecord::IsValid(const uint8_t* buffer, size_t size) {
    if (size > kMaxBlockSize || !CStandardIndexHeader::IsValid(buffer, size))
        return false;
    std::vector<uint8_t> copy(buffer, buffer + size);
    if (!UnfixupIndexRecord(copy.data(), copy.size()))
        return false;
    return CheckIndexEntries(copy.data(), copy.size());
}

int64_t CIndexRecord::GetParentFileReference(const uint8_t* buffer, size_t size) {
    vk::ByteReader r(buffer, size);
    EntryArea area;
    if (!IndexBlockArea(r, &area) || !vk::RangeInside(area.end, area.first, ie::kKeyParent + 8))
        return -1;
    if (r.LE16(area.first + ie::kFlags) & ie::kFlagLast)
        return -1;
    return static_cast<int64_t>(r.LE64(area.first + ie::kKeyParent) & 0xFFFFFFFFULL);
}

int64_t CIndexRecord::GetVCN(const uint8_t* buffer, size_t size) {
    return vk::ByteReader(buffer, size).LES64(ix::kVcn);
}

uint64_t CIndexRecord::GetLogFileSequenceNumber(const uint8_t* buffer, size_t size) {
    return vk::ByteReader(buffer, size).LE64(ix::kLogSequence);
}

// ---------------------------------------------------------------- index root

bool CNTFSFileRecordIndexRootAttribute::IsValid(const CNTFSFileRecordAttribute& attribute) {
    if (attribute.Empty() || !attribute.IsResident())
        return false;
    vk::ByteReader value = attribute.Value();
    if (value.failed() || !value.Has(0, ir::kEntriesAllocated + 4))
        return false;
    return uint64_t{value.LE32(ir::kEntriesInUse)} + ir::kNodeHeader <= value.size() &&
           uint64_t{value.LE32(ir::kEntriesOffset)} + ir::kNodeHeader <= value.size();
}

int64_t CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(
    const CNTFSFileRecordAttribute& attribute) {
    if (!IsValid(attribute))
        return -1;
    vk::ByteReader value = attribute.Value();
    const uint32_t inUse = value.LE32(ir::kEntriesInUse);
    if (inUse == 16)
        return -1;
    const size_t first = ir::kNodeHeader + value.LE32(ir::kEntriesOffset);
    const size_t end = ir::kNodeHeader + inUse;
    int64_t answer = -1;
    size_t walked = 0;
    for (size_t off = first; off < end && walked + 16 < inUse;) {
        if (!vk::RangeInside(end, off, ie::kKey))
            break;
        const uint16_t length = value.LE16(off + ie::kLength);
        const uint16_t flags = value.LE16(off + ie::kFlags);
        if (length == 0 || !vk::RangeInside(end, off, length))
            break;
        if (flags != ie::kFlagSubNode) {
            if (flags == ie::kFlagLast || length < ie::kMinFileNameEntry ||
                value.U8(off + ie::kKeyNameLength) == 0 ||
                value.LE64(off + ie::kKeyAllocatedSize) < value.LE64(off + ie::kKeyRealSize))
                break;
            const int64_t parent =
                static_cast<int64_t>(value.LE64(off + ie::kKeyParent) & kReferenceMask);
            if (answer == -1) {
                answer = parent;
            } else if (answer != parent) {
                return -1;
            }
        }
        off += length;
        walked += length;
    }
    return answer;
}

// ---------------------------------------------------------------- RCRD

bool CRCRDRecord::IsValidMagicNumber(const uint8_t* buffer, size_t size) {
    return vk::ByteReader(buffer, size).Matches(0, "RCRD");
}

bool CRCRDRecord::IsValidUpdateSequence(const uint8_t* buffer, size_t size) {
    vk::ByteReader r(buffer, size);
    if (size < lg::kPageSize)
        return false;
    if (r.LE16(ix::kUsaCount) != lg::kPageUsaCount || r.LE16(ix::kUsaOffset) != lg::kPageUsaOffset)
        return false;
    return ntfs::SectorEndsMatch(buffer, kLogPageSequence);
}

bool CRCRDRecord::Unfixup(uint8_t* buffer, size_t size) {
    if (!IsValid(buffer, size))
        return false;
    ntfs::UndoFixups(buffer, kLogPageSequence);
    return true;
}

bool NTFSPublicFunction::IsClusterNOMatch(int64_t sector, int64_t cluster, int64_t partitionStart,
                                          int64_t sectorsPerCluster) {
    if (sectorsPerCluster <= 0 || (sectorsPerCluster != 1 && sectorsPerCluster % 2 != 0))
        return false;
    const int64_t delta = sector - partitionStart;
    if (delta < 0 || delta % sectorsPerCluster != 0)
        return false;
    return delta / sectorsPerCluster == cluster;
}
