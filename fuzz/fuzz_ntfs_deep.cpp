// The NTFS deep search over a surface held in memory: every sector through
// the boot-sector, restart-page, index-block, FILE-record, $AttrDef and
// $UpCase tests, records joined across blocks, then scoring, pruning and
// the trees. The first byte chooses the sector size (bit 0: 4,096 bytes),
// the second the block size in sectors (0: 2,048); the rest describes the
// surface sparsely as for fuzz_ntfs_quick_search: a 32-bit size, then pieces
// of a 32-bit offset, a 16-bit length and a fill byte (0: that many bytes
// follow; otherwise the piece is that byte repeated). Seeds: small mkntfs
// volumes at 64 KiB into a disk (tests/engine/NTFS/make_fuzz_seeds.py).
#include <algorithm>
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
#include "support/MemoryStorageDevice.h"

namespace {

constexpr size_t kMinImage = 64 * 1024;
constexpr size_t kMaxImage = 8u << 20;

class NullTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    const int sectorSize = (data[0] & 1) ? 4096 : 512;
    const int block = data[1] == 0 ? 2048 : data[1];
    data += 2;
    size -= 2;
    vk::ByteReader in(data, size);
    size_t imageSize = in.LE32(0) & ~size_t{4095};
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
        std::unique_ptr<ICompleteFileSystemSearchController> searcher(CreateNTFSSearcher());
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->SetDevice(&device);
        searcher->SetBlockSize(block);
        searcher->PreparetoSearch();
        const long long total = device.GetTotalSectors();
        for (long long at = 0; at < total; at += block)
            searcher->AnalyzeBlock(at, std::min<long long>(block, total - at));
        searcher->EndSearch(1);
        std::vector<CSearchedPartitionInfo*> found(64, nullptr);
        const int n =
            searcher->GetSearchedPartitionInfo(found.data(), static_cast<int>(found.size()));
        for (int i = 0; i < n && i < static_cast<int>(found.size()); ++i)
            delete found[static_cast<size_t>(i)];
    }
    builder->Release();
    return 0;
}
