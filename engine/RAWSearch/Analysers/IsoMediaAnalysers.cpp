#include "IsoMediaAnalysers.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "CheckedMath.h"
#include "ExifReader.h"
#include "MediaLayouts.h"
#include "RawFileBuffer.h"
#include "StreamWindow.h"

using namespace iso_layout;

VK_RAW_ANALYSER_FACTORY(NewMovAnalyzer, BruteForce::MovAnalyzer);
VK_RAW_ANALYSER_FACTORY(NewMp4Analyzer, BruteForce::Mp4Analyzer);
VK_RAW_ANALYSER_FACTORY(NewC3GPAnalyser, BruteForce::C3GPAnalyser);

namespace {

constexpr const char* kTopLevelTypes[] = {
    "mdat", "TSCM", "TSCR", "free", "ftyp", "meco", "meta", "mfra", "moof", "moov",
    "mvex", "mvhd", "pdin", "pnot", "skip", "trak", "udta", "uuid", "wide",
};

bool Is(const uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

bool StartsWith(const unsigned char* brand, const char* prefix) {
    return std::memcmp(brand, prefix, std::strlen(prefix)) == 0;
}

RAW_FILE_TYPE TrailerType(const unsigned char* sector) {
    return strncasecmp(reinterpret_cast<const char*>(sector + kTrailerType), "free", 4) == 0
               ? RAW_TREC
               : RAW_MP4;
}

// The compatible brands decide between audio, video and the default.
RAW_FILE_TYPE CompatibleBrandType(const unsigned char* sector, uint32_t boxSize,
                                  RAW_FILE_TYPE fallback) {
    if (boxSize >= kCompatibleBrands && boxSize - kCompatibleBrands <= 319) {
        const size_t bytes = std::min<size_t>(boxSize - kCompatibleBrands, 512);
        const size_t count = bytes / kBrandBytes;
        bool m4a = false, m4v = false, avc1 = false, mp41 = false;
        for (size_t i = 0; i < count; ++i) {
            const unsigned char* brand = sector + kCompatibleBrands + i * kBrandBytes;
            m4a = m4a || StartsWith(brand, "M4A");
            m4v = m4v || StartsWith(brand, "M4V");
            avc1 = avc1 || StartsWith(brand, "avc1");
            mp41 = mp41 || StartsWith(brand, "mp41");
        }
        if (m4a)
            return RAW_M4A;
        if (m4v)
            return RAW_M4V;
        if (avc1)
            return TrailerType(sector);
        if (mp41)
            return count == 1 ? RAW_M4A : TrailerType(sector);
    }
    return fallback == RAW_MP4 ? TrailerType(sector) : fallback;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// A camera text as a label: upper case, file-name safe, or empty.
std::string CameraText(const char* raw, size_t maxLength) {
    std::string text = ApiStrFilterBadFileName(Upper(raw));
    if (text.empty() || text.size() > maxLength || ApiIsInvalidCharInFileName(text) != 0)
        return {};
    return text;
}

}  // namespace

bool IsTopLevelBoxType(const uint8_t* type) {
    for (const char* name : kTopLevelTypes) {
        if (Is(type, name))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Whole-file walk

int CRawBoxFileAnalyser::GetFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* first = file.GetRawFileBuffer(0, kHeaderBytes);
    if (first == nullptr)
        return 0;
    const uint32_t firstSize = vk::LoadBE<uint32_t>(first + kSize);
    if (firstSize < kHeaderBytes || (firstSize & 0x80000000u) != 0)
        return 0;
    uint64_t offset = firstSize;
    int boxes = 1;
    for (; boxes < kMaxBoxes; ++boxes) {
        const uint8_t* box = file.GetRawFileBuffer(offset, kHeaderBytes);
        if (box == nullptr)
            break;  // the device ends, or cannot be read, where the file does
        const uint32_t size32 = vk::LoadBE<uint32_t>(box + kSize);
        const uint8_t* type = box + kType;
        if (Is(type, "ftyp") || !IsTopLevelBoxType(type))
            break;
        uint64_t size = size32;
        if (size32 == 1) {
            box = file.GetRawFileBuffer(offset, kLargeHeaderBytes);
            if (box == nullptr)
                break;
            // The whole 64-bit size: a movie of more than 4 GiB is walked
            // past its media data, not into it.
            size = vk::LoadBE<uint64_t>(box + kLargeSize);
            if ((size >> 63) != 0 || size < kLargeHeaderBytes)
                return 0;
        } else if (size32 < kHeaderBytes) {
            break;  // a size 0 (to the end) or an impossible one ends the chain here
        }
        if (!vk::CheckedAdd(offset, size, &offset) || (offset >> 62) != 0)
            return 0;
    }
    // A lone "ftyp" is no file.
    if (boxes < 2)
        return 0;
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int FileMP4Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const char* text = reinterpret_cast<const char*>(sector + kType);
    if (strncasecmp(text, "ftypisom", 8) == 0 || strncasecmp(text, "ftypmp41", 8) == 0 ||
        strncasecmp(text, "ftypmp42", 8) == 0)
        info.m_type = RAW_MP4;
    else if (strncasecmp(text, "ftypM4A ", 8) == 0)
        info.m_type = RAW_M4A;
    else if (strncasecmp(text, "ftypM4V ", 8) == 0)
        info.m_type = RAW_M4V;
    else
        return 0;
    info.m_size = 0;
    return 1;
}

int FileMP4Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    CRawBoxFileAnalyser walker;
    return walker.GetFileSize(info, device);
}

namespace BruteForce {

// ---------------------------------------------------------------------------
// Recognition

RAW_FILE_TYPE MovAnalyzer::TypeByBrand(const unsigned char* sector) {
    const uint32_t boxSize = vk::LoadBE<uint32_t>(sector + kSize);
    const unsigned char* major = sector + kMajorBrand;
    if (StartsWith(major, "3g2") || StartsWith(major, "3ge") || StartsWith(major, "3gp") ||
        StartsWith(major, "3gs") || StartsWith(major, "KDDI"))
        return RAW_3GP;
    if (StartsWith(major, "M4A"))
        return RAW_M4A;
    if (StartsWith(major, "M4V"))
        return RAW_M4V;
    if (StartsWith(major, "qt "))
        return RAW_MOV;
    if (StartsWith(major, "iso2") || StartsWith(major, "isom"))
        return CompatibleBrandType(sector, boxSize, RAW_MOV);
    if (StartsWith(major, "mp4"))
        return CompatibleBrandType(sector, boxSize, RAW_MP4);
    if (StartsWith(major, "F4A") || StartsWith(major, "F4B") || StartsWith(major, "F4P") ||
        StartsWith(major, "F4V") || StartsWith(major, "MSNV") || StartsWith(major, "msnv") ||
        StartsWith(major, "mmp4") || StartsWith(major, "avc1") || StartsWith(major, "NDA"))
        return TrailerType(sector);
    if ((StartsWith(major, "NDS") || StartsWith(major, "NDX")) &&
        std::strchr("CHMPS", major[3]) != nullptr && major[3] != 0)
        return TrailerType(sector);
    return 0;
}

int MovAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !Is(sector + kType, "ftyp"))
        return 0;
    const uint32_t boxSize = vk::LoadBE<uint32_t>(sector + kSize);
    if (boxSize < kMinFtyp || boxSize > kMaxFtyp)
        return 0;
    RAW_FILE_TYPE type = TypeByBrand(sector);
    if (type == 0) {
        static constexpr const char* kRefused[] = {"ftypisom", "ftyp3gp4", "ftyp3g2a", "ftypmmp4",
                                                   "ftypM4A ", "ftypM4V ", "ftypmp41", "ftypmp42"};
        for (const char* refused : kRefused) {
            if (strncasecmp(reinterpret_cast<const char*>(sector + kType), refused, 8) == 0)
                return 0;
        }
        type = RAW_MOV;
    }
    m_lastType = type;
    info.m_type = type;
    info.m_size = 0;
    return 1;
}

int Mp4Analyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const char* text = reinterpret_cast<const char*>(sector + kType);
    static constexpr const char* kBrands[] = {"ftypisom", "ftypmmp4", "ftypM4A", "ftypM4V",
                                              "ftypmp4"};
    const char* matched = nullptr;
    for (const char* brand : kBrands) {
        if (strncasecmp(text, brand, std::strlen(brand)) == 0) {
            matched = brand;
            break;
        }
    }
    if (matched == nullptr)
        return 0;
    RAW_FILE_TYPE type = RAW_MP4;
    if (std::strstr(matched, "M4A") != nullptr)
        type = RAW_M4A;
    else if (std::strstr(matched, "M4V") != nullptr)
        type = RAW_M4V;
    if (strncasecmp(reinterpret_cast<const char*>(sector + kTrailerType), "free", 4) == 0)
        type = RAW_TREC;
    m_lastType = type;
    info.m_type = type;
    info.m_size = 0;
    return 1;
}

