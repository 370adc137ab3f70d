// The four-byte MPEG audio frame header (MPEG-1, MPEG-2 and MPEG-2.5,
// Layers I to III): whether it is usable and how long its frame is. The MP3
// analysers chain frames with it.
#pragma once

#include <cstdint>

class CMPAHeader {
public:
    enum Version : uint8_t { kMpeg25 = 0, kMpeg2 = 2, kMpeg1 = 3 };

    // Parses the header; 1 when it is usable: frame sync, no reserved
    // version, layer, sample rate or emphasis, a bitrate that is neither
    // free nor "bad", and for MPEG-1 Layer II a bitrate the channel mode
    // allows.
    int Init(const unsigned char* header);
    // Bytes of the frame, header included.
    uint32_t CalcFrameSize() const;
    // Same version, layer, sample rate, mono-or-not and emphasis.
    bool operator==(const CMPAHeader& other) const;

    uint8_t m_version = 0;   // Version
    bool m_lsf = false;      // MPEG-2 or MPEG-2.5 (the lower sampling frequencies)
    uint8_t m_layer = 0;     // 0 Layer I, 1 Layer II, 2 Layer III
    bool m_crc = false;      // protected by a CRC
    uint32_t m_bitrate = 0;  // bits per second
    uint32_t m_sampleRate = 0;
    uint32_t m_padding = 0;  // 0 or 1 slot
    bool m_private = false;
    uint8_t m_channelMode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    uint8_t m_modeExtension = 0;
    bool m_copyright = false;
    bool m_original = false;
    uint8_t m_emphasis = 0;
    uint32_t m_bound = 32;       // joint-stereo bound in subbands
    int m_allocationTable = -1;  // Layer II only: 0 to 4
};
