// The candidate of drawings whose text ends where zero fill begins
// (EPS, FreeHand): sized while streaming, or over the device by the
// whole-file road of its analyser.
#include <algorithm>

#include "AnalyserFactories.h"
#include "DrawingAnalysers.h"
#include "DrawingLayout.h"
#include "RawFileBuffer.h"
#include "StreamWalk.h"

namespace BruteForce {

long long ZeroEndRawFileInfo::EndAt(const uint8_t* sector, int sectorSize, long long offset,
                                    const uint8_t* previous) {
    const int zeros = rawwalk::TrailingZeros(sector, sectorSize);
    if (zeros < kZeroWord)
        return -1;
    if (zeros < sectorSize)
        return offset + (sectorSize - zeros);
    // An all-zero sector: the file ended in the one before, which closed
    // with fewer zeros than a word.
    return previous != nullptr ? offset - rawwalk::TrailingZeros(previous, sectorSize) : offset;
}

long long ZeroEndRawFileInfo::EndIn(const unsigned char* sector, int sectorSize,
                                    long long sectorNumber, long long offset,
                                    SearchContext& context) {
    if (offset < m_skipUntil)
        return -1;
    const rawwalk::StreamView view =
        rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context);
    const uint8_t* previous = offset > 0 ? view.At(offset - sectorSize, sectorSize) : nullptr;
    return EndAt(sector, sectorSize, offset, previous);
}

int ZeroEndRawFileInfo::WholeFileSize(CRawFileInfo& info, IStorageDevice* device, long long maximum,
                                      long long readLimit, long long skipUntil) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const int n = static_cast<int>(file.GetSectorSize());
    if (n <= 0)
        return 0;
    const long long stop = std::min(maximum, readLimit);
    for (long long offset = 0; offset < stop; offset += n) {
        const uint8_t* sector =
            file.GetRawFileBuffer(static_cast<unsigned long long>(offset), static_cast<size_t>(n));
        if (sector == nullptr) {
            // The device ends (or cannot be read) inside the file.
            info.m_size = offset;
            return offset > 0 ? 1 : 0;
        }
        if (offset < skipUntil)
            continue;
        // The sector before is read again only for an all-zero sector.
        const long long end = EndAt(sector, n, offset, nullptr);
        if (end < 0)
            continue;
        long long size = end;
        if (end == offset && offset > 0) {
            const uint8_t* previous = file.GetRawFileBuffer(
                static_cast<unsigned long long>(offset - n), static_cast<size_t>(n));
            if (previous != nullptr)
                size -= rawwalk::TrailingZeros(previous, n);
        }
        info.m_size = std::min(size, maximum);
        return info.m_size > 0 ? 1 : 0;
    }
    info.m_size = stop == maximum ? maximum : 0;
    return info.m_size > 0 ? 1 : 0;
}

}  // namespace BruteForce
