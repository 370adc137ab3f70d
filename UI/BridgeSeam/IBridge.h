// Every window reaches the operations bridge through this one interface, so
// a window test can put a scripted bridge in its place. The calls keep the
// bridge's own names and meanings; the program's bridge (VKBridge) forwards
// them to VKUIController.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"

class QImage;

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

    // Issue 49: the results browser's file list and quick preview.
    // 1 while the scan is paused.
    virtual int IsPause() = 0;
    // 1 when the current or last scan is a deep scan.
    virtual int IsDeepScan() = 0;
    // Appends the children of `node` in the tree of its kind (path, file
    // type or date); 0 for a node of another kind.
    virtual int GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) = 0;
    // A tick changed in the list: the type and date trees recount later.
    virtual void VKTableViewCellCilck() = 0;
    // The type tree takes over `node`'s state; null recounts the whole tree.
    virtual void RefreshTypeTreeState(const OpNodePtr& node) = 0;
    // Recounts the month nodes of a date tree's roots (see the bridge).
    virtual void RefreshTimeTreeState(std::vector<OpNodePtr>* roots, int changeTable) = 0;
    // Unticks every result node.
    virtual void UnselectedAllNodes() = 0;
    // The picture of a file, a frame of a movie, or the icon of its kind;
    // null when there is no node. May read the scanned device.
    virtual QImage GetNSImageByNode(const OpNodePtr& node) = 0;
};

// Issue 49: the children of a path-tree node: its engine node's, or the
// interface node's own when it wraps no engine node. 0 for a node of
// another tree (or none).
int AppendPathChildren(std::vector<IFileNode*>* array, const OpNodeData* node);

// The bridge the windows use: the program's unless a test set another.
IBridge& Bridge();
// Null puts the program's bridge back.
void SetBridge(IBridge* bridge);

}  // namespace velmora::seam