int C3GPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const char* text = reinterpret_cast<const char*>(sector + kType);
    if (strncasecmp(text, "ftyp3g2a", 8) != 0 && strncasecmp(text, "ftyp3gp", 7) != 0 &&
        strncasecmp(text, "ftypmmp4", 8) != 0)
        return 0;
    m_lastType = RAW_3GP;
    info.m_type = RAW_3GP;
    info.m_size = 0;
    return 1;
}

// ---------------------------------------------------------------------------
// Streaming box walk

MovAnalyzer::MovRawFileInfo::MovRawFileInfo(MovAnalyzer* owner, RAW_FILE_TYPE type)
    : m_owner(owner) {
    m_type = type;
}

void MovAnalyzer::MovRawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (!m_finished)
        EndSearch(nullptr);
    // The walk may have stopped anywhere, even inside the media data: the
    // whole-file walker reads the rest of the chain from the device.
    if (m_owner != nullptr && m_owner->SecondAnalyser() != nullptr) {
        m_size = 0;
        m_analyser = m_owner->SecondAnalyser();
    }
}

int MovAnalyzer::MovRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                             long long sectorNumber, SearchContext& context) {
    if (m_finished)
        return 1;
    if (sector == nullptr || sectorNumber < m_startSector) {
        if (m_begun) {
            EndSearch(nullptr);
            return 1;
        }
        return 2;
    }
    m_sectorSize = sectorSize;
    const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
    if (!m_begun) {
        m_begun = true;
        if (const uint8_t* head = window.At(0, kMajorBrand + 3))
            m_iso = std::memcmp(head + kMajorBrand, "iso", 3) == 0;
    }
    if (m_exifPending) {
        if (m_exifAt < window.HeldBegin())
            m_exifPending = false;
        else if (window.At(m_exifAt,
                           static_cast<size_t>(std::min<uint64_t>(kExifProbe, m_exifSize))))
            ReadExif(window, m_exifAt, m_exifSize);
    }
    for (int walked = 0; walked < kMaxBoxesPerSector && m_next < window.SectorEnd(); ++walked) {
        const uint8_t* box = window.At(m_next, kHeaderBytes);
        if (box == nullptr) {
            if (m_next >= window.HeldBegin())
                return 2;  // the header goes on into the next block
            EndSearch(&window);
            return 1;
        }
        const uint32_t size32 = vk::LoadBE<uint32_t>(box + kSize);
        const uint8_t* type = box + kType;
        uint64_t size = size32;
        if (!IsTopLevelBoxType(type) || size32 == 0 || (size32 >= 2 && size32 < kHeaderBytes) ||
            (Is(type, "ftyp") && m_boxes > 1)) {
            EndSearch(&window);
            return 1;
        }
        if (size32 == 1) {
            box = window.At(m_next, kLargeHeaderBytes);
            if (box == nullptr)
                return 2;
            size = vk::LoadBE<uint64_t>(box + kLargeSize);
            if ((size >> 63) != 0 || size < kLargeHeaderBytes) {
                EndSearch(&window);
                return 1;
            }
        }
        ++m_boxes;
        if (Is(type, "moov")) {
            ++m_moovs;
            ReadExif(window, m_next, size);
        }
        uint64_t next = 0;
        if (!vk::CheckedAdd(m_next, size, &next) || (next >> 62) != 0) {
            EndSearch(&window);
            return 1;
        }
        m_next = next;
        m_size = static_cast<long long>(m_next);
    }
    return 2;
}

