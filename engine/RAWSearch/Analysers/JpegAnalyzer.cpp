#include "JpegAnalyzer.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "ExifLayout.h"
#include "JpegLayout.h"
#include "RawUtility.h"

using namespace jpeg_layout;

VK_RAW_ANALYSER_FACTORY(NewJpegAnalyzer, BruteForce::JpegAnalyzer);

namespace BruteForce {

namespace {

constexpr int kMaxMarkers = 20480;
constexpr size_t kMaxText = 39;

bool HasAppId(const unsigned char* sector) {
    const char* id = reinterpret_cast<const char*>(sector + kFirstAppId);
    return strncasecmp(id, "JFIF", 4) == 0 || strncasecmp(id, "Exif", 4) == 0;
}

bool PlainHead(const unsigned char* sector) {
    return sector[0] == 0xFF && sector[1] == 0xD8 && sector[2] == 0xFF &&
           (sector[3] == 0xDB || sector[3] == 0xEE);
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

int JpegAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!HasAppId(sector) && !PlainHead(sector))
        return 0;
    info.m_type = RAW_JPG;
    return 1;
}

int JpegAnalyzer::MarkerChainTest(const unsigned char* sector, uint64_t available) {
    uint64_t offset = kFirstMarker;
    bool frame = false;
    for (int walked = 0; walked < kMaxMarkers; ++walked) {
        // A chain that runs past what the search holds is not contradicted:
        // a picture whose first sector ends a block is still a picture, and
        // its structure walk drops it if it is none.
        if (offset + kPayload > available)
            return 1;
        if (sector[offset] != kMarker)
            return 0;
        const uint8_t code = sector[offset + kCode];
        if (IsStartOfFrame(code)) {
            if (offset + kFrameComponents + 1 > available)
                return 1;
            if (sector[offset + kFramePrecision] != 8 || sector[offset + kFrameComponents] != 3)
                return 0;
            frame = true;
        } else if (code == kSOS) {
            if (offset + kScanComponents + 1 > available)
                return 1;
            return frame && sector[offset + kScanComponents] == 3 ? 1 : 0;
        }
        const uint64_t length =
            code == kMarker ? 0 : vk::LoadBE<uint16_t>(sector + offset + kLengthBE);
        offset += length + 2;
    }
    return 1;
}

int JpegAnalyzer::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                  long long sectorNumber, long long windowFirst,
                                  long long windowEnd) {
    (void)windowFirst;
    if (HasAppId(sector)) {
        info.m_type = RAW_JPG;
        return 1;
    }
    if (!PlainHead(sector) || sectorSize <= 0 || windowEnd <= sectorNumber)
        return 0;
    const uint64_t available =
        static_cast<uint64_t>(windowEnd - sectorNumber) * static_cast<uint64_t>(sectorSize);
    if (MarkerChainTest(sector, available) == 0)
        return 0;
    info.m_type = RAW_JPG;
    return 1;
}

// ---------------------------------------------------------------------------
// Candidate

JpegAnalyzer::JpegRawFileInfo::JpegRawFileInfo(JpegAnalyzer* owner) : m_owner(owner) {
    m_type = RAW_JPG;
    m_structure.SetSegmentHook([this](uint8_t code, uint64_t offset, uint16_t length) {
        OnSegment(code, offset, length);
    });
}

void JpegAnalyzer::JpegRawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (m_owner != nullptr)
        m_analyser = &m_owner->WholeFile();
}

