#include "FileOLEAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "OfficeLayout.h"
#include "RawFileBuffer.h"

using namespace ole_layout;

VK_RAW_ANALYSER_FACTORY(NewFileOLEAnalyser, FileOLEAnalyser);

namespace {

constexpr uint32_t kMaxDifatSectors = 1u << 16;
constexpr uint32_t kMaxFatSectors = 1u << 22;
// A FAT whose last sectors are all free is walked back this far.
constexpr uint32_t kMaxFreeFatSectors = 128;
constexpr long long kMaxUntypedBytes = 0xA00000;
constexpr unsigned kSummaryBytes = 4096;
constexpr uint32_t kSummaryHead = 0x0000FFFE;

// The entry's name as UTF-16 units compared with an ASCII name (whose
// characters below 0x20 stand for themselves, as in "\x05SummaryInformation").
bool NameIs(const uint8_t* directory, size_t length, size_t entry, const char* name) {
    const size_t at = entry * kEntryBytes;
    if (!vk::RangeInside(length, at, kEntryBytes))
        return false;
    const uint8_t* p = directory + at + kEntryName;
    const size_t n = std::strlen(name);
    if (n * 2 + 2 > kEntryNameBytes)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (vk::LoadLE<uint16_t>(p + 2 * i) != static_cast<uint8_t>(name[i]))
            return false;
    }
    return vk::LoadLE<uint16_t>(p + 2 * n) == 0;
}

bool ClassIdZero(const uint8_t* directory, size_t length) {
    if (length < kEntryBytes)
        return false;
    for (size_t i = 0; i < kClassIdBytes; ++i) {
        if (directory[kEntryClassId + i] != 0)
            return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Analyser

int FileOLEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || vk::LoadLE<uint32_t>(sector + 4) != kSignatureHigh)
        return 0;
    info.m_type = RAW_OLE;
    return 1;
}

unsigned FileOLEAnalyser::FileSectorBytes(const uint8_t* header) {
    const vk::ByteReader r(header, kHeaderBytes);
    if (r.LE32(4) != kSignatureHigh || r.LE16(kByteOrder) != kByteOrderMark)
        return 0;
    const uint16_t version = r.LE16(kMajorVersion);
    const uint16_t shift = r.LE16(kSectorShift);
    if (version == kVersion3 && shift == kShift512)
        return 512;
    if (version == kVersion4 && shift == kShift4096)
        return 4096;
    return 0;
}

uint16_t FileOLEAnalyser::UsedEntries(const uint8_t* fatSector, unsigned bytes) {
    // Entries that mark FAT and DIFAT sectors are left out: the sectors the
    // DIFAT lists stand for those. Some writers mark every spare entry of
    // their last FAT sector as a FAT sector, which would carve whatever
    // follows the file along with it.
    for (unsigned i = bytes / 4; i > 0; --i) {
        const uint32_t entry = vk::LoadLE<uint32_t>(fatSector + (i - 1) * 4);
        if (entry != kFreeSect && entry != kFatSect && entry != kDifSect)
            return static_cast<uint16_t>(i);
    }
    return 0;
}

