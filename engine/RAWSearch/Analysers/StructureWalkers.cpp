#include "StructureWalkers.h"

#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewPNGAnalyser, RawSpeed::PNGAnalyser);
VK_RAW_ANALYSER_FACTORY(NewOneAnalyser, RawSpeed::OneAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCMDBAnalyser, RawSpeed::CMDBAnalyser);
VK_RAW_ANALYSER_FACTORY(NewPSPAnalyser, RawSpeed::PSPAnalyser);
VK_RAW_ANALYSER_FACTORY(NewPSDAnalyser, RawSpeed::PSDAnalyser);
VK_RAW_ANALYSER_FACTORY(NewWpgAnalyser, RawSpeed::WpgAnalyser);
VK_RAW_ANALYSER_FACTORY(NewInddAnalyser, RawSpeed::InddAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCGifAnalyser, BruteForce::CGifAnalyser);

using rawwalk::PositionName;
using rawwalk::StreamView;
using rawwalk::ViewOf;

namespace {

bool IsChunkType(const uint8_t* type) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = type[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// PNG

int FilePNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr uint8_t kTail[4] = {0x0D, 0x0A, 0x1A, 0x0A};
    if (sector == nullptr || std::memcmp(sector + png_layout::kSignatureTail, kTail, 4) != 0)
        return 0;
    info.m_type = RAW_PNG;
    return 1;
}

int FilePNGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace png_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kHeightBE + 4);
    if (head == nullptr || std::memcmp(head + kFirstType, "IHDR", 4) != 0)
        return 0;
    const uint32_t width = vk::LoadBE<uint32_t>(head + kWidthBE);
    const uint32_t height = vk::LoadBE<uint32_t>(head + kHeightBE);
    if (width == 0 || height == 0 || width >= 0x80000000u || height >= 0x80000000u)
        return 0;
    unsigned long long offset = vk::LoadBE<uint32_t>(head + kFirstLengthBE) + kAfterHeader;
    while (offset <= static_cast<unsigned long long>(kWholeLimit)) {
        const uint8_t* chunk = file.GetRawFileBuffer(offset, kChunkHead);
        if (chunk == nullptr)
            break;
        const uint32_t length = vk::LoadBE<uint32_t>(chunk);
        if (length > kWholeLimit)
            break;
        const bool end = std::memcmp(chunk + 4, "IEND", 4) == 0;
        offset += length + kChunkExtra;
        if (end)
            break;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::PNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    return m_whole.AnalyseBuffer(sector, info);
}

// Chunk after chunk to "IEND"; a chunk whose type is not four letters means
// the walk has lost the file, and the whole-file road takes over.
int RawSpeed::PNGAnalyser::PNGRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace png_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kStreamLimit) {
        m_size = 0;
        return 1;
    }
    if (m_next < 0)
        m_next =
            static_cast<long long>(vk::LoadBE<uint32_t>(sector + kFirstLengthBE)) + kAfterHeader;
    while (m_next <= view.SectorEnd()) {
        const uint8_t* chunk = view.At(m_next, kChunkHead);
        if (chunk == nullptr) {
            if (view.Coming(m_next))
                return 2;
            m_size = 0;
            return 1;
        }
        if (!IsChunkType(chunk + 4)) {
            m_size = 0;
            return 1;
        }
        const long long next = m_next + vk::LoadBE<uint32_t>(chunk) + kChunkExtra;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) {
            m_size = next;
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        m_next = next;
    }
    return 2;
}

// ---------------------------------------------------------------------------
// OneNote

unsigned long long RawSpeed::OneAnalyser::FragmentLength(const uint8_t* fragment) {
    const uint64_t length = vk::LoadLE<uint64_t>(fragment + one_layout::kLength);
    return length != 0 ? length : vk::LoadLE<uint64_t>(fragment + one_layout::kLegacyLength);
}

namespace {

bool HasOneGuid(const uint8_t* fragment) {
    return std::memcmp(fragment + one_layout::kGuidTailAt, one_layout::kGuidTail, 12) == 0;
}

}  // namespace

int FileONEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !HasOneGuid(sector))
        return 0;
    info.m_type = RAW_ONE;
    return 1;
}

int FileONEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace one_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned long long offset = 0;
    while (offset <= static_cast<unsigned long long>(kWholeLimit)) {
        const uint8_t* fragment = file.GetRawFileBuffer(offset, kProbeBytes);
        if (fragment == nullptr || !HasOneGuid(fragment))
            break;
        const unsigned long long length = RawSpeed::OneAnalyser::FragmentLength(fragment);
        if (length == 0 || length > static_cast<unsigned long long>(kWholeLimit)) {
            offset = kWholeLimit;
            break;
        }
        offset += length;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::OneAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    return m_whole.AnalyseBuffer(sector, info);
}

int RawSpeed::OneAnalyser::ONERawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace one_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (m_next < 0) {
        const uint8_t* head = view.At(0, kProbeBytes);
        if (head == nullptr)
            return view.Coming(0) ? 2 : 1;
        m_next = static_cast<long long>(FragmentLength(head));
        if (m_next <= 0 || m_next > kStreamLimit) {
            m_size = 0;
            return 1;
        }
    }
    if (view.here > kStreamLimit) {
        m_size = 0;
        return 1;
    }
    while (m_next <= view.SectorEnd()) {
        const uint8_t* fragment = view.At(m_next, kGuidTailAt + 12);
        if (fragment == nullptr) {
            if (view.Coming(m_next))
                return 2;
            m_size = 0;
            return 1;
        }
        if (!HasOneGuid(fragment)) {
            m_size = m_next;
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        fragment = view.At(m_next, kProbeBytes);
        if (fragment == nullptr)
            return view.Coming(m_next) ? 2 : 1;
        const unsigned long long length = FragmentLength(fragment);
        if (length == 0 || length > static_cast<unsigned long long>(kStreamLimit) ||
            m_next + static_cast<long long>(length) > kStreamLimit) {
            m_size = 0;
            return 1;
        }
        m_next += static_cast<long long>(length);
    }
    return 2;
}

// ---------------------------------------------------------------------------
// Jet and ACE databases

int RawSpeed::CMDBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    return m_whole.AnalyseBuffer(sector, info);
}

int RawSpeed::CMDBAnalyser::CMDBRawFileInfo::Finish(long long size, long long sectorNumber) {
    m_size = size;
    SetRawFileName(PositionName(m_startSector, sectorNumber));
    return 1;
}

// Page after page: a page of a database begins with its kind (1 to 9) and
// 01; empty pages are counted, and a long run of them, or a page of
// something else, ends the database.
int RawSpeed::CMDBAnalyser::CMDBRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                         long long sectorNumber, SearchContext&) {
    using namespace jet_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const long long d = (sectorNumber - m_startSector) * sectorSize;
    if (d < kPage || d % kPage != 0)
        return 2;
    if (d > kLimit)
        return Finish(d, sectorNumber);
    if (!m_pageCheck) {
        if (rawwalk::TrailingZeros(sector, sectorSize) >= kZeroTailBytes)
            return Finish(d, sectorNumber);
        return 2;
    }
    const uint16_t head = vk::LoadLE<uint16_t>(sector);
    bool bad = false;
    if ((head & 0xFF00) == 0x0100 && (head & 0xFF) >= 1 && (head & 0xFF) <= 9) {
        m_emptyPages = 0;
    } else if (head == 0) {
        ++m_emptyPages;
    } else if (d == kPage) {
        m_pageCheck = false;  // no page structure here: the zero fill decides
        return 2;
    } else {
        bad = true;
    }
    if (m_emptyPages <= kMostEmptyPages && !bad)
        return 2;
    // The database ends where the empty pages before this one begin: this
    // page is the last of a long run, or another file's.
    const long long run = bad ? m_emptyPages : m_emptyPages - 1;
    return Finish(d - run * kPage, sectorNumber);
}

// ---------------------------------------------------------------------------
// Paint Shop Pro

