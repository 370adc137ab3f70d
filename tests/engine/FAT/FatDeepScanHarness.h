// Deep scans through the FAT deep searcher alone, fed block by block as the
// deep-scan controller feeds it, with the real tree builder; the found files
// grouped by the partition they belong to, for recovery into one folder per
// partition.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FATCompleteSearch.h"
#include "FATFileNode.h"
#include "FatQuickScanHarness.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "IStorageDevice.h"
#include "SearchInterfaces.h"

namespace velmora::fattest {

struct DeepScan {
    // `device` is the caller's and must outlive the scan.
    explicit DeepScan(IStorageDevice* device) : device(device) {
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("disk", &tree, filter);
        searcher.reset(static_cast<CFATCompleteFSearcher*>(CreateFATSearcher()));
        searcher->SetDirecotryTreeBuilder(builder);
        searcher->SetFileSectorMap(&sectorMap);
    }
    ~DeepScan() {
        // The builder's trees hold the searcher's nodes: it goes first.
        if (builder)
            builder->Release();
    }
    // The walk of the controller: blocks of 4 MiB, ascending.
    void Run(bool build = true) {
        CFATFileNode::SetTraceEnabled(false);
        const int sectorSize = device->GetSectorSize() > 0 ? device->GetSectorSize() : 512;
        const long long block = std::max(1, 0x400000 / sectorSize);
        searcher->SetDevice(device);
        searcher->SetBlockSize(static_cast<int>(block));
        searcher->PreparetoSearch();
        const long long total = device->GetTotalSectors();
        for (long long first = 0; first < total; first += block)
            searcher->AnalyzeBlock(first, std::min(block, total - first));
        searcher->EndSearch(build ? 1 : 0);
    }
    // Kept partitions as the data-recovery object gets them.
    std::vector<std::unique_ptr<CFATSearchedPartitionInfo>> Partitions() {
        std::vector<std::unique_ptr<CFATSearchedPartitionInfo>> out;
        const int n = searcher->GetSearchedPartitionInfo(nullptr, 0);
        std::vector<CSearchedPartitionInfo*> raw(static_cast<size_t>(std::max(n, 1)), nullptr);
        const int got = searcher->GetSearchedPartitionInfo(raw.data(), n);
        for (int i = 0; i < got; ++i)
            out.emplace_back(static_cast<CFATSearchedPartitionInfo*>(raw[static_cast<size_t>(i)]));
        return out;
    }
    // Files and folders of one partition, by path below its volume's folder
    // (placeholders and "Other lost files" included as the tree shows them).
    std::map<std::string, IFileNode*> Nodes(int partition) const {
        std::map<std::string, IFileNode*> out;
        const std::string top = "/" + VolumeName(partition);
        for (IFileNode* n : tree.shown) {
            auto* node = dynamic_cast<CFileNode*>(n);
            if (!node || node->GetBelongedPartition() != partition ||
                n->GetCurrentNodeID() == kVolumeFolderNodeId)
                continue;
            const std::string path = NodePath(n);
            if (path.compare(0, top.size() + 1, top + "/") == 0)
                out[path.substr(top.size())] = n;
        }
        return out;
    }
    // The name of the folder the tree gives one partition's volume; empty
    // when it has none.
    std::string VolumeName(int partition) const {
        for (IFileNode* n : tree.shown) {
            auto* node = dynamic_cast<CFileNode*>(n);
            if (node && node->GetBelongedPartition() == partition &&
                n->GetCurrentNodeID() == kVolumeFolderNodeId && n->GetFileName())
                return n->GetFileName();
        }
        return {};
    }

    IStorageDevice* device;
    IDirecotryTreeBuilder* builder = nullptr;
    CollectingTree tree;
    FileSectorMap sectorMap;
    std::unique_ptr<CFATCompleteFSearcher> searcher;
};

}  // namespace velmora::fattest
