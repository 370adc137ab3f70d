#include "ExifReader.h"

#include <algorithm>
#include <cstring>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "ExifLayout.h"

using namespace exif_layout;

namespace {

CExifReader& SharedReader() {
    static CExifReader reader;
    return reader;
}

// Copies a text value into a fixed field, cut at its first zero and at the
// field's size.
void CopyText(char* out, size_t outSize, const uint8_t* value, size_t length) {
    size_t n = 0;
    while (n < length && n + 1 < outSize && value[n] != 0) {
        out[n] = static_cast<char>(value[n]);
        ++n;
    }
    out[n] = '\0';
}

float UnitScale(int unit) {
    switch (unit) {
        case 1:
        case 2:
            return 1.0f;  // inches
        case 3:
            return 0.3937f;  // centimetres
        case 4:
            return 0.03937f;  // millimetres
        case 5:
            return 0.00003937f;  // micrometres
        default:
            return 0.0f;
    }
}

}  // namespace

void SetExitInfo(tag_ExifInfo* info) {
    SharedReader().SetExitInfo(info);
}

int EXIF_process_EXIF(const unsigned char* fileBase, unsigned fileLength,
                      const unsigned char* exifBlock, unsigned length) {
    return SharedReader().EXIF_process_EXIF(fileBase, fileLength, exifBlock, length);
}

