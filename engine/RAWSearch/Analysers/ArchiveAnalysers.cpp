#include "ArchiveAnalysers.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewRARAnalyser, RawSpeed::RARAnalyser);
VK_RAW_ANALYSER_FACTORY(NewTARAnalyser, RawSpeed::TARAnalyser);
VK_RAW_ANALYSER_FACTORY(NewSITAnalyser, RawSpeed::SITAnalyser);
VK_RAW_ANALYSER_FACTORY(NewLZHAnalyser, Dunmere::LZHAnalyser);
VK_RAW_ANALYSER_FACTORY(NewDMGAnalyser, Dunmere::DMGAnalyser);

using rawwalk::PositionName;
using rawwalk::StreamView;
using rawwalk::ViewOf;

// ---------------------------------------------------------------------------
// RAR

bool classRarSearch::IsEndBlock(const unsigned char* block) {
    return block != nullptr && std::memcmp(block, rar_layout::kEndBlock, 7) == 0;
}

bool classRarSearch::GetBlockSize(const unsigned char* block, int available, unsigned* low,
                                  unsigned* high) {
    using namespace rar_layout;
    if (block == nullptr || low == nullptr || high == nullptr || available < 7)
        return false;
    const vk::ByteReader r(block, static_cast<size_t>(available));
    const uint8_t type = r.U8(kType);
    const uint16_t flags = r.LE16(kFlags);
    const uint32_t head = r.LE16(kHeadSize);
    if (head < kHeadBytes)
        return false;
    uint64_t length = 0;
    switch (type) {
        case 0x73:  // archive header
            if (head < 10)
                return false;
            length = head;
            break;
        case 0x74: {  // file header
            if (!r.Has(kHostOs, 1))
                return false;
            uint64_t packed = r.LE32(kDataSize);
            uint64_t unpacked = r.LE32(kUnpackedSize);
            if ((flags & kLargeFile) != 0) {
                // Files of 4 GiB and more keep the high halves after the times.
                if (head < kHighPackedSize + 8 || !r.Has(kHighPackedSize, 8))
                    return false;
                packed |= static_cast<uint64_t>(r.LE32(kHighPackedSize)) << 32;
                unpacked |= static_cast<uint64_t>(r.LE32(kHighPackedSize + 4)) << 32;
            }
            if (unpacked < packed || r.U8(kHostOs) >= 5)
                return false;
            length = head + packed;
            break;
        }
        case 0x75:  // old comment
            if (!r.Has(kDataSize, 2))
                return false;
            length = head + static_cast<uint64_t>(r.LE16(kDataSize));
            break;
        case 0x76:  // old authenticity block
            length = head;
            break;
        case 0x77:  // old sub-block
            if (!r.Has(kSubBlockZero, 1) || r.U8(kSubBlockZero) != 0)
                return false;
            length = head + static_cast<uint64_t>(r.LE32(kDataSize));
            break;
        case 0x78:  // old recovery record
        case 0x7A:  // new sub-block
        case 0x7B:  // end of archive with extra fields
            if (head < 10 || !r.Has(kDataSize, 4))
                return false;
            length = head + static_cast<uint64_t>(r.LE32(kDataSize));
            break;
        default:
            return false;
    }
    *low = static_cast<unsigned>(length & 0xFFFFFFFFu);
    *high = static_cast<unsigned>(length >> 32);
    return true;
}

int FileRARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr ||
        std::memcmp(sector, rar_layout::kMarker, rar_layout::kMarkerBytes) != 0)
        return 0;
    info.m_type = RAW_RAR;
    return 1;
}

// Block after block from the archive header to the first block that is not
// one; the end-of-archive block there counts. A chain that breaks elsewhere
// is sized to its last whole block.
int FileRARAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace rar_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned low = 0;
    unsigned high = 0;
    const uint8_t* head = file.GetRawFileBuffer(kMarkerBytes, kProbeBytes);
    if (head == nullptr || head[kType] != 0x73 ||
        !classRarSearch::GetBlockSize(head, kProbeBytes, &low, &high))
        return 0;
    unsigned long long offset = kMarkerBytes + classRarSearch::BitOperation(low, high);
    while (offset <= static_cast<unsigned long long>(kWholeLimit)) {
        const uint8_t* block = file.GetRawFileBuffer(offset, kHeadBytes);
        if (block == nullptr)
            return 0;
        if (classRarSearch::IsEndBlock(block)) {
            offset += kHeadBytes;
            break;
        }
        const size_t held = std::min<size_t>(file.Available(offset), kProbeBytes);
        if (!classRarSearch::GetBlockSize(block, static_cast<int>(held), &low, &high))
            break;
        offset += classRarSearch::BitOperation(low, high);
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::RARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (m_whole.AnalyseBuffer(sector, info) == 0)
        return 0;
    info.m_type = RAW_RAR;
    return 1;
}

