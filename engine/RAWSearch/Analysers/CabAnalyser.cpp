// Cabinet archives of version 1.3: the reserved words zero and the
// cabinet's length.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileCABAnalyser, FileCABAnalyser);

int FileCABAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace cab_layout;
    const vk::ByteReader r = rawcarve::Head(sector);
    info.m_type = RAW_CAB;
    if (r.LE32(kReserved1) != 0 || r.LE32(kReserved2) != 0 || r.LE32(kReserved3) != 0 ||
        r.LE16(kVersion) != kVersion13 || r.LE32(kCabinetSize) == 0) {
        info.m_size = 0;
        return 0;
    }
    info.m_size = r.LE32(kCabinetSize);
    return 1;
}
