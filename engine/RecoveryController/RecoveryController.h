// The quick (deleted-files), complete and partition scan controllers.
#pragma once

#include <string>
#include <vector>

#include "RecoveryControllers.h"
#include "SearchInterfaces.h"

class CStorageDeviceWithCache;
class IDirecotryTreeBuilder;
class IRecoveryFilter;
class RestoreScanSink;
class TBitmap;

// A deep searcher and the type of the nodes it finds.
struct _SEARCHER_INFO {
    int type;  // _tagSearcherType
    ICompleteFileSystemSearchController* searcher;
};

// Block length of a deep scan in sectors: 4 MiB of sectors, a sector size
// the device cannot tell counting as 512.
int DeepScanBlockSectors(int sectorSize);

// The text the tree builder shows for the device: a volume's name, an edi
// image's device name, otherwise empty.
std::string DeviceDescription(IStorageDevice* device);

class CDeletedRecoveryController : public IRecoveryController {
public:
    CDeletedRecoveryController() = default;
    ~CDeletedRecoveryController() override;
    CDeletedRecoveryController(const CDeletedRecoveryController&) = delete;
    CDeletedRecoveryController& operator=(const CDeletedRecoveryController&) = delete;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_DELETED; }
    int Initialize(IRecoveryFilter* filter) override;
    VKRESULT StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override;
    void Release() override { delete this; }

    void SetRestoreScanSink(RestoreScanSink* sink) { m_restoreSink = sink; }

private:
    void ReleaseScan();

    RestoreScanSink* m_restoreSink = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    IRecoveryFilter* m_filter = nullptr;
    IStorageDevice* m_device = nullptr;
    IQuickFileSystemSearchController* m_searcher = nullptr;
};

class CCompleteRecoveryController : public IRecoveryController {
public:
    CCompleteRecoveryController() = default;
    ~CCompleteRecoveryController() override;
    CCompleteRecoveryController(const CCompleteRecoveryController&) = delete;
    CCompleteRecoveryController& operator=(const CCompleteRecoveryController&) = delete;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_COMPLETE; }
    int Initialize(IRecoveryFilter* filter) override;
    VKRESULT StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override;
    void Release() override { delete this; }

    void SetRestoreScanSink(RestoreScanSink* sink) { m_restoreSink = sink; }

    // Offers sectors [first, last] to every searcher block by block through
    // the cache; 0 also when the caller stopped the walk.
    VKRESULT SearchData(long long first, long long last, IProgress* progress);

private:
    void CreateSearchers(IStorageDevice* device, IProgress* progress);
    void ReleaseScan();

    RestoreScanSink* m_restoreSink = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    IRecoveryFilter* m_filter = nullptr;
    IStorageDevice* m_device = nullptr;
    std::vector<_SEARCHER_INFO> m_searchers;
    CStorageDeviceWithCache* m_cache = nullptr;
    FileSectorMap m_sectorMap;
    TBitmap* m_bitmap = nullptr;
};

// The same deep scan, run over a whole disk.
class CPartitionRecoveryController : public CCompleteRecoveryController {
public:
    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_PARTITION; }
};
