#include "MediaWalks.h"

#include <algorithm>
#include <cstring>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "MediaLayouts.h"
#include "RawUtility.h"

namespace {

bool Advance(uint64_t& pos, uint64_t by) {
    uint64_t next = 0;
    if (!vk::CheckedAdd(pos, by, &next) || (next >> 62) != 0)
        return false;
    pos = next;
    return true;
}

// A GUID as ASF stores it: the first three fields little-endian.
struct Guid {
    uint8_t bytes[16];
};
constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
    Guid g{};
    for (int i = 0; i < 4; ++i)
        g.bytes[i] = static_cast<uint8_t>(a >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        g.bytes[4 + i] = static_cast<uint8_t>(b >> (8 * i));
        g.bytes[6 + i] = static_cast<uint8_t>(c >> (8 * i));
    }
    for (int i = 0; i < 8; ++i)
        g.bytes[8 + i] = static_cast<uint8_t>(d >> (8 * (7 - i)));
    return g;
}

constexpr Guid kStreamProperties = MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
constexpr Guid kVideoMedia = MakeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
constexpr Guid kAudioMedia = MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
constexpr Guid kTopLevel[] = {
    MakeGuid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull),  // data
    MakeGuid(0x33000890, 0xE5B1, 0x11CF, 0x89F400A0C90349CBull),  // simple index
    MakeGuid(0xD6E229D3, 0x35DA, 0x11D1, 0x903400A0C90349BEull),  // index
    MakeGuid(0xFEB103F8, 0x12AD, 0x4C64, 0x840F2A1D2F7AD48Cull),  // media-object index
    MakeGuid(0x3CB73FD0, 0x0C4A, 0x4803, 0x953DEDF7B6228F0Cull),  // timecode index
};

bool Same(const uint8_t* bytes, const Guid& g) {
    return std::memcmp(bytes, g.bytes, 16) == 0;
}

}  // namespace

uint64_t MediaWalk::RunToEnd(const ByteSource& source, uint64_t cap, uint64_t maxSteps) {
    for (uint64_t step = 0; step < maxSteps; ++step) {
        if (m_pos > cap)
            return cap;
        const WalkStep r = Next(source);
        if (r != WalkStep::Continue)
            return m_pos;
    }
    return m_pos;
}

// ---------------------------------------------------------------------------
// MPEG program stream

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

// ---------------------------------------------------------------------------
// Ogg

WalkStep OggWalk::Next(const ByteSource& source) {
    using namespace ogg_layout;
    const uint8_t* page = source.At(m_pos, kHeaderBytes);
    if (page == nullptr)
        return WalkStep::NeedMore;
    if (std::memcmp(page + kCapture, "OggS", 4) != 0)
        return WalkStep::End;
    const uint8_t segments = page[kSegments];
    if (segments == 0 && m_emptyPageFails) {
        m_pos = 0;
        return WalkStep::End;
    }
    page = source.At(m_pos, kHeaderBytes + segments);
    if (page == nullptr)
        return WalkStep::NeedMore;
    uint64_t length = kHeaderBytes + segments;
    for (uint8_t i = 0; i < segments; ++i)
        length += page[kLacing + i];
    m_pos += length;
    return WalkStep::Continue;
}

// ---------------------------------------------------------------------------
// FLV

WalkStep FlvWalk::Next(const ByteSource& source) {
    using namespace flv_layout;
    if (!m_begun) {
        const uint8_t* head = source.At(0, kFirstPrevious + 4);
        if (head == nullptr)
            return WalkStep::NeedMore;
        m_begun = true;
        if (head[kVersion] != 1 || vk::LoadBE<uint32_t>(head + kFirstPrevious) != 0) {
            m_pos = 0;
            return WalkStep::End;
        }
        m_pos = kFirstTag;
    }
    const uint8_t* step = source.At(m_pos, kStepHeader);
    if (step == nullptr)
        return WalkStep::NeedMore;
    const uint32_t previous = vk::LoadBE<uint32_t>(step + kPreviousSize);
    const uint8_t type = step[kTagType];
    const uint32_t size = (static_cast<uint32_t>(step[kTagDataSize]) << 16) |
                          (static_cast<uint32_t>(step[kTagDataSize + 1]) << 8) |
                          step[kTagDataSize + 2];
    if (previous == m_previousData || (type != 8 && type != 9 && type != 18)) {
        m_pos += 4;  // the last tag's size closes the file
        return WalkStep::End;
    }
    const bool mismatch = m_tags >= 1 && previous != kTagHeaderBytes + m_previousData;
    m_pos += kStepHeader + size;
    m_previousData = size;
    ++m_tags;
    return mismatch ? WalkStep::End : WalkStep::Continue;
}

// ---------------------------------------------------------------------------
// ASF

void AsfWalk::CountStreams(const ByteSource& source, uint64_t headerSize) {
    using namespace asf_layout;
    uint64_t at = kHeaderFirstChild;
    for (int i = 0; i < 1024 && at + kObjectHeader <= headerSize; ++i) {
        const uint8_t* object = source.At(at, kObjectHeader);
        if (object == nullptr)
            return;
        const uint64_t size = vk::LoadLE<uint64_t>(object + kObjectSize);
        if (Same(object, kStreamProperties)) {
            if (const uint8_t* type = source.At(at + kStreamType, 16)) {
                if (Same(type, kVideoMedia)) {
                    ++m_video;
                    ++m_media;
                } else if (Same(type, kAudioMedia)) {
                    ++m_media;
                } else {
                    ++m_other;
                }
            }
        }
        if (size < kObjectHeader || !Advance(at, size))
            return;
    }
}

