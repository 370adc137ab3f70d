// The one door from the windows to the engine: class-wide calls only, made
// on the main thread, returning at once. Each area of the bridge defines its
// calls in a source of its own (VKUIController<Area>.cpp) beside the
// operation objects it drives; this header lists them all.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"
#include "OutputDestination.h"
#include "VKUIThumbnail.h"

class IFileNode;

class VKUIDeviceData;

class VKUIOperation;

// The browser's four tree arrays (path, file type, creation date,
// modification date), owned by the browser and registered once.
struct VKTreeArrays {
    std::vector<OpNodePtr>* path = nullptr;
    std::vector<OpNodePtr>* type = nullptr;
    std::vector<OpNodePtr>* createTime = nullptr;
    std::vector<OpNodePtr>* modifyTime = nullptr;
};

// Called by the scan as progress or nodes arrive: rebuilds the browser's
// trees (VKUITreeData) and posts "NormalScranValue" (at once when forced, else at most
// once in two seconds; never more than one waiting on the main thread).
void VKNotifyUIUpdateData(int force);
// Tells the windows the scan moved on (a progress record) without rebuilding
// the trees: one post at most every two seconds, shared with the timed
// refreshes, so a long stretch without any file found still shows its
// progress.
void VKNotifyScanProgress();

class VKUIController {
public:
    VKUIController() = delete;

    // Filter (VKUIControllerFilter.cpp).
    // The file categories of the next scan: 1 document, 2 picture, 4 movie,
    // 8 music, 16 archive, 32 e-mail, 64 other; 127 all.
    static void SetRecoveryType(int mask);

    // Application (VKUIControllerApp.cpp).
    // 1 when another copy of the program runs.
    static int IsAppRunning();
    // Ends the process with status 0: the event relay stops and the end of
    // use is reported first. Never returns.
    [[noreturn]] static void CloseApp();
    // What CloseApp reports the end of use to (none until the program sets
    // it; null removes it).
    static void SetUsageEndHook(std::function<void()> hook);

