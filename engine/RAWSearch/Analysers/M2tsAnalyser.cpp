// MPEG transport streams: 188-byte packets, or 192 with a time code.

#include "AnalyserFactories.h"
#include "Carver.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "MediaStreamAnalysers.h"
#include "RawFileBuffer.h"

VK_RAW_ANALYSER_FACTORY(NewCM2TSAnalyser, BruteForce::CM2TSAnalyser);

using rawcarve::kMaxWholeSteps;

namespace BruteForce {

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

// ---------------------------------------------------------------------------
// The walk

WalkStep M2tsWalk::Next(const ByteSource& source) {
    using namespace m2ts_layout;
    const size_t sync = m_packet == kSourcePacket ? 4 : 0;
    const uint8_t* packet = source.At(m_pos + sync, 1);
    if (packet == nullptr)
        return WalkStep::NeedMore;
    if (packet[0] != kSync)
        return WalkStep::End;
    // A packet counts once it is whole.
    if (source.At(m_pos, m_packet) == nullptr)
        return WalkStep::NeedMore;
    m_pos += m_packet;
    if (m_pos >= kMaxSize) {
        m_pos = kMaxSize;
        return WalkStep::End;
    }
    return WalkStep::Continue;
}
