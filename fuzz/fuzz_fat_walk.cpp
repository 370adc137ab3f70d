// The directory walk of a FAT16 or FAT32 volume held in memory: nodes, long
// names, data runs and the first-cluster guess of deleted FAT32 entries.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FATBuildChildren.h"
#include "FATDBR.h"
#include "FATFileNode.h"
#include "FATPartitionInfo.h"
#include "FATTable.h"
#include "support/MemoryStorageDevice.h"
#include "support/PlannedSearcherRows.h"

namespace {

constexpr size_t kMaxImage = 1u << 20;
constexpr size_t kMinImage = 64 * 1024;

int JpegLike(const unsigned char* sector, unsigned length) {
    return length >= 2 && sector[0] == 0xFF && sector[1] == 0xD8 ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512 || size > kMaxImage)
        return 0;
    CFATFileNode::SetTraceEnabled(false);
    // The FAT rules, and a signature search that knows JPEG starts.
    static velmora::test::FileStartFromFunction signature(&JpegLike);
    static const bool installed = [] {
        std::vector<SearcherRow> rows = velmora::test::PlannedRows();
        rows.front().fileStart = &signature;
        vk::InstallSearcherRows(rows);
        return true;
    }();
    (void)installed;
    std::vector<uint8_t> image(data, data + size);
    if (image.size() < kMinImage)
        image.resize(kMinImage, 0);
    velmora::test::MemoryVolume device(image);

    CTempFATDBR dbr(image.data(), 512, 512);
    FATGeometry geo;
    if (!dbr.IsValidDBR() || !dbr.GetGeometry(static_cast<uint64_t>(device.GetTotalSectors()), geo))
        return 0;
    const int type = dbr.GetFileSystemType();
    CDoubleFATTable* fat = IFATTableFactory::CreateFATTable(&device, geo.fatStart, type,
                                                            dbr.GetSectorsPerFat(), 0x80, 0x200);
    if (!fat)
        return 0;

    CFATSearchedPartitionInfo partition(512);
    partition.partitionIndex = 0;
    partition.SetTotalSectors(geo.totalSectors);
    FATVisitedClusters visited;
    FATFolderMap folderMap;
    {
        // No tree builder: the walker keeps the nodes it makes.
        CFATBuildChildren walker(nullptr, nullptr, &partition, &device, &visited, &folderMap,
                                 geo.totalSectors, type, fat, geo.sectorsPerCluster,
                                 dbr.GetRootDirStartCluster(), geo.rootDirStart,
                                 static_cast<uint32_t>(geo.rootDirSectors), geo.dataStart);
        std::vector<CFATFileNode*> folders;
        walker.BuildRoot(folders, 1, 1);
        for (size_t i = 0; i < folders.size() && i < 4096; ++i)
            walker.BuildChildren(folders[i], static_cast<uint64_t>(folders[i]->GetCurrentNodeID()),
                                 folders, 0, i % 2);
        // The same entries once more as one buffer, stopping at the first bad one.
        std::vector<CFATFileNode*> more;
        walker.BuildChildrenFromBuffer(image.data() + 512, 4096, nullptr, more, nullptr, nullptr, 1,
                                       1);
    }
    IFATTableFactory::DestroyFATTable(fat);
    return 0;
}
