// Matroska and WebM files: the EBML header and the segment's length.

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "CheckedMath.h"
#include "MediaLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileMKVAnalyser, FileMKVAnalyser);

int FileMKVAnalyser::ReadVint(const unsigned char* p, size_t available, uint64_t& value,
                              bool& unknown) {
    value = 0;
    unknown = false;
    if (p == nullptr || available == 0 || p[0] == 0)
        return 0;
    int length = 1;
    while ((p[0] & (0x80 >> (length - 1))) == 0)
        ++length;
    if (static_cast<size_t>(length) > available)
        return 0;
    const uint8_t mask = static_cast<uint8_t>(0xFF >> length);
    value = p[0] & mask;
    bool allOnes = value == mask;
    for (int i = 1; i < length; ++i) {
        value = (value << 8) | p[i];
        allOnes = allOnes && p[i] == 0xFF;
    }
    unknown = allOnes;
    return length;
}

int FileMKVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mkv_layout;
    if (sector == nullptr)
        return 0;
    uint64_t headerSize = 0;
    bool unknown = false;
    const int length =
        ReadVint(sector + kHeaderSize, kMinAnalyseBytes - kHeaderSize, headerSize, unknown);
    if (length == 0 || unknown || headerSize > kMaxSegmentOffset)
        return 0;
    const uint64_t segment = kHeaderSize + static_cast<uint64_t>(length) + headerSize;
    if (segment + 4 > kMaxSegmentOffset || vk::LoadBE<uint32_t>(sector + segment) != kSegmentId)
        return 0;
    uint64_t segmentSize = 0;
    const int sizeLength =
        ReadVint(sector + segment + 4, kMinAnalyseBytes - (segment + 4), segmentSize, unknown);
    // A segment of unknown size (a live recording) has no end to give.
    if (sizeLength == 0 || unknown)
        return 0;
    uint64_t size = 0;
    if (!vk::CheckedAdd<uint64_t>(segment + 4 + static_cast<uint64_t>(sizeLength), segmentSize,
                                  &size) ||
        (size >> 62) != 0)
        return 0;
    info.m_type = RAW_MKV;
    info.m_size = static_cast<long long>(size);
    return 1;
}
