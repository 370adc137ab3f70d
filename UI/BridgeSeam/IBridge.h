// Every window reaches the operations bridge through this one interface, so
// a window test can put a scripted bridge in its place. The calls keep the
// bridge's own names and meanings; the program's bridge (VKBridge) forwards
// them to VKUIController.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"
#include "OutputDestination.h"

class QImage;

namespace velmora::seam {

// The results browser's four root arrays, by tree kind: path, file type,
// creation date, modification date. The browser owns them for its whole
// life; the bridge adds roots to them as a scan or a load proceeds.
struct TreeNodeArrays {
    std::vector<OpNodePtr>* path = nullptr;
    std::vector<OpNodePtr>* type = nullptr;
    std::vector<OpNodePtr>* createTime = nullptr;
    std::vector<OpNodePtr>* modifyTime = nullptr;
};

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
    // Adds the program's own "edi" image at `path`: 1 when it is there.
    virtual int VKOpenEdiFile(const std::string& path) = 0;

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

    // The results browser's window, bars and trees (issue 48).
    // Takes the browser's root arrays: 0 for null, else 1.
    virtual int VKSetTreeNodeData(const TreeNodeArrays* arrays) = 0;
    // Held while the interface reads the result trees: the scan adds nodes
    // to them only under this lock.
    virtual std::unique_lock<std::mutex> LockTreeData() = 0;
    // Images are always scanned deep, through this call.
    virtual void ResetShouldBuild() = 0;
    virtual void isEdiDoDeepScanWithData(const DiskVolumeNodePtr& row,
                                         const std::string& postName) = 0;
    virtual int IsDeepScan() = 0;
    virtual int IsPause() = 0;
    virtual void PauseOrResumeScan() = 0;
    // Flag 1: stop without building the trees; 0: build them from what was
    // found.
    virtual void StopScan(int flag) = 0;
    // Total size and number of files found.
    virtual void GetScanFileSize(uint64_t* bytes, int64_t* count) = 0;
    // Posts `postName` while a load adds nodes (flag 0: the scan operation).
    virtual void RestorPostUIUpdate(const std::string& postName, int flag) = 0;
    // Number of files below a node (the counts of the type and date trees).
    virtual uint64_t GetNodeChildrenCnt(const OpNodeData& node) = 0;
    // The type and date trees need a recount of their tick marks.
    virtual void VKTableViewCellCilck() = 0;
    // The tree kind the browser shows.
    virtual void SetViewType(int kind) = 0;
    virtual void RefreshTypeTreeState(OpNodeData* node) = 0;
    virtual void RefreshTimeTreeState(std::vector<OpNodePtr>* roots, int changeTable) = 0;

    // Issue 50: scan control, search and saving in the results browser.
    // Percentage done and files found; answers the remaining time
    // ("%02d:%02d:%02d", or "-:-:-" while it cannot be told).
    virtual std::string GetScanProgress(double* percent, int64_t* fileCount) = 0;
    // 1 holds back adding scan data to the trees, 0 lets it go on.
    virtual void VKSetFlag(int flag) = 0;
    // Repeats the last scan's device as a deep scan.
    virtual void DoDeepScan(const std::string& postKey) = 0;
    // Unticks every node of the result trees.
    virtual int VKCleanOpNodeSate() = 0;
    // 0 while a search runs; else starts one for `text` and answers 1.
    virtual int DoSearchWithString(const std::string& text, const std::string& postKey) = 0;
    virtual std::string GetSearchString() = 0;
    virtual void StopSearch() = 0;
    virtual int VKGetIsSearching() = 0;
    // 1 when `path` lies on the scanned device.
    virtual int IsRecoveryToSameDevice(const std::string& path) = 0;
    // How the folder `path` stands as a place for the user's files (checked
    // as the invoking user, and against the scanned device and the devices
    // stacked on it); kNone when it may be used.
    virtual bridge::OutputProblem CheckOutputFolder(const std::string& path) = 0;
    virtual void GetSaveorRestoreProgress(uint64_t* total, uint64_t* current, int64_t* errorCode,
                                          int save) = 0;
    // What the last load of a result file left out (it ended with the
    // damaged code).
    struct LoadDamage {
        int64_t recordsDropped = 0;  // damaged records left out
        int64_t nodesKept = 0;       // files and folders loaded
        bool cutShort = false;       // read only up to the damage
        bool checkFailed = false;    // the frames fail their checks: nothing loaded
    };
    virtual LoadDamage GetLoadDamage() = 0;
    // The proposed name of a result file.
    virtual std::string GetSaveFileName() = 0;
    // Remembers the folder of saved result files.
    virtual void SavePathToPList(const std::string& folder) = 0;
    // Appends the children of `node` in the tree of its kind (path, file
    // type or date); 0 for a node of another kind.
    virtual int GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) = 0;
    // The type tree takes over `node`'s state; null recounts the whole tree.
    virtual void RefreshTypeTreeState(const OpNodePtr& node) = 0;
    // Unticks every result node.
    virtual void UnselectedAllNodes() = 0;
    // Appends the files the last search found (the browser lists them when
    // a search ends).
    virtual void GetSearchResultToArr(std::vector<IFileNode*>* list) = 0;
    // The picture of a file, a frame of a movie, or the icon of its kind;
    // null when there is no node. May read the scanned device.
    virtual QImage GetNSImageByNode(const OpNodePtr& node) = 0;
    // Recovery of the ticked files (issue 51).
    // Number and total size of the ticked files shown in the trees.
    virtual void GetSelectedFilesAmout(int* count, uint64_t* size) = 0;
    // Recovers the ticked nodes below `roots` into the folder `path` and
    // posts `postName` on the main thread as it goes. 0 when started; a
    // failure code (0x0100000000000000 or above) when nothing started:
    // `roots` null, a recovery still running, or the folder on the scanned
    // device.
    virtual int64_t DoRecovery(const std::vector<OpNodePtr>* roots, const std::string& path,
                               const std::string& postName) = 0;
    // Progress of the recovery; an error code above 0 means the destination
    // is full (and the recovery paused). Answers the file being written.
    virtual std::string GetRecoveryProgressTotal(uint64_t* total, uint64_t* current,
                                                 int64_t* errorCode) = 0;
    virtual int IsRecoveryRunning() = 0;
    virtual void PauseOrResumeRecovery() = 0;
    virtual void StopRecvoery() = 0;
    // Files written so far (whole, or as much as could be read).
    virtual uint64_t GetRecoveridedFiles() = 0;
    // Ticked files the last recovery did not write: a name it could not
    // place below the folder, nothing that could read them, or a folder that
    // refused them. A stop by the user is not a refusal.
    virtual uint64_t GetRecoveryRefusedFiles() = 0;
    // The file in the folder that lists them when the recovery has ended;
    // "" when there is none.
    virtual std::string GetRecoveryRefusedListPath() = 0;
    // Pictures of the results browser's cover flow and grid (issue 52).
    // The bytes of the node's picture (for a picture file, the file
    // itself), empty when it has none. Called on loader threads; gives up
    // early once `stop` is asked. The program's bridge has none yet.
    virtual std::vector<uint8_t> GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) {
        (void)node;
        (void)stop;
        return {};
    }
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
