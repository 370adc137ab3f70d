// Apple icon containers: "icns" and the big-endian length of the whole file.
#include "AnalyserFactories.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileICNSAnalyser, FileICNSAnalyser);

bool IcnsFormat::Size(const vk::ByteReader& r, const unsigned char*, long long* size) {
    using namespace icns_layout;
    const uint32_t length = r.BE32(kLengthBE);
    if (!r.Matches(kMagic, "icns") || length < 1 || length > kMaxLength)
        return false;
    *size = length;
    return true;
}
