// Windows icons and cursors: the directory's entries, each checked, and
// the images they count.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewFileICOAnalyser, FileICOAnalyser);

bool FileICOAnalyser::IsInvalidIconDirEntry(const unsigned char* entry) {
    using namespace ico_layout;
    const vk::ByteReader e(entry, kEntryBytes);
    return e.U8(kEntryReserved) == 0 && e.LE16(kEntryBitCount) <= 256 &&
           e.LE32(kEntryBytesInRes) <= kMaxImageBytes && e.LE32(kEntryOffset) <= kMaxImageBytes;
}

int FileICOAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace ico_layout;
    const vk::ByteReader r = rawcarve::Head(sector);
    const uint16_t type = r.LE16(kType);
    const uint16_t count = r.LE16(kCount);
    if ((type != 1 && type != 2) || count < 1 || count > kMaxImages)
        return 0;
    uint64_t total = kEntries;
    for (uint16_t i = 0; i < count; ++i) {
        const unsigned char* entry = sector + kEntries + i * kEntryBytes;
        if (!IsInvalidIconDirEntry(entry))
            return 0;
        total += vk::LoadLE<uint32_t>(entry + kEntryBytesInRes) + kEntryBytes;
    }
    if (total > kMaxTotal)
        return 0;
    info.m_type = type == 1 ? RAW_ICO : RAW_CUR;
    info.m_size = static_cast<long long>(total);
    return 1;
}