    // Devices (VKUIControllerDevices.cpp).
    // Appends one row per catalogue disk (physical disks, then opened edi
    // images, then opened disk images), each with its volumes as sub-rows;
    // a disk without volumes gets none. Null does nothing.
    static void GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array);
    // The same from another catalogue.
    static void AppendDeviceRows(VKUIDeviceData& catalogue, std::vector<DiskVolumeNodePtr>& rows);
    // Checks a disk-image file (raw or UDIF; encrypted and compressed images
    // are refused) and adds it to the catalogue: 1 when it is there.
    static int VKOpenDmgFile(const std::string& path);
    // Opens an edi image as a disk of the catalogue: 1 when it is there.
    static int VKOpenEdiFile(const std::string& path);

    // Scan (VKUIControllerScan.cpp). Every call returns at once; the scan
    // runs on a worker thread of its own and reports "NormalScranValue".
    // A request while a scan runs is ignored; a volume of -1 is the whole
    // disk.
    static void DoScanWithDiskIndex(int disk, int volume);
    static void DoScanWithData(const DiskVolumeNodePtr& row);
    static void DoDeepScanWithData(const DiskVolumeNodePtr& row);
    static void isEdiDoDeepScanWithData(const DiskVolumeNodePtr& row);
    // The storage of the last scan again, as a deep scan.
    static void DoDeepScan();
    // flag 1: stop without building trees of what a deep scan found.
    static void StopScan(int flag);
    static void PauseOrResumeScan();
    static void ResetShouldBuild();
    static int IsScanRunning();
    static int IsPause();
    static int IsDeepScan();
    // Percent done and files found; the remaining time as "HH:MM:SS", or
    // "-:-:-" when it cannot be told yet or is over 100 hours.
    static std::string GetScanProgress(double* percent, unsigned long long* count);
    // The remaining-time text of a scan `elapsed` seconds in.
    static std::string RemainingTimeText(int64_t total, int64_t done, long elapsed,
                                         double* percent);
    static void GetScanFileSize(unsigned long long* size, unsigned long long* count);
    // 0 path, 1 file type, 2 creation, 3 modification, 4 access date.
    static void SetViewType(int kind);
    static void RefreshData();
    // Waits for the scan's worker thread to end (shutdown and tests).
    static void WaitForScanThread();
    // The catalogue the scans look their devices up in (the process's by
    // default; tests give their own; null puts the default back).
    static void UseCatalogue(VKUIDeviceData* catalogue);

    // Runs `worker` on a thread with a 2 MiB stack; with `withPoller` a
    // status poller first, posting `name` as `operation` asks for updates.
    static void DoOperation(VKUIOperation* operation, const std::string& name,
                            std::function<void()> worker, int withPoller);
    // The status poller's body: returns when the operation has exited.
    static void QueryStatusAndUpdateUI(VKUIOperation* operation, const std::string& name);

    // Trees of the browser: the program's result trees (VKUITreeData),
    // grown on the browser's own four arrays once it has handed them over.
    // 0 when `arrays` is null.
    static int VKSetTreeNodeData(const VKTreeArrays* arrays);
    // Held while the interface reads the browser's trees: the scan files
    // nodes into them only under it (the trees' lock).
    static std::mutex& TreeDataLock();
    // Empties the four arrays, the waiting folders and the wrappers of the
    // scan's nodes; the next timed refresh posts at once.
    static void VKResetTreeNodeData();
    // A scan refresh: files what arrived into the type and date trees, then
    // wraps new folders into the path tree; force 1 retries waiting folders
    // up to 100 times, 2 takes every folder again.
    static int VKGetTreeNodeData(int force);
    // Stored for the windows; nothing reads it.
    static void VKSetFlag(int flag);
    // Appends the file-system roots not yet wrapped to `roots` (path view)
    // and fills the tree of the shown kind; with `clearState` every root is
    // shown and unticked first. 0 for null.
    static int GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState);

    // Catalogue start-up: posts `name` once the catalogue is ready, building
    // it on a background thread first when it was never built.
    static void NotifiyDeviceInfoAfterInit(const std::string& name);
    static void InitDeviceInfoInBgThread();
    // Stops the scan and builds the catalogue again; blocks until the scan
    // has let go of its device. Never call it on the main thread.
    static void RefreshDeviceInfo();
    // Hands the engine the extension lists of the six categories.
    static void initFileType();

    // Settings of a folder: ".Velmorafiles/config.plist" below it. Its
    // boolean values by key; empty when the file is missing or unreadable.
    static std::map<std::string, bool> WQGetConfigDictionary(const std::string& folder);
    static int WQGetCompleteProtect(const std::string& folder);  // "WQKeyCompleteProtect"
    static int WQGetQuickProtect(const std::string& folder);     // "WQKeyQuickProtect"

    // Search and the browser's node questions (VKUIControllerTrees.cpp,
    // over VKUITreeData::instance()).
    // 0 while a search runs (until StopSearch); else starts it on a thread
    // of its own, which posts `postKey` and then "DoSearchFinished".
    static int DoSearchWithString(const std::string& text, const std::string& postKey);
    static std::string GetSearchString();
    static void StopSearch();
    static int VKGetIsSearching();
    static void GetSearchResultToArr(std::vector<IFileNode*>& list);
    static int VKCleanState();
    static int VKCleanOpNodeSate();
    static void UnselectedAllNodes();
    static void VKTableViewCellCilck();
    // Ticks a node of the trees (under the trees' lock).
    static void SetNodeState(OpNodeData* node, int state);
    // The node's files or groups in its tree: 1 when any (see VKUITreeData).
    static int GetFileNodeToArray(std::vector<OpChild>& list, OpNodeData* node);
    static uint64_t GetNodeChildrenCnt(OpNodeData* node);
    static void RefreshTimeTreeState(const std::vector<OpNodePtr>& roots, int onlyWhenMarked);
    static void RefreshTypeTreeState(OpNodeData* node);

    // Recovery (VKUIControllerRecovery.cpp).
    // The result of a recovery that could not start.
    static constexpr long long kRecoveryStartFailed = 0x0102052400000001LL;
    // The shown, fully ticked files of the result in file-type order; their
    // bytes are added to *size.
    static std::vector<IFileNode*> GetSelectedFilesAndSize(unsigned long long* size);
    // Counts and sums the ticked files and hands both totals to the
    // recovery.
    static void GetSelectedFilesAmoutAndSize(int* count, unsigned long long* size);
    // 1 when the folder lies on the scanned device.
    static int IsRecoveryToSameDevice(const std::string& folder);
    // How `folder` stands as a place for the user's files: checked as the
    // invoking user and against the scanned device and every device stacked
    // on it (the check the recovery itself makes before it starts).
    static velmora::bridge::OutputProblem CheckOutputFolder(const std::string& folder);
    // Starts recovering the ticked files into `folder` on a worker thread;
    // `name` is posted to the main thread while it runs and at least once.
    // 0 when started; kRecoveryStartFailed without roots or folder, while a
    // recovery runs, or when the folder lies on the scanned device.
    static long long DoRecovery(const std::vector<OpNodePtr>* roots, const char* folder,
                                const std::string& name);
    // Bytes in all, bytes done and the result code of the recovery; the name
    // of the file being recovered, "" when none.
    static std::string GetRecoveryProgressTotal(unsigned long long* total,
                                                unsigned long long* current, long long* code);
    // 1 while running or paused.
    static int IsRecoveryRunning();
    static void StopRecvoery();
    static void PauseOrResumeRecovery();
    static unsigned long long GetRecoveridedSize();
    static unsigned long long GetRecoveridedFiles();
    // Ticked files the last recovery did not write (a name refused below
    // the destination, no reader, a copy that failed).
    static unsigned long long GetRecoveryRefusedFiles();
    // The file in the destination that lists them; "" when none was written.
    static std::string GetRecoveryRefusedListPath();
    static int GetCurrentScanRecoveryCnt();
    // Releases the data-recovery objects of the scan, then the recovery's.
    static void ReleaseDataRecovery();

    // Saving and loading results (VKUIControllerSaveLoad.cpp).
    // Sets the watched operation running (the save's when `save` is not 0,
    // else the scan's) and polls it on a thread of its own: `name` is
    // posted to the main thread on each update, "QueryProgressFinish" at its
    // end.
    static void RestorPostUIUpdate(const std::string& name, int save);
    // Starts saving the current result to `path` (save not 0), or loading
    // the result file at `path`, with the edi image at `ediPath` (may be
    // null), on a detached thread.
    static void beginSaveOrRestoreNode(int save, const std::string& path, const char* ediPath);
    // Total, done and result code of the save (saver not 0) or of the load;
    // a finished one reports done equal to total.
    static void GetSaveorRestoreProgress(unsigned long long* total, unsigned long long* current,
                                         long long* code, int saver);
    // What the last load left out: damaged records, nodes kept, whether its
    // node frame ended early and whether its frames failed their checks.
    static void GetLoadDamage(long long* recordsDropped, long long* nodesKept, int* cutShort,
                              int* checkFailed);
    // Polls the save on the calling thread, posting "QueryProgressInfo" on
    // each update, until it ends.
    static void QuerySaveOrRestoreProgress();
    // The folder result files were last saved to ("SavePath"; "" when none).
    static void SavePathToPList(const std::string& folder);
    static std::string GetSavePath();
    // "SaveScan" beside the program, made when missing.
    static std::string GetDefaultSavePath();
    // "<device>_MM-DD-YYYY at HH:MM:SS" for the current scan's storage.
    static std::string GetSaveFileName();
    // "<name>_MM-DD-YYYY at HH_MM_SS".
    static std::string GetSaveDmgFileName(const std::string& name);

    // Thumbnails and previews (VKUIThumbnail.cpp).
    // The image the browser shows for a found file: a decoded picture, a
    // movie or raw thumbnail, else the icon of its extension. Empty for no
    // node, no filter, or a movie without extension.
    static velmora::bridge::ThumbnailImage GetImageByFileNode(IFileNode* node);
    static velmora::bridge::ThumbnailImage GetImageByNode(const OpNodeData& node);
    static velmora::bridge::ThumbnailImage getVideoThumbFromPath(const std::string& path);
    static velmora::bridge::ThumbnailImage GetRawPicThumb(IFileNode* node);
    static velmora::bridge::ThumbnailImage GetVideoThumb(IFileNode* node);
};
