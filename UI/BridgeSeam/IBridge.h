// Every window reaches the operations bridge through this one interface, so
// a window test can put a scripted bridge in its place. The calls keep the
// bridge's own names and meanings; the program's bridge (VKBridge) forwards
// them to VKUIController.
#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"

namespace velmora::seam {

class IBridge {
public:
    virtual ~IBridge() = default;

    // Application.
    // 1 when another copy of the program runs.
    virtual int IsAppRunning() = 0;
    // Loads the table of file categories and their extensions.
    virtual void initFileType() = 0;
    // Frees the data-recovery objects of the scan and the recovery.
    virtual void ReleaseDataRecovery() = 0;

    // Filter: 1 document, 2 picture, 4 movie, 8 music, 16 archive,
    // 32 e-mail, 64 other; 127 all.
    virtual void SetRecoveryType(int mask) = 0;

    // Devices.
    // Posts `name` on the main thread once the device catalogue is ready.
    virtual void NotifiyDeviceInfoAfterInit(const std::string& name) = 0;
    // Appends one row per catalogue disk, its volumes as children. Null
    // does nothing.
    virtual void GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array) = 0;
    // Stops a running scan and loads the catalogue again before returning.
    virtual void RefreshDeviceInfo() = 0;
    // Adds the disk image at `path` to the catalogue: 1 when it is there.
    virtual int VKOpenDmgFile(const std::string& path) = 0;

    // Scan.
    virtual void DoScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) = 0;
    virtual void DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) = 0;
    virtual int IsScanRunning() = 0;
    // Appends the file-system roots of the scan not yet in `roots`.
    virtual void GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) = 0;

    // Saving and loading results.
    // The folder of saved result files, when one is set.
    virtual std::optional<std::string> GetSavePath() = 0;
    // Flag 1 saves the current result to `path`, 0 loads `path` into the
    // scan.
    virtual void beginSaveOrRestoreNode(int flag, const std::string& path,
                                        const std::optional<std::string>& ediPath) = 0;

    // Pictures of the results browser's cover flow and grid (issue 52).
    // The bytes of the node's picture (for a picture file, the file
    // itself), empty when it has none. Called on loader threads; gives up
    // early once `stop` is asked. The program's bridge has none yet.
    virtual std::vector<uint8_t> GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) {
        (void)node;
        (void)stop;
        return {};
    }
    // 1 while the running scan is paused.
    virtual int IsPause() { return 0; }
};

// The bridge the windows use: the program's unless a test set another.
IBridge& Bridge();
// Null puts the program's bridge back.
void SetBridge(IBridge* bridge);

}  // namespace velmora::seam
