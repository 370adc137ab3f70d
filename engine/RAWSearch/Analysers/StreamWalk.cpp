#include "StreamWalk.h"

#include "RawUtility.h"

namespace rawwalk {

int TrailingZeros(const unsigned char* sector, int sectorSize) {
    if (sector == nullptr || sectorSize <= 0)
        return 0;
    return sectorSize - BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
}

int ZeroTailStep(CRawFileInfo& info, const unsigned char* sector, int sectorSize,
                 long long sectorNumber, const ZeroTailRule& rule) {
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const long long offset = (sectorNumber - info.m_startSector) * sectorSize;
    if (offset > rule.maximum) {
        info.m_size = rule.sizeAtMaximum ? offset : 0;
        info.SetRawFileName(PositionName(info.m_startSector, sectorNumber, rule.suffix));
        return 1;
    }
    const int zeros = TrailingZeros(sector, sectorSize);
    if (zeros < rule.zeros || offset < rule.minimum)
        return 2;
    info.m_size = offset + (sectorSize - zeros) + rule.extra;
    info.SetRawFileName(PositionName(info.m_startSector, sectorNumber, rule.suffix));
    return 1;
}

}  // namespace rawwalk
