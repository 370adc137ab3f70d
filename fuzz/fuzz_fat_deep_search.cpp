// The FAT deep search over a surface held in memory: every sector through
// the boot-sector, FAT-start and directory-sector analysis, then winnowing,
// scoring and the tree build of what was kept. Seeds: the cut FAT16 and
// FAT32 volumes of fuzz_fat_quick_search without their leading type byte.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "FATCompleteSearch.h"
#include "FATFileNode.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMaxImage = 1u << 20;
constexpr size_t kMinImage = 64 * 1024;

class NullTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512 || size > kMaxImage)
        return 0;
    CFATFileNode::SetTraceEnabled(false);
    std::vector<uint8_t> image(data, data + size);
    if (image.size() < kMinImage)
        image.resize(kMinImage, 0);
    image.resize(image.size() / 512 * 512);
    velmora::test::MemoryStorageDevice device(std::move(image), 512, false);

    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    NullTree tree;
    builder->Initialize("fuzz", &tree, filter);
    {
        std::unique_ptr<ICompleteFileSystemSearchController> searcher(CreateFATSearcher());
        FileSectorMap map;
        searcher->SetDevice(&device);
        searcher->SetBlockSize(64);
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->SetFileSectorMap(&map);
        searcher->PreparetoSearch();
        const long long total = device.GetTotalSectors();
        for (long long first = 0; first < total; first += 64)
            searcher->AnalyzeBlock(first, std::min<long long>(64, total - first));
        searcher->EndSearch(1);
        std::vector<CSearchedPartitionInfo*> records;
        CollectSearchedPartitions(searcher.get(), records);
        for (CSearchedPartitionInfo* r : records)
            delete r;
    }
    builder->Release();
    return 0;
}
