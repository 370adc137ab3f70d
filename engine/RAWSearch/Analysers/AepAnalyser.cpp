// After Effects projects: a big-endian RIFX length, then perhaps an XMP
// packet up to the zero fill.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "RawUtility.h"
#include "StreamWalk.h"
#include "StreamedDocAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewAEPAnalyser, RawSpeed::AEPAnalyser);

using rawwalk::PositionName;
using rawwalk::StreamView;
using rawwalk::ViewOf;

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
