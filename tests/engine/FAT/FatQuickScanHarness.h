// Quick scans of FAT images through the FAT quick searcher and the real
// tree builder, and the recovery of what they find into a folder at the
// files' paths, for comparison with manifests and with Sleuth Kit.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FATFileNode.h"
#include "FATQuickSearch.h"
#include "FatTools.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "IStorageDevice.h"
#include "RecoveryInterfaces.h"
#include "RecoveryOutput.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "support/TestSupport.h"

namespace velmora::fattest {

// The node's path below its tree's root ("/Docs/a.txt").
inline std::string NodePath(IFileNode* node) {
    std::string path;
    for (IFileNode* n = node; n && n->GetParent(); n = n->GetParent()) {
        std::string name = n->GetFileName() ? n->GetFileName() : "";
        for (char& c : name)
            if (c == '/')
                c = '_';
        path = "/" + name + path;
    }
    return path;
}

struct RecoverFolderStats {
    int written = 0;
    int failed = 0;
};

// Every file (or only the deleted ones) and every folder of `nodes` (path
// to node) under `folder`, through the data-recovery object as the program
// recovers them (bytes and times). Empty files have no data to read and
// are made directly.
inline RecoverFolderStats RecoverToFolder(const std::map<std::string, IFileNode*>& nodes,
                                          IStorageDevice* device,
                                          IFileSystemSearchController* searcher,
                                          const std::string& folder, bool deletedOnly) {
    RecoverFolderStats stats;
    IDataRecovery* recovery = CreateDataRecoveryObj();
    const bool ready = recovery && ResultSucceeded(recovery->Initialize(searcher, device));
    std::filesystem::create_directories(folder);
    for (const auto& [path, node] : nodes) {
        // Each part as recovery writes it (a name longer than a Linux file
        // name may be is cut, as the program cuts it).
        std::string target = folder;
        for (size_t at = 1; at <= path.size();) {
            const size_t slash = std::min(path.find('/', at), path.size());
            target += "/" + velmora::recovery::CleanPathComponent(path.substr(at, slash - at));
            at = slash + 1;
        }
        if (node->IsDirectory()) {
            if (!deletedOnly)
                std::filesystem::create_directories(target);
            continue;
        }
        if (deletedOnly && !node->IsDeleted())
            continue;
        std::filesystem::create_directories(std::filesystem::path(target).parent_path());
        if (node->GetFileSize() == 0) {
            const int fd =
                ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd < 0) {
                ++stats.failed;
                continue;
            }
            const long long ticks = node->GetModificationTime();
            struct timespec times[2] = {};
            times[0].tv_nsec = UTIME_OMIT;
            times[1].tv_sec = static_cast<time_t>(ticks / 10000000LL - 11644473600LL);
            if (ticks > 0)
                ::futimens(fd, times);
            ::close(fd);
            ++stats.written;
            continue;
        }
        IFileReader* reader = ready ? recovery->SetRecoverNode(node) : nullptr;
        if (!reader) {
            ++stats.failed;
            continue;
        }
        reader->Release();
        if (ResultSucceeded(recovery->RecoverTo(target.c_str(), nullptr, 0)))
            ++stats.written;
        else
            ++stats.failed;
    }
    if (recovery)
        recovery->Release();
    return stats;
}

// One file of a scan recovered through the data-recovery object, as the
// program recovers it.
struct RecoveredFile {
    VKRESULT result = 0;
    std::vector<uint8_t> bytes;
    std::vector<LostRange> lost;
    bool selected = false;
};
inline RecoveredFile RecoverOne(IFileNode* node, IStorageDevice* device,
                                IFileSystemSearchController* searcher, const std::string& target) {
    RecoveredFile out;
    IDataRecovery* recovery = CreateDataRecoveryObj();
    if (!recovery || ResultFailed(recovery->Initialize(searcher, device))) {
        if (recovery)
            recovery->Release();
        return out;
    }
    if (IFileReader* reader = recovery->SetRecoverNode(node)) {
        reader->Release();
        out.selected = true;
        out.result = recovery->RecoverTo(target.c_str(), nullptr, 0);
        out.lost = recovery->GetLostRanges().Ranges();
        out.bytes = velmora::test::ReadFile(target);
    }
    recovery->Release();
    return out;
}

class RecordingProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override {
        records.push_back({info->state, info->total, info->done});
    }
    int Continued() override { return stopAfter < 0 || ++asked <= stopAfter; }
    int shouldBuild() override { return 1; }

    struct Record {
        int state;
        long long total, done;
    };
    std::vector<Record> records;
    int stopAfter = -1;
    int asked = 0;
};

// Keeps what the builder shows; the nodes stay the builder's.
class CollectingTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    std::vector<IFileNode*> shown;
    int roots = 0;
};

// One quick scan of an image file opened as a volume whose record names the
// file system, as the volume enumeration would.
struct QuickScan {
    // showLive: the filter of a deep scan, which shows live files too; a
    // quick scan's own filter shows only deleted ones.
    QuickScan(const std::string& image, int fsType, int sectorSize = 512, bool showLive = true) {
        device.reset(CreateVolumeDevice(image.c_str()));
        if (!device || !device->Open(nullptr))
            return;
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = fsType;
        record->sectorSize = sectorSize;
        record->totalSectors =
            static_cast<long long>(std::filesystem::file_size(image)) / sectorSize;
        record->partitionNumber = -1;
        std::snprintf(record->volumeName, sizeof(record->volumeName), "%s", "fixture");
        device->SetPrivateData(CreateVolumeDeviceData(record));

        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(showLive ? SCAN_COMPLETE : SCAN_QUICK);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("fixture", &tree, filter);
        searcher.reset(static_cast<CFATQuickSearcher*>(CreateFATQuickSearcher()));
        searcher->SetDirecotryTreeBuilder(builder);
    }
    ~QuickScan() {
        if (builder)
            builder->Release();
    }
    VKRESULT Run() {
        CFATFileNode::SetTraceEnabled(false);
        result = searcher->QuickSearchFiles(device.get(), &progress);
        return result;
    }
    // The files below the root, by path.
    std::map<std::string, IFileNode*> Files(bool withFolders = false) const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown)
            if (withFolders || !n->IsDirectory())
                out[NodePath(n)] = n;
        return out;
    }

    std::unique_ptr<IStorageDevice> device;
    IDirecotryTreeBuilder* builder = nullptr;
    CollectingTree tree;
    RecordingProgress progress;
    std::unique_ptr<CFATQuickSearcher> searcher;
    VKRESULT result = 0;
};

// Runs one of the Python checkers beside the FAT tests.
inline int RunScript(const std::string& script, std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), {"python3", std::string(VELMORA_FAT_TEST_DIR) + "/" + script});
    return RunTool(args, out);
}

// Runs the scan driver (tools/scan_driver) for a quick scan of `image` as a
// volume of `fsType` that recovers what it finds below `folder`: the whole
// road through the controllers, the searcher, the tree builder and the
// data-recovery objects. The folder that mirrors the volume, or "" (with
// the driver's output in `log`).
inline std::string DriveQuickScanAndRecover(const std::string& image, int fsType, int sectorSize,
                                            const std::string& folder, std::string* log) {
#ifdef VELMORA_SCAN_DRIVER
    std::filesystem::create_directories(folder);
    RunTool({VELMORA_SCAN_DRIVER, "--quick", "--fs-type", std::to_string(fsType), "--sector-size",
             std::to_string(sectorSize), "--rounds", "1", "--recover", folder, image},
            log);
    const std::string mark = "recovered tree: ";
    const size_t at = log->find(mark);
    if (at == std::string::npos || log->find(" 0 failed") == std::string::npos)
        return {};
    return log->substr(at + mark.size(), log->find('\n', at) - at - mark.size());
#else
    (void)image, (void)fsType, (void)sectorSize, (void)folder, (void)log;
    return {};
#endif
}

}  // namespace velmora::fattest
