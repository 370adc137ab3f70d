#include "ExFatPreAnalyze.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "ExFatLayout.h"
#include "Utility/TextConvert.h"

using namespace exfat;

namespace {

bool IsStreamType(uint8_t type) {
    return type == entry::kTypeStream || type == entry::Deleted(entry::kTypeStream);
}
bool IsNameType(uint8_t type) {
    return type == entry::kTypeName || type == entry::Deleted(entry::kTypeName);
}
bool IsVendorType(uint8_t type) {
    return type == entry::kTypeVendorExtension || type == entry::kTypeVendorAllocation ||
           type == entry::Deleted(entry::kTypeVendorExtension) ||
           type == entry::Deleted(entry::kTypeVendorAllocation);
}

bool AllZero(const vk::ByteReader& e, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (e.U8(i) != 0)
            return false;
    }
    return true;
}

// A bitmap or up-case table entry whose cluster and length can belong to a
// volume on this device.
bool IsValidTableEntry(const vk::ByteReader& e, const StreamLimits& limits, bool bitmap) {
    const uint32_t cluster = e.LE32(table::kFirstCluster);
    const uint64_t length = e.LE64(table::kDataLength);
    if (cluster < kFirstCluster || cluster > kLastValidCluster)
        return false;
    if ((length >> limits.sectorShift) >= limits.totalSectors)
        return false;
    if ((length >> boot::kMaxClusterShift) + cluster > kLastValidCluster)
        return false;
    // A bitmap's flags say which FAT it serves (0 or 1); an up-case table
    // keeps its checksum at 4.
    if (bitmap)
        return e.U8(1) <= 1 && AllZero(e, 2, table::kFirstCluster);
    return AllZero(e, 1, 4) && AllZero(e, 8, table::kFirstCluster);
}

}  // namespace

CFDTPreAnaylze::CFDTPreAnaylze() : m_set(std::make_unique<CFileSet>()) {}

void CFDTPreAnaylze::PrepareAnayze(uint32_t sectorSize, uint8_t clusterShift,
                                   uint64_t totalSectors) {
    m_sectorSize = sectorSize;
    m_limits.sectorShift = static_cast<uint8_t>(std::countr_zero(sectorSize ? sectorSize : 512));
    m_limits.clusterShift = clusterShift;
    m_limits.totalSectors = totalSectors;
    FinisAnayze();
}

void CFDTPreAnaylze::FinisAnayze() {
    m_entries.Reset();
    m_set = std::make_unique<CFileSet>();
    m_heads.clear();
    m_tails.clear();
    m_next.clear();
    m_last.clear();
}

int64_t CFDTPreAnaylze::GetNext(uint64_t sector) const {
    const auto it = m_next.find(sector);
    return it == m_next.end() ? -1 : static_cast<int64_t>(it->second);
}

int64_t CFDTPreAnaylze::GetLast(uint64_t sector) const {
    const auto it = m_last.find(sector);
    return it == m_last.end() ? -1 : static_cast<int64_t>(it->second);
}

std::unique_ptr<CFileSet> CFDTPreAnaylze::GetFileSet() {
    m_entries.Reset();
    if (!m_set->hasSector || !(m_set->HasFiles() || m_set->IsRoot())) {
        if (m_set->hasSector || m_set->flags != 0)
            m_set = std::make_unique<CFileSet>();
        return nullptr;
    }
    std::unique_ptr<CFileSet> out = std::move(m_set);
    out->CalculateClusterSize(m_sectorSize);
    m_set = std::make_unique<CFileSet>();
    return out;
}

void CFDTPreAnaylze::MarkAbridged(size_t index) {
    // Secondary entries at the very start of a new run: the file entry they
    // belong to lies in another sector.
    if (index == 0 && !m_set->hasSector && !m_set->HasFiles())
        m_set->flags |= kFileSetAbridged;
}