RAW_FILE_TYPE FileOLEAnalyser::CheckSectDirData(const uint8_t* d, size_t length) {
    if (d == nullptr)
        return RAW_MOF;
    auto is = [d, length](size_t entry, const char* name) {
        return NameIs(d, length, entry, name);
    };
    RAW_FILE_TYPE type = RAW_MOF;
    for (size_t e = 0; e < length / kEntryBytes; ++e) {
        if (is(e, "WordDocument") || is(e, "ObjectPool")) {
            type = RAW_DOC;
            break;
        }
    }
    if (is(1, "Workbook") || is(1, "Book") || is(2, "Workbook") || is(2, "Book"))
        type = RAW_XLS;
    if (is(1, "PowerPoint Document") || is(2, "PowerPoint Document") ||
        is(3, "PowerPoint Document") || is(1, "Pictures") || is(1, "PP40"))
        type = RAW_PPT;
    if (is(1, "Scene") || is(2, "Scene"))
        type = RAW_MAX;
    if (is(1, "VisioDocument"))
        type = RAW_VSD;
    if (is(1, "PerfectOffice_MAIN") && is(2, "PerfectOffice_OBJECTS")) {
        if (is(3, "\x05SummaryInformation"))
            type = RAW_SHW;
        else
            type = ClassIdZero(d, length) ? RAW_WPG : RAW_WPD;
    }
    if (is(1, "RSeStorage") && (is(2, "RSeEmbeddings") || is(3, "RSeEmbeddings")))
        type = RAW_IPT;
    if (is(1, "Objects") && is(2, "Quill") && (is(3, "Escher") || is(3, "QuillSub")))
        type = RAW_PUB;
    if (is(1, "NativeContent_MAIN"))
        type = RAW_QPW;
    if (is(1, "properties"))
        type = RAW_AAF;
    if (is(1,
           "\x01"
           "CompObj") &&
        ((is(2, "   19") && is(3, "   29")) || (is(2, "   112") && is(3, "   212"))))
        type = RAW_MPP;
    if ((is(1, "PropData") && is(2, "Forms") && is(3, "Reports")) ||
        (is(1, "VBA") && is(2, "VBAProject") && is(3, "VBA")))
        type = RAW_ADP;
    return type;
}

void FileOLEAnalyser::NameFromSummary(CRawFileInfo& info, const FileProperty& p) {
    const std::string time = !p.modified.empty() ? p.modified : p.created;
    std::string name;
    if (!time.empty()) {
        const std::string& who = !p.title.empty()        ? p.title
                                 : !p.lastAuthor.empty() ? p.lastAuthor
                                                         : p.creator;
        name = who.empty() ? time + " " : who + "_" + time + " ";
    } else {
        if (!p.creator.empty())
            name = p.creator + " ";
        if (!p.lastAuthor.empty())
            name = p.lastAuthor + " ";
        if (!p.title.empty())
            name = p.title + " ";
    }
    info.SetRawFileName(name);
    info.SetRawFileTime(p.created);
    std::string tag = !p.lastAuthor.empty() ? p.lastAuthor : p.creator;
    if (tag.empty() && (!p.title.empty() || !p.created.empty() || !p.modified.empty()))
        tag = "unKnown";
    if (tag.empty() || (info.m_type != RAW_DOC && info.m_type != RAW_PPT && info.m_type != RAW_XLS))
        return;
    info.SetRawFileTagAndValue(RAW_TAG_OFFICE, tag);
    const std::string filtered = info.GetRawFileName();
    if (!filtered.empty())
        info.SetRawFileName(tag + "_" + filtered);
}

int FileOLEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* header = file.GetRawFileBuffer(0, kHeaderBytes);
    if (header == nullptr)
        return 0;
    const unsigned f = FileSectorBytes(header);
    if (f == 0)
        return 0;
    const unsigned entries = f / 4;
    const vk::ByteReader h(header, kHeaderBytes);
    const uint32_t firstDifat = h.LE32(kFirstDifatSector);
    const uint32_t firstDirectory = h.LE32(kFirstDirectorySector);
    std::vector<uint32_t> fat;
    std::vector<uint32_t> difatSectors;
    for (size_t i = 0; i < kHeaderDifatEntries; ++i) {
        const uint32_t s = h.LE32(kHeaderDifat + 4 * i);
        if (s <= kMaxRegSect)
            fat.push_back(s);
    }
    auto unitOffset = [f](uint64_t sector) { return (sector + 1) * static_cast<uint64_t>(f); };
    // The DIFAT chain only moves forward, so a chain that loops ends.
    uint32_t next = firstDifat;
    for (uint32_t walked = 0; next <= kMaxRegSect && walked < kMaxDifatSectors; ++walked) {
        const uint8_t* difat = file.GetRawFileBuffer(unitOffset(next), f);
        if (difat == nullptr)
            return 0;
        difatSectors.push_back(next);
        for (unsigned i = 0; i + 1 < entries && fat.size() < kMaxFatSectors; ++i) {
            const uint32_t s = vk::LoadLE<uint32_t>(difat + 4 * i);
            if (s <= kMaxRegSect)
                fat.push_back(s);
        }
        const uint32_t following = vk::LoadLE<uint32_t>(difat + 4 * (entries - 1));
        if (following <= next)
            break;
        next = following;
    }
    if (fat.empty())
        return 0;
    // The file ends with the last sector its FAT uses, or with the last of
    // its FAT and DIFAT sectors.
    uint64_t sectors = 0;
    for (uint32_t s : fat)
        sectors = std::max<uint64_t>(sectors, static_cast<uint64_t>(s) + 1);
    for (uint32_t s : difatSectors)
        sectors = std::max<uint64_t>(sectors, static_cast<uint64_t>(s) + 1);
    for (size_t back = 0; back < fat.size() && back < kMaxFreeFatSectors; ++back) {
        const size_t i = fat.size() - 1 - back;
        const uint8_t* sector = file.GetRawFileBuffer(unitOffset(fat[i]), f);
        if (sector == nullptr)
            return 0;
        const uint16_t used = UsedEntries(sector, f);
        if (used != 0) {
            sectors = std::max<uint64_t>(sectors, static_cast<uint64_t>(i) * entries + used);
            break;
        }
    }
    const long long size = static_cast<long long>((sectors + 1) * f);
    const uint8_t* directory = firstDirectory <= kMaxRegSect
                                   ? file.GetRawFileBuffer(unitOffset(firstDirectory), 1024)
                                   : nullptr;
    if (directory != nullptr) {
        info.m_type = CheckSectDirData(directory, 1024);
    } else {
        info.m_type = RAW_MOF;
        if (size > kMaxUntypedBytes)
            return 0;
    }
    info.m_size = size;
    return 1;
}

// ---------------------------------------------------------------------------
// Streaming candidate

FileOLEAnalyser::OleRawFileInfo::OleRawFileInfo() {
    m_type = RAW_MOF;
}

bool FileOLEAnalyser::OleRawFileInfo::CheckStorageHeader(const uint8_t* header) {
    m_fileSector = FileSectorBytes(header);
    if (m_fileSector == 0)
        return false;
    const vk::ByteReader h(header, kHeaderBytes);
    const uint64_t entries = m_fileSector / 4;
    uint32_t listed = 0;
    for (size_t i = 0; i < kHeaderDifatEntries; ++i) {
        const uint32_t s = h.LE32(kHeaderDifat + 4 * i);
        if (s <= kMaxRegSect) {
            AddFatSector(s);
            ++listed;
        }
    }
    // How far the FAT can reach: no sector the walk needs lies beyond.
    const uint64_t fatSectors = std::max<uint64_t>(
        h.LE32(kFatSectorCount),
        listed + static_cast<uint64_t>(h.LE32(kDifatSectorCount)) * (entries - 1));
    m_maxUnits = std::min<uint64_t>(fatSectors * entries, kMaxRegSect) + 1;
    const uint32_t difat = h.LE32(kFirstDifatSector);
    if (difat <= kMaxRegSect)
        m_nextDifat = static_cast<uint64_t>(difat) + 1;
    const uint32_t directory = h.LE32(kFirstDirectorySector);
    if (directory <= kMaxRegSect)
        m_directoryUnit = static_cast<uint64_t>(directory) + 1;
    m_headerRead = true;
    if (m_nextDifat == UINT64_MAX)
        DifatDone();
    return true;
}

void FileOLEAnalyser::OleRawFileInfo::AddFatSector(uint32_t sector) {
    if (m_fatSectors.size() >= kMaxFatSectors)
        return;
    m_lastListed = std::max<uint64_t>(m_lastListed, static_cast<uint64_t>(sector) + 1);
    m_fatPosition.emplace(sector, static_cast<uint32_t>(m_fatSectors.size()));
    m_fatSectors.push_back(sector);
}

