#include "AudioVideoAnalysers.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamWindow.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewCADTSAnalyser, BruteForce::CADTSAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCAPEAnalyser, BruteForce::CAPEAnalyser);
VK_RAW_ANALYSER_FACTORY(NewMIDAnalyser, RawSpeed::MIDAnalyser);
VK_RAW_ANALYSER_FACTORY(NewMLvAnalyser, RawSpeed::MLvAnalyser);
VK_RAW_ANALYSER_FACTORY(NewMxfAnalyser, RawSpeed::MxfAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileMKVAnalyser, FileMKVAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCFileAIFAnalyzer, CFileAIFAnalyzer);
VK_RAW_ANALYSER_FACTORY(NewFileRIFFAnalyser, FileRIFFAnalyser);

namespace {

uint64_t RoundUp(uint64_t value, uint64_t unit) {
    return unit == 0 ? value : (value + unit - 1) / unit * unit;
}

}  // namespace

// ---------------------------------------------------------------------------
// ADTS

namespace BruteForce {

namespace {

class CADTSRawFileInfo : public CRawFileInfo {
public:
    explicit CADTSRawFileInfo(bool overflow) : m_overflow(overflow) { m_type = RAW_M4A; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        if (m_finished)
            return 1;
        if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
            return 2;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        while (m_pos < window.SectorEnd()) {
            const uint8_t* header = window.At(m_pos, adts_layout::kHeaderBytes);
            if (header == nullptr)
                return 2;  // the header goes on into the next block
            const uint32_t length = CADTSAnalyser::FrameLength(header);
            if (length != 0) {
                m_pos += length;
                ++m_frames;
                continue;
            }
            // The frames end here, exactly, whatever follows them: the five
            // frames in a row that recognised the stream vouch for it.
            long long size = static_cast<long long>(m_pos);
            if (m_overflow && m_frames <= 4)
                size = 0;
            m_finished = true;
            m_size = size;
            if (size > 0)
                SetRawFileName(SectorSpanName(m_startSector, size, sectorSize));
            return 1;
        }
        return 2;
    }

private:
    bool m_overflow;
    bool m_finished = false;
    uint64_t m_pos = 0;
    int m_frames = 0;
};

}  // namespace

uint32_t CADTSAnalyser::FrameLength(const unsigned char* header) {
    if (header == nullptr || vk::LoadBE<uint16_t>(header) < 0xFFF0 || ((header[1] >> 1) & 3) != 0)
        return 0;
    const uint32_t length = (static_cast<uint32_t>(header[adts_layout::kLength] & 3) << 11) |
                            (static_cast<uint32_t>(header[adts_layout::kLength + 1]) << 3) |
                            (header[adts_layout::kLength + 2] >> 5);
    // A frame holds at least its own header.
    return length >= adts_layout::kHeaderBytes ? length : 0;
}

int CADTSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = RAW_M4A;
    return 1;
}

int CADTSAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                   long long sectorNumber, long long windowFirst,
                                   long long windowEnd) {
    (void)windowFirst;
    m_overflow = false;
    if (sector == nullptr || sectorSize <= 0 || windowEnd <= sectorNumber)
        return 0;
    const uint64_t available =
        static_cast<uint64_t>(windowEnd - sectorNumber) * static_cast<uint64_t>(sectorSize);
    uint64_t offset = 0;
    for (int valid = 0; valid < kConfirmFrames;) {
        if (offset + adts_layout::kHeaderBytes > available) {
            if (valid == 0)
                return 0;
            m_overflow = true;  // confirmed as far as the window goes
            break;
        }
        const uint32_t length = FrameLength(sector + offset);
        if (length == 0)
            return 0;
        ++valid;
        offset += length;
    }
    info.m_type = RAW_M4A;
    return 1;
}

CRawFileInfo* CADTSAnalyser::CreateRawFileInfo() {
    return new CADTSRawFileInfo(m_overflow);
}

// ---------------------------------------------------------------------------
// Monkey's Audio

int CAPEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = RAW_APE;
    return 1;
}

CRawFileInfo* CAPEAnalyser::CreateRawFileInfo() {
    return new CAPERawFileInfo();
}

