#include "MediaWalks.h"

#include "ByteReader.h"
#include "CheckedMath.h"

bool MediaWalk::Advance(uint64_t& pos, uint64_t by) {
    uint64_t next = 0;
    if (!vk::CheckedAdd(pos, by, &next) || (next >> 62) != 0)
        return false;
    pos = next;
    return true;
}

uint64_t MediaWalk::RunToEnd(const ByteSource& source, uint64_t cap, uint64_t maxSteps) {
    for (uint64_t step = 0; step < maxSteps; ++step) {
        if (m_pos > cap)
            return cap;
        const WalkStep r = Next(source);
        if (r != WalkStep::Continue)
            return m_pos;
    }
    return m_pos;
}
