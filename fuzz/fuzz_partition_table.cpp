// Partition tables read from any bytes: a disk image held in memory, read as
// a disk of 512- and of 4096-byte sectors.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PartitionTableAnalyze.h"
#include "support/MemoryStorageDevice.h"

// Damaged tables are logged; keep the log out of the build folder.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char dir[] = "/tmp/velmora-fuzz-ptable-XXXXXX";
    if (!getenv("VELMORA_WORK_PATH") && mkdtemp(dir))
        setenv("VELMORA_WORK_PATH", dir, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (int sectorSize : {512, 4096}) {
        velmora::test::MemoryStorageDevice device(std::vector<uint8_t>(data, data + size),
                                                  sectorSize);
        CPartitionTableAnalyze analyzer;
        std::vector<PartitionEntry> list;
        analyzer.AnalyzePartitionTable(&device, list);
        const long long total = device.GetTotalSectors();
        for (const auto& e : list) {
            if (e.startSector < 0 || e.sectorCount < 1 || e.startSector >= total ||
                e.sectorCount > total - e.startSector)
                __builtin_trap();
        }
    }
    return 0;
}
