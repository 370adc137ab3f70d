// InDesign documents: 4 KiB pages, then objects, walked while the search
// streams past them.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewInddAnalyser, RawSpeed::InddAnalyser);

using rawwalk::PositionName;
using rawwalk::StreamView;
using rawwalk::ViewOf;

int RawSpeed::InddAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, indd_layout::kSignature, 24) != 0)
        return 0;
    info.m_type = RAW_INDD;
    return 1;
}

// Pages first (their count in the header), then objects, each with a
// 64-byte header; the document ends with the 4 KiB page that holds the end
// of its last object.
int RawSpeed::InddAnalyser::InddRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                         long long sectorNumber,
                                                         SearchContext& context) {
    using namespace indd_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kLimit) {
        m_size = 0;
        return 1;
    }
    if (m_next < 0) {
        if (std::memcmp(sector, kSignature, 24) != 0) {
            m_size = 0;
            return 1;
        }
        m_next = static_cast<long long>(vk::LoadLE<uint32_t>(sector + kPageCount)) * kPage;
    }
    while (m_next < view.SectorEnd()) {
        const uint8_t* object = view.At(m_next, kObjectLength + 4);
        if (object == nullptr) {
            if (view.Coming(m_next))
                return 2;
            m_size = 0;
            return 1;
        }
        if (std::memcmp(object, kObjectHead, 16) != 0) {
            m_size = m_next / kPage * kPage + kPage;
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        m_next +=
            static_cast<long long>(vk::LoadLE<uint32_t>(object + kObjectLength)) + kObjectHeadBytes;
        if (m_next > kLimit) {
            m_size = 0;
            return 1;
        }
    }
    return 2;
}
