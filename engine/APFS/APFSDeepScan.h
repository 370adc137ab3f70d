// The APFS member of a deep scan: looks at every 4096-byte block of the
// surface for container superblocks, volume superblocks and file-system tree
// nodes, keeps one APFSContainer per container found and builds the APFS
// result tree (searcher type 37) at the end.
#pragma once

#include <map>
#include <memory>

#include "APFSContainer.h"
#include "SearchInterfaces.h"

class IStorageDevice;

namespace apfs {

class APFSDeepScan final : public ICompleteFileSystemSearchController, public APFSDelegate {
public:
    APFSDeepScan();
    ~APFSDeepScan() override;
    APFSDeepScan(const APFSDeepScan&) = delete;
    APFSDeepScan& operator=(const APFSDeepScan&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { builder_ = builder; }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int) override {}
    void PreparetoSearch() override {}
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetIProgressSink(IProgress* progress) override { progress_ = progress; }

    bool Continued() override;
    int AddNode(APFSFileNode* node) override;
    int ReadBlocks(APFSContainer* container, unsigned long long block, int bytes,
                   void* buffer) override;

    bool OnContainerSuperblock(unsigned long long sector, const uint8_t* data);
    bool OnVolumeSuperblock(unsigned long long sector, const uint8_t* data);

    const std::map<unsigned long long, std::unique_ptr<APFSContainer>>& Containers() const {
        return containers_;
    }

private:
    // Blocks [block, block + count) lying one after another at group.
    void AnalyzeGroup(const uint8_t* group, uint64_t block, int count);

    IDirecotryTreeBuilder* builder_ = nullptr;
    IStorageDevice* device_ = nullptr;
    IProgress* progress_ = nullptr;
    std::map<unsigned long long, std::unique_ptr<APFSContainer>> containers_;
    int sectorSize_ = 512;
    std::unique_ptr<uint8_t[]> buffer_;
};

}  // namespace apfs