int CAPERawFileInfo::searchTag(const unsigned char* sector, int length, int zeroTail, int& position,
                               int& zeroCount) {
    (void)zeroTail;
    using namespace ape_layout;
    zeroCount = 0;
    position = 0;
    if (sector == nullptr || length <= 0)
        return 0;
    while (zeroCount < length && sector[length - 1 - zeroCount] == 0)
        ++zeroCount;
    for (int i = length - static_cast<int>(kTagFlags) - 4; i >= 0; --i) {
        if (std::memcmp(sector + i, "APETAGEX", 8) != 0)
            continue;
        const int32_t items = static_cast<int32_t>(vk::LoadLE<uint32_t>(sector + i + kTagItems));
        const int32_t size = static_cast<int32_t>(vk::LoadLE<uint32_t>(sector + i + kTagSize));
        const uint32_t flags = vk::LoadLE<uint32_t>(sector + i + kTagFlags);
        // A tag is at least its 32-byte footer.
        if (items < 0 || items > 0xFFFF || size < static_cast<int32_t>(kTagFooterBytes) ||
            size - static_cast<int32_t>(kTagFooterBytes) > 0x1000000)
            continue;
        const int tagLength = size + ((flags & 0x80000000u) != 0 ? 32 : 0);
        position =
            (flags & 0x20000000u) == 0 ? i + static_cast<int>(kTagFooterBytes) - tagLength : i;
        return tagLength;
    }
    return 0;
}

int CAPERawFileInfo::Finish(long long size, int sectorSize) {
    m_finished = true;
    m_size = std::min<long long>(size, static_cast<long long>(kMaxSize));
    if (m_size > 0)
        SetRawFileName(SectorSpanName(m_startSector, m_size, sectorSize));
    return 1;
}

int CAPERawFileInfo::TagCheck(const unsigned char* sector, int sectorSize,
                              const SearchContext& context) {
    if (m_alignment <= 0 || m_size <= 0 || m_consumed < static_cast<uint64_t>(m_size))
        return 2;
    const bool oldForm = m_version < ape_layout::kNewForm;
    if (context.zeroTail > 0) {
        int position = 0, zeros = 0;
        const int tag = searchTag(sector, sectorSize, context.zeroTail, position, zeros);
        const uint64_t unit = static_cast<uint64_t>(m_alignment);
        long long size = 0;
        if (tag == 0)
            size = static_cast<long long>(RoundUp(m_consumed - static_cast<uint64_t>(zeros), unit) +
                                          unit);
        else if (oldForm)
            size = static_cast<long long>(m_consumed) + tag + position - sectorSize;
        else
            size = static_cast<long long>((static_cast<uint64_t>(m_size + tag) / unit + 1) * unit);
        return Finish(size, sectorSize);
    }
    if (oldForm)
        m_size = static_cast<long long>(m_consumed);
    return 2;
}

int CAPERawFileInfo::ScanSeekTable(const unsigned char* from, uint64_t bytes, int sectorSize) {
    const uint64_t scan = std::min<uint64_t>(m_seekLeft, bytes);
    for (uint64_t at = 0; at + 4 <= scan; at += 4) {
        const uint32_t entry = vk::LoadLE<uint32_t>(from + at);
        if (entry == 0 || entry > kMaxConsumed)
            break;
        m_largest = std::max<uint64_t>(m_largest, entry);
    }
    if (static_cast<uint64_t>(sectorSize) + 4 < m_seekLeft) {
        m_seekLeft -= static_cast<uint64_t>(sectorSize);
        return 2;
    }
    m_seekLeft = 0;
    m_size = static_cast<long long>(m_largest);  // where the last frame starts
    return 2;
}

int CAPERawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                 SearchContext& context) {
    using namespace ape_layout;
    if (m_finished)
        return 1;
    if (sector == nullptr || sectorSize <= 0)
        return 2;
    const bool first = !m_started;
    if (first) {
        m_started = true;
        m_version = vk::LoadLE<uint16_t>(sector + kVersion);
        if (m_version < 1000 || m_version > 9999)
            return Finish(0, sectorSize);
    }
    m_consumed += static_cast<uint64_t>(sectorSize);
    if (m_consumed > kMaxConsumed || static_cast<uint64_t>(m_size) > kMaxConsumed)
        return Finish(m_size, sectorSize);
    if (m_size != 0)
        return TagCheck(sector, sectorSize, context);
    const vk::ByteReader r(sector, static_cast<size_t>(sectorSize));
    if (m_seekLeft > 0) {
        ScanSeekTable(sector, static_cast<uint64_t>(sectorSize), sectorSize);
    } else if (first && m_version < kNewForm) {
        const uint16_t flags = r.LE16(kOldFlags);
        const uint16_t channels = r.LE16(kOldChannels);
        m_alignment = channels * ((flags & 1) != 0 ? 8 : (flags & 8) != 0 ? 3 : 2);
        if (m_alignment == 0 || channels < 1 || channels > 2)
            return Finish(0, sectorSize);
        size_t at = kOldOptional;
        uint32_t seekElements = 0;
        if ((flags & 4) != 0)
            at += 4;
        if ((flags & 16) != 0) {
            seekElements = r.LE32(at);
            at += 4;
        }
        if (r.LE32(kOldWavHeader) != 0)
            at += kOldWavHeaderBytes;
        if (!r.Has(at, 4))
            return 2;
        const uint32_t firstFrame = r.LE32(at);
        if (firstFrame < 1 || firstFrame > kMaxConsumed)
            return 2;
        uint64_t left = firstFrame;
        if (m_version <= 3800) {
            const uint64_t less = (flags & 16) != 0 ? seekElements : r.LE32(kOldTotalFrames);
            left = left > less ? left - less : 0;
        }
        m_seekLeft = left;
        if (m_seekLeft > 0)
            ScanSeekTable(sector + at, static_cast<uint64_t>(sectorSize) - at, sectorSize);
    } else if (first || m_headerPending) {
        const uint8_t* start = first ? sector : nullptr;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        if (start == nullptr)
            start = window.At(0, kTerminatingBytes + 4);
        if (start == nullptr)
            return 2;
        const vk::ByteReader h(start, kTerminatingBytes + 4);
        const uint32_t descriptor = h.LE32(kDescriptorBytes);
        if (descriptor < 1)
            return Finish(0, sectorSize);
        const uint8_t* head = window.At(0, static_cast<size_t>(descriptor) + 24);
        // The header after the descriptor may come with the next block.
        m_headerPending = head == nullptr;
        if (head == nullptr)
            return 2;
        const uint16_t bits = vk::LoadLE<uint16_t>(head + descriptor + kBitsPerSample);
        const uint16_t channels = vk::LoadLE<uint16_t>(head + descriptor + kChannels);
        m_alignment = bits / 8 * channels;
        if (m_alignment == 0 || channels < 1 || channels > 2)
            return Finish(0, sectorSize);
        uint64_t size = r.LE64(kFrameDataBytes);
        for (const size_t field :
             {kHeaderBytes, kSeekTableBytes, kWavHeaderBytes, kTerminatingBytes})
            size += r.LE32(field);
        size += descriptor;
        if (size > kMaxSize)
            return Finish(static_cast<long long>(kMaxSize), sectorSize);
        m_size = static_cast<long long>(size);
        if (m_consumed < size)
            return Finish(m_size, sectorSize);
    }
    if (m_size != 0)
        return TagCheck(sector, sectorSize, context);
    return 2;
}

}  // namespace BruteForce

// ---------------------------------------------------------------------------
// MIDI, Magic Lantern video, MXF

