// The signature search run block by block over a device, as the complete
// controller feeds it, keeping every node it gives and freeing them at the
// end: what the analyser fuzz targets share.
#pragma once

#include <algorithm>
#include <vector>

#include "FileNode.h"
#include "RawSearchController.h"
#include "SearchInterfaces.h"

namespace velmora::fuzz {

class NodeKeeper : public IDirecotryTreeBuilder {
public:
    ~NodeKeeper() override {
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

// A sector map, when given, is filled as the FAT walk's file-start test would read it.
inline void RunSignatureSearch(IStorageDevice* device, int blockSectors,
                               FileSectorMap* map = nullptr) {
    NodeKeeper keeper;
    CRAWSearchController search;
    search.SetDevice(device);
    search.SetBlockSize(blockSectors);
    search.SetDirecotryTreeBuilder(&keeper);
    if (map != nullptr)
        search.SetFileSectorMap(map);
    search.PreparetoSearch();
    const long long total = device->GetTotalSectors();
    for (long long first = 0; first < total; first += blockSectors)
        search.AnalyzeBlock(first, std::min<long long>(blockSectors, total - first));
    search.EndSearch(1);
}

}  // namespace velmora::fuzz
