#include "SQLiteAnalyser.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "RawUtility.h"
#include "StreamLayouts.h"
#include "Utility/TextConvert.h"

VK_RAW_ANALYSER_FACTORY(NewCFCPEvtAnalyser, BruteForce::CFCPEvtAnalyser);

namespace BruteForce {

using namespace sqlite_layout;

int CFCPEvtAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "SQLite format 3", 15) != 0)
        return 0;
    const uint16_t pageSize = vk::LoadBE<uint16_t>(sector + kPageSizeBE);
    if (pageSize == 0 || pageSize % 1024 != 0)
        return 0;
    if (vk::LoadLE<uint32_t>(sector + kEncodingRead) > kMostEncoding)
        return 0;
    info.m_type = RAW_FCPEVENT;
    return 1;
}

bool CFCPEvtAnalyser::AnalyseABCDDBFileType(const uint8_t* page, int pageSize, int cellCount) {
    if (page == nullptr || pageSize <= 0 || cellCount < 0 ||
        static_cast<long long>(kCellPointers) + 2LL * cellCount > pageSize)
        return false;
    int found = 0;
    for (int i = 0; i < cellCount; ++i) {
        const long long p = vk::LoadBE<uint16_t>(page + kCellPointers + 2 * i);
        if (p + 3 > pageSize)
            return false;
        const int r = page[p];
        const int h = page[p + 2];
        if (p + h + 2 > pageSize || h >= r || r - h > kLongestName || p + 2 + r > pageSize)
            return false;
        const char* name = reinterpret_cast<const char*>(page + p + h + 2);
        const size_t length = static_cast<size_t>(r - h);
        if ((length >= 10 && std::memcmp(name, "ABCDRecord", 10) == 0) ||
            (length >= 15 && std::memcmp(name, "ABCDPhoneNumber", 15) == 0)) {
            if (++found == 2)
                return true;
        }
    }
    return false;
}

// The first cell of the first page holds the first table's row: a library
// of music scores begins "table", "active", "active" in UTF-16; a sketch
// document keeps tables named payload and metadata at the start of the
// cell area.
void CFCPEvtFileInfo::JudeMuseSuffix(const rawwalk::StreamView& view) {
    if (const uint8_t* text =
            view.At(m_marker + static_cast<long long>(kMarkerText), kMarkerBytes)) {
        const std::string value = vk::Utf16ToUtf8(text, kMarkerBytes / 2);
        if (value.rfind("tableactiveactive", 0) == 0) {
            m_type = RAW_MUSE;
            m_typeOpen = false;
            return;
        }
    }
    const long long from = m_cellContent + static_cast<long long>(kMarkerText);
    const long long length =
        std::min<long long>(kSketchBytes, std::max<long long>(0, view.end - from));
    if (const uint8_t* area = view.At(from, length)) {
        auto* bytes = const_cast<unsigned char*>(area);
        const auto* payload = reinterpret_cast<const unsigned char*>("payload");
        const auto* metadata = reinterpret_cast<const unsigned char*>("metadata");
        if (Apimemstr(bytes, static_cast<int>(length), payload, 7) != nullptr &&
            Apimemstr(bytes, static_cast<int>(length), metadata, 8) != nullptr) {
            m_type = RAW_SKETCH;
            m_typeOpen = false;
        }
    }
}

int CFCPEvtFileInfo::Finish(const rawwalk::StreamView& view, long long offset) {
    long long size = offset - static_cast<long long>(m_chainRun) * m_pageSize +
                     (m_typeOpen ? static_cast<long long>(m_freePages) * m_pageSize : 0);
    size = std::min(std::max(size, 0LL), kLimit);
    if (m_type == RAW_SKETCH) {
        const long long declared = m_databasePages * m_pageSize;
        if (declared > 0 && declared >= size - 3LL * m_pageSize &&
            declared <= size + 3LL * m_pageSize)
            size = declared;
    }
    return Sized(view, size);
}

void CFCPEvtFileInfo::JudgeAddressBook(const rawwalk::StreamView& view, long long offset) {
    const uint8_t* head = view.At(offset, 5);
    if (head == nullptr)
        return;
    const uint16_t cells = vk::LoadBE<uint16_t>(head + kCellCountBE);
    if (cells >= 26 && cells <= 34 && m_type == RAW_FCPEVENT) {
        if (const uint8_t* page = view.At(offset, m_pageSize)) {
            if (CFCPEvtAnalyser::AnalyseABCDDBFileType(page, m_pageSize, cells)) {
                m_type = RAW_ABCDDB;
                m_typeOpen = false;
            }
        }
    }
}

