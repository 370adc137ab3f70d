#include "FileZIPAnalyser.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "OfficeLayout.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "Utility/TextConvert.h"

using namespace zip_layout;
using classZipSearch::ReadResult;
using classZipSearch::Record;
using classZipSearch::RecordKind;

VK_RAW_ANALYSER_FACTORY(NewFileZIPAnalyser, FileZIPAnalyser);

namespace {

constexpr size_t kStreamMaxName = 1024;
constexpr size_t kWholeMaxName = 4096;
constexpr size_t kMemberNameBytes = 20;
constexpr size_t kTitleBytes = 24;
constexpr int kTailZeros = 17;
constexpr int kCentralTailZeros = 22;
constexpr long long kCentralGuess = 48;
constexpr size_t kOfficeTextBytes = 4095;

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool IsOutlook(const std::string& name) {
    return name == "Accounts/Outlook/com.microsoft.__Messages/" || name == "Accounts/Outlook/" ||
           name == "Local/com.microsoft.__Messages/";
}

// The name of the local header at the start of `sector` (512 bytes read at
// most), empty when it does not fit.
std::string FirstName(const unsigned char* sector) {
    const uint16_t n = vk::LoadLE<uint16_t>(sector + kLocalNameLength);
    if (kLocalBytes + n > 512)
        return {};
    return std::string(reinterpret_cast<const char*>(sector + kLocalBytes), n);
}

}  // namespace

// ---------------------------------------------------------------------------
// Recognition and member names

int FileZIPAnalyser::ZipIpaFileType(const unsigned char* sector) {
    if (sector == nullptr)
        return 0;
    const std::string name = FirstName(sector);
    static const char* const kWords[] = {"Payload",   "iTunesArtwork",   "iTunesMetadata.plist",
                                         "Container", "WatchKitSupport", "META-INF"};
    for (const char* word : kWords) {
        const size_t n = std::strlen(word);
        if (name.size() >= n && strncasecmp(name.c_str(), word, n) == 0)
            return 1;
    }
    return 0;
}

int FileZIPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = ZipIpaFileType(sector) != 0 ? RAW_IPA : RAW_ZIP;
    return 1;
}

void FileZIPAnalyser::JudgeMaybeOfficeType(const unsigned char* sector, int length, bool& office,
                                           bool& cdr) {
    office = false;
    cdr = false;
    if (sector == nullptr || length < static_cast<int>(kLocalBytes))
        return;
    const std::string name = FirstName(sector);
    for (const char* prefix : {"[Content_Types].xml", "docProps/app.xml", "word/theme/theme1.xml",
                               "_rels/.rels", "Categories.xml"}) {
        if (StartsWith(name, prefix))
            office = true;
    }
    if (!office) {
        const size_t limit = std::min<size_t>(kOfficeTextBytes, static_cast<size_t>(length));
        const char* text = reinterpret_cast<const char*>(sector);
        const std::string head(text, strnlen(text, limit));
        office =
            (head.find("doc") != std::string::npos && head.find("mimetype") == std::string::npos) ||
            head.find("ppt") != std::string::npos;
    }
    if (!office)
        cdr = StartsWith(name, "content/riffData.cdr");
}

void FileZIPAnalyser::JudgeMaybeOfficeType(const unsigned char* sector) {
    m_office = false;
    m_cdr = false;
    const std::string name = FirstName(sector);
    m_office = name == "[Content_Types].xml" || name == "docProps/app.xml" ||
               name == "Categories.xml" || name.find("doc") != std::string::npos ||
               name.find("ppt") != std::string::npos;
    m_cdr = name == "content/riffData.cdr";
}

