#include "JpegStructure.h"

#include <algorithm>
#include <cstring>

#include "JpegLayout.h"

using namespace jpeg_layout;

JpegStructure::JpegStructure(uint64_t startOffset)
    : m_step(startOffset == 0 ? Step::Start : Step::ExpectMarker), m_position(startOffset) {}

void JpegStructure::Marker(uint8_t code) {
    // m_position is the code byte's offset.
    if (code == kEOI) {
        const uint64_t end = m_position + 1;
        if (m_sectorSize == 0 || end % m_sectorSize == 0) {
            m_state = State::End;
            m_stop = end;
            return;
        }
        m_lastEnd = end;
        m_step = Step::NextStart;
        return;
    }
    if (code == kSOI || code < 0xC0) {
        // A second start of image, or a reserved code: not this image any more.
        if (!(code >= kRST0 && code <= kRST7) && code != kTEM) {
            Break();
            return;
        }
        m_step = m_step == Step::EntropyCode ? Step::Entropy : Step::ExpectMarker;
        return;
    }
    if (code >= kRST0 && code <= kRST7) {
        m_step = m_step == Step::EntropyCode ? Step::Entropy : Step::ExpectMarker;
        return;
    }
    m_code = code;
    m_markerOffset = m_position - 1;
    m_step = Step::Length1;
}

JpegStructure::State JpegStructure::Feed(const uint8_t* data, size_t length) {
    size_t i = 0;
    while (i < length && m_state == State::Going) {
        const uint8_t b = data[i];
        switch (m_step) {
            case Step::Start:
                if (b != kMarker) {
                    Break();
                    break;
                }
                m_step = Step::StartCode;
                break;
            case Step::StartCode:
                if (b != kSOI) {
                    Break();
                    break;
                }
                m_step = Step::ExpectMarker;
                break;
            case Step::NextStart:
                if (b != kMarker) {
                    // Not a picture: perhaps a movie.
                    m_step = Step::BoxHeader;
                    m_boxHave = 0;
                    m_firstBox = true;
                    continue;  // the same byte again, as the box's first
                }
                m_step = Step::NextStartCode;
                break;
            case Step::NextStartCode:
                if (b != kSOI) {
                    Break();
                    break;
                }
                m_step = Step::ExpectMarker;
                break;
            case Step::BoxHeader:
                BoxByte(b);
                break;
            case Step::BoxSkip: {
                const uint64_t n = std::min<uint64_t>(m_boxSkip, length - i);
                m_boxSkip -= n;
                i += static_cast<size_t>(n);
                m_position += n;
                if (m_boxSkip == 0) {
                    m_lastEnd = m_position;
                    m_step = Step::BoxHeader;
                    m_boxHave = 0;
                    m_firstBox = false;
                }
                continue;
            }
            case Step::ExpectMarker:
                if (b != kMarker) {
                    Break();
                    break;
                }
                m_step = Step::Code;
                break;
            case Step::Code:
                if (b == kMarker)
                    break;  // fill byte
                Marker(b);
                break;
            case Step::Length1:
                m_length = static_cast<uint16_t>(b << 8);
                m_step = Step::Length2;
                break;
            case Step::Length2:
                m_length = static_cast<uint16_t>(m_length | b);
                if (m_length < 2) {
                    Break();
                    break;
                }
                if (m_hook)
                    m_hook(m_code, m_markerOffset, m_length);
                m_skip = m_length - 2u;
                if (m_code == kSOS)
                    m_sawScan = true;
                m_step = m_skip != 0 ? Step::Skip
                                     : (m_code == kSOS ? Step::Entropy : Step::ExpectMarker);
                break;
            case Step::Skip: {
                const size_t n = std::min<size_t>(m_skip, length - i);
                m_skip -= static_cast<uint32_t>(n);
                i += n;
                m_position += n;
                if (m_skip == 0)
                    m_step = m_code == kSOS ? Step::Entropy : Step::ExpectMarker;
                continue;
            }
            case Step::Entropy: {
                // Stuffed FF 00 pairs, about one in every 256 bytes of
                // coded data, are passed here without a step of their own.
                size_t from = i;
                for (;;) {
                    const void* ff = std::memchr(data + from, kMarker, length - from);
                    if (ff == nullptr) {
                        m_position += length - i;
                        i = length;
                        break;
                    }
                    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data);
                    if (at + 1 < length && data[at + 1] == 0x00) {
                        from = at + 2;
                        continue;
                    }
                    m_position += at - i + 1;
                    i = at + 1;
                    m_step = Step::EntropyCode;
                    break;
                }
                continue;
            }
            case Step::EntropyCode:
                if (b == 0x00) {
                    m_step = Step::Entropy;  // a stuffed FF
                } else if (b != kMarker) {
                    Marker(b);
                }
                break;
        }
        if (m_state != State::Going)
            break;
        ++i;
        ++m_position;
    }
    return m_state;
}

void JpegStructure::EndOfData() {
    if (m_state == State::Going && m_lastEnd != 0) {
        m_state = State::End;
        m_stop = m_lastEnd;
    }
}

void JpegStructure::BoxByte(uint8_t b) {
    m_box[m_boxHave++] = b;
    if (m_boxHave == 8) {
        for (size_t k = 4; k < 8; ++k) {
            if (m_box[k] < 0x20 || m_box[k] > 0x7E) {
                Break();
                return;
            }
        }
        if (m_firstBox && std::memcmp(m_box + 4, "ftyp", 4) != 0) {
            Break();
            return;
        }
    }
    const uint32_t size32 = (static_cast<uint32_t>(m_box[0]) << 24) |
                            (static_cast<uint32_t>(m_box[1]) << 16) |
                            (static_cast<uint32_t>(m_box[2]) << 8) | m_box[3];
    const size_t header = m_boxHave >= 8 && size32 == 1 ? 16 : 8;
    if (m_boxHave < header)
        return;
    uint64_t size = size32;
    if (header == 16) {
        size = 0;
        for (size_t k = 8; k < 16; ++k)
            size = (size << 8) | m_box[k];
    }
    // A box that runs to the end of the file (size 0) tells no end.
    if (size < header) {
        Break();
        return;
    }
    m_boxSkip = size - header;
    m_boxHave = 0;
    m_firstBox = false;
    if (m_boxSkip == 0) {
        m_lastEnd = m_position + 1;
        return;
    }
    m_step = Step::BoxSkip;
}
