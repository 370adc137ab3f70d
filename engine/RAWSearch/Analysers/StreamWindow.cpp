#include "StreamWindow.h"

#include <cstdio>

#include "RawFileBuffer.h"

const uint8_t* FileBytes::At(uint64_t offset, size_t length) const {
    return m_file->GetRawFileBuffer(offset, length);
}

std::string SectorSpanName(long long startSector, long long size, int sectorSize) {
    const long long unit = sectorSize > 0 ? sectorSize : 512;
    const long long last = size > 0 ? startSector + (size - 1) / unit : startSector;
    char text[64];
    std::snprintf(text, sizeof text, "%lld-%lld_", startSector, last);
    return text;
}