void FileZIPAnalyser::ClassifyMember(const std::string& name, const unsigned char* data,
                                     size_t available, bool office, bool whole, uint32_t& type,
                                     bool& core) {
    using classZipSearch::FindAt;
    core = false;
    if (data == nullptr)
        available = 0;
    if (!whole && name == "docProps/core.xml")
        core = true;
    if (office) {
        if (name == "word/_rels/document.xml.rels" || (!whole && name == "word/theme/theme1.xml"))
            type = RAW_DOCX;
        else if (name == "xl/_rels/workbook.xml.rels")
            type = RAW_XLSX;
        else if (name == "ppt/_rels/presentation.xml.rels")
            type = RAW_PPTX;
    }
    if (!whole && name.size() == 36 && std::count(name.begin(), name.end(), '-') == 4)
        type = RAW_TAX;
    const bool iworkSettled = type == RAW_PAGES || type == RAW_KEY;
    if (!office) {
        if (!iworkSettled && name.find("numbers/") != std::string::npos)
            type = RAW_NUMBERS;
        if (name == "Index/Slide1.iwa" || name == "Index/Slide2.iwa" || name == "index.apxl")
            type = RAW_KEY;
    }
    if (office) {
        if (IsOutlook(name))
            type = RAW_OLM;
        else if (name.size() > 4 && StartsWith(name, "word"))
            type = RAW_DOCX;
        return;
    }
    if (type != RAW_PAGES && type != RAW_KEY) {
        if (name == "buildVersionHistory.plist") {
            if (whole) {
                if (FindAt(data, available, 235, "<string>numbers-trunk") >= 0)
                    type = RAW_NUMBERS;
                else
                    type = FindAt(data, available, 237, "<string>pages-trunk") >= 0 ? RAW_PAGES
                                                                                    : RAW_NUMBERS;
            } else {
                const size_t take = available >= 1024 ? 1024 : std::min<size_t>(available, 256);
                type =
                    FindAt(data, take, 255, "<string>pages-trunk") >= 0 ? RAW_PAGES : RAW_NUMBERS;
            }
        } else if (name == "Index/DocumentStylesheet.iwa" ||
                   (!whole && name == "Index/Tables/HeaderStorageBuckt-1.iwa")) {
            const size_t take = std::min<size_t>(available, 256);
            const bool hit = whole ? FindAt(data, take, 243, "layout-style-") >= 0 ||
                                         FindAt(data, take, 231, "imported-paragraph-style-") >= 0
                                   : FindAt(data, take, 255, "imported-paragraph-style-") >= 0 ||
                                         FindAt(data, take, 255, "layout-style-") >= 0;
            type = hit ? RAW_PAGES : RAW_NUMBERS;
        } else if (!whole &&
                   (name == "Index/Metadata.iwa" || name == "Metadata/Properties.plist")) {
            const size_t take = std::min<size_t>(available, 256);
            const bool hit = FindAt(data, take, 255, "CalculationEngine") >= 0 ||
                             FindAt(data, take, 255, "DocumentMetadata") >= 0 ||
                             FindAt(data, take, 255, "Xrevision") >= 0;
            type = hit ? RAW_PAGES : RAW_NUMBERS;
        }
    }
    if (!whole && type != RAW_PAGES && type != RAW_KEY && type != RAW_NUMBERS &&
        (StartsWith(name, "OEBPS/Text/chapter") || StartsWith(name, "OPS/chapter.html")))
        type = RAW_EPUB;
    if (name == "mimetype") {
        const size_t take = std::min<size_t>(available, 64);
        if (FindAt(data, take, 47, "application/epub+") >= 0)
            type = RAW_EPUB;
        if (FindAt(data, take, 25, "application/vnd.oasis.opendocument.text") >= 0)
            type = RAW_ODT;
        if (FindAt(data, take, 19, "application/vnd.oasis.opendocument.spreadsheet") >= 0)
            type = RAW_ODS;
        if (FindAt(data, take, 18, "application/vnd.oasis.opendocument.presentation") >= 0)
            type = RAW_ODP;
    }
}

void FileZIPAnalyser::ClassifyCentral(const std::string& name, bool office, uint32_t& type) {
    if (!office)
        return;
    if (name == "word/_rels/document.xml.rels")
        type = RAW_DOCX;
    else if (name == "xl/_rels/workbook.xml.rels")
        type = RAW_XLSX;
    else if (name == "ppt/_rels/presentation.xml.rels")
        type = RAW_PPTX;
    else if (name == "Accounts/Outlook/")
        type = RAW_OLM;
    else if (name.size() > 4 && StartsWith(name, "word"))
        type = RAW_DOCX;
}

// ---------------------------------------------------------------------------
// Streaming candidate

