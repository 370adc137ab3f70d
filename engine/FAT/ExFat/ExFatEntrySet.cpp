#include "ExFatEntrySet.h"

#include <utility>

#include "ExFatLayout.h"
#include "Utility/TextConvert.h"

using namespace exfat;

void CExFatEntrySet::Reset() {
    m_state = 0;
    m_expected = 0;
    m_counted = 0;
    m_nameLength = 0;
    m_units.clear();
}

bool CExFatEntrySet::SameUse(const vk::ByteReader& e) const {
    return ((e.U8(entry::kType) & entry::kInUse) != 0) == (m_record.inUse != 0);
}

void CExFatEntrySet::PushPrimaryEntry(const vk::ByteReader& e, uint64_t metadataSector) {
    Reset();
    m_record = _tagFileBaseInfo{};
    m_record.inUse = (e.U8(entry::kType) & entry::kInUse) != 0 ? 1 : 0;
    m_record.attributes = e.LE16(file::kAttributes);
    m_record.createTime = e.LE32(file::kCreateTimestamp);
    m_record.modifyTime = e.LE32(file::kModifiedTimestamp);
    m_record.accessTime = e.LE32(file::kAccessedTimestamp);
    m_record.metadataSector = metadataSector;
    m_expected = e.U8(file::kSecondaryCount);
    m_state = 1;
}

CExFatEntrySet::Step CExFatEntrySet::PushStreamEntry(const vk::ByteReader& e) {
    if (m_state != 1 || m_counted != 1 || !SameUse(e) || m_expected == 0) {
        Reset();
        return Step::Dropped;
    }
    m_record.noFatChain = (e.U8(stream::kFlags) & stream::kFlagNoFatChain) != 0 ? 1 : 0;
    m_record.dataLength = e.LE64(stream::kDataLength);
    m_record.validDataLength = e.LE64(stream::kValidDataLength);
    m_record.firstCluster = e.LE32(stream::kFirstCluster);
    m_nameLength = e.U8(stream::kNameLength);
    m_state = 2;
    --m_expected;
    return m_expected == 0 ? Finish() : Step::Accepted;
}

CExFatEntrySet::Step CExFatEntrySet::PushNameEntry(const vk::ByteReader& e) {
    if (m_state < 2 || m_state != m_counted || !SameUse(e) || m_expected == 0) {
        Reset();
        return Step::Dropped;
    }
    for (size_t i = 0; i < name::kCharsPerEntry; ++i)
        m_units.push_back(e.LE16(name::kChars + 2 * i));
    ++m_state;
    --m_expected;
    return m_expected == 0 ? Finish() : Step::Accepted;
}

CExFatEntrySet::Step CExFatEntrySet::PushVendorEntry(const vk::ByteReader& e) {
    // Vendor entries follow the names; without a name the set is no file.
    if (m_state < 3 || m_state != m_counted || !SameUse(e) || m_expected == 0) {
        Reset();
        return Step::Dropped;
    }
    ++m_state;
    --m_expected;
    return m_expected == 0 ? Finish() : Step::Accepted;
}

CExFatEntrySet::Step CExFatEntrySet::Finish() {
    if (m_units.empty()) {
        // A stream without any name entry: nothing to call the file.
        Reset();
        return Step::Dropped;
    }
    // The stream's name length says how many units are the name; a length
    // larger than the name entries hold (a damaged set) takes what is there.
    size_t units = m_units.size();
    if (m_nameLength != 0 && m_nameLength < units)
        units = m_nameLength;
    vk::Utf16Options options;
    options.stopAtNul = true;
    m_record.name = vk::Utf16UnitsToUtf8(m_units.data(), units, options);
    return Step::Completed;
}

_tagFileBaseInfo CExFatEntrySet::Take() {
    _tagFileBaseInfo out = std::move(m_record);
    m_record = _tagFileBaseInfo{};
    Reset();
    return out;
}

bool CExFatEntrySet::TakeCut(_tagFileBaseInfo* out) {
    if (m_state < 3 || m_units.empty() || Finish() != Step::Completed) {
        Reset();
        return false;
    }
    *out = Take();
    return true;
}

void CEFDTAnalyze::CloseCutSet() {
    _tagFileBaseInfo record;
    if (m_set.TakeCut(&record))
        m_completed.push_back(std::move(record));
}

void CEFDTAnalyze::PrepareAnayze(uint8_t sectorShift, uint8_t clusterShift, uint64_t totalSectors) {
    m_limits.sectorShift = sectorShift;
    m_limits.clusterShift = clusterShift;
    m_limits.totalSectors = totalSectors;
    m_set.Reset();
    m_completed.clear();
}

bool CEFDTAnalyze::Analyze(const uint8_t* buffer, size_t length, uint64_t sector) {
    if (!buffer || length < entry::kSize)
        return true;
    const vk::ByteReader all(buffer, length);
    for (size_t off = 0; off + entry::kSize <= length; off += entry::kSize) {
        if (buffer[off] == 0) {
            // Zeros end a folder, unless entry sets follow them: then they
            // are damage, and the files after them are still the folder's.
            const size_t next = FileEntryAfterZeros(buffer, off, length);
            if (next == kNoEntry) {
                m_set.CountEntry();
                return false;
            }
            CloseCutSet();
            off = next - entry::kSize;
            continue;
        }
        // An entry that fails its check costs that entry only: the set it
        // cuts short keeps the name read so far, and the walk goes on.
        if (!AnalyzeEntry(all.Sub(off, entry::kSize), sector))
            CloseCutSet();
        m_set.CountEntry();
    }
    return true;
}

bool CEFDTAnalyze::AnalyzeEntry(const vk::ByteReader& e, uint64_t sector) {
    const uint8_t type = e.U8(entry::kType);
    switch (type) {
        case entry::kTypeFile:
        case entry::Deleted(entry::kTypeFile):
            m_set.Reset();
            if (!IsValidFileEntry(e))
                return false;
            m_set.PushPrimaryEntry(e, sector);
            return true;
        case entry::kTypeStream:
        case entry::Deleted(entry::kTypeStream):
            if (!IsValidStreamEntry(e, m_limits))
                return false;
            if (m_set.PushStreamEntry(e) == CExFatEntrySet::Step::Completed)
                m_set.Reset();  // a set of a stream alone names nothing
            return true;
        case entry::kTypeName:
        case entry::Deleted(entry::kTypeName):
            if (!IsValidNameEntry(e))
                return false;
            if (m_set.PushNameEntry(e) == CExFatEntrySet::Step::Completed)
                m_completed.push_back(m_set.Take());
            return true;
        case entry::kTypeVendorExtension:
        case entry::kTypeVendorAllocation:
        case entry::Deleted(entry::kTypeVendorExtension):
        case entry::Deleted(entry::kTypeVendorAllocation):
            if (m_set.PushVendorEntry(e) == CExFatEntrySet::Step::Completed)
                m_completed.push_back(m_set.Take());
            return true;
        case entry::kTypeLabel:
        case entry::Deleted(entry::kTypeLabel):
            return IsValidLabelEntry(e);
        case entry::kTypeBitmap:
        case entry::kTypeUpcase:
            return true;
        default:
            return entry::IsBenignPrimary(type);
    }
}