void MovAnalyzer::MovRawFileInfo::ReadExif(const StreamWindow& window, uint64_t moovOffset,
                                           uint64_t moovSize) {
    const uint64_t probe = std::min<uint64_t>(kExifProbe, moovSize);
    const uint8_t* moov = window.At(moovOffset, static_cast<size_t>(probe));
    // The box's start goes on into the next block: read it from there.
    m_exifPending = moov == nullptr;
    m_exifAt = moovOffset;
    m_exifSize = moovSize;
    if (moov == nullptr)
        return;
    const uint8_t* exif = nullptr;
    for (size_t i = 0; i + 4 <= probe; ++i) {
        if (std::memcmp(moov + i, "Exif", 4) == 0) {
            exif = moov + i;
            break;
        }
    }
    if (exif == nullptr)
        return;
    const uint64_t exifOffset = moovOffset + static_cast<uint64_t>(exif - moov);
    uint64_t length = window.HeldFrom(exifOffset);
    length = std::min<uint64_t>(length, moovOffset + moovSize - exifOffset);
    length = std::min<uint64_t>(length, 0xFFFF);
    tag_ExifInfo info;
    CExifReader reader;
    reader.SetExitInfo(&info);
    if (reader.EXIF_process_EXIF(nullptr, 0, exif, static_cast<unsigned>(length)) == 0)
        return;
    m_littleEndian = reader.LittleEndian();
    const std::string make = CameraText(info.cameraMake, kMaxMake);
    const std::string model = CameraText(info.cameraModel, kMaxMake);
    if (!make.empty()) {
        m_make = make;
        SetRawFileTagAndValue(RAW_TAG_MOVIE, m_make);
    }
    if (!model.empty()) {
        if (m_make.empty()) {
            m_make = model;
            SetRawFileTagAndValue(RAW_TAG_MOVIE, m_make);
        } else {
            m_model = model;
        }
    }
    const size_t dateLength = std::strlen(info.modifyTime);
    if (dateLength >= 10 && dateLength <= 40)
        SetRawFileTime(info.modifyTime);
}