void FileOLEAnalyser::OleRawFileInfo::CheckSectDifStart(const uint8_t* unit) {
    m_lastListed = std::max<uint64_t>(m_lastListed, m_nextDifat);
    const unsigned entries = m_fileSector / 4;
    for (unsigned i = 0; i + 1 < entries; ++i) {
        const uint32_t s = vk::LoadLE<uint32_t>(unit + 4 * i);
        if (s <= kMaxRegSect)
            AddFatSector(s);
    }
    // The last slot chains to the next DIFAT sector; a chain that turns back
    // ends here, as it would loop.
    const uint64_t current = m_nextDifat;
    const uint32_t next = vk::LoadLE<uint32_t>(unit + 4 * (entries - 1));
    if (next <= kMaxRegSect && static_cast<uint64_t>(next) + 1 > current) {
        m_nextDifat = static_cast<uint64_t>(next) + 1;
        return;
    }
    m_nextDifat = UINT64_MAX;
    DifatDone();
}

void FileOLEAnalyser::OleRawFileInfo::DifatDone() {
    m_difatDone = true;
    m_fatUse.assign(m_fatSectors.size(), -1);
    m_fatUnknown = static_cast<uint32_t>(m_fatSectors.size());
    for (size_t i = 0; i < m_fatSectors.size(); ++i) {
        const uint32_t s = m_fatSectors[i];
        if (s < m_seenUse.size() && m_seenUse[s] != UINT16_MAX) {
            m_fatUse[i] = m_seenUse[s];
            --m_fatUnknown;
        } else if (static_cast<uint64_t>(s) + 1 <= m_processed) {
            // It passed before the DIFAT named it, and was not kept.
            m_lost = true;
        }
    }
    m_seenUse.clear();
    m_seenUse.shrink_to_fit();
    if (m_fatSectors.empty())
        m_lost = true;
    TrySize();
}

void FileOLEAnalyser::OleRawFileInfo::NoteFatUse(uint32_t sector, uint16_t used) {
    if (!m_difatDone) {
        if (sector >= kMaxRemembered) {
            m_lost = true;
            return;
        }
        if (m_seenUse.size() <= sector)
            m_seenUse.resize(static_cast<size_t>(sector) + 1, UINT16_MAX);
        m_seenUse[sector] = used;
        return;
    }
    const auto it = m_fatPosition.find(sector);
    if (it == m_fatPosition.end() || m_fatUse[it->second] >= 0)
        return;
    m_fatUse[it->second] = used;
    --m_fatUnknown;
    TrySize();
}

void FileOLEAnalyser::OleRawFileInfo::TrySize() {
    if (!m_difatDone || m_fatUnknown != 0 || m_sizeBytes != 0 || m_lost)
        return;
    const uint64_t entries = m_fileSector / 4;
    uint64_t sectors = m_lastListed;
    for (size_t i = 0; i < m_fatUse.size(); ++i) {
        if (m_fatUse[i] > 0)
            sectors = std::max<uint64_t>(sectors, i * entries + static_cast<uint64_t>(m_fatUse[i]));
    }
    if (sectors == 0) {
        m_lost = true;
        return;
    }
    m_sizeBytes = (sectors + 1) * m_fileSector;
}

void FileOLEAnalyser::OleRawFileInfo::OnUnit(uint64_t unit, const uint8_t* data,
                                             uint64_t availableAfter) {
    const uint32_t sector = static_cast<uint32_t>(unit - 1);
    if (unit == m_nextDifat) {
        CheckSectDifStart(data);
        if (m_lost)
            return;
    }
    if (unit == m_directoryUnit && !m_directoryRead) {
        const size_t bytes = m_fileSector > 512 || availableAfter >= 1024 ? 1024 : 512;
        m_type = CheckSectDirData(data, bytes);
        m_directoryRead = true;
    }
    NoteFatUse(sector, UsedEntries(data, m_fileSector));
}

