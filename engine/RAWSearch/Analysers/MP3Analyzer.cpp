#include "MP3Analyzer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "CheckedMath.h"
#include "MediaLayouts.h"
#include "MpegAudioHeader.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamWindow.h"

using namespace id3_layout;

VK_RAW_ANALYSER_FACTORY(NewMP3Analyzer, BruteForce::MP3Analyzer);

namespace mp3 {

uint32_t FrameLength(const unsigned char* header) {
    if (header == nullptr || header[0] != 0xFF || header[1] < 0xE0 || header[2] >= 0xF0)
        return 0;
    CMPAHeader mpa;
    if (mpa.Init(header) == 0)
        return 0;
    return mpa.CalcFrameSize();
}

bool IsId3Start(const unsigned char* bytes) {
    return bytes != nullptr && std::memcmp(bytes + kMagic, "ID3", 3) == 0 &&
           (bytes[kVersion] == 3 || bytes[kVersion] == 4);
}

uint32_t Id3TagSize(const unsigned char* header) {
    uint32_t size = 0;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t b = header[kSize + i];
        if ((b & 0x80) != 0)
            return 0;
        size = (size << 7) | b;
    }
    return size >= 1 && size <= kMaxSize ? size : 0;
}

}  // namespace mp3

namespace {

bool ChainLength(uint32_t length) {
    return length >= 1 && length <= mp3::kMaxFrameLength;
}

// MPEG-1 or MPEG-2 (not 2.5), as a start must be.
bool Mpeg12(const unsigned char* header) {
    CMPAHeader mpa;
    return mp3::FrameLength(header) != 0 && mpa.Init(header) != 0 &&
           (mpa.m_version == CMPAHeader::kMpeg1 || mpa.m_version == CMPAHeader::kMpeg2);
}

uint32_t FrameSize(const uint8_t* header, uint8_t version) {
    if (version == 4) {
        uint32_t size = 0;
        for (size_t i = 0; i < 4; ++i)
            size = (size << 7) | (header[kFrameSize + i] & 0x7F);
        return size;
    }
    return vk::LoadBE<uint32_t>(header + kFrameSize);
}

bool IsFrame(const uint8_t* header, const char* id) {
    return std::memcmp(header + kFrameId, id, 4) == 0;
}

// An ID3v1 title: cut at its first double space.
std::string V1Title(std::string title) {
    const size_t cut = title.find("  ");
    if (cut != std::string::npos)
        title.resize(cut);
    return title;
}

}  // namespace

// ---------------------------------------------------------------------------
// Whole-file sizer

int FileMP3Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    if (!mp3::IsId3Start(sector) && mp3::FrameLength(sector) == 0)
        return 0;
    info.m_type = RAW_MP3;
    return 1;
}

void FileMP3Analyser::ReadV1(const uint8_t* tag, Id3TextDecoder& decoder, bool onlyMissing) {
    const uint8_t* title = tag + kV1Title;
    const std::string t = V1Title(decoder.V1Text(title, kV1TextBytes, title, kV1TextBytes));
    const std::string a = decoder.V1Text(tag + kV1Artist, kV1TextBytes, title, kV1TextBytes);
    const std::string y = decoder.V1Text(tag + kV1Year, kV1YearBytes, title, kV1TextBytes);
    if (!onlyMissing || m_title.empty())
        m_title = t;
    if (!onlyMissing || m_artist.empty())
        m_artist = a;
    if (!onlyMissing || m_year.empty())
        m_year = y;
}

void FileMP3Analyser::Name(CRawFileInfo& info) {
    if (!m_artist.empty()) {
        m_artist = ApiStrFilterBadFileName(m_artist);
        m_tag = RAW_TAG_ARTIST;
        info.SetRawFileTagAndValue(RAW_TAG_ARTIST, m_artist);
    }
    if (!m_artist.empty() || !m_title.empty())
        info.SetRawFileName(m_artist + "_" + m_title);
    if (!m_year.empty())
        info.SetRawFileTime(m_year);
}

