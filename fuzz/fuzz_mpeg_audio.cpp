// MPEG audio over any bytes: the frame header, MP3 recognition with its
// look-ahead, the streaming candidate (frame chains, ID3 tags, zero fill),
// the whole-file sizer's three roads and the tag texts.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Analysers/Id3Text.h"
#include "Analysers/MP3Analyzer.h"
#include "Analysers/MpegAudioHeader.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr int kSector = 512;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > (1u << 18))
        return 0;
    CMPAHeader header;
    if (header.Init(data) != 0)
        (void)header.CalcFrameSize();

    std::vector<uint8_t> bytes(data, data + size);
    const long long sectors = static_cast<long long>((bytes.size() + kSector - 1) / kSector);
    bytes.resize(static_cast<size_t>(sectors) * kSector);
    std::vector<uint8_t> buffer = bytes;
    buffer.resize(buffer.size() + CRawFileInfo::kContextSlackBytes + kSector, 0);

    BruteForce::MP3Analyzer::ResetLastStartSector();
    BruteForce::MP3Analyzer mp3;
    CRawFileInfo scratch;
    if (mp3.AnalyseBufferEx(buffer.data(), scratch, kSector, 0, 0, sectors) != 0) {
        CRawFileInfo* candidate = mp3.CreateRawFileInfo();
        candidate->m_analyser = &mp3;
        bool finished = false;
        for (long long s = 0; s < sectors && !finished; ++s) {
            CRawFileInfo::SearchContext context;
            context.windowFirstSector = 0;
            context.windowEndSector = sectors;
            unsigned char* sector = buffer.data() + s * kSector;
            int zeros = 0;
            while (zeros < 32 && sector[kSector - 1 - zeros] == 0)
                ++zeros;
            context.zeroTail = zeros / 4 * 4;
            finished = candidate->CalcRawSize(sector, kSector, s, context) == 1;
        }
        if (!finished)
            candidate->WillBeRemove(nullptr, -1);
        delete candidate;
    }
    BruteForce::MP3Analyzer::ResetLastStartSector();

    velmora::test::MemoryStorageDevice device(bytes, kSector);
    FileMP3Analyser whole;
    CRawFileInfo info;
    whole.GetRawFileSize(info, &device);

    Id3TextDecoder text;
    (void)text.FrameText(data, size < 300 ? size : 300, true);
    if (size >= 128)
        (void)text.V1Text(data + 33, 30, data + 3, 30);
    return 0;
}