int FileOLEAnalyser::OleRawFileInfo::Finish(long long sectorSize) {
    if (!m_headerRead) {
        m_size = 0;
        return 1;
    }
    if (m_lost || m_sizeBytes == 0) {
        // The device still holds what the stream could not give: the
        // whole-file sizer reads it there when the search lets go of this
        // candidate. Given up now, a file whose start has left the ring of
        // recent blocks could no longer be sized at all.
        return 2;
    }
    m_size = static_cast<long long>(m_sizeBytes);
    char text[64];
    std::snprintf(text, sizeof text, "%lld-%lld ", m_startSector,
                  m_startSector + (m_size - 1) / sectorSize);
    SetRawFileName(text);
    if (m_summaryFound)
        SetFileName();
    return 1;
}

void FileOLEAnalyser::OleRawFileInfo::SetFileName() {
    NameFromSummary(*this, m_property);
}

int FileOLEAnalyser::OleRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                 long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize < static_cast<int>(kUnit) || sectorNumber < m_startSector ||
        m_lost)
        return 2;
    const uint64_t s = static_cast<uint64_t>(sectorSize);
    const uint64_t offset = static_cast<uint64_t>(sectorNumber - m_startSector) * s;
    const uint64_t before = sectorNumber >= ctx.windowFirstSector
                                ? static_cast<uint64_t>(sectorNumber - ctx.windowFirstSector) * s
                                : 0;
    const uint64_t held = ctx.windowEndSector > sectorNumber
                              ? static_cast<uint64_t>(ctx.windowEndSector - sectorNumber) * s
                              : s;
    if (sectorNumber == m_startSector && !CheckStorageHeader(sector))
        return Finish(sectorSize);
    if (!m_headerRead)
        return Finish(sectorSize);

    // The summary stream may begin at any 512-byte boundary, whatever the
    // device's sector size.
    for (uint64_t at = 0; at < s && !m_summaryFound; at += kUnit) {
        if (offset + at == 0 || vk::LoadLE<uint32_t>(sector + at) != kSummaryHead)
            continue;
        const int length = static_cast<int>(std::min<uint64_t>(held - at, kSummaryBytes));
        if (m_summary.GetFileInformation(sector + at, m_property, length) != 0)
            m_summaryFound = true;
    }

    // Every compound-file sector whose last byte lies in this device sector.
    const uint64_t f = m_fileSector;
    const uint64_t firstUnit = std::max<uint64_t>(offset / f, 1);
    const uint64_t endUnit = (offset + s) / f;
    for (uint64_t unit = firstUnit; unit < endUnit && !m_lost; ++unit) {
        const uint64_t begin = unit * f;
        if (begin + before < offset) {
            // Unkept units only matter when the file needs them; one that
            // turns out to be a FAT sector is noticed when the DIFAT ends.
            m_lost = m_lost || unit == m_nextDifat || unit == m_directoryUnit ||
                     (m_difatDone && m_fatPosition.count(static_cast<uint32_t>(unit - 1)) != 0);
        } else {
            const uint8_t* data = sector + static_cast<int64_t>(begin - offset);
            OnUnit(unit, data, held + offset - begin);
        }
        m_processed = unit;
    }
    if (endUnit > 0 && m_processed < endUnit - 1)
        m_processed = endUnit - 1;

    if (m_lost)
        return Finish(sectorSize);
    if (m_sizeBytes != 0 && m_directoryRead)
        return Finish(sectorSize);
    // What the file still needs lies behind us or beyond any sector its FAT
    // can describe: the whole-file sizer reads it from the device.
    const uint64_t fileUnits = m_sizeBytes / f;
    if (m_sizeBytes != 0 && (m_directoryUnit >= fileUnits || m_processed >= m_directoryUnit)) {
        m_lost = true;
        return Finish(sectorSize);
    }
    if (m_sizeBytes == 0 && m_processed > m_maxUnits) {
        m_lost = true;
        return Finish(sectorSize);
    }
    return 2;
}
