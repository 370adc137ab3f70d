#include "HeaderSizedAnalysers.h"

#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"

namespace {

vk::ByteReader Head(const unsigned char* sector) {
    return vk::ByteReader(sector, kMinAnalyseBytes);
}

}  // namespace

VK_RAW_ANALYSER_FACTORY(NewFileAUAnalyser, FileAUAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileBMPAnalyser, FileBMPAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileCABAnalyser, FileCABAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileCPTAnalyser, FileCPTAnalyser);

int FileAUAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace au_layout;
    const vk::ByteReader r = Head(sector);
    info.m_type = RAW_AU;
    const uint32_t offset = r.BE32(kDataOffsetBE);
    const uint32_t size = r.BE32(kDataSizeBE);
    if (!r.Matches(kMagic, ".snd") || offset < kMinDataOffset || size == 0xFFFFFFFFu) {
        info.m_size = 0;
        return 0;
    }
    info.m_size = static_cast<long long>(offset) + size;
    return 1;
}

int FileBMPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace bmp_layout;
    const vk::ByteReader r = Head(sector);
    if (!r.Matches(kMagic, "BM") || r.LE16(kReserved1) != 0 || r.LE16(kReserved2) != 0)
        return 0;
    const uint32_t header = r.LE32(kInfoHeaderSize);
    info.m_type = RAW_BMP;
    if (header != 40 && header != 124) {
        info.m_size = 0;
        return 0;
    }
    info.m_size = r.LE32(kFileSize);
    return 1;
}

int FileCABAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace cab_layout;
    const vk::ByteReader r = Head(sector);
    info.m_type = RAW_CAB;
    if (r.LE32(kReserved1) != 0 || r.LE32(kReserved2) != 0 || r.LE32(kReserved3) != 0 ||
        r.LE16(kVersion) != kVersion13 || r.LE32(kCabinetSize) == 0) {
        info.m_size = 0;
        return 0;
    }
    info.m_size = r.LE32(kCabinetSize);
    return 1;
}

int FileCPTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace cpt_layout;
    const vk::ByteReader r = Head(sector);
    if (!r.Matches(kFileMark, "FILE") || r.LE32(kTableOffset) != kTableAt)
        return 0;
    info.m_type = RAW_CPT;
    info.m_size = 0;
    return 1;
}

// The file's records hang off the table at offset 52; the last entry's
// record leads to the block whose two words give the end. The format keeps
// its sums in 32 bits.
int FileCPTAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace cpt_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    bool ok = true;
    auto u32 = [&](uint32_t offset) -> uint32_t {
        const uint8_t* p = file.GetRawFileBuffer(offset, 4);
        if (p == nullptr) {
            ok = false;
            return 0;
        }
        return vk::LoadLE<uint32_t>(p);
    };
    const uint32_t table = u32(kTableOffset);
    const uint32_t count = u32(kEntryCount);
    u32(table);
    const uint32_t record = u32(table + kEntryBytes * count - kEntryBytes);
    const uint32_t flag = u32(record + kRecordFlag);
    uint32_t d = record + kRecordData;
    if (ok && flag != 0) {
        const uint32_t v = u32(d);
        if (v == flag)
            d += v;
    }
    const uint32_t f = u32(d);
    const uint32_t g = u32(d + 4);
    if (!ok)
        return 0;
    uint32_t size = record;
    if (f != 0 && g != 0) {
        size = u32(f - 8) + u32(f - 4);
        if (!ok)
            return 0;
    }
    info.m_size = size;
    return 1;
}

int FileCRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace crw_layout;
    static constexpr uint8_t kHeapMark[6] = {0x00, 0x00, 'H', 'E', 'A', 'P'};
    if (std::memcmp(sector + kHeap, kHeapMark, sizeof kHeapMark) != 0)
        return 0;
    const char* kind = reinterpret_cast<const char*>(sector + kKind);
    if (std::memcmp(kind, "CCDR\x02", 5) != 0 && std::memcmp(kind, "TIFP\x02", 5) != 0 &&
        std::memcmp(kind, "ARCH\x02", 5) != 0)
        return 0;
    info.m_type = RAW_CRW;
    return 1;
}

// The last records of a CIFF file end with one of three marks followed by
// zeros; the file ends a fixed distance after the mark.
int FileCRWAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace crw_layout;
    info.m_size = static_cast<long long>(kDefaultSize);
    if (device == nullptr)
        return 1;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const size_t n = file.GetSectorSize();
    auto after = [](uint8_t third) -> int {
        switch (third) {
            case 0xA8:
                return 70;
            case 0xB2:
                return 60;
            case 0xE4:
                return 50;
            default:
                return -1;
        }
    };
    std::vector<uint8_t> carry;  // the previous sector's last 80 bytes
    for (uint64_t p = 0; p <= kDefaultSize; p += n) {
        const uint8_t* s = file.GetRawFileBuffer(p, n);
        if (s == nullptr)
            return 1;
        if (vk::LoadLE<uint32_t>(s + n - 4) == 0) {
            for (size_t i = 0; i + 6 <= n - 1 && i <= n - 7; ++i) {
                if (s[i] == 0x07 && s[i + 1] == 0x28 && after(s[i + 2]) > 0 && s[i + 3] == 0 &&
                    s[i + 4] == 0 && s[i + 5] == 0) {
                    info.m_size =
                        static_cast<long long>(p + i + static_cast<uint64_t>(after(s[i + 2])));
                    return 1;
                }
            }
            if (!carry.empty()) {
                std::vector<uint8_t> joined = carry;
                joined.insert(joined.end(), s, s + std::min<size_t>(n, 4));
                for (size_t i = 0; i + 5 <= joined.size() && i < carry.size(); ++i) {
                    if (joined[i] == 0x07 && joined[i + 1] == 0x28 && after(joined[i + 2]) > 0 &&
                        joined[i + 3] == 0 && joined[i + 4] == 0) {
                        info.m_size = static_cast<long long>(p - carry.size() + i + 70);
                        return 1;
                    }
                }
            }
        }
        const size_t keep = std::min<size_t>(80, n);
        carry.assign(s + n - keep, s + n);
    }
    return 1;
}
