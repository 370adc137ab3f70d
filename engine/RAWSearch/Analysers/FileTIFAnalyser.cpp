#include "FileTIFAnalyser.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "ByteReader.h"
#include "Carver.h"
#include "ExifReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "TiffCamera.h"
#include "TiffLayout.h"

using namespace tiff_layout;
using rawcarve::WholeSectors;

namespace {

// One measurement: the directory walk over the device and what it found.
class TiffWalk {
public:
    TiffWalk(IStorageDevice* device, unsigned long long startSector)
        : m_file(device, startSector) {}

    long long Measure(CRawFileInfo& info);

    std::string m_model;
    std::string m_make;
    std::string m_dateTime;
    std::string m_name;
    uint64_t m_thumbStart = 0;
    uint64_t m_thumbSize = 0;

private:
    struct Entry {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        uint32_t value = 0;              // the value field as a 32-bit number (an offset)
        uint32_t scalar = 0;             // the first element when it lies in the value field
        const uint8_t* field = nullptr;  // the value field's 4 bytes
        uint64_t bytes = 0;              // count × element size
    };

    const uint8_t* At(uint64_t offset, size_t needed) {
        if (offset > FileTIFAnalyser::kMaxOffset)
            return nullptr;
        return m_file.GetRawFileBuffer(offset, needed);
    }
    uint16_t U16(const uint8_t* p) const {
        return m_bigEndian ? vk::LoadBE<uint16_t>(p) : vk::LoadLE<uint16_t>(p);
    }
    uint32_t U32(const uint8_t* p) const {
        return m_bigEndian ? vk::LoadBE<uint32_t>(p) : vk::LoadLE<uint32_t>(p);
    }
    void Reach(uint64_t end) { m_furthest = std::max(m_furthest, end); }

    // Reads a directory's entries; false when it is no directory.
    bool ReadDirectory(uint64_t offset, std::vector<Entry>& entries, uint64_t* linkAt,
                       uint32_t* link);
    bool LastElement(const Entry& e, uint64_t base, uint64_t* out);
    std::string Text(const Entry& e, uint64_t base);
    void Offset(const Entry& e, uint64_t base, bool& thumbFound);
    void Size(const Entry& e, bool thumbFound);
    void Tiles(const Entry& e, uint64_t base);
    // The tags every directory is read for alike: where the image data and
    // a thumbnail's JPEG lie, and the DNG mark. Other tags are left alone.
    void ImageData(const Entry& e, uint64_t base, bool& thumbFound);
    void EndOfData() {
        if (m_dataOffset != 0 && m_dataSize != 0)
            Reach(m_dataOffset + m_dataSize);
    }
    void Make(const std::string& raw);
    void Model(const std::string& raw);
    // A directory outside the main chain and the ones linked from it.
    void GetSubIFDSize(uint64_t offset, uint64_t base, bool needed);
    bool Raf(CRawFileInfo& info);
    void Finish(CRawFileInfo& info);

    RawFileBuffer m_file;
    bool m_bigEndian = false;
    bool m_raf = false;
    bool m_iiu = false;
    bool m_nikon = false;
    bool m_epson = false;
    bool m_dng = false;
    bool m_a100 = false;
    uint64_t m_dataOffset = 0;
    uint64_t m_dataSize = 0;
    Entry m_tileOffsets;
    Entry m_tileCounts;
    uint64_t m_tileBase = 0;
    uint64_t m_furthest = 0;
    uint64_t m_chainEnd = 0;
    uint32_t m_a100SubIfd = 0;
    int m_subDirectories = 1;
    std::set<uint64_t> m_seen;  // directories read, so a loop of links ends
    // Whether the structure says where the file ends: every directory that
    // holds the image read, and the image data located.
    bool m_complete = true;
    bool m_imageData = false;
};

bool TiffWalk::ReadDirectory(uint64_t offset, std::vector<Entry>& entries, uint64_t* linkAt,
                             uint32_t* link) {
    entries.clear();
    const uint8_t* head = At(offset, 2);
    if (head == nullptr)
        return false;
    const uint32_t count = U16(head + kIfdCount);
    if (count == 0 || count > kMaxEntries)
        return false;
    const uint64_t bytes = DirectoryBytes(count);
    const uint8_t* dir = At(offset, static_cast<size_t>(bytes));
    if (dir == nullptr)
        return false;
    // The directory itself is part of the file.
    Reach(offset + bytes);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = dir + kIfdEntries + static_cast<size_t>(i) * kEntryBytes;
        Entry e;
        e.tag = U16(p + kEntryTag);
        e.type = U16(p + kEntryType);
        e.count = U32(p + kEntryCount);
        e.field = p + kEntryValue;
        e.value = U32(e.field);
        const uint32_t size = TypeSize(e.type);
        e.scalar = size == 1 ? e.field[0] : size == 2 ? U16(e.field) : e.value;
        e.bytes = static_cast<uint64_t>(e.count) * size;
        entries.push_back(e);
    }
    *linkAt = offset + kIfdEntries + static_cast<uint64_t>(count) * kEntryBytes;
    *link = U32(dir + (*linkAt - offset));
    return true;
}