int FileMP3Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    m_title.clear();
    m_year.clear();
    m_artist.clear();
    m_tag = RAW_TAG_NONE;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, mpa_layout::kHeaderBytes);
    if (head == nullptr)
        return 0;
    if (head[0] == 0xFF && head[1] == 0xFB) {
        if (head[2] == 0xE0 || head[2] == 0xB0) {
            const uint8_t* xing = file.GetRawFileBuffer(0, mpa_layout::kXingStream + 4);
            if (xing != nullptr && (std::memcmp(xing + mpa_layout::kXingOffset, "Xing", 4) == 0 ||
                                    std::memcmp(xing + mpa_layout::kXingOffset, "Info", 4) == 0)) {
                if (GetRawFileSizeXING(info, file) != 0)
                    return 1;
            }
        }
        return GetRawFileSizeFromFrame(info, file);
    }
    if (mp3::FrameLength(head) != 0)
        return GetRawFileSizeFromFrame(info, file);
    return GetRawFileSizeFromTag(info, file);
}

int FileMP3Analyser::GetRawFileSizeXING(CRawFileInfo& info, RawFileBuffer& file) {
    const uint8_t* xing = file.GetRawFileBuffer(0, mpa_layout::kXingStream + 4);
    if (xing == nullptr)
        return 0;
    // The byte count follows the frame count when both are present; a
    // header without it cannot size the file.
    const uint32_t flags = vk::LoadBE<uint32_t>(xing + mpa_layout::kXingOffset + 4);
    if ((flags & 2) == 0)
        return 0;
    const size_t at = (flags & 1) != 0 ? mpa_layout::kXingStream : mpa_layout::kXingStream - 4;
    const uint32_t length = vk::LoadBE<uint32_t>(xing + at);
    const uint32_t first = mp3::FrameLength(xing);
    if (length <= first)
        return 0;
    long long size = length;
    if (const uint8_t* tag = file.GetRawFileBuffer(length, kV1Bytes)) {
        if (std::memcmp(tag, "TAG", 3) == 0) {
            Id3TextDecoder decoder;
            ReadV1(tag, decoder, false);
            Name(info);
            size += static_cast<long long>(kV1Bytes);
        }
    }
    info.m_size = size;
    return 1;
}

int FileMP3Analyser::GetRawFileSizeFromFrame(CRawFileInfo& info, RawFileBuffer& file) {
    const uint8_t* head = file.GetRawFileBuffer(0, mpa_layout::kHeaderBytes);
    const uint32_t first = mp3::FrameLength(head);
    if (!ChainLength(first))
        return 0;
    const uint32_t second =
        mp3::FrameLength(file.GetRawFileBuffer(first, mpa_layout::kHeaderBytes));
    if (!ChainLength(second))
        return 0;
    const long long start = info.m_startSector;
    if (m_lastStart >= 0 && start > m_lastStart && start < m_lastStart + m_lastSectors)
        return 0;
    uint64_t offset = 0;
    const uint8_t* at = nullptr;
    while (offset < kMaxFrameWalk) {
        at = file.GetRawFileBuffer(offset, mpa_layout::kHeaderBytes);
        const uint32_t length = mp3::FrameLength(at);
        if (!ChainLength(length))
            break;
        offset += length;
    }
    if (at != nullptr) {
        const uint8_t* tag = file.GetRawFileBuffer(offset, kV1Bytes);
        const uint8_t* ape = file.GetRawFileBuffer(offset, 9);
        if (tag != nullptr && std::memcmp(tag, "TAG", 3) == 0) {
            Id3TextDecoder decoder;
            ReadV1(tag, decoder, false);
            Name(info);
            offset += kV1Bytes;
        } else if (ape != nullptr && std::memcmp(ape, "APETAGEX", 8) == 0 && ape[8] == 0xD0) {
            offset += kApeTagBytes;
        } else if (const uint8_t* near = file.GetRawFileBuffer(offset, 128 + 3)) {
            for (size_t k = 0; k < 128; ++k) {
                if (std::memcmp(near + k, "TAG", 3) == 0) {
                    offset += k + kV1Bytes;
                    break;
                }
            }
        }
    }
    if (offset < static_cast<uint64_t>(mp3::kMinChainBytes))
        return 0;
    const uint64_t sectorSize = file.GetSectorSize();
    const long long sectors = static_cast<long long>((offset + sectorSize - 1) / sectorSize);
    if (m_lastStart >= 0 && start >= m_lastStart && start + sectors <= m_lastStart + m_lastSectors)
        return 0;
    m_lastStart = start;
    m_lastSectors = sectors;
    info.m_size = static_cast<long long>(offset);
    return 1;
}

