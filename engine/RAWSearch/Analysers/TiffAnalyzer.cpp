#include "TiffAnalyzer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "TiffCamera.h"
#include "TiffLayout.h"

using namespace tiff_layout;

VK_RAW_ANALYSER_FACTORY(NewTiffAnalyzer, BruteForce::TiffAnalyzer);

namespace BruteForce {

int TiffAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const bool ok =
        std::memcmp(sector, raf_layout::kMagic, raf_layout::kMagicBytes) == 0 ||
        (sector[0] == 'M' && sector[1] == 'M' &&
         ((sector[2] == 0 && sector[3] == 0x2A) || (sector[2] == 'O' && sector[3] == 'R'))) ||
        (sector[0] == 'I' && sector[1] == 'I' &&
         ((sector[2] == 0x2A && sector[3] == 0) || (sector[2] == 0x55 && sector[3] == 0) ||
          (sector[2] == 'R' && (sector[3] == 'O' || sector[3] == 'S'))));
    if (!ok)
        return 0;
    info.m_type = RAW_TIF;
    return 1;
}

TiffAnalyzer::TiffRawFileInfo::TiffRawFileInfo(TiffAnalyzer* owner) : m_owner(owner) {
    m_type = RAW_TIF;
}

void TiffAnalyzer::TiffRawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (m_owner != nullptr)
        m_analyser = &m_owner->WholeFile();
}

const uint8_t* TiffAnalyzer::TiffRawFileInfo::At(uint64_t offset, uint64_t length) const {
    if (offset > FileTIFAnalyser::kMaxOffset || length > FileTIFAnalyser::kMaxOffset)
        return nullptr;
    const long long lo = static_cast<long long>(offset);
    if (lo < m_windowFirst || lo + static_cast<long long>(length) > m_windowEnd)
        return nullptr;
    return m_sector + (lo - m_sectorOffset);
}

uint16_t TiffAnalyzer::TiffRawFileInfo::U16(const uint8_t* p) const {
    return m_bigEndian ? vk::LoadBE<uint16_t>(p) : vk::LoadLE<uint16_t>(p);
}

uint32_t TiffAnalyzer::TiffRawFileInfo::U32(const uint8_t* p) const {
    return m_bigEndian ? vk::LoadBE<uint32_t>(p) : vk::LoadLE<uint32_t>(p);
}

void TiffAnalyzer::TiffRawFileInfo::Reach(uint64_t end) {
    m_measured = std::max(m_measured, end);
    if (end > static_cast<uint64_t>(m_endOffset))
        m_endOffset = static_cast<long long>(std::min<uint64_t>(end, INT64_MAX / 2));
}

void TiffAnalyzer::TiffRawFileInfo::Queue(Kind kind, uint64_t offset, uint32_t length,
                                          uint64_t base, uint32_t count) {
    Read read;
    read.offset = offset;
    read.length = length;
    read.kind = kind;
    read.base = base;
    read.count = count;
    m_pending.push_back(read);
}

void TiffAnalyzer::TiffRawFileInfo::SetLast(Kind kind, uint64_t base, uint64_t value) {
    switch (kind) {
        case Kind::LastStripOffset:
            m_stripOffset = base + value;
            m_stripOffsetKnown = true;
            StripEnd();
            break;
        case Kind::LastStripCount:
            m_stripCount = value;
            m_stripCountKnown = true;
            StripEnd();
            break;
        case Kind::LastTileOffset:
            m_tileOffset = base + value;
            m_tileOffsetKnown = true;
            TileEnd();
            break;
        case Kind::LastTileCount:
            m_tileCount = value;
            m_tileCountKnown = true;
            TileEnd();
            break;
        default:
            break;
    }
}

void TiffAnalyzer::TiffRawFileInfo::StripEnd() {
    if (!m_stripOffsetKnown || !m_stripCountKnown || m_stripOffset == 0 || m_stripCount == 0)
        return;
    Reach(m_stripOffset + m_stripCount);
    m_imageData = true;
    if (m_stripIsJpeg) {
        m_thumbStart = static_cast<long long>(m_stripOffset);
        m_thumbSize = static_cast<long long>(m_stripCount);
    }
}

void TiffAnalyzer::TiffRawFileInfo::TileEnd() {
    if (!m_tileOffsetKnown || !m_tileCountKnown || m_tileOffset == 0 || m_tileCount == 0)
        return;
    Reach(m_tileOffset + m_tileCount);
    m_imageData = true;
}

