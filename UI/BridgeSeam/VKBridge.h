// The program's bridge behind the seam: each call goes to VKUIController.
// Making it installs, once, what the bridge reads the program's scan
// through (the result trees', recovery's and result files' sources) and the
// thumbnailer over Qt. The bridge's notifications reach the
// windows' notification centre: the first call that starts work on another
// thread installs the Qt poster and relays the names the windows observe.
#pragma once

#include <memory>

#include "BridgeSeam/IBridge.h"

namespace velmora::platform {
class SingleInstance;
}

namespace velmora::seam {

class VKBridge : public IBridge {
public:
    // Whether the device catalogue answers; without it the disk list is
    // empty.
    static constexpr bool kDeviceCatalogueBuilt = true;

    // `lockPath`: the single-instance lock (empty: the platform's default).
    explicit VKBridge(std::string lockPath = {});
    ~VKBridge() override;

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
    LoadDamage GetLoadDamage() override;
    void GetSaveorRestoreProgress(uint64_t* total, uint64_t* current, int64_t* errorCode,
                                  int save) override;
    std::string GetSaveFileName() override;
    void SavePathToPList(const std::string& folder) override;
    // Issue 49.
    int GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) override;
    void RefreshTypeTreeState(const OpNodePtr& node) override;
    void UnselectedAllNodes() override;
    QImage GetNSImageByNode(const OpNodePtr& node) override;
    std::vector<uint8_t> GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) override;
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
    // The results browser's search hits.
    void GetSearchResultToArr(std::vector<IFileNode*>* list) override;

private:
    // Installs the Qt poster once and relays `name` from the bridge's
    // notification centre to the windows' (once per name).
    void Relay(const std::string& name);

    std::string lockPath_;
    std::unique_ptr<platform::SingleInstance> instance_;
};

}  // namespace velmora::seam
