// Deep scans of APFS images by the APFS searcher alone, fed the surface in
// 4 MiB ranges as the complete controller feeds it, with the real tree
// builder; recovery of what it shows into a folder at the shown paths.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "APFSDeepScan.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "IStorageDevice.h"
#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"
#include "support/TestSupport.h"

namespace velmora::apfstest {

inline std::string NodePath(IFileNode* node) {
    std::string path;
    int steps = 0;
    for (IFileNode* n = node; n && n->GetParent() && steps < 4096; n = n->GetParent(), ++steps)
        path = "/" + std::string(n->GetFileName() ? n->GetFileName() : "") + path;
    return path;
}

// "start:length,..." of a node's runs.
inline std::string RunsText(IFileNode* node) {
    auto* file = dynamic_cast<CFileNode*>(node);
    IDataRunList* list = file ? file->GetDataRunList() : nullptr;
    std::string out;
    if (!list)
        return out;
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext()) {
        if (!out.empty())
            out += ",";
        out += std::to_string(r->start < 0 ? -1 : r->start) + ":" + std::to_string(r->length);
    }
    return out;
}

class CollectingTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        shown.insert(shown.end(), nodes, nodes + count);
        if (lost)
            lostNodes += count;
    }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    std::vector<IFileNode*> shown;
    int roots = 0;
    unsigned lostNodes = 0;
};

struct DeepScan {
    explicit DeepScan(const std::string& image, int sectorSize = 512) {
        device.reset(CreateDiskDevice(image.c_str()));
        if (!device || !device->Open(nullptr)) {
            device.reset();
            return;
        }
        if (sectorSize != device->GetSectorSize()) {
            auto* record = new CCollectDiskDeviceInfoStruct{};
            record->flag = 1;
            record->sectorSize = sectorSize;
            record->totalSectors =
                static_cast<long long>(std::filesystem::file_size(image)) / sectorSize;
            device->SetPrivateData(CreateDiskDeviceData(record));
        }
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("fixture", &tree, filter);
        scan = std::make_unique<apfs::APFSDeepScan>();
        scan->SetDirecotryTreeBuilder(builder);
        scan->SetDevice(device.get());
    }
    ~DeepScan() {
        // The builder goes before the searcher that owns the nodes.
        if (builder)
            builder->Release();
        scan.reset();
        if (filter)
            filter->Release();
    }
    void Run() {
        const long long total = device->GetTotalSectors();
        long long step = 0x400000 / device->GetSectorSize();
        for (long long s = 0; s < total; s += step)
            scan->AnalyzeBlock(s, std::min(step, total - s));
        scan->EndSearch(1);
    }
    // Shown nodes below the root by path (files, and folders when asked).
    std::map<std::string, IFileNode*> Shown(bool folders) const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown)
            if (folders || !n->IsDirectory())
                out[NodePath(n)] = n;
        return out;
    }
    // Recovers every shown file below folder through the data-recovery
    // object; the number that failed.
    int RecoverTo(const std::string& folder) {
        int failed = 0;
        IDataRecovery* recovery = CreateDataRecoveryObj();
        if (!recovery || ResultFailed(recovery->Initialize(scan.get(), device.get())))
            return -1;
        for (const auto& [path, node] : Shown(false)) {
            const std::string target = folder + path;
            std::filesystem::create_directories(std::filesystem::path(target).parent_path());
            if (node->GetFileSize() == 0) {
                const int fd =
                    ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0)
                    ++failed;
                const long long ticks = node->GetModificationTime();
                struct timespec times[2] = {};
                times[0].tv_nsec = UTIME_OMIT;
                times[1].tv_sec = static_cast<time_t>(ticks / 10000000LL - 11644473600LL);
                if (fd >= 0 && ticks > 0)
                    ::futimens(fd, times);
                if (fd >= 0)
                    ::close(fd);
                continue;
            }
            IFileReader* reader = recovery->SetRecoverNode(node);
            if (!reader) {
                ++failed;
                continue;
            }
            reader->Release();
            if (ResultFailed(recovery->RecoverTo(target.c_str(), nullptr, 0)))
                ++failed;
        }
        recovery->Release();
        return failed;
    }

    std::unique_ptr<IStorageDevice> device;
    IDirecotryTreeBuilder* builder = nullptr;
    IRecoveryFilter* filter = nullptr;
    CollectingTree tree;
    std::unique_ptr<apfs::APFSDeepScan> scan;
};

struct Expected {
    bool folder = false;
    std::string path, state, runs;
    long long size = 0, mtime = 0;
};

// Parses the lines of "apfs_check.py expect".
inline std::vector<Expected> ParseExpected(const std::string& text) {
    std::vector<Expected> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ls(line);
        std::string part;
        while (std::getline(ls, part, '\t'))
            f.push_back(part);
        if (f.size() == 3 && f[0] == "D")
            out.push_back({true, f[1], f[2], "", 0, 0});
        if (f.size() >= 5 && f[0] == "F")
            out.push_back(
                {false, f[1], f[2], f.size() > 5 ? f[5] : "", std::stoll(f[3]), std::stoll(f[4])});
    }
    return out;
}

}  // namespace velmora::apfstest
