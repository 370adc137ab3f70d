#include "ThreeDSAnalysers.h"

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewNew3DSAnalyser, RawSpeed::New3DSAnalyser);

using namespace threeds_layout;

namespace {

bool IsCartridge(const unsigned char* sector) {
    return std::memcmp(sector + kCartridge, "NCSD", 4) == 0;
}

bool IsMesh(const unsigned char* sector) {
    return vk::LoadLE<uint16_t>(sector) == kMain &&
           vk::LoadLE<uint16_t>(sector + kEditor) == kEditorId;
}

}  // namespace

// A mesh file is one main chunk whose 32-bit length is the file's.
long long RawSpeed::New3DSAnalyser::DeclaredLength(const unsigned char* sector) {
    if (vk::LoadLE<uint16_t>(sector) == kMain && !IsCartridge(sector)) {
        const long long length = vk::LoadLE<uint32_t>(sector + kMainLength);
        return length >= kSmallest && length <= kLimit ? length : 0;
    }
    // A cartridge image counts its size in units of 512 bytes.
    const long long units = vk::LoadLE<uint32_t>(sector + kCartridgeUnits);
    if (units > kCartridgeLimit)
        return kLimit;
    return std::min(kCartridgeLimit, units * 512);
}

int File3DSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || IsCartridge(sector) ||
        (vk::LoadLE<uint16_t>(sector) != kMain &&
         vk::LoadLE<uint16_t>(sector + kEditor) != kEditorId))
        return 0;
    info.m_type = RAW_3DS;
    return 1;
}

int File3DSAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kCartridgeUnits + 4);
    if (head == nullptr || vk::LoadLE<uint16_t>(head) != kMain || IsCartridge(head))
        return 0;
    const long long length = RawSpeed::New3DSAnalyser::DeclaredLength(head);
    if (length == 0)
        return 0;
    info.m_size = length;
    return 1;
}

int RawSpeed::New3DSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || (!IsMesh(sector) && !IsCartridge(sector)))
        return 0;
    info.m_type = RAW_3DS;
    return 1;
}

// The length comes with the first sector; the candidate ends in the sector
// that holds the last byte.
int RawSpeed::New3DSAnalyser::New3DSRawFileInfo::Step(const rawwalk::StreamView& view,
                                                      SearchContext&) {
    if (m_end < 0) {
        m_end = DeclaredLength(view.sector);
        if (m_end == 0)
            return Unsized();
    }
    if (m_end > view.SectorEnd())
        return 2;
    return Sized(view, m_end);
}
