// Magic Lantern video: the "MLVI" header and the blocks after it, walked
// while the search streams past them or over the device.

#include <cstring>

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "RawUtility.h"
#include "StreamWindow.h"

VK_RAW_ANALYSER_FACTORY(NewMLvAnalyser, RawSpeed::MLvAnalyser);

namespace RawSpeed {

namespace {

class MLvRawFileInfo : public WindowedRawFileInfo {
public:
    MLvRawFileInfo() : WindowedRawFileInfo(RAW_MLV) {}

protected:
    int Step(const StreamWindow& window, unsigned char* sector, int sectorSize,
             SearchContext& context) override {
        for (int step = 0; step < 4096 && m_walk.Position() < window.SectorEnd(); ++step) {
            const WalkStep r = m_walk.Next(window);
            if (r == WalkStep::NeedMore)
                return 2;
            if (r == WalkStep::End) {
                // Zero fill inside the last block marks a recording cut
                // short; fill seen before that block says nothing about it.
                const uint64_t end = m_walk.Position();
                const bool useGuess = m_guess != 0 && m_guess > m_walk.LastBlock() && m_guess < end;
                return Finish(static_cast<long long>(useGuess ? m_guess : end), sectorSize);
            }
            m_guessAllowed = true;
        }
        const uint64_t offset = window.SectorOffset();
        if (offset > MlvWalk::kMaxSize)
            return Finish(static_cast<long long>(m_walk.Position()), sectorSize);
        if (context.zeroTail > 15 && m_guessAllowed) {
            m_guessAllowed = false;
            m_guess = offset + static_cast<uint64_t>(
                                   BruteForce::RawUtility::Binary_Compare(sector, sectorSize));
        }
        return 2;
    }

private:
    MlvWalk m_walk;
    uint64_t m_guess = 0;
    bool m_guessAllowed = true;
};

}  // namespace

int MLvAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mlv_layout;
    if (sector == nullptr || std::memcmp(sector + kType, "MLVI", 4) != 0 ||
        std::memcmp(sector + kRawInfo, "RAWI", 4) != 0)
        return 0;
    info.m_type = RAW_MLV;
    return 1;
}

CRawFileInfo* MLvAnalyser::CreateRawFileInfo() {
    return new MLvRawFileInfo();
}

int MLvAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    MlvWalk walk;
    return rawcarve::SizeByWalk(walk, info, device, MlvWalk::kMaxSize);
}

}  // namespace RawSpeed

bool MlvWalk::KnownType(const uint8_t* type) {
    static constexpr char kTypes[] = "MLVIRAWIINFORTCIEXPOLENSIDNTWBALSTYLWAVIMARKVIDFNULLAUDFBKUP";
    for (size_t i = 0; i + 4 <= sizeof kTypes - 1; i += 4) {
        if (std::memcmp(type, kTypes + i, 4) == 0)
            return true;
    }
    return false;
}

WalkStep MlvWalk::Next(const ByteSource& source) {
    using namespace mlv_layout;
    const uint8_t* block = source.At(m_pos, kHeaderBytes);
    if (block == nullptr)
        return WalkStep::NeedMore;
    const uint32_t length = vk::LoadLE<uint32_t>(block + kLength);
    if (!KnownType(block + kType) || length == 0)
        return WalkStep::End;
    m_lastBlock = m_pos;
    m_pos += length;
    return m_pos > kMaxSize ? WalkStep::End : WalkStep::Continue;
}