RAW_FILE_TYPE FileZIPAnalyser::ZIPRawFileInfo::JudeOleType(const unsigned char* bytes, int length) {
    for (int i = 0; bytes != nullptr && i + 1 < length; ++i) {
        if (bytes[i] != 0)
            continue;
        const char* rest = reinterpret_cast<const char*>(bytes + i + 1);
        const int left = length - i - 1;
        if (left >= 5 && std::memcmp(rest, "word/", 5) == 0)
            return RAW_DOCX;
        if (left >= 4 && std::memcmp(rest, "ppt/", 4) == 0)
            return RAW_PPTX;
        if (left >= 3 && std::memcmp(rest, "xl/", 3) == 0)
            return RAW_XLSX;
    }
    return -1;
}

void FileZIPAnalyser::ZIPRawFileInfo::FillFileInfo(long long sectorNumber, int sectorSize,
                                                   int zeroTail) {
    if (sectorSize <= 0)
        sectorSize = 512;
    const FileProperty& p = m_property;
    if (m_propertiesRead && m_office) {
        const std::string label = !p.lastAuthor.empty() ? p.lastAuthor
                                  : !p.creator.empty()  ? p.creator
                                                        : std::string("unKnown");
        if (!p.modified.empty())
            SetRawFileTime(p.modified);
        const std::string dated = p.modified.empty() ? std::string() : "_" + p.modified;
        std::string part;
        if (!p.title.empty())
            part =
                p.title.substr(0, vk::Utf8CutPoint(p.title.data(), p.title.size(), kTitleBytes)) +
                dated;
        else if (!p.lastAuthor.empty())
            part = p.lastAuthor + dated;
        else if (!p.creator.empty())
            part = p.creator + dated;
        else if (!p.modified.empty())
            part = p.modified;
        else
            part = p.created;
        if (!part.empty()) {
            if (m_type == RAW_DOCX || m_type == RAW_XLSX || m_type == RAW_PPTX)
                SetRawFileTagAndValue(RAW_TAG_OFFICE, label);
            SetRawFileName(m_member.empty() ? part : m_member + "_" + part);
        }
    } else {
        m_member.clear();
        // The name tells where the file lies: its first sector and the one
        // that holds its last byte.
        const long long end =
            m_final && m_size > 0 ? m_startSector + (m_size - 1) / sectorSize : sectorNumber;
        char text[64];
        std::snprintf(text, sizeof text, "%lld-%lld_", m_startSector, end);
        SetRawFileName(text);
    }
    if (m_size == 0 && sectorNumber >= m_startSector)
        m_size = (sectorNumber - m_startSector + 1) * sectorSize - zeroTail;
}

void FileZIPAnalyser::ZIPRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber) {
    // An archive the walk could not end is measured again from the device:
    // what the stream reached is no size.
    if (!m_final) {
        const long long kept = m_size;
        m_size = 1;  // names without guessing a size
        FillFileInfo(sectorNumber, 512, 0);
        m_size = kept;
    }
}

void FileZIPAnalyser::ZIPRawFileInfo::ReadCore(const unsigned char* sector, long long sectorNumber,
                                               int sectorSize, const SearchContext& ctx) {
    if (m_pendingCore < 0)
        return;
    const long long headerOffset =
        m_pendingCore - (sectorNumber - m_startSector) * static_cast<long long>(sectorSize);
    int needMore = 0;
    const int read = Dunmere::OfficeTagFromXML::Instance().GetOfficeTagFromXML(
        sector, sectorSize, sectorNumber, headerOffset, ctx, m_coreHeader, m_property, needMore);
    if (needMore != 0)
        return;
    m_pendingCore = -1;
    if (read != 0)
        m_propertiesRead = true;
}

