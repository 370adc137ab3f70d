// The program's bridge behind the seam: each call goes to VKUIController.
// Calls whose bridge side is not built yet answer as an idle bridge with an
// empty device catalogue would; each names the work that builds it.
#pragma once

#include <memory>

#include "BridgeSeam/IBridge.h"

namespace velmora::platform {
class SingleInstance;
}

namespace velmora::seam {

class VKBridge : public IBridge {
public:
    // Whether the device catalogue answers (issue 38); until then the disk
    // list is empty.
    static constexpr bool kDeviceCatalogueBuilt = false;

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
    void DoScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) override;
    void DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) override;
    int IsScanRunning() override;
    void GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) override;
    std::optional<std::string> GetSavePath() override;
    void beginSaveOrRestoreNode(int flag, const std::string& path,
                                const std::optional<std::string>& ediPath) override;

    // Recovery (issue 51).
    void GetSelectedFilesAmout(int* count, uint64_t* size) override;
    int IsRecoveryToSameDevice(const std::string& path) override;
    int64_t DoRecovery(const std::vector<OpNodePtr>* roots, const std::string& path,
                       const std::string& postName) override;
    std::string GetRecoveryProgressTotal(uint64_t* total, uint64_t* current,
                                         int64_t* errorCode) override;
    int IsRecoveryRunning() override;
    void PauseOrResumeRecovery() override;
    void StopRecvoery() override;
    uint64_t GetRecoveridedFiles() override;

private:
    std::string lockPath_;
    std::unique_ptr<platform::SingleInstance> instance_;
};

}  // namespace velmora::seam
