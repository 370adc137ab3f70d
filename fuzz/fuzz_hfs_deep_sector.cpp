// The HFS+ deep search's per-sector analysis over a disk held in memory: the
// first byte picks the scan's block size (1 to 256 sectors, so structures
// fall across block boundaries), the rest is the disk. Every volume the
// headers lead to is opened and listed into a builder that keeps the nodes.
// Seeds: small generated volumes inside a disk
// (tests/engine/HFSPlus/make_fuzz_seeds.py).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FileNode.h"
#include "HFSPlusLib/HFSPlusStructs.h"
#include "HFSPlusSearch/HFSPlusDeepSearch.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "support/MemoryStorageDevice.h"

namespace {

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
    if (size < 1 + 2048 || size > 1 + (2u << 20))
        return 0;
    hfsplus::SetErrorLines(false);
    const long long block = 1 + data[0];
    velmora::test::MemoryStorageDevice device(std::vector<uint8_t>(data + 1, data + size), 512,
                                              false);
    KeepingBuilder builder;
    {
        hfsplus::CHFSPlusCompleteFileSystemSearchController searcher;
        searcher.SetDevice(&device);
        searcher.SetDirecotryTreeBuilder(&builder);
        searcher.PreparetoSearch();
        const long long total = device.GetTotalSectors();
        for (long long s = 0; s < total; s += block)
            searcher.AnalyzeBlock(s, block < total - s ? block : total - s);
        searcher.EndSearch(1);
        std::vector<CSearchedPartitionInfo*> records(
            static_cast<size_t>(searcher.GetSearchedPartitionInfo(nullptr, 0)));
        const int made =
            searcher.GetSearchedPartitionInfo(records.data(), static_cast<int>(records.size()));
        for (int i = 0; i < made; ++i)
            delete records[static_cast<size_t>(i)];
        // The nodes read through volumes the searcher owns: release them first.
        for (IFileNode* n : builder.nodes)
            n->Release();
        builder.nodes.clear();
    }
    return 0;
}