int RawSpeed::RARAnalyser::RARRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace rar_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kStreamLimit) {
        m_size = m_next;
        SetRawFileName(PositionName(m_startSector, sectorNumber));
        return 1;
    }
    unsigned low = 0;
    unsigned high = 0;
    while (m_next < view.SectorEnd()) {
        const uint8_t* block = view.At(m_next, kHeadBytes);
        if (block != nullptr && !m_first && classRarSearch::IsEndBlock(block)) {
            m_size = m_next + static_cast<long long>(kHeadBytes);
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        block = view.At(m_next, kProbeBytes);
        if (block == nullptr) {
            if (view.Coming(m_next))
                return 2;
            m_size = 0;  // passed unseen: sized whole later
            return 1;
        }
        if ((m_first && block[kType] != 0x73) ||
            !classRarSearch::GetBlockSize(block, kProbeBytes, &low, &high)) {
            m_size = 0;  // the chain breaks here: the whole-file road sizes what is whole
            return 1;
        }
        m_first = false;
        m_next += static_cast<long long>(classRarSearch::BitOperation(low, high));
    }
    return 2;
}

// ---------------------------------------------------------------------------
// tar

unsigned long long OctStringToint(const char* field) {
    using namespace tar_layout;
    if (field == nullptr)
        return 0;
    const auto* f = reinterpret_cast<const unsigned char*>(field);
    if ((f[0] & 0x80) != 0) {
        if ((f[0] & 0x40) != 0)
            return ~0ULL;  // negative
        unsigned long long v = f[0] & 0x3F;
        for (size_t i = 1; i < kSizeBytes; ++i) {
            if (v > (~0ULL >> 8))
                return ~0ULL;
            v = (v << 8) | f[i];
        }
        return v;
    }
    size_t i = 0;
    while (i < kSizeBytes && f[i] == ' ')
        ++i;
    unsigned long long v = 0;
    for (; i < kSizeBytes && f[i] >= '0' && f[i] <= '7'; ++i)
        v = (v << 3) | static_cast<unsigned>(f[i] - '0');
    return v;
}

namespace {

enum class TarBlock { Member, Zero, Other };

TarBlock ClassifyTar(const uint8_t* block, unsigned long long* memberSize) {
    using namespace tar_layout;
    if (std::memcmp(block + kMagic, "ustar", 5) == 0) {
        *memberSize = OctStringToint(reinterpret_cast<const char*>(block + kSize));
        return TarBlock::Member;
    }
    for (size_t i = 0; i < kBlock; ++i) {
        if (block[i] != 0)
            return TarBlock::Other;
    }
    return TarBlock::Zero;
}

// The header after a member: its data in whole 512-byte blocks.
bool NextHeader(unsigned long long at, unsigned long long memberSize, unsigned long long* next) {
    using namespace tar_layout;
    if (memberSize > (1ULL << 62))
        return false;
    const unsigned long long data = (memberSize + kBlock - 1) / kBlock * kBlock;
    *next = at + kBlock + data;
    return true;
}

unsigned long long RecordEnd(unsigned long long end) {
    const auto record = static_cast<unsigned long long>(tar_layout::kRecord);
    return (end + record - 1) / record * record;
}

}  // namespace

int FileTARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector + tar_layout::kMagic, "ustar", 5) != 0)
        return 0;
    info.m_type = RAW_TAR;
    return 1;
}

// Header after header, over members of any size (folders and empty files
// have none), to the two zero blocks that end the archive; writers then pad
// it with zeros to a whole record of 10 KiB, which is kept when it is there.
int FileTARAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace tar_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned long long at = 0;
    while (at <= static_cast<unsigned long long>(kWholeLimit)) {
        const uint8_t* block = file.GetRawFileBuffer(at, kBlock);
        if (block == nullptr)
            break;
        unsigned long long memberSize = 0;
        const TarBlock kind = ClassifyTar(block, &memberSize);
        if (kind == TarBlock::Other)
            break;
        if (kind == TarBlock::Zero) {
            const unsigned long long end = at + kEndBlocks;
            const unsigned long long record = RecordEnd(end);
            unsigned long long zeroTo = at;
            while (zeroTo < record) {
                const uint8_t* p = file.GetRawFileBuffer(zeroTo);
                if (p == nullptr)
                    break;
                const size_t run =
                    std::min<unsigned long long>(file.Available(zeroTo), record - zeroTo);
                size_t i = 0;
                while (i < run && p[i] == 0)
                    ++i;
                zeroTo += i;
                if (i < run)
                    break;
            }
            info.m_size = static_cast<long long>(zeroTo >= record ? record : end);
            return 1;
        }
        if (!NextHeader(at, memberSize, &at))
            break;
    }
    if (at == 0)
        return 0;
    info.m_size = static_cast<long long>(at);
    return 1;
}

