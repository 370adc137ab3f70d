// The exFAT quick search and the volume recogniser over a volume held in
// memory: boot sector, FAT windows, the breadth-first walk into the tree
// builder, data runs of every node. The first byte picks the device's
// sector size (odd: 4096, even: 512). Seeds: a small generated volume
// (tests/engine/ExFat/make_fuzz_seeds.py) behind a byte naming 512.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ExFatQuickSearch.h"
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
    const int sectorSize = (data[0] & 1) ? 4096 : 512;
    std::vector<uint8_t> image(data + 1, data + size);
    if (image.size() < kMinImage)
        image.resize(kMinImage, 0);
    velmora::test::MemoryStorageDevice device(std::move(image), sectorSize, false);
    device.SetType(kDeviceVolume);
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = 7;
    record->sectorSize = sectorSize;
    record->totalSectors = device.GetTotalSectors();
    device.SetPrivateData(CreateVolumeDeviceData(record));

    std::unique_ptr<IVolumeAnalyze> analyze(CreateExfatVolumeAnalyze(&device, 0));
    if (analyze) {
        char label[16];
        analyze->GetLabel(label, sizeof(label));
    }

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
        std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateEXFatQuickSearcher());
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->QuickSearchFiles(&device, &progress);
        CSearchedPartitionInfo* records[1] = {};
        if (searcher->GetSearchedPartitionInfo(records, 1) == 1)
            delete records[0];
    }
    builder->Release();
    return 0;
}
