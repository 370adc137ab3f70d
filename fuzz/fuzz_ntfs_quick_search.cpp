// The NTFS quick search and the volume recogniser over a volume held in
// memory: boot sector, $MFT and its mirror, attribute lists, the $LogFile
// pass and the walk into the tree builder. The input describes the volume
// sparsely, so that a whole small volume fits a seed: a 32-bit size, then
// pieces of a 32-bit offset, a 16-bit length and a fill byte (0: that many
// bytes follow; otherwise the piece is that byte repeated). Seeds: small
// mkntfs volumes (tests/engine/NTFS/make_fuzz_seeds.py).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ByteReader.h"
#include "IRecoveryFilter.h"
#include "NTFSFactories.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDeviceData.h"
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMinImage = 64 * 1024;
constexpr size_t kMaxImage = 4u << 20;

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
    vk::ByteReader in(data, size);
    if (size < 4)
        return 0;
    size_t imageSize = in.LE32(0) & ~size_t{511};
    imageSize = std::min(std::max(imageSize, kMinImage), kMaxImage);
    std::vector<uint8_t> image(imageSize, 0);
    for (size_t pos = 4; in.Has(pos, 7);) {
        const uint32_t offset = in.LE32(pos);
        const uint16_t length = in.LE16(pos + 4);
        const uint8_t fill = in.U8(pos + 6);
        pos += 7;
        const size_t n = fill == 0 ? std::min<size_t>(length, size - pos) : length;
        if (offset < imageSize) {
            const size_t room = std::min(n, imageSize - offset);
            if (fill == 0)
                std::memcpy(image.data() + offset, data + pos, room);
            else
                std::memset(image.data() + offset, fill, room);
        }
        if (fill == 0)
            pos += n;
    }
    velmora::test::MemoryStorageDevice device(std::move(image), 512, false);
    device.SetType(kDeviceVolume);

    std::unique_ptr<IVolumeAnalyze> analyze(CreateNTFSVolumeAnalyze(&device, 0));
    if (analyze) {
        char label[64];
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
        std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateNTFSQuickSearcher());
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->QuickSearchFiles(&device, &progress);
        CSearchedPartitionInfo* records[1] = {};
        if (searcher->GetSearchedPartitionInfo(records, 1) == 1)
            delete records[0];
    }
    builder->Release();
    return 0;
}
