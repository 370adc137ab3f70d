// Windows help files: the file's length, no less than a sector and not
// short of the directory's start.
#include "AnalyserFactories.h"
#include "HeaderLayouts.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileHLPAnalyser, FileHLPAnalyser);

bool HlpFormat::Size(const vk::ByteReader& r, const unsigned char*, long long* size) {
    using namespace hlp_layout;
    const uint32_t length = r.LE32(kFileSize);
    if (length < 512 || length < r.LE32(kDirectoryStart))
        return false;
    *size = length;
    return true;
}
