// Paint Shop Pro pictures, sized by walking their blocks while the search
// streams past them, or over the device by the whole-file sizer.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewPSPAnalyser, RawSpeed::PSPAnalyser);

namespace {

bool IsPsp(const uint8_t* sector) {
    static constexpr char kSignature[psp_layout::kSignatureBytes] =
        "Paint Shop Pro Image File\n\x1a\0\0\0\0";
    return sector != nullptr && std::memcmp(sector, kSignature, psp_layout::kSignatureBytes) == 0;
}

bool IsPspBlock(const uint8_t* p) {
    return std::memcmp(p, psp_layout::kBlockHead, 4) == 0;
}

}  // namespace

int FilePSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsPsp(sector))
        return 0;
    info.m_type = RAW_PSP;
    return 1;
}

int FilePSPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace psp_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned long long offset = kFirstBlock;
    while (true) {
        const uint8_t* block = file.GetRawFileBuffer(offset, kBlockHeadBytes);
        if (block == nullptr)
            return 0;
        if (!IsPspBlock(block))
            break;
        offset += vk::LoadLE<uint32_t>(block + kBlockLength) + kBlockHeadBytes;
        if (offset > static_cast<unsigned long long>(kWholeLimit)) {
            info.m_size = static_cast<long long>(offset);
            return 1;
        }
    }
    if (offset < static_cast<unsigned long long>(kSmallest))
        return 0;
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::PSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    return m_whole.AnalyseBuffer(sector, info);
}

int RawSpeed::PSPAnalyser::PSPRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace psp_layout;
    if (view.here > kStreamLimit)
        return Sized(view, m_next, ".");
    // A block that begins within 10 bytes of this sector's end is read with it.
    while (m_next < view.SectorEnd() + kBlockHeadBytes) {
        const uint8_t* block = view.At(m_next, kBlockHeadBytes);
        if (block == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Unsized();
        }
        if (!IsPspBlock(block))
            return Sized(view, m_next, ".");
        m_next +=
            static_cast<long long>(vk::LoadLE<uint32_t>(block + kBlockLength)) + kBlockHeadBytes;
    }
    return 2;
}
