// AIFF files: "FORM", the big-endian length and an "AIFF" or "AIFC" form.

#include <cstring>

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "RawFileBuffer.h"

VK_RAW_ANALYSER_FACTORY(NewCFileAIFAnalyzer, CFileAIFAnalyzer);

int CFileAIFAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace aiff_layout;
    if (sector == nullptr || std::memcmp(sector, "FORM", 4) != 0 ||
        std::memcmp(sector + kForm, "AIF", 3) != 0)
        return 0;
    info.m_type = RAW_AIFF;
    info.m_size = static_cast<long long>(vk::LoadBE<uint32_t>(sector + kFormLength)) + kFormHeader;
    return 1;
}

int CFileAIFAnalyzer::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, 12);
    if (head == nullptr)
        return 0;
    CRawFileInfo probe;
    unsigned char sector[kMinAnalyseBytes] = {};
    std::memcpy(sector, head, 12);
    if (AnalyseBuffer(sector, probe) == 0)
        return 0;
    info.m_size = probe.m_size;
    return 1;
}