// The last element of an offset or count array.
bool TiffWalk::LastElement(const Entry& e, uint64_t base, uint64_t* out) {
    const uint32_t size = TypeSize(e.type);
    if (e.count == 0 || (size != 2 && size != 4))
        return false;
    if (e.count == 1) {
        *out = e.scalar;
        return true;
    }
    if (e.bytes <= 4) {  // two 16-bit elements in the value field
        *out = U16(e.field + 2);
        return true;
    }
    const uint64_t at = base + e.value + static_cast<uint64_t>(e.count - 1) * size;
    const uint8_t* p = At(at, size);
    if (p == nullptr)
        return false;
    *out = size == 2 ? U16(p) : U32(p);
    return true;
}

std::string TiffWalk::Text(const Entry& e, uint64_t base) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(e.count, tiff_camera::kMaxTextBytes));
    if (e.bytes <= 4)
        return tiff_camera::FieldText(e.field, std::min<size_t>(n, 4));
    const uint8_t* p = At(base + e.value, n);
    return p != nullptr ? tiff_camera::FieldText(p, n) : std::string();
}

void TiffWalk::Offset(const Entry& e, uint64_t base, bool& thumbFound) {
    uint64_t last = 0;
    if (!LastElement(e, base, &last))
        return;
    m_dataOffset = base + last;
    thumbFound = false;
    if (e.count == 1) {
        const uint8_t* p = At(m_dataOffset, 4);
        if (p != nullptr && IsJpegStart(p)) {
            m_thumbStart = m_dataOffset;
            thumbFound = true;
        }
    }
}

void TiffWalk::Size(const Entry& e, bool thumbFound) {
    uint64_t last = 0;
    if (!LastElement(e, 0, &last))
        return;
    m_dataSize = last;
    if (m_dataSize == 0 || m_dataOffset == 0) {
        m_dataSize = 0;
        m_dataOffset = 0;
        return;
    }
    EndOfData();
    // Strips hold the image; a thumbnail alone says nothing of where the
    // picture's data ends.
    if (e.tag == kTagStripByteCounts)
        m_imageData = true;
    if (thumbFound)
        m_thumbSize = m_dataSize;
}

void TiffWalk::ImageData(const Entry& e, uint64_t base, bool& thumbFound) {
    switch (e.tag) {
        case kTagStripOffsets:
        case kTagJpegOffset:
            Offset(e, base, thumbFound);
            break;
        case kTagStripByteCounts:
        case kTagJpegLength:
            Size(e, thumbFound);
            break;
        case kTagTileOffsets:
        case kTagTileByteCounts:
            Tiles(e, base);
            break;
        case kTagDngVersion:
            m_dng = true;
            break;
        default:
            break;
    }
}

void TiffWalk::Tiles(const Entry& e, uint64_t base) {
    if (e.tag == kTagTileOffsets) {
        m_tileOffsets = e;
        m_tileBase = base;
    } else {
        m_tileCounts = e;
    }
    const Entry& o = m_tileOffsets;
    const Entry& c = m_tileCounts;
    // Offsets and byte counts may be typed apart (LONG offsets with SHORT
    // counts are common); one count for each tile is what matters.
    if (o.count == 0 || o.count != c.count)
        return;
    uint64_t offset = 0;
    uint64_t size = 0;
    if (!LastElement(o, m_tileBase, &offset) || !LastElement(c, 0, &size))
        return;
    if (offset != 0 && size != 0) {
        Reach(m_tileBase + offset + size);
        m_imageData = true;
    }
}

void TiffWalk::Make(const std::string& raw) {
    m_make = tiff_camera::CleanMake(raw);
    if (m_make.find("EPSON") != std::string::npos)
        m_epson = true;
}