void TiffAnalyzer::TiffRawFileInfo::SetFileExt() {
    const RAW_FILE_TYPE type = tiff_camera::RawTypeFromMaker(m_make, m_model, m_dng, m_iiu);
    if (type >= 0)
        m_type = type;
}

// One 12-byte entry of a directory whose offsets count from `base`.
void TiffAnalyzer::TiffRawFileInfo::Entry(const uint8_t* e, uint64_t base) {
    const uint16_t tag = U16(e + kEntryTag);
    const uint16_t type = U16(e + kEntryType);
    const uint32_t count = U32(e + kEntryCount);
    const uint8_t* field = e + kEntryValue;
    const uint32_t value = U32(field);
    const uint32_t size = TypeSize(type);
    const uint64_t bytes = static_cast<uint64_t>(count) * size;
    const uint32_t scalar = size == 1 ? field[0] : size == 2 ? U16(field) : value;
    const uint64_t where = base + value;  // the data, when it does not fit the entry
    if (bytes > 4)
        Reach(where + bytes);
    if ((type < 1 || type > 4) && type != kTypeIfd)
        return;
    if (tag > kTagDngVersion)
        return;
    auto last = [&](Kind kind) {
        // The last element of an array; two 16-bit ones sit in the entry.
        if (count == 0 || (size != 2 && size != 4))
            return;
        if (bytes <= 4) {
            SetLast(kind, base, count == 1 ? scalar : U16(field + 2));
            return;
        }
        Queue(kind, where + static_cast<uint64_t>(count - 1) * size, size, base);
    };
    auto text = [&](Kind kind) {
        const uint32_t n = std::min<uint32_t>(count, tiff_camera::kMaxTextBytes);
        if (bytes <= 4) {
            Read r;
            r.kind = kind;
            r.length = std::min<uint32_t>(n, 4);
            Handle(r, field);
        } else {
            Queue(kind, where, n);
        }
    };
    switch (tag) {
        case kTagImageWidth:
            m_width = scalar;
            break;
        case kTagImageHeight:
            m_height = scalar;
            break;
        case kTagMake:
            text(Kind::Make);
            break;
        case kTagModel:
            text(Kind::Model);
            break;
        case kTagStripOffsets:
            if (count == 1) {
                m_stripOffset = base + scalar;
                m_stripOffsetKnown = true;
                Queue(Kind::JpegStrip, m_stripOffset, 4);
                StripEnd();
            } else {
                last(Kind::LastStripOffset);
            }
            break;
        case kTagStripByteCounts:
            m_sizesRead = true;
            last(Kind::LastStripCount);
            break;
        case kTagDateTime:
            text(Kind::DateTime);
            break;
        case kTagTileOffsets:
            last(Kind::LastTileOffset);
            break;
        case kTagTileByteCounts:
            last(Kind::LastTileCount);
            break;
        case kTagSubIfds:
            if (count == 1)
                Queue(Kind::SubDirectory, base + scalar, 2, base);
            else if (size == 4 && count > 1)
                Queue(Kind::SubDirectoryList, where,
                      static_cast<uint32_t>(std::min<uint64_t>(bytes, 256)), base,
                      std::min<uint32_t>(count, 64));
            break;
        case kTagJpegOffset:
            m_thumbOffset = base + scalar;
            Queue(Kind::JpegThumb, m_thumbOffset, 4);
            break;
        case kTagJpegLength:
            m_sizesRead = true;
            if (m_thumbOffset != 0 && scalar != 0) {
                Reach(m_thumbOffset + scalar);
                m_thumbLength = scalar;
                if (m_thumbStart == static_cast<long long>(m_thumbOffset))
                    m_thumbSize = scalar;
            }
            break;
        case kTagExifIfd:
            Queue(Kind::SubDirectory, base + scalar, 2, base);
            break;
        case kTagMakerNote: {
            const uint64_t noteBase = m_make.rfind("NIKON", 0) == 0               ? 18
                                      : m_make.find("EPSON") != std::string::npos ? 8
                                                                                  : 0;
            Queue(Kind::NoteDirectory, value + noteBase, 2, noteBase);
            break;
        }
        case kTagDngVersion:
            m_dng = true;
            break;
        default:
            break;
    }
}

