// Deep-scans a disk image with the engine as the program wires it, recovers
// every carved file it shows and lists them, one line per file:
//   tree <TAB> path below the tree's root <TAB> first sector <TAB> size <TAB> recovered copy
// The carve checks compare that listing with an image's manifest.
//
//   carve_scan IMAGE --sector-size N --recover DIR --list FILE [--one-thread]
//
// --one-thread: the signature search looks at the blocks on the scan's own
// thread rather than a thread of its own.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DataRun.h"
#include "EngineFactories.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "platform/HeapPages.h"

namespace {

class Progress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

class Keep final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    std::vector<IFileNode*> shown;
};

}  // namespace

int main(int argc, char** argv) {
    // As the program does: the scan and recovery measured are the program's.
    velmora::platform::StartWithHugePageHeap(argv);
    const char* image = nullptr;
    const char* recoverDir = nullptr;
    const char* listPath = nullptr;
    int sectorSize = 512;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sector-size" && i + 1 < argc)
            sectorSize = std::atoi(argv[++i]);
        else if (a == "--recover" && i + 1 < argc)
            recoverDir = argv[++i];
        else if (a == "--list" && i + 1 < argc)
            listPath = argv[++i];
        else if (a == "--one-thread")
            SetDeepScanSearcherThreads(false);
        else if (image == nullptr)
            image = argv[i];
    }
    struct stat st {};
    if (image == nullptr || recoverDir == nullptr || listPath == nullptr || stat(image, &st) != 0) {
        std::fprintf(stderr, "usage: %s IMAGE --sector-size N --recover DIR --list FILE\n",
                     argv[0]);
        return 2;
    }
    InstallEngineFactories();
    std::unique_ptr<IStorageDevice> device(CreateDiskDevice(image));
    if (!device || device->Open(nullptr) == 0)
        return 1;
    auto* record = new CCollectDiskDeviceInfoStruct{};
    record->flag = 1;
    record->sectorSize = sectorSize;
    record->totalSectors = static_cast<long long>(st.st_size) / sectorSize;
    device->SetPrivateData(CreateDiskDeviceData(record));

    IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_PARTITION);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    controller->Initialize(filter);
    Progress progress;
    Keep tree;
    if (ResultFailed(controller->StartDataRecovery(device.get(), &progress, &tree))) {
        std::fprintf(stderr, "scan failed\n");
        return 1;
    }
    IDataRecovery* recovery = controller->GetDataRecovery(SEARCHER_RAW);
    FILE* list = std::fopen(listPath, "w");
    if (recovery == nullptr || list == nullptr)
        return 1;
    int failed = 0;
    int n = 0;
    for (IFileNode* node : tree.shown) {
        if (node == nullptr || node->IsDirectory())
            continue;
        std::string path = node->GetFileName() ? node->GetFileName() : "";
        IFileNode* top = node;
        for (IFileNode* p = node->GetParent(); p != nullptr; p = p->GetParent()) {
            if (p->GetParent() == nullptr) {
                top = p;
                break;
            }
            path = std::string(p->GetFileName() ? p->GetFileName() : "") + "/" + path;
        }
        long long first = -1;
        if (auto* fileNode = dynamic_cast<CFileNode*>(node);
            fileNode && fileNode->GetDataRunList()) {
            if (const DataRun* run = fileNode->GetDataRunList()->GetFirst())
                first = run->start;
        }
        const std::string copy = std::string(recoverDir) + "/" + std::to_string(n++) + ".bin";
        IFileReader* reader = recovery->SetRecoverNode(node);
        if (reader == nullptr || ResultFailed(recovery->RecoverTo(copy.c_str(), nullptr, 0))) {
            std::fprintf(stderr, "cannot recover %s\n", path.c_str());
            ++failed;
        }
        if (reader != nullptr)
            reader->Release();
        std::fprintf(list, "%d\t%s\t%lld\t%lld\t%s\n", top->GetSearcheType(), path.c_str(), first,
                     node->GetFileSize(), copy.c_str());
    }
    std::fclose(list);
    recovery->Release();
    controller->Release();
    return failed == 0 ? 0 : 1;
}
