// The signature search with every analyser built, over a small disk held in
// memory: registry lookups, streaming candidates, the ring, whole-file
// sizing at the end and the trees; then the file-start test on every sector
// and each whole-file sizer run on the data directly.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analysers/AudioVideoAnalysers.h"
#include "Analysers/FileJPGAnalyser.h"
#include "Analysers/HeaderSizedAnalysers.h"
#include "Analysers/IsoMediaAnalysers.h"
#include "Analysers/MP3Analyzer.h"
#include "Analysers/MediaStreamAnalysers.h"
#include "Analysers/WholeFileAnalysers.h"
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
    {
        FileSectorMap map;
        velmora::fuzz::RunSignatureSearch(&device, blockSectors, &map);
    }
    for (size_t at = 0; at + 4 <= image.size(); at += static_cast<size_t>(sectorSize))
        RawSearchTestFileStart(image.data() + at, static_cast<unsigned>(image.size() - at));

    std::unique_ptr<IRawFileAnalyser> sizers[] = {
        std::make_unique<FileJPGAnalyser>(),
        std::make_unique<FileCPTAnalyser>(),
        std::make_unique<FileCRWAnalyser>(),
        std::make_unique<FileMIDAnalyser>(),
        std::make_unique<FileMDBAnalyser>(),
        std::make_unique<FileLZHAnalyser>(),
        std::make_unique<FileHTMAnalyser>(),
        std::make_unique<FileGZAnalyser>(),
        std::make_unique<FileMP3Analyser>(),
        std::make_unique<FileMP4Analyser>(),
        std::make_unique<Dunmere::FileMPGAnalyser>(),
        std::make_unique<Dunmere::CFileOggAnalyser>(),
        std::make_unique<Dunmere::FileFLVAnalyser>(),
        std::make_unique<Dunmere::FileRM_RMVBAnalyser>(),
        std::make_unique<BruteForce::CAsfAnalyser>(),
        std::make_unique<BruteForce::CM2TSAnalyser>(),
        std::make_unique<RawSpeed::MLvAnalyser>(),
        std::make_unique<RawSpeed::MxfAnalyser>(),
        std::make_unique<CFileAIFAnalyzer>(),
        std::make_unique<FileRIFFAnalyser>(),
    };
    for (auto& sizer : sizers) {
        CRawFileInfo info;
        sizer->GetRawFileSize(info, &device);
    }
    CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    return 0;
}
