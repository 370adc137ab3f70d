// tar archives: 512-byte headers ("ustar" at 257) and the members after
// them, to the two zero blocks and the record's padding.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ArchiveAnalysers.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewTARAnalyser, RawSpeed::TARAnalyser);

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
    if (DropIfAbsorbed())
        return;
    if (m_zero >= 0) {
        // The end is known; only the record padding was still being checked.
        m_size = m_zero + static_cast<long long>(tar_layout::kEndBlocks);
    } else if (m_owner != nullptr) {
        m_analyser = &m_owner->WholeFile();
    }
}

int RawSpeed::TARAnalyser::TARRawFileInfo::Finish(const rawwalk::StreamView& view, long long size) {
    return size != 0 ? Sized(view, size) : Unsized();
}

int RawSpeed::TARAnalyser::TARRawFileInfo::Step(const rawwalk::StreamView& view,
                                                SearchContext& context) {
    using namespace tar_layout;
    if (view.here > kStreamLimit)
        return Unsized();
    while (m_zero < 0 && m_next < view.SectorEnd()) {
        const uint8_t* block = view.At(m_next, kBlock);
        if (block == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Unsized();
        }
        unsigned long long memberSize = 0;
        const TarBlock kind = ClassifyTar(block, &memberSize);
        if (kind == TarBlock::Other)
            return Finish(view, m_next);
        if (kind == TarBlock::Zero) {
            m_zero = m_next;
            m_checked = m_next;
            break;
        }
        // A later member that starts this sector was taken for an archive
        // of its own: it is part of this one.
        if (m_next == view.here)
            AbsorbOpenedAt<TARRawFileInfo>(m_next, view.sectorNumber, context);
        unsigned long long next = 0;
        if (!NextHeader(static_cast<unsigned long long>(m_next), memberSize, &next) ||
            next > static_cast<unsigned long long>(kStreamLimit))
            return Unsized();
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
            return Finish(view, end);
    }
    m_checked = std::max(m_checked, upTo);
    if (m_checked >= record)
        return Finish(view, record);
    return 2;
}
