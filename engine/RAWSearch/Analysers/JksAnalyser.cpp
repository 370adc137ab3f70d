// Java key stores: FE ED FE ED starts one; the zero fill after it ends it.
#include <cstdint>
#include <cstring>

#include "AnalyserFactories.h"
#include "StreamLayouts.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewJKSAnalyser, RawSpeed::JKSAnalyser);

namespace RawSpeed {

bool JksFormat::Matches(const unsigned char* sector) {
    static constexpr uint8_t kMagic[4] = {0xFE, 0xED, 0xFE, 0xED};
    return std::memcmp(sector, kMagic, 4) == 0;
}

}  // namespace RawSpeed