namespace RawSpeed {

namespace {

class MIDRawFileInfo : public CRawFileInfo {
public:
    static constexpr long long kLimit = 10000000;
    explicit MIDRawFileInfo(IRawFileAnalyser* whole) : m_whole(whole) { m_type = RAW_MID; }
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_whole; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        using namespace mid_stream_layout;
        if (m_finished)
            return 1;
        if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
            return 2;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        if (static_cast<long long>(window.SectorOffset()) > kLimit)
            return Finish(static_cast<long long>(m_pos), sectorSize);
        while (m_pos < window.SectorEnd()) {
            const uint8_t* chunk = window.At(m_pos, kChunkHeader);
            if (chunk == nullptr)
                return 2;  // the chunk header goes on into the next block
            if (strncasecmp(reinterpret_cast<const char*>(chunk), "MTrk", 4) != 0)
                return Finish(static_cast<long long>(RoundUp(m_pos, window.SectorSize())),
                              sectorSize);
            m_pos += kChunkHeader + vk::LoadBE<uint32_t>(chunk + kChunkLength);
        }
        return 2;
    }

private:
    int Finish(long long size, int sectorSize) {
        m_finished = true;
        m_size = size;
        if (size > 0)
            SetRawFileName(SectorSpanName(m_startSector, size, sectorSize));
        return 1;
    }
    IRawFileAnalyser* m_whole;
    uint64_t m_pos = mid_stream_layout::kFirstChunk;
    bool m_finished = false;
};

class MLvRawFileInfo : public CRawFileInfo {
public:
    MLvRawFileInfo() { m_type = RAW_MLV; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        if (m_finished)
            return 1;
        if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
            return 2;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        for (int step = 0; step < 4096 && m_walk.Position() < window.SectorEnd(); ++step) {
            const WalkStep r = m_walk.Next(window);
            if (r == WalkStep::NeedMore)
                return 2;
            if (r == WalkStep::End) {
                // Zero fill inside the last block marks a recording cut
                // short; fill seen before that block says nothing about it.
                const uint64_t end = m_walk.Position();
                const bool useGuess = m_guess != 0 && m_guess > m_walk.LastBlock() && m_guess < end;
                return Finish(static_cast<long long>(useGuess ? m_guess : end), sectorSize);
            }
            m_guessAllowed = true;
        }
        const uint64_t offset = window.SectorOffset();
        if (offset > MlvWalk::kMaxSize)
            return Finish(static_cast<long long>(m_walk.Position()), sectorSize);
        if (context.zeroTail > 15 && m_guessAllowed) {
            m_guessAllowed = false;
            m_guess = offset + static_cast<uint64_t>(
                                   BruteForce::RawUtility::Binary_Compare(sector, sectorSize));
        }
        return 2;
    }

private:
    int Finish(long long size, int sectorSize) {
        m_finished = true;
        m_size = size;
        if (size > 0)
            SetRawFileName(SectorSpanName(m_startSector, size, sectorSize));
        return 1;
    }
    MlvWalk m_walk;
    uint64_t m_guess = 0;
    bool m_guessAllowed = true;
    bool m_finished = false;
};

class MxfRawFileInfo : public CRawFileInfo {
public:
    MxfRawFileInfo() { m_type = RAW_MXF; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        if (m_finished)
            return 1;
        if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
            return 2;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        if (window.SectorOffset() > MxfWalk::kMaxSize) {
            m_finished = true;
            m_size = 0;
            return 1;
        }
        for (int step = 0; step < 4096 && m_walk.Position() < window.SectorEnd(); ++step) {
            const WalkStep r = m_walk.Next(window);
            if (r == WalkStep::NeedMore)
                return 2;  // the packet header goes on into the next block
            if (r == WalkStep::End) {
                m_finished = true;
                m_size = static_cast<long long>(m_walk.Position());
                if (m_size > 0)
                    SetRawFileName(SectorSpanName(m_startSector, m_size, sectorSize));
                return 1;
            }
        }
        return 2;
    }

private:
    MxfWalk m_walk;
    bool m_finished = false;
};

}  // namespace

MIDAnalyser::MIDAnalyser() : IRawFileAnalyser(RAW_MID), m_whole(new FileMIDAnalyser()) {}

MIDAnalyser::~MIDAnalyser() {
    delete m_whole;
}

IRawFileAnalyser* MIDAnalyser::WholeFile() {
    return m_whole;
}

int MIDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    return m_whole->AnalyseBuffer(sector, info);
}

CRawFileInfo* MIDAnalyser::CreateRawFileInfo() {
    return new MIDRawFileInfo(m_whole);
}

int MLvAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mlv_layout;
    if (sector == nullptr || std::memcmp(sector + kType, "MLVI", 4) != 0 ||
        std::memcmp(sector + kRawInfo, "RAWI", 4) != 0)
        return 0;
    info.m_type = RAW_MLV;
    return 1;
}

CRawFileInfo* MLvAnalyser::CreateRawFileInfo() {
    return new MLvRawFileInfo();
}

int MLvAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    MlvWalk walk;
    return rawcarve::SizeByWalk(walk, info, device, MlvWalk::kMaxSize);
}

int MxfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mxf_layout;
    static constexpr uint8_t kKeyHead[] = {0x06, 0x0E, 0x2B, 0x34};
    static constexpr uint8_t kPartition[] = {0x02, 0x05, 0x01};
    if (sector == nullptr || std::memcmp(sector + kKey, kKeyHead, 4) != 0 ||
        std::memcmp(sector + kPartitionKind, kPartition, 3) != 0 ||
        vk::LoadLE<uint16_t>(sector + kPartitionVersion) != 0x0100)
        return 0;
    const uint32_t a = vk::LoadLE<uint32_t>(sector + 48);
    const uint32_t b = vk::LoadLE<uint32_t>(sector + 32);
    if (a == b && a != 0)
        return 0;
    // Body and footer partitions lie inside a file (writers align them to
    // sectors): only the header partition, at offset 0, begins one.
    if (vk::LoadBE<uint64_t>(sector + kThisPartition) != 0)
        return 0;
    info.m_type = RAW_MXF;
    return 1;
}