int FileMP3Analyser::GetRawFileSizeFromTag(CRawFileInfo& info, RawFileBuffer& file) {
    const uint8_t* header = file.GetRawFileBuffer(0, kHeaderBytes);
    if (!mp3::IsId3Start(header))
        return 0;
    const uint8_t version = header[kVersion];
    const uint32_t tagSize = mp3::Id3TagSize(header);
    if (tagSize == 0)
        return 0;
    const uint64_t tagEnd = kHeaderBytes + static_cast<uint64_t>(tagSize);

    Id3TextDecoder::Limits limits;
    limits.unicode = 1024;
    limits.checkUtf8 = false;
    Id3TextDecoder decoder(limits);
    for (uint64_t pos = kHeaderBytes; pos + kFrameHeaderBytes <= tagEnd;) {
        const uint8_t* frame = file.GetRawFileBuffer(pos, kFrameHeaderBytes);
        if (frame == nullptr || frame[0] == 0)
            break;
        const uint32_t size = FrameSize(frame, version);
        if (size == 0 || size > kMaxSize)
            break;
        const bool artist = IsFrame(frame, "TPE1");
        const bool title = IsFrame(frame, "TIT2");
        const bool year = IsFrame(frame, "TYER");
        if (artist || title || year) {
            const size_t length = std::min<size_t>(size, 1025);
            if (const uint8_t* body = file.GetRawFileBuffer(pos + kFrameHeaderBytes, length)) {
                const std::string text = decoder.FrameText(body, length, title);
                (artist ? m_artist : title ? m_title : m_year) = text;
            }
        }
        pos += kFrameHeaderBytes + size;
    }

    const uint64_t sectorSize = file.GetSectorSize();
    uint64_t offset = tagEnd;
    int skipped = 0;          // frames in a row found only after skipping bytes
    uint64_t takeBackTo = 0;  // where the first of them was looked for
    while (offset < kMaxAudioWalk) {
        const uint8_t* at = file.GetRawFileBuffer(offset, mpa_layout::kHeaderBytes);
        if (at == nullptr)
            break;
        const uint32_t length = mp3::FrameLength(at);
        if (ChainLength(length)) {
            skipped = 0;
            offset += length;
            continue;
        }
        if (skipped == 2) {
            offset = takeBackTo;
            break;
        }
        if (std::memcmp(at, "TAG", 3) == 0) {
            if (const uint8_t* tag = file.GetRawFileBuffer(offset, kV1Bytes)) {
                const uint64_t end = offset + kV1Bytes;
                bool zeroTail = end % sectorSize == 0;
                if (!zeroTail) {
                    const uint64_t rest = sectorSize - end % sectorSize;
                    const uint8_t* after = file.GetRawFileBuffer(end, rest);
                    zeroTail = after != nullptr && BruteForce::RawUtility::Binary_Compare(
                                                       after, static_cast<int>(rest)) == 0;
                }
                if (zeroTail) {
                    ReadV1(tag, decoder, true);
                    offset = end;
                    break;
                }
            }
        }
        if (offset % sectorSize == 0 &&
            mp3::IsId3Start(file.GetRawFileBuffer(offset, kHeaderBytes)))
            break;
        const uint8_t* ape = file.GetRawFileBuffer(offset, 9);
        if (ape != nullptr && std::memcmp(ape, "APETAGEX", 8) == 0 && ape[8] == 0xD0) {
            // The APE tag runs to the file's end: the first sector after it
            // that ends in zeros, or that holds 00 "TAG" (an ID3v1 tag after it).
            const uint64_t first = offset / sectorSize * sectorSize;
            for (uint64_t s = first; s < offset + 102400; s += sectorSize) {
                const uint8_t* sector = file.GetRawFileBuffer(s, sectorSize);
                if (sector == nullptr)
                    break;
                const unsigned char mark[] = {0, 'T', 'A', 'G'};
                const unsigned char* hit = Apimemstr(const_cast<unsigned char*>(sector),
                                                     static_cast<int>(sectorSize), mark, 4);
                if (hit != nullptr && s + static_cast<uint64_t>(hit - sector) >= offset) {
                    offset = s + static_cast<uint64_t>(hit - sector) + 129;
                    break;
                }
                if (BruteForce::RawUtility::Binary_Compare(sector + sectorSize - 12, 12) == 0) {
                    offset = s + static_cast<uint64_t>(BruteForce::RawUtility::Binary_Compare(
                                     sector, static_cast<int>(sectorSize)));
                    break;
                }
            }
            break;
        }
        // Damaged or padded audio: look a little further for the next frame.
        uint64_t found = 0;
        uint32_t foundLength = 0;
        for (uint32_t k = 1; k <= kMaxSkip; ++k) {
            const uint8_t* next = file.GetRawFileBuffer(offset + k, mpa_layout::kHeaderBytes);
            if (next == nullptr)
                break;
            const uint32_t l = mp3::FrameLength(next);
            if (ChainLength(l)) {
                found = offset + k;
                foundLength = l;
                break;
            }
        }
        if (found == 0)
            break;
        if (skipped == 0)
            takeBackTo = offset;
        ++skipped;
        offset = found + foundLength;
    }
    if (offset <= tagEnd)
        return 0;
    Name(info);
    info.m_size = static_cast<long long>(offset);
    return 1;
}

