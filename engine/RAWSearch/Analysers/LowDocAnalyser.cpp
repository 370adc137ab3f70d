// Early Word documents (before compound files): the text's end and the
// tail's length, rounded up to whole 512-byte pages. Every sector under
// their keys is taken for one.
#include "AnalyserFactories.h"
#include "HeaderLayouts.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileLowDocAnalyser, FileLowDocAnalyser);

bool LowDocFormat::Size(const vk::ByteReader& r, const unsigned char*, long long* size) {
    using namespace lowdoc_layout;
    *size = (r.LE32(kTextEnd) + r.LE16(kTail) + 511u) & ~511u;
    return true;
}
