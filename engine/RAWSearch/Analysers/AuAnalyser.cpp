// Sun/NeXT audio: ".snd", the data's offset and its length. A refused
// sector still leaves the candidate typed, with no size.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileAUAnalyser, FileAUAnalyser);

int FileAUAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace au_layout;
    const vk::ByteReader r = rawcarve::Head(sector);
    info.m_type = RAW_AU;
    const uint32_t offset = r.BE32(kDataOffsetBE);
    const uint32_t size = r.BE32(kDataSizeBE);
    if (!r.Matches(kMagic, ".snd") || offset < kMinDataOffset || size == 0xFFFFFFFFu) {
        info.m_size = 0;
        return 0;
    }
    info.m_size = static_cast<long long>(offset) + size;
    return 1;
}