namespace BruteForce {

long long MP3Analyzer::m_lastStartSector = -1;

// ---------------------------------------------------------------------------
// Recognition

int MP3Analyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    if (!mp3::IsId3Start(sector) && !ChainLength(mp3::FrameLength(sector)))
        return 0;
    info.m_type = RAW_MP3;
    return 1;
}

int MP3Analyzer::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                 long long sectorNumber, long long windowFirst,
                                 long long windowEnd) {
    (void)windowFirst;
    if (sector == nullptr || sectorSize <= 0)
        return 0;
    if (mp3::IsId3Start(sector)) {
        info.m_type = RAW_MP3;
        return 1;
    }
    if (m_lastStartSector >= 0)
        return 0;  // inside the MP3 being followed
    const long long windowBytes = sectorSize * windowEnd;
    const long long here = sectorSize * (sectorNumber + 1);
    const long long first = mp3::FrameLength(sector);
    if (!ChainLength(static_cast<uint32_t>(first)))
        return 0;
    if (windowBytes < here + first + 4) {
        info.m_type = RAW_MP3;
        return 1;
    }
    const long long second = mp3::FrameLength(sector + first);
    if (!ChainLength(static_cast<uint32_t>(second)))
        return 0;
    if (windowBytes < here + first + 4 + second) {
        info.m_type = RAW_MP3;
        return 1;
    }
    if (mp3::FrameLength(sector + first + second) == 0)
        return 0;
    m_lastStartSector = sectorNumber;
    info.m_type = RAW_MP3;
    return 1;
}

// ---------------------------------------------------------------------------
// Candidate

MP3Analyzer::MP3RawFileInfo::MP3RawFileInfo(MP3Analyzer* owner) : m_owner(owner) {
    m_type = RAW_MP3;
}

MP3Analyzer::MP3RawFileInfo::~MP3RawFileInfo() {
    ReleaseChain();
}

void MP3Analyzer::MP3RawFileInfo::ReleaseChain() {
    if (m_lastStartSector == m_startSector)
        m_lastStartSector = -1;
}

void MP3Analyzer::MP3RawFileInfo::ClaimChain() {
    if (m_lastStartSector < 0)
        m_lastStartSector = m_startSector;
}

int MP3Analyzer::MP3RawFileInfo::Finish(long long size) {
    m_size = size;
    m_finished = true;
    ReleaseChain();
    return 1;
}

