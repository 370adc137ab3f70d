// Photo-Paint images: "CPT7" to "CPT9", "FILE" and the record table at
// offset 52; sized by a walk of that table over the device.
#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "Carver.h"
#include "HeaderLayouts.h"
#include "HeaderSizedAnalysers.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"

VK_RAW_ANALYSER_FACTORY(NewFileCPTAnalyser, FileCPTAnalyser);

int FileCPTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace cpt_layout;
    const vk::ByteReader r = rawcarve::Head(sector);
    if (!r.Matches(kFileMark, "FILE") || r.LE32(kTableOffset) != kTableAt)
        return 0;
    info.m_type = RAW_CPT;
    info.m_size = 0;
    return 1;
}

// The file's records hang off the table at offset 52; the last entry's
// record leads to the block whose two words give the end. The format keeps
// its sums in 32 bits.
int FileCPTAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace cpt_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    bool ok = true;
    auto u32 = [&](uint32_t offset) -> uint32_t {
        const uint8_t* p = file.GetRawFileBuffer(offset, 4);
        if (p == nullptr) {
            ok = false;
            return 0;
        }
        return vk::LoadLE<uint32_t>(p);
    };
    const uint32_t table = u32(kTableOffset);
    const uint32_t count = u32(kEntryCount);
    u32(table);
    const uint32_t record = u32(table + kEntryBytes * count - kEntryBytes);
    const uint32_t flag = u32(record + kRecordFlag);
    uint32_t d = record + kRecordData;
    if (ok && flag != 0) {
        const uint32_t v = u32(d);
        if (v == flag)
            d += v;
    }
    const uint32_t f = u32(d);
    const uint32_t g = u32(d + 4);
    if (!ok)
        return 0;
    uint32_t size = record;
    if (f != 0 && g != 0) {
        size = u32(f - 8) + u32(f - 4);
        if (!ok)
            return 0;
    }
    info.m_size = size;
    return 1;
}
