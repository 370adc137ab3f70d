// ADTS streams (AAC audio): frame after frame, their lengths in their
// headers, to the last whole frame whatever follows.

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "MediaLayouts.h"
#include "StreamWindow.h"

VK_RAW_ANALYSER_FACTORY(NewCADTSAnalyser, BruteForce::CADTSAnalyser);

namespace BruteForce {

namespace {

class CADTSRawFileInfo : public WindowedRawFileInfo {
public:
    explicit CADTSRawFileInfo(bool overflow) : WindowedRawFileInfo(RAW_M4A), m_overflow(overflow) {}

protected:
    int Step(const StreamWindow& window, unsigned char*, int sectorSize, SearchContext&) override {
        while (m_pos < window.SectorEnd()) {
            const uint8_t* header = window.At(m_pos, adts_layout::kHeaderBytes);
            if (header == nullptr)
                return 2;  // the header goes on into the next block
            const uint32_t length = CADTSAnalyser::FrameLength(header);
            if (length != 0) {
                m_pos += length;
                ++m_frames;
                continue;
            }
            // The frames end here, exactly, whatever follows them: the five
            // frames in a row that recognised the stream vouch for it.
            long long size = static_cast<long long>(m_pos);
            if (m_overflow && m_frames <= 4)
                size = 0;
            return Finish(size, sectorSize);
        }
        return 2;
    }

private:
    bool m_overflow;
    uint64_t m_pos = 0;
    int m_frames = 0;
};

}  // namespace

uint32_t CADTSAnalyser::FrameLength(const unsigned char* header) {
    if (header == nullptr || vk::LoadBE<uint16_t>(header) < 0xFFF0 || ((header[1] >> 1) & 3) != 0)
        return 0;
    const uint32_t length = (static_cast<uint32_t>(header[adts_layout::kLength] & 3) << 11) |
                            (static_cast<uint32_t>(header[adts_layout::kLength + 1]) << 3) |
                            (header[adts_layout::kLength + 2] >> 5);
    // A frame holds at least its own header.
    return length >= adts_layout::kHeaderBytes ? length : 0;
}

int CADTSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = RAW_M4A;
    return 1;
}

int CADTSAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                   long long sectorNumber, long long windowFirst,
                                   long long windowEnd) {
    (void)windowFirst;
    m_overflow = false;
    if (sector == nullptr || sectorSize <= 0 || windowEnd <= sectorNumber)
        return 0;
    const uint64_t available =
        static_cast<uint64_t>(windowEnd - sectorNumber) * static_cast<uint64_t>(sectorSize);
    uint64_t offset = 0;
    for (int valid = 0; valid < kConfirmFrames;) {
        if (offset + adts_layout::kHeaderBytes > available) {
            if (valid == 0)
                return 0;
            m_overflow = true;  // confirmed as far as the window goes
            break;
        }
        const uint32_t length = FrameLength(sector + offset);
        if (length == 0)
            return 0;
        ++valid;
        offset += length;
    }
    info.m_type = RAW_M4A;
    return 1;
}

CRawFileInfo* CADTSAnalyser::CreateRawFileInfo() {
    return new CADTSRawFileInfo(m_overflow);
}

}  // namespace BruteForce
