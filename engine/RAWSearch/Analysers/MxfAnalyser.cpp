// MXF files: the key-length-value packets, walked while the search streams
// past them or over the device.

#include <cstring>

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "Carver.h"
#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "StreamWindow.h"

VK_RAW_ANALYSER_FACTORY(NewMxfAnalyser, RawSpeed::MxfAnalyser);

namespace RawSpeed {

namespace {

class MxfRawFileInfo : public WindowedRawFileInfo {
public:
    MxfRawFileInfo() : WindowedRawFileInfo(RAW_MXF) {}

protected:
    int Step(const StreamWindow& window, unsigned char*, int sectorSize, SearchContext&) override {
        if (window.SectorOffset() > MxfWalk::kMaxSize) {
            return Finish(0, sectorSize);
        }
        for (int step = 0; step < 4096 && m_walk.Position() < window.SectorEnd(); ++step) {
            const WalkStep r = m_walk.Next(window);
            if (r == WalkStep::NeedMore)
                return 2;  // the packet header goes on into the next block
            if (r == WalkStep::End) {
                return Finish(static_cast<long long>(m_walk.Position()), sectorSize);
            }
        }
        return 2;
    }

private:
    MxfWalk m_walk;
};

}  // namespace

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
