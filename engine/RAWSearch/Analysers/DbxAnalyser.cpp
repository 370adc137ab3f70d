// Outlook Express mail databases: five 16-byte heads and "JMF6". The
// fifth head's files are ended by the zero fill, the others by the length
// their header carries.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "StreamLayouts.h"
#include "StreamWalk.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewDbxAnalyser, RawSpeed::DbxAnalyser);

namespace RawSpeed {

using rawwalk::ZeroTailRule;

int DbxAnalyser::HeadKind(const unsigned char* sector) {
    static constexpr uint8_t kHeads[5][16] = {
        {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
         0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
         0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
         0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00,
         0x60},
        {0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D, 0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0,
         0xB0},
    };
    static constexpr uint8_t kJmf[8] = {'J', 'M', 'F', '6', 0x03, 0x00, 0x10, 0x00};
    if (sector == nullptr)
        return 0;
    for (int i = 0; i < 5; ++i) {
        if (std::memcmp(sector, kHeads[i], dbx_layout::kHeadBytes) == 0)
            return i + 1;
    }
    return std::memcmp(sector, kJmf, dbx_layout::kJmfBytes) == 0 ? 6 : 0;
}

int DbxAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (HeadKind(sector) == 0)
        return 0;
    info.m_type = RAW_DBX;
    return 1;
}

int DbxAnalyser::DBXRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                             long long sectorNumber, SearchContext&) {
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const long long offset = (sectorNumber - m_startSector) * sectorSize;
    if (m_kind < 0)
        m_kind = HeadKind(sector) == 5 ? 1 : 0;
    if (offset > kMaxLength) {
        m_size = 0;
        return 1;
    }
    if (m_kind == 1) {
        ZeroTailRule rule;
        rule.maximum = kMaxLength;
        rule.zeros = 9;
        rule.sizeAtMaximum = false;
        rule.suffix = ".";
        return rawwalk::ZeroTailStep(*this, sector, sectorSize, sectorNumber, rule);
    }
    // The other heads carry the file's length.
    const uint32_t length = vk::LoadLE<uint32_t>(sector + dbx_layout::kFileSize);
    m_size = length <= kMaxLength ? length : 0;
    if (m_size != 0)
        SetRawFileName(rawwalk::PositionName(m_startSector, sectorNumber));
    return 1;
}

}  // namespace RawSpeed
