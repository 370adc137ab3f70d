// WordPerfect files: "\xFFWPC", the product and index words that tell a
// document, a graphic or a presentation, and the file's length.
#include <cstring>

#include "AnalyserFactories.h"
#include "Carver.h"
#include "DocumentAnalysers.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileWPDAnalyser, FileWPDAnalyser);

int FileWPDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace wpd_layout;
    struct Row {
        uint8_t product[4];
        uint8_t index[4];
        RAW_FILE_TYPE type;
    };
    static constexpr Row kRows[] = {
        {{0x01, 0x0A, 0x02, 0x01}, {0x00, 0x02, 0x05, 0x00}, RAW_WPD},
        {{0x01, 0x16, 0x02, 0x00}, {0x00, 0x00, 0x03, 0x00}, RAW_WPG},
        {{0x0F, 0x0F, 0x01, 0x00}, {0x00, 0x00, 0x03, 0x00}, RAW_SHW},
    };
    static constexpr uint8_t kMagic[4] = {0xFF, 'W', 'P', 'C'};
    if (sector == nullptr || std::memcmp(sector, kMagic, 4) != 0)
        return 0;
    RAW_FILE_TYPE type = -1;
    for (const Row& row : kRows) {
        if (std::memcmp(sector + kProduct, row.product, 4) == 0 &&
            std::memcmp(sector + kIndex, row.index, 4) == 0)
            type = row.type;
    }
    const uint32_t size = rawcarve::Head(sector).LE32(kFileSize);
    if (type < 0 || size == 0)
        return 0;
    info.m_type = type;
    info.m_size = size;
    return 1;
}
