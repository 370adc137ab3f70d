// RealMedia files: ".RMF" and the chunks after it; files of variable
// bitrate end at the empty index record after their media data.
#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "MediaStreamAnalysers.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"

VK_RAW_ANALYSER_FACTORY(NewRM_RMVBAnalyser, Dunmere::RM_RMVBAnalyser);

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

}  // namespace

namespace Dunmere {

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
        RmvbIndexWalk index(static_cast<uint64_t>(rawcarve::SectorSizeOf(device)), false);
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

// ---------------------------------------------------------------------------
// The walk

bool IsEmptyRmIndex(const uint8_t* bytes) {
    static constexpr uint8_t kEmpty[rm_layout::kEmptyIndexBytes] = {
        'I', 'N', 'D', 'X', 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
    return std::memcmp(bytes, kEmpty, sizeof kEmpty) == 0;
}

bool RmDescribesVideo(const uint8_t* probe, size_t length) {
    const unsigned char mdpr[] = {'M', 'D', 'P', 'R'};
    const unsigned char video[] = {'V', 'i', 'd', 'e', 'o', ' ', 'S', 't', 'r', 'e', 'a', 'm'};
    unsigned char* at = const_cast<unsigned char*>(probe);
    int left = static_cast<int>(length);
    while (left > 0) {
        unsigned char* hit = Apimemstr(at, left, mdpr, 4);
        if (hit == nullptr)
            return false;
        const int from = static_cast<int>(hit - probe);
        const int span =
            std::min(static_cast<int>(rm_layout::kVideoProbe), static_cast<int>(length) - from);
        if (Apimemstr(hit, span, video, sizeof video) != nullptr)
            return true;
        at = hit + 1;
        left = static_cast<int>(length) - from - 1;
    }
    return false;
}

WalkStep RmChunkWalk::Next(const ByteSource& source) {
    using namespace rm_layout;
    if (!m_begun) {
        const uint8_t* head = source.At(0, kChunkHeader);
        if (head == nullptr)
            return WalkStep::NeedMore;
        m_begun = true;
        const uint32_t size = vk::LoadBE<uint32_t>(head + kSize);
        if (size < kChunkHeader) {
            m_pos = 0;
            return WalkStep::End;
        }
        m_pos = size;
        return WalkStep::Continue;
    }
    const uint8_t* chunk = source.At(m_pos, kChunkHeader);
    if (chunk == nullptr)
        return WalkStep::NeedMore;
    const uint32_t size = vk::LoadBE<uint32_t>(chunk + kSize);
    const bool index = std::memcmp(chunk, "INDX", 4) == 0;
    const bool known = index || std::memcmp(chunk, "PROP", 4) == 0 ||
                       std::memcmp(chunk, "MDPR", 4) == 0 || std::memcmp(chunk, "CONT", 4) == 0 ||
                       std::memcmp(chunk, "DATA", 4) == 0;
    if (!known || size == 0)
        return WalkStep::End;
    if (!index) {
        return Advance(m_pos, size) ? WalkStep::Continue : WalkStep::End;
    }
    const uint8_t* header = source.At(m_pos, kEmptyIndexBytes);
    if (header == nullptr)
        return WalkStep::NeedMore;
    if (vk::LoadBE<uint16_t>(header + kIndexVersion) != 0)
        return Advance(m_pos, size) ? WalkStep::Continue : WalkStep::End;
    const uint32_t next = vk::LoadBE<uint32_t>(header + kIndexNext);
    if (next != 0) {
        // Index chunks link forward only; a link back would walk in circles.
        if (next <= m_pos)
            return WalkStep::End;
        m_pos = next;
        return WalkStep::Continue;
    }
    // The last index: its entries follow its header, and the file ends there.
    const uint64_t entries =
        static_cast<uint64_t>(vk::LoadBE<uint32_t>(header + kIndexCount)) * kIndexEntryBytes;
    Advance(m_pos, size + entries);
    return WalkStep::End;
}