// The pixel count of a large baseline frame and the EXIF block of an APP1,
// read from the search's buffer as the structure walk meets them.
void JpegAnalyzer::JpegRawFileInfo::OnSegment(uint8_t code, uint64_t offset, uint16_t length) {
    const long long sectorOffset =
        (m_current - m_startSector) * static_cast<long long>(m_sectorSize);
    if (static_cast<long long>(offset) < sectorOffset)
        return;
    const size_t at = static_cast<size_t>(static_cast<long long>(offset) - sectorOffset);
    if (code == kSOF0 && m_pixelWalk && m_pixelCount == 0 && at + kFrameComponents < m_available) {
        const uint8_t* f = m_sector + at;
        const long long height = vk::LoadBE<uint16_t>(f + kFrameHeightBE);
        const long long width = vk::LoadBE<uint16_t>(f + kFrameWidthBE);
        if (f[kFramePrecision] == 8 && height > 400) {
            m_pixelCount = width * height;
            m_minLength += m_pixelCount / 8;
        }
    } else if (code == kAPP1 && length >= 8 && at + kPayload + 4 <= m_available &&
               std::memcmp(m_sector + at + kPayload, "Exif", 4) == 0 &&
               offset + kPayload != m_exifReadAt) {
        m_exifReadAt = offset + kPayload;
        ReadExif(m_sector + at + kPayload, m_available - at - kPayload);
    }
}

void JpegAnalyzer::JpegRawFileInfo::ReadExif(const uint8_t* exif, size_t available) {
    using namespace exif_layout;
    // The segment's length stands just before its identifier.
    const size_t app1Length = vk::LoadBE<uint16_t>(exif - 2);
    if (available < kExifHeaderBytes + kTiffHeaderBytes)
        return;
    const uint8_t* tiff = exif + kExifHeaderBytes;
    const size_t bound = available - kExifHeaderBytes;
    bool le = true;
    if (std::memcmp(tiff, "II", 2) == 0)
        le = true;
    else if (std::memcmp(tiff, "MM", 2) == 0)
        le = false;
    else
        return;
    const uint16_t magic =
        le ? vk::LoadLE<uint16_t>(tiff + kTiffMagic) : vk::LoadBE<uint16_t>(tiff + kTiffMagic);
    const uint32_t first = le ? vk::LoadLE<uint32_t>(tiff + kTiffFirstIfd)
                              : vk::LoadBE<uint32_t>(tiff + kTiffFirstIfd);
    if (magic != 42 || first < 8 || first > 16)
        return;
    ReadDirectory(tiff, bound, app1Length, first, le);
}