void TiffWalk::Model(const std::string& raw) {
    m_model = tiff_camera::CleanModel(raw);
    if (m_model.empty())
        return;
    if (m_model.size() > 4 && m_make.rfind("NIKON", 0) == 0)
        m_nikon = true;
    if (m_model.size() > 8 && m_model.rfind("DSLR-A100", 0) == 0)
        m_a100 = true;
}

void TiffWalk::GetSubIFDSize(uint64_t offset, uint64_t base, bool needed) {
    std::vector<Entry> entries;
    while (offset != 0) {
        if (++m_subDirectories > FileTIFAnalyser::kMaxSubDirectories ||
            !m_seen.insert(offset).second) {
            if (needed)
                m_complete = false;
            return;
        }
        uint64_t linkAt = 0;
        uint32_t link = 0;
        if (!ReadDirectory(offset, entries, &linkAt, &link)) {
            // Maker notes are often no directories at all; only the
            // directories that hold the image decide the size.
            if (needed)
                m_complete = false;
            return;
        }
        bool thumbFound = false;
        for (const Entry& e : entries) {
            if (e.bytes > 4)
                Reach(base + e.value + e.bytes);
            switch (e.tag) {
                case kTagDataBlock:
                case kTagIptc:
                    Reach(e.value + base + e.bytes);
                    break;
                case kTagExifIfd:
                    GetSubIFDSize(e.value + base, base, needed);
                    break;
                case kTagDateTimeOriginal:
                    if (m_dateTime.empty())
                        m_dateTime = Text(e, base);
                    break;
                case kTagMakerNote: {
                    const uint64_t noteBase = m_nikon ? 18 : m_epson ? 8 : 0;
                    GetSubIFDSize(e.value + noteBase, noteBase, false);
                    break;
                }
                default:
                    ImageData(e, base, thumbFound);
                    break;
            }
        }
        Reach(linkAt + kLinkBytes);
        EndOfData();
        offset = link != 0 ? link + base : 0;
    }
}

// The RAF header: the embedded JPEG (whose EXIF names the camera) and the
// raw data it points at. False when the header cannot be a camera's.
bool TiffWalk::Raf(CRawFileInfo& info) {
    using namespace raf_layout;
    const uint8_t* h = At(0, raf_layout::kHeaderBytes);
    if (h == nullptr)
        return false;
    const uint32_t jpegOffset = vk::LoadBE<uint32_t>(h + kJpegOffsetBE);
    const uint32_t jpegLength = vk::LoadBE<uint32_t>(h + kJpegLengthBE);
    const uint64_t cfaHeaderEnd =
        static_cast<uint64_t>(vk::LoadBE<uint32_t>(h + kCfaHeaderOffsetBE)) +
        vk::LoadBE<uint32_t>(h + kCfaHeaderLengthBE);
    const uint64_t cfaEnd = static_cast<uint64_t>(vk::LoadBE<uint32_t>(h + kCfaOffsetBE)) +
                            vk::LoadBE<uint32_t>(h + kCfaLengthBE);
    const uint32_t extra = vk::LoadBE<uint32_t>(h + kExtraLengthBE);
    if (jpegOffset > kLateJpeg &&
        (jpegOffset > FileTIFAnalyser::kMaxOffset || jpegLength > FileTIFAnalyser::kMaxOffset))
        return false;

    // The JPEG's EXIF block: its APP1 comes first, or after a JFIF APP0.
    uint64_t app = static_cast<uint64_t>(jpegOffset) + 2;
    for (int k = 0; k < 2; ++k) {
        const uint8_t* m = At(app, 4);
        if (m == nullptr || m[0] != 0xFF)
            break;
        const uint16_t length = vk::LoadBE<uint16_t>(m + 2);
        if (m[1] == 0xE1 && length > 8) {
            const uint8_t* block = At(app + 4, length - 2);
            tag_ExifInfo exif;
            CExifReader reader;
            reader.SetExitInfo(&exif);
            if (block != nullptr && reader.EXIF_process_EXIF(nullptr, 0, block, length - 2) == 1) {
                m_model = ApiStrFilterBadFileName(exif.cameraModel);
                m_make = exif.cameraMake[0] != 0 ? std::string(exif.cameraMake) : m_model;
                m_dateTime = exif.dateTime;
                info.SetRawFileName(m_model);
                info.SetRawFileTime(m_dateTime);
                if (!m_make.empty())
                    info.SetRawFileTagAndValue(RAW_TAG_CAMERA, m_make);
            }
            break;
        }
        if (m[1] != 0xE0)
            break;
        app += 2 + static_cast<uint64_t>(length);
    }
    Reach(
        std::max<uint64_t>({static_cast<uint64_t>(jpegOffset) + jpegLength, cfaHeaderEnd, cfaEnd}) +
        extra);
    m_imageData = cfaEnd != 0;
    return true;
}

