// OneNote sections, sized by walking their structure while the search
// streams past them, or over the device by the whole-file sizer.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewOneAnalyser, RawSpeed::OneAnalyser);

unsigned long long RawSpeed::OneAnalyser::FragmentLength(const uint8_t* fragment) {
    const uint64_t length = vk::LoadLE<uint64_t>(fragment + one_layout::kLength);
    return length != 0 ? length : vk::LoadLE<uint64_t>(fragment + one_layout::kLegacyLength);
}

namespace {

bool HasOneGuid(const uint8_t* fragment) {
    return std::memcmp(fragment + one_layout::kGuidTailAt, one_layout::kGuidTail, 12) == 0;
}

}  // namespace

int FileONEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !HasOneGuid(sector))
        return 0;
    info.m_type = RAW_ONE;
    return 1;
}

int FileONEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace one_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned long long offset = 0;
    while (offset <= static_cast<unsigned long long>(kWholeLimit)) {
        const uint8_t* fragment = file.GetRawFileBuffer(offset, kProbeBytes);
        if (fragment == nullptr || !HasOneGuid(fragment))
            break;
        const unsigned long long length = RawSpeed::OneAnalyser::FragmentLength(fragment);
        if (length == 0 || length > static_cast<unsigned long long>(kWholeLimit)) {
            offset = kWholeLimit;
            break;
        }
        offset += length;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::OneAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    return m_whole.AnalyseBuffer(sector, info);
}

int RawSpeed::OneAnalyser::ONERawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace one_layout;
    if (m_next < 0) {
        const uint8_t* head = view.At(0, kProbeBytes);
        if (head == nullptr)
            return view.Coming(0) ? 2 : 1;
        m_next = static_cast<long long>(FragmentLength(head));
        if (m_next <= 0 || m_next > kStreamLimit)
            return Unsized();
    }
    if (view.here > kStreamLimit)
        return Unsized();
    while (m_next <= view.SectorEnd()) {
        const uint8_t* fragment = view.At(m_next, kGuidTailAt + 12);
        if (fragment == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Unsized();
        }
        if (!HasOneGuid(fragment))
            return Sized(view, m_next);
        fragment = view.At(m_next, kProbeBytes);
        if (fragment == nullptr)
            return view.Coming(m_next) ? 2 : 1;
        const unsigned long long length = FragmentLength(fragment);
        if (length == 0 || length > static_cast<unsigned long long>(kStreamLimit) ||
            m_next + static_cast<long long>(length) > kStreamLimit) {
            return Unsized();
        }
        m_next += static_cast<long long>(length);
    }
    return 2;
}
