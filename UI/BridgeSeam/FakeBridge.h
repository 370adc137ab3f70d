// A bridge for window tests: it answers from what the test put in it (a
// device catalogue, a save folder, a small result tree of real OpNodeData
// nodes) and records every call, so a test can check what a window asked
// for and in which order.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>

#include <QImage>

#include "BridgeSeam/IBridge.h"

namespace velmora::seam {

class FakeBridge : public IBridge {
public:
    FakeBridge();
    ~FakeBridge() override;

    // Rows of a catalogue: a disk with its volumes, a volume.
    static DiskVolumeNodePtr Disk(const std::string& name, int64_t capacity,
                                  std::vector<DiskVolumeNodePtr> volumes, int isSSD = 0);
    static DiskVolumeNodePtr Volume(const std::string& name, int64_t capacity, int fileSystem,
                                    bool canOpen = true);

    // What the fake answers.
    int appRunning = 0;
    std::vector<DiskVolumeNodePtr> devices;
    std::optional<std::string> savePath;
    // Result roots the scan hands out (file-system root group nodes).
    std::vector<OpNodePtr> scanRoots;
    // NotifiyDeviceInfoAfterInit posts at once unless held; a held post is
    // delivered by ReleaseDeviceInfo.
    bool holdDeviceInfo = false;
    // Runs in RefreshDeviceInfo (a test changes `devices` there).
    std::function<void()> onRefresh;
    // What VKOpenDmgFile answers.
    int openDmgResult = 1;
    // What VKOpenEdiFile answers.
    int openEdiResult = 1;

    // The recovery: what is ticked, whether a folder lies on the scanned
    // device (by path), what DoRecovery answers, and the progress record
    // the next GetRecoveryProgressTotal hands out. recoveryStatus is 0 idle,
    // 2 running, 3 paused, 4 ended; DoRecovery sets 2 when it starts.
    int selectedCount = 0;
    uint64_t selectedSize = 0;
    std::vector<std::string> sameDevicePaths;
    // What CheckOutputFolder answers for a folder; one not named here is
    // kOnScannedDevice when IsRecoveryToSameDevice says so, else kNone.
    std::map<std::string, bridge::OutputProblem> folderProblems;
    int64_t doRecoveryResult = 0;
    int recoveryStatus = 0;
    uint64_t recoveryTotal = 0, recoveryCurrent = 0;
    int64_t recoveryError = 0;
    std::string recoveryFileName;
    uint64_t recoveredFiles = 0, refusedFiles = 0;
    std::string refusedList;
    // The root array the last DoRecovery was given.
    const std::vector<OpNodePtr>* recoveryRoots = nullptr;

    // Every call, in order, as "Name" or "Name:argument".
    std::vector<std::string> calls;
    std::vector<int> recoveryTypes;

    // What the scan found (GetScanFileSize).
    uint64_t foundBytes = 0;
    int64_t foundCount = 0;
    // The browser's root arrays, once handed over.
    TreeNodeArrays treeArrays;

    // The scan's status: 0 idle, 1 stop asked, 2 running, 3 paused, 4 ended.
    int ScanStatus() const { return scanStatus_; }
    void SetScanStatus(int status) { scanStatus_ = status; }
    // Pictures GetNSImageByNode answers, by engine node (none: a null one).
    std::map<const IFileNode*, QImage> previews;
    // Runs inside GetNSImageByNode(node) before it answers, on the thread
    // that asked (a worker for the quick preview).
    std::function<void()> onPreviewRead;

    void ReleaseDeviceInfo();
    // The calls whose name is `name`.
    int CountOf(const std::string& name) const;

