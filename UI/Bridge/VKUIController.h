// The one door from the windows to the engine: class-wide calls only, made
// on the main thread, returning at once. Each area of the bridge defines its
// calls in a source of its own (VKUIController<Area>.cpp) beside the
// operation objects it drives; this header lists them all.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"

class VKUIDeviceData;
struct TreeArrays;

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

    // Settings of a folder: ".Velmorafiles/config.plist" below it. Its
    // boolean values by key; empty when the file is missing or unreadable.
    static std::map<std::string, bool> WQGetConfigDictionary(const std::string& folder);
    static int WQGetCompleteProtect(const std::string& folder);  // "WQKeyCompleteProtect"
    static int WQGetQuickProtect(const std::string& folder);     // "WQKeyQuickProtect"

    // Result trees, search and the browser's node questions
    // (VKUIControllerTrees.cpp, over VKUITreeData::instance()).
    // The browser's four trees (path, type, creation, modification) belong
    // to the bridge; Lock the trees (VKUITreeData) while walking them.
    static TreeArrays& VKGetTreeArrays();
    static void VKResetTreeNodeData();
    // A scan refresh; force 1 retries waiting folders up to 100 times, 2
    // takes every folder again.
    static int VKGetTreeNodeData(int force);
    static int GetScanTreeNodeData(int clearNodeState);
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
};
