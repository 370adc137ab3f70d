// What a streaming candidate needs to walk its file while the search offers
// it one sector after another: the file's bytes the search holds around the
// offered sector, the zero-tail end guess several formats share, and the
// position name ("start-end_") their carved files get.
//
// The search's buffer holds the block before the current one (when the two
// are contiguous) and the current block, so a structure that starts in one
// sector and ends in the next, or that crosses into the next block, is read
// whole once its last byte is held; a walker simply waits for that.
#pragma once

#include <cstdint>
#include <string>

#include "RawFileInfo.h"

namespace rawwalk {

// File-relative view of the bytes held around the offered sector.
struct StreamView {
    const uint8_t* base = nullptr;  // the byte at file offset `first`
    long long first = 0;            // file offsets held: [first, end)
    long long end = 0;
    long long here = 0;  // file offset of the offered sector
    int sectorSize = 0;
    const uint8_t* sector = nullptr;  // the offered sector itself
    long long sectorNumber = 0;       // and its number on the device

    long long SectorEnd() const { return here + sectorSize; }
    bool Holds(long long offset, long long length) const {
        return offset >= first && length >= 0 && offset <= end && length <= end - offset;
    }
    // The bytes [offset, offset + length), or null when not all are held.
    const uint8_t* At(long long offset, long long length) const {
        return Holds(offset, length) ? base + (offset - first) : nullptr;
    }
    // How many bytes before the offered sector a format that looks back
    // half a sector may read: that half when it is held, else none.
    int HalfBefore() const {
        const int half = sectorSize / 2;
        return here > 0 && Holds(here - half, half) ? half : 0;
    }
    // Whether bytes at and after `offset` will still be offered later: the
    // search moves on, so anything from the current block's end on comes.
    bool Coming(long long offset) const { return offset >= first; }
};

// Whether the search offers a sector of the file: one of at least `least`
// bytes, not before the file's first sector.
inline bool Offered(const CRawFileInfo& info, const unsigned char* sector, int sectorSize,
                    long long sectorNumber, int least = 1) {
    return sector != nullptr && sectorSize >= least && sectorNumber >= info.m_startSector;
}

inline StreamView ViewOf(const CRawFileInfo& info, const unsigned char* sector, int sectorSize,
                         long long sectorNumber, const CRawFileInfo::SearchContext& context) {
    StreamView v;
    v.sectorSize = sectorSize;
    v.sector = sector;
    v.sectorNumber = sectorNumber;
    const long long S = sectorSize;
    v.here = (sectorNumber - info.m_startSector) * S;
    long long firstSector = context.windowFirstSector;
    if (firstSector > sectorNumber || firstSector < 0)
        firstSector = sectorNumber;
    if (firstSector < info.m_startSector)
        firstSector = info.m_startSector;
    long long endSector = context.windowEndSector;
    if (endSector <= sectorNumber)
        endSector = sectorNumber + 1;
    v.first = (firstSector - info.m_startSector) * S;
    v.end = (endSector - info.m_startSector) * S;
    v.base = sector - (v.here - v.first);
    return v;
}

// "start-end" and the suffix: the name of a file sized by position.
inline std::string PositionName(long long start, long long end, const char* suffix = "_") {
    return std::to_string(start) + "-" + std::to_string(end) + suffix;
}

// The end guess of formats that are followed by zero fill: the file ends in
// the first sector whose last `zeros` bytes are zero, after its last
// non-zero byte.
struct ZeroTailRule {
    long long minimum = 0;      // no end before this file offset of the sector
    long long maximum = 0;      // past it the walk stops
    int zeros = 8;              // zero bytes the end sector must close with
    int extra = 0;              // bytes counted after the last non-zero one
    bool sizeAtMaximum = true;  // past the maximum: sized up to the sector, or not at all
    const char* suffix = "_";
};

// Zero bytes at the end of the sector (exact count).
int TrailingZeros(const unsigned char* sector, int sectorSize);

// One sector of the guess: 1 finished (m_size set, or 0 past the maximum
// when the rule keeps no size), 2 go on.
int ZeroTailStep(CRawFileInfo& info, const unsigned char* sector, int sectorSize,
                 long long sectorNumber, const ZeroTailRule& rule);

}  // namespace rawwalk
