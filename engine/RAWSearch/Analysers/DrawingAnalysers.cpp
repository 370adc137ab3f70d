#include "DrawingAnalysers.h"

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DrawingLayout.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewCEPSAnalyser, BruteForce::CEPSAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCFH11Analyser, BruteForce::CFH11Analyser);
VK_RAW_ANALYSER_FACTORY(NewCDXFAnalyser, BruteForce::CDXFAnalyser);

namespace BruteForce {

long long ZeroEndRawFileInfo::EndAt(const uint8_t* sector, int sectorSize, long long offset,
                                    const uint8_t* previous) {
    const int zeros = rawwalk::TrailingZeros(sector, sectorSize);
    if (zeros < kZeroWord)
        return -1;
    if (zeros < sectorSize)
        return offset + (sectorSize - zeros);
    // An all-zero sector: the file ended in the one before, which closed
    // with fewer zeros than a word.
    return previous != nullptr ? offset - rawwalk::TrailingZeros(previous, sectorSize) : offset;
}

// Sized while streaming: named by position, as every streaming format is.
int ZeroEndRawFileInfo::Finish(long long size, long long sectorNumber) {
    m_size = std::max(0LL, std::min(size, m_maximum));
    m_final = true;
    SetRawFileName(rawwalk::PositionName(m_startSector, sectorNumber));
    return 1;
}

void ZeroEndRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber) {
    if (sectorNumber == -1 && m_size > 0) {
        m_final = true;
        SetRawFileName(rawwalk::PositionName(m_startSector, m_lastSector));
    }
}

int ZeroEndRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                    SearchContext& context) {
    if (m_final)
        return 1;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
        return 2;
    m_lastSector = sectorNumber;
    const long long offset = (sectorNumber - m_startSector) * sectorSize;
    if (offset >= m_skipUntil) {
        const rawwalk::StreamView view =
            rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context);
        const uint8_t* previous = offset > 0 ? view.At(offset - sectorSize, sectorSize) : nullptr;
        const long long end = EndAt(sector, sectorSize, offset, previous);
        if (end >= 0)
            return Finish(end, sectorNumber);
    }
    if (offset + sectorSize >= m_maximum)
        return Finish(m_maximum, sectorNumber);
    m_size = offset + sectorSize;
    return 2;
}

int ZeroEndRawFileInfo::WholeFileSize(CRawFileInfo& info, IStorageDevice* device, long long maximum,
                                      long long readLimit, long long skipUntil) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const int n = static_cast<int>(file.GetSectorSize());
    if (n <= 0)
        return 0;
    const long long stop = std::min(maximum, readLimit);
    for (long long offset = 0; offset < stop; offset += n) {
        const uint8_t* sector =
            file.GetRawFileBuffer(static_cast<unsigned long long>(offset), static_cast<size_t>(n));
        if (sector == nullptr) {
            // The device ends (or cannot be read) inside the file.
            info.m_size = offset;
            return offset > 0 ? 1 : 0;
        }
        if (offset < skipUntil)
            continue;
        // The sector before is read again only for an all-zero sector.
        const long long end = EndAt(sector, n, offset, nullptr);
        if (end < 0)
            continue;
        long long size = end;
        if (end == offset && offset > 0) {
            const uint8_t* previous = file.GetRawFileBuffer(
                static_cast<unsigned long long>(offset - n), static_cast<size_t>(n));
            if (previous != nullptr)
                size -= rawwalk::TrailingZeros(previous, n);
        }
        info.m_size = std::min(size, maximum);
        return info.m_size > 0 ? 1 : 0;
    }
    info.m_size = stop == maximum ? maximum : 0;
    return info.m_size > 0 ? 1 : 0;
}

