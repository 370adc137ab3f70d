// Windows bitmaps: "BM", zero reserved words, an info header of version 3
// or 5, and the file's length.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileBMPAnalyser, FileBMPAnalyser);

int FileBMPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace bmp_layout;
    const vk::ByteReader r = rawcarve::Head(sector);
    if (!r.Matches(kMagic, "BM") || r.LE16(kReserved1) != 0 || r.LE16(kReserved2) != 0)
        return 0;
    const uint32_t header = r.LE32(kInfoHeaderSize);
    info.m_type = RAW_BMP;
    if (header != 40 && header != 124) {
        info.m_size = 0;
        return 0;
    }
    info.m_size = r.LE32(kFileSize);
    return 1;
}