void TiffAnalyzer::TiffRawFileInfo::CheckIFD(const Read& read) {
    if (++m_directories > kMaxDirectories) {
        m_done = true;
        return;
    }
    const uint8_t* dir = At(read.offset, read.length);
    const uint32_t count = U16(dir + kIfdCount);
    const uint64_t linkAt = read.offset + kIfdEntries + static_cast<uint64_t>(count) * kEntryBytes;
    Reach(linkAt + kLinkBytes);
    for (uint32_t i = 0; i < count; ++i)
        Entry(dir + kIfdEntries + static_cast<size_t>(i) * kEntryBytes, read.base);
    SetFileExt();
    const uint64_t w = m_width;
    const uint64_t h = m_height;
    if (std::min(w, h) >= 400 && std::max(w, h) >= 600)
        m_pixelCount = static_cast<long long>(w * h);
    const uint32_t link = U32(dir + (linkAt - read.offset));
    if (link != 0) {
        Queue(read.kind, read.base + link, 2, read.base);
    } else if (read.kind == Kind::ChainDirectory) {
        m_chainEnded = true;
    }
}

// Whether the file's size depends on what this read finds.
bool TiffAnalyzer::TiffRawFileInfo::Sizes(Kind kind) {
    switch (kind) {
        case Kind::ChainDirectory:
        case Kind::SubDirectory:
        case Kind::SubDirectoryList:
        case Kind::LastStripOffset:
        case Kind::LastStripCount:
        case Kind::LastTileOffset:
        case Kind::LastTileCount:
            return true;
        default:
            return false;
    }
}

bool TiffAnalyzer::TiffRawFileInfo::Handle(Read& read, const uint8_t* data) {
    switch (read.kind) {
        case Kind::ChainDirectory:
        case Kind::SubDirectory:
        case Kind::NoteDirectory: {
            const bool needed = read.kind != Kind::NoteDirectory;
            if (read.length == 2) {
                // The count first, then the whole directory.
                if (!m_seen.insert(read.offset).second) {
                    m_lost = m_lost || needed;  // a loop of links
                    return true;
                }
                const uint32_t count = U16(data);
                if (count == 0 || count > kMaxEntries) {
                    m_lost = m_lost || needed;
                    return true;
                }
                read.length = static_cast<uint32_t>(DirectoryBytes(count));
                if (At(read.offset, read.length) == nullptr)
                    return false;
            }
            CheckIFD(read);
            return true;
        }
        case Kind::LastStripOffset:
        case Kind::LastStripCount:
        case Kind::LastTileOffset:
        case Kind::LastTileCount:
            SetLast(read.kind, read.base, read.length == 2 ? U16(data) : U32(data));
            return true;
        case Kind::SubDirectoryList:
            for (uint32_t k = 0; k < read.count && 4 * (k + 1) <= read.length; ++k)
                Queue(Kind::SubDirectory, read.base + U32(data + 4 * k), 2, read.base);
            return true;
        case Kind::Make: {
            m_make = tiff_camera::CleanMake(tiff_camera::FieldText(data, read.length));
            if (!m_make.empty())
                SetRawFileTagAndValue(RAW_TAG_CAMERA, m_make);
            return true;
        }
        case Kind::Model:
            m_model = tiff_camera::CleanModel(tiff_camera::FieldText(data, read.length));
            if (m_make.empty() && !m_model.empty())
                SetRawFileTagAndValue(RAW_TAG_CAMERA, m_model);
            return true;
        case Kind::DateTime:
            SetRawFileTime(tiff_camera::FieldText(data, read.length));
            return true;
        case Kind::JpegStrip:
            m_stripIsJpeg = IsJpegStart(data);
            StripEnd();
            return true;
        case Kind::JpegThumb:
            if (IsJpegStart(data)) {
                m_thumbStart = static_cast<long long>(read.offset);
                m_thumbSize = static_cast<long long>(m_thumbLength);
            }
            return true;
    }
    return true;
}

int TiffAnalyzer::TiffRawFileInfo::Finish(long long size) {
    const long long n = m_sectorSize;
    const long long last = m_startSector + (size > 0 ? (size - 1) / n : 0);
    char text[256];
    if (!m_make.empty() && !m_model.empty())
        std::snprintf(text, sizeof text, "%s_%s_%lld-%lld_", m_make.c_str(), m_model.c_str(),
                      m_startSector, last);
    else if (!m_make.empty() || !m_model.empty())
        std::snprintf(text, sizeof text, "%s_%lld-%lld_",
                      m_model.empty() ? m_make.c_str() : m_model.c_str(), m_startSector, last);
    else
        std::snprintf(text, sizeof text, "%lld-%lld_", m_startSector, last);
    SetRawFileName(text);
    m_size = size;
    return 1;
}

