#include "MediaStreamAnalysers.h"

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"

VK_RAW_ANALYSER_FACTORY(NewMPGAnalyser, Dunmere::MPGAnalyser);
VK_RAW_ANALYSER_FACTORY(NewOGGAnalyser, Dunmere::OGGAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFLVAnalyser, Dunmere::FLVAnalyser);
VK_RAW_ANALYSER_FACTORY(NewRM_RMVBAnalyser, Dunmere::RM_RMVBAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCAsfAnalyser, BruteForce::CAsfAnalyser);
VK_RAW_ANALYSER_FACTORY(NewCM2TSAnalyser, BruteForce::CM2TSAnalyser);

using rawcarve::kMaxWholeSteps;

namespace {

// Zero bytes at the end of `bytes`, up to `limit`.
size_t ZeroBytesAtEnd(const uint8_t* bytes, size_t length, size_t limit) {
    size_t n = 0;
    while (n < length && n < limit && bytes[length - 1 - n] == 0)
        ++n;
    return n;
}

// Finds RealMedia's empty index record in [from, from + length) of the
// source; the file offset just past it, or 0.
uint64_t FindEmptyIndex(const ByteSource& source, uint64_t from, size_t length) {
    const uint8_t* bytes = source.At(from, length);
    if (bytes == nullptr || length < rm_layout::kEmptyIndexBytes)
        return 0;
    for (size_t i = 0; i + rm_layout::kEmptyIndexBytes <= length; ++i) {
        if (bytes[i] == 'I' && IsEmptyRmIndex(bytes + i))
            return from + i + rm_layout::kEmptyIndexBytes;
    }
    return 0;
}

// RealMedia files of variable bitrate: their end is found by the empty
// index record written after the media data, looked for in sectors that end
// in zeros. Streaming, a sector the record cannot be looked for around ends
// the search without a size.
class RmvbIndexWalk : public MediaWalk {
public:
    RmvbIndexWalk(uint64_t sectorSize, bool streaming)
        : m_sectorSize(sectorSize), m_streaming(streaming) {}
    WalkStep Next(const ByteSource& source) override {
        const uint8_t* sector = source.At(m_pos, m_sectorSize);
        if (sector == nullptr)
            return WalkStep::NeedMore;
        const size_t zeros = ZeroBytesAtEnd(sector, m_sectorSize, 32);
        if (m_streaming) {
            if (zeros >= 8) {
                const size_t span = source.At(m_pos, m_sectorSize + 20) != nullptr
                                        ? m_sectorSize + 20
                                        : m_sectorSize;
                if (const uint64_t end = FindEmptyIndex(source, m_pos, span))
                    return Found(end);
            } else if (source.At(m_pos, m_sectorSize + 50) != nullptr) {
                const uint64_t around = m_pos + m_sectorSize - 32;
                if (const uint64_t end = FindEmptyIndex(source, around, 64))
                    return Found(end);
            } else {
                m_pos = 0;
                return WalkStep::End;
            }
        } else if (zeros >= 4) {
            const uint64_t back = m_pos >= 32 ? 32 : m_pos;
            if (const uint64_t end =
                    FindEmptyIndex(source, m_pos - back, static_cast<size_t>(m_sectorSize + back)))
                return Found(end);
        }
        m_pos += m_sectorSize;
        return WalkStep::Continue;
    }
    bool HasFound() const { return m_found; }

private:
    WalkStep Found(uint64_t end) {
        m_pos = end;
        m_found = true;
        return WalkStep::End;
    }
    bool m_found = false;
    uint64_t m_sectorSize;
    bool m_streaming;
};

int SectorSizeOf(IStorageDevice* device) {
    const int size = device != nullptr ? device->GetSectorSize() : 0;
    return size > 0 ? size : 512;
}

}  // namespace

// ---------------------------------------------------------------------------
// The streaming candidate

WalkRawFileInfo::WalkRawFileInfo(RAW_FILE_TYPE type, IRawFileAnalyser* partner, long long limit)
    : m_limit(limit), m_partner(partner) {
    m_type = type;
}

void WalkRawFileInfo::WillBeRemove(unsigned char*, long long) {
    Release();
    if (m_partner != nullptr)
        m_analyser = m_partner;
}

long long WalkRawFileInfo::SizeAtEnd(uint64_t position, long long walked) {
    return walked < 10 * m_limit ? static_cast<long long>(position) : m_limit;
}

void WalkRawFileInfo::NameAtEnd(int sectorSize) {
    SetRawFileName(SectorSpanName(m_startSector, m_size, sectorSize));
}

int WalkRawFileInfo::Done(long long size, int sectorSize) {
    m_size = size;
    m_finished = true;
    Release();
    if (m_size > 0)
        NameAtEnd(sectorSize);
    return 1;
}

int WalkRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                 SearchContext& context) {
    if (m_finished)
        return 1;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector)
        return 2;
    const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
    if (!m_started) {
        const Start start = Begin(window);
        if (start == Start::Wait)
            return 2;
        m_started = true;
        if (start != Start::Ready)
            return Done(0, sectorSize);
    }
    const long long walked = (sectorNumber - m_startSector) * static_cast<long long>(sectorSize);
    MediaWalk& walk = Walk();
    if (walked < 10 * m_limit) {
        bool ended = false;
        for (int step = 0; step < kMaxStepsPerSector && walk.Position() < window.SectorEnd();
             ++step) {
            const WalkStep r = walk.Next(window);
            if (r == WalkStep::NeedMore)
                return 2;  // the structure goes on into the next block
            if (r == WalkStep::End) {
                ended = true;
                break;
            }
        }
        if (!ended)
            return 2;
    }
    if (walk.Position() == 0)
        return Done(0, sectorSize);
    return Done(SizeAtEnd(walk.Position(), walked), sectorSize);
}

namespace Dunmere {

void LastSized::Remember(long long start, long long size, int sectorSize) {
    m_start = start;
    m_sectors = (size + sectorSize - 1) / sectorSize;
}

// ---------------------------------------------------------------------------
// MPEG program streams

namespace {

class MPGRawFileInfo : public WalkRawFileInfo {
public:
    MPGRawFileInfo(MPGAnalyser* owner, IRawFileAnalyser* partner, uint32_t header)
        : WalkRawFileInfo(RAW_MPG, partner), m_owner(owner) {
        m_walk.SetPackHeaderLength(header);
    }

protected:
    MediaWalk& Walk() override { return m_walk; }
    void NameAtEnd(int sectorSize) override {
        WalkRawFileInfo::NameAtEnd(sectorSize);
        m_owner->Sized(m_startSector, m_size, sectorSize);
    }

private:
    MPGAnalyser* m_owner;
    MpegPsWalk m_walk;
};

}  // namespace

uint32_t FileMPGAnalyser::PackHeaderLength(const unsigned char* sector) {
    const uint32_t clock = vk::LoadLE<uint32_t>(sector + mpeg_ps_layout::kPackWord);
    switch (clock) {
        case 0x00010021:
        case 0x6F710021:
        case 0x09010021:
        case 0x13FFFF2F:
            return mpeg_ps_layout::kPackHeader1;
        case 0x482C0044:
        case 0x00040044:
        case 0x04040044:
            return mpeg_ps_layout::kPackHeader2;
        default:
            return 0;
    }
}

int FileMPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || sector[0] != 0 || sector[1] != 0 || sector[2] != 1 ||
        (sector[3] != 0xBA && sector[3] != 0xB3) || PackHeaderLength(sector) == 0)
        return 0;
    info.m_type = RAW_MPG;
    return 1;
}

int FileMPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0 || m_last.Inside(info.m_startSector))
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, 8);
    if (head == nullptr)
        return 0;
    const uint32_t header = PackHeaderLength(head);
    MpegPsWalk walk;
    walk.SetPackHeaderLength(header != 0 ? header : mpeg_ps_layout::kPackHeader1);
    const FileBytes source(file);
    const uint64_t size = walk.RunToEnd(source, kMaxSize, kMaxWholeSteps);
    if (size == 0)
        return 0;
    info.m_size = static_cast<long long>(size);
    m_last.Remember(info.m_startSector, info.m_size, SectorSizeOf(device));
    return 1;
}

int MPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    const uint32_t header = FileMPGAnalyser::PackHeaderLength(sector);
    if (header == 0)
        return 0;
    // Packs near a stream's start repeat its first clock values; past the
    // end of a stream already sized, another stream may begin.
    const long long start = info.m_startSector;
    if (m_lastAccepted >= 0 && start >= m_lastAccepted && start - m_lastAccepted <= kNearSectors &&
        !(m_lastEnd > m_lastAccepted && start >= m_lastEnd))
        return 0;
    m_lastAccepted = start;
    m_header = header;
    info.m_type = RAW_MPG;
    return 1;
}

CRawFileInfo* MPGAnalyser::CreateRawFileInfo() {
    return new MPGRawFileInfo(this, &m_whole, m_header);
}

void MPGAnalyser::Sized(long long start, long long size, int sectorSize) {
    if (start == m_lastAccepted && sectorSize > 0)
        m_lastEnd = start + (size + sectorSize - 1) / sectorSize;
}

// ---------------------------------------------------------------------------
// Ogg

const void* OGGAnalyser::s_inProgress = nullptr;

