// RAR archives: the marker block and the chain of blocks after it, to the
// end-of-archive block.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ArchiveAnalysers.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewRARAnalyser, RawSpeed::RARAnalyser);

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

int RawSpeed::RARAnalyser::RARRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace rar_layout;
    if (view.here > kStreamLimit)
        return Sized(view, m_next);
    unsigned low = 0;
    unsigned high = 0;
    while (m_next < view.SectorEnd()) {
        const uint8_t* block = view.At(m_next, kHeadBytes);
        if (block != nullptr && !m_first && classRarSearch::IsEndBlock(block))
            return Sized(view, m_next + static_cast<long long>(kHeadBytes));
        block = view.At(m_next, kProbeBytes);
        if (block == nullptr) {
            if (view.Coming(m_next))
                return 2;
            return Unsized();  // passed unseen: sized whole later
        }
        if ((m_first && block[kType] != 0x73) ||
            !classRarSearch::GetBlockSize(block, kProbeBytes, &low, &high)) {
            return Unsized();  // the chain breaks here: the whole-file road sizes what is whole
        }
        m_first = false;
        m_next += static_cast<long long>(classRarSearch::BitOperation(low, high));
    }
    return 2;
}
