// What the result trees, the recovery and saving and loading results take
// from the program's scan: adapters over the scan operation (VKUIScan), the
// file-type index (VKTypeMgr), the date index (VKTimeMgr) and the device
// catalogue (VKUIDeviceData). InstallScanSources() puts them in place once,
// when the program's bridge starts; tests install them over their own
// catalogue the same way.
#pragma once

#include <memory>
#include <mutex>

#include "SaveRestore.h"
#include "VKUIDeviceData.h"
#include "VKUIRecovery.h"
#include "VKUISaveLoad.h"
#include "VKUIScan.h"
#include "VKUITreeData.h"

class VKTypeMgr;
class VKTimeMgr;

namespace velmora::bridge {

// The result trees over the scan's indexes. The file-type and date indexes
// keep how far they have filed (per category, per month and tree kind), so
// each file is handed to a tree once.
class ScanTreeSource final : public ITreeIndexSource {
public:
    ScanTreeSource(VKUIScan& scan, VKTypeMgr& types, VKTimeMgr& times)
        : scan_(scan), types_(types), times_(times) {}

    std::vector<IFileNode*> GetFileSystemNode() override;
    std::vector<IFileNode*> VKGetNewPathNode() override;
    std::vector<IFileNode*> VKGetAllPathNode() override;
    int FindRemoveData(IFileNode* node) override;
    void SetOpTreeFinished(int finished) override;
    int GetScanType() override;
    void DoSearch(std::vector<IFileNode*>& hits) override;
    int IsSearching() override;
    void SetSearching(int searching) override;
    void SetSearchKey(const std::string& key) override;
    std::string GetSearchKey() override;
    void SetNeedUIUpdate(int need) override;
    TypeIndexMap GetTypeMap() override;
    DateIndexMap GetCreateTimeMap() override;
    DateIndexMap GetModifyTimeMap() override;
    void UnselectAllNodes() override;
    std::vector<OpNodePtr> TypeRootNodes() override;
    void RefreshTypeTree() override;
    void RefreshTypeTreeAfterSearch() override;
    void TypeSetSearch(int searching) override;
    void TypeSetNeedRefreshTree() override;
    int TypeIsOtherNode(const OpNodeData* node) override;
    void TypeSetNodeState(OpNodeData* node) override;
    void RefreshTypeTreeState() override;
    void RefreshTimeTree(OpNodeData* root, int kind,
                         const std::function<void(IFileNode*, OpNodeData*)>& file) override;
    void RefreshTimeTreeAfterSearch(
        OpNodeData* root, int kind,
        const std::function<void(IFileNode*, OpNodeData*)>& file) override;
    void TimeSetSearch(int searching) override;
    void TimeSetNeedRefreshTree() override;
    int TimeGetNeedRefreshTree() override;
    void TimeResetNeedRefreshTree() override;

private:
    VKUIScan& scan_;
    VKTypeMgr& types_;
    VKTimeMgr& times_;
    void SearchTreeFiled(int kind);
    // What the last search found, for the trees' refresh right after it
    // (both under the tree lock), and which trees took it (bits by kind).
    VKSearchResult search_;
    int searchTreesFiled_ = 0;
};

// The scan as the recovery and the thumbnails read it. Reading a found
// file needs the scanned device open: the catalogue opens its disks only
// while a lease is held, so every reader holds one (HoldScannedDevice).
class ScanRecoverySource final : public IRecoveryScanSource {
public:
    ScanRecoverySource(VKUIScan& scan, VKUIDeviceData* catalogue)
        : scan_(scan), catalogue_(catalogue) {}

    IRecoveryController* GetRecoveryController() override;
    int IsDeepScan() override;
    std::map<int, std::vector<IFileNode*>> GetTypeMap() override;
    IDataRecovery* GetFileNodeDataRecover(IFileNode* node) override;
    int GetCurrentScanRecoveryCnt() override;
    void SetCurrentScanRecoveryCnt(int count) override;
    std::vector<dev_t> ScannedDeviceNumbers() override;
    void ReleaseDataRecovery() override;
    std::shared_ptr<void> HoldScannedDevice() override;

private:
    VKUIDeviceData& Catalogue();
    VKUIScan& scan_;
    VKUIDeviceData* catalogue_;
};

// Saving the scan's result and loading one back into the scan operation,
// over the catalogue's devices.
class ScanSaveLoadSource final : public ISaveLoadScanSource {
public:
    ScanSaveLoadSource(VKUIScan& scan, VKUIDeviceData* catalogue);
    ~ScanSaveLoadSource() override;

    VKUIOperation& ScanOperation() override;
    SaveRestoreResult::IScanResultSource* ResultSource() override;
    SaveRestoreResult::IResultDeviceCatalogue* Catalogue() override;
    void ClearData() override;
    SaveRestoreResult::IResultScanRunner* Runner() override;
    std::string SavedStorageName() override;

private:
    class Result;
    class Devices;
    class Replayer;
    VKUIDeviceData& CatalogueRef();
    VKUIScan& scan_;
    VKUIDeviceData* catalogue_;
    std::unique_ptr<Result> result_;
    std::unique_ptr<Devices> devices_;
    std::unique_ptr<Replayer> runner_;
};

// Installs the three over the process's scan, indexes and catalogue (null:
// the process's catalogue). The first call installs; later ones with the
// same catalogue change nothing. Tests pass their own catalogue and put
// the process's back with UninstallScanSources().
void InstallScanSources(VKUIDeviceData* catalogue = nullptr);
void UninstallScanSources();

}  // namespace velmora::bridge
