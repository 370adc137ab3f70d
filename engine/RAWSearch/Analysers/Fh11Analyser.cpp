// FreeHand drawings: ended by the zero fill after them.
#include <cstring>

#include "AnalyserFactories.h"
#include "DrawingAnalysers.h"
#include "DrawingLayout.h"

VK_RAW_ANALYSER_FACTORY(NewCFH11Analyser, BruteForce::CFH11Analyser);

namespace BruteForce {

int CFH11Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace fh11_layout;
    if (sector == nullptr || std::memcmp(sector, kMagic, sizeof(kMagic)) != 0 ||
        std::memcmp(sector + kFixed, kFixedBytes, sizeof(kFixedBytes)) != 0 ||
        std::memcmp(sector + kVersion, "11", 2) != 0)
        return 0;
    info.m_type = RAW_FH11;
    return 1;
}

CRawFileInfo* CFH11Analyser::CreateRawFileInfo() {
    return new ZeroEndRawFileInfo(RAW_FH11, fh11_layout::kMaximum);
}

int CFH11Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return ZeroEndRawFileInfo::WholeFileSize(info, device, fh11_layout::kMaximum,
                                             fh11_layout::kMaximum);
}

}  // namespace BruteForce
