// TrueType fonts: a table directory of mostly known tags; the tables' lengths,
// each padded to four bytes, give the file's.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DocumentAnalysers.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileTTFAnalyser, FileTTFAnalyser);

bool TtfFormat::Size(const vk::ByteReader& r, const unsigned char* sector, long long* size) {
    using namespace ttf_layout;
    static constexpr char kKnown[][5] = {"DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca",
                                         "maxp", "name", "post", "OS/2", "cvt ", "EBDT", "EBLC",
                                         "EBSC", "fpgm", "gasp", "hdmx", "kern", "LTSH", "prep",
                                         "PCLT", "VDMX", "vhea", "vmtx"};
    if (sector == nullptr)
        return false;
    const uint16_t tables = r.BE16(kTableCountBE);
    if (tables < 1 || tables > kMostTables)
        return false;
    unsigned known = 0;
    unsigned long long length = kDirectory + static_cast<unsigned long long>(kRecordBytes) * tables;
    for (uint16_t i = 0; i < tables; ++i) {
        const size_t record = kDirectory + kRecordBytes * i;
        for (const char* tag : kKnown) {
            if (std::memcmp(sector + record, tag, 4) == 0) {
                ++known;
                break;
            }
        }
        length += (static_cast<unsigned long long>(r.BE32(record + kRecordLengthBE)) + 3) / 4 * 4;
    }
    if (2 * known < tables)
        return false;
    *size = static_cast<long long>(length);
    return true;
}