void FileZIPAnalyser::ZIPRawFileInfo::OnRecord(const Record& record, const unsigned char* at,
                                               size_t available, long long sectorNumber,
                                               int sectorSize, long long headerOffset,
                                               const SearchContext& ctx) {
    if (record.kind == RecordKind::Local) {
        // Bit 3: the sizes follow the member's data, so the next record's
        // place is not known from this header.
        m_sizesKnown = (record.local.flags & kFlagDataDescriptor) == 0;
        if (!m_memberTaken && !record.name.empty()) {
            m_member = record.name.substr(0, kMemberNameBytes);
            m_firstSizesKnown = m_sizesKnown;
            m_memberTaken = true;
        }
        bool core = false;
        const size_t data = std::min(available, record.headerBytes);
        FileZIPAnalyser::ClassifyMember(record.name, at + data, available - data, m_office, false,
                                        m_accumulated, core);
        if (core && !m_propertiesRead && m_pendingCore < 0) {
            m_coreHeader = record.local;
            m_pendingCore = m_walk;
            ReadCore(at - headerOffset, sectorNumber, sectorSize, ctx);
        }
    } else if (record.kind == RecordKind::Central) {
        FileZIPAnalyser::ClassifyCentral(record.name, m_office, m_accumulated);
    } else if (record.kind == RecordKind::End) {
        m_ended = true;
    }
    if (m_accumulated != RAW_ZIP)
        m_type = static_cast<RAW_FILE_TYPE>(m_accumulated);
}

void FileZIPAnalyser::ZIPRawFileInfo::Walk(unsigned char* sector, long long sectorNumber,
                                           int sectorSize, const SearchContext& ctx) {
    const long long s = sectorSize;
    const long long offset = (sectorNumber - m_startSector) * s;
    const long long before = (sectorNumber - ctx.windowFirstSector) * s;
    const long long held = (ctx.windowEndSector - sectorNumber) * s;
    const long long span = before + held;
    while (m_sizesKnown && m_walkValid && !m_ended) {
        const long long rel = m_walk - offset;
        if (rel >= s)
            return;
        if (rel < -before) {
            // The walk fell behind what the search holds (sectors it skipped).
            m_walkValid = false;
            return;
        }
        Record record;
        const ReadResult result = classZipSearch::ReadRecord(
            sector + rel, static_cast<size_t>(held - rel), kStreamMaxName, record);
        if (result == ReadResult::NeedMore) {
            // The header runs into the next block: read it there, unless it
            // is longer than all the search ever holds.
            if (held - rel >= span)
                m_walkValid = false;
            return;
        }
        const long long end = m_walk + static_cast<long long>(record.length);
        if (result != ReadResult::Ok || record.length == 0 || end < m_walk ||
            end > 20 * m_sizeLimit) {
            m_walkValid = false;
            return;
        }
        // A member of this archive that begins a sector looks like an
        // archive of its own there: it is a piece of this one.
        if (rel == 0 && record.kind == RecordKind::Local && ctx.other != nullptr) {
            auto* inner = dynamic_cast<ZIPRawFileInfo*>(ctx.other);
            if (inner != nullptr && inner != this && inner->m_startSector == sectorNumber)
                inner->m_nested = true;
        }
        OnRecord(record, sector + rel, static_cast<size_t>(held - rel), sectorNumber, sectorSize,
                 rel, ctx);
        m_walk = end;
        m_size = m_walk;
        if (!m_sizesKnown)
            m_huntFrom = m_walk;
    }
}

bool FileZIPAnalyser::ZIPRawFileInfo::HuntEnd(unsigned char* sector, long long sectorNumber,
                                              int sectorSize, const SearchContext& ctx) {
    const long long s = sectorSize;
    const long long offset = (sectorNumber - m_startSector) * s;
    const long long before = (sectorNumber - ctx.windowFirstSector) * s;
    const long long held = (ctx.windowEndSector - sectorNumber) * s;
    // Also the end of the sector before: a record that crossed into this
    // one could not be read whole there.
    const long long from =
        std::max({-static_cast<long long>(kEndBytes) + 1, -before, m_huntFrom - offset});
    auto read = [&](uint64_t position, size_t length) -> const uint8_t* {
        const long long rel = static_cast<long long>(position) - offset;
        if (rel < -before || rel + static_cast<long long>(length) > held)
            return nullptr;
        return sector + rel;
    };
    for (long long rel = from; rel < s; ++rel) {
        if (rel + static_cast<long long>(kEndBytes) > held)
            return false;
        const unsigned char* p = sector + rel;
        if (vk::LoadLE<uint32_t>(p) != kEndSignature)
            continue;
        const uint64_t position = static_cast<uint64_t>(offset + rel);
        if (!classZipSearch::EndRecordCloses(read, position))
            continue;
        m_size = static_cast<long long>(position + classZipSearch::EndRecordEnd(p));
        if (m_office) {
            const RAW_FILE_TYPE kind = JudeOleType(sector, sectorSize);
            if (kind > 0)
                m_type = kind;
        }
        m_ended = true;
        return true;
    }
    return false;
}

