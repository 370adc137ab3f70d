// Writes found FAT files into a folder at their paths, for comparison with
// manifests and with Sleuth Kit.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataRun.h"
#include "FileNode.h"
#include "IStorageDevice.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"

namespace velmora::fattest {

// The node's path below its tree's root ("/Docs/a.txt").
inline std::string NodePath(IFileNode* node) {
    std::string path;
    for (IFileNode* n = node; n && n->GetParent(); n = n->GetParent()) {
        std::string name = n->GetFileName() ? n->GetFileName() : "";
        for (char& c : name)
            if (c == '/') c = '_';
        path = "/" + name + path;
    }
    return path;
}

struct RecoverFolderStats {
    int written = 0;
    int failed = 0;
};

// Reads a file's clusters through its runs; false when a run is missing
// or unreadable.
inline bool ReadThroughRuns(IFileNode* node, IStorageDevice* device, const CSearchedPartitionInfo& record,
                            std::vector<uint8_t>& data) {
    auto* file = dynamic_cast<CFileNode*>(node);
    IDataRunList* runs = file ? file->GetDataRunList() : nullptr;
    const long long size = node->GetFileSize();
    data.clear();
    if (size == 0) return true;
    if (!runs) return false;
    const long long clusterBytes = static_cast<long long>(record.sectorsPerCluster) * device->GetSectorSize();
    for (const DataRun* r = runs->GetFirst(); r && static_cast<long long>(data.size()) < size; r = runs->GetNext()) {
        std::vector<uint8_t> buf(static_cast<size_t>(r->length * clusterBytes));
        if (!device->ReadSector(buf.data(), record.runOriginSector + r->start * record.sectorsPerCluster,
                                r->length * record.sectorsPerCluster))
            return false;
        data.insert(data.end(), buf.begin(), buf.end());
    }
    if (static_cast<long long>(data.size()) < size) return false;
    data.resize(static_cast<size_t>(size));
    return true;
}

// Every file (or only the deleted ones) and every folder of `nodes` (path
// to node) under `folder`, with the nodes' modification times.
inline RecoverFolderStats RecoverToFolder(const std::map<std::string, IFileNode*>& nodes, IStorageDevice* device,
                                          IFileSystemSearchController* searcher, const std::string& folder,
                                          bool deletedOnly) {
    RecoverFolderStats stats;
    std::vector<CSearchedPartitionInfo*> records;
    CollectSearchedPartitions(searcher, records);
    std::unique_ptr<CSearchedPartitionInfo> record(records.empty() ? nullptr : records.front());
    for (size_t i = 1; i < records.size(); ++i) delete records[i];
    std::filesystem::create_directories(folder);
    for (const auto& [path, node] : nodes) {
        const std::string target = folder + path;
        if (node->IsDirectory()) {
            if (!deletedOnly) std::filesystem::create_directories(target);
            continue;
        }
        if (deletedOnly && !node->IsDeleted()) continue;
        std::vector<uint8_t> data;
        if (!record || !ReadThroughRuns(node, device, *record, data)) {
            ++stats.failed;
            continue;
        }
        std::filesystem::create_directories(std::filesystem::path(target).parent_path());
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
            if (fd >= 0) ::close(fd);
            ++stats.failed;
            continue;
        }
        const long long ticks = node->GetModificationTime();
        if (ticks > 0) {
            struct timespec times[2] = {};
            times[0].tv_nsec = UTIME_OMIT;
            times[1].tv_sec = static_cast<time_t>(ticks / 10000000LL - 11644473600LL);
            ::futimens(fd, times);
        }
        ::close(fd);
        ++stats.written;
    }
    return stats;
}

}  // namespace velmora::fattest
