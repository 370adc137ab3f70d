// Flash video: the "FLV" header and the tags after it.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "Carver.h"
#include "IStorageDevice.h"
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
