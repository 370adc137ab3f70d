// The APFS deep search over a disk held in memory: container and volume
// superblocks, the object-map walk, lost file-system tree nodes and the
// final tree, plus the recogniser and its label on the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "APFSDeepScan.h"
#include "APFSFactories.h"
#include "support/MemoryStorageDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4096 || size > (1u << 20))
        return 0;
    velmora::test::MemoryStorageDevice device(std::vector<uint8_t>(data, data + size), 512);
    apfs::APFSDeepScan scan;
    scan.SetDevice(&device);
    scan.AnalyzeBlock(0, device.GetTotalSectors());
    scan.EndSearch(1);
    if (IVolumeAnalyze* analyze = CreateAPFSVolumeAnalyze(&device, 0)) {
        char label[40] = {};
        analyze->GetLabel(label, sizeof label);
        delete analyze;
    }
    apfs::ListContainerVolumes(&device, 0);
    return 0;
}
