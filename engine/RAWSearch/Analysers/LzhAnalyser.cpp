// LHA archives. The streaming candidate walks the member headers by their
// level as the sectors pass, up to the zero byte that closes the archive,
// and hands what it cannot finish to the whole-file sizer, which walks the
// headers over the device.
#include <cstring>

#include "AnalyserFactories.h"
#include "ArchiveAnalysers.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewLZHAnalyser, Dunmere::LZHAnalyser);

namespace {

bool IsLzhMethod(const uint8_t* method) {
    if (method[0] != '-' || method[1] != 'l' || method[4] != '-')
        return false;
    const uint8_t kind = method[2];
    const uint8_t variant = method[3];
    if (kind == 'h')
        return (variant >= '0' && variant <= '7') || variant == 'd';
    return kind == 'z' && (variant == 's' || variant == '4' || variant == '5');
}

}  // namespace

int Dunmere::LZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const char* method = reinterpret_cast<const char*>(sector + lzh_stream_layout::kMethod);
    if (std::memcmp(method, "-lh5-", 5) != 0 && std::memcmp(method, "-lh0-", 5) != 0 &&
        std::memcmp(method, "-lhd-", 5) != 0 && std::memcmp(method, "-lh7-", 5) != 0)
        return 0;
    info.m_type = RAW_LZH;
    return 1;
}

void Dunmere::LZHAnalyser::LZHRawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (!DropIfAbsorbed() && m_owner != nullptr)
        m_analyser = &m_owner->WholeFile();
}

// Member after member by the header's level: levels 0 and 1 count the
// header from its third byte, level 2 whole; the archive closes with a zero
// byte.
int Dunmere::LZHAnalyser::LZHRawFileInfo::Step(const rawwalk::StreamView& view,
                                               SearchContext& context) {
    using namespace lzh_stream_layout;
    if (view.here >= 10 * kLimit)
        return Sized(view, kLimit);
    for (int n = 0; n < kMaxHeadersPerSector && m_walk < view.SectorEnd(); ++n) {
        const uint8_t* first = view.At(m_walk, 1);
        if (first != nullptr && *first == 0)
            return Sized(view, m_walk + 1);
        const uint8_t* h = view.At(m_walk, kProbeBytes);
        if (h == nullptr) {
            if (view.Coming(m_walk))
                return 2;
            return Unsized();
        }
        if (!IsLzhMethod(h + kMethod))
            return Sized(view, m_walk);
        if (m_walk == view.here)
            AbsorbOpenedAt<LZHRawFileInfo>(m_walk, view.sectorNumber, context);
        const uint64_t packed = vk::LoadLE<uint32_t>(h + kPackedSize);
        uint64_t length = 0;
        switch (h[kLevel]) {
            case 0:
            case 1:
                length = 2 + static_cast<uint64_t>(h[kHeaderSize]) + packed;
                break;
            case 2:
                length = static_cast<uint64_t>(vk::LoadLE<uint16_t>(h + kHeaderSize)) + packed;
                break;
            default:
                return Sized(view, m_walk);
        }
        if (length == 0)
            return Sized(view, m_walk);
        m_walk += static_cast<long long>(length);
    }
    return 2;
}

// ---------------------------------------------------------------------------
// The whole-file sizer

int FileLZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const char* method = reinterpret_cast<const char*>(sector + lzh_layout::kMethod);
    if (std::memcmp(method, "-lh5-", 5) != 0 && std::memcmp(method, "-lh0-", 5) != 0 &&
        std::memcmp(method, "-lhd-", 5) != 0)
        return 0;
    info.m_type = RAW_LZH;
    return 1;
}

int FileLZHAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace lzh_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    uint32_t n = 0;
    bool longForm = false;
    bool retry = false;
    for (int step = 0; step < kMaxSteps; ++step) {
        const uint8_t* h = file.GetRawFileBuffer(n, kHeaderProbe);
        if (h == nullptr) {
            if (n == 0)
                return 0;
            break;
        }
        const char* method = reinterpret_cast<const char*>(h + kMethod);
        const uint32_t headerSize = h[kHeaderSize];
        const uint32_t packed = vk::LoadLE<uint32_t>(h + kPackedSize);
        if (std::memcmp(method, "-lh5-", 5) == 0 || std::memcmp(method, "-lh0-", 5) == 0) {
            n += packed + headerSize + 2;
            if (longForm)
                n -= 2;
            if (n > kMaxOffset)
                break;
            if (!longForm)
                retry = true;
        } else if (std::memcmp(method, "-lhd-", 5) == 0) {
            n += headerSize;
            longForm = true;
        } else if (std::memcmp(method, "-lh7-", 5) == 0) {
            n += packed + headerSize;
            longForm = true;
        } else if (retry) {
            n -= 2;
            retry = false;
        } else {
            if (n == 0)
                return 0;
            break;
        }
    }
    info.m_size = static_cast<long long>(rawcarve::WholeSectors(n, file.GetSectorSize()));
    return 1;
}