void TiffWalk::Finish(CRawFileInfo& info) {
    RAW_FILE_TYPE type = info.m_type;
    if (!m_raf) {
        type = tiff_camera::RawTypeFromMaker(m_make, m_model, m_dng, m_iiu);
        if (type < 0)
            type = m_iiu ? RAW_RAWIMG : RAW_TIF;
    }
    info.m_type = type;
    if (!m_make.empty() && !m_model.empty())
        m_name = m_make + "_" + m_model;
    else
        m_name = m_model.empty() ? m_make : m_model;
    info.SetRawFileName(m_name);
    info.SetRawFileTime(m_dateTime);
    if (!m_make.empty())
        info.SetRawFileTagAndValue(RAW_TAG_CAMERA, m_make);
    else if (!m_model.empty())
        info.SetRawFileTagAndValue(RAW_TAG_CAMERA, m_model);
    else
        info.SetRawFileTagAndValue(RAW_TAG_NONE, std::string());
    info.m_thumbStart = static_cast<long long>(m_thumbStart);
    info.m_thumbSize = static_cast<long long>(m_thumbSize);
}

long long TiffWalk::Measure(CRawFileInfo& info) {
    const uint8_t* head = At(0, kHeaderBytes);
    if (head == nullptr)
        return 0;
    uint64_t base = 0;
    if (std::memcmp(head, raf_layout::kMagic, raf_layout::kMagicBytes) == 0) {
        m_raf = true;
        info.m_type = RAW_RAF;
        if (!Raf(info))
            return 0;
        base = raf_layout::kTiffStart;
        head = At(base, kHeaderBytes);
        if (head == nullptr)
            return 0;
    }
    m_bigEndian = head[0] == 'M' && head[1] == 'M';
    if (!m_raf && std::memcmp(head, "IIU\0", 4) == 0) {
        m_iiu = true;
        info.m_type = RAW_RAWIMG;
    }

    uint64_t offset = base + U32(head + kFirstIfd);
    uint64_t previous = 0;
    std::vector<Entry> entries;
    bool chainEnded = false;
    for (int walked = 0; walked < FileTIFAnalyser::kMaxChainDirectories; ++walked) {
        if (offset > FileTIFAnalyser::kMaxOffset || m_chainEnd > FileTIFAnalyser::kMaxOffset ||
            !m_seen.insert(offset).second)
            break;
        uint64_t linkAt = 0;
        uint32_t link = 0;
        if (!ReadDirectory(offset, entries, &linkAt, &link))
            break;
        bool thumbFound = false;
        bool rafDone = false;
        for (const Entry& e : entries) {
            if (e.bytes > 4)
                Reach(base + e.value + e.bytes);
            switch (e.tag) {
                case kTagMake:
                    Make(Text(e, base));
                    if (!m_make.empty())
                        info.SetRawFileTagAndValue(RAW_TAG_CAMERA, m_make);
                    break;
                case kTagModel:
                    Model(Text(e, base));
                    if (m_make.empty() && !m_model.empty())
                        info.SetRawFileTagAndValue(RAW_TAG_CAMERA, m_model);
                    rafDone = m_raf;
                    break;
                case kTagDateTime:
                    m_dateTime = Text(e, base);
                    break;
                case kTagSubIfds: {
                    if (m_a100) {
                        m_a100SubIfd = e.value;
                        break;
                    }
                    const uint32_t n = std::min<uint32_t>(e.count, 64);
                    for (uint32_t k = 0; k < n; ++k) {
                        uint64_t sub = e.scalar;
                        if (e.bytes > 4) {
                            const uint8_t* p = At(base + e.value + 4ULL * k, 4);
                            if (p == nullptr) {
                                m_complete = false;
                                break;
                            }
                            sub = U32(p);
                        }
                        GetSubIFDSize(sub + base, base, true);
                    }
                    break;
                }
                case kTagIptc:
                    if (e.bytes == 0 && m_make == "KODAK" &&
                        m_model.find("DCS Pro SLR") != std::string::npos) {
                        if (const uint8_t* p = At(base + e.value, 4))
                            Reach(base + e.value + U32(p));
                    } else {
                        Reach(base + e.value + e.bytes);
                    }
                    break;
                case kTagExifIfd:
                    GetSubIFDSize(base + e.value, base, true);
                    break;
                case kTagImageSourceData:
                    Reach(base + e.value + e.bytes);
                    break;
                case kTagIiuJpeg: {
                    // The IIU file's JPEG holds a TIFF of its own.
                    const uint64_t jpeg = base + e.value;
                    if (const uint8_t* p = At(jpeg + 16, 4))
                        GetSubIFDSize(jpeg + U32(p) + 12, jpeg + 12, false);
                    break;
                }
                case kTagDngPrivateData:
                    if (m_a100) {
                        const uint8_t* p = At(base + e.value + 4, 2);
                        const uint8_t* q = p != nullptr ? At(base + e.value + U16(p), 4) : nullptr;
                        if (q != nullptr)
                            Reach(static_cast<uint64_t>(U32(q)) + m_a100SubIfd);
                    }
                    break;
                default:
                    ImageData(e, base, thumbFound);
                    break;
            }
            if (rafDone)
                break;
        }
        m_chainEnd = std::max(m_chainEnd, linkAt + kLinkBytes);
        if (m_raf) {
            chainEnded = true;
            break;
        }
        previous = offset;
        if (link == 0) {
            chainEnded = true;
            break;
        }
        offset = base + link;
        // A link back (or to itself) ends the chain where it stands.
        if (offset <= previous)
            break;
    }
    if (!chainEnded)
        m_complete = false;
    Finish(info);

    const uint64_t sectorSize = m_file.GetSectorSize();
    uint64_t end = std::max(m_furthest, m_chainEnd);
    if (m_complete && m_imageData && end <= FileTIFAnalyser::kMaxOffset) {
        // The structure says where the file ends.
        return static_cast<long long>(end);
    }
    // Data the directories do not describe: a guess from what follows.
    if (end > FileTIFAnalyser::kMaxOffset)
        end = FileTIFAnalyser::kGuessedEnd;
    end = WholeSectors(end, sectorSize);
    if (end >= FileTIFAnalyser::kZeroTailBelow || end == 0)
        return static_cast<long long>(end);
    for (uint64_t at = end - sectorSize; at <= FileTIFAnalyser::kZeroTailLimit; at += sectorSize) {
        const uint8_t* s = At(at, static_cast<size_t>(sectorSize));
        if (s == nullptr)
            return static_cast<long long>(at);
        bool zeroTail = true;
        for (unsigned k = 1; k <= FileTIFAnalyser::kZeroTailBytes; ++k)
            zeroTail = zeroTail && s[sectorSize - k] == 0;
        if (zeroTail)
            return static_cast<long long>(at + sectorSize);
    }
    return static_cast<long long>(WholeSectors(FileTIFAnalyser::kZeroTailLimit, sectorSize));
}

}  // namespace

int FileTIFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (std::memcmp(sector, "FUJI", 4) == 0 &&
        std::memcmp(sector, raf_layout::kMagic, raf_layout::kMagicBytes) != 0)
        return 0;
    info.m_type = RAW_TIF;
    return 1;
}

void FileTIFAnalyser::InitTifAnalyser() {
    m_name.clear();
    m_dateTime.clear();
    m_make.clear();
    m_tag = RAW_TAG_NONE;
    m_thumbStart = 0;
    m_thumbSize = 0;
}

long long FileTIFAnalyser::GetTiffSize(CRawFileInfo& info, IStorageDevice* device) {
    InitTifAnalyser();
    if (device == nullptr)
        return 0;
    TiffWalk walk(device, static_cast<unsigned long long>(info.m_startSector));
    const long long size = walk.Measure(info);
    m_name = walk.m_name;
    m_dateTime = walk.m_dateTime;
    m_make = walk.m_make;
    m_tag = m_make.empty() && walk.m_model.empty() ? RAW_TAG_NONE : RAW_TAG_CAMERA;
    m_thumbStart = walk.m_thumbStart;
    m_thumbSize = walk.m_thumbSize;
    return size;
}

int FileTIFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    info.m_size = GetTiffSize(info, device);
    return 1;
}

void FileTIFAnalyser::GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value) const {
    tag = m_tag;
    value = m_make;
}

void FileTIFAnalyser::GetThumbStartAndSize(unsigned long long& start,
                                           unsigned long long& size) const {
    start = m_thumbStart;
    size = m_thumbSize;
}
