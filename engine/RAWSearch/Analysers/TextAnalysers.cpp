#include "TextAnalysers.h"

#include <strings.h>

#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewRTFAnalyser, RawSpeed::RTFAnalyser);
VK_RAW_ANALYSER_FACTORY(NewHTMLAnalyser, RawSpeed::HTMLAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileUnicodeHTMAnalyser, FileUnicodeHTMAnalyser);

namespace {

bool IsRtf(const unsigned char* sector) {
    return sector != nullptr && std::memcmp(sector, "{\\rt", 4) == 0 &&
           sector[rtf_layout::kVersionLetter] == 'f';
}

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

bool WideHead(const unsigned char* sector) {
    return sector[0] == 0xFF && sector[1] == 0xFE && sector[2] == '<' && sector[3] == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// RTF

int FileRTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsRtf(sector))
        return 0;
    info.m_type = RAW_RTF;
    return 1;
}

// Braces open and close groups; a backslash takes the next character
// literally, so text holding "\{" or "\}" keeps its groups where they are.
// A group that closes at depth 0 ends the document unless another top-level
// group follows at once.
int FileRTFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, 5);
    if (head == nullptr || !IsRtf(head))
        return 0;
    long long depth = 0;
    bool escaped = false;
    bool closed = false;  // depth came back to 0 at the byte before
    unsigned long long offset = 0;
    while (offset <= static_cast<unsigned long long>(rtf_layout::kWalkLimit)) {
        const uint8_t* p = file.GetRawFileBuffer(offset);
        if (p == nullptr)
            return 0;
        const size_t run = file.Available(offset);
        for (size_t i = 0; i < run; ++i, ++offset) {
            const uint8_t c = p[i];
            if (closed) {
                if (c != '{') {
                    info.m_size = static_cast<long long>(offset);
                    return 1;
                }
                closed = false;
            }
            if (c == 0)
                return 0;
            if (escaped) {
                escaped = false;
                continue;
            }
            if (c == '\\') {
                escaped = true;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth <= 0)
                    closed = true;
            }
        }
    }
    if (closed) {
        info.m_size = static_cast<long long>(offset);
        return 1;
    }
    return 0;
}

int RawSpeed::RTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsRtf(sector))
        return 0;
    info.m_type = RAW_RTF;
    return 1;
}

// Word processors close an RTF file with a zero byte after the last brace;
// it is counted.
CRawFileInfo* RawSpeed::RTFAnalyser::CreateRawFileInfo() {
    rawwalk::ZeroTailRule rule;
    rule.minimum = rtf_layout::kMinimum;
    rule.maximum = rtf_layout::kMaximum;
    rule.extra = 1;
    return new ZeroTailRawFileInfo(RAW_RTF, rule, &m_whole);
}

// ---------------------------------------------------------------------------
// HTML

int RawSpeed::HTMLAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const char* text = reinterpret_cast<const char*>(sector);
    bool html = strncasecmp(text, "<HTML", 5) == 0 || strncasecmp(text, "<!DOCTYPE HTML", 14) == 0;
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
// UTF-16 HTML

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
