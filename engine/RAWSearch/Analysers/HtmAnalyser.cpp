// HTML pages: "<HTML" or "<!DOCTYPE HTML" in any case, or the same in
// UTF-16LE after its byte-order mark. The streaming candidate ends at the
// zero fill; the whole-file sizers look for the closing tag.
#include <strings.h>

#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "TextAnalysers.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewHTMLAnalyser, RawSpeed::HTMLAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileUnicodeHTMAnalyser, FileUnicodeHTMAnalyser);

namespace {

// UTF-16LE code unit compared with an ASCII letter or sign, any case.
bool UnitIs(const uint8_t* p, char c) {
    if (p[1] != 0)
        return false;
    const auto lower = [](unsigned x) { return x >= 'A' && x <= 'Z' ? x + 32 : x; };
    return lower(p[0]) == lower(static_cast<unsigned char>(c));
}

bool UnitsAre(const uint8_t* p, const char* text) {
    for (size_t i = 0; text[i] != 0; ++i) {
        if (!UnitIs(p + 2 * i, text[i]))
            return false;
    }
    return true;
}

// "<HTML" or "<!DOCTYPE HTML", any case.
bool NarrowHead(const unsigned char* sector) {
    const char* text = reinterpret_cast<const char*>(sector);
    return strncasecmp(text, "<HTML", 5) == 0 || strncasecmp(text, "<!DOCTYPE HTML", 14) == 0;
}

bool WideHead(const unsigned char* sector) {
    return sector[0] == 0xFF && sector[1] == 0xFE && sector[2] == '<' && sector[3] == 0;
}

}  // namespace

int RawSpeed::HTMLAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    bool html = NarrowHead(sector);
    if (!html && WideHead(sector))
        html = UnitIs(sector + 4, '!') || UnitsAre(sector + 4, "HTML>");
    if (!html)
        return 0;
    info.m_type = RAW_HTM;
    return 1;
}

CRawFileInfo* RawSpeed::HTMLAnalyser::CreateRawFileInfo() {
    return new HTMLRawFileInfo(&m_whole);
}

RawSpeed::HTMLAnalyser::HTMLRawFileInfo::HTMLRawFileInfo(IRawFileAnalyser* whole)
    : ZeroTailRawFileInfo(RAW_HTM, rawwalk::ZeroTailRule{}, whole) {
    m_rule.minimum = html_layout::kMinimum;
    m_rule.maximum = html_layout::kMaximum;
}

// Text in UTF-16 ends with the high byte of its last code unit, which for
// ASCII characters is zero: the end is taken up to a whole unit.
int RawSpeed::HTMLAnalyser::HTMLRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                         long long sectorNumber, SearchContext&) {
    if (sector != nullptr && sectorNumber == m_startSector)
        m_wide = WideHead(sector);
    const int answer = rawwalk::ZeroTailStep(*this, sector, sectorSize, sectorNumber, m_rule);
    if (answer == 1 && m_wide && (m_size & 1) != 0)
        ++m_size;
    return answer;
}

// ---------------------------------------------------------------------------
// The whole-file sizers

int FileHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!NarrowHead(sector))
        return 0;
    info.m_type = RAW_HTM;
    return 1;
}

int FileHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    SearchSignCodeInfo code;
    std::memcpy(code.signature, "</html>", 7);
    code.length = 7;
    code.maxLength = 0x100000;
    const int result = SearchSignFileAnalyser::SearchEndSignCode(info, device, code, 0);
    info.m_size = static_cast<long long>(rawcarve::WholeSectors(
        static_cast<uint64_t>(info.m_size), static_cast<uint64_t>(rawcarve::SectorSizeOf(device))));
    return result;
}

int FileUnicodeHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !WideHead(sector))
        return 0;
    info.m_type = RAW_HTM;
    return 1;
}

int FileUnicodeHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace html_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kUnicodeTagSearchEnd + 16);
    if (head == nullptr || !WideHead(head))
        return 0;
    if (!UnitsAre(head + 2, "<HTML>") && !UnitIs(head + 4, '!'))
        return 0;
    bool tag = false;
    for (size_t at = 2; at < kUnicodeTagSearchEnd && !tag; at += 2)
        tag = UnitsAre(head + at, "<HTML>");
    if (!tag)
        return 0;
    for (unsigned long long at = 14; at <= static_cast<unsigned long long>(kUnicodeLimit);
         at += 2) {
        const uint8_t* p = file.GetRawFileBuffer(at, 2);
        if (p == nullptr)
            return 0;
        const uint16_t unit = vk::LoadLE<uint16_t>(p);
        if (unit == 0 || unit == 0xFFFF || unit == 0xFEFF || unit == 0xFFFE) {
            info.m_size = static_cast<long long>(at);
            return 1;
        }
        if (unit == '<') {
            const uint8_t* close = file.GetRawFileBuffer(at, 14);
            if (close != nullptr && UnitsAre(close, "</HTML>")) {
                info.m_size = static_cast<long long>(at + 16);
                return 1;
            }
        }
    }
    info.m_size = static_cast<long long>(kUnicodeLimit);
    return 1;
}
