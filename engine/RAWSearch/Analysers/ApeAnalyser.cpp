// Monkey's Audio files: the descriptor, its seek table and the tags after
// the audio.

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "Carver.h"
#include "MediaLayouts.h"
#include "StreamWindow.h"

VK_RAW_ANALYSER_FACTORY(NewCAPEAnalyser, BruteForce::CAPEAnalyser);

namespace BruteForce {

int CAPEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = RAW_APE;
    return 1;
}

CRawFileInfo* CAPEAnalyser::CreateRawFileInfo() {
    return new CAPERawFileInfo();
}

int CAPERawFileInfo::searchTag(const unsigned char* sector, int length, int zeroTail, int& position,
                               int& zeroCount) {
    (void)zeroTail;
    using namespace ape_layout;
    zeroCount = 0;
    position = 0;
    if (sector == nullptr || length <= 0)
        return 0;
    while (zeroCount < length && sector[length - 1 - zeroCount] == 0)
        ++zeroCount;
    for (int i = length - static_cast<int>(kTagFlags) - 4; i >= 0; --i) {
        if (std::memcmp(sector + i, "APETAGEX", 8) != 0)
            continue;
        const int32_t items = static_cast<int32_t>(vk::LoadLE<uint32_t>(sector + i + kTagItems));
        const int32_t size = static_cast<int32_t>(vk::LoadLE<uint32_t>(sector + i + kTagSize));
        const uint32_t flags = vk::LoadLE<uint32_t>(sector + i + kTagFlags);
        // A tag is at least its 32-byte footer.
        if (items < 0 || items > 0xFFFF || size < static_cast<int32_t>(kTagFooterBytes) ||
            size - static_cast<int32_t>(kTagFooterBytes) > 0x1000000)
            continue;
        const int tagLength = size + ((flags & 0x80000000u) != 0 ? 32 : 0);
        position =
            (flags & 0x20000000u) == 0 ? i + static_cast<int>(kTagFooterBytes) - tagLength : i;
        return tagLength;
    }
    return 0;
}

int CAPERawFileInfo::Finish(long long size, int sectorSize) {
    m_finished = true;
    m_size = std::min<long long>(size, static_cast<long long>(kMaxSize));
    if (m_size > 0)
        SetRawFileName(SectorSpanName(m_startSector, m_size, sectorSize));
    return 1;
}

int CAPERawFileInfo::TagCheck(const unsigned char* sector, int sectorSize,
                              const SearchContext& context) {
    if (m_alignment <= 0 || m_size <= 0 || m_consumed < static_cast<uint64_t>(m_size))
        return 2;
    const bool oldForm = m_version < ape_layout::kNewForm;
    if (context.zeroTail > 0) {
        int position = 0, zeros = 0;
        const int tag = searchTag(sector, sectorSize, context.zeroTail, position, zeros);
        const uint64_t unit = static_cast<uint64_t>(m_alignment);
        long long size = 0;
        if (tag == 0)
            size = static_cast<long long>(
                rawcarve::WholeSectors(m_consumed - static_cast<uint64_t>(zeros), unit) + unit);
        else if (oldForm)
            size = static_cast<long long>(m_consumed) + tag + position - sectorSize;
        else
            size = static_cast<long long>((static_cast<uint64_t>(m_size + tag) / unit + 1) * unit);
        return Finish(size, sectorSize);
    }
    if (oldForm)
        m_size = static_cast<long long>(m_consumed);
    return 2;
}

int CAPERawFileInfo::ScanSeekTable(const unsigned char* from, uint64_t bytes, int sectorSize) {
    const uint64_t scan = std::min<uint64_t>(m_seekLeft, bytes);
    for (uint64_t at = 0; at + 4 <= scan; at += 4) {
        const uint32_t entry = vk::LoadLE<uint32_t>(from + at);
        if (entry == 0 || entry > kMaxConsumed)
            break;
        m_largest = std::max<uint64_t>(m_largest, entry);
    }
    if (static_cast<uint64_t>(sectorSize) + 4 < m_seekLeft) {
        m_seekLeft -= static_cast<uint64_t>(sectorSize);
        return 2;
    }
    m_seekLeft = 0;
    m_size = static_cast<long long>(m_largest);  // where the last frame starts
    return 2;
}

int CAPERawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                 SearchContext& context) {
    using namespace ape_layout;
    if (m_finished)
        return 1;
    if (sector == nullptr || sectorSize <= 0)
        return 2;
    const bool first = !m_started;
    if (first) {
        m_started = true;
        m_version = vk::LoadLE<uint16_t>(sector + kVersion);
        if (m_version < 1000 || m_version > 9999)
            return Finish(0, sectorSize);
    }
    m_consumed += static_cast<uint64_t>(sectorSize);
    if (m_consumed > kMaxConsumed || static_cast<uint64_t>(m_size) > kMaxConsumed)
        return Finish(m_size, sectorSize);
    if (m_size != 0)
        return TagCheck(sector, sectorSize, context);
    const vk::ByteReader r(sector, static_cast<size_t>(sectorSize));
    if (m_seekLeft > 0) {
        ScanSeekTable(sector, static_cast<uint64_t>(sectorSize), sectorSize);
    } else if (first && m_version < kNewForm) {
        const uint16_t flags = r.LE16(kOldFlags);
        const uint16_t channels = r.LE16(kOldChannels);
        m_alignment = channels * ((flags & 1) != 0 ? 8 : (flags & 8) != 0 ? 3 : 2);
        if (m_alignment == 0 || channels < 1 || channels > 2)
            return Finish(0, sectorSize);
        size_t at = kOldOptional;
        uint32_t seekElements = 0;
        if ((flags & 4) != 0)
            at += 4;
        if ((flags & 16) != 0) {
            seekElements = r.LE32(at);
            at += 4;
        }
        if (r.LE32(kOldWavHeader) != 0)
            at += kOldWavHeaderBytes;
        if (!r.Has(at, 4))
            return 2;
        const uint32_t firstFrame = r.LE32(at);
        if (firstFrame < 1 || firstFrame > kMaxConsumed)
            return 2;
        uint64_t left = firstFrame;
        if (m_version <= 3800) {
            const uint64_t less = (flags & 16) != 0 ? seekElements : r.LE32(kOldTotalFrames);
            left = left > less ? left - less : 0;
        }
        m_seekLeft = left;
        if (m_seekLeft > 0)
            ScanSeekTable(sector + at, static_cast<uint64_t>(sectorSize) - at, sectorSize);
    } else if (first || m_headerPending) {
        const uint8_t* start = first ? sector : nullptr;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        if (start == nullptr)
            start = window.At(0, kTerminatingBytes + 4);
        if (start == nullptr)
            return 2;
        const vk::ByteReader h(start, kTerminatingBytes + 4);
        const uint32_t descriptor = h.LE32(kDescriptorBytes);
        if (descriptor < 1)
            return Finish(0, sectorSize);
        const uint8_t* head = window.At(0, static_cast<size_t>(descriptor) + 24);
        // The header after the descriptor may come with the next block.
        m_headerPending = head == nullptr;
        if (head == nullptr)
            return 2;
        const uint16_t bits = vk::LoadLE<uint16_t>(head + descriptor + kBitsPerSample);
        const uint16_t channels = vk::LoadLE<uint16_t>(head + descriptor + kChannels);
        m_alignment = bits / 8 * channels;
        if (m_alignment == 0 || channels < 1 || channels > 2)
            return Finish(0, sectorSize);
        uint64_t size = r.LE64(kFrameDataBytes);
        for (const size_t field :
             {kHeaderBytes, kSeekTableBytes, kWavHeaderBytes, kTerminatingBytes})
            size += r.LE32(field);
        size += descriptor;
        if (size > kMaxSize)
            return Finish(static_cast<long long>(kMaxSize), sectorSize);
        m_size = static_cast<long long>(size);
        if (m_consumed < size)
            return Finish(m_size, sectorSize);
    }
    if (m_size != 0)
        return TagCheck(sector, sectorSize, context);
    return 2;
}

}  // namespace BruteForce