int FileZIPAnalyser::ZIPRawFileInfo::Done(long long sectorNumber, int sectorSize, int zeroTail) {
    m_final = m_size > 0;
    FillFileInfo(sectorNumber, sectorSize, zeroTail);
    m_final = m_size > 0;
    return 1;
}

int FileZIPAnalyser::ZIPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                 long long sectorNumber, SearchContext& ctx) {
    if (m_nested) {
        m_size = 0;
        m_analyser = nullptr;
        return 1;
    }
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector || m_final)
        return m_final ? 1 : 2;
    const long long offset = (sectorNumber - m_startSector) * static_cast<long long>(sectorSize);
    if (offset > 20 * m_sizeLimit) {
        m_size = m_sizeLimit;
        m_final = true;
        char text[64];
        std::snprintf(text, sizeof text, "%lld-%lld_", m_startSector, sectorNumber);
        SetRawFileName(text);
        return 1;
    }
    const size_t held =
        static_cast<size_t>(ctx.windowEndSector - sectorNumber) * static_cast<size_t>(sectorSize);
    if (sectorNumber == m_startSector) {
        if (classZipSearch::IsValidHeader(sector, held) == 0) {
            m_size = 0;
            return 1;
        }
        bool cdr = false;
        FileZIPAnalyser::JudgeMaybeOfficeType(sector, static_cast<int>(held), m_office, cdr);
        if (m_office)
            m_sizeLimit = kOfficeSizeLimit;
        if (cdr)
            m_type = RAW_CDR;
    }
    ReadCore(sector, sectorNumber, sectorSize, ctx);
    Walk(sector, sectorNumber, sectorSize, ctx);
    if (m_ended)
        return Done(sectorNumber, sectorSize, 0);
    if (!m_sizesKnown || !m_walkValid) {
        if (HuntEnd(sector, sectorNumber, sectorSize, ctx))
            return Done(sectorNumber, sectorSize, 0);
    }
    if (!m_sizesKnown && ctx.zeroTail >= kTailZeros) {
        // An archive that lost its end record: a central header as the last
        // record before zero fill is where it stops.
        const int length = sectorSize - ctx.zeroTail;
        const int past = BruteForce::RawUtility::FindMagicInBuffer(
            sector, sectorSize, ctx.zeroTail, reinterpret_cast<const unsigned char*>("PK"), 2);
        if (past >= 2 && past + 2 <= length && sector[past] == 0x01 && sector[past + 1] == 0x02) {
            m_size = offset + past - 2 + kCentralGuess;
            if (ctx.zeroTail >= kCentralTailZeros)
                return Done(sectorNumber, sectorSize, 0);
        }
    }
    if (m_sizesKnown && !m_walkValid && sectorNumber - m_startSector >= 2)
        return Done(sectorNumber, sectorSize, ctx.zeroTail);
    return 2;
}

// ---------------------------------------------------------------------------
// Whole-file road

uint64_t FileZIPAnalyser::GetProbablySize(uint64_t offset, CRawFileInfo& info,
                                          IStorageDevice* device) {
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    RawFileBuffer look(device, static_cast<unsigned long long>(info.m_startSector));
    const classZipSearch::ReadAt read = [&look](uint64_t at, size_t length) {
        return look.GetRawFileBuffer(at, length);
    };
    m_endFound = false;
    uint64_t at = offset;
    while (at < kMaxEndSearch) {
        const uint8_t* p = file.GetRawFileBuffer(at, kEndBytes);
        if (p == nullptr)
            return at;
        const size_t run = file.Available(at);
        for (size_t i = 0; i + kEndBytes <= run; ++i) {
            if (vk::LoadLE<uint32_t>(p + i) == kEndSignature &&
                classZipSearch::EndRecordCloses(read, at + i)) {
                m_endFound = true;
                return at + i + classZipSearch::EndRecordEnd(p + i);
            }
        }
        // The last bytes are looked at again with what follows them.
        at += run - kEndBytes + 1;
    }
    return at;
}

int FileZIPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* first = file.GetRawFileBuffer(0, 512);
    if (first == nullptr)
        return 0;
    info.m_type = ZipIpaFileType(first) != 0 ? RAW_IPA : RAW_ZIP;
    if (classZipSearch::IsValidHeader(first, 512) == 0) {
        info.m_size = 0;
        return 0;
    }
    JudgeMaybeOfficeType(first);
    Record record;
    if (classZipSearch::ReadRecord(first, file.Available(0), kWholeMaxName, record) !=
            ReadResult::Ok ||
        record.length == 0)
        return 0;
    const std::string firstName = record.name;
    uint32_t type = static_cast<uint32_t>(info.m_type);
    uint64_t end = 0;
    bool closed = false;
    // Reads the record at `at`, asking for more bytes when its header runs
    // past what the window holds.
    auto readAt = [&file](uint64_t at, Record& r) {
        const uint8_t* p = file.GetRawFileBuffer(at, 4);
        if (p == nullptr || classZipSearch::IsValidHeader(p, file.Available(at)) == 0)
            return false;
        ReadResult result = classZipSearch::ReadRecord(p, file.Available(at), kWholeMaxName, r);
        if (result == ReadResult::NeedMore) {
            const size_t most = kCentralBytes + kWholeMaxName + 2 * 65535;
            p = file.GetRawFileBuffer(at, std::min<size_t>(file.GetWindowBytes(), most));
            if (p == nullptr)
                return false;
            result = classZipSearch::ReadRecord(p, file.Available(at), kWholeMaxName, r);
        }
        return result == ReadResult::Ok && r.length != 0;
    };
    uint64_t offset = 0;
    for (;;) {
        if (record.kind == RecordKind::Local) {
            bool core = false;
            const uint8_t* data = file.GetRawFileBuffer(offset + record.headerBytes, 1);
            const size_t available =
                data != nullptr ? file.Available(offset + record.headerBytes) : 0;
            ClassifyMember(record.name, data, available, m_office, true, type, core);
            // Bit 3: the member's sizes follow its data; only the end
            // record tells where the archive ends.
            if ((record.local.flags & kFlagDataDescriptor) != 0) {
                end = GetProbablySize(offset + record.headerBytes, info, device);
                closed = m_endFound;
                break;
            }
        } else if (record.kind == RecordKind::Central) {
            ClassifyCentral(record.name, m_office, type);
        } else if (record.kind == RecordKind::End) {
            end = offset + record.length;
            closed = true;
            break;
        }
        // A record that would run past where the walk stops is no record.
        if (offset + record.length > kMaxWalk) {
            end = offset;
            break;
        }
        offset += record.length;
        end = offset;
        if (!readAt(offset, record))
            break;
    }
    if (m_cdr && !m_office)
        type = RAW_CDR;
    info.m_type = static_cast<RAW_FILE_TYPE>(type);
    const std::string name = ApiStrFilterBadFileName(firstName);
    if (closed) {
        info.m_size = static_cast<long long>(end);
        info.SetRawFileName(name);
        return 1;
    }
    // The walk ended without the end record: the archive is taken to run
    // to the next sector that ends in zero fill.
    const unsigned s = file.GetSectorSize();
    const uint64_t d = end / s * s;
    const uint8_t* last = file.GetRawFileBuffer(d, s);
    if (last == nullptr) {
        info.m_size = static_cast<long long>(d);
        info.SetRawFileName(name);
        return 1;
    }
    info.SetRawFileName(name);
    if (vk::LoadLE<uint32_t>(last + s - 4) == 0) {
        info.m_size = static_cast<long long>(end);
        return 1;
    }
    if (d > kMaxZeroSearch) {
        info.m_size = static_cast<long long>(d);
        return 1;
    }
    uint64_t at = d;
    for (; at < kMaxZeroSearch; at += s) {
        const uint8_t* p = file.GetRawFileBuffer(at, s);
        if (p == nullptr)
            break;
        static const uint8_t kZero[16] = {};
        if (std::memcmp(p + s - 16, kZero, 16) == 0) {
            info.m_size = static_cast<long long>(at + s - 16);
            return 1;
        }
    }
    info.m_size = static_cast<long long>(at);
    return 1;
}
