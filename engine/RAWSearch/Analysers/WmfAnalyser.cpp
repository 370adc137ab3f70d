// Windows metafiles, plain or placeable: the size in words from the header.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DocumentAnalysers.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileWMFAnalyser, FileWMFAnalyser);

bool WmfFormat::Size(const vk::ByteReader& r, const unsigned char* sector, long long* size) {
    using namespace wmf_layout;
    if (sector == nullptr)
        return false;
    long long length = 0;
    if (r.LE32(0) == kPlainHead) {
        if (r.LE16(kPlainZero) != 0)
            return false;
        length = 2LL * r.LE32(kPlainSizeWords);
    } else if (std::memcmp(sector, kPlaceableKey, 6) == 0) {
        uint16_t sum = 0;
        for (size_t i = 0; i < 10; ++i)
            sum ^= r.LE16(2 * i);
        if (sum != r.LE16(kPlaceableChecksum) || r.LE16(kPlaceableHandle) != 0 ||
            r.LE32(kPlaceableReserved) != 0 || r.LE32(kPlaceableBytes) != kPlainHead ||
            r.LE16(kPlaceableZero) != 0)
            return false;
        length = 2LL * r.LE32(kPlaceableSizeWords) + static_cast<long long>(kPlaceableBytes);
    } else {
        return false;
    }
    if (length == 0)
        return false;
    *size = length;
    return true;
}
