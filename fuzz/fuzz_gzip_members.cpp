// The gzip member walk over any bytes: fed whole and fed in pieces it must
// come to the same state and end, and an end never lies past the bytes fed;
// the streaming candidate and the whole-file sizer run over the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Analysers/GzipMembers.h"
#include "Analysers/ZeroTailAnalysers.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr int kSector = 512;

void Check(bool holds) {
    if (!holds)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1u << 18))
        return 0;
    // The first byte picks the piece size of the second feed.
    const size_t piece = 1 + data[0] % 97;
    const uint8_t* bytes = data + 1;
    const size_t length = size - 1;

    GzipMembers whole;
    whole.Feed(bytes, length);
    whole.EndOfData();
    GzipMembers pieces;
    for (size_t at = 0; at < length; at += piece)
        pieces.Feed(bytes + at, std::min(piece, length - at));
    pieces.EndOfData();
    Check(whole.GetState() == pieces.GetState());
    Check(whole.GetState() == GzipMembers::State::Going || whole.EndOffset() == pieces.EndOffset());
    Check(whole.EndOffset() <= length);

    std::vector<uint8_t> disk(bytes, bytes + length);
    disk.resize((disk.size() + kSector - 1) / kSector * kSector + kSector, 0);
    velmora::test::MemoryStorageDevice device(disk, kSector);
    FileGZAnalyser sizer;
    CRawFileInfo info;
    info.m_startSector = 0;
    sizer.GetRawFileSize(info, &device);

    RawSpeed::GZAnalyzer analyser;
    CRawFileInfo* candidate = analyser.CreateRawFileInfo();
    candidate->m_startSector = 0;
    std::vector<uint8_t> buffer = disk;
    buffer.resize(buffer.size() + CRawFileInfo::kContextSlackBytes, 0);
    const long long sectors = static_cast<long long>(disk.size() / kSector);
    for (long long s = 0; s < sectors; ++s) {
        CRawFileInfo::SearchContext context;
        context.windowFirstSector = 0;
        context.windowEndSector = sectors;
        if (candidate->CalcRawSize(buffer.data() + s * kSector, kSector, s, context) == 1)
            break;
    }
    delete candidate;
    return 0;
}
