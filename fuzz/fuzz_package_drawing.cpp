// The installer-package sizer (the xar table of contents inflated and read
// for its heap extents, the flat form's length) and the drawing header
// readers (locator records streamed, the coded R2004 header, the
// interleaved R2007 header), on data taken as a file at a disk's start.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Analysers/DWGAnalyser.h"
#include "Analysers/PackageAnalyser.h"
#include "support/MemoryStorageDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > (1u << 20))
        return 0;
    std::vector<uint8_t> image(data, data + size);
    image.resize((image.size() + 511) / 512 * 512 + 512, 0);
    velmora::test::MemoryStorageDevice device(image, 512);

    FilePKGAnalyser pkg;
    CRawFileInfo info;
    pkg.GetRawFileSize(info, &device);
    FilePKGAnalyser::HeapExtent(std::string_view(reinterpret_cast<const char*>(data), size));

    BruteForce::CDWGAnalyser dwg;
    if (image.size() >= 0x80 + dwg_layout::kR2007Bytes) {
        BruteForce::CDWGAnalyser::R2004Size(image.data() + 0x80);
        BruteForce::CDWGAnalyser::R2007Size(image.data() + 0x80);
    }
    // The streaming walk, one sector at a time, whatever the version bytes say.
    std::vector<uint8_t> file = image;
    for (const char* version : {"AC1015", "AC1018", "AC1021"}) {
        std::copy_n(version, 6, file.begin());
        BruteForce::CDWGRawInfo walk;
        walk.m_startSector = 0;
        const long long sectors = static_cast<long long>(file.size() / 512);
        std::vector<uint8_t> buffer(file.size() + CRawFileInfo::kContextSlackBytes, 0);
        std::copy(file.begin(), file.end(), buffer.begin());
        for (long long s = 0; s < sectors; ++s) {
            CRawFileInfo::SearchContext context;
            context.windowFirstSector = 0;
            context.windowEndSector = sectors;
            if (walk.CalcRawSize(buffer.data() + s * 512, 512, s, context) == 1)
                break;
        }
    }
    return 0;
}
