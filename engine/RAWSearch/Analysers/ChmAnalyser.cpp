// Compiled HTML help: the version 3 "ITSF" header, its two GUIDs and the
// first section's record, which gives the file's length.
#include <cstdint>
#include <cstring>

#include "AnalyserFactories.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileCHMAnalyser, FileCHMAnalyser);

bool ChmFormat::Size(const vk::ByteReader& r, const unsigned char* sector, long long* size) {
    using namespace chm_layout;
    if (!r.Matches(kMagic, "ITSF") || r.LE32(kHeaderLength) != kHeaderLength3 ||
        std::memcmp(sector + kGuid1, kGuid1Bytes, sizeof kGuid1Bytes) != 0 ||
        std::memcmp(sector + kGuid2, kGuid2Bytes, sizeof kGuid2Bytes) != 0 ||
        r.LE32(kSection0) != kSection0Magic || r.LE32(kSection0Zero1) != 0 ||
        r.LE32(kSection0Zero2) != 0)
        return false;
    const uint64_t length = r.LE64(kFileSize);
    // A size that does not fit the candidate's field is no size at all.
    *size = length > static_cast<uint64_t>(INT64_MAX) ? 0 : static_cast<long long>(length);
    return true;
}