namespace {

bool IsPsp(const uint8_t* sector) {
    static constexpr char kSignature[psp_layout::kSignatureBytes] =
        "Paint Shop Pro Image File\n\x1a\0\0\0\0";
    return sector != nullptr && std::memcmp(sector, kSignature, psp_layout::kSignatureBytes) == 0;
}

bool IsPspBlock(const uint8_t* p) {
    return std::memcmp(p, psp_layout::kBlockHead, 4) == 0;
}

}  // namespace

int FilePSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsPsp(sector))
        return 0;
    info.m_type = RAW_PSP;
    return 1;
}

int FilePSPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace psp_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned long long offset = kFirstBlock;
    while (true) {
        const uint8_t* block = file.GetRawFileBuffer(offset, kBlockHeadBytes);
        if (block == nullptr)
            return 0;
        if (!IsPspBlock(block))
            break;
        offset += vk::LoadLE<uint32_t>(block + kBlockLength) + kBlockHeadBytes;
        if (offset > static_cast<unsigned long long>(kWholeLimit)) {
            info.m_size = static_cast<long long>(offset);
            return 1;
        }
    }
    if (offset < static_cast<unsigned long long>(kSmallest))
        return 0;
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int RawSpeed::PSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    return m_whole.AnalyseBuffer(sector, info);
}

int RawSpeed::PSPAnalyser::PSPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace psp_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kStreamLimit) {
        m_size = m_next;
        SetRawFileName(PositionName(m_startSector, sectorNumber, "."));
        return 1;
    }
    // A block that begins within 10 bytes of this sector's end is read with it.
    while (m_next < view.SectorEnd() + kBlockHeadBytes) {
        const uint8_t* block = view.At(m_next, kBlockHeadBytes);
        if (block == nullptr) {
            if (view.Coming(m_next))
                return 2;
            m_size = 0;
            return 1;
        }
        if (!IsPspBlock(block)) {
            m_size = m_next;
            SetRawFileName(PositionName(m_startSector, sectorNumber, "."));
            return 1;
        }
        m_next +=
            static_cast<long long>(vk::LoadLE<uint32_t>(block + kBlockLength)) + kBlockHeadBytes;
    }
    return 2;
}

// ---------------------------------------------------------------------------
// Photoshop

namespace {

bool IsPsdHeader(const uint8_t* sector) {
    static constexpr uint8_t kZeros[6] = {};
    return sector != nullptr && vk::LoadBE<uint16_t>(sector + psd_layout::kVersionBE) == 1 &&
           std::memcmp(sector + psd_layout::kReserved, kZeros, 6) == 0;
}

}  // namespace

unsigned long long RawSpeed::PSDAnalyser::RawImageBytes(uint32_t height, uint16_t channels,
                                                        uint32_t width, uint16_t depth) {
    const unsigned long long row = (static_cast<unsigned long long>(width) * depth + 7) / 8;
    const unsigned long long rows = static_cast<unsigned long long>(height) * channels;
    if (row != 0 && rows > (~0ULL >> 1) / row)
        return 0;
    return rows * row;
}

int FilePSDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = RAW_PSD;
    return 1;
}

// The header, the three sections by their lengths, then the image data:
// raw, or run-length coded with a byte count per row.
int FilePSDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace psd_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kAfterColourMode);
    if (head == nullptr || !IsPsdHeader(head))
        return 0;
    const uint16_t channels = vk::LoadBE<uint16_t>(head + kChannelsBE);
    const uint32_t height = vk::LoadBE<uint32_t>(head + kHeightBE);
    const uint32_t width = vk::LoadBE<uint32_t>(head + kWidthBE);
    const uint16_t depth = vk::LoadBE<uint16_t>(head + kDepthBE);
    unsigned long long offset = vk::LoadBE<uint32_t>(head + kColourModeLengthBE) +
                                static_cast<unsigned long long>(kAfterColourMode);
    for (int section = 0; section < 2; ++section) {
        const uint8_t* length = file.GetRawFileBuffer(offset, 4);
        if (length == nullptr)
            return 0;
        offset += vk::LoadBE<uint32_t>(length) + 4ULL;
    }
    const uint8_t* compression = file.GetRawFileBuffer(offset, 2);
    if (compression == nullptr)
        return 0;
    const uint16_t kind = vk::LoadBE<uint16_t>(compression);
    offset += 2;
    const unsigned long long rows = static_cast<unsigned long long>(height) * channels;
    if (kind == 1) {
        if (rows == 0 || offset > static_cast<unsigned long long>(kWholeLimit)) {
            info.m_size = static_cast<long long>(offset);
            return 1;
        }
        unsigned long long sum = 0;
        for (unsigned long long r = 0; r < rows; ++r) {
            const uint8_t* count = file.GetRawFileBuffer(offset, 2);
            if (count == nullptr)
                return 0;
            sum += vk::LoadBE<uint16_t>(count);
            offset += 2;
            if (offset > static_cast<unsigned long long>(kWholeLimit))
                break;
        }
        info.m_size = static_cast<long long>(offset + sum);
        return 1;
    }
    if (kind == 0) {
        const unsigned long long data =
            RawSpeed::PSDAnalyser::RawImageBytes(height, channels, width, depth);
        if (data > (1ULL << 40))
            return 0;
        info.m_size = static_cast<long long>(offset + data);
        return 1;
    }
    return 0;
}

