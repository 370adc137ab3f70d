// A result file read from any bytes: the header, the scan kind, the device
// record and the replay of every root and node into a real tree builder,
// through a file in a private temporary folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EngineResultAdapters.h"
#include "IRecoveryFilter.h"
#include "SaveRestore.h"
#include "SearchInterfaces.h"
#include "support/MemoryStorageDevice.h"

namespace {

using namespace SaveRestoreResult;

const std::string& ResultPath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/velmora-fuzz-result-XXXXXX";
        const char* dir = mkdtemp(tmpl);
        return std::string(dir ? dir : "/tmp") + "/input.Velmora";
    }();
    return path;
}

// A 32 MiB whole disk of zeros: every stored root is replayed over it.
velmora::test::MemoryStorageDevice& Disk() {
    static velmora::test::MemoryStorageDevice disk(
        65536, 512, [](long long, uint8_t* out, size_t n) { std::memset(out, 0, n); });
    return disk;
}

// Finds the disk wherever the file says it was, as long as the size fits.
class AnyPlaceCatalogue : public IResultDeviceCatalogue {
public:
    std::vector<CatalogueEntry> Entries() override {
        return {{0, 0, "fat16.img", 1, 65536LL * 512}, {0, -1, "", 10, 65536LL * 512}};
    }
    IStorageDevice* StorageAt(int32_t, int32_t) override { return &Disk(); }
    IStorageDevice* StorageByDmgInfo(const CDMGDeviceInfoStruct&, const std::string&) override {
        return &Disk();
    }
    IStorageDevice* StorageByEdiInfo(const CEDIDeviceInfoStruct&, const std::string&) override {
        return &Disk();
    }
};

struct NullTree : IDrirectoryTree {
    void ShowNodes(IFileNode**, unsigned, int) override {}
    void ShowFilesystemNode(IFilesystemNode*) override {}
};

// Replays into the engine's tree builder without its pauses.
class BuilderRunner : public IResultScanRunner {
public:
    void ClearData() override {}
    void SetImageResult(int, int) override {}
    void Replay(IStorageDevice* device, const ScanKindRecord&, CRestoreScanSink* sink) override {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        hooks.userHome = [] { return std::string("/home/nobody"); };
        IDirecotryTreeBuilder* builder = CreateTreeBuilder(true, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        NullTree tree;
        builder->Initialize("disk", &tree, filter);
        sink->SetDirecotryTreeBuilder(builder, nullptr, device);
        builder->Release();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ResultPath().c_str(), "wb");
    if (f == nullptr)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    AnyPlaceCatalogue catalogue;
    BuilderRunner runner;
    RestoreScanResult(ResultPath(), nullptr, "", &catalogue, &runner);
    return 0;
}
