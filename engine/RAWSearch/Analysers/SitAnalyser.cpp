// StuffIt archives, classic and StuffIt X: the length in the classic header,
// the end marker of StuffIt X.
#include <algorithm>
#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "ArchiveAnalysers.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewSITAnalyser, RawSpeed::SITAnalyser);

namespace {

bool IsSit(const unsigned char* sector) {
    return sector != nullptr && std::memcmp(sector + sit_layout::kFit, "fIt", 3) == 0;
}

// Where one of the StuffIt X end markers lies in [from, to) of `data`, with
// its variant (0 to 2), or -1.
long long FindSitxEnd(const uint8_t* data, long long from, long long to, int* variant) {
    for (long long at = std::max(0LL, from); at + 8 <= to; ++at) {
        if (data[at] != 0x02)
            continue;
        for (int v = 0; v < 3; ++v) {
            if (std::memcmp(data + at, sit_layout::kEndMarkers[v], 8) == 0) {
                *variant = v;
                return at;
            }
        }
    }
    return -1;
}

}  // namespace

int FileSITAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsSit(sector))
        return 0;
    info.m_type = sector[sit_layout::kKind] == '!' ? RAW_SITX : RAW_SIT;
    m_type = info.m_type;
    return 1;
}

int FileSITAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace sit_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kLengthBE + 4);
    if (head == nullptr || !IsSit(head))
        return 0;
    if (head[kKind] == ' ') {
        const uint32_t length = vk::LoadBE<uint32_t>(head + kLengthBE);
        info.m_type = RAW_SIT;
        info.m_size = (length & 0x80000000u) != 0 ? 0x82000000LL : length;
        return info.m_size != 0 ? 1 : 0;
    }
    if (head[kKind] != '!')
        return 0;
    info.m_type = RAW_SITX;
    // Sectors that close with two zero bytes are searched for the end
    // marker, from 16 bytes before their start.
    const long long S = file.GetSectorSize();
    std::vector<uint8_t> joined(static_cast<size_t>(S + 16), 0);
    for (long long at = 0; at <= kWholeLimit; at += S) {
        const uint8_t* sector =
            file.GetRawFileBuffer(static_cast<unsigned long long>(at), static_cast<size_t>(S));
        if (sector == nullptr)
            return 0;
        std::memmove(joined.data(), joined.data() + S, 16);
        std::memcpy(joined.data() + 16, sector, static_cast<size_t>(S));
        if (sector[S - 1] != 0 || sector[S - 2] != 0)
            continue;
        int variant = 0;
        const long long found = FindSitxEnd(joined.data(), at == 0 ? 16 : 0, S + 16, &variant);
        if (found >= 0) {
            info.m_size = at - 16 + found + 8 + 4 + variant;
            return 1;
        }
    }
    return 0;
}

int RawSpeed::SITAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || (!IsSit(sector) && std::memcmp(sector, sit_layout::kWebHead, 16) != 0))
        return 0;
    info.m_type = RAW_SIT;
    return 1;
}

int RawSpeed::SITAnalyser::SITRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace sit_layout;
    if (!m_headerRead) {
        m_headerRead = true;
        if (std::memcmp(view.sector, kWebHead, 16) == 0) {
            m_zeroTail = true;
        } else if (view.sector[kKind] == '!') {
            m_type = RAW_SITX;
            m_classic = false;
        }
    }
    const int tail = view.sectorSize - rawwalk::TrailingZeros(view.sector, view.sectorSize);
    if (m_zeroTail) {
        if (view.sectorSize - tail < 9)
            return 2;
        return Sized(view, view.here + tail, "");
    }
    if (m_classic) {
        // Decided on the first sector: the length stands in its header.
        const uint32_t length = vk::LoadBE<uint32_t>(view.sector + kLengthBE);
        m_size = (length & 0x80000000u) == 0 && length != 0 && length < kStreamLimit
                     ? static_cast<long long>(length)
                     : kStreamLimit;
        return 1;
    }
    if (view.sectorSize - tail < 4)
        return 2;
    if (view.here > kStreamLimit)
        return Sized(view, kStreamLimit, "");
    // The marker closes the data: look where the non-zero bytes end, from
    // the sector before when it is held.
    const long long dataEnd = view.here + tail;
    const long long from = std::max(view.first, dataEnd - 19 - 8);
    if (dataEnd - std::max(view.first, view.here - view.sectorSize) <= 20)
        return 2;
    int variant = 0;
    if (FindSitxEnd(view.base, from - view.first, dataEnd - view.first, &variant) < 0)
        return 2;
    return Sized(view, dataEnd, "");
}
