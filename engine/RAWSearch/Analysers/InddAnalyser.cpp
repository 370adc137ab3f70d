// InDesign documents: 4 KiB pages, then objects, walked while the search
// streams past them.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewInddAnalyser, RawSpeed::InddAnalyser);

int RawSpeed::InddAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, indd_layout::kSignature, 24) != 0)
        return 0;
    info.m_type = RAW_INDD;
    return 1;
}

// Pages first (their count in the header), then objects, each with a
// 64-byte header; the document ends with the 4 KiB page that holds the end
// of its last object.
int RawSpeed::InddAnalyser::InddRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace indd_layout;
    if (view.here > kLimit)
        return Unsized();
    if (m_next < 0) {
        if (std::memcmp(view.sector, kSignature, 24) != 0)
            return Unsized();
        m_next = static_cast<long long>(vk::LoadLE<uint32_t>(view.sector + kPageCount)) * kPage;
    }
    while (m_next < view.SectorEnd()) {
        const uint8_t* object = view.At(m_next, kObjectLength + 4);
        if (object == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Unsized();
        }
        if (std::memcmp(object, kObjectHead, 16) != 0)
            return Sized(view, m_next / kPage * kPage + kPage);
        m_next +=
            static_cast<long long>(vk::LoadLE<uint32_t>(object + kObjectLength)) + kObjectHeadBytes;
        if (m_next > kLimit)
            return Unsized();
    }
    return 2;
}
