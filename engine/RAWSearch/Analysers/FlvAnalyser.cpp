// Flash video: the "FLV" header and the tags after it.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "MediaStreamAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFLVAnalyser, Dunmere::FLVAnalyser);

namespace Dunmere {

namespace {

class FLVRawFileInfo : public WalkRawFileInfo {
public:
    explicit FLVRawFileInfo(IRawFileAnalyser* partner) : WalkRawFileInfo(RAW_FLV, partner) {}

protected:
    MediaWalk& Walk() override { return m_walk; }

private:
    FlvWalk m_walk;
};

}  // namespace

int FileFLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "FLV", 3) != 0)
        return 0;
    info.m_type = RAW_FLV;
    return 1;
}

int FileFLVAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    FlvWalk walk;
    const uint64_t size = rawcarve::WalkFromStart(walk, info, device, kMaxSize);
    if (size == 0)
        return 0;
    info.m_size = static_cast<long long>(std::min<uint64_t>(size, kMaxSize));
    return 1;
}

int FLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "FLV", 3) != 0)
        return 0;
    info.m_type = RAW_FLV;
    return 1;
}

CRawFileInfo* FLVAnalyser::CreateRawFileInfo() {
    return new FLVRawFileInfo(&m_whole);
}

}  // namespace Dunmere

// ---------------------------------------------------------------------------
// The walk

WalkStep FlvWalk::Next(const ByteSource& source) {
    using namespace flv_layout;
    if (!m_begun) {
        const uint8_t* head = source.At(0, kFirstPrevious + 4);
        if (head == nullptr)
            return WalkStep::NeedMore;
        m_begun = true;
        if (head[kVersion] != 1 || vk::LoadBE<uint32_t>(head + kFirstPrevious) != 0) {
            m_pos = 0;
            return WalkStep::End;
        }
        m_pos = kFirstTag;
    }
    const uint8_t* step = source.At(m_pos, kStepHeader);
    if (step == nullptr)
        return WalkStep::NeedMore;
    const uint32_t previous = vk::LoadBE<uint32_t>(step + kPreviousSize);
    const uint8_t type = step[kTagType];
    const uint32_t size = (static_cast<uint32_t>(step[kTagDataSize]) << 16) |
                          (static_cast<uint32_t>(step[kTagDataSize + 1]) << 8) |
                          step[kTagDataSize + 2];
    if (previous == m_previousData || (type != 8 && type != 9 && type != 18)) {
        m_pos += 4;  // the last tag's size closes the file
        return WalkStep::End;
    }
    const bool mismatch = m_tags >= 1 && previous != kTagHeaderBytes + m_previousData;
    m_pos += kStepHeader + size;
    m_previousData = size;
    ++m_tags;
    return mismatch ? WalkStep::End : WalkStep::Continue;
}
