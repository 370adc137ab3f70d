#include "MpegAudioHeader.h"

namespace {

// kbit/s by [MPEG-1 or not][layer][index]; index 0 is free format, 15 bad.
constexpr uint16_t kBitrates[2][3][16] = {
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
};

// Hz by [version field][index]; the reserved version 1 has none.
constexpr uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000},  // MPEG-2.5
    {0, 0, 0},
    {22050, 24000, 16000},  // MPEG-2
    {44100, 48000, 32000},  // MPEG-1
};

// Samples per frame divided by 8, by [lsf][layer], and bytes per slot.
constexpr uint32_t kCoefficients[2][3] = {{12, 144, 144}, {12, 144, 72}};
constexpr uint32_t m_dwSlotSizes[3] = {4, 1, 1};

}  // namespace

int CMPAHeader::Init(const unsigned char* header) {
    if (header == nullptr)
        return 0;
    if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0)
        return 0;
    const uint8_t version = (header[1] >> 3) & 3;
    const uint8_t layerBits = (header[1] >> 1) & 3;
    if (version == 1 || layerBits == 0)
        return 0;
    const uint8_t bitrateIndex = header[2] >> 4;
    const uint8_t rateIndex = (header[2] >> 2) & 3;
    const uint8_t emphasis = header[3] & 3;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 || emphasis == 2)
        return 0;

    m_version = version;
    m_lsf = version != kMpeg1;
    m_layer = static_cast<uint8_t>(3 - layerBits);
    m_crc = (header[1] & 1) == 0;
    m_bitrate = kBitrates[m_lsf ? 1 : 0][m_layer][bitrateIndex] * 1000u;
    m_sampleRate = kSampleRates[version][rateIndex];
    m_padding = (header[2] >> 1) & 1;
    m_private = (header[2] & 1) != 0;
    m_channelMode = header[3] >> 6;
    m_modeExtension = (header[3] >> 4) & 3;
    m_copyright = (header[3] & 0x08) != 0;
    m_original = (header[3] & 0x04) != 0;
    m_emphasis = emphasis;
    m_bound = m_channelMode == 1 ? 4u * m_modeExtension + 4u : 32u;
    m_allocationTable = -1;
    if (m_bitrate == 0 || m_sampleRate == 0)
        return 0;

    if (m_layer == 1) {
        const bool mono = m_channelMode == 3;
        if (!m_lsf) {
            // MPEG-1 Layer II ties the bitrate to the channel mode: the lowest
            // rates are for one channel only, the highest for two.
            const uint32_t kbps = m_bitrate / 1000;
            if (mono && kbps >= 224)
                return 0;
            if (!mono && (kbps == 32 || kbps == 48 || kbps == 56 || kbps == 80))
                return 0;
            const uint32_t perChannel = mono ? m_bitrate : m_bitrate / 2;
            if (perChannel <= 48000)
                m_allocationTable = m_sampleRate == 32000 ? 3 : 2;
            else if (perChannel <= 80000)
                m_allocationTable = 0;
            else
                m_allocationTable = m_sampleRate == 48000 ? 0 : 1;
        } else {
            m_allocationTable = 4;
        }
    }
    return 1;
}

uint32_t CMPAHeader::CalcFrameSize() const {
    if (m_sampleRate == 0 || m_layer > 2)
        return 0;
    const uint32_t coefficient = kCoefficients[m_lsf ? 1 : 0][m_layer];
    return (m_bitrate * coefficient / m_sampleRate + m_padding) * m_dwSlotSizes[m_layer];
}

bool CMPAHeader::operator==(const CMPAHeader& other) const {
    return m_version == other.m_version && m_layer == other.m_layer &&
           m_sampleRate == other.m_sampleRate &&
           (m_channelMode == 3) == (other.m_channelMode == 3) && m_emphasis == other.m_emphasis;
}
