// DXF drawings: the header section's groups, ended at the EOF group.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "DrawingAnalysers.h"
#include "DrawingLayout.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewCDXFAnalyser, BruteForce::CDXFAnalyser);

namespace BruteForce {

namespace {

// Where the EOF group ends in `data` (`length` bytes, zero tail included),
// searched backwards from the zero tail; 0 when absent.
int EndOfDrawing(const uint8_t* data, int length, const char* end, int endBytes) {
    const int used = RawUtility::Binary_Compare(data, length);
    return RawUtility::FindMagicInBuffer(data, used, 0, reinterpret_cast<const uint8_t*>(end),
                                         endBytes);
}

}  // namespace

bool CDXFAnalyser::IsDrawingHead(const uint8_t* head, long long length, long long sectorSize) {
    using namespace dxf_layout;
    if (head == nullptr || length < static_cast<long long>(kSectionCRLFBytes))
        return false;
    if (std::memcmp(head, kSectionCRLF, kSectionCRLFBytes) == 0)
        return true;
    if (std::memcmp(head, kComment, 3) != 0)
        return false;
    const char* pattern = nullptr;
    size_t patternBytes = 0;
    if (head[kCommentEnd] == '\n') {
        pattern = kSectionLF;
        patternBytes = kSectionLFBytes;
    } else if (head[kCommentEnd] == '\r' && head[kCommentEnd + 1] == '\n') {
        pattern = kSectionCRLF;
        patternBytes = kSectionCRLFBytes;
    } else {
        return false;
    }
    // The group may begin anywhere in the first sector after the comment,
    // and run into the next; text holds no zero byte.
    for (long long at = 0; at < sectorSize && at < length && head[at] != 0; ++at) {
        if (at + static_cast<long long>(patternBytes) > length)
            return false;
        if (std::memcmp(head + at, pattern, patternBytes) == 0)
            return true;
    }
    return false;
}

int CDXFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsDrawingHead(sector, kMinAnalyseBytes, kMinAnalyseBytes))
        return 0;
    info.m_type = RAW_DXF;
    return 1;
}

int CDXFAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                  long long sectorNumber, long long, long long windowEnd) {
    if (sector == nullptr || sectorSize <= 0)
        return 0;
    // The search's buffer holds the rest of the block after the sector.
    const long long held = std::max(1LL, windowEnd - sectorNumber) * sectorSize;
    if (!IsDrawingHead(sector, held, sectorSize))
        return 0;
    info.m_type = RAW_DXF;
    return 1;
}

CDXFAnalyser::CDXFRawFileInfo::CDXFRawFileInfo()
    : AbsorbingCandidate(RAW_DXF, dxf_layout::kMaximum) {}

void CDXFAnalyser::CDXFRawFileInfo::WillBeRemove(unsigned char* sector, long long sectorNumber) {
    if (!DropIfAbsorbed())
        RunningEndCandidate::WillBeRemove(sector, sectorNumber);
}

long long CDXFAnalyser::CDXFRawFileInfo::EndIn(const unsigned char* sector, int sectorSize,
                                               long long sectorNumber, long long offset,
                                               SearchContext& context) {
    using namespace dxf_layout;
    // A drawing opening with its comment line is a new file; a bare
    // SECTION group at a sector's start inside this one is not.
    if (std::memcmp(sector, kComment, 3) != 0)
        AbsorbOpenedAt<CDXFRawFileInfo>(offset, sectorNumber, context);
    if (m_end == nullptr) {
        const bool lf = UsesLineFeeds(sector);
        m_end = lf ? kEndLF : kEndCRLF;
        m_endBytes = static_cast<int>(lf ? kEndLFBytes : kEndCRLFBytes);
    }
    // An EOF group split by the sector's start is found with the sector's
    // last bytes before it, when the search still holds them.
    const rawwalk::StreamView view =
        rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context);
    long long from = offset;
    const long long back = std::min<long long>(offset, m_endBytes - 1);
    if (view.Holds(offset - back, back + sectorSize))
        from = offset - back;
    const int found = EndOfDrawing(view.At(from, offset + sectorSize - from),
                                   static_cast<int>(offset + sectorSize - from), m_end, m_endBytes);
    return found > 0 ? from + found : -1;
}

int CDXFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace dxf_layout;
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const int n = static_cast<int>(file.GetSectorSize());
    const uint8_t* head = file.GetRawFileBuffer(0, 4);
    if (n <= 0 || head == nullptr)
        return 0;
    const bool lf = UsesLineFeeds(head);
    const char* end = lf ? kEndLF : kEndCRLF;
    const int endBytes = static_cast<int>(lf ? kEndLFBytes : kEndCRLFBytes);
    for (long long offset = 0; offset < kMaximum; offset += n) {
        const long long back = std::min<long long>(offset, endBytes - 1);
        const uint8_t* data = file.GetRawFileBuffer(static_cast<unsigned long long>(offset - back),
                                                    static_cast<size_t>(back + n));
        if (data == nullptr) {
            info.m_size = offset;  // the device ends inside the drawing
            return offset > 0 ? 1 : 0;
        }
        const int found = EndOfDrawing(data, static_cast<int>(back + n), end, endBytes);
        if (found > 0) {
            info.m_size = offset - back + found;
            return 1;
        }
    }
    info.m_size = kMaximum;
    return 1;
}

}  // namespace BruteForce
