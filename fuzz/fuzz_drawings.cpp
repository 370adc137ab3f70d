// The drawing, XML-head and camera-raw analysers over any bytes: the
// signature search as it streams them, each whole-file sizer from the first
// sector, and the head checks on every sector.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analysers/CameraRawAnalysers.h"
#include "Analysers/DrawingAnalysers.h"
#include "Analysers/XmlHeadAnalysers.h"
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

    for (size_t at = 0; at + static_cast<size_t>(sectorSize) <= image.size();
         at += static_cast<size_t>(sectorSize)) {
        uint8_t* sector = image.data() + at;
        CRawFileInfo info;
        Dunmere::SVGAnalyser::TypeOfHead(sector);
        BruteForce::CEPSAnalyser::BinarySize(sector);
        BruteForce::CDXFAnalyser::IsDrawingHead(sector, static_cast<long long>(image.size() - at),
                                                sectorSize);
        FileMRWAnalyser().AnalyseBuffer(sector, info);
    }
    {
        std::unique_ptr<IRawFileAnalyser> sizers[] = {
            std::make_unique<BruteForce::CEPSAnalyser>(),
            std::make_unique<BruteForce::CFH11Analyser>(),
            std::make_unique<BruteForce::CDXFAnalyser>(),
            std::make_unique<Dunmere::FileX3FAnalyser>(),
        };
        for (auto& sizer : sizers) {
            CRawFileInfo info;
            sizer->GetRawFileSize(info, &device);
        }
        for (RAW_FILE_TYPE type : {RAW_SVG, RAW_GPX, RAW_PLIST, RAW_ENEX}) {
            CRawFileInfo info;
            info.m_type = type;
            Dunmere::FileSVGAnalyser().GetRawFileSize(info, &device);
        }
    }
    velmora::fuzz::RunSignatureSearch(&device, blockSectors);
    CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    return 0;
}
