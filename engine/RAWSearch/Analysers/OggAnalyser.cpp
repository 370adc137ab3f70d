// Ogg streams: "OggS" pages, one after the other.
#include <cstring>

#include "AnalyserFactories.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "MediaStreamAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewOGGAnalyser, Dunmere::OGGAnalyser);

namespace Dunmere {

const void* OGGAnalyser::s_inProgress = nullptr;

namespace {

class OGGRawFileInfo : public WalkRawFileInfo {
public:
    explicit OGGRawFileInfo(IRawFileAnalyser* partner)
        : WalkRawFileInfo(RAW_OGG, partner), m_walk(true) {}
    ~OGGRawFileInfo() override { Release(); }

protected:
    MediaWalk& Walk() override { return m_walk; }
    Start Begin(const StreamWindow&) override {
        if (OGGAnalyser::s_inProgress == nullptr)
            OGGAnalyser::s_inProgress = this;
        return Start::Ready;
    }
    void Release() override {
        if (OGGAnalyser::s_inProgress == this)
            OGGAnalyser::s_inProgress = nullptr;
    }

private:
    OggWalk m_walk;
};

}  // namespace

int CFileOggAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "OggS", 4) != 0)
        return 0;
    info.m_type = RAW_OGG;
    return 1;
}

int CFileOggAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    OggWalk walk(false);
    return rawcarve::SizeByWalk(walk, info, device, kMaxSize);
}

int OGGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || s_inProgress != nullptr)
        return 0;
    info.m_type = RAW_OGG;
    return 1;
}

CRawFileInfo* OGGAnalyser::CreateRawFileInfo() {
    return new OGGRawFileInfo(&m_whole);
}

}  // namespace Dunmere

// ---------------------------------------------------------------------------
// The walk

WalkStep OggWalk::Next(const ByteSource& source) {
    using namespace ogg_layout;
    const uint8_t* page = source.At(m_pos, kHeaderBytes);
    if (page == nullptr)
        return WalkStep::NeedMore;
    if (std::memcmp(page + kCapture, "OggS", 4) != 0)
        return WalkStep::End;
    const uint8_t segments = page[kSegments];
    if (segments == 0 && m_emptyPageFails) {
        m_pos = 0;
        return WalkStep::End;
    }
    page = source.At(m_pos, kHeaderBytes + segments);
    if (page == nullptr)
        return WalkStep::NeedMore;
    uint64_t length = kHeaderBytes + segments;
    for (uint8_t i = 0; i < segments; ++i)
        length += page[kLacing + i];
    m_pos += length;
    return WalkStep::Continue;
}