void JpegAnalyzer::JpegRawFileInfo::ReadDirectory(const uint8_t* tiff, size_t bound,
                                                  size_t app1Length, uint32_t offset, bool le) {
    using namespace exif_layout;
    if (m_budget >= kDirectoryBudget)
        return;
    ++m_budget;
    const vk::ByteReader r(tiff, bound);
    auto u16 = [&](size_t o) { return le ? r.LE16(o) : r.BE16(o); };
    auto u32 = [&](size_t o) { return le ? r.LE32(o) : r.BE32(o); };
    if (!r.Has(offset, 2))
        return;
    const uint32_t count = u16(offset);
    if (count == 0 || count > 512 || count * kIfdEntryBytes > app1Length)
        return;
    bool makeSeen = false;
    uint64_t width = 0;
    auto text = [&](size_t at, size_t n) {
        std::string s;
        for (size_t k = 0; k < n && k < kMaxText && r.Has(at + k, 1); ++k) {
            const char c = static_cast<char>(r.U8(at + k));
            if (c == '\0')
                break;
            s.push_back(c);
        }
        return s;
    };
    auto asModel = [&](const std::string& value) {
        SetRawFileName(value);
        if (!makeSeen && ApiIsInvalidCharInFileName(Upper(value)) == 0)
            SetRawFileTagAndValue(RAW_TAG_CAMERA, Upper(value));
    };
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = offset + kIfdEntries + static_cast<size_t>(i) * kIfdEntryBytes;
        if (!r.Has(e, kIfdEntryBytes))
            return;  // the valid data ends here
        const uint16_t tag = u16(e + kEntryTag);
        const uint16_t type = u16(e + kEntryFormat);
        const uint32_t components = u32(e + kEntryComponents);
        if (type < 1 || type > kFormatCount || components < 1 || components > app1Length)
            return;
        const uint64_t size = static_cast<uint64_t>(components) * kFormatBytes[type];
        size_t at = e + kEntryValue;
        if (size > 4) {
            const uint32_t where = u32(e + kEntryValue);
            if (static_cast<uint64_t>(where) + size > app1Length)
                return;
            if (where >= bound)
                return;
            at = where;
        }
        uint64_t value = 0;
        if (type == kShort || type == kSShort)
            value = u16(at);
        else if (type == kLong || type == kSLong)
            value = u32(at);
        else if (type == kRational || type == kSRational) {
            const uint32_t den = u32(at + 4);
            value = den == 0 ? 0 : u32(at) / den;
        } else if (type == kByte || type == kSByte || type == kUndefined)
            value = r.U8(at);

        switch (tag) {
            case kTagWidthRaw:
            case kTagPixelXDimension:
                width = value;
                break;
            case kTagImageHeight:
            case kTagPixelYDimension:
                if (width != 0 && value >= 400) {
                    m_pixelCount = static_cast<long long>(width * value);
                    m_minLength = m_pixelCount / 8;
                    return;  // nothing more of this directory, nor its link
                }
                break;
            case kTagMake: {
                const std::string make = text(at, static_cast<size_t>(size));
                if (ApiIsInvalidCharInFileName(Upper(make)) == 0)
                    SetRawFileTagAndValue(RAW_TAG_CAMERA, Upper(make));
                makeSeen = true;
                asModel(make);
                break;
            }
            case kTagModel:
                asModel(text(at, static_cast<size_t>(size)));
                break;
            case kTagThumbnailOffset:
            case kTagThumbnailLength:
                m_minLength += static_cast<long long>(value);
                break;
            case kTagExifIfd:
            case kTagInteropIfd:
                if (value > 0) {
                    m_minLength += static_cast<long long>(value) + 40960;
                    if (value < bound)
                        ReadDirectory(tiff, bound, app1Length, static_cast<uint32_t>(value), le);
                }
                break;
            case kTagDateTimeOriginal:
                SetRawFileTime(
                    text(at, std::min<size_t>(static_cast<size_t>(size), 19)).substr(0, 19));
                break;
            default:
                break;
        }
    }
    const size_t link = offset + kIfdEntries + static_cast<size_t>(count) * kIfdEntryBytes;
    if (r.Has(link, 4)) {
        const uint32_t next = u32(link);
        if (next != 0 && next < bound)
            ReadDirectory(tiff, bound, app1Length, next, le);
    }
}

int JpegAnalyzer::JpegRawFileInfo::Finish(long long size, long long sectorNumber) {
    std::string name = GetRawFileName();
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string camera;
    GetRawFileTagAndValue(tag, camera);
    if (ApiIsInvalidCharInFileName(name) != 0)
        name.clear();
    else if (ApiIsInvalidCharInFileName(camera) != 0)
        camera.clear();
    char text[1024];
    const long long start = m_startSector;
    if (!camera.empty() && !name.empty())
        std::snprintf(text, sizeof text, "%s_%s_%lld-%lld", camera.c_str(), name.c_str(), start,
                      sectorNumber);
    else if (!camera.empty() || !name.empty())
        std::snprintf(text, sizeof text, "%s_%lld-%lld",
                      name.empty() ? camera.c_str() : name.c_str(), start, sectorNumber);
    else
        std::snprintf(text, sizeof text, "%lld-%lld", start, sectorNumber);
    SetRawFileName(text);
    if (tag != RAW_TAG_NONE)
        SetRawFileTagAndValue(tag, camera);
    m_size = size;
    m_type = RAW_JPG;
    return 1;
}

