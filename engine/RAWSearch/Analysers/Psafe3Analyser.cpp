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
    return strncasecmp(text + kTag, "PWS3", 4) == 0 ||
           strncasecmp(text + kTagShifted, "PWS3", 4) == 0;
}

}  // namespace RawSpeed
