// The one door from the windows to the engine: class-wide calls only, made
// on the main thread, returning at once. Each area of the bridge defines its
// calls in a source of its own (VKUIController<Area>.cpp) beside the
// operation objects it drives; this header lists them all.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"

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
// trees and posts "NormalScranValue" (at once when forced, else at most
// once in two seconds; never more than one waiting on the main thread).
void VKNotifyUIUpdateData(int force);

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

    // Trees of the browser.
    // 0 when `arrays` is null.
    static int VKSetTreeNodeData(const VKTreeArrays* arrays);
    // Empties the four arrays and the wrappers of the scan's nodes.
    static void VKResetTreeNodeData();
    // Files what arrived into the type and date trees.
    static int VKGetTreeNodeData(int force);
    static void VKSetFlag(int flag);
    // Appends the file-system roots not yet in `roots`; with `clearState`
    // every root is shown and unticked first.
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
};
