// The APFS deep search over a disk held in memory: container and volume
// superblocks, the object-map walk, lost file-system tree nodes and the
// final tree, plus the recogniser and its label on the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "APFSDeepScan.h"
#include "APFSFactories.h"
#include "SearchedPartitionInfo.h"
#include "support/MemoryStorageDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4096 || size > (1u << 20))
        return 0;
    // The same bytes as a disk of 512-byte and of 4096-byte sectors.
    for (int sectorSize : {512, 4096}) {
        velmora::test::MemoryStorageDevice device(std::vector<uint8_t>(data, data + size),
                                                  sectorSize);
        apfs::APFSDeepScan scan;
        scan.SetDevice(&device);
        scan.AnalyzeBlock(0, device.GetTotalSectors());
        scan.EndSearch(1);
        CSearchedPartitionInfo* records[4] = {};
        const int n = scan.GetSearchedPartitionInfo(records, 4);
        for (int i = 0; i < n; ++i)
            delete records[i];
        if (IVolumeAnalyze* analyze = CreateAPFSVolumeAnalyze(&device, 0)) {
            char label[40] = {};
            analyze->GetLabel(label, sizeof label);
            delete analyze;
        }
        apfs::ListContainerVolumes(&device, 0);
    }
    return 0;
}