void MP3Analyzer::MP3RawFileInfo::WillBeRemove(unsigned char*, long long) {
    // Cut off or given up: the search no longer follows this file's frames,
    // so frame headers after it may start files again.
    ReleaseChain();
    if (m_owner != nullptr)
        m_analyser = &m_owner->WholeFile();
}

void MP3Analyzer::MP3RawFileInfo::ReadTag(const StreamWindow& window) {
    const uint8_t* header = window.At(0, kHeaderBytes);
    if (!mp3::IsId3Start(header))
        return;
    const uint8_t version = header[kVersion];
    const uint32_t tagSize = mp3::Id3TagSize(header);
    if (tagSize == 0)
        return;
    m_minLength += tagSize;
    const uint64_t available = window.HeldFrom(0);
    const uint64_t end =
        std::min<uint64_t>(kHeaderBytes + static_cast<uint64_t>(tagSize), available);
    const uint8_t* tag = window.At(0, static_cast<size_t>(end));
    if (tag == nullptr)
        return;
    std::string artist, title;
    for (uint64_t pos = kHeaderBytes; pos + kFrameHeaderBytes <= end;) {
        const uint8_t* frame = tag + pos;
        if (frame[0] == 0)
            break;  // padding
        const uint32_t size = FrameSize(frame, version);
        if (size == 0 || size > kMaxSize)
            break;
        const uint64_t body = pos + kFrameHeaderBytes;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(size, end - body));
        const uint8_t* data = tag + body;
        if (IsFrame(frame, "TPE1")) {
            artist = m_text.FrameText(data, length, false);
        } else if (IsFrame(frame, "TIT2")) {
            title = m_text.FrameText(data, length, true);
        } else if (IsFrame(frame, "TYER")) {
            const std::string year = m_text.FrameText(data, length, false);
            if (year.size() >= 8)
                SetRawFileTime(year);
        } else if (IsFrame(frame, "USLT")) {
            const unsigned char open[] = {'[', 'a', 'r', ':'};
            unsigned char* hit =
                Apimemstr(const_cast<unsigned char*>(data), static_cast<int>(length), open, 4);
            if (hit != nullptr) {
                const size_t from = static_cast<size_t>(hit - data) + 4;
                std::string name;
                for (size_t k = from; k < length && data[k] != ']' && name.size() < 1023; ++k)
                    name.push_back(static_cast<char>(data[k]));
                if (from + name.size() < length && data[from + name.size()] == ']' &&
                    !name.empty()) {
                    artist = name;
                    SetRawFileTagAndValue(RAW_TAG_ARTIST, artist);
                }
            }
        } else if (IsFrame(frame, "APIC")) {
            const unsigned char soi[] = {0xFF, 0xD8, 0xFF};
            unsigned char* jpeg =
                Apimemstr(const_cast<unsigned char*>(data), static_cast<int>(length), soi, 3);
            m_pictureOffset = jpeg != nullptr ? static_cast<long long>(body) + (jpeg - data)
                                              : static_cast<long long>(pos) + 63;
            m_pictureLength = size;
            m_minLength += m_pictureOffset + m_pictureLength;
        }
        pos = body + size;
    }
    if (!artist.empty() || !title.empty()) {
        char start[32];
        std::snprintf(start, sizeof start, " %lld_", m_startSector);
        SetRawFileName(artist + "_" + title + start);
        SetRawFileTagAndValue(RAW_TAG_ARTIST, !artist.empty() ? artist : title);
    }
}

uint64_t MP3Analyzer::MP3RawFileInfo::StartBytes(const StreamWindow& window) const {
    const uint8_t* head = window.At(0, kHeaderBytes);
    if (head == nullptr)
        return 0;
    if (mp3::IsId3Start(head))
        return kHeaderBytes + mp3::Id3TagSize(head) + mpa_layout::kHeaderBytes;
    return static_cast<uint64_t>(mp3::FrameLength(head)) + mpa_layout::kHeaderBytes;
}

