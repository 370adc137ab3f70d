// A bridge for window tests: it answers from what the test put in it (a
// device catalogue, a save folder, a small result tree of real OpNodeData
// nodes) and records every call, so a test can check what a window asked
// for and in which order.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>

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

    // Every call, in order, as "Name" or "Name:argument".
    std::vector<std::string> calls;
    std::vector<int> recoveryTypes;

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
    void DoScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) override;
    void DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) override;
    int IsScanRunning() override;
    void GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) override;
    std::optional<std::string> GetSavePath() override;
    void beginSaveOrRestoreNode(int flag, const std::string& path,
                                const std::optional<std::string>& ediPath) override;

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
    int IsPause() override;

private:
    std::vector<std::string> heldNames_;
    int scanStatus_ = 0;
};

}  // namespace velmora::seam
