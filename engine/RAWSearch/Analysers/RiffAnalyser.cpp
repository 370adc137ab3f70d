// RIFF files (WAV, AVI, WebP and the other forms): typed by their form,
// sized by their length.
#include <strings.h>

#include <cstring>

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "RawFileBuffer.h"

VK_RAW_ANALYSER_FACTORY(NewFileRIFFAnalyser, FileRIFFAnalyser);

bool FileRIFFAnalyser::CompareSignString(const char* form, const char* chunk,
                                         const unsigned char* sector) {
    if (form == nullptr || chunk == nullptr || std::strlen(form) != 4 || std::strlen(chunk) != 4)
        return false;
    return strncasecmp(reinterpret_cast<const char*>(sector + riff_layout::kForm), form, 4) == 0 &&
           strncasecmp(reinterpret_cast<const char*>(sector + riff_layout::kFirstChunk), chunk,
                       4) == 0;
}

RAW_FILE_TYPE FileRIFFAnalyser::FormType(const unsigned char* sector) {
    if (CompareSignString("WAVE", "fmt ", sector))
        return RAW_WAV;
    if (CompareSignString("AVI ", "LIST", sector))
        return RAW_AVI;
    if (CompareSignString("ACON", "LIST", sector) || CompareSignString("ACON", "anih", sector))
        return RAW_ANI;
    static constexpr char kCmx[] = "{Corel Binary Meta File}";
    if (strncasecmp(reinterpret_cast<const char*>(sector + riff_layout::kForm), "CMX1", 4) == 0 &&
        std::memcmp(sector + 20, kCmx, sizeof kCmx - 1) == 0)
        return RAW_CMX;
    if (CompareSignString("CARC", "vrsn", sector))
        return RAW_CLK;
    if (CompareSignString("CSL2", "vrsn", sector))
        return RAW_CSL;
    for (const char* cdr : {"CDR7", "CDR8", "cdr8", "CDR9", "CDRA", "CDRB", "CDRC"}) {
        if (CompareSignString(cdr, "vrsn", sector))
            return RAW_CDR;
    }
    return RAW_RIFF;
}

int FileRIFFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "RIFF", 4) != 0)
        return 0;
    info.m_type = FormType(sector);
    info.m_size = 0;
    return 1;
}

// The length field counts the bytes after itself: the file is exactly 8
// bytes longer. Rounding up to whole sectors would append the slack's stale
// bytes to every WAV, AVI and WebP file.
int FileRIFFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, riff_layout::kFirstChunk);
    if (head == nullptr || std::memcmp(head, "RIFF", 4) != 0)
        return 0;
    const uint64_t length =
        static_cast<uint64_t>(vk::LoadLE<uint32_t>(head + riff_layout::kLengthLE)) +
        riff_layout::kHeader;
    info.m_size = static_cast<long long>(length);
    return 1;
}
