// The exFAT deep search over a surface held in memory: every sector through
// the up-case, boot-sector, FAT-start and directory-sector analysis, runs of
// directory sectors with split entry sets, the partition builder's
// hypotheses and winnowing, and the nodes of every volume found. The first
// byte picks the device's sector size (bit 0: 4096, else 512) and the block
// size the surface is fed in (bits 1-3), so that sectors meet block seams
// everywhere. Seeds: a small generated volume, whole, moved and with its
// boot regions zeroed (tests/engine/ExFat/make_fuzz_seeds.py).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ExFatCompleteSearch.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMaxImage = 1u << 20;
constexpr size_t kMinImage = 64 * 1024;
constexpr long long kBlockSectors[8] = {1, 2, 3, 5, 16, 64, 255, 2048};

class NullTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 513 || size > kMaxImage + 1)
        return 0;
    const int sectorSize = (data[0] & 1) ? 4096 : 512;
    const long long block = kBlockSectors[(data[0] >> 1) & 7];
    std::vector<uint8_t> image(data + 1, data + size);
    if (image.size() < kMinImage)
        image.resize(kMinImage, 0);
    velmora::test::MemoryStorageDevice device(std::move(image), sectorSize, false);

    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    NullTree tree;
    builder->Initialize("fuzz", &tree, filter);
    {
        std::unique_ptr<ICompleteFileSystemSearchController> searcher(CreateEXFatSearcher());
        searcher->SetDevice(&device);
        searcher->SetBlockSize(static_cast<int>(block));
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->PreparetoSearch();
        const long long total = device.GetTotalSectors();
        for (long long first = 0; first < total; first += block)
            searcher->AnalyzeBlock(first, std::min<long long>(block, total - first));
        searcher->EndSearch(1);
        std::vector<CSearchedPartitionInfo*> records;
        CollectSearchedPartitions(searcher.get(), records);
        for (CSearchedPartitionInfo* r : records)
            delete r;
    }
    builder->Release();
    return 0;
}
