// Standard MIDI files: the "MThd" chunk of six bytes, a format up to 2 and
// at least one track. The streaming candidate walks the track chunks as the
// sectors pass; the whole-file sizer walks them over the device.
#include <strings.h>

#include "AnalyserFactories.h"
#include "AudioVideoAnalysers.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "MediaLayouts.h"
#include "RawFileBuffer.h"
#include "StreamWindow.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewMIDAnalyser, RawSpeed::MIDAnalyser);

namespace RawSpeed {

namespace {

class MIDRawFileInfo : public WindowedRawFileInfo {
public:
    static constexpr long long kLimit = 10000000;
    explicit MIDRawFileInfo(IRawFileAnalyser* whole)
        : WindowedRawFileInfo(RAW_MID), m_whole(whole) {}
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_whole; }

protected:
    int Step(const StreamWindow& window, unsigned char*, int sectorSize, SearchContext&) override {
        using namespace mid_stream_layout;
        if (static_cast<long long>(window.SectorOffset()) > kLimit)
            return Finish(static_cast<long long>(m_pos), sectorSize);
        while (m_pos < window.SectorEnd()) {
            const uint8_t* chunk = window.At(m_pos, kChunkHeader);
            if (chunk == nullptr)
                return 2;  // the chunk header goes on into the next block
            if (strncasecmp(reinterpret_cast<const char*>(chunk), "MTrk", 4) != 0)
                return Finish(
                    static_cast<long long>(rawcarve::WholeSectors(m_pos, window.SectorSize())),
                    sectorSize);
            m_pos += kChunkHeader + vk::LoadBE<uint32_t>(chunk + kChunkLength);
        }
        return 2;
    }

private:
    IRawFileAnalyser* m_whole;
    uint64_t m_pos = mid_stream_layout::kFirstChunk;
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

}  // namespace RawSpeed

// ---------------------------------------------------------------------------
// The whole-file sizer

int FileMIDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mid_layout;
    const vk::ByteReader r = rawcarve::Head(sector);
    if (r.BE32(kHeaderLengthBE) != 6 || r.BE16(kFormatBE) > 2 || r.BE16(kTracksBE) == 0)
        return 0;
    info.m_type = RAW_MID;
    return 1;
}

// Track chunks follow the header chunk; the file ends after the last one.
int FileMIDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace mid_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    if (file.GetRawFileBuffer(0) == nullptr)
        return 0;
    uint64_t offset = kFirstChunk;
    while (true) {
        const uint8_t* chunk = file.GetRawFileBuffer(offset, kChunkHeaderBytes);
        if (chunk == nullptr || strncasecmp(reinterpret_cast<const char*>(chunk), "MTrk", 4) != 0)
            break;
        // Read unsigned: every chunk moves the walk forward.
        offset += kChunkHeaderBytes + vk::LoadBE<uint32_t>(chunk + kChunkLengthBE);
        if (offset > 0xD000000)
            break;
    }
    info.m_size = static_cast<long long>(rawcarve::WholeSectors(offset, file.GetSectorSize()));
    return 1;
}
