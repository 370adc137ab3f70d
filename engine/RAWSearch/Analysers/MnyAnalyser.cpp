// Money files: Jet databases of another engine ("MSISAM Database"), sized
// by their pages as Access files are.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileMNYAnalyser, FileMNYAnalyser);

int FileMNYAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mny_layout;
    if (!rawcarve::Head(sector).Matches(kSignature, "MSISAM Database"))
        return 0;
    info.m_type = RAW_MNY;
    info.m_size = 0;
    return 1;
}

int FileMNYAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return SizeByJetPages(info, device);
}
