// NGRR recordings: a chain of "atad" records.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "StreamWalk.h"
#include "StreamedDocAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewNGRRAnalyser, RawSpeed::NGRRAnalyser);

int RawSpeed::NGRRAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    static constexpr char kHead[] = "-in-";
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(sector[i]);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kHead[i])
            return 0;
    }
    info.m_type = RAW_NGRR;
    return 1;
}

int RawSpeed::NGRRAnalyser::NGRRRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace ngrr_layout;
    if (view.here > kSizeLimit)
        return Sized(view, view.here);
    // Record after record while the next one's head starts by this sector's
    // end; the first that is no "atad" record is where the file ends.
    while (m_walk <= view.SectorEnd()) {
        const uint8_t* tag = view.At(m_walk, 4);
        if (tag == nullptr)
            return view.Coming(m_walk) ? 2 : Unsized();
        if (std::memcmp(tag, "atad", 4) != 0)
            return Sized(view, m_walk);
        const uint8_t* length = view.At(m_walk + static_cast<long long>(kRecordLength), 4);
        if (length == nullptr)
            return view.Coming(m_walk) ? 2 : Unsized();
        m_walk += kRecordHead + static_cast<long long>(vk::LoadLE<uint32_t>(length));
    }
    return 2;
}