int RawSpeed::PSDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsPsdHeader(sector))
        return 0;
    info.m_type = RAW_PSD;
    return 1;
}

// The sections are stepped over by their lengths. Raw image data then gives
// the end exactly; run-length data is sized by the whole-file road, which
// reads its row counts; other data ends at the zero fill after it.
int RawSpeed::PSDAnalyser::PSDRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                       long long sectorNumber,
                                                       SearchContext& context) {
    using namespace psd_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > 5 * kStreamLimit) {
        m_size = 0;
        return 1;
    }
    if (sectorNumber == m_startSector) {
        m_channels = vk::LoadBE<uint16_t>(sector + kChannelsBE);
        m_height = vk::LoadBE<uint32_t>(sector + kHeightBE);
        m_width = vk::LoadBE<uint32_t>(sector + kWidthBE);
        m_depth = vk::LoadBE<uint16_t>(sector + kDepthBE);
    }
    while (m_section < 4 && m_walk < view.SectorEnd()) {
        const uint8_t* field = view.At(m_walk, 4);
        if (field == nullptr) {
            if (view.Coming(m_walk))
                return 2;
            m_size = 0;
            return 1;
        }
        if (m_section < 3) {
            m_walk += 4 + static_cast<long long>(vk::LoadBE<uint32_t>(field));
            ++m_section;
            continue;
        }
        const uint16_t kind = vk::LoadBE<uint16_t>(field);
        m_section = 4;
        if (kind == 0) {
            const unsigned long long data = RawImageBytes(m_height, m_channels, m_width, m_depth);
            if (data == 0 || data > static_cast<unsigned long long>(kStreamLimit)) {
                m_size = 0;
                return 1;
            }
            m_end = m_walk + 2 + static_cast<long long>(data);
        } else if (kind == 1) {
            m_size = 0;  // the row counts are read whole
            return 1;
        } else {
            m_guess = true;
            m_walk += 2;
        }
    }
    if (m_section < 4)
        return 2;
    if (m_end >= 0) {
        if (m_end > view.SectorEnd())
            return 2;
        m_size = m_end;
        SetRawFileName(PositionName(m_startSector, sectorNumber, ""));
        return 1;
    }
    if (m_walk >= view.SectorEnd() || rawwalk::TrailingZeros(sector, sectorSize) < 8)
        return 2;
    m_size = view.here + sectorSize - rawwalk::TrailingZeros(sector, sectorSize);
    SetRawFileName(PositionName(m_startSector, sectorNumber, ""));
    return 1;
}

// ---------------------------------------------------------------------------
// WordPerfect graphics

int RawSpeed::WpgAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr uint8_t kHead[4] = {0x77, 0x70, 0x67, 0x00};
    if (sector == nullptr || std::memcmp(sector, kHead, 4) != 0)
        return 0;
    info.m_type = RAW_WPG;
    return 1;
}

