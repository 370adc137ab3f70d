// Outlook folders: "!BDN" and the end offset of the Unicode or ANSI
// format. A refused sector still leaves the candidate typed.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "DocumentAnalysers.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFilePSTAnalyser, FilePSTAnalyser);

int FilePSTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace pst_layout;
    if (sector == nullptr)
        return 0;
    const vk::ByteReader r = rawcarve::Head(sector);
    long long size = kOtherSize;
    if (sector[kFormat] == kUnicode)
        size = r.LE32(kUnicodeEnd);
    else if (sector[kFormat] == kAnsi)
        size = r.LE32(kAnsiEnd);
    info.m_type = RAW_PST;
    info.m_size = size;
    return size != 0 ? 1 : 0;
}
