// The FAT quick search and the volume recogniser over a volume held in
// memory: boot sector and backup, FAT copies, label search, the breadth-first
// walk into the tree builder. The first byte picks the file-system type the
// volume record claims (its value modulo 3). Seeds: the cut FAT16 and FAT32
// volumes of fuzz_fat_walk (tests/engine/FAT/make_walk_fuzz_seeds.sh), each
// behind one byte naming its type (1, 2).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "EngineFactories.h"
#include "FATFileNode.h"
#include "FATQuickSearch.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDeviceData.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMaxImage = 1u << 20;
constexpr size_t kMinImage = 64 * 1024;

class NullProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

class NullTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 513 || size > kMaxImage + 1)
        return 0;
    CFATFileNode::SetTraceEnabled(false);
    static const bool installed = (InstallEngineFactories(), true);
    (void)installed;
    std::vector<uint8_t> image(data + 1, data + size);
    if (image.size() < kMinImage)
        image.resize(kMinImage, 0);
    velmora::test::MemoryStorageDevice device(std::move(image), 512, false);
    device.SetType(kDeviceVolume);
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = data[0] % 3;
    record->sectorSize = 512;
    record->totalSectors = device.GetTotalSectors();
    device.SetPrivateData(CreateVolumeDeviceData(record));

    std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(&device, 0));
    char label[100];
    analyze->GetLabel(label, sizeof(label));

    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    NullTree tree;
    NullProgress progress;
    builder->Initialize("fuzz", &tree, filter);
    {
        std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateFATQuickSearcher());
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->QuickSearchFiles(&device, &progress);
        CSearchedPartitionInfo* records[1] = {};
        if (searcher->GetSearchedPartitionInfo(records, 1) == 1)
            delete records[0];
    }
    builder->Release();
    return 0;
}