int RawSpeed::TARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (m_whole.AnalyseBuffer(sector, info) == 0)
        return 0;
    info.m_type = RAW_TAR;
    return 1;
}

void RawSpeed::TARAnalyser::TARRawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (m_absorbed) {
        m_analyser = nullptr;
    } else if (m_zero >= 0) {
        // The end is known; only the record padding was still being checked.
        m_size = m_zero + static_cast<long long>(tar_layout::kEndBlocks);
    } else if (m_owner != nullptr) {
        m_analyser = &m_owner->WholeFile();
    }
}

int RawSpeed::TARAnalyser::TARRawFileInfo::Finish(long long size, long long sectorNumber) {
    m_size = size;
    if (size != 0)
        SetRawFileName(PositionName(m_startSector, sectorNumber));
    return 1;
}

int RawSpeed::TARAnalyser::TARRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace tar_layout;
    if (m_absorbed) {
        m_size = 0;
        m_analyser = nullptr;
        return 1;
    }
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kStreamLimit)
        return Finish(0, sectorNumber);
    while (m_zero < 0 && m_next < view.SectorEnd()) {
        const uint8_t* block = view.At(m_next, kBlock);
        if (block == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Finish(0, sectorNumber);
        }
        unsigned long long memberSize = 0;
        const TarBlock kind = ClassifyTar(block, &memberSize);
        if (kind == TarBlock::Other)
            return Finish(m_next, sectorNumber);
        if (kind == TarBlock::Zero) {
            m_zero = m_next;
            m_checked = m_next;
            break;
        }
        // A later member that starts this sector was taken for an archive
        // of its own: it is part of this one.
        if (m_next == view.here && m_next != 0 && context.other != nullptr &&
            context.other->m_startSector == sectorNumber) {
            if (auto* nested = dynamic_cast<TARRawFileInfo*>(context.other))
                nested->Absorb();
        }
        unsigned long long next = 0;
        if (!NextHeader(static_cast<unsigned long long>(m_next), memberSize, &next) ||
            next > static_cast<unsigned long long>(kStreamLimit))
            return Finish(0, sectorNumber);
        m_next = static_cast<long long>(next);
    }
    if (m_zero < 0)
        return 2;
    // After the end: zeros up to the end of the record?
    const long long end = m_zero + static_cast<long long>(kEndBlocks);
    const long long record =
        static_cast<long long>(RecordEnd(static_cast<unsigned long long>(end)));
    const long long upTo = std::min(record, std::min(view.end, view.SectorEnd()));
    for (long long at = std::max(m_checked, view.first); at < upTo; ++at) {
        if (view.base[at - view.first] != 0)
            return Finish(end, sectorNumber);
    }
    m_checked = std::max(m_checked, upTo);
    if (m_checked >= record)
        return Finish(record, sectorNumber);
    return 2;
}

// ---------------------------------------------------------------------------
// LHA

namespace {

bool IsLzhMethod(const uint8_t* method) {
    if (method[0] != '-' || method[1] != 'l' || method[4] != '-')
        return false;
    const uint8_t kind = method[2];
    const uint8_t variant = method[3];
    if (kind == 'h')
        return (variant >= '0' && variant <= '7') || variant == 'd';
    return kind == 'z' && (variant == 's' || variant == '4' || variant == '5');
}

}  // namespace

int Dunmere::LZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const char* method = reinterpret_cast<const char*>(sector + lzh_stream_layout::kMethod);
    if (std::memcmp(method, "-lh5-", 5) != 0 && std::memcmp(method, "-lh0-", 5) != 0 &&
        std::memcmp(method, "-lhd-", 5) != 0 && std::memcmp(method, "-lh7-", 5) != 0)
        return 0;
    info.m_type = RAW_LZH;
    return 1;
}

void Dunmere::LZHAnalyser::LZHRawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (m_absorbed)
        m_analyser = nullptr;
    else if (m_owner != nullptr)
        m_analyser = &m_owner->WholeFile();
}

