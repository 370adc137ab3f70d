// The quick (deleted-files), complete and partition scan controllers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RecoveryControllers.h"
#include "SearchInterfaces.h"

class IDeviceCache;
class IDirecotryTreeBuilder;
class IRecoveryFilter;
class RestoreScanSink;
class TBitmap;

// A deep searcher and the type of the nodes it finds.
struct _SEARCHER_INFO {
    int type;  // _tagSearcherType
    ICompleteFileSystemSearchController* searcher;
    uint32_t needs = 0;  // DeepSearcherNeeds of its row
};

// Block length of a deep scan in sectors: 4 MiB of sectors, a sector size
// the device cannot tell counting as 512.
int DeepScanBlockSectors(int sectorSize);

// What every controller holds: the result-file replay, the tree builder of
// its scan, the filter and the scanned device.
class CRecoveryControllerBase : public IRecoveryController {
public:
    CRecoveryControllerBase() = default;
    ~CRecoveryControllerBase() override;
    CRecoveryControllerBase(const CRecoveryControllerBase&) = delete;
    CRecoveryControllerBase& operator=(const CRecoveryControllerBase&) = delete;

    int Initialize(IRecoveryFilter* filter) override;
    void Release() override { delete this; }
    // Not owned; set before StartDataRecovery.
    void SetRestoreScanSink(RestoreScanSink* sink) { m_restoreSink = sink; }

protected:
    // Makes and initialises the scan's tree builder; VK_OK or the failure.
    VKRESULT StartTreeBuilder(IStorageDevice* device, IDrirectoryTree* tree, bool replay);
    void ReleaseTreeBuilder();

    RestoreScanSink* m_restoreSink = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    IRecoveryFilter* m_filter = nullptr;
    IStorageDevice* m_device = nullptr;
};

class CDeletedRecoveryController : public CRecoveryControllerBase {
public:
    ~CDeletedRecoveryController() override;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_DELETED; }
    VKRESULT StartDataRecovery(IStorageDevice* device, IProgress* progress,
                               IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override;

private:
    void ReleaseScan();

    IQuickFileSystemSearchController* m_searcher = nullptr;
};

class CCompleteRecoveryController : public CRecoveryControllerBase {
public:
    ~CCompleteRecoveryController() override;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_COMPLETE; }
    VKRESULT StartDataRecovery(IStorageDevice* device, IProgress* progress,
                               IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override;

    // Offers sectors [first, last] to every searcher block by block through
    // the cache; 0 also when the caller stopped the walk.
    VKRESULT SearchData(long long first, long long last, IProgress* progress);

private:
    void CreateSearchers(IStorageDevice* device, IProgress* progress);
    void ReleaseScan();

    std::vector<_SEARCHER_INFO> m_searchers;
    IDeviceCache* m_cache = nullptr;
    FileSectorMap m_sectorMap;
    TBitmap* m_bitmap = nullptr;
};

// The same deep scan, run over a whole disk.
class CPartitionRecoveryController : public CCompleteRecoveryController {
public:
    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_PARTITION; }
};
