// The EXIF reader over any block: directories, links and values that point
// anywhere, in both byte orders.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ExifReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1u << 17)
        return 0;
    // As given, and with the "Exif" header the reader needs put in front.
    std::vector<uint8_t> block(data, data + size);
    std::vector<uint8_t> prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), data, data + size);
    for (const std::vector<uint8_t>* b : {&block, &prefixed}) {
        tag_ExifInfo info;
        info.options = 8 | 4 | 2;
        CExifReader reader;
        reader.SetExitInfo(&info);
        reader.EXIF_process_EXIF(nullptr, 0, b->data(), static_cast<unsigned>(b->size()));
        volatile size_t n = std::strlen(info.cameraMake) + std::strlen(info.cameraModel) +
                            std::strlen(info.dateTime) + std::strlen(info.comments) +
                            info.thumbnailCopy.size();
        (void)n;
    }
    return 0;
}