bool MP3Analyzer::MP3RawFileInfo::HealthyStart(const StreamWindow& window) {
    const uint8_t* head = window.At(0, kHeaderBytes);
    if (head == nullptr)
        return false;
    if (mp3::IsId3Start(head))
        return true;
    if (!Mpeg12(head))
        return false;
    const uint32_t length = mp3::FrameLength(head);
    if (length < 1 || length >= mp3::kMaxFrameLength)
        return false;
    const uint8_t* next = window.At(length, mpa_layout::kHeaderBytes);
    return next != nullptr && Mpeg12(next);
}

void MP3Analyzer::MP3RawFileInfo::NameFromV1(const uint8_t* tag, long long size, int sectorSize) {
    const uint8_t* titleField = tag + kV1Title;
    const std::string title =
        V1Title(m_text.V1Text(titleField, kV1TextBytes, titleField, kV1TextBytes));
    const std::string artist =
        m_text.V1Text(tag + kV1Artist, kV1TextBytes, titleField, kV1TextBytes);
    if (title.size() < 2 || artist.size() < 4 || !GetRawFileName().empty())
        return;
    SetRawFileName(artist + "_" + title + " " + SectorSpanName(m_startSector, size, sectorSize));
    SetRawFileTagAndValue(RAW_TAG_ARTIST, artist);
}

int MP3Analyzer::MP3RawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize,
                                             long long sectorNumber, SearchContext& context) {
    if (m_finished)
        return 1;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
        return 2;
    const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
    if (!m_started) {
        // The start is read once the tag, or the first frame and the header
        // after it, are held; at a block's end that is with the next block.
        if (m_firstHeldEnd == 0)
            m_firstHeldEnd = window.HeldEnd();
        if (StartBytes(window) > window.HeldEnd() && window.HeldEnd() == m_firstHeldEnd)
            return 2;
        m_started = true;
        m_frameMode = mp3::FrameLength(window.At(0, mpa_layout::kHeaderBytes)) != 0 ? 1 : 0;
        ReadTag(window);
        if (GetRawFileName().empty() && !HealthyStart(window))
            return Finish(0);
        if (m_frameMode == 0) {
            const uint8_t* header = window.At(0, kHeaderBytes);
            const uint32_t tagSize = mp3::Id3TagSize(header);
            if (tagSize != 0) {
                m_tagEnd = kHeaderBytes + tagSize;
                if ((header[kFlags] & 0x10) != 0 && header[kVersion] == 4)
                    m_tagEnd += kHeaderBytes;  // a footer follows the tag
            }
        }
    }
    if (m_frameMode == 0 && m_tagEnd != 0) {
        // Audio that follows its tag at once is followed frame by frame, as
        // an untagged file is: what lies after the file does not matter then.
        if (const uint8_t* first = window.At(m_tagEnd, mpa_layout::kHeaderBytes)) {
            if (ChainLength(mp3::FrameLength(first))) {
                m_frameMode = 1;
                m_nextFrame = m_tagEnd;
            }
            m_tagEnd = 0;
        } else if (m_tagEnd < window.HeldBegin()) {
            m_tagEnd = 0;
        }
    }
    if (m_frameMode != 0) {
        ClaimChain();
        return CalcRawSizeEx(window, sectorNumber);
    }
    return TagModeStep(window, sector, sectorSize, sectorNumber, context);
}

