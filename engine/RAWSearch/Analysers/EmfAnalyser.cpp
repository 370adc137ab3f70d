// Enhanced metafiles: the header record's " EMF" signature and the file's
// length in bytes.
#include "AnalyserFactories.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileEMFAnalyser, FileEMFAnalyser);

bool EmfFormat::Size(const vk::ByteReader& r, const unsigned char*, long long* size) {
    using namespace emf_layout;
    if (!r.Matches(kSignature, " EMF") || r.LE16(kReserved) != 0 || r.LE32(kFileSize) == 0)
        return false;
    *size = r.LE32(kFileSize);
    return true;
}
