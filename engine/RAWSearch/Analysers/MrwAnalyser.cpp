// Minolta MRW raw pictures: the header gives the raw data's place and
// dimensions.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "CameraRawAnalysers.h"
#include "DrawingLayout.h"

VK_RAW_ANALYSER_FACTORY(NewFileMRWAnalyser, FileMRWAnalyser);

bool MrwFormat::Size(const vk::ByteReader&, const unsigned char* sector, long long* size) {
    using namespace mrw_layout;
    if (sector == nullptr || std::memcmp(sector, kMagic, sizeof(kMagic)) != 0)
        return false;
    const long long data = static_cast<long long>(vk::LoadBE<uint32_t>(sector + kDataOffsetBE)) + 8;
    const long long pixels =
        static_cast<long long>(vk::LoadBE<uint16_t>(sector + kSensorHeightBE)) *
        vk::LoadBE<uint16_t>(sector + kSensorWidthBE);
    const long long length = data + pixels * sector[kDataBits] / 8;
    if (length <= 8)
        return false;
    *size = length;
    return true;
}
