// The scan operation: runs one scan of a volume, or of every supported
// volume of a whole disk, through the engine's controllers, and files what
// the engine hands over as it arrives: roots and folders for the path tree,
// files by category for the type tree, files by year and month of creation
// and of modification for the two date trees. The windows read copies of
// these indexes from their threads while the scan runs.
//
// Nodes belong to the engine's trees (the controller of the last scan); the
// indexes only point at them until the next scan or load replaces them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "VKUIOperation.h"

class RestoreScanSink;
class VKUIDeviceData;
struct CCollectedVolumeDeviceInfoStruct;

// year -> month -> files.
using VKDateIndex = std::map<int, std::map<int, std::vector<IFileNode*>>>;
// category bit -> files.
using VKTypeIndex = std::map<unsigned, std::vector<IFileNode*>>;
// year -> month -> how many files the date index held there.
using VKDateExtent = std::map<int, std::map<int, size_t>>;

// What one search looked at, for the trees to file its hits without
// walking the indexes again: the files it showed (in the type index's
// order), each with its number in the order files arrived, and how far the
// indexes reached when it copied them. `complete` is false when a file
// dated in the date indexes is missing from the type index (filed without
// a filter), or the indexes changed under the search: then the hits are not
// all the shown files and the trees must walk.
struct VKSearchResult {
    std::vector<IFileNode*> hits;
    std::vector<uint32_t> arrival;
    std::map<unsigned, size_t> typeExtent;
    VKDateExtent createExtent;
    VKDateExtent modifyExtent;
    bool complete = false;
};

// The controller kind a scan of a storage runs.
enum VKScanControllerType : int {
    VK_SCAN_QUICK = 0,
    VK_SCAN_COMPLETE = 1,
    VK_SCAN_PARTITION = 2,
    VK_SCAN_NONE = 3,
};

class VKUIScan : public VKUIOperation, public IDrirectoryTree {
public:
    static VKUIScan& instance();
    // A scan over `catalogue` (not owned; the process's when null).
    explicit VKUIScan(VKUIDeviceData* catalogue = nullptr);
    ~VKUIScan() override;
    // Null: the process's catalogue.
    void SetCatalogue(VKUIDeviceData* catalogue) { m_catalogue = catalogue; }
    VKUIDeviceData& Catalogue();
    // Where the controllers come from (the engine's CreateRecoveryController
    // by default; tests script their own).
    using ControllerFactory = std::function<IRecoveryController*(_RECOVERY_CONTROLLER_TYPE)>;
    void SetControllerFactory(ControllerFactory make);

    // Bad argument: no storage, no filter, a disk without volumes, or the
    // result files busy with a save or load.
    static constexpr VKRESULT kResultBadArgument = 0x0104003300000001ULL;
    // A volume scan without volume or controller, or stopped before it began.
    static constexpr VKRESULT kResultNotStarted = 0x0104014F00000001ULL;

    // Runs one scan on the calling thread; scans never overlap. `source`
    // replays a saved result instead of reading the device (null: live).
    // Every return leaves the status at idle unless another volume of a
    // whole-disk scan follows.
    VKRESULT DoScan(IStorageDevice* storage, RestoreScanSink* source);
    // The same for a live scan whose caller already holds the result files'
    // busy flag (taken before anything was cleared); it is let go at the end.
    VKRESULT DoScanHoldingResults(IStorageDevice* storage);

    void SaveScanSorage(IStorageDevice* storage);
    IStorageDevice* GetSavedStorage();
    int GetScanControllerType(IStorageDevice* storage);
    void SetDeepScan(int deep);
    // A single volume whose file system was not recognised turns the scan
    // deep by itself.
    int IsDeepScan();
    void ResetRecoveryController(_RECOVERY_CONTROLLER_TYPE type);
    // The controller of the last volume scanned.
    IRecoveryController* GetRecoveryController();
    // Every controller of the last scan, one per volume of a whole disk, in
    // scan order: each holds the trees of its volume.
    std::vector<IRecoveryController*> GetRecoveryControllers();
    // The controller whose scan showed the root (null for an unknown one).
    IRecoveryController* GetRootController(IFileNode* root);
    // Empties everything a scan fills; the roots' data-recovery objects are
    // released, not forgotten.
    void ClearData();

    // Null changes nothing; "" leaves no key.
    void SetSearchKey(const char* text);
    // Null when there is no key.
    const char* GetSearchKey() const;
    // A copy of the key ("" when none), safe from any thread.
    std::string SearchKeyText();
    void SetSearching(int searching);
    int IsSearching();
    // 0 path, 1 file type, 2 creation, 3 modification, 4 access date.
    void SetScanType(int kind);
    int GetScanType();
    void SetEdiRsf(int edi);
    int IsEdiRsf();
    void SetDmgRsf(int dmg);
    int IsDmgRsf();
    int IsOpTreeFinished() override;
    void SetOpTreeFinished(int finished) override;