CRawFileInfo* MxfAnalyser::CreateRawFileInfo() {
    return new MxfRawFileInfo();
}

int MxfAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    MxfWalk walk;
    return rawcarve::SizeByWalk(walk, info, device, MxfWalk::kMaxSize, true);
}

}  // namespace RawSpeed

bool MlvWalk::KnownType(const uint8_t* type) {
    static constexpr char kTypes[] = "MLVIRAWIINFORTCIEXPOLENSIDNTWBALSTYLWAVIMARKVIDFNULLAUDFBKUP";
    for (size_t i = 0; i + 4 <= sizeof kTypes - 1; i += 4) {
        if (std::memcmp(type, kTypes + i, 4) == 0)
            return true;
    }
    return false;
}

WalkStep MlvWalk::Next(const ByteSource& source) {
    using namespace mlv_layout;
    const uint8_t* block = source.At(m_pos, kHeaderBytes);
    if (block == nullptr)
        return WalkStep::NeedMore;
    const uint32_t length = vk::LoadLE<uint32_t>(block + kLength);
    if (!KnownType(block + kType) || length == 0)
        return WalkStep::End;
    m_lastBlock = m_pos;
    m_pos += length;
    return m_pos > kMaxSize ? WalkStep::End : WalkStep::Continue;
}

bool MxfWalk::PacketLength(const ByteSource& source, uint64_t at, uint64_t& header,
                           uint64_t& value) {
    const uint8_t* packet = source.At(at, 17);
    if (packet == nullptr)
        return false;
    const uint8_t first = packet[16];
    if (first < 0x80) {
        header = 17;
        value = first;
        return true;
    }
    const unsigned n = first & 0x7F;
    if (n == 0 || n > 8)
        return false;
    const uint8_t* bytes = source.At(at + 17, n);
    if (bytes == nullptr)
        return false;
    value = 0;
    for (unsigned i = 0; i < n; ++i)
        value = (value << 8) | bytes[i];
    header = 17 + n;
    return true;
}

WalkStep MxfWalk::Next(const ByteSource& source) {
    static constexpr uint8_t kKeyHead[] = {0x06, 0x0E, 0x2B, 0x34};
    const uint8_t* packet = source.At(m_pos, 17);
    if (packet == nullptr)
        return WalkStep::NeedMore;
    if (std::memcmp(packet, kKeyHead, 4) != 0)
        return WalkStep::End;
    // Lengths are BER: short, or 0x80 + the count of bytes that follow
    // (files written by some tools use every form, not only four bytes).
    const unsigned n = packet[16] >= 0x80 ? packet[16] & 0x7F : 0;
    if (packet[16] >= 0x80 && (n == 0 || n > 8))
        return WalkStep::End;
    if (source.At(m_pos, 17 + n) == nullptr)
        return WalkStep::NeedMore;
    uint64_t header = 0, value = 0;
    if (!PacketLength(source, m_pos, header, value))
        return WalkStep::End;
    uint64_t next = 0;
    if (!vk::CheckedAdd(m_pos, header, &next) || !vk::CheckedAdd(next, value, &next) ||
        next > kMaxSize)
        return WalkStep::End;
    m_pos = next;
    return WalkStep::Continue;
}

// ---------------------------------------------------------------------------
// Matroska, AIFF, RIFF

int FileMKVAnalyser::ReadVint(const unsigned char* p, size_t available, uint64_t& value,
                              bool& unknown) {
    value = 0;
    unknown = false;
    if (p == nullptr || available == 0 || p[0] == 0)
        return 0;
    int length = 1;
    while ((p[0] & (0x80 >> (length - 1))) == 0)
        ++length;
    if (static_cast<size_t>(length) > available)
        return 0;
    const uint8_t mask = static_cast<uint8_t>(0xFF >> length);
    value = p[0] & mask;
    bool allOnes = value == mask;
    for (int i = 1; i < length; ++i) {
        value = (value << 8) | p[i];
        allOnes = allOnes && p[i] == 0xFF;
    }
    unknown = allOnes;
    return length;
}

int FileMKVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mkv_layout;
    if (sector == nullptr)
        return 0;
    uint64_t headerSize = 0;
    bool unknown = false;
    const int length =
        ReadVint(sector + kHeaderSize, kMinAnalyseBytes - kHeaderSize, headerSize, unknown);
    if (length == 0 || unknown || headerSize > kMaxSegmentOffset)
        return 0;
    const uint64_t segment = kHeaderSize + static_cast<uint64_t>(length) + headerSize;
    if (segment + 4 > kMaxSegmentOffset || vk::LoadBE<uint32_t>(sector + segment) != kSegmentId)
        return 0;
    uint64_t segmentSize = 0;
    const int sizeLength =
        ReadVint(sector + segment + 4, kMinAnalyseBytes - (segment + 4), segmentSize, unknown);
    // A segment of unknown size (a live recording) has no end to give.
    if (sizeLength == 0 || unknown)
        return 0;
    uint64_t size = 0;
    if (!vk::CheckedAdd<uint64_t>(segment + 4 + static_cast<uint64_t>(sizeLength), segmentSize,
                                  &size) ||
        (size >> 62) != 0)
        return 0;
    info.m_type = RAW_MKV;
    info.m_size = static_cast<long long>(size);
    return 1;
}

int CFileAIFAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace aiff_layout;
    if (sector == nullptr || std::memcmp(sector, "FORM", 4) != 0 ||
        std::memcmp(sector + kForm, "AIF", 3) != 0)
        return 0;
    info.m_type = RAW_AIFF;
    info.m_size = static_cast<long long>(vk::LoadBE<uint32_t>(sector + kFormLength)) + kFormHeader;
    return 1;
}

int CFileAIFAnalyzer::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, 12);
    if (head == nullptr)
        return 0;
    CRawFileInfo probe;
    unsigned char sector[kMinAnalyseBytes] = {};
    std::memcpy(sector, head, 12);
    if (AnalyseBuffer(sector, probe) == 0)
        return 0;
    info.m_size = probe.m_size;
    return 1;
}

bool FileRIFFAnalyser::CompareSignString(const char* form, const char* chunk,
                                         const unsigned char* sector) {
    if (form == nullptr || chunk == nullptr || std::strlen(form) != 4 || std::strlen(chunk) != 4)
        return false;
    return strncasecmp(reinterpret_cast<const char*>(sector + riff_layout::kForm), form, 4) == 0 &&
           strncasecmp(reinterpret_cast<const char*>(sector + riff_layout::kFirstChunk), chunk,
                       4) == 0;
}

RAW_FILE_TYPE FileRIFFAnalyser::FormType(const unsigned char* sector) {
    if (CompareSignString("WAVE", "fmt ", sector))
        return RAW_WAV;
    if (CompareSignString("AVI ", "LIST", sector))
        return RAW_AVI;
    if (CompareSignString("ACON", "LIST", sector) || CompareSignString("ACON", "anih", sector))
        return RAW_ANI;
    static constexpr char kCmx[] = "{Corel Binary Meta File}";
    if (strncasecmp(reinterpret_cast<const char*>(sector + riff_layout::kForm), "CMX1", 4) == 0 &&
        std::memcmp(sector + 20, kCmx, sizeof kCmx - 1) == 0)
        return RAW_CMX;
    if (CompareSignString("CARC", "vrsn", sector))
        return RAW_CLK;
    if (CompareSignString("CSL2", "vrsn", sector))
        return RAW_CSL;
    for (const char* cdr : {"CDR7", "CDR8", "cdr8", "CDR9", "CDRA", "CDRB", "CDRC"}) {
        if (CompareSignString(cdr, "vrsn", sector))
            return RAW_CDR;
    }
    return RAW_RIFF;
}

int FileRIFFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "RIFF", 4) != 0)
        return 0;
    info.m_type = FormType(sector);
    info.m_size = 0;
    return 1;
}

// The length field counts the bytes after itself: the file is exactly 8
// bytes longer. Rounding up to whole sectors would append the slack's stale
// bytes to every WAV, AVI and WebP file.
int FileRIFFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, riff_layout::kFirstChunk);
    if (head == nullptr || std::memcmp(head, "RIFF", 4) != 0)
        return 0;
    const uint64_t length =
        static_cast<uint64_t>(vk::LoadLE<uint32_t>(head + riff_layout::kLengthLE)) +
        riff_layout::kHeader;
    info.m_size = static_cast<long long>(length);
    return 1;
}