// Phones write their name near a recording's end. Only the file's own
// bytes are read: what follows it says nothing about the device.
void MovAnalyzer::MovRawFileInfo::FindDeviceName(const StreamWindow& window) {
    if (m_next == 0)
        return;
    const uint64_t sectorSize = window.SectorSize();
    const uint64_t endSector = (m_next - 1) / sectorSize * sectorSize;
    auto search = [&](uint64_t from, uint64_t length) -> std::string {
        length = std::min<uint64_t>(length, m_next - std::min(m_next, from));
        const uint8_t* bytes = window.At(from, static_cast<size_t>(length));
        if (bytes == nullptr)
            return {};
        for (uint64_t i = 0; i < length; ++i) {
            const uint64_t left = length - i;
            const bool phone = left >= 7 && std::memcmp(bytes + i, "iPhone ", 7) == 0;
            const bool pad = left >= 5 && std::memcmp(bytes + i, "iPad ", 5) == 0;
            if (!phone && !pad)
                continue;
            std::string name;
            for (uint64_t k = i; k < length && name.size() < 20; ++k) {
                if (bytes[k] < 0x20 || bytes[k] > 0x7E)
                    break;
                name.push_back(static_cast<char>(bytes[k]));
            }
            return name;
        }
        return {};
    };
    if (endSector < 16)
        return;
    // The end sector and the 16 bytes before it (512 bytes with 512-byte
    // sectors).
    const uint64_t span = sectorSize;
    const uint64_t nearLength = std::min<uint64_t>(span, m_next - (endSector - 16));
    const uint8_t* near = window.At(endSector - 16, static_cast<size_t>(nearLength));
    if (near == nullptr)
        return;
    bool trex = false;
    for (uint64_t i = 0; i + 4 <= nearLength; ++i)
        trex = trex || std::memcmp(near + i, "trex", 4) == 0;
    std::string found;
    if (!trex)
        found = search(endSector - 16, span);
    else if (endSector >= 1298)
        found = search(endSector - 1298, 1024);
    const std::string make = CameraText(found.c_str(), 20);
    if (!make.empty()) {
        m_make = make;
        SetRawFileTagAndValue(RAW_TAG_MOVIE, m_make);
    }
}

void MovAnalyzer::MovRawFileInfo::EndSearch(const StreamWindow* window) {
    m_finished = true;
    if (m_boxes <= 1) {
        m_size = 0;
        return;
    }
    if (m_type == RAW_MOV && m_moovs == 1 && m_iso)
        m_type = RAW_MP4;
    if (m_make.empty() && window != nullptr)
        FindDeviceName(*window);
    if (!m_model.empty())
        SetRawFileName(m_model);
    if (m_make.empty())
        SetRawFileTagAndValue(RAW_TAG_NONE, std::string());
    m_size = static_cast<long long>(m_next);
}

}  // namespace BruteForce
