// Flash movies: "FWS" or "CWS", the version and the length field.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DocumentAnalysers.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileSWFAnalyser, FileSWFAnalyser);

// A compressed movie's length field counts it uncompressed, so its size
// reaches past its end; that is the most the header can tell.
bool SwfFormat::Size(const vk::ByteReader& r, const unsigned char* sector, long long* size) {
    using namespace swf_layout;
    if (sector == nullptr)
        return false;
    const bool plain = std::memcmp(sector, "FWS", 3) == 0;
    const bool compressed = std::memcmp(sector, "CWS", 3) == 0;
    const uint8_t version = sector[kVersion];
    if ((!plain && !compressed) || version > kLastVersion ||
        (compressed && version < kFirstCompressedVersion))
        return false;
    const uint32_t length = r.LE32(kLength);
    if (length == 0)
        return false;
    *size = static_cast<long long>(length) + (compressed ? kCompressedExtra : 0);
    return true;
}
