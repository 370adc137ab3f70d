// After Effects projects: a big-endian RIFX length, then perhaps an XMP
// packet up to the zero fill.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "RawUtility.h"
#include "StreamWalk.h"
#include "StreamedDocAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewAEPAnalyser, RawSpeed::AEPAnalyser);

int RawSpeed::AEPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector + aep_layout::kForm, "Egg", 3) != 0)
        return 0;
    info.m_type = RAW_AEP;
    return 1;
}

int RawSpeed::AEPAnalyser::AEPRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace aep_layout;
    if (m_length < 0) {
        const uint8_t* head = view.At(0, kHeadBytes);
        if (head == nullptr)
            return Unsized();
        m_length = vk::LoadBE<uint32_t>(head + kLengthBE);
    }
    const long long riffEnd = m_length + kHeadBytes;
    if (view.here > kSizeLimit || riffEnd > kSizeLimit)
        return Unsized();
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
            return Unsized();
        }
        if (std::memcmp(p, kPacket, kPacketBytes) != 0)
            return Sized(view, riffEnd);
        m_packet = true;
    }
    // The packet runs to the zero fill: the file ends with its last
    // non-zero byte, the packet's closing "?>".
    if (view.SectorEnd() <= riffEnd + kPacketBytes ||
        rawwalk::TrailingZeros(view.sector, view.sectorSize) < kMinZeros)
        return 2;
    return Sized(view,
                 view.here + BruteForce::RawUtility::Binary_Compare(view.sector, view.sectorSize));
}
