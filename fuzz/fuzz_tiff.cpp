// The TIFF walkers over any bytes: the whole-file sizer at the first sector
// and the streaming candidate as the signature search feeds it, with
// directories, links, arrays and maker notes that point anywhere, in both
// byte orders and behind the RAF wrapper.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Analysers/FileTIFAnalyser.h"
#include "FileNode.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "SearchInterfaces.h"
#include "SignatureSearchRun.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMaxImage = 1u << 19;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9 || size > kMaxImage)
        return 0;
    // The first byte picks the sector size and the block size.
    const int sectorSize = (data[0] & 1) != 0 ? 4096 : 512;
    const int blockSectors = 1 + (data[0] >> 1) % 16;
    std::vector<uint8_t> image(data + 1, data + size);
    image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize + sectorSize, 0);
    velmora::test::MemoryStorageDevice device(image, sectorSize);
    {
        FileTIFAnalyser sizer;
        CRawFileInfo info;
        sizer.GetRawFileSize(info, &device);
    }
    velmora::fuzz::RunSignatureSearch(&device, blockSectors);
    CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    return 0;
}
