// MPEG programme streams: pack headers and the packets after them.

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "MediaStreamAnalysers.h"
#include "RawFileBuffer.h"

VK_RAW_ANALYSER_FACTORY(NewMPGAnalyser, Dunmere::MPGAnalyser);

using rawcarve::kMaxWholeSteps;

namespace Dunmere {

void LastSized::Remember(long long start, long long size, int sectorSize) {
    m_start = start;
    m_sectors = (size + sectorSize - 1) / sectorSize;
}

namespace {

class MPGRawFileInfo : public WalkRawFileInfo {
public:
    MPGRawFileInfo(MPGAnalyser* owner, IRawFileAnalyser* partner, uint32_t header)
        : WalkRawFileInfo(RAW_MPG, partner), m_owner(owner) {
        m_walk.SetPackHeaderLength(header);
    }

protected:
    MediaWalk& Walk() override { return m_walk; }
    void NameAtEnd(int sectorSize) override {
        WalkRawFileInfo::NameAtEnd(sectorSize);
        m_owner->Sized(m_startSector, m_size, sectorSize);
    }

private:
    MPGAnalyser* m_owner;
    MpegPsWalk m_walk;
};

}  // namespace

uint32_t FileMPGAnalyser::PackHeaderLength(const unsigned char* sector) {
    const uint32_t clock = vk::LoadLE<uint32_t>(sector + mpeg_ps_layout::kPackWord);
    switch (clock) {
        case 0x00010021:
        case 0x6F710021:
        case 0x09010021:
        case 0x13FFFF2F:
            return mpeg_ps_layout::kPackHeader1;
        case 0x482C0044:
        case 0x00040044:
        case 0x04040044:
            return mpeg_ps_layout::kPackHeader2;
        default:
            return 0;
    }
}

int FileMPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || sector[0] != 0 || sector[1] != 0 || sector[2] != 1 ||
        (sector[3] != 0xBA && sector[3] != 0xB3) || PackHeaderLength(sector) == 0)
        return 0;
    info.m_type = RAW_MPG;
    return 1;
}

int FileMPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0 || m_last.Inside(info.m_startSector))
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, 8);
    if (head == nullptr)
        return 0;
    const uint32_t header = PackHeaderLength(head);
    MpegPsWalk walk;
    walk.SetPackHeaderLength(header != 0 ? header : mpeg_ps_layout::kPackHeader1);
    const FileBytes source(file);
    const uint64_t size = walk.RunToEnd(source, kMaxSize, kMaxWholeSteps);
    if (size == 0)
        return 0;
    info.m_size = static_cast<long long>(size);
    m_last.Remember(info.m_startSector, info.m_size, rawcarve::SectorSizeOf(device));
    return 1;
}

int MPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const uint32_t header = FileMPGAnalyser::PackHeaderLength(sector);
    if (header == 0)
        return 0;
    // Packs near a stream's start repeat its first clock values; past the
    // end of a stream already sized, another stream may begin.
    const long long start = info.m_startSector;
    if (m_lastAccepted >= 0 && start >= m_lastAccepted && start - m_lastAccepted <= kNearSectors &&
        !(m_lastEnd > m_lastAccepted && start >= m_lastEnd))
        return 0;
    m_lastAccepted = start;
    m_header = header;
    info.m_type = RAW_MPG;
    return 1;
}

CRawFileInfo* MPGAnalyser::CreateRawFileInfo() {
    return new MPGRawFileInfo(this, &m_whole, m_header);
}

void MPGAnalyser::Sized(long long start, long long size, int sectorSize) {
    if (start == m_lastAccepted && sectorSize > 0)
        m_lastEnd = start + (size + sectorSize - 1) / sectorSize;
}

}  // namespace Dunmere

// ---------------------------------------------------------------------------
// The walk

WalkStep MpegPsWalk::Next(const ByteSource& source) {
    using namespace mpeg_ps_layout;
    const uint8_t* p = source.At(m_pos, 4);
    if (p == nullptr)
        return WalkStep::NeedMore;
    const uint32_t word = vk::LoadBE<uint32_t>(p);
    if (word == 0x000001BA || word == 0x000001B3) {
        const uint8_t* pack = source.At(m_pos, m_header + kPacketHeader);
        if (pack == nullptr)
            return WalkStep::NeedMore;
        const uint32_t following = vk::LoadBE<uint32_t>(pack + m_header);
        const uint16_t length = vk::LoadBE<uint16_t>(pack + m_header + kPacketLength);
        if (following == 0x000001BB) {
            const uint64_t item = m_pos + m_header + kPacketHeader + length;
            const uint8_t* next = source.At(item, kPacketHeader);
            if (next == nullptr)
                return WalkStep::NeedMore;
            if (next[0] != 0 || next[1] != 0 || next[2] != 1) {
                if (m_pos < kMinSystemHeaderEnd)
                    m_pos = 0;
                return WalkStep::End;
            }
            const uint16_t itemLength = vk::LoadBE<uint16_t>(next + kPacketLength);
            m_pos = item + (itemLength != 0 ? itemLength + kPacketHeader : 4);
        } else {
            m_pos += m_header + (length != 0 ? length + kPacketHeader : 4);
        }
        m_zeros = 0;
        m_missed = false;
        return WalkStep::Continue;
    }
    if (word == 0 || word == 0x01000000) {
        if (m_zeros == 0)
            m_zeroStart = m_pos;
        ++m_pos;
        if (++m_zeros >= kZeroRun) {
            // The stream ended where the zeros began.
            m_pos = m_zeroStart;
            return WalkStep::End;
        }
        return WalkStep::Continue;
    }
    m_zeros = 0;
    if ((word >> 8) == 1) {
        const uint8_t* item = source.At(m_pos, kPacketHeader);
        if (item == nullptr)
            return WalkStep::NeedMore;
        const uint16_t length = vk::LoadBE<uint16_t>(item + kPacketLength);
        m_pos += length != 0 ? length + kPacketHeader : 4;
        m_missed = false;
        return WalkStep::Continue;
    }
    if (!m_missed && m_pos >= 2) {
        // Some muxers leave two bytes unaccounted for: look again there.
        m_missed = true;
        m_missAt = m_pos;
        m_pos -= 2;
        return WalkStep::Continue;
    }
    // The stream ends where the last item did.
    m_pos = m_missed ? m_missAt : m_pos;
    return WalkStep::End;
}
