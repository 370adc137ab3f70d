// LHA archives: "-lh5-", "-lh0-" or "-lhd-" at the first header's method.
// The whole-file sizer walks the headers.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "WholeFileAnalysers.h"

int FileLZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const char* method = reinterpret_cast<const char*>(sector + lzh_layout::kMethod);
    if (std::memcmp(method, "-lh5-", 5) != 0 && std::memcmp(method, "-lh0-", 5) != 0 &&
        std::memcmp(method, "-lhd-", 5) != 0)
        return 0;
    info.m_type = RAW_LZH;
    return 1;
}

int FileLZHAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace lzh_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    uint32_t n = 0;
    bool longForm = false;
    bool retry = false;
    for (int step = 0; step < kMaxSteps; ++step) {
        const uint8_t* h = file.GetRawFileBuffer(n, kHeaderProbe);
        if (h == nullptr) {
            if (n == 0)
                return 0;
            break;
        }
        const char* method = reinterpret_cast<const char*>(h + kMethod);
        const uint32_t headerSize = h[kHeaderSize];
        const uint32_t packed = vk::LoadLE<uint32_t>(h + kPackedSize);
        if (std::memcmp(method, "-lh5-", 5) == 0 || std::memcmp(method, "-lh0-", 5) == 0) {
            n += packed + headerSize + 2;
            if (longForm)
                n -= 2;
            if (n > kMaxOffset)
                break;
            if (!longForm)
                retry = true;
        } else if (std::memcmp(method, "-lhd-", 5) == 0) {
            n += headerSize;
            longForm = true;
        } else if (std::memcmp(method, "-lh7-", 5) == 0) {
            n += packed + headerSize;
            longForm = true;
        } else if (retry) {
            n -= 2;
            retry = false;
        } else {
            if (n == 0)
                return 0;
            break;
        }
    }
    info.m_size = static_cast<long long>(rawcarve::WholeSectors(n, file.GetSectorSize()));
    return 1;
}
