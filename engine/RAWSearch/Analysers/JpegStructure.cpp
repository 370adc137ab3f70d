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
            case Step::NextStartCode:
                if (b != (m_step == Step::NextStart ? kMarker : kSOI)) {
                    Break();
                    break;
                }
                m_step = m_step == Step::NextStart ? Step::NextStartCode : Step::ExpectMarker;
                break;
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
                const void* ff = std::memchr(data + i, kMarker, length - i);
                if (ff == nullptr) {
                    m_position += length - i;
                    i = length;
                    continue;
                }
                const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data);
                m_position += at - i + 1;
                i = at + 1;
                m_step = Step::EntropyCode;
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
