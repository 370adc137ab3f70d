// ASF files (Windows Media): the header object and the objects after it.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "MediaStreamAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewCAsfAnalyser, BruteForce::CAsfAnalyser);

namespace BruteForce {

namespace {

constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

class AsfRawFileInfo : public WalkRawFileInfo {
public:
    explicit AsfRawFileInfo(IRawFileAnalyser* partner)
        : WalkRawFileInfo(RAW_ASF, partner, static_cast<long long>(AsfWalk::kMaxObject)) {}

protected:
    MediaWalk& Walk() override { return m_walk; }
    long long SizeAtEnd(uint64_t position, long long) override {
        m_type = m_walk.Type();
        return static_cast<long long>(position);
    }

private:
    AsfWalk m_walk;
};

}  // namespace

int CAsfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, kAsfHeader, sizeof kAsfHeader) != 0)
        return 0;
    info.m_type = RAW_ASF;
    return 1;
}

CRawFileInfo* CAsfAnalyser::CreateRawFileInfo() {
    return new AsfRawFileInfo(this);
}

int CAsfAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    AsfWalk walk;
    const uint64_t size = rawcarve::WalkFromStart(walk, info, device, AsfWalk::kMaxObject);
    if (size == 0)
        return 0;
    info.m_type = walk.Type();
    info.m_size = static_cast<long long>(size);
    return 1;
}

}  // namespace BruteForce

// ---------------------------------------------------------------------------
// The walk

namespace {

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
