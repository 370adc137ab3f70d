#include "ZeroTailAnalysers.h"

#include <strings.h>

#include <cstring>

#include <zlib.h>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewGZAnalyzer, RawSpeed::GZAnalyzer);
VK_RAW_ANALYSER_FACTORY(NewDbxAnalyser, RawSpeed::DbxAnalyser);
VK_RAW_ANALYSER_FACTORY(NewMOBIAnalyser, RawSpeed::MOBIAnalyser);

namespace RawSpeed {

using rawwalk::ZeroTailRule;

int GZAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !CGzSearch::IsValidGzHeader(sector, 10))
        return 0;
    info.m_type = RAW_GZ;
    return 1;
}

// Without the stream, the last byte before the zero fill is one short of
// the end when the member's length field ends in a zero byte, as it does for
// every member below 16 MiB: one byte more is counted.
CRawFileInfo* GZAnalyzer::CreateRawFileInfo() {
    ZeroTailRule rule;
    rule.minimum = gz_stream_layout::kMinimum;
    rule.maximum = gz_stream_layout::kMaximum;
    rule.extra = 1;
    return new GZRawFileInfo(rule, &m_whole);
}

GZRawFileInfo::GZRawFileInfo(const ZeroTailRule& rule, IRawFileAnalyser* whole)
    : ZeroTailRawFileInfo(RAW_GZ, rule, whole) {}

GZRawFileInfo::~GZRawFileInfo() = default;

long long GZRawFileInfo::DataStart(const unsigned char* head, size_t length) {
    using namespace gz_layout;
    if (head == nullptr || length < kHeaderBytes)
        return 0;
    const uint8_t flags = head[kFlags];
    size_t pos = kHeaderBytes;
    if (flags & kFlagExtra) {
        if (pos + 2 > length)
            return 0;
        pos += 2 + vk::LoadLE<uint16_t>(head + pos);
    }
    for (uint8_t text : {kFlagName, kFlagComment}) {
        if (!(flags & text))
            continue;
        while (pos < length && head[pos] != 0)
            ++pos;
        if (pos >= length)
            return 0;
        ++pos;
    }
    if (flags & kFlagHeaderCrc)
        pos += 2;
    return pos < length ? static_cast<long long>(pos) : 0;
}

// The members, while they are followed, say exactly where the file ends;
// a file whose data is no deflate stream, or whose sectors do not come in
// order, is left to the zero fill.
int GZRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                               SearchContext& context) {
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const long long here = (sectorNumber - m_startSector) * sectorSize;
    if (!m_tried && here == 0) {
        m_tried = true;
        m_members = std::make_unique<GzipMembers>();
    }
    if (m_members != nullptr && (m_fed != here || here > m_rule.maximum))
        m_members.reset();
    if (m_members != nullptr) {
        m_members->Feed(sector, static_cast<size_t>(sectorSize));
        m_fed = here + sectorSize;
        switch (m_members->GetState()) {
            case GzipMembers::State::Going:
                return 2;
            case GzipMembers::State::End: {
                const auto end = static_cast<long long>(m_members->EndOffset());
                m_members.reset();
                m_size = end;
                SetRawFileName(
                    rawwalk::PositionName(m_startSector, m_startSector + (end - 1) / sectorSize));
                return 1;
            }
            case GzipMembers::State::Broken:
                m_members.reset();
                break;
        }
    }
    return ZeroTailRawFileInfo::CalcRawSize(sector, sectorSize, sectorNumber, context);
}

// ---------------------------------------------------------------------------
// Outlook Express mail databases

int DbxAnalyser::HeadKind(const unsigned char* sector) {
    static constexpr uint8_t kHeads[5][16] = {
        {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
         0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
         0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
         0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00,
         0x60},
        {0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D, 0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0,
         0xB0},
    };
    static constexpr uint8_t kJmf[8] = {'J', 'M', 'F', '6', 0x03, 0x00, 0x10, 0x00};
    if (sector == nullptr)
        return 0;
    for (int i = 0; i < 5; ++i) {
        if (std::memcmp(sector, kHeads[i], dbx_layout::kHeadBytes) == 0)
            return i + 1;
    }
    return std::memcmp(sector, kJmf, dbx_layout::kJmfBytes) == 0 ? 6 : 0;
}

int DbxAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (HeadKind(sector) == 0)
        return 0;
    info.m_type = RAW_DBX;
    return 1;
}

int DbxAnalyser::DBXRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                             long long sectorNumber, SearchContext&) {
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const long long offset = (sectorNumber - m_startSector) * sectorSize;
    if (m_kind < 0)
        m_kind = HeadKind(sector) == 5 ? 1 : 0;
    if (offset > kMaxLength) {
        m_size = 0;
        return 1;
    }
    if (m_kind == 1) {
        ZeroTailRule rule;
        rule.maximum = kMaxLength;
        rule.zeros = 9;
        rule.sizeAtMaximum = false;
        rule.suffix = ".";
        return rawwalk::ZeroTailStep(*this, sector, sectorSize, sectorNumber, rule);
    }
    // The other heads carry the file's length.
    const uint32_t length = vk::LoadLE<uint32_t>(sector + dbx_layout::kFileSize);
    m_size = length <= kMaxLength ? length : 0;
    if (m_size != 0)
        SetRawFileName(rawwalk::PositionName(m_startSector, sectorNumber));
    return 1;
}

// ---------------------------------------------------------------------------
// MOBI e-books

namespace {

bool IsMobi(const unsigned char* sector) {
    return sector != nullptr &&
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

int MOBIAnalyser::MOBIRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                               long long sectorNumber, SearchContext& context) {
    using namespace mobi_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const rawwalk::StreamView view =
        rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kMaxLength) {
        m_size = 0;
        return 1;
    }
    if (m_position < 0)
        m_position = LastEntryField(vk::LoadBE<uint32_t>(sector + kRecordCountBE));
    while (m_hop < 2 && m_position < view.SectorEnd()) {
        const uint8_t* p = view.At(m_position, 4);
        if (p == nullptr) {
            if (view.Coming(m_position))
                return 2;  // the four bytes end in the next block
            m_size = 0;    // passed unseen: the whole-file road takes over
            return 1;
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
        if (std::memcmp(p, kEndRecord, 4) == 0) {
            m_size = m_position + 4;
            SetRawFileName(rawwalk::PositionName(m_startSector, sectorNumber));
            return 1;
        }
        m_hop = 2;
    }
    if (m_hop < 2)
        return 2;
    rawwalk::ZeroTailRule rule;
    rule.maximum = kMaxLength;
    rule.zeros = 9;
    rule.sizeAtMaximum = false;
    return rawwalk::ZeroTailStep(*this, sector, sectorSize, sectorNumber, rule);
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
