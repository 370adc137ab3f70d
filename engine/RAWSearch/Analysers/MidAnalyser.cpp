// Standard MIDI files: the "MThd" chunk of six bytes, a format up to 2 and
// at least one track. The whole-file sizer walks the track chunks.
#include <strings.h>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "WholeFileAnalysers.h"

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
