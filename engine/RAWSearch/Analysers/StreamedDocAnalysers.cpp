#include "StreamedDocAnalysers.h"

#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "RawUtility.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewCRWAnalyser, Dunmere::CRWAnalyser);
VK_RAW_ANALYSER_FACTORY(NewAEPAnalyser, RawSpeed::AEPAnalyser);
VK_RAW_ANALYSER_FACTORY(NewNGRRAnalyser, RawSpeed::NGRRAnalyser);

using rawwalk::PositionName;
using rawwalk::StreamView;
using rawwalk::ViewOf;

// ---------------------------------------------------------------------------
// CIFF raw

int Dunmere::CRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || m_whole.AnalyseBuffer(sector, info) == 0)
        return 0;
    info.m_type = RAW_CRW;
    return 1;
}

long long Dunmere::CRWAnalyser::EndAfterMark(const uint8_t* bytes, long long length, long long at) {
    using namespace crw_stream_layout;
    if (bytes == nullptr || at < 0 || length - at < kMarkBytes)
        return -1;
    const uint8_t* p = bytes + at;
    if (p[0] != 0x07 || p[1] != 0x28 || p[3] != 0 || p[4] != 0)
        return -1;
    switch (p[2]) {
        case 0xA8:
            return kAfterA8;
        case 0xB2:
            return kAfterB2;
        case 0xE4:
            return kAfterE4;
        default:
            return -1;
    }
}

int Dunmere::CRWAnalyser::CRWRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                      long long sectorNumber,
                                                      SearchContext& context) {
    using namespace crw_stream_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here >= kSizeLimit) {
        m_size = kSizeLimit;
        SetRawFileName(PositionName(m_startSector, sectorNumber));
        return 1;
    }
    if (view.SectorEnd() <= kSkipBytes)
        return 2;
    const int zeros = rawwalk::TrailingZeros(sector, sectorSize);
    if (zeros < kMinZeros)
        return 2;
    // The mark in this sector's data, else across its start.
    long long markAt = -1;
    long long after = -1;
    const long long data = sectorSize - zeros;
    for (long long i = 0; i + kMarkBytes <= data && after < 0; ++i) {
        after = EndAfterMark(sector, data, i);
        markAt = view.here + i;
    }
    if (after < 0) {
        if (const uint8_t* around = view.At(view.here - kAroundStart, 2 * kAroundStart)) {
            for (long long i = 0; i + kMarkBytes <= 2 * kAroundStart && after < 0; ++i) {
                after = EndAfterMark(around, 2 * kAroundStart, i);
                markAt = view.here - kAroundStart + i;
            }
        }
    }
    if (after < 0)
        return 2;
    long long end = markAt + after;
    if (after == kAfterB2) {
        const uint8_t* next = view.At(end, 4);
        if (next != nullptr && vk::LoadLE<uint32_t>(next) != 0)
            end += kB2Further;
    }
    m_size = end;
    SetRawFileName(PositionName(m_startSector, sectorNumber));
    return 1;
}

// ---------------------------------------------------------------------------
// After Effects projects

int RawSpeed::AEPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector + aep_layout::kForm, "Egg", 3) != 0)
        return 0;
    info.m_type = RAW_AEP;
    return 1;
}

int RawSpeed::AEPAnalyser::AEPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace aep_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (m_length < 0) {
        const uint8_t* head = view.At(0, kHeadBytes);
        if (head == nullptr) {
            m_size = 0;
            return 1;
        }
        m_length = vk::LoadBE<uint32_t>(head + kLengthBE);
    }
    const long long riffEnd = m_length + kHeadBytes;
    if (view.here > kSizeLimit || riffEnd > kSizeLimit) {
        m_size = 0;
        return 1;
    }
    static constexpr char kPacket[] = "<?xpacket";
    constexpr long long kPacketBytes = sizeof kPacket - 1;
    if (!m_packet) {
        // Decided in the sector that holds the offset the length names.
        if (m_length >= view.SectorEnd())
            return 2;
        const uint8_t* p = view.At(riffEnd, kPacketBytes);
        if (p == nullptr) {
            if (view.Coming(riffEnd))
                return 2;
            m_size = 0;
            return 1;
        }
        if (std::memcmp(p, kPacket, kPacketBytes) != 0) {
            m_size = riffEnd;
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        m_packet = true;
    }
    // The packet runs to the zero fill: the file ends with its last
    // non-zero byte, the packet's closing "?>".
    if (view.SectorEnd() <= riffEnd + kPacketBytes ||
        rawwalk::TrailingZeros(sector, sectorSize) < kMinZeros)
        return 2;
    m_size = view.here + BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    SetRawFileName(PositionName(m_startSector, sectorNumber));
    return 1;
}

// ---------------------------------------------------------------------------
// NGRR recordings

int RawSpeed::NGRRAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    static constexpr char kHead[] = "-in-";
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(sector[i]);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kHead[i])
            return 0;
    }
    info.m_type = RAW_NGRR;
    return 1;
}

int RawSpeed::NGRRAnalyser::NGRRRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                         long long sectorNumber,
                                                         SearchContext& context) {
    using namespace ngrr_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kSizeLimit) {
        m_size = view.here;
        SetRawFileName(PositionName(m_startSector, sectorNumber));
        return 1;
    }
    // Record after record while the next one's head starts by this sector's
    // end; the first that is no "atad" record is where the file ends.
    while (m_walk <= view.SectorEnd()) {
        const uint8_t* tag = view.At(m_walk, 4);
        if (tag == nullptr)
            return view.Coming(m_walk) ? 2 : (m_size = 0, 1);
        if (std::memcmp(tag, "atad", 4) != 0) {
            m_size = m_walk;
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        const uint8_t* length = view.At(m_walk + static_cast<long long>(kRecordLength), 4);
        if (length == nullptr)
            return view.Coming(m_walk) ? 2 : (m_size = 0, 1);
        m_walk += kRecordHead + static_cast<long long>(vk::LoadLE<uint32_t>(length));
    }
    return 2;
}
