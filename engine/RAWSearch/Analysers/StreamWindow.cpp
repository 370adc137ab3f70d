#include "StreamWindow.h"

#include "RawFileBuffer.h"

const uint8_t* FileBytes::At(uint64_t offset, size_t length) const {
    return m_file->GetRawFileBuffer(offset, length);
}

std::string SectorSpanName(long long startSector, long long size, int sectorSize) {
    const long long unit = sectorSize > 0 ? sectorSize : 512;
    const long long last = size > 0 ? startSector + (size - 1) / unit : startSector;
    return rawwalk::PositionName(startSector, last);
}
