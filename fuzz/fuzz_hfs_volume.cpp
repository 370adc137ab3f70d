// An HFS+ volume whose metadata (volume header, bitmap and the three
// B-trees) is the input, padded with zeros (to at
// least 1 MiB): opening, the recogniser, the quick search's catalog walk and
// a read of every found file, compressed ones through their reader. Seeds:
// the fixture volumes' first 28 blocks (tests/engine/HFSPlus/make_fuzz_seeds.py).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "FileNode.h"
#include "HFSPlusLib/HFSPlusStructs.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "HFSPlusSearch/HFSPlusFactories.h"
#include "HFSPlusSearch/HFSPlusQuickSearch.h"
#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "support/MemoryStorageDevice.h"

namespace {

// Keeps every node until the end, as the tree builder would.
class KeepingBuilder final : public IDirecotryTreeBuilder {
public:
    ~KeepingBuilder() override {
        for (IFileNode* n : nodes)
            n->Release();
    }
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType) override {
        nodes.push_back(node);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType, long long) override { return 1; }
    void FlashBuild(_tagSearcherType) override {}
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}
    std::vector<IFileNode*> nodes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hfsplus::SetErrorLines(false);
    if (size < 2048 || size > (1u << 20))
        return 0;
    std::vector<uint8_t> image(data, data + size);
    if (image.size() < (1u << 20))
        image.resize(1u << 20, 0);
    velmora::test::MemoryStorageDevice device(std::move(image), 512, false);
    device.SetType(kDeviceVolume);
    std::unique_ptr<IVolumeAnalyze> analyze(CreateHFSPlusVolumeAnalyze(&device, 0));
    hfsplus::CHFSPlusVolume volume(&device);
    if (ResultFailed(volume.GetLastError()))
        return 0;
    KeepingBuilder builder;
    hfsplus::CHFSPlusQuickFileSystemSearchProgress progress(nullptr, true);
    hfsplus::QuickSearchVolume(&volume, &builder, &progress);
    std::vector<char> buffer(65536);
    for (IFileNode* node : builder.nodes) {
        if (!node->IsCompressed())
            continue;
        if (IFileReader* reader = node->CreateCompressFileReader(nullptr)) {
            int error = 0;
            reader->ReadData(0, buffer.data(), static_cast<unsigned>(buffer.size()), &error);
            reader->Release();
        }
    }
    return 0;
}
