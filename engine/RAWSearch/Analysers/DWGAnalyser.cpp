#include "DWGAnalyser.h"

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewCDWGAnalyser, BruteForce::CDWGAnalyser);

namespace {

struct Version {
    const char* text;
    int family;
};
constexpr Version kVersions[] = {
    {"AC1027", 2}, {"AC1024", 2}, {"AC1021", 3}, {"AC1018", 2}, {"AC1015", 1},
    {"AC1014", 1}, {"AC1013", 1}, {"AC1012", 1}, {"AC1009", 4},
};

long long Checked(unsigned long long size) {
    return size == 0 || size > static_cast<unsigned long long>(dwg_layout::kSizeLimit)
               ? 0
               : static_cast<long long>(size);
}

}  // namespace

int BruteForce::CDWGAnalyser::VersionFamily(const unsigned char* head) {
    if (head == nullptr)
        return 0;
    for (const Version& v : kVersions)
        if (std::memcmp(head, v.text, dwg_layout::kVersionBytes) == 0)
            return v.family;
    return 0;
}

int BruteForce::CDWGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (VersionFamily(sector) == 0)
        return 0;
    info.m_type = RAW_DWG;
    return 1;
}

CRawFileInfo* BruteForce::CDWGAnalyser::CreateRawFileInfo() {
    return new CDWGRawInfo();
}

long long BruteForce::CDWGAnalyser::R2004Size(const uint8_t* coded) {
    using namespace dwg_layout;
    if (coded == nullptr)
        return 0;
    // The published R2004 header coding: each byte XOR-ed with bits 16 to
    // 23 of a linear congruential sequence seeded with 1.
    uint8_t header[kR2004HeaderBytes];
    uint32_t x = 1;
    for (size_t i = 0; i < kR2004HeaderBytes; ++i) {
        x = x * 214013u + 2531011u;
        header[i] = static_cast<uint8_t>(coded[i] ^ static_cast<uint8_t>(x >> 16));
    }
    const vk::ByteReader r(header, sizeof header);
    if (r.LE32(kR2004Zero) != 0 || r.LE64(kR2004Sizes) != 0x40000006CULL ||
        r.LE32(kR2004Mark) != 0x20 || r.LE64(kR2004Marks) != 0x4000000080ULL)
        return 0;
    const uint64_t second = r.LE64(kR2004SecondHeader);
    if (second > static_cast<uint64_t>(kSizeLimit))
        return 0;
    return Checked(second + kR2004HeaderBytes);
}

long long BruteForce::CDWGAnalyser::R2007Size(const uint8_t* interleaved) {
    using namespace dwg_layout;
    if (interleaved == nullptr)
        return 0;
    uint8_t data[kR2007Data];
    for (size_t i = 0; i < kRsBlocks; ++i)
        for (size_t j = 0; j < kRsData; ++j)
            data[i * kRsData + j] = interleaved[j * kRsBlocks + i];
    const vk::ByteReader r(data, sizeof data);
    if (r.LES32(kR2007Compressed) > 0)
        return 0;
    const vk::ByteReader header = r.Sub(kR2007Payload, kR2007HeaderBytes);
    return Checked(header.LE64(kR2007FileSize));
}

int BruteForce::CDWGRawInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace dwg_layout;
    if (m_family == 0) {
        m_family = CDWGAnalyser::VersionFamily(view.At(0, kVersionBytes));
        if (m_family == 0)
            return Unsized();
    }
    switch (m_family) {
        case 2: {
            const uint8_t* coded = view.At(kHeaderAt, kR2004HeaderBytes);
            if (coded == nullptr && view.Coming(kHeaderAt))
                return 2;
            m_size = CDWGAnalyser::R2004Size(coded);
            return 1;
        }
        case 3:
            // Gathered sector by sector: the header crosses sector ends.
            while (m_held < kR2007Bytes) {
                const long long at = kHeaderAt + static_cast<long long>(m_held);
                if (at >= view.SectorEnd())
                    return 2;
                const uint8_t* p = view.At(at, 1);
                if (p == nullptr)
                    return Unsized();
                const size_t take = static_cast<size_t>(std::min<long long>(
                    view.SectorEnd() - at, static_cast<long long>(kR2007Bytes - m_held)));
                std::memcpy(m_header.data() + m_held, p, take);
                m_held += take;
            }
            m_size = CDWGAnalyser::R2007Size(m_header.data());
            return 1;
        case 1:
            // Locator records, read as their bytes pass.
            while (true) {
                const long long want = m_haveCount ? kLocatorBytes : 4;
                if (m_read + want > view.SectorEnd())
                    return 2;
                const uint8_t* p = view.At(m_read, want);
                if (p == nullptr)
                    return Unsized();
                if (!m_haveCount) {
                    m_count = vk::LoadLE<uint32_t>(p);
                    m_haveCount = true;
                    m_read = kLocators;
                    // Numbered by one byte: more records could not be in order.
                    if (m_count == 0 || m_count > kMaxLocators)
                        return Unsized();
                    continue;
                }
                if (p[0] != static_cast<uint8_t>(m_records))
                    return Unsized();
                // 64-bit: a seeker and size that wrap 32 bits must not make a
                // small file of a large one.
                const unsigned long long end =
                    static_cast<unsigned long long>(vk::LoadLE<uint32_t>(p + kLocatorSeeker)) +
                    vk::LoadLE<uint32_t>(p + kLocatorSize);
                m_end = std::max(m_end, end);
                m_read += kLocatorBytes;
                if (++m_records == m_count) {
                    m_size = Checked(m_end);
                    return 1;
                }
            }
        default:
            return Unsized();  // R11 and R12 carry no length
    }
}