CRawFileInfo* RawSpeed::WpgAnalyser::CreateRawFileInfo() {
    rawwalk::ZeroTailRule rule;
    rule.maximum = 5 * wpg_layout::kLimit;
    rule.zeros = wpg_layout::kZeroTailBytes;
    rule.sizeAtMaximum = false;
    rule.suffix = ".";
    return new ZeroTailRawFileInfo(RAW_WPG, rule);
}

// ---------------------------------------------------------------------------
// InDesign

int RawSpeed::InddAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, indd_layout::kSignature, 24) != 0)
        return 0;
    info.m_type = RAW_INDD;
    return 1;
}

// Pages first (their count in the header), then objects, each with a
// 64-byte header; the document ends with the 4 KiB page that holds the end
// of its last object.
int RawSpeed::InddAnalyser::InddRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                                         long long sectorNumber,
                                                         SearchContext& context) {
    using namespace indd_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (view.here > kLimit) {
        m_size = 0;
        return 1;
    }
    if (m_next < 0) {
        if (std::memcmp(sector, kSignature, 24) != 0) {
            m_size = 0;
            return 1;
        }
        m_next = static_cast<long long>(vk::LoadLE<uint32_t>(sector + kPageCount)) * kPage;
    }
    while (m_next < view.SectorEnd()) {
        const uint8_t* object = view.At(m_next, kObjectLength + 4);
        if (object == nullptr) {
            if (view.Coming(m_next))
                return 2;
            m_size = 0;
            return 1;
        }
        if (std::memcmp(object, kObjectHead, 16) != 0) {
            m_size = m_next / kPage * kPage + kPage;
            SetRawFileName(PositionName(m_startSector, sectorNumber));
            return 1;
        }
        m_next +=
            static_cast<long long>(vk::LoadLE<uint32_t>(object + kObjectLength)) + kObjectHeadBytes;
        if (m_next > kLimit) {
            m_size = 0;
            return 1;
        }
    }
    return 2;
}

// ---------------------------------------------------------------------------
// GIF

int BruteForce::CGifAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr ||
        (std::memcmp(sector + 4, "7a", 2) != 0 && std::memcmp(sector + 4, "9a", 2) != 0))
        return 0;
    info.m_type = RAW_GIF;
    return 1;
}

CRawFileInfo* BruteForce::CGifAnalyser::CreateRawFileInfo() {
    return new CGifFileInfo();
}

// A data sub-block's length byte may hold any value, also that of a block
// introducer: the walk knows which it expects.
int BruteForce::CGifFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                          long long sectorNumber, SearchContext& context) {
    using namespace gif_layout;
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const StreamView view = ViewOf(*this, sector, sectorSize, sectorNumber, context);
    if (m_position < 0) {
        m_position = kAfterScreen;
        const uint8_t packed = sector[kPacked];
        if ((packed & 0x80) != 0)
            m_position += 3LL << ((packed & 7) + 1);
    }
    if (view.here > kLimit) {
        m_size = kLimit;
        return 1;
    }
    while (m_position < view.SectorEnd()) {
        const uint8_t* p = view.At(m_position, 1);
        if (p == nullptr) {
            if (view.Coming(m_position))
                return 2;
            m_size = 0;
            return 1;
        }
        if (m_expect == Expect::SubBlocks) {
            m_position += 1 + *p;
            if (*p == 0)
                m_expect = Expect::Block;
            continue;
        }
        if (*p == kTrailer) {
            m_size = m_position + 1;
            return 1;
        }
        if (*p == kExtension) {
            m_position += 2;  // introducer and label
            m_expect = Expect::SubBlocks;
            continue;
        }
        if (*p == kImage) {
            const uint8_t* d = view.At(m_position, kDescriptorBytes);
            if (d == nullptr)
                return view.Coming(m_position) ? 2 : 1;
            m_position += kDescriptorBytes + 1;  // and the code size byte
            if ((d[kDescriptorPacked] & 0x80) != 0)
                m_position += 3LL << ((d[kDescriptorPacked] & 7) + 1);
            m_expect = Expect::SubBlocks;
            continue;
        }
        // Neither a block nor the trailer: the picture ends here, cut short.
        m_size = m_position;
        return 1;
    }
    return 2;
}