int CFCPEvtFileInfo::Page(const rawwalk::StreamView& view, long long offset) {
    JudgeAddressBook(view, offset);
    const uint8_t* head = view.At(offset, 5);
    if (offset > kLimit)
        return Unsized();
    const uint8_t kind = head[0];
    switch (kind) {
        case 0x01:
        case 0x02:
        case 0x05:
        case 0x08:
        case 0x0A:
        case 0x0D:
        case 'A':
            m_chainStarted = false;
            m_chainRun = 0;
            m_lastChainByte = 0;
            return 2;
        case 0x00: {
            // A free-list or overflow page begins with the next page's number;
            // zero fill after the database looks like a run of them that leads
            // nowhere.
            const int c = head[kNextPageLow];
            if (!m_chainStarted && c != 0) {
                m_chainStarted = true;
                m_lastChainByte = c;
                ++m_chainRun;
                return 2;
            }
            if (c == m_lastChainByte + 1) {
                m_chainRun = 0;
                m_lastChainByte = c;
                return 2;
            }
            m_lastChainByte = c;
            if (m_chainRun >= kZeroRun)
                return Finish(view, offset);
            if (head[4] != 0)
                m_chainRun = 0;
            else
                ++m_chainRun;
            return 2;
        }
        default:
            return Finish(view, offset);
    }
}

// Every page start is looked at, also when a sector holds several pages;
// a page whose table list must be read whole waits until the search holds
// all of it.
int CFCPEvtFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    m_offset = view.here;
    if (m_pageSize == 0) {
        m_pageSize = vk::LoadBE<uint16_t>(view.sector + kPageSizeBE);
        m_databasePages = vk::LoadBE<uint32_t>(view.sector + kPagesBE);
        m_freePages = static_cast<int32_t>(vk::LoadBE<uint32_t>(view.sector + kFreePagesBE));
        m_cellContent = vk::LoadBE<uint16_t>(view.sector + kCellContentBE);
        m_marker = vk::LoadBE<uint16_t>(view.sector + kFirstCellBE);
        m_nextPage = m_pageSize;
        if (m_pageSize == 0)
            return Unsized();
        // Writers since 3.7.0 keep the page count true and say so by storing
        // the change counter a second time beside it. Freed pages, which
        // secure deletion zeroes, may then lie anywhere inside the file.
        const long long declared = m_databasePages * m_pageSize;
        if (vk::LoadBE<uint32_t>(view.sector + kChangeCounterBE) ==
                vk::LoadBE<uint32_t>(view.sector + kValidForBE) &&
            declared > 0 && declared <= kLimit)
            m_declaredSize = declared;
    }
    if (m_typeOpen && m_marker < view.SectorEnd() && m_type == RAW_FCPEVENT) {
        if (view.Holds(m_marker + static_cast<long long>(kMarkerText), kMarkerBytes) ||
            !view.Coming(m_marker)) {
            JudeMuseSuffix(view);
            if (m_type == RAW_FCPEVENT && view.Holds(m_cellContent, kSketchBytes))
                m_marker = INT32_MAX;  // looked at: undecided
        }
    }
    if (m_declaredSize > 0) {
        for (; m_nextPage < std::min(view.SectorEnd(), m_declaredSize); m_nextPage += m_pageSize) {
            const uint8_t* head = view.At(m_nextPage, 5);
            const uint16_t cells = head != nullptr ? vk::LoadBE<uint16_t>(head + kCellCountBE) : 0;
            if (cells >= 26 && cells <= 34 && m_type == RAW_FCPEVENT &&
                !view.Holds(m_nextPage, m_pageSize) && view.Coming(m_nextPage + m_pageSize))
                return 2;  // the table list is read whole with the next block
            JudgeAddressBook(view, m_nextPage);
        }
        if (view.SectorEnd() < m_declaredSize)
            return 2;
        return Sized(view, m_declaredSize);
    }
    while (m_nextPage < view.SectorEnd()) {
        const long long offset = m_nextPage;
        const uint8_t* head = view.At(offset, 5);
        if (head == nullptr) {
            if (view.Coming(offset))
                return 2;
            return Unsized();
        }
        const uint16_t cells = vk::LoadBE<uint16_t>(head + kCellCountBE);
        if (cells >= 26 && cells <= 34 && m_type == RAW_FCPEVENT &&
            !view.Holds(offset, m_pageSize) && view.Coming(offset + m_pageSize))
            return 2;  // the table list is read whole with the next block
        m_nextPage += m_pageSize;
        const int answer = Page(view, offset);
        if (answer == 1)
            return 1;
    }
    return 2;
}

}  // namespace BruteForce