int JpegAnalyzer::JpegRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long a,
                                               SearchContext& context) {
    if (sector == nullptr || sectorSize <= 0 || a < m_startSector)
        return 2;
    const long long n = sectorSize;
    m_sector = sector;
    m_current = a;
    m_sectorSize = sectorSize;
    m_available = context.windowEndSector > a
                      ? static_cast<size_t>((context.windowEndSector - a) * n)
                      : static_cast<size_t>(n);
    const long long here = (a - m_startSector) * n;  // file offset of this sector
    if (m_exifFlag == 0)
        m_maxLength = kMaxLengthPlain;

    if (a == m_startSector) {
        m_structure.FollowNextPicture(static_cast<uint32_t>(sectorSize));
        if (strncasecmp(reinterpret_cast<const char*>(sector + kFirstAppId), "JFIF", 4) == 0) {
            if (std::memcmp(sector + kApp1AfterJfif + kPayload, "Exif", 4) == 0 &&
                sector[kApp1AfterJfif] == kMarker && sector[kApp1AfterJfif + 1] == kAPP1) {
                m_exifReadAt = kApp1AfterJfif + kPayload;
                ReadExif(sector + m_exifReadAt, m_available - m_exifReadAt);
            }
        } else if (strncasecmp(reinterpret_cast<const char*>(sector + kFirstAppId), "Exif", 4) ==
                   0) {
            m_exifFlag = 1;
            m_maxLength = kMaxLengthExif;
            m_exifReadAt = kFirstAppId;
            ReadExif(sector + kFirstAppId, m_available - kFirstAppId);
        }
        if (m_minLength <= kMinLength)
            m_pixelWalk = true;
    }

    // Another file recognised at a sector inside this one: should this one's
    // structure break later, it was cut short there.
    if (a != m_startSector && context.other != nullptr)
        m_otherStart = here;

    // The structure, while it holds, says exactly where the image ends.
    if (!m_structureLost) {
        if (m_lastSector >= 0 && a != m_lastSector + 1) {
            m_structureLost = true;  // sectors were skipped: the walk cannot follow
        } else if (m_lastSector < 0 && a != m_startSector) {
            m_structureLost = true;
        } else {
            const auto state = m_structure.Feed(sector, static_cast<size_t>(n));
            if (state == JpegStructure::State::End) {
                // Named by the sector of its last byte: what follows it may
                // have been read in the next one.
                m_lastSector = a;
                const auto stop = static_cast<long long>(m_structure.StopOffset());
                return Finish(stop, std::min(a, m_startSector + (stop - 1) / n));
            }
            if (state == JpegStructure::State::Broken) {
                if (!m_structure.SawScan()) {
                    // No image data before the structure broke: not a JPEG
                    // that can be carved from here.
                    m_lastSector = a;
                    m_size = 0;
                    return 1;
                }
                if (m_otherStart > 0) {
                    m_lastSector = a;
                    return Finish(m_otherStart, a);
                }
                m_structureLost = true;
            }
        }
    }

    bool ended = false;
    long long endOffset = 0;
    if (m_structureLost) {
        const int z = context.zeroTail;
        bool searched = false;
        bool hit = false;
        if ((m_exifFlag != 0 && z >= 9 && here > m_minLength) || (m_exifFlag == 0 && z >= 8)) {
            searched = true;
            static constexpr unsigned char kEnd[2] = {kMarker, kEOI};
            const int past =
                BruteForce::RawUtility::FindMagicInBuffer(sector, static_cast<int>(n), z, kEnd, 2);
            if (past > 0 && past < n && std::memcmp(sector + past, "\0\0\0\0", 4) == 0) {
                hit = true;
                endOffset = past;
            } else if (m_lastSector >= context.windowFirstSector && m_lastSector == a - 1 &&
                       sector[-1] == kMarker && sector[0] == kEOI &&
                       std::memcmp(sector + 1, "\0\0\0\0", 4) == 0) {
                hit = true;
                endOffset = 1;
            }
        }
        if (hit)
            ended = true;
        if (!searched)
            endOffset = n - z;
        if (!ended && m_pixelCount != 0 && here > m_pixelCount)
            ended = true;
        if (ended && searched && !hit)
            endOffset = 0;
    }
    m_lastSector = a;
    if (here > m_maxLength) {
        // Still walking what follows a whole picture (a clip cut off, say):
        // the file is what was whole.
        m_structure.EndOfData();
        if (!m_structureLost && m_structure.GetState() == JpegStructure::State::End)
            return Finish(static_cast<long long>(m_structure.StopOffset()), a);
        return Finish(m_maxLength, a);
    }
    if (ended)
        return Finish(here + endOffset, a);
    return 2;
}

}  // namespace BruteForce
