// MOBI e-books: "BOOKMOBI"; the record list points at the end record. The
// streaming candidate follows the list as the sectors pass (and falls back
// on the zero fill when the list points nowhere); the whole-file sizer
// reads it from the device.
#include <strings.h>

#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StreamWalk.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewMOBIAnalyser, RawSpeed::MOBIAnalyser);

namespace RawSpeed {

namespace {

// Asked of every sector (no leading bytes to key on): the first letter turns
// nearly all of them away before the whole word is compared.
bool IsMobi(const unsigned char* sector) {
    return sector != nullptr && (sector[mobi_layout::kTypeCreator] | 0x20) == 'b' &&
           strncasecmp(reinterpret_cast<const char*>(sector) + mobi_layout::kTypeCreator,
                       "BOOKMOBI", 8) == 0;
}

// The file offset of the record list's last offset field.
long long LastEntryField(uint32_t count) {
    return static_cast<long long>(count) * static_cast<long long>(mobi_layout::kListEntryBytes) +
           mobi_layout::kLastEntryBase;
}

}  // namespace

int MOBIAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsMobi(sector))
        return 0;
    info.m_type = RAW_MOBI;
    return 1;
}

int MOBIAnalyser::MOBIRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace mobi_layout;
    if (view.here > kMaxLength)
        return Unsized();
    if (m_position < 0)
        m_position = LastEntryField(vk::LoadBE<uint32_t>(view.sector + kRecordCountBE));
    while (m_hop < 2 && m_position < view.SectorEnd()) {
        const uint8_t* p = view.At(m_position, 4);
        if (p == nullptr) {
            if (view.Coming(m_position))
                return 2;      // the four bytes end in the next block
            return Unsized();  // passed unseen: the whole-file road takes over
        }
        if (m_hop == 0) {
            const long long last = vk::LoadBE<uint32_t>(p);
            // A record lies behind the list; anything else is no book.
            if (last <= m_position) {
                m_hop = 2;
                break;
            }
            m_position = last;
            m_hop = 1;
            continue;
        }
        if (std::memcmp(p, kEndRecord, 4) == 0)
            return Sized(view, m_position + 4);
        m_hop = 2;
    }
    if (m_hop < 2)
        return 2;
    rawwalk::ZeroTailRule rule;
    rule.maximum = kMaxLength;
    rule.zeros = 9;
    rule.sizeAtMaximum = false;
    return rawwalk::ZeroTailStep(*this, view.sector, view.sectorSize, view.sectorNumber, rule);
}

int FileMOBIAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsMobi(sector))
        return 0;
    info.m_type = RAW_MOBI;
    return 1;
}

int FileMOBIAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace mobi_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kRecordCountBE + 4);
    if (head == nullptr || !IsMobi(head))
        return 0;
    const long long field = LastEntryField(vk::LoadBE<uint32_t>(head + kRecordCountBE));
    if (field + 4 > MOBIAnalyser::MOBIRawFileInfo::kMaxLength)
        return 0;
    const uint8_t* entry = file.GetRawFileBuffer(static_cast<unsigned long long>(field), 4);
    if (entry == nullptr)
        return 0;
    const long long last = vk::LoadBE<uint32_t>(entry);
    if (last <= field || last + 4 > MOBIAnalyser::MOBIRawFileInfo::kMaxLength)
        return 0;
    info.m_size = last + 4;
    return 1;
}

}  // namespace RawSpeed
