#include "FileJPGAnalyser.h"

#include <strings.h>

#include <cstring>

#include "ByteReader.h"
#include "ExifReader.h"
#include "IStorageDevice.h"
#include "JpegLayout.h"
#include "JpegStructure.h"
#include "RawFileBuffer.h"

using namespace jpeg_layout;

namespace {

bool StartsJpeg(const unsigned char* sector) {
    return sector[0] == 0xFF && sector[1] == 0xD8 && sector[2] == 0xFF &&
           (sector[3] == 0xDB || sector[3] == 0xEE);
}

// Feeds the file from `offset` to the structure walker in window-sized
// pieces until it ends or breaks or `limit` is reached.
JpegStructure::State FollowScans(RawFileBuffer& file, JpegStructure& walker, uint64_t limit) {
    const size_t piece = file.GetSectorSize();
    while (walker.GetState() == JpegStructure::State::Going && walker.Position() < limit) {
        const uint64_t at = walker.Position();
        const uint8_t* p = file.GetRawFileBuffer(at, 1);
        if (p == nullptr)
            break;
        size_t n = std::min<size_t>(file.Available(at), piece * 16);
        n = static_cast<size_t>(std::min<uint64_t>(n, limit - at));
        walker.Feed(p, n);
    }
    return walker.GetState();
}

}  // namespace

void FileJPGAnalyser::InitMemValue() {
    m_cameraName.clear();
    m_date.clear();
    m_tag = RAW_TAG_NONE;
    m_tagValue.clear();
    m_sectorSize = 0;
}

int FileJPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const char* id = reinterpret_cast<const char*>(sector + kFirstAppId);
    if (std::memcmp(id, "JFIF", 4) != 0 && std::memcmp(id, "Exif", 4) != 0 && !StartsJpeg(sector))
        return 0;
    info.m_type = RAW_JPG;
    return 1;
}

void FileJPGAnalyser::ReadCamera(RawFileBuffer& file, uint64_t app1, CRawFileInfo& info) {
    const uint8_t* head = file.GetRawFileBuffer(app1, kPayload);
    if (head == nullptr || head[0] != kMarker || head[1] != kAPP1)
        return;
    const uint16_t length = vk::LoadBE<uint16_t>(head + kLengthBE);
    if (length < 2)
        return;
    const uint8_t* block = file.GetRawFileBuffer(app1 + kPayload, length - 2u);
    if (block == nullptr)
        return;
    tag_ExifInfo exif;
    CExifReader reader;
    reader.SetExitInfo(&exif);
    if (reader.EXIF_process_EXIF(nullptr, 0, block, length - 2u) == 0)
        return;
    const std::string model = exif.cameraModel;
    m_cameraName =
        ApiStrFilterBadFileName(model.find('<') != std::string::npos ? exif.cameraMake : model);
    m_tagValue = m_cameraName;
    info.SetRawFileName(m_cameraName);
    if (!m_cameraName.empty())
        m_tag = RAW_TAG_CAMERA;
    m_date = exif.dateTime;
    info.SetRawFileTime(m_date);
}

uint64_t FileJPGAnalyser::AddFileSizeByPerSecSize(RawFileBuffer& file, uint64_t offset,
                                                  uint64_t limit) {
    const uint64_t n = file.GetSectorSize();
    while (offset < limit) {
        const uint64_t start = offset / n * n;
        const uint8_t* s = file.GetRawFileBuffer(start, n);
        if (s == nullptr)
            return offset;
        const uint8_t* tail = s + n - 6;
        const bool zeroTail = std::memcmp(tail, "\0\0\0\0\0\0", 6) == 0;
        if (s[n - 2] == kMarker && s[n - 1] == kEOI)
            return start + n;
        if (!zeroTail) {
            offset = start + n;
            continue;
        }
        for (uint64_t q = offset; q + 1 < start + n; ++q) {
            if (s[q - start] == kMarker && s[q - start + 1] == kEOI)
                return q + 2;
        }
        if (offset + 4 <= start + n && std::memcmp(s + (offset - start), "\xD9\0\0\0", 4) == 0)
            return offset + 2;
        offset = start + n;
    }
    return offset;
}

int FileJPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    InitMemValue();
    if (device == nullptr)
        return 0;
    m_sectorSize = device->GetSectorSize();
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kFirstAppId + 4);
    if (head == nullptr)
        return 0;
    Walk walk = Walk::Plain;
    if (strncasecmp(reinterpret_cast<const char*>(head + kFirstAppId), "JFIF", 4) == 0)
        walk = Walk::Jfif;
    else if (std::memcmp(head + kFirstAppId, "Exif", 4) == 0)
        walk = Walk::Exif;
    const uint64_t limit = walk == Walk::Jfif ? kJfifLimit : kLimit;
    if (walk == Walk::Jfif)
        ReadCamera(file, kApp1AfterJfif, info);
    else if (walk == Walk::Exif)
        ReadCamera(file, kFirstMarker, info);

    uint64_t offset = kFirstMarker;
    uint64_t width = 0;
    uint64_t height = 0;
    bool frame = false;
    uint64_t scanMarker = 0;  // where the walk met the first scan
    bool sawScan = false;
    while (true) {
        if (offset == limit) {
            info.m_size = static_cast<long long>(limit);
            info.m_type = RAW_JPG;
            return 1;
        }
        if (offset > limit)
            return 0;
        const uint8_t* m = file.GetRawFileBuffer(offset, kPayload);
        if (m == nullptr || m[0] != kMarker)
            return 0;
        const uint8_t code = m[kCode];
        if (code == kMarker) {
            offset += 2;
            continue;
        }
        if (IsStandalone(code)) {
            // Nothing of the image before the end or a second start.
            if (code == kEOI || code == kSOI)
                return 0;
            offset += 2;
            continue;
        }
        const uint16_t length = vk::LoadBE<uint16_t>(m + kLengthBE);
        if (length < 2)
            return 0;
        const bool takes = walk == Walk::Jfif   ? (code == kSOF0 || (code == kSOF2 && !frame))
                           : walk == Walk::Exif ? code == kSOF0
                                                : IsStartOfFrame(code);
        if (takes) {
            const uint8_t* f = file.GetRawFileBuffer(offset, kFrameComponents + 1);
            if (f == nullptr || f[kFramePrecision] != 8 ||
                (walk == Walk::Plain && f[kFrameComponents] != 3))
                return 0;
            height = vk::LoadBE<uint16_t>(f + kFrameHeightBE);
            width = vk::LoadBE<uint16_t>(f + kFrameWidthBE);
            frame = true;
        } else if (code == kSOS) {
            scanMarker = offset;
            sawScan = true;
            if (frame) {
                const uint8_t* scan = file.GetRawFileBuffer(offset, kScanComponents + 1);
                if (scan == nullptr || (walk == Walk::Plain && scan[kScanComponents] != 3))
                    return 0;
                offset += length + 2u;
            }
            break;
        }
        offset += length + 2u;
    }

    // The scans end at the end-of-image marker whatever follows the file;
    // only an image whose structure breaks is left to the search for a
    // marker before zero fill.
    if (sawScan) {
        JpegStructure walker(scanMarker);
        walker.FollowNextPicture(static_cast<uint32_t>(file.GetSectorSize()));
        FollowScans(file, walker, limit);
        walker.EndOfData();
        if (walker.GetState() == JpegStructure::State::End) {
            info.m_size = static_cast<long long>(walker.StopOffset());
            info.m_type = RAW_JPG;
            return 1;
        }
    }
    const uint64_t pixels = frame ? width * height * 3 : 0;
    const uint64_t end = AddFileSizeByPerSecSize(file, offset, pixels != 0 ? pixels : limit);
    info.m_size = static_cast<long long>(end);
    info.m_type = RAW_JPG;
    return 1;
}
