// PNG pictures, sized by walking their chunks to the end chunk while the
// search streams past them, or over the device by the whole-file sizer.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewPNGAnalyser, RawSpeed::PNGAnalyser);

namespace {

bool IsChunkType(const uint8_t* type) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = type[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

}  // namespace

int FilePNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr uint8_t kTail[4] = {0x0D, 0x0A, 0x1A, 0x0A};
    if (sector == nullptr || std::memcmp(sector + png_layout::kSignatureTail, kTail, 4) != 0)
        return 0;
    info.m_type = RAW_PNG;
    return 1;
}

int FilePNGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace png_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kHeightBE + 4);
    if (head == nullptr || std::memcmp(head + kFirstType, "IHDR", 4) != 0)
        return 0;
    const uint32_t width = vk::LoadBE<uint32_t>(head + kWidthBE);
    const uint32_t height = vk::LoadBE<uint32_t>(head + kHeightBE);
    if (width == 0 || height == 0 || width >= 0x80000000u || height >= 0x80000000u)
        return 0;
    unsigned long long offset = vk::LoadBE<uint32_t>(head + kFirstLengthBE) + kAfterHeader;
    while (offset <= static_cast<unsigned long long>(kWholeLimit)) {
        const uint8_t* chunk = file.GetRawFileBuffer(offset, kChunkHead);
        if (chunk == nullptr)
            break;
        const uint32_t length = vk::LoadBE<uint32_t>(chunk);
        if (length > kWholeLimit)
            break;
        const bool end = std::memcmp(chunk + 4, "IEND", 4) == 0;
        offset += length + kChunkExtra;
        if (end)
            break;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::PNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    return m_whole.AnalyseBuffer(sector, info);
}

// Chunk after chunk to "IEND"; a chunk whose type is not four letters means
// the walk has lost the file, and the whole-file road takes over.
int RawSpeed::PNGAnalyser::PNGRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace png_layout;
    if (view.here > kStreamLimit)
        return Unsized();
    if (m_next < 0)
        m_next = static_cast<long long>(vk::LoadBE<uint32_t>(view.sector + kFirstLengthBE)) +
                 kAfterHeader;
    while (m_next <= view.SectorEnd()) {
        const uint8_t* chunk = view.At(m_next, kChunkHead);
        if (chunk == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Unsized();
        }
        if (!IsChunkType(chunk + 4))
            return Unsized();
        const long long next = m_next + vk::LoadBE<uint32_t>(chunk) + kChunkExtra;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return Sized(view, next);
        m_next = next;
    }
    return 2;
}
