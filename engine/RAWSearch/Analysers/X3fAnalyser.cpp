// Sigma X3F raw pictures: "FOVb"; the file ends with its section directory
// and the pointer to it, found while the search streams past it or over the
// device.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "CameraRawAnalysers.h"
#include "DrawingLayout.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamWalk.h"

VK_RAW_ANALYSER_FACTORY(NewX3FAnalyser, Dunmere::X3FAnalyser);

namespace Dunmere {

using namespace x3f_layout;

long long X3FAnalyser::DirectoryEnd(const uint8_t* data, int length, int sectorSize,
                                    long long sectorOffset) {
    if (data == nullptr || length < sectorSize || sectorSize < 4)
        return -1;
    const int past = BruteForce::RawUtility::FindMagicInBuffer(
        data, length, 0, reinterpret_cast<const uint8_t*>(kDirectory), 4);
    if (past == 0)
        return -1;
    const long long at = past - 4;
    // The directory lists its sections; the usual five when the count
    // cannot be read or does not fit what is held.
    long long bytes = kUsualDirectoryBytes;
    if (at + static_cast<long long>(kDirectoryHeadBytes) <= length) {
        const uint32_t count = vk::LoadLE<uint32_t>(data + at + kDirectoryCount);
        const long long counted = static_cast<long long>(kDirectoryHeadBytes) +
                                  static_cast<long long>(count) * kDirectoryEntryBytes +
                                  static_cast<long long>(kPointerBytes);
        if (count <= kMaxSections && at + counted <= length)
            bytes = counted;
    }
    return sectorOffset - (length - sectorSize) + at + bytes;
}

int X3FAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "FOVb", 4) != 0)
        return 0;
    info.m_type = RAW_X3F;
    return 1;
}

int X3FAnalyser::X3FRawFileInfo::Judge(const rawwalk::StreamView& view) {
    if (view.here >= kLimit)
        return Unsized();  // the whole-file road goes on from here
    if (vk::LoadLE<uint32_t>(view.sector + view.sectorSize - 4) != 0)
        return 2;
    // The directory may begin in the half sector before this one.
    const int before = view.HalfBefore();
    const long long end =
        DirectoryEnd(view.sector - before, before + view.sectorSize, view.sectorSize, view.here);
    return end > 0 ? Sized(view, end) : 2;
}

int FileX3FAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const int n = static_cast<int>(file.GetSectorSize());
    if (n < 4)
        return 0;
    return rawcarve::SizeBySectors(
        info, file, n, kWholeFileLimit + 1, kWholeFileLimit,
        [](const uint8_t* data, int before, int sectorSize, long long offset) -> long long {
            if (vk::LoadLE<uint32_t>(data + before + sectorSize - 4) != 0)
                return -1;
            const long long end =
                X3FAnalyser::DirectoryEnd(data, before + sectorSize, sectorSize, offset);
            return end > 0 ? end : -1;
        });
}

}  // namespace Dunmere