namespace {

class OGGRawFileInfo : public WalkRawFileInfo {
public:
    explicit OGGRawFileInfo(IRawFileAnalyser* partner)
        : WalkRawFileInfo(RAW_OGG, partner), m_walk(true) {}
    ~OGGRawFileInfo() override { Release(); }

protected:
    MediaWalk& Walk() override { return m_walk; }
    Start Begin(const StreamWindow&) override {
        if (OGGAnalyser::s_inProgress == nullptr)
            OGGAnalyser::s_inProgress = this;
        return Start::Ready;
    }
    void Release() override {
        if (OGGAnalyser::s_inProgress == this)
            OGGAnalyser::s_inProgress = nullptr;
    }

private:
    OggWalk m_walk;
};

}  // namespace

int CFileOggAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "OggS", 4) != 0)
        return 0;
    info.m_type = RAW_OGG;
    return 1;
}

int CFileOggAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    OggWalk walk(false);
    return rawcarve::SizeByWalk(walk, info, device, kMaxSize);
}

int OGGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || s_inProgress != nullptr)
        return 0;
    info.m_type = RAW_OGG;
    return 1;
}

CRawFileInfo* OGGAnalyser::CreateRawFileInfo() {
    return new OGGRawFileInfo(&m_whole);
}

// ---------------------------------------------------------------------------
// FLV

namespace {

class FLVRawFileInfo : public WalkRawFileInfo {
public:
    explicit FLVRawFileInfo(IRawFileAnalyser* partner) : WalkRawFileInfo(RAW_FLV, partner) {}

protected:
    MediaWalk& Walk() override { return m_walk; }

private:
    FlvWalk m_walk;
};

}  // namespace

int FileFLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "FLV", 3) != 0)
        return 0;
    info.m_type = RAW_FLV;
    return 1;
}

int FileFLVAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    FlvWalk walk;
    const uint64_t size = rawcarve::WalkFromStart(walk, info, device, kMaxSize);
    if (size == 0)
        return 0;
    info.m_size = static_cast<long long>(std::min<uint64_t>(size, kMaxSize));
    return 1;
}

int FLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "FLV", 3) != 0)
        return 0;
    info.m_type = RAW_FLV;
    return 1;
}

CRawFileInfo* FLVAnalyser::CreateRawFileInfo() {
    return new FLVRawFileInfo(&m_whole);
}

// ---------------------------------------------------------------------------
// RealMedia

namespace {

class RM_RMVBRawFileInfo : public WalkRawFileInfo {
public:
    explicit RM_RMVBRawFileInfo(IRawFileAnalyser* partner) : WalkRawFileInfo(RAW_RM, partner) {}

protected:
    MediaWalk& Walk() override {
        if (m_rm)
            return m_chunks;
        return *m_index;
    }
    Start Begin(const StreamWindow& window) override {
        const uint8_t* probe = window.At(0, rm_layout::kProbeBytes);
        if (probe == nullptr)
            return window.IsLastOfBlock() ? Start::Wait : Start::Fail;
        m_rm = !RmDescribesVideo(probe, rm_layout::kProbeBytes);
        m_type = m_rm ? RAW_RM : RAW_RMVB;
        m_index = std::make_unique<RmvbIndexWalk>(window.SectorSize(), true);
        return Start::Ready;
    }

private:
    bool m_rm = true;
    RmChunkWalk m_chunks;
    std::unique_ptr<RmvbIndexWalk> m_index;
};

}  // namespace

int FileRM_RMVBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, ".RMF", 4) != 0)
        return 0;
    info.m_type = RmDescribesVideo(sector, kMinAnalyseBytes) ? RAW_RMVB : RAW_RM;
    return 1;
}

int FileRM_RMVBAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const FileBytes source(file);
    size_t probeLength = rm_layout::kProbeBytes;
    const uint8_t* probe = nullptr;
    while (probeLength >= rm_layout::kChunkHeader && (probe = source.At(0, probeLength)) == nullptr)
        probeLength /= 2;
    if (probe == nullptr || std::memcmp(probe, ".RMF", 4) != 0)
        return 0;
    const bool video = RmDescribesVideo(probe, probeLength);
    info.m_type = video ? RAW_RMVB : RAW_RM;
    uint64_t size = 0;
    if (video) {
        RmvbIndexWalk index(static_cast<uint64_t>(SectorSizeOf(device)), false);
        const uint64_t end = index.RunToEnd(source, kMaxIndexSearch, kMaxWholeSteps);
        if (index.HasFound())
            size = end;
    }
    // Without the empty index record (not every writer puts one), the
    // chunks still chain to the file's end.
    if (size == 0) {
        RmChunkWalk chunks;
        size = chunks.RunToEnd(source, kMaxIndexSearch, kMaxWholeSteps);
    }
    if (size == 0)
        return 0;
    info.m_size = static_cast<long long>(size);
    return 1;
}

