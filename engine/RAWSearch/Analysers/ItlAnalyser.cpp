// Media-library files: "hdfm" and the big-endian length.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DocumentAnalysers.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileITLAnalyser, FileITLAnalyser);

bool ItlFormat::Size(const vk::ByteReader& r, const unsigned char* sector, long long* size) {
    if (sector == nullptr || std::memcmp(sector, "hdfm", 4) != 0)
        return false;
    const uint32_t length = r.BE32(itl_layout::kLengthBE);
    if (length == 0)
        return false;
    *size = length;
    return true;
}
