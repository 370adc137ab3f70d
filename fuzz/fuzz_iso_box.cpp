// The ISO media box walks over any bytes: brand recognition, the walk a
// streaming candidate makes sector by sector (with its EXIF block and
// device name), and the whole-file walk from a device.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Analysers/IsoMediaAnalysers.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr int kSector = 512;

// Offers every sector to the candidate the way the search does, the whole
// input held as one block.
void Stream(CRawFileInfo& candidate, std::vector<uint8_t>& buffer, long long sectors) {
    for (long long s = 0; s < sectors; ++s) {
        CRawFileInfo::SearchContext context;
        context.windowFirstSector = 0;
        context.windowEndSector = sectors;
        unsigned char* sector = buffer.data() + s * kSector;
        int zeros = 0;
        while (zeros < 32 && sector[kSector - 1 - zeros] == 0)
            ++zeros;
        context.zeroTail = zeros / 4 * 4;
        if (candidate.CalcRawSize(sector, kSector, s, context) == 1)
            return;
    }
    candidate.WillBeRemove(nullptr, -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16 || size > (1u << 18))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    const long long sectors = static_cast<long long>((bytes.size() + kSector - 1) / kSector);
    bytes.resize(static_cast<size_t>(sectors) * kSector);
    std::vector<uint8_t> buffer = bytes;
    buffer.resize(buffer.size() + CRawFileInfo::kContextSlackBytes + kSector, 0);

    BruteForce::MovAnalyzer mov;
    BruteForce::Mp4Analyzer mp4;
    BruteForce::C3GPAnalyser gp3;
    for (IRawFileAnalyser* a :
         {static_cast<IRawFileAnalyser*>(&mov), static_cast<IRawFileAnalyser*>(&mp4),
          static_cast<IRawFileAnalyser*>(&gp3)}) {
        CRawFileInfo scratch;
        if (a->AnalyseBuffer(buffer.data(), scratch) == 0)
            continue;
        CRawFileInfo* candidate = a->CreateRawFileInfo();
        candidate->m_type = scratch.m_type;
        candidate->m_analyser = a;
        Stream(*candidate, buffer, sectors);
        delete candidate;
    }
    velmora::test::MemoryStorageDevice device(bytes, kSector);
    FileMP4Analyser whole;
    CRawFileInfo info;
    whole.GetRawFileSize(info, &device);
    return 0;
}
