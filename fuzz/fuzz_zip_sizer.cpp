// The analyser of ZIP archives: the streaming record walk and end search in the search, the
// whole-file sizer, and the core-properties reader, over a small disk held in memory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Analysers/FileZIPAnalyser.h"
#include "Analysers/OfficeMetadata.h"
#include "FileNode.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "SearchInterfaces.h"
#include "SignatureSearchRun.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMaxImage = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > kMaxImage)
        return 0;
    // The first byte picks the sector size and the block size.
    const int sectorSize = (data[0] & 1) != 0 ? 4096 : 512;
    const int blockSectors = 1 + (data[0] >> 1) % 16;
    std::vector<uint8_t> image(data + 1, data + size);
    image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize + sectorSize, 0);
    velmora::test::MemoryStorageDevice device(image, sectorSize);
    velmora::fuzz::RunSignatureSearch(&device, blockSectors);
    FileZIPAnalyser analyser;
    CRawFileInfo info;
    analyser.GetRawFileSize(info, &device);
    FileProperty property;
    Dunmere::OfficeTagFromXML::ReadCoreProperties(
        std::string(reinterpret_cast<const char*>(data + 1), size - 1), property);
    std::string inflated;
    Dunmere::OfficeTagFromXML::InflateMember(data + 1, size - 1, 8, 10239, inflated);
    CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    return 0;
}