    // The engine's callbacks, on the scan's thread.
    void UpdateProgress(_PROGRESS_INFO* info) override;
    void ShowFilesystemNode(IFilesystemNode* root) override;
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override;
    // The browser's tree lock: the engine links nodes under it.
    std::mutex* GetTreeLock() override;

    // Copies for the readers.
    std::vector<IFileNode*> GetFileSystemNode();
    // The roots and folders that arrived since the last call.
    std::vector<IFileNode*> VKGetNewPathNode();
    // The roots followed by every folder.
    std::vector<IFileNode*> VKGetAllPathNode();
    VKTypeIndex GetTypeMap();
    VKDateIndex GetCreateTimeMap();
    VKDateIndex GetModifyTimeMap();
    // Always empty: last-access times are not filed.
    VKDateIndex GetAccessTimeMap();

    void RefreshAllData();
    // 1 for a folder, or for a file that was still in the folder set (and
    // is taken out of it).
    int FindRemoveData(IFileNode* node);
    // Shows the files matching the search key (all without one), hides the
    // others; the shown files in `out`, and with `result` what the trees
    // need to file them.
    void DoSearch(std::vector<IFileNode*>& out, VKSearchResult* result = nullptr);
    // The lower-cased text after the last "." of the node's name.
    static std::string GetNodeExt(IFileNode* node);

    void* VKGetFileNode(IFileNode* node);
    void VKSetFileNode(IFileNode* node, void* object);
    void VKResetFileNode();

    uint64_t GetScanFileCnt();
    uint64_t GetScanFileSize();
    // The total size of the files shown.
    void ReCalTotalSize();
    void SetCurrentScanRecoveryCnt(int count);
    int GetCurrentScanRecoveryCnt();
    // The data-recovery object of the node's file-system root (quick scans).
    IDataRecovery* GetFileNodeDataRecover(IFileNode* node);
    void ReleaseDataRecovery();
    void UnselectAllNodes();
    static CCollectedVolumeDeviceInfoStruct* GetStorageVolumeInfo(IStorageDevice* storage);
    // Volumes of a whole-disk scan not yet started.
    int GetVolumesLeft();

private:
    VKRESULT DoScanGated(IStorageDevice* storage, RestoreScanSink* source, bool gateHeld);
    VKRESULT DoVolumeStorageScan(IStorageDevice* volume);
    // A scan that ends before scanning: idle, and the windows told.
    VKRESULT EndEarly(VKRESULT result, const char* why);
    int IsStorageVolumeUnknow(IStorageDevice* storage);
    void ReleaseDataRecoveryLocked();
    void ReleaseControllersLocked();
    // A fresh controller for the next volume of a whole disk, the current
    // one kept with its trees.
    void NextVolumeController(_RECOVERY_CONTROLLER_TYPE type);

    VKUIDeviceData* m_catalogue;
    ControllerFactory m_makeController;
    RestoreScanSink* m_restoreSource = nullptr;
    IStorageDevice* m_storage = nullptr;
    IRecoveryController* m_controller = nullptr;
    // The controllers of the volumes before the current one.
    std::vector<IRecoveryController*> m_earlierControllers;
    int m_deep = 0;
    int m_treeFinished = 1;
    int m_ediRsf = 0;
    int m_dmgRsf = 0;
    std::vector<IFileNode*> m_roots;
    VKDateIndex m_createIndex;
    VKDateIndex m_modifyIndex;
    VKDateIndex m_accessIndex;
    VKTypeIndex m_typeIndex;
    // Beside each file of the type index, its number in arrival order: the
    // date indexes hold files in that order within a month.
    std::map<unsigned, std::vector<uint32_t>> m_typeArrival;
    uint32_t m_arrivals = 0;
    // Dated files filed without a category (no filter).
    uint64_t m_untypedFiles = 0;
    std::map<IFileNode*, void*> m_nodeObjects;
    std::vector<IFileNode*> m_newPathNodes;
    std::vector<IFileNode*> m_folders;
    std::vector<IFileNode*> m_folderSnapshot;
    std::map<IFileNode*, int> m_folderSet;
    std::string m_searchKey;
    bool m_hasSearchKey = false;
    int m_searching = 0;
    int m_viewKind = 0;
    uint64_t m_fileCount = 0;
    uint64_t m_fileSize = 0;
    int m_volumesLeft = 0;
    int m_recoveryCount = 0;
    std::map<IFilesystemNode*, IDataRecovery*> m_rootRecovery;
    std::map<IFileNode*, IRecoveryController*> m_rootController;
    std::mutex m_scanLock;
};
