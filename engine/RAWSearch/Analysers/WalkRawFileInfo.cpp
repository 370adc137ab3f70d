// The streaming candidate of the media streams (MPEG programme and transport
// streams, Ogg, FLV, RealMedia, ASF): it runs its format's walk over the held
// blocks and hands what it cannot finish to the whole-file partner.

#include "AnalyserFactories.h"
#include "MediaStreamAnalysers.h"

// ---------------------------------------------------------------------------
// The streaming candidate

WalkRawFileInfo::WalkRawFileInfo(RAW_FILE_TYPE type, IRawFileAnalyser* partner, long long limit)
    : m_limit(limit), m_partner(partner) {
    m_type = type;
}

void WalkRawFileInfo::WillBeRemove(unsigned char*, long long) {
    Release();
    if (m_partner != nullptr)
        m_analyser = m_partner;
}

long long WalkRawFileInfo::SizeAtEnd(uint64_t position, long long walked) {
    return walked < 10 * m_limit ? static_cast<long long>(position) : m_limit;
}

void WalkRawFileInfo::NameAtEnd(int sectorSize) {
    SetRawFileName(SectorSpanName(m_startSector, m_size, sectorSize));
}

int WalkRawFileInfo::Done(long long size, int sectorSize) {
    m_size = size;
    m_finished = true;
    Release();
    if (m_size > 0)
        NameAtEnd(sectorSize);
    return 1;
}

int WalkRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                 SearchContext& context) {
    if (m_finished)
        return 1;
    if (!rawwalk::Offered(*this, sector, sectorSize, sectorNumber))
        return 2;
    const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
    if (!m_started) {
        const Start start = Begin(window);
        if (start == Start::Wait)
            return 2;
        m_started = true;
        if (start != Start::Ready)
            return Done(0, sectorSize);
    }
    const long long walked = (sectorNumber - m_startSector) * static_cast<long long>(sectorSize);
    MediaWalk& walk = Walk();
    if (walked < 10 * m_limit) {
        bool ended = false;
        for (int step = 0; step < kMaxStepsPerSector && walk.Position() < window.SectorEnd();
             ++step) {
            const WalkStep r = walk.Next(window);
            if (r == WalkStep::NeedMore)
                return 2;  // the structure goes on into the next block
            if (r == WalkStep::End) {
                ended = true;
                break;
            }
        }
        if (!ended)
            return 2;
    }
    if (walk.Position() == 0)
        return Done(0, sectorSize);
    return Done(SizeAtEnd(walk.Position(), walked), sectorSize);
}