int MP3Analyzer::MP3RawFileInfo::CalcRawSizeEx(const StreamWindow& window, long long sectorNumber) {
    m_currentEnd = window.SectorEnd();
    for (int frames = 0; m_nextFrame < m_currentEnd; ++frames) {
        if (frames > kMaxFramesPerCall)
            return 2;
        const uint8_t* header = window.At(m_nextFrame, mpa_layout::kHeaderBytes);
        if (header == nullptr)
            return 2;  // the header goes on into the next block
        const uint32_t length = mp3::FrameLength(header);
        if (ChainLength(length)) {
            m_nextFrame += length;
            continue;
        }
        // The chain ends here; a tag may follow the audio.
        uint64_t end = m_nextFrame;
        if (std::memcmp(header, "TAG", 3) == 0) {
            const uint8_t* tag = window.At(end, kV1Bytes);
            if (tag == nullptr)
                return 2;
            end += kV1Bytes;
            NameFromV1(tag, static_cast<long long>(end), static_cast<int>(window.SectorSize()));
        } else {
            const uint8_t* ape = window.At(end, 9);
            if (ape == nullptr)
                return 2;
            if (std::memcmp(ape, "APETAGEX", 8) == 0 && ape[8] == 0xD0) {
                end += kApeTagBytes;
            } else {
                const uint8_t* near = window.At(end, 126 + 3);
                if (near == nullptr)
                    return 2;
                for (size_t k = 1; k < 126; ++k) {
                    if (std::memcmp(near + k, "TAG", 3) == 0) {
                        end += k + kV1Bytes;
                        break;
                    }
                }
            }
        }
        if (end < static_cast<uint64_t>(mp3::kMinChainBytes))
            return Finish(0);  // too short to be a file of its own
        long long size = static_cast<long long>(end);
        if ((sectorNumber - m_startSector) * static_cast<long long>(window.SectorSize()) >=
            10 * m_maxLength)
            size = m_maxLength;
        if (GetRawFileName().empty())
            SetRawFileName(
                SectorSpanName(m_startSector, size, static_cast<int>(window.SectorSize())));
        m_type = RAW_MP3;
        return Finish(size);
    }
    return 2;
}

int MP3Analyzer::MP3RawFileInfo::TagModeStep(const StreamWindow& window, unsigned char* sector,
                                             int sectorSize, long long sectorNumber,
                                             const SearchContext& context) {
    const long long S = sectorSize;
    const long long offset = (sectorNumber - m_startSector) * S;
    if (offset + S >= kGiveUp)
        return Finish(0);
    if (context.zeroTail < CRawFileInfo::kMaxZeroTail || offset <= m_minLength) {
        m_lastSector = sectorNumber;
        return 2;
    }
    const int data = BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    const uint64_t dataEnd = static_cast<uint64_t>(offset) + static_cast<uint64_t>(data);
    const uint64_t zeroEnd = static_cast<uint64_t>(offset + S);
    long long size = 0;

    // An ID3v1 tag whose end lies in the zero fill: the file ends with it.
    const uint64_t lowest = dataEnd > kV1Bytes ? dataEnd - kV1Bytes : 0;
    for (uint64_t t = lowest; t + 3 <= dataEnd && t + kV1Bytes <= zeroEnd; ++t) {
        const uint8_t* tag = window.At(t, kV1Bytes);
        if (tag != nullptr && std::memcmp(tag, "TAG", 3) == 0) {
            size = static_cast<long long>(t + kV1Bytes);
            NameFromV1(tag, size, sectorSize);
            break;
        }
    }
    if (size == 0) {
        // Audio frames of silence hold few distinct byte values, fill holds
        // one: a value seen more than 64 times before the zeros marks fill.
        if (!m_histogram) {
            m_histogramLength = 256;
            m_histogram.reset(new int[256]);
        }
        std::fill(m_histogram.get(), m_histogram.get() + 256, 0);
        const uint8_t* countFrom = sector;
        int count = data;
        const bool repeated = sector[0] != 0 && sector[0] == sector[1] && sector[1] == sector[2] &&
                              sector[2] == sector[3];
        if (repeated && m_lastSector > context.windowFirstSector) {
            if (const uint8_t* before = window.At(static_cast<uint64_t>(offset) - 64, 64)) {
                countFrom = before;
                count += 64;
            }
        }
        bool fill = false;
        for (int i = 0; i < count; ++i) {
            if (countFrom[i] != 0 && ++m_histogram[countFrom[i]] > 64)
                fill = true;
        }
        m_lastSector = sectorNumber;
        if (!fill)
            return 2;
        size = static_cast<long long>(dataEnd);
    }
    m_lastSector = sectorNumber;
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    GetRawFileTagAndValue(tag, value);
    const std::string name = GetRawFileName();
    if (name.empty())
        SetRawFileName(SectorSpanName(m_startSector, size, sectorSize));
    else if (!value.empty() && name.find(value) == std::string::npos)
        SetRawFileName(value + "_" + name);
    return Finish(size);
}

}  // namespace BruteForce
