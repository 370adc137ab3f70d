// Password Safe v3 databases: the "PWS3" tag (in either of its two places)
// starts one; the zero fill after it ends it.
#include <strings.h>

#include "AnalyserFactories.h"
#include "StreamLayouts.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewPSAFE3Analyser, RawSpeed::PSAFE3Analyser);

namespace RawSpeed {

bool Psafe3Format::Matches(const unsigned char* sector) {
    using namespace psafe3_layout;
    const char* text = reinterpret_cast<const char*>(sector);
    // Asked of every sector: the first letter (only 'P' and 'p' give 'p'
    // here) turns nearly all of them away before the word is compared.
    const auto at = [&](size_t offset) {
        return (sector[offset] | 0x20) == 'p' && strncasecmp(text + offset, "PWS3", 4) == 0;
    };
    return at(kTag) || at(kTagShifted);
}

}  // namespace RawSpeed