long long CEPSAnalyser::BinarySize(const uint8_t* header) {
    using namespace eps_layout;
    if (std::memcmp(header, kBinaryMagic, sizeof(kBinaryMagic)) != 0)
        return 0;
    // The PostScript section is what the file is for; the metafile and TIFF
    // previews are optional. Every section lies after the header.
    const struct {
        size_t offset, length;
    } sections[] = {{kPostScriptOffset, kPostScriptLength},
                    {kMetafileOffset, kMetafileLength},
                    {kTiffOffset, kTiffLength}};
    long long end = 0;
    for (const auto& s : sections) {
        const long long at = vk::LoadLE<uint32_t>(header + s.offset);
        const long long length = vk::LoadLE<uint32_t>(header + s.length);
        if (length == 0)
            continue;
        if (at < static_cast<long long>(kHeaderBytes))
            return 0;
        end = std::max(end, at + length);
    }
    if (vk::LoadLE<uint32_t>(header + kPostScriptLength) == 0)
        return 0;
    return end;
}

int CEPSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace eps_layout;
    if (sector == nullptr)
        return 0;
    if (std::memcmp(sector, kTextHead, kTextHeadBytes) == 0) {
        info.m_type = RAW_EPS;
        return 1;
    }
    const long long size = BinarySize(sector);
    if (size <= 0)
        return 0;
    info.m_type = RAW_EPS;
    info.m_size = size;
    return 1;
}

CRawFileInfo* CEPSAnalyser::CreateRawFileInfo() {
    // A binary file is sized by its header and handed over before it streams.
    return new ZeroEndRawFileInfo(RAW_EPS, eps_layout::kMaximum);
}

int CEPSAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return ZeroEndRawFileInfo::WholeFileSize(info, device, eps_layout::kMaximum,
                                             eps_layout::kWholeFileReadLimit);
}

int CFH11Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace fh11_layout;
    if (sector == nullptr || std::memcmp(sector, kMagic, sizeof(kMagic)) != 0 ||
        std::memcmp(sector + kFixed, kFixedBytes, sizeof(kFixedBytes)) != 0 ||
        std::memcmp(sector + kVersion, "11", 2) != 0)
        return 0;
    info.m_type = RAW_FH11;
    return 1;
}

CRawFileInfo* CFH11Analyser::CreateRawFileInfo() {
    return new ZeroEndRawFileInfo(RAW_FH11, fh11_layout::kMaximum);
}

int CFH11Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return ZeroEndRawFileInfo::WholeFileSize(info, device, fh11_layout::kMaximum,
                                             fh11_layout::kMaximum);
}

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

int CDXFAnalyser::CDXFRawFileInfo::Finish(long long size, long long sectorNumber) {
    m_size = std::max(0LL, std::min(size, dxf_layout::kMaximum));
    m_final = true;
    SetRawFileName(rawwalk::PositionName(m_startSector, sectorNumber));
    return 1;
}

void CDXFAnalyser::CDXFRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber) {
    if (m_absorbed)
        m_analyser = nullptr;
    else if (sectorNumber == -1 && m_size > 0) {
        m_final = true;  // the device ended inside the drawing
        SetRawFileName(rawwalk::PositionName(m_startSector, m_lastSector));
    }
}

int CDXFAnalyser::CDXFRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                               long long sectorNumber, SearchContext& context) {
    using namespace dxf_layout;
    if (m_absorbed) {
        m_size = 0;
        m_analyser = nullptr;
        return 1;
    }
    if (m_final)
        return 1;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
        return 2;
    m_lastSector = sectorNumber;
    const long long offset = (sectorNumber - m_startSector) * sectorSize;
    // A drawing opening with its comment line is a new file; a bare
    // SECTION group at a sector's start inside this one is not.
    if (offset > 0 && context.other != nullptr && context.other->m_startSector == sectorNumber &&
        std::memcmp(sector, kComment, 3) != 0) {
        if (auto* inner = dynamic_cast<CDXFRawFileInfo*>(context.other))
            inner->Absorb();
    }
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
    if (found > 0)
        return Finish(from + found, sectorNumber);
    if (offset + sectorSize >= kMaximum)
        return Finish(kMaximum, sectorNumber);
    m_size = offset + sectorSize;
    return 2;
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
