#include "DrawingAnalysers.h"

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DrawingLayout.h"
#include "RawFileBuffer.h"
#include "StreamWalk.h"

IRawFileAnalyser* NewCEPSAnalyser() {
    return new BruteForce::CEPSAnalyser();
}
IRawFileAnalyser* NewCFH11Analyser() {
    return new BruteForce::CFH11Analyser();
}

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

int ZeroEndRawFileInfo::Finish(long long size) {
    m_size = std::max(0LL, std::min(size, m_maximum));
    m_final = true;
    return 1;
}

void ZeroEndRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber) {
    if (sectorNumber == -1 && m_size > 0)
        m_final = true;
}

int ZeroEndRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                    SearchContext& context) {
    if (m_final)
        return 1;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
        return 2;
    const long long offset = (sectorNumber - m_startSector) * sectorSize;
    if (offset >= m_skipUntil) {
        const rawwalk::StreamView view =
            rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context);
        const uint8_t* previous = offset > 0 ? view.At(offset - sectorSize, sectorSize) : nullptr;
        const long long end = EndAt(sector, sectorSize, offset, previous);
        if (end >= 0)
            return Finish(end);
    }
    if (offset + sectorSize >= m_maximum)
        return Finish(m_maximum);
    m_size = offset + sectorSize;
    return 2;
}

int ZeroEndRawFileInfo::WholeFileSize(CRawFileInfo& info, IStorageDevice* device, long long maximum,
                                      long long skipUntil) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const int n = static_cast<int>(file.GetSectorSize());
    if (n <= 0)
        return 0;
    for (long long offset = 0; offset < maximum; offset += n) {
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
    info.m_size = maximum;
    return 1;
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
    return ZeroEndRawFileInfo::WholeFileSize(info, device, eps_layout::kMaximum);
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
    return ZeroEndRawFileInfo::WholeFileSize(info, device, fh11_layout::kMaximum);
}

}  // namespace BruteForce
