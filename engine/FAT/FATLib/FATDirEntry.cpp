#include "FATDirEntry.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_map>

#include "Utility/TextConvert.h"

namespace dirent = fat_layout::dirent;
namespace lfn = fat_layout::lfn;

namespace {

bool DateOk(uint16_t v) {
    const tagFATDATE d{v};
    return v == 0 || (d.Day() != 0 && d.Month() >= 1 && d.Month() <= 12);
}

bool TimeOk(uint16_t v) {
    const tagFATTIME t{v};
    return v == 0 || (t.Hours() < 24 && t.Minutes() < 60 && t.Seconds2() < 30);
}

}  // namespace

bool SecondsSince1970ToFileTime(int64_t seconds, _FILETIME* out) {
    if (!out)
        return false;
    *out = U64ToFileTime(UnixTimeToFileTime(seconds));
    return true;
}

namespace {

// mktime looks the local zone up again on every call (a stat of
// /etc/localtime when TZ is unset), which dominated the walk of a volume
// with many files. Within one hour of one day the offset to UTC does not
// change (zones change it on hour boundaries), so each hour's start is
// converted once and the minutes and seconds are added. Most days have no
// change at all: when 23:00 lies exactly 23 hours after midnight, every
// hour of that day is midnight plus whole hours, and the day costs two
// conversions however many of its hours the files use. The cache follows
// the TZ variable.
struct LocalHourCache {
    std::string zone;
    bool zoneSet = false;
    std::unordered_map<uint32_t, time_t> start;
    // Per date: midnight, or -1 when the offset changes that day.
    std::unordered_map<uint16_t, time_t> day;
};

time_t MakeLocal(uint16_t date, unsigned hour) {
    const tagFATDATE d{date};
    std::tm tm{};
    tm.tm_hour = static_cast<int>(hour);
    tm.tm_mday = static_cast<int>(d.Day());
    tm.tm_mon = static_cast<int>(d.Month()) - 1;
    tm.tm_year = static_cast<int>(d.YearsSince1980()) + 80;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

time_t LocalHourStart(uint16_t date, unsigned hour) {
    thread_local LocalHourCache cache;
    const char* zone = std::getenv("TZ");
    if ((zone != nullptr) != cache.zoneSet || (zone && cache.zone != zone) ||
        cache.start.size() > 100000 || cache.day.size() > 100000) {
        cache.start.clear();
        cache.day.clear();
        cache.zoneSet = zone != nullptr;
        cache.zone = zone ? zone : "";
    }
    if (hour < 24) {
        auto day = cache.day.find(date);
        if (day == cache.day.end()) {
            const time_t midnight = MakeLocal(date, 0);
            const time_t late = MakeLocal(date, 23);
            const bool steady = midnight != static_cast<time_t>(-1) &&
                                late != static_cast<time_t>(-1) && late - midnight == 23 * 3600;
            day = cache.day.emplace(date, steady ? midnight : static_cast<time_t>(-1)).first;
        }
        if (day->second != static_cast<time_t>(-1))
            return day->second + static_cast<time_t>(hour) * 3600;
    }
    const uint32_t key = (static_cast<uint32_t>(date) << 5) | (hour & 0x1F);
    const auto it = cache.start.find(key);
    if (it != cache.start.end())
        return it->second;
    const time_t seconds = MakeLocal(date, hour);
    cache.start.emplace(key, seconds);
    return seconds;
}

}  // namespace

bool DosDateTimeToFileTime(uint16_t date, uint16_t time, _FILETIME* out) {
    if (!out)
        return false;
    const tagFATTIME t{time};
    const time_t hour = LocalHourStart(date, t.Hours());
    // mktime cannot fail for 1980-2107 on a 64-bit time_t; keep a failure
    // from turning into a time just before 1970.
    if (hour == static_cast<time_t>(-1))
        return SecondsSince1970ToFileTime(0, out);
    return SecondsSince1970ToFileTime(hour + t.Minutes() * 60 + t.Seconds2() * 2, out);
}

CTempFATDirEntry::CTempFATDirEntry(uint8_t* entry) : m_writable(entry), m_entry(entry) {
    assert(entry);
}
CTempFATDirEntry::CTempFATDirEntry(const uint8_t* entry) : m_writable(nullptr), m_entry(entry) {
    assert(entry);
}

bool CTempFATDirEntry::InitFromBuffer(uint8_t* entry) {
    assert(entry);
    m_writable = entry;
    m_entry = entry;
    return IsValidFATDirEntry(false);
}

bool CTempFATDirEntry::InitFromBuffer(const uint8_t* entry) {
    assert(entry);
    m_writable = nullptr;
    m_entry = entry;
    return IsValidFATDirEntry(false);
}

bool CTempFATDirEntry::FieldsValid(bool relaxed) const {
    const uint8_t attr = Attribute();
    if (attr == kFATAttrLongName)
        return true;
    if (attr > fat_layout::kAttrValidBits)
        return false;
    if (!relaxed) {
        const uint32_t size = GetSize();
        if (IsDirectory()) {
            if (size != 0 && HighClusterWord() != 0)
                return false;
        } else {
            const uint32_t cluster =
                (static_cast<uint32_t>(HighClusterWord()) << 16) | LowClusterWord();
            if ((size == 0) != (cluster == 0))
                return false;
        }
    }
    if (!DateOk(CreationDate()) || !DateOk(ModificationDate()) || !DateOk(LastAccessDate()))
        return false;
    if (!TimeOk(CreationTime()) || !TimeOk(ModificationTime()))
        return false;
    if (attr & ~fat_layout::kAttrValidBits)
        return false;
    return true;
}

bool CTempFATDirEntry::IsValidFATDirEntry(bool relaxed) const {
    if (!FieldsValid(relaxed))
        return false;
    if (Attribute() == kFATAttrLongName || IsVolumeLabel())
        return true;
    return IsValidFileName(m_entry);
}

bool CTempFATDirEntry::IsSoundFATDirEntry(bool relaxed) const {
    if (!FieldsValid(relaxed))
        return false;
    if (Attribute() == kFATAttrLongName || IsVolumeLabel())
        return true;
    return IsStorableFileName(m_entry);
}

bool CTempFATDirEntry::IsDotEntry() const {
    if (m_entry[0] != '.')
        return false;
    const size_t dots = m_entry[1] == '.' ? 2 : 1;
    for (size_t i = dots; i < dirent::kShortName.size; ++i) {
        if (m_entry[i] != ' ')
            return false;
    }
    return true;
}

uint64_t CTempFATDirEntry::GetFirstClusterNO() const {
    if (m_revise && m_reviseCluster > 0)
        return m_reviseCluster;
    return (static_cast<uint64_t>(HighClusterWord()) << 16) | LowClusterWord();
}

bool CTempFATDirEntry::SetFirstClusterNO(uint64_t cluster) {
    if (!m_writable)
        return false;
    vk::StoreLE<uint16_t>(m_writable + dirent::kClusterHigh.offset,
                          static_cast<uint16_t>(cluster >> 16));
    vk::StoreLE<uint16_t>(m_writable + dirent::kClusterLow.offset, static_cast<uint16_t>(cluster));
    return true;
}

bool CTempFATDirEntry::GetLongFileName(char* out, size_t outSize) const {
    assert(out);
    if (outSize == 0)
        return true;
    uint8_t units[kFATLongNameUnits * 2];
    std::memcpy(units, m_entry + lfn::kUnits1.offset, lfn::kUnits1.size);
    std::memcpy(units + lfn::kUnits1.size, m_entry + lfn::kUnits2.offset, lfn::kUnits2.size);
    std::memcpy(units + lfn::kUnits1.size + lfn::kUnits2.size, m_entry + lfn::kUnits3.offset,
                lfn::kUnits3.size);
    // The piece ends at its first zero unit (the padding after it is 0xFFFF).
    vk::Utf16Options options;
    options.stopAtNul = true;
    options.maxBytes = outSize - 1;
    const std::string text = vk::Utf16ToUtf8(units, kFATLongNameUnits, options);
    size_t written = text.size();
    std::memcpy(out, text.data(), written);
    if (written == 0) {
        if (outSize >= 2) {
            out[0] = '_';
            written = 1;
        }
    }
    out[written] = '\0';
    return true;
}

std::string CTempFATDirEntry::GetLongFileName() const {
    char buf[kFATLongNameUnits * 4 + 1];  // 13 units, at most 3 UTF-8 bytes each
    GetLongFileName(buf, sizeof(buf));
    return buf;
}

uint8_t CTempFATDirEntry::ShortNameChecksum() const {
    uint8_t sum = 0;
    for (size_t i = 0; i < dirent::kShortName.size; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) +
                                   m_entry[dirent::kShortName.offset + i]);
    return sum;
}

