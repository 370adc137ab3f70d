// Disk images that begin with a bzip2 stream: ended by their 512-byte
// "koly" trailer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "ArchiveAnalysers.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewDMGAnalyser, Dunmere::DMGAnalyser);

namespace {

bool IsDmgHead(const unsigned char* sector) {
    return sector != nullptr && std::memcmp(sector, "BZh11AY&SY", dmg_layout::kHeadBytes) == 0;
}

// The first UDIF trailer that begins in [from, to) of the bytes at `data`
// (whose 512 bytes must be readable), or -1.
long long FindTrailer(const uint8_t* data, long long from, long long to, long long readable) {
    for (long long at = std::max(0LL, from); at < to; ++at) {
        if (at + static_cast<long long>(dmg_layout::kTrailerBytes) > readable)
            break;
        if (data[at] == 'k' && FileDMGAnalyser::IsTrailer(data + at))
            return at;
    }
    return -1;
}

}  // namespace

bool FileDMGAnalyser::IsTrailer(const uint8_t* p) {
    using namespace dmg_layout;
    return std::memcmp(p, "koly", 4) == 0 && vk::LoadBE<uint32_t>(p + kTrailerVersionBE) == 4 &&
           vk::LoadBE<uint32_t>(p + kTrailerSizeBE) == kTrailerBytes;
}

int FileDMGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsDmgHead(sector))
        return 0;
    info.m_type = RAW_DMG;
    return 1;
}

// The image ends with its 512-byte trailer, whose last bytes are zero: a
// sector that closes with zero fill is where it may end.
int FileDMGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace dmg_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const long long S = file.GetSectorSize();
    std::vector<uint8_t> joined(static_cast<size_t>(2 * S + kTrailerBytes), 0);
    bool havePrevious = false;
    for (long long at = 0; at <= kWholeLimit; at += S) {
        const uint8_t* sector =
            file.GetRawFileBuffer(static_cast<unsigned long long>(at), static_cast<size_t>(S));
        if (sector == nullptr)
            return 0;
        if (at == 0 && !IsDmgHead(sector))
            return 0;
        // joined: the sector before, this one, then zeros.
        std::memmove(joined.data(), joined.data() + S, static_cast<size_t>(S));
        std::memcpy(joined.data() + S, sector, static_cast<size_t>(S));
        if (rawwalk::TrailingZeros(sector, static_cast<int>(S)) >= 8) {
            // A trailer that ends in this sector.
            const long long found =
                FindTrailer(joined.data(), havePrevious ? 0 : S, 2 * S - 8, 2 * S);
            if (found >= 0) {
                info.m_size = at - S + found + static_cast<long long>(kTrailerBytes);
                return 1;
            }
        }
        havePrevious = true;
    }
    return 0;
}

int Dunmere::DMGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsDmgHead(sector))
        return 0;
    info.m_type = RAW_DMG;
    return 1;
}

int Dunmere::DMGAnalyser::DMGRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace dmg_layout;
    if (view.here >= 10 * kStreamLimit)
        return Sized(view, kStreamLimit);
    if (rawwalk::TrailingZeros(view.sector, view.sectorSize) < 8)
        return 2;
    // The trailer ends in this sector: it lies in it or begins in the one
    // before.
    const long long from = std::max(view.first, view.here - view.sectorSize);
    const long long found =
        FindTrailer(view.base, from - view.first, view.SectorEnd() - 8 - view.first,
                    view.SectorEnd() - view.first);
    if (found < 0)
        return 2;
    return Sized(view, view.first + found + static_cast<long long>(kTrailerBytes));
}
