// Boot sector, FAT copies, chains and directory entries of a FAT volume,
// parsed from an in-memory image built from the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "support/MemoryStorageDevice.h"

namespace {

// Room for the smallest FAT32 copy behind one reserved sector, so that the
// table checks see the input rather than a refused size.
constexpr size_t kImageBytes = 260 * 512;

void Chains(const IFATTable& fat, uint64_t limit) {
    for (uint32_t first : {2u, 3u, 5u, 100u, 1000u})
        (void)FollowFATChain(fat, first, limit, 4096);
}

void Entries(std::vector<uint8_t>& bytes) {
    CFATLongNameRun run;
    char name[64];
    std::string s;
    for (size_t off = 0; off + kFATDirEntrySize <= bytes.size() && off < 64 * 1024;
         off += kFATDirEntrySize) {
        CTempFATDirEntry e(bytes.data() + off);
        (void)e.IsValidFATDirEntry(false);
        if (!e.IsValidFATDirEntry(true)) {
            run.Reset();
            continue;
        }
        if (e.IsLongFileNameEntry()) {
            run.Add(e);
            e.GetLongFileName(name, 1 + off % sizeof(name));
            continue;
        }
        if (!run.Finish(e, s))
            e.GetShortName(s, e.IsVolumeLabel());
        (void)e.ShortNameChecksum();
        if (off % 256 == 0) {
            _FILETIME ft;
            DosDateTimeToFileTime(e.ModificationDate(), e.ModificationTime(), &ft);
        }
        e.SetIsReviseDirEntryCluNum(off % 64 == 0);
        e.SetReviseDirEntryCluNum(off);
        e.SetFirstClusterNO(e.GetFirstClusterNO() + 0x10000);
    }
    for (size_t off = 0; off + 512 <= bytes.size() && off < 64 * 1024; off += 512) {
        CFATFolderAnalyser analyser(512);
        analyser.AnalyseSector(bytes.data() + off);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    if (image.size() < kImageBytes)
        image.resize(kImageBytes, 0);
    velmora::test::MemoryVolume device(image);

    CTempFATDBR dbr(image.data(), 512, 512);
    (void)CTempFATDBR::SimpleCheck(data, size);
    FATGeometry geo;
    if (dbr.IsValidDBR() && dbr.GetGeometry(static_cast<uint64_t>(device.GetTotalSectors()), geo) &&
        dbr.GetSectorsPerFat() <= kImageBytes / 512) {
        CDoubleFATTable* fat = IFATTableFactory::CreateFATTable(
            &device, geo.fatStart, dbr.GetFileSystemType(), dbr.GetSectorsPerFat(), 0x80, 0x200);
        if (fat)
            Chains(*fat, geo.totalClusters + 2);
        IFATTableFactory::DestroyFATTable(fat);
    }
    // The input as a FAT copy of either kind, whatever its boot sector says.
    for (auto [type, sectors] : {std::pair{1, 12u}, std::pair{2, 256u}}) {
        IRealFATTable* copy = IFATTableFactory::CreateRealFATTable(&device, type, 1, sectors);
        if (copy)
            Chains(*copy, 0);
        delete copy;
    }
    int type = 0;
    (void)CFATTableAnalyser::IsValidFATTableFirstSector(data, size, type);

    std::vector<uint8_t> entries(data, data + size);
    Entries(entries);
    return 0;
}