    int IsAppRunning() override;
    void initFileType() override;
    void ReleaseDataRecovery() override;
    void SetRecoveryType(int mask) override;
    void NotifiyDeviceInfoAfterInit(const std::string& name) override;
    void GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array) override;
    void RefreshDeviceInfo() override;
    int VKOpenDmgFile(const std::string& path) override;
    int VKOpenEdiFile(const std::string& path) override;
    void DoScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) override;
    void DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) override;
    int IsScanRunning() override;
    void GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) override;
    std::optional<std::string> GetSavePath() override;
    void beginSaveOrRestoreNode(int flag, const std::string& path,
                                const std::optional<std::string>& ediPath) override;

    int VKSetTreeNodeData(const TreeNodeArrays* arrays) override;
    std::unique_lock<std::mutex> LockTreeData() override;
    void ResetShouldBuild() override;
    void isEdiDoDeepScanWithData(const DiskVolumeNodePtr& row,
                                 const std::string& postName) override;
    int IsDeepScan() override;
    int IsPause() override;
    void PauseOrResumeScan() override;
    void StopScan(int flag) override;
    void GetScanFileSize(uint64_t* bytes, int64_t* count) override;
    void RestorPostUIUpdate(const std::string& postName, int flag) override;
    uint64_t GetNodeChildrenCnt(const OpNodeData& node) override;
    void VKTableViewCellCilck() override;
    void SetViewType(int kind) override;
    void RefreshTypeTreeState(OpNodeData* node) override;
    void RefreshTimeTreeState(std::vector<OpNodePtr>* roots, int changeTable) override;

    // Scan control, search and saving.
    int scanStatus() const { return scanStatus_; }
    void setScanStatus(int status) { scanStatus_ = status; }
    double scanPercent = 0;
    int64_t scanFiles = 0;
    std::string remainingTime = "-:-:-";
    int deepScan = 0;
    // Whether the last StopScan kept the trees.
    bool buildTrees = true;
    std::string searchKey;
    int searching = 0;
    int sameDevice = 0;
    uint64_t saveTotal = 0, saveCurrent = 0;
    int64_t saveError = 0;
    LoadDamage loadDamage;
    std::string saveFileName = "disk_01-02-2026 at 03:04:05";
    std::optional<std::string> storedSavePath;

    std::string GetScanProgress(double* percent, int64_t* fileCount) override;
    void VKSetFlag(int flag) override;
    void DoDeepScan(const std::string& postKey) override;
    int VKCleanOpNodeSate() override;
    int DoSearchWithString(const std::string& text, const std::string& postKey) override;
    std::string GetSearchString() override;
    void StopSearch() override;
    int VKGetIsSearching() override;
    int IsRecoveryToSameDevice(const std::string& path) override;
    bridge::OutputProblem CheckOutputFolder(const std::string& path) override;
    void GetSaveorRestoreProgress(uint64_t* total, uint64_t* current, int64_t* errorCode,
                                  int save) override;
    LoadDamage GetLoadDamage() override { return loadDamage; }
    std::string GetSaveFileName() override;
    void SavePathToPList(const std::string& folder) override;
    // Issue 49.
    int GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) override;
    void RefreshTypeTreeState(const OpNodePtr& node) override;
    void UnselectedAllNodes() override;
    // The files GetSearchResultToArr hands out.
    std::vector<IFileNode*> searchHits;
    void GetSearchResultToArr(std::vector<IFileNode*>* list) override;
    QImage GetNSImageByNode(const OpNodePtr& node) override;
    // Recovery (issue 51).
    void GetSelectedFilesAmout(int* count, uint64_t* size) override;
    int64_t DoRecovery(const std::vector<OpNodePtr>* roots, const std::string& path,
                       const std::string& postName) override;
    std::string GetRecoveryProgressTotal(uint64_t* total, uint64_t* current,
                                         int64_t* errorCode) override;
    int IsRecoveryRunning() override;
    void PauseOrResumeRecovery() override;
    void StopRecvoery() override;
    uint64_t GetRecoveridedFiles() override;
    uint64_t GetRecoveryRefusedFiles() override;
    std::string GetRecoveryRefusedListPath() override;
    // Pictures of the results browser (issue 52). Node names and the
    // picture files the fake reads for them; each read first waits
    // `pictureDelay` (a slow device), giving up when asked to stop. Safe
    // from loader threads while the test leaves these fields alone.
    std::map<std::string, std::string> pictureFiles;
    std::chrono::milliseconds pictureDelay{0};
    std::atomic<int> pictureReads{0};
    // Reads that gave up because they were asked to stop.
    std::atomic<int> pictureReadsGivenUp{0};
    int paused = 0;
    std::vector<uint8_t> GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) override;

private:
    std::vector<std::string> heldNames_;
    int scanStatus_ = 0;
    std::mutex treeLock_;
};

}  // namespace velmora::seam