void CTempFATDirEntry::GetShortName(std::string& out, bool noDot) const {
    // Windows NT and Linux keep an all-lower-case base or extension as upper
    // case plus a flag in byte 12 instead of a long name; without the flags
    // "notes.txt" would come back as "NOTES.TXT". Labels carry no flags.
    const uint8_t caseFlags = IsVolumeLabel() ? 0 : U8(dirent::kCaseFlags.offset);
    const auto part = [&](size_t off, size_t len) {
        const bool lower =
            (caseFlags & (off == 0 ? kFATLowerCaseBase : kFATLowerCaseExtension)) != 0;
        size_t end = len;
        while (end > 0 && m_entry[off + end - 1] == ' ')
            --end;
        std::string s;
        for (size_t i = 0; i < end; ++i) {
            const uint8_t c = m_entry[off + i];
            if (off == 0 && i == 0 && c == kFATDeletedMark)
                s += '#';
            else if (c >= 0x80 || c < 0x20)
                s += '_';
            else
                s += static_cast<char>(lower && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        return s;
    };
    out = part(dirent::kName.offset, dirent::kName.size);
    const std::string ext = part(dirent::kExtension.offset, dirent::kExtension.size);
    if (!ext.empty()) {
        if (!noDot)
            out += '.';
        out += ext;
    }
}

bool CTempFATDirEntry::IsFilenameEqual(const char* name8, const char* ext3) const {
    return name8 && ext3 &&
           std::memcmp(m_entry + dirent::kName.offset, name8, dirent::kName.size) == 0 &&
           std::memcmp(m_entry + dirent::kExtension.offset, ext3, dirent::kExtension.size) == 0;
}

namespace {

// The 11 name bytes: no blank first byte, no 0xFF, no byte below 0x1A; with
// `refused`, none of the characters a FAT driver refuses either. A lead
// byte of 0x80 or more carries the byte after it, whatever it is.
bool NameBytesPass(const uint8_t* name11, const char* refused) {
    if (!name11 || name11[0] == ' ')
        return false;
    for (size_t i = 0; i < dirent::kShortName.size; ++i) {
        const uint8_t c = name11[i];
        if (c == 0xFF)
            return false;
        if (c >= 0x80) {
            ++i;  // the trail byte of a double-byte character
            continue;
        }
        if (c < 0x1A || (refused != nullptr && std::strchr(refused, c) != nullptr))
            return false;
    }
    return true;
}

}  // namespace

bool CTempFATDirEntry::IsValidFileName(const uint8_t* name11) {
    return NameBytesPass(name11, "|\"*/:<>?\\");
}

bool CTempFATDirEntry::IsStorableFileName(const uint8_t* name11) {
    return NameBytesPass(name11, nullptr);
}

void CFATLongNameRun::Reset() {
    m_units.clear();
    m_pieces = 0;
    m_expectedOrdinal = 0;
    m_checksum = 0;
    m_deleted = false;
    m_broken = false;
}

size_t CFATLongNameRun::NameBytes() const {
    size_t bytes = 0;
    for (size_t i = 0; i < m_units.size(); ++i) {
        const char16_t u = m_units[i];
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < m_units.size() &&
                   m_units[i + 1] >= 0xDC00 && m_units[i + 1] <= 0xDFFF) {
            bytes += 4;
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            bytes += 1;  // a lone surrogate is written as "_"
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

bool CFATLongNameRun::Add(const CTempFATDirEntry& e) {
    if (!e.IsLongFileNameEntry())
        return false;
    const bool deleted = e.IsErased();
    if (m_pieces == 0 || (!deleted && e.IsLastLongNamePiece())) {
        // A live entry flagged as the last piece always starts a new run.
        Reset();
        m_deleted = deleted;
        m_checksum = e.LongNameChecksum();
        if (!deleted) {
            if (!e.IsLastLongNamePiece() || e.LongNameOrdinal() == 0) {
                Reset();
                return false;
            }
            m_expectedOrdinal = e.LongNameOrdinal();
        }
    } else if (deleted != m_deleted || e.LongNameChecksum() != m_checksum ||
               (!deleted && e.LongNameOrdinal() != m_expectedOrdinal)) {
        Reset();
        return false;
    }
    // The piece's units up to its first zero unit (0xFFFF pads after it).
    const uint8_t* raw = e.Raw();
    std::u16string piece;
    bool ended = false;
    for (const fat_layout::Field& f : {lfn::kUnits1, lfn::kUnits2, lfn::kUnits3}) {
        for (size_t off = 0; off + 2 <= f.size && !ended; off += 2) {
            const char16_t u = vk::LoadLE<uint16_t>(raw + f.offset + off);
            ended = u == 0;
            if (!ended)
                piece.push_back(u);
        }
    }
    // The pieces lie on disk last piece first.
    if (!m_broken) {
        m_units.insert(0, piece);
        if (NameBytes() > kMaxNameBytes) {
            m_broken = true;
            m_units.clear();
        }
    }
    ++m_pieces;
    if (!deleted)
        --m_expectedOrdinal;
    return true;
}

bool CFATLongNameRun::Finish(const CTempFATDirEntry& shortEntry, std::string& name) {
    bool ok = m_pieces > 0 && !m_broken && m_deleted == shortEntry.IsErased();
    if (ok && !m_deleted)
        ok = m_expectedOrdinal == 0 && shortEntry.ShortNameChecksum() == m_checksum;
    std::string joined;
    if (ok) {
        joined =
            vk::Utf16UnitsToUtf8(reinterpret_cast<const uint16_t*>(m_units.data()), m_units.size());
        // Characters Windows refuses ("/", ":", "?"...) do not make the
        // name less the file's: its checksum ties it to the short entry.
        // Such a name is cleaned where it becomes a path.
        ok = !joined.empty();
    }
    if (ok)
        name = joined;
    Reset();
    return ok;
}