WalkStep AsfWalk::Next(const ByteSource& source) {
    using namespace asf_layout;
    if (!m_begun) {
        const uint8_t* header = source.At(0, kHeaderFirstChild);
        if (header == nullptr)
            return WalkStep::NeedMore;
        m_begun = true;
        const uint64_t size = vk::LoadLE<uint64_t>(header + kObjectSize);
        if (size < kHeaderFirstChild) {
            m_pos = 0;
            return WalkStep::End;
        }
        CountStreams(source, size);
        m_pos = size;
        return WalkStep::Continue;
    }
    const uint8_t* object = source.At(m_pos, kObjectHeader);
    if (object == nullptr)
        return WalkStep::NeedMore;
    bool known = false;
    for (const Guid& g : kTopLevel)
        known = known || Same(object, g);
    if (!known)
        return WalkStep::End;
    uint64_t size = vk::LoadLE<uint64_t>(object + kObjectSize);
    if (size == 0)
        return WalkStep::End;
    if ((size >> 26) >= 1625)
        size = kMaxObject;
    if (!Advance(m_pos, size))
        return WalkStep::End;
    return WalkStep::Continue;
}

RAW_FILE_TYPE AsfWalk::Type() const {
    if (m_other != 0)
        return RAW_ASF;
    if (m_video == 1)
        return RAW_WMV;
    if (m_media != 0)
        return RAW_WMA;
    return RAW_ASF;
}

// ---------------------------------------------------------------------------
// MPEG transport stream

WalkStep M2tsWalk::Next(const ByteSource& source) {
    using namespace m2ts_layout;
    const size_t sync = m_packet == kSourcePacket ? 4 : 0;
    const uint8_t* packet = source.At(m_pos + sync, 1);
    if (packet == nullptr)
        return WalkStep::NeedMore;
    if (packet[0] != kSync)
        return WalkStep::End;
    // A packet counts once it is whole.
    if (source.At(m_pos, m_packet) == nullptr)
        return WalkStep::NeedMore;
    m_pos += m_packet;
    if (m_pos >= kMaxSize) {
        m_pos = kMaxSize;
        return WalkStep::End;
    }
    return WalkStep::Continue;
}

// ---------------------------------------------------------------------------
// RealMedia

bool IsEmptyRmIndex(const uint8_t* bytes) {
    static constexpr uint8_t kEmpty[rm_layout::kEmptyIndexBytes] = {
        'I', 'N', 'D', 'X', 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
    return std::memcmp(bytes, kEmpty, sizeof kEmpty) == 0;
}

bool RmDescribesVideo(const uint8_t* probe, size_t length) {
    const unsigned char mdpr[] = {'M', 'D', 'P', 'R'};
    const unsigned char video[] = {'V', 'i', 'd', 'e', 'o', ' ', 'S', 't', 'r', 'e', 'a', 'm'};
    unsigned char* at = const_cast<unsigned char*>(probe);
    int left = static_cast<int>(length);
    while (left > 0) {
        unsigned char* hit = Apimemstr(at, left, mdpr, 4);
        if (hit == nullptr)
            return false;
        const int from = static_cast<int>(hit - probe);
        const int span =
            std::min(static_cast<int>(rm_layout::kVideoProbe), static_cast<int>(length) - from);
        if (Apimemstr(hit, span, video, sizeof video) != nullptr)
            return true;
        at = hit + 1;
        left = static_cast<int>(length) - from - 1;
    }
    return false;
}

WalkStep RmChunkWalk::Next(const ByteSource& source) {
    using namespace rm_layout;
    if (!m_begun) {
        const uint8_t* head = source.At(0, kChunkHeader);
        if (head == nullptr)
            return WalkStep::NeedMore;
        m_begun = true;
        const uint32_t size = vk::LoadBE<uint32_t>(head + kSize);
        if (size < kChunkHeader) {
            m_pos = 0;
            return WalkStep::End;
        }
        m_pos = size;
        return WalkStep::Continue;
    }
    const uint8_t* chunk = source.At(m_pos, kChunkHeader);
    if (chunk == nullptr)
        return WalkStep::NeedMore;
    const uint32_t size = vk::LoadBE<uint32_t>(chunk + kSize);
    const bool index = std::memcmp(chunk, "INDX", 4) == 0;
    const bool known = index || std::memcmp(chunk, "PROP", 4) == 0 ||
                       std::memcmp(chunk, "MDPR", 4) == 0 || std::memcmp(chunk, "CONT", 4) == 0 ||
                       std::memcmp(chunk, "DATA", 4) == 0;
    if (!known || size == 0)
        return WalkStep::End;
    if (!index) {
        return Advance(m_pos, size) ? WalkStep::Continue : WalkStep::End;
    }
    const uint8_t* header = source.At(m_pos, kEmptyIndexBytes);
    if (header == nullptr)
        return WalkStep::NeedMore;
    if (vk::LoadBE<uint16_t>(header + kIndexVersion) != 0)
        return Advance(m_pos, size) ? WalkStep::Continue : WalkStep::End;
    const uint32_t next = vk::LoadBE<uint32_t>(header + kIndexNext);
    if (next != 0) {
        // Index chunks link forward only; a link back would walk in circles.
        if (next <= m_pos)
            return WalkStep::End;
        m_pos = next;
        return WalkStep::Continue;
    }
    // The last index: its entries follow its header, and the file ends there.
    const uint64_t entries =
        static_cast<uint64_t>(vk::LoadBE<uint32_t>(header + kIndexCount)) * kIndexEntryBytes;
    Advance(m_pos, size + entries);
    return WalkStep::End;
}