// Member after member by the header's level: levels 0 and 1 count the
// header from its third byte, level 2 whole; the archive closes with a zero
// byte.
int Dunmere::LZHAnalyser::LZHRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                      long long sectorNumber,
                                                      SearchContext& context) {
    using namespace lzh_stream_layout;
    if (m_absorbed) {
        m_size = 0;
        m_analyser = nullptr;
        return 1;
    }
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    auto finish = [&](long long size) {
        m_size = size;
        SetRawFileName(PositionName(m_startSector, sectorNumber));
        return 1;
    };
    if (view.here >= 10 * kLimit)
        return finish(kLimit);
    for (int n = 0; n < kMaxHeadersPerSector && m_walk < view.SectorEnd(); ++n) {
        const uint8_t* first = view.At(m_walk, 1);
        if (first != nullptr && *first == 0)
            return finish(m_walk + 1);
        const uint8_t* h = view.At(m_walk, kProbeBytes);
        if (h == nullptr) {
            if (view.Coming(m_walk))
                return 2;
            m_size = 0;
            return 1;
        }
        if (!IsLzhMethod(h + kMethod))
            return finish(m_walk);
        if (m_walk == view.here && m_walk != 0 && context.other != nullptr &&
            context.other->m_startSector == sectorNumber) {
            if (auto* nested = dynamic_cast<LZHRawFileInfo*>(context.other))
                nested->Absorb();
        }
        const uint64_t packed = vk::LoadLE<uint32_t>(h + kPackedSize);
        uint64_t length = 0;
        switch (h[kLevel]) {
            case 0:
            case 1:
                length = 2 + static_cast<uint64_t>(h[kHeaderSize]) + packed;
                break;
            case 2:
                length = static_cast<uint64_t>(vk::LoadLE<uint16_t>(h + kHeaderSize)) + packed;
                break;
            default:
                return finish(m_walk);
        }
        if (length == 0)
            return finish(m_walk);
        m_walk += static_cast<long long>(length);
    }
    return 2;
}

// ---------------------------------------------------------------------------
// Disk images that begin with a bzip2 stream

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

int Dunmere::DMGAnalyser::DMGRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                      long long sectorNumber,
                                                      SearchContext& context) {
    using namespace dmg_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here >= 10 * kStreamLimit) {
        m_size = kStreamLimit;
        SetRawFileName(PositionName(m_startSector, sectorNumber));
        return 1;
    }
    if (rawwalk::TrailingZeros(sector, sectorSize) < 8)
        return 2;
    // The trailer ends in this sector: it lies in it or begins in the one
    // before.
    const long long from = std::max(view.first, view.here - sectorSize);
    const long long found =
        FindTrailer(view.base, from - view.first, view.SectorEnd() - 8 - view.first,
                    view.SectorEnd() - view.first);
    if (found < 0)
        return 2;
    m_size = view.first + found + static_cast<long long>(kTrailerBytes);
    SetRawFileName(PositionName(m_startSector, sectorNumber));
    return 1;
}

// ---------------------------------------------------------------------------
// StuffIt

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

int RawSpeed::SITAnalyser::SITRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace sit_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (!m_headerRead) {
        m_headerRead = true;
        if (std::memcmp(sector, kWebHead, 16) == 0) {
            m_zeroTail = true;
        } else if (sector[kKind] == '!') {
            m_type = RAW_SITX;
            m_classic = false;
        }
    }
    const int tail = sectorSize - rawwalk::TrailingZeros(sector, sectorSize);
    if (m_zeroTail) {
        if (sectorSize - tail < 9)
            return 2;
        m_size = view.here + tail;
        SetRawFileName(PositionName(m_startSector, sectorNumber, ""));
        return 1;
    }
    if (m_classic) {
        // Decided on the first sector: the length stands in its header.
        const uint32_t length = vk::LoadBE<uint32_t>(sector + kLengthBE);
        m_size = (length & 0x80000000u) == 0 && length != 0 && length < kStreamLimit
                     ? static_cast<long long>(length)
                     : kStreamLimit;
        return 1;
    }
    if (sectorSize - tail < 4)
        return 2;
    if (view.here > kStreamLimit) {
        m_size = kStreamLimit;
        SetRawFileName(PositionName(m_startSector, sectorNumber, ""));
        return 1;
    }
    // The marker closes the data: look where the non-zero bytes end, from
    // the sector before when it is held.
    const long long dataEnd = view.here + tail;
    const long long from = std::max(view.first, dataEnd - 19 - 8);
    if (dataEnd - std::max(view.first, view.here - sectorSize) <= 20)
        return 2;
    int variant = 0;
    if (FindSitxEnd(view.base, from - view.first, dataEnd - view.first, &variant) < 0)
        return 2;
    m_size = dataEnd;
    SetRawFileName(PositionName(m_startSector, sectorNumber, ""));
    return 1;
}