bool CFDTPreAnaylze::Analyze(uint64_t sector, const uint8_t* data, size_t after) {
    const size_t entries = m_sectorSize / entry::kSize;
    const vk::ByteReader all(data, m_sectorSize + after);
    bool accepted = false;
    bool failed = false;
    bool cut = false;
    bool sawBitmap = false, sawUpcase = false, sawLabel = false;
    for (size_t i = 0; i < entries && !failed && !cut; ++i) {
        const size_t off = i * entry::kSize;
        const vk::ByteReader e = all.Sub(off, entry::kSize);
        const uint8_t type = data[off];
        switch (type) {
            case 0: {
                // Zeroed entries with file entries after them: damage, the
                // run goes on with the first file entry.
                const size_t next = FileEntryAfterZeros(data, off, m_sectorSize);
                if (next == kNoEntry) {
                    failed = true;
                    break;
                }
                _tagFileBaseInfo cut;
                if (m_entries.TakeCut(&cut))
                    m_set->UpdateFileList(std::move(cut));
                i = next / entry::kSize - 1;
                continue;
            }
            case entry::kTypeFile:
            case entry::Deleted(entry::kTypeFile): {
                m_entries.Reset();
                if (!IsValidFileEntry(e)) {
                    failed = true;
                    break;
                }
                accepted = true;
                const size_t setBytes =
                    (static_cast<size_t>(e.U8(file::kSecondaryCount)) + 1) * entry::kSize;
                const size_t left = m_sectorSize - off;
                if (setBytes > left) {
                    // The set runs past the sector. It goes on in the next
                    // sector when the run may still grow there and the
                    // bytes there complete it; otherwise its rest lies in
                    // another cluster.
                    const uint64_t count = m_set->hasSector && sector >= m_set->firstSector
                                               ? sector - m_set->firstSector + 1
                                               : 1;
                    const uint64_t largest = m_set->maxClusterSize / m_sectorSize;
                    if (count == largest || setBytes - left > after ||
                        !CheckDirEntry(data + off, setBytes, e.LE16(file::kSetChecksum))) {
                        m_set->flags |= kFileSetNotEnded;
                        OfferHead(data + off, left, sector);
                        cut = true;
                        break;
                    }
                }
                m_entries.PushPrimaryEntry(e, sector);
                break;
            }
            case entry::kTypeStream:
            case entry::Deleted(entry::kTypeStream):
                if (!IsValidStreamEntry(e, m_limits)) {
                    failed = true;
                    break;
                }
                accepted = true;
                if (!m_entries.IsOpen()) {
                    MarkAbridged(i);
                } else if (m_entries.PushStreamEntry(e) == CExFatEntrySet::Step::Completed) {
                    m_entries.Reset();  // a stream alone names nothing
                }
                break;
            case entry::kTypeName:
            case entry::Deleted(entry::kTypeName):
                if (!IsValidNameEntry(e)) {
                    failed = true;
                    break;
                }
                accepted = true;
                if (!m_entries.IsOpen()) {
                    MarkAbridged(i);
                } else if (m_entries.PushNameEntry(e) == CExFatEntrySet::Step::Completed) {
                    m_set->UpdateFileList(m_entries.Take());
                }
                break;
            case entry::kTypeVendorExtension:
            case entry::kTypeVendorAllocation:
            case entry::Deleted(entry::kTypeVendorExtension):
            case entry::Deleted(entry::kTypeVendorAllocation):
                accepted = true;
                if (!m_entries.IsOpen()) {
                    MarkAbridged(i);
                } else if (m_entries.PushVendorEntry(e) == CExFatEntrySet::Step::Completed) {
                    m_set->UpdateFileList(m_entries.Take());
                }
                break;
            case entry::kTypeBitmap:
                if (!IsValidTableEntry(e, m_limits, true)) {
                    failed = true;
                    break;
                }
                accepted = true;
                // Two FATs have two bitmaps; the first one counts.
                if (!sawBitmap)
                    m_set->SetBitmapInfo(e.LE32(table::kFirstCluster), e.LE64(table::kDataLength));
                sawBitmap = true;
                break;
            case entry::kTypeUpcase:
                if (!IsValidTableEntry(e, m_limits, false) || sawUpcase) {
                    failed = true;
                    break;
                }
                accepted = true;
                sawUpcase = true;
                m_set->SetUpcaseTableInfo(e.LE32(table::kFirstCluster), e.LE64(table::kDataLength));
                break;
            case entry::kTypeLabel:
            case entry::Deleted(entry::kTypeLabel):
                if (!IsValidLabelEntry(e) || (type == entry::kTypeLabel && sawLabel)) {
                    failed = true;
                    break;
                }
                accepted = true;
                if (type == entry::kTypeLabel) {
                    sawLabel = true;
                    uint16_t units[label::kMaxChars] = {};
                    const size_t count =
                        std::min<size_t>(e.U8(label::kCharCount), label::kMaxChars);
                    for (size_t k = 0; k < count; ++k)
                        units[k] = e.LE16(label::kChars + 2 * k);
                    m_set->SetVolumeLabel(vk::Utf16UnitsToUtf8(units, count));
                }
                break;
            default:
                // A volume GUID, TexFAT padding or an access control table
                // may stand among a root's entries.
                if (entry::IsBenignPrimary(type))
                    accepted = true;
                else
                    failed = true;
                break;
        }
        if (!failed && !cut)
            m_entries.CountEntry();
    }
    if (!accepted)
        return true;
    m_set->RecordSector(sector);
    if (m_set->IsAbridged() && sector == m_set->firstSector)
        OfferTail(data, std::min(kTailBytes, m_sectorSize + after), sector);
    return failed || cut ||
           static_cast<uint64_t>(m_set->sectorCount) * m_sectorSize >= m_set->maxClusterSize;
}

