// ASF files (Windows Media): the header object and the objects after it.
#include <cstring>

#include "AnalyserFactories.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaStreamAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewCAsfAnalyser, BruteForce::CAsfAnalyser);

namespace BruteForce {

namespace {

constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

class AsfRawFileInfo : public WalkRawFileInfo {
public:
    explicit AsfRawFileInfo(IRawFileAnalyser* partner)
        : WalkRawFileInfo(RAW_ASF, partner, static_cast<long long>(AsfWalk::kMaxObject)) {}

protected:
    MediaWalk& Walk() override { return m_walk; }
    long long SizeAtEnd(uint64_t position, long long) override {
        m_type = m_walk.Type();
        return static_cast<long long>(position);
    }

private:
    AsfWalk m_walk;
};

}  // namespace

int CAsfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, kAsfHeader, sizeof kAsfHeader) != 0)
        return 0;
    info.m_type = RAW_ASF;
    return 1;
}

CRawFileInfo* CAsfAnalyser::CreateRawFileInfo() {
    return new AsfRawFileInfo(this);
}

int CAsfAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    AsfWalk walk;
    const uint64_t size = rawcarve::WalkFromStart(walk, info, device, AsfWalk::kMaxObject);
    if (size == 0)
        return 0;
    info.m_type = walk.Type();
    info.m_size = static_cast<long long>(size);
    return 1;
}

}  // namespace BruteForce
