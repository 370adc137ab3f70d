// Encapsulated PostScript: text EPS ended by the zero fill after it, binary
// EPS sized by its header.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DrawingAnalysers.h"
#include "DrawingLayout.h"

VK_RAW_ANALYSER_FACTORY(NewCEPSAnalyser, BruteForce::CEPSAnalyser);

namespace BruteForce {

long long CEPSAnalyser::BinarySize(const uint8_t* header) {
    using namespace eps_layout;
    if (std::memcmp(header, kBinaryMagic, sizeof(kBinaryMagic)) != 0)
        return 0;
    // The PostScript section is what the file is for; the metafile and TIFF
    // previews are optional. Every section lies after the header.
    const struct {
        size_t offset, length;
    } sections[] = {{kPostScriptOffset, kPostScriptLength},
                    {kMetafileOffset, kMetafileLength},
                    {kTiffOffset, kTiffLength}};
    long long end = 0;
    for (const auto& s : sections) {
        const long long at = vk::LoadLE<uint32_t>(header + s.offset);
        const long long length = vk::LoadLE<uint32_t>(header + s.length);
        if (length == 0)
            continue;
        if (at < static_cast<long long>(kHeaderBytes))
            return 0;
        end = std::max(end, at + length);
    }
    if (vk::LoadLE<uint32_t>(header + kPostScriptLength) == 0)
        return 0;
    return end;
}

int CEPSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace eps_layout;
    if (sector == nullptr)
        return 0;
    if (std::memcmp(sector, kTextHead, kTextHeadBytes) == 0) {
        info.m_type = RAW_EPS;
        return 1;
    }
    const long long size = BinarySize(sector);
    if (size <= 0)
        return 0;
    info.m_type = RAW_EPS;
    info.m_size = size;
    return 1;
}

CRawFileInfo* CEPSAnalyser::CreateRawFileInfo() {
    // A binary file is sized by its header and handed over before it streams.
    return new ZeroEndRawFileInfo(RAW_EPS, eps_layout::kMaximum);
}

int CEPSAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return ZeroEndRawFileInfo::WholeFileSize(info, device, eps_layout::kMaximum,
                                             eps_layout::kWholeFileReadLimit);
}

}  // namespace BruteForce
