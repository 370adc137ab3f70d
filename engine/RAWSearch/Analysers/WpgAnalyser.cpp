// WordPerfect graphics (77 70 67 00): ended by the zero fill after them.
#include <cstring>

#include "AnalyserFactories.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewWpgAnalyser, RawSpeed::WpgAnalyser);

int RawSpeed::WpgAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr uint8_t kHead[4] = {0x77, 0x70, 0x67, 0x00};
    if (sector == nullptr || std::memcmp(sector, kHead, 4) != 0)
        return 0;
    info.m_type = RAW_WPG;
    return 1;
}

CRawFileInfo* RawSpeed::WpgAnalyser::CreateRawFileInfo() {
    rawwalk::ZeroTailRule rule;
    rule.maximum = 5 * wpg_layout::kLimit;
    rule.zeros = wpg_layout::kZeroTailBytes;
    rule.sizeAtMaximum = false;
    rule.suffix = ".";
    return new ZeroTailRawFileInfo(RAW_WPG, rule);
}
