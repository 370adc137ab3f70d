// GIF pictures: extensions and images, each followed by data sub-blocks,
// walked to the trailer.
#include <cstring>

#include "AnalyserFactories.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewCGifAnalyser, BruteForce::CGifAnalyser);

int BruteForce::CGifAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr ||
        (std::memcmp(sector + 4, "7a", 2) != 0 && std::memcmp(sector + 4, "9a", 2) != 0))
        return 0;
    info.m_type = RAW_GIF;
    return 1;
}

CRawFileInfo* BruteForce::CGifAnalyser::CreateRawFileInfo() {
    return new CGifFileInfo();
}

// A data sub-block's length byte may hold any value, also that of a block
// introducer: the walk knows which it expects.
int BruteForce::CGifFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace gif_layout;
    if (m_position < 0) {
        m_position = kAfterScreen;
        const uint8_t packed = view.sector[kPacked];
        if ((packed & 0x80) != 0)
            m_position += 3LL << ((packed & 7) + 1);
    }
    if (view.here > kLimit) {
        m_size = kLimit;
        return 1;
    }
    while (m_position < view.SectorEnd()) {
        const uint8_t* p = view.At(m_position, 1);
        if (p == nullptr) {
            if (view.Coming(m_position))
                return 2;
            return Unsized();
        }
        if (m_expect == Expect::SubBlocks) {
            m_position += 1 + *p;
            if (*p == 0)
                m_expect = Expect::Block;
            continue;
        }
        if (*p == kTrailer) {
            m_size = m_position + 1;
            return 1;
        }
        if (*p == kExtension) {
            m_position += 2;  // introducer and label
            m_expect = Expect::SubBlocks;
            continue;
        }
        if (*p == kImage) {
            const uint8_t* d = view.At(m_position, kDescriptorBytes);
            if (d == nullptr)
                return view.Coming(m_position) ? 2 : 1;
            m_position += kDescriptorBytes + 1;  // and the code size byte
            if ((d[kDescriptorPacked] & 0x80) != 0)
                m_position += 3LL << ((d[kDescriptorPacked] & 7) + 1);
            m_expect = Expect::SubBlocks;
            continue;
        }
        // Neither a block nor the trailer: the picture ends here, cut short.
        m_size = m_position;
        return 1;
    }
    return 2;
}