// ---------------------------------------------------------------------------
// Split entry sets

void CFDTPreAnaylze::Link(uint64_t head, uint64_t tail) {
    m_next[head] = tail;
    m_last[tail] = head;
}

void CFDTPreAnaylze::OfferHead(const uint8_t* entry, size_t bytes, uint64_t sector) {
    const uint64_t key = m_set->hasSector ? m_set->firstSector : sector;
    for (auto it = m_tails.begin(); it != m_tails.end(); ++it) {
        std::optional<_tagFileBaseInfo> record =
            Joint(entry, bytes, sector, it->second.data(), it->second.size());
        if (record) {
            m_set->UpdateFileList(std::move(*record));
            Link(key, it->first);
            m_tails.erase(it);
            return;
        }
    }
    if (m_heads.size() >= kMaxKept)
        m_heads.erase(m_heads.begin());
    Head& head = m_heads[key];
    head.bytes.assign(entry, entry + std::min(bytes, kMaxSetBytes));
    head.sector = sector;
}

void CFDTPreAnaylze::OfferTail(const uint8_t* data, size_t bytes, uint64_t sector) {
    for (auto it = m_heads.begin(); it != m_heads.end(); ++it) {
        std::optional<_tagFileBaseInfo> record =
            Joint(it->second.bytes.data(), it->second.bytes.size(), it->second.sector, data, bytes);
        if (record) {
            m_set->UpdateFileList(std::move(*record));
            Link(it->first, sector);
            m_heads.erase(it);
            return;
        }
    }
    if (m_tails.size() >= kMaxKept)
        m_tails.erase(m_tails.begin());
    m_tails[sector].assign(data, data + bytes);
}

std::optional<_tagFileBaseInfo> CFDTPreAnaylze::Joint(const uint8_t* head, size_t headBytes,
                                                      uint64_t headSector, const uint8_t* tail,
                                                      size_t tailBytes) const {
    if (!head || !tail || headBytes < entry::kSize || tailBytes < entry::kSize)
        return std::nullopt;
    const size_t secondaries = head[file::kSecondaryCount];
    const size_t total = secondaries + 1;
    const size_t headEntries = headBytes / entry::kSize;
    const size_t tailEntries = tailBytes / entry::kSize;
    const uint16_t checksum = vk::LoadLE<uint16_t>(head + file::kSetChecksum);
    const uint8_t inUse = head[0] & entry::kInUse;
    uint8_t joined[kMaxSetBytes];
    if (total * entry::kSize > sizeof(joined))
        return std::nullopt;
    for (size_t n = std::min(secondaries, headEntries); n >= 1; --n) {
        const size_t need = total - n;
        if (need > tailEntries)
            continue;
        // The tail must start where the set's split leaves off: with the
        // stream after the file entry alone, else with a name (or vendor)
        // entry of the same use.
        const uint8_t first = tail[0];
        if ((first & entry::kInUse) != inUse)
            continue;
        if (n == 1 ? !IsStreamType(first) : !(IsNameType(first) || IsVendorType(first)))
            continue;
        std::memcpy(joined, head, n * entry::kSize);
        std::memcpy(joined + n * entry::kSize, tail, need * entry::kSize);
        if (!CheckDirEntry(joined, total * entry::kSize, checksum))
            continue;
        const vk::ByteReader all(joined, total * entry::kSize);
        if (!IsValidFileEntry(all.Sub(0, entry::kSize)))
            return std::nullopt;
        CExFatEntrySet set;
        set.PushPrimaryEntry(all.Sub(0, entry::kSize), headSector);
        set.CountEntry();
        CExFatEntrySet::Step step = CExFatEntrySet::Step::Accepted;
        for (size_t k = 1; k < total && step == CExFatEntrySet::Step::Accepted; ++k) {
            const vk::ByteReader e = all.Sub(k * entry::kSize, entry::kSize);
            const uint8_t type = e.U8(entry::kType);
            if (IsStreamType(type)) {
                step = IsValidStreamEntry(e, m_limits) ? set.PushStreamEntry(e)
                                                       : CExFatEntrySet::Step::Dropped;
            } else if (IsNameType(type)) {
                step = IsValidNameEntry(e) ? set.PushNameEntry(e) : CExFatEntrySet::Step::Dropped;
            } else if (IsVendorType(type)) {
                step = set.PushVendorEntry(e);
            } else {
                step = CExFatEntrySet::Step::Dropped;
            }
            set.CountEntry();
        }
        if (step == CExFatEntrySet::Step::Completed)
            return set.Take();
    }
    return std::nullopt;
}