int RM_RMVBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    info.m_type = RAW_RM;
    return 1;
}

CRawFileInfo* RM_RMVBAnalyser::CreateRawFileInfo() {
    return new RM_RMVBRawFileInfo(&m_whole);
}

}  // namespace Dunmere

namespace BruteForce {

// ---------------------------------------------------------------------------
// ASF

namespace {

constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

class AsfRawFileInfo : public WalkRawFileInfo {
public:
    explicit AsfRawFileInfo(IRawFileAnalyser* partner)
        : WalkRawFileInfo(RAW_ASF, partner, static_cast<long long>(AsfWalk::kMaxObject)) {}

protected:
    MediaWalk& Walk() override { return m_walk; }
    long long SizeAtEnd(uint64_t position, long long) override {
        m_type = m_walk.Type();
        return static_cast<long long>(position);
    }

private:
    AsfWalk m_walk;
};

}  // namespace

int CAsfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, kAsfHeader, sizeof kAsfHeader) != 0)
        return 0;
    info.m_type = RAW_ASF;
    return 1;
}

CRawFileInfo* CAsfAnalyser::CreateRawFileInfo() {
    return new AsfRawFileInfo(this);
}

int CAsfAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    AsfWalk walk;
    const uint64_t size = rawcarve::WalkFromStart(walk, info, device, AsfWalk::kMaxObject);
    if (size == 0)
        return 0;
    info.m_type = walk.Type();
    info.m_size = static_cast<long long>(size);
    return 1;
}

// ---------------------------------------------------------------------------
// MPEG transport streams

const void* CM2TSAnalyser::s_inProgress = nullptr;

namespace {

class CM2TSFileInfo : public WalkRawFileInfo {
public:
    CM2TSFileInfo(IRawFileAnalyser* partner, uint32_t packet)
        : WalkRawFileInfo(RAW_M2TS, partner, static_cast<long long>(M2tsWalk::kMaxSize / 10)),
          m_walk(packet) {}
    ~CM2TSFileInfo() override { Release(); }

protected:
    MediaWalk& Walk() override { return m_walk; }
    Start Begin(const StreamWindow&) override {
        if (CM2TSAnalyser::s_inProgress == nullptr)
            CM2TSAnalyser::s_inProgress = this;
        return Start::Ready;
    }
    void Release() override {
        if (CM2TSAnalyser::s_inProgress == this)
            CM2TSAnalyser::s_inProgress = nullptr;
    }
    long long SizeAtEnd(uint64_t position, long long walked) override {
        if (position < M2tsWalk::kMinSize)
            return 0;  // too short for a recording of its own
        return WalkRawFileInfo::SizeAtEnd(position, walked);
    }
    void NameAtEnd(int) override {}  // filed by type and number

private:
    M2tsWalk m_walk;
};

bool AllFF(const unsigned char* bytes) {
    for (int i = 0; i < 8; ++i) {
        if (bytes[i] != 0xFF)
            return false;
    }
    return true;
}

bool PacketStart(uint8_t second) {
    return second == 0x10 || second == 0x40 || second == 0x41 || second == 0x50;
}

}  // namespace

uint32_t CM2TSAnalyser::JudeM2TSHeader(const unsigned char* sector) {
    using namespace m2ts_layout;
    if (sector == nullptr)
        return 0;
    if (sector[4] == kSync && PacketStart(sector[5]) && sector[4 + kSourcePacket] == kSync &&
        !AllFF(sector + 8) && !AllFF(sector + 8 + kSourcePacket))
        return kSourcePacket;
    if (sector[0] == kSync && PacketStart(sector[1]) && sector[kPacket] == kSync &&
        !AllFF(sector + 8) && !AllFF(sector + 8 + kPacket))
        return kPacket;
    return 0;
}

int CM2TSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || s_inProgress != nullptr)
        return 0;
    const uint32_t packet = JudeM2TSHeader(sector);
    if (packet == 0)
        return 0;
    m_packet = packet;
    info.m_type = RAW_M2TS;
    return 1;
}

CRawFileInfo* CM2TSAnalyser::CreateRawFileInfo() {
    return new CM2TSFileInfo(this, m_packet);
}

int CM2TSAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, m2ts_layout::kSourcePacket + 16);
    const uint32_t packet = JudeM2TSHeader(head);
    if (packet == 0)
        return 0;
    M2tsWalk walk(packet);
    const FileBytes source(file);
    const uint64_t size = walk.RunToEnd(source, M2tsWalk::kMaxSize, kMaxWholeSteps);
    if (size < M2tsWalk::kMinSize)
        return 0;
    info.m_size = static_cast<long long>(size);
    return 1;
}

}  // namespace BruteForce
