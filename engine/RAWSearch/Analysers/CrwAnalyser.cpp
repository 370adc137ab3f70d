// Canon CIFF raw pictures: the "HEAP" block of a CCDR, TIFP or ARCH kind.
// The streaming candidate ends at the marks of the last record table; the
// whole-file sizer looks for the same marks on the device when the stream
// could not finish.
#include <algorithm>
#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamWalk.h"
#include "StreamedDocAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewCRWAnalyser, Dunmere::CRWAnalyser);

int Dunmere::CRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || m_whole.AnalyseBuffer(sector, info) == 0)
        return 0;
    info.m_type = RAW_CRW;
    return 1;
}

long long Dunmere::CRWAnalyser::EndAfterMark(const uint8_t* bytes, long long length, long long at) {
    using namespace crw_stream_layout;
    if (bytes == nullptr || at < 0 || length - at < kMarkBytes)
        return -1;
    const uint8_t* p = bytes + at;
    if (p[0] != 0x07 || p[1] != 0x28 || p[3] != 0 || p[4] != 0)
        return -1;
    switch (p[2]) {
        case 0xA8:
            return kAfterA8;
        case 0xB2:
            return kAfterB2;
        case 0xE4:
            return kAfterE4;
        default:
            return -1;
    }
}

int Dunmere::CRWAnalyser::CRWRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace crw_stream_layout;
    if (view.here >= kSizeLimit)
        return Sized(view, kSizeLimit);
    if (view.SectorEnd() <= kSkipBytes)
        return 2;
    const int zeros = rawwalk::TrailingZeros(view.sector, view.sectorSize);
    if (zeros < kMinZeros)
        return 2;
    // The mark in this sector's data, else across its start.
    long long markAt = -1;
    long long after = -1;
    const long long data = view.sectorSize - zeros;
    for (long long i = 0; i + kMarkBytes <= data && after < 0; ++i) {
        after = EndAfterMark(view.sector, data, i);
        markAt = view.here + i;
    }
    if (after < 0) {
        if (const uint8_t* around = view.At(view.here - kAroundStart, 2 * kAroundStart)) {
            for (long long i = 0; i + kMarkBytes <= 2 * kAroundStart && after < 0; ++i) {
                after = EndAfterMark(around, 2 * kAroundStart, i);
                markAt = view.here - kAroundStart + i;
            }
        }
    }
    if (after < 0)
        return 2;
    long long end = markAt + after;
    if (after == kAfterB2) {
        const uint8_t* next = view.At(end, 4);
        if (next != nullptr && vk::LoadLE<uint32_t>(next) != 0)
            end += kB2Further;
    }
    return Sized(view, end);
}

int FileCRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace crw_layout;
    static constexpr uint8_t kHeapMark[6] = {0x00, 0x00, 'H', 'E', 'A', 'P'};
    if (std::memcmp(sector + kHeap, kHeapMark, sizeof kHeapMark) != 0)
        return 0;
    const char* kind = reinterpret_cast<const char*>(sector + kKind);
    if (std::memcmp(kind, "CCDR\x02", 5) != 0 && std::memcmp(kind, "TIFP\x02", 5) != 0 &&
        std::memcmp(kind, "ARCH\x02", 5) != 0)
        return 0;
    info.m_type = RAW_CRW;
    return 1;
}

// The last records of a CIFF file end with one of three marks followed by
// zeros; the file ends a fixed distance after the mark.
int FileCRWAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace crw_layout;
    info.m_size = static_cast<long long>(kDefaultSize);
    if (device == nullptr)
        return 1;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const size_t n = file.GetSectorSize();
    auto after = [](uint8_t third) -> int {
        switch (third) {
            case 0xA8:
                return 70;
            case 0xB2:
                return 60;
            case 0xE4:
                return 50;
            default:
                return -1;
        }
    };
    std::vector<uint8_t> carry;  // the previous sector's last 80 bytes
    for (uint64_t p = 0; p <= kDefaultSize; p += n) {
        const uint8_t* s = file.GetRawFileBuffer(p, n);
        if (s == nullptr)
            return 1;
        if (vk::LoadLE<uint32_t>(s + n - 4) == 0) {
            for (size_t i = 0; i + 6 <= n - 1 && i <= n - 7; ++i) {
                if (s[i] == 0x07 && s[i + 1] == 0x28 && after(s[i + 2]) > 0 && s[i + 3] == 0 &&
                    s[i + 4] == 0 && s[i + 5] == 0) {
                    info.m_size =
                        static_cast<long long>(p + i + static_cast<uint64_t>(after(s[i + 2])));
                    return 1;
                }
            }
            if (!carry.empty()) {
                std::vector<uint8_t> joined = carry;
                joined.insert(joined.end(), s, s + std::min<size_t>(n, 4));
                for (size_t i = 0; i + 5 <= joined.size() && i < carry.size(); ++i) {
                    if (joined[i] == 0x07 && joined[i + 1] == 0x28 && after(joined[i + 2]) > 0 &&
                        joined[i + 3] == 0 && joined[i + 4] == 0) {
                        info.m_size = static_cast<long long>(p - carry.size() + i + 70);
                        return 1;
                    }
                }
            }
        }
        const size_t keep = std::min<size_t>(80, n);
        carry.assign(s + n - keep, s + n);
    }
    return 1;
}
