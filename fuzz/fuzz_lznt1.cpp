// LZNT1 compression units from any bytes: the chunk decoder, the unit
// decoder, and the compressed-file reader over a unit held on a device.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "NTFSLib/CompressFileReader.h"
#include "SearchedPartitionInfo.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestNode.h"

// Damaged units are logged; keep the log out of the build folder.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char dir[] = "/tmp/velmora-fuzz-lznt1-XXXXXX";
    if (!getenv("VELMORA_WORK_PATH") && mkdtemp(dir))
        setenv("VELMORA_WORK_PATH", dir, 1);
    return 0;
}

namespace {

class UnitNode : public TestNode {
public:
    UnitNode(long long fileSize, long long clusters) : TestNode(1, 0, "unit") {
        size = fileSize;
        auto* list = new CDataRunList();
        DataRun stored(1, clusters);
        list->AddDataRun(&stored);
        if (clusters < 16) {
            DataRun tail(-1, 16 - clusters);
            list->AddDataRun(&tail);
        }
        SetDataRunList(list);
        SetCompressed(1);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kUnit = 65536;
    static std::vector<uint8_t> out(kUnit + 64);

    // One chunk, with a guard past the room given.
    std::memset(out.data(), 0xA5, out.size());
    const int n = DecompressBlock(data, size, out.data(), 4096);
    if (n > 4096)
        __builtin_trap();
    for (size_t i = 4096; i < 4096 + 64; ++i)
        if (out[i] != 0xA5)
            __builtin_trap();

    // A whole unit.
    DecompressUnit(data, size, out.data(), kUnit);
    for (size_t i = kUnit; i < out.size(); ++i)
        if (out[i] != 0xA5)
            __builtin_trap();

    // The same bytes stored at cluster 1 of a device, as a unit of as many
    // 4 KiB clusters as they fill.
    const long long clusters = static_cast<long long>(std::min<size_t>(16, (size + 4095) / 4096));
    if (clusters == 0)
        return 0;
    std::vector<uint8_t> disk(static_cast<size_t>((1 + clusters) * 4096), 0);
    std::memcpy(disk.data() + 4096, data, std::min<size_t>(size, kUnit));
    velmora::test::MemoryStorageDevice device(std::move(disk), 512);
    CSearchedPartitionInfo partition(512);
    partition.sectorsPerCluster = 8;
    partition.fileSystemType = 3;
    partition.totalSectors = device.GetTotalSectors();
    UnitNode node(70000, clusters);
    CCompressFileReader reader;
    if (!reader.Open(&device, &node, &partition))
        __builtin_trap();
    // The node claims more than its one unit of runs holds: the reader gives
    // the unit and no more, never bytes it has no runs for.
    std::vector<char> buffer(70000);
    const unsigned got = reader.ReadData(0, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (got != 0 && got != kUnit)
        __builtin_trap();
    return 0;
}