double CExifReader::Number(const uint8_t* p, uint16_t format) const {
    const bool le = m_littleEndian;
    auto u16 = [&](const uint8_t* q) {
        return le ? vk::LoadLE<uint16_t>(q) : vk::LoadBE<uint16_t>(q);
    };
    auto u32 = [&](const uint8_t* q) {
        return le ? vk::LoadLE<uint32_t>(q) : vk::LoadBE<uint32_t>(q);
    };
    switch (format) {
        case kByte:
        case kUndefined:
            return p[0];
        case kSByte:
            return static_cast<int8_t>(p[0]);
        case kShort:
            return u16(p);
        case kSShort:
            return static_cast<int16_t>(u16(p));
        case kLong:
            return u32(p);
        case kSLong:
            return static_cast<int32_t>(u32(p));
        case kRational: {
            const uint32_t den = u32(p + 4);
            return den == 0 ? 0.0 : static_cast<double>(u32(p)) / den;
        }
        case kSRational: {
            const int32_t den = static_cast<int32_t>(u32(p + 4));
            return den == 0 ? 0.0 : static_cast<double>(static_cast<int32_t>(u32(p))) / den;
        }
        case kFloat: {
            float f = 0;
            const uint32_t bits = u32(p);
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case kDouble: {
            double d = 0;
            const uint64_t bits = le ? vk::LoadLE<uint64_t>(p) : vk::LoadBE<uint64_t>(p);
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        default:
            return 0;
    }
}

int CExifReader::EXIF_process_EXIF(const unsigned char* fileBase, unsigned fileLength,
                                   const unsigned char* exifBlock, unsigned length) {
    (void)fileBase;
    (void)fileLength;
    if (m_info == nullptr || exifBlock == nullptr)
        return 0;
    tag_ExifInfo& info = *m_info;
    info.flashUsed = 0;
    info.comments[0] = '\0';
    m_imageWidth = 0;
    m_focalPlaneUnit = 0;
    m_directories = 0;
    m_open.clear();

    const vk::ByteReader block(exifBlock, length);
    if (!block.Matches(0, std::string_view("Exif\0\0", kExifHeaderBytes)) ||
        !block.Has(kExifHeaderBytes, kTiffHeaderBytes))
        return 0;
    m_tiff = exifBlock + kExifHeaderBytes;
    m_tiffLength = length - kExifHeaderBytes;
    const vk::ByteReader tiff(m_tiff, m_tiffLength);
    if (tiff.Matches(kTiffByteOrder, "II"))
        m_littleEndian = true;
    else if (tiff.Matches(kTiffByteOrder, "MM"))
        m_littleEndian = false;
    else
        return 0;
    const uint16_t magic = m_littleEndian ? tiff.LE16(kTiffMagic) : tiff.BE16(kTiffMagic);
    const uint32_t first = m_littleEndian ? tiff.LE32(kTiffFirstIfd) : tiff.BE32(kTiffFirstIfd);
    if (magic != 42 || first < 8 || first > 16)
        return 0;
    if (!ReadDirectory(first, 0))
        return 0;
    if (info.focalPlaneXRes != 0 && m_focalPlaneUnit != 0)
        info.ccdWidth = static_cast<float>(m_imageWidth * m_focalPlaneUnit / info.focalPlaneXRes);
    return 1;
}

bool CExifReader::ReadDirectory(uint32_t offset, int depth) {
    if (std::find(m_open.begin(), m_open.end(), offset) != m_open.end())
        return false;  // a loop of links
    if (m_directories >= kMaxDirectories || depth > 8)
        return true;  // enough read; what was read stands
    ++m_directories;
    m_open.push_back(offset);
    tag_ExifInfo& info = *m_info;
    const vk::ByteReader tiff(m_tiff, m_tiffLength);
    const bool le = m_littleEndian;
    auto u16 = [&](size_t o) { return le ? tiff.LE16(o) : tiff.BE16(o); };
    auto u32 = [&](size_t o) { return le ? tiff.LE32(o) : tiff.BE32(o); };

    if (!tiff.Has(offset, 2))
        return false;
    const uint16_t count = u16(offset + kIfdCount);
    const size_t entriesEnd = offset + kIfdEntries + static_cast<size_t>(count) * kIfdEntryBytes;
    if (!tiff.Has(offset + kIfdEntries, static_cast<size_t>(count) * kIfdEntryBytes))
        return false;

    for (uint16_t i = 0; i < count; ++i) {
        const size_t e = offset + kIfdEntries + static_cast<size_t>(i) * kIfdEntryBytes;
        const uint16_t tag = u16(e + kEntryTag);
        const uint16_t format = u16(e + kEntryFormat);
        const uint32_t components = u32(e + kEntryComponents);
        if (format < 1 || format > kFormatCount)
            return false;
        const uint64_t bytes = static_cast<uint64_t>(components) * kFormatBytes[format];
        size_t valueAt = e + kEntryValue;
        if (bytes > 4) {
            const uint32_t where = u32(e + kEntryValue);
            if (!tiff.Has(where, static_cast<size_t>(bytes)))
                return false;
            valueAt = where;
        }
        const uint8_t* value = m_tiff + valueAt;
        const size_t valueBytes = static_cast<size_t>(bytes);
        // Numbers need one whole component.
        const bool number = components >= 1;
        auto num = [&]() { return number ? Number(value, format) : 0.0; };
        // A rational or float out of an integer's range has no meaning as
        // one (converting it is undefined): offsets and sizes become
        // unusable, small codes become -1.
        auto u32 = [&]() {
            const double v = num();
            return v >= 0 && v <= 4294967295.0 ? static_cast<uint32_t>(v) : UINT32_MAX;
        };
        auto i32 = [&]() {
            const double v = num();
            return v > -2147483648.0 && v < 2147483647.0 ? static_cast<int>(v) : -1;
        };

        switch (tag) {
            case kTagMake:
                CopyText(info.cameraMake, sizeof info.cameraMake, value, valueBytes);
                break;
            case kTagModel:
                CopyText(info.cameraModel, sizeof info.cameraModel, value, valueBytes);
                break;
            case kTagOrientation: {
                const int o = i32();
                info.orientation = o >= 1 && o <= 8 ? o : 0;
                break;
            }
            case kTagXResolution:
                info.xResolution = static_cast<float>(num());
                break;
            case kTagYResolution:
                info.yResolution = static_cast<float>(num());
                break;
            case kTagResolutionUnit:
                info.resolutionUnit = UnitScale(i32());
                break;
            case kTagThumbnailOffset: {
                const uint32_t at = u32();
                info.thumbnail = at < m_tiffLength ? m_tiff + at : nullptr;
                break;
            }
            case kTagThumbnailLength:
                info.thumbnailSize = u32();
                break;
            case kTagExposureTime:
                info.exposureTime = static_cast<float>(num());
                break;
            case kTagFNumber:
                info.fNumber = static_cast<float>(num());
                break;
            case kTagExposureProgram:
                info.exposureProgram = i32();
                break;
            case kTagIso: {
                int iso = i32();
                if (iso < 50)
                    iso *= 200;
                info.isoEquivalent = iso;
                break;
            }
            case kTagExifVersion:
                CopyText(info.version, sizeof info.version, value, std::min<size_t>(valueBytes, 4));
                break;
            case kTagDateTimeOriginal:
                CopyText(info.dateTime, sizeof info.dateTime, value, valueBytes);
                break;
            case kTagDateTime:
                CopyText(info.modifyTime, sizeof info.modifyTime, value, valueBytes);
                break;
            case kTagDateTimeDigitized:
                CopyText(info.digitizedTime, sizeof info.digitizedTime, value, valueBytes);
                break;
            case kTagCompressionLevel:
                info.compressionLevel = i32();
                break;
            case kTagBrightness:
                info.brightness = static_cast<float>(num());
                break;
            case kTagExposureBias:
                info.exposureBias = static_cast<float>(num());
                break;
            case kTagSubjectDistance:
                info.distance = static_cast<float>(num());
                break;
            case kTagMeteringMode:
                info.meteringMode = i32();
                break;
            case kTagLightSource:
                info.lightSource = i32();
                break;
            case kTagFlash:
                if (i32() & 7)
                    info.flashUsed = 1;
                break;
            case kTagFocalLength:
                info.focalLength = static_cast<float>(num());
                break;
            case kTagMakerNote:
                info.makerNoteLength =
                    static_cast<int32_t>(std::min<size_t>(valueBytes, INT32_MAX));
                info.makerNote = value;
                if (info.options & 8)
                    info.makerNoteCopy.assign(value, value + valueBytes);
                break;
            case kTagUserComment:
                info.userCommentLength =
                    static_cast<int32_t>(std::min<size_t>(valueBytes, INT32_MAX));
                info.userComment = value;
                if (info.options & 4)
                    info.userCommentCopy.assign(value, value + valueBytes);
                // The text after the 8-byte character-code prefix.
                if (valueBytes > 8)
                    CopyText(info.comments, sizeof info.comments, value + 8, valueBytes - 8);
                break;
            case kTagPixelXDimension:
            case kTagPixelYDimension:
                m_imageWidth = std::max(m_imageWidth, num());
                break;
            case kTagFocalPlaneXRes:
                info.focalPlaneXRes = static_cast<float>(num());
                break;
            case kTagFocalPlaneYRes:
                info.focalPlaneYRes = static_cast<float>(num());
                break;
            case kTagFocalPlaneUnit:
                m_focalPlaneUnit = UnitScale(i32());
                info.focalPlaneUnits = static_cast<float>(m_focalPlaneUnit);
                break;
            case kTagExifIfd:
            case kTagInteropIfd: {
                const uint32_t sub = u32();
                if (!tiff.Has(sub, 2) || !ReadDirectory(sub, depth + 1))
                    return false;
                break;
            }
            default:
                break;
        }
    }
    if (info.thumbnail != nullptr && (info.options & 2) != 0) {
        const size_t at = static_cast<size_t>(info.thumbnail - m_tiff);
        if (tiff.Has(at, info.thumbnailSize))
            info.thumbnailCopy.assign(info.thumbnail, info.thumbnail + info.thumbnailSize);
    }
    if (tiff.Has(entriesEnd, kIfdNextLinkBytes)) {
        const uint32_t next = u32(entriesEnd);
        if (next != 0) {
            if (!tiff.Has(next, 2) || !ReadDirectory(next, depth + 1))
                return false;
        }
    }
    m_open.pop_back();
    return true;
}
