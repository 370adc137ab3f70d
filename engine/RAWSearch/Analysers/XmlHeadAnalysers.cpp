#include "XmlHeadAnalysers.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DrawingLayout.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewSVGAnalyser, Dunmere::SVGAnalyser);

namespace Dunmere {

using namespace xml_head_layout;

namespace {

bool Has(const uint8_t* data, size_t length, const char* text) {
    const size_t n = std::strlen(text);
    return n <= length && memmem(data, length, text, n) != nullptr;
}

bool At(const uint8_t* data, size_t at, const char* text) {
    return std::memcmp(data + at, text, std::strlen(text)) == 0;
}

bool IsBinarySvg(const uint8_t* head) {
    return std::memcmp(head, kBinarySvg, sizeof(kBinarySvg)) == 0;
}

// The closing tag a GPX or a property list ends with.
const char* ClosingTag(RAW_FILE_TYPE type) {
    return type == RAW_GPX ? "</gpx>" : type == RAW_PLIST ? "</plist>" : nullptr;
}

}  // namespace

RAW_FILE_TYPE SVGAnalyser::TypeOfHead(const uint8_t* head) {
    if (head == nullptr)
        return RAW_RAW;
    if (strncasecmp(reinterpret_cast<const char*>(head), kXml, 5) == 0) {
        for (size_t at : kGpxAt) {
            if (At(head, at, kGpx))
                return RAW_GPX;
        }
        for (size_t at : kPlistAt) {
            if (At(head, at, kPlist))
                return RAW_PLIST;
        }
    } else if (At(head, 0, kGpxCompressed)) {
        return RAW_GPX;
    }
    for (size_t at : kXmlVersionAt) {
        if (!At(head, at, kXmlVersion) || head[at + sizeof(kXmlVersion) - 1] != '"')
            continue;
        for (const char* root : {"<svg ", "<svg\n ", "<svg\r ", "<svg> ", "<svg>\n", "<svg>\r"}) {
            if (Has(head, kHeadSearch, root))
                return RAW_SVG;
        }
        if (Has(head, kHeadSearch, "=\"Evernote"))
            return RAW_ENEX;
        if (Has(head, kHeadSearch, "csl"))
            return RAW_CSL;
        break;
    }
    if (IsBinarySvg(head) || At(head, 0, "<svg "))
        return RAW_SVG;
    return RAW_RAW;
}

long long SVGAnalyser::TextEnd(RAW_FILE_TYPE type, const uint8_t* data, int before, int sectorSize,
                               long long offset) {
    const uint8_t* sector = data + before;
    const int used = BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    if (const char* tag = ClosingTag(type)) {
        if (sectorSize - used < kZeroTail)
            return -1;
        // The tag searched back from the zero tail, also where the sector's
        // start splits it; the line end after it is the file's.
        const int tagBytes = static_cast<int>(std::strlen(tag));
        const int back = std::min(before, tagBytes - 1);
        const uint8_t* from = sector - back;
        const int past = BruteForce::RawUtility::FindMagicInBuffer(
            from, back + used, 0, reinterpret_cast<const uint8_t*>(tag), tagBytes);
        if (past == 0)
            return offset + used;
        int end = past;
        while (end < back + used && end < past + 2 && (from[end] == '\r' || from[end] == '\n'))
            ++end;
        return offset - back + end;
    }
    // SVG, note exports and styles: the sector (or the half sector before
    // it as well) ends in zeros and holds the start of a closing tag.
    if (sector[sectorSize - 1] != 0 || sector[sectorSize - 2] != 0)
        return -1;
    const int back = std::min(before, sectorSize / 2);
    if (!Has(sector - back, static_cast<size_t>(back + used), "</"))
        return -1;
    return offset + used;
}

int SVGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const RAW_FILE_TYPE type = TypeOfHead(sector);
    if (type == RAW_RAW)
        return 0;
    info.m_type = type;
    return 1;
}

int SVGAnalyser::SVGRawFileInfo::Judge(const rawwalk::StreamView& view) {
    const long long offset = view.here;
    if (m_first) {
        m_first = false;
        m_binary = offset == 0 && IsBinarySvg(view.sector);
    }
    if (offset >= kLimit)
        return Sized(view, kLimit);
    if (m_binary) {
        const long long at = static_cast<long long>(kBinarySvgLength);
        if (offset <= at && at + 4 <= view.SectorEnd()) {
            const long long size =
                vk::LoadLE<uint32_t>(view.sector + (at - offset)) + kBinarySvgFixed;
            if (size <= kLimit)
                return Sized(view, size);
        }
        return 2;
    }
    const int before = view.HalfBefore();
    const long long end = TextEnd(m_type, view.sector - before, before, view.sectorSize, offset);
    return end >= 0 ? Sized(view, end) : 2;
}

int FileSVGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const int n = static_cast<int>(file.GetSectorSize());
    const uint8_t* head = file.GetRawFileBuffer(0, 4);
    if (n < 2 || head == nullptr)
        return 0;
    if (IsBinarySvg(head)) {
        const uint8_t* length = file.GetRawFileBuffer(kBinarySvgLength, 4);
        if (length == nullptr)
            return 0;
        info.m_size = vk::LoadLE<uint32_t>(length) + kBinarySvgFixed;
        return info.m_size <= kLimit ? 1 : 0;
    }
    const RAW_FILE_TYPE type = info.m_type;
    return rawcarve::SizeBySectors(
        info, file, n, kLimit, kLimit,
        [type](const uint8_t* data, int before, int sectorSize, long long offset) {
            return SVGAnalyser::TextEnd(type, data, before, sectorSize, offset);
        });
}

}  // namespace Dunmere