int TiffAnalyzer::TiffRawFileInfo::GiveUp() {
    m_done = true;
    m_size = 0;
    return 1;
}

int TiffAnalyzer::TiffRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long a,
                                               SearchContext& context) {
    if (sector == nullptr || sectorSize <= 0 || a < m_startSector)
        return 2;
    if (m_done)
        return GiveUp();
    const long long n = sectorSize;
    m_sector = sector;
    m_sectorOffset = (a - m_startSector) * n;
    m_windowFirst = (context.windowFirstSector - m_startSector) * n;
    m_windowEnd = (std::max(context.windowEndSector, a + 1) - m_startSector) * n;

    if (!m_started) {
        m_started = true;
        m_sectorSize = sectorSize;
        if (a != m_startSector)
            return GiveUp();  // the first sector was not seen
        if (std::memcmp(sector, "IIU\0", 4) == 0) {
            m_type = RAW_RAWIMG;
            m_iiu = true;
        }
        if (std::memcmp(sector, raf_layout::kMagic, raf_layout::kMagicBytes) == 0)
            return GiveUp();  // the wrapper is the whole-file sizer's
        m_bigEndian = sector[0] == 'M';
        const uint32_t first = U32(sector + kFirstIfd);
        if (first < kHeaderBytes)
            return GiveUp();
        if (first >= static_cast<uint32_t>(n)) {
            m_endOffset = first;
            if (first > kMaxFirstIfd)
                return GiveUp();
        }
        Queue(Kind::ChainDirectory, first, 2);
    }

    // Reads whose bytes the buffer now holds; the ones it no longer holds
    // (or never can) are lost to this road.
    for (bool progress = true; progress && !m_done;) {
        progress = false;
        for (size_t k = 0; k < m_pending.size() && !m_done;) {
            Read read = m_pending[k];
            const uint8_t* data = At(read.offset, read.length);
            if (data == nullptr) {
                if (read.offset + read.length > FileTIFAnalyser::kMaxOffset) {
                    // Points at no place a file of ours can reach.
                    m_pending.erase(m_pending.begin() + static_cast<long>(k));
                    m_lost = m_lost || Sizes(read.kind);
                    continue;
                }
                if (static_cast<long long>(read.offset) < m_windowFirst) {
                    // Already gone past: the whole-file sizer can still read it.
                    if (Sizes(read.kind))
                        return GiveUp();
                    m_pending.erase(m_pending.begin() + static_cast<long>(k));
                    continue;
                }
                ++k;
                continue;
            }
            m_pending.erase(m_pending.begin() + static_cast<long>(k));
            if (++m_reads > kMaxReads)
                return GiveUp();
            if (!Handle(read, data))
                m_pending.push_back(read);  // the whole directory is not here yet
            progress = true;
        }
    }
    if (m_done)
        return GiveUp();

    const long long here = m_sectorOffset;
    // When every directory was read and the picture's data located, the
    // structure says exactly where the file ends.
    if (m_pending.empty() && m_chainEnded && !m_lost && m_imageData &&
        m_measured <= FileTIFAnalyser::kMaxOffset) {
        const long long end = static_cast<long long>(m_measured);
        if (a < m_startSector + (end - 1) / n)
            return 2;
        return Finish(end);
    }
    // The structure does not say where the file ends: it ends where its data
    // runs out into zero fill.
    if (m_pixelCount > m_endOffset && m_pixelCount < kMaxPixelEnd && !m_sizesRead)
        m_endOffset = m_pixelCount;
    const int z = context.zeroTail;
    const long long through = here + n;  // bytes up to this sector's end
    bool goOn = false;
    if (z < CRawFileInfo::kMaxZeroTail)
        goOn = z >= 16 || through < m_endOffset || m_endOffset <= kSmallEnd;
    else
        goOn = m_endOffset >= through;
    if (goOn)
        return 2;
    long long size = through;
    if (m_endOffset < kWholeSectorsFrom && m_endOffset / n == a - m_startSector &&
        m_type != RAW_TIF)
        size = m_endOffset;
    return Finish(size);
}

}  // namespace BruteForce
