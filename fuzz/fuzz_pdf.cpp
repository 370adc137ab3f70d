// The PDF sizers and the document-information reader over any bytes: the
// whole-file sizer at the first sector, the streaming candidate as the
// signature search feeds it, and the reader on every sector.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Analysers/FilePDFAnalyser.h"
#include "Analysers/PdfTitleAnalyzer.h"
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
    const int sectorSize = (data[0] & 1) != 0 ? 4096 : 512;
    const int blockSectors = 1 + (data[0] >> 1) % 16;
    std::vector<uint8_t> image(data + 1, data + size);
    image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize + sectorSize, 0);
    velmora::test::MemoryStorageDevice device(image, sectorSize);
    {
        FilePDFAnalyser sizer;
        CRawFileInfo info;
        sizer.GetRawFileSize(info, &device);
    }
    for (size_t at = 0; at + 2 * sectorSize <= image.size(); at += sectorSize) {
        FileProperty property;
        BruteForce::PdfTitleAnalyzer reader;
        reader.ObtainPerSecPDFInformation(image.data() + at, sectorSize, true, property);
    }
    velmora::fuzz::RunSignatureSearch(&device, blockSectors);
    CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    return 0;
}
