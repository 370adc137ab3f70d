// Sibelius scores: 0x0F and "SIBELIUS" start one; the zero fill after it
// ends it.
#include <strings.h>

#include "AnalyserFactories.h"
#include "StreamLayouts.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewSIBAnalyser, RawSpeed::SIBAnalyser);

namespace RawSpeed {

bool SibFormat::Matches(const unsigned char* sector) {
    return sector[0] == 0x0F && strncasecmp(reinterpret_cast<const char*>(sector) + 1, "SIBELIUS",
                                            sib_layout::kTagBytes - 1) == 0;
}

}  // namespace RawSpeed
