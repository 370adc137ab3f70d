// Photoshop documents, sized by walking their sections while the search
// streams past them, or over the device by the whole-file sizer.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewPSDAnalyser, RawSpeed::PSDAnalyser);

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
int RawSpeed::PSDAnalyser::PSDRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace psd_layout;
    if (view.here > 5 * kStreamLimit)
        return Unsized();
    if (view.sectorNumber == m_startSector) {
        m_channels = vk::LoadBE<uint16_t>(view.sector + kChannelsBE);
        m_height = vk::LoadBE<uint32_t>(view.sector + kHeightBE);
        m_width = vk::LoadBE<uint32_t>(view.sector + kWidthBE);
        m_depth = vk::LoadBE<uint16_t>(view.sector + kDepthBE);
    }
    while (m_section < 4 && m_walk < view.SectorEnd()) {
        const uint8_t* field = view.At(m_walk, 4);
        if (field == nullptr) {
            if (view.Coming(m_walk))
                return 2;
            return Unsized();
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
            if (data == 0 || data > static_cast<unsigned long long>(kStreamLimit))
                return Unsized();
            m_end = m_walk + 2 + static_cast<long long>(data);
        } else if (kind == 1) {
            return Unsized();  // the row counts are read whole
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
        return Sized(view, m_end, "");
    }
    if (m_walk >= view.SectorEnd() || rawwalk::TrailingZeros(view.sector, view.sectorSize) < 8)
        return 2;
    return Sized(view,
                 view.here + view.sectorSize - rawwalk::TrailingZeros(view.sector, view.sectorSize),
                 "");
}
