#include "BridgeSeam/FakeBridge.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>

#include <QVariant>

#include "UIPlatform/NotificationCenter.h"

namespace velmora::seam {

FakeBridge::FakeBridge() = default;

FakeBridge::~FakeBridge() = default;

DiskVolumeNodePtr FakeBridge::Disk(const std::string& name, int64_t capacity,
                                   std::vector<DiskVolumeNodePtr> volumes, int isSSD) {
    _DiskVolumeData data;
    data.name = name.c_str();
    data.bsdName = name.c_str();
    data.capacity = capacity;
    data.isSSD = isSSD;
    auto disk = std::make_shared<DiskVolumeNodeData>(data);
    for (const DiskVolumeNodePtr& volume : volumes)
        volume->setParentName(name);
    disk->setSubNode(std::move(volumes));
    return disk;
}

DiskVolumeNodePtr FakeBridge::Volume(const std::string& name, int64_t capacity, int fileSystem,
                                     bool canOpen) {
    _DiskVolumeData data;
    data.name = name.c_str();
    data.bsdName = name.c_str();
    data.capacity = capacity;
    data.fileSystem = fileSystem;
    data.volumeIndex = 0;
    data.permitted = canOpen ? 1 : 0;
    return std::make_shared<DiskVolumeNodeData>(data);
}

void FakeBridge::ReleaseDeviceInfo() {
    std::vector<std::string> names;
    names.swap(heldNames_);
    for (const std::string& name : names) {
        ui::NotificationCenter::defaultCenter().post(QString::fromStdString(name),
                                                     QStringLiteral("VKUIPublic"));
    }
}

int FakeBridge::CountOf(const std::string& name) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c == name || c.rfind(name + ":", 0) == 0;
    }));
}

int FakeBridge::IsAppRunning() {
    calls.push_back("IsAppRunning");
    return appRunning;
}

void FakeBridge::initFileType() {
    calls.push_back("initFileType");
}

void FakeBridge::ReleaseDataRecovery() {
    calls.push_back("ReleaseDataRecovery");
}

void FakeBridge::SetRecoveryType(int mask) {
    calls.push_back("SetRecoveryType:" + std::to_string(mask));
    recoveryTypes.push_back(mask);
}

// The bridge posts on the main thread, later: so does the fake, through the
// centre's queue, unless the test holds the catalogue back.
void FakeBridge::NotifiyDeviceInfoAfterInit(const std::string& name) {
    calls.push_back("NotifiyDeviceInfoAfterInit:" + name);
    if (holdDeviceInfo) {
        heldNames_.push_back(name);
        return;
    }
    ui::NotificationCenter::defaultCenter().postOnMainThread(QString::fromStdString(name),
                                                             QStringLiteral("VKUIPublic"));
}

void FakeBridge::GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array) {
    calls.push_back("GetDeviceInfoToArray");
    if (array == nullptr)
        return;
    array->insert(array->end(), devices.begin(), devices.end());
}

void FakeBridge::RefreshDeviceInfo() {
    calls.push_back("RefreshDeviceInfo");
    if (onRefresh)
        onRefresh();
}

int FakeBridge::VKOpenDmgFile(const std::string& path) {
    calls.push_back("VKOpenDmgFile:" + path);
    return openDmgResult;
}

int FakeBridge::VKOpenEdiFile(const std::string& path) {
    calls.push_back("VKOpenEdiFile:" + path);
    return openEdiResult;
}

void FakeBridge::DoScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) {
    calls.push_back("DoScanWithData:" + (row ? row->name() : std::string("nil")));
    (void)postName;
    if (row) {
        scanStatus_ = 2;
        deepScan = 0;
    }
}

void FakeBridge::DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) {
    calls.push_back("DoDeepScanWithData:" + (row ? row->name() : std::string("nil")));
    (void)postName;
    if (row) {
        scanStatus_ = 2;
        deepScan = 1;
    }
}

int FakeBridge::IsScanRunning() {
    calls.push_back("IsScanRunning");
    return scanStatus_ >= 1 && scanStatus_ <= 3 ? 1 : 0;
}

void FakeBridge::GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) {
    calls.push_back("GetScanTreeNodeData");
    if (roots == nullptr)
        return;
    for (const OpNodePtr& root : scanRoots) {
        if (clearState)
            root->setNodeState(0);
        if (std::find(roots->begin(), roots->end(), root) == roots->end())
            roots->push_back(root);
    }
}

std::optional<std::string> FakeBridge::GetSavePath() {
    calls.push_back("GetSavePath");
    return savePath;
}

void FakeBridge::beginSaveOrRestoreNode(int flag, const std::string& path,
                                        const std::optional<std::string>& ediPath) {
    calls.push_back("beginSaveOrRestoreNode:" + std::to_string(flag) + ":" + path +
                    (ediPath ? ":" + *ediPath : std::string()));
}

int FakeBridge::VKSetTreeNodeData(const TreeNodeArrays* arrays) {
    calls.push_back("VKSetTreeNodeData");
    if (arrays == nullptr)
        return 0;
    treeArrays = *arrays;
    return 1;
}

std::unique_lock<std::mutex> FakeBridge::LockTreeData() {
    return std::unique_lock<std::mutex>(treeLock_);
}

void FakeBridge::ResetShouldBuild() {
    calls.push_back("ResetShouldBuild");
    buildTrees = true;
}

void FakeBridge::isEdiDoDeepScanWithData(const DiskVolumeNodePtr& row,
                                         const std::string& postName) {
    calls.push_back("isEdiDoDeepScanWithData:" + (row ? row->name() : std::string("nil")));
    (void)postName;
    if (row) {
        scanStatus_ = 2;
        deepScan = 1;
    }
}

int FakeBridge::IsDeepScan() {
    return deepScan;
}

int FakeBridge::IsPause() {
    return paused != 0 || scanStatus_ == 3 ? 1 : 0;
}

std::string FakeBridge::GetScanProgress(double* percent, int64_t* fileCount) {
    calls.push_back("GetScanProgress");
    *percent = scanPercent;
    *fileCount = scanFiles;
    return remainingTime;
}

void FakeBridge::PauseOrResumeScan() {
    calls.push_back("PauseOrResumeScan");
    if (scanStatus_ == 2)
        scanStatus_ = 3;
    else if (scanStatus_ == 3)
        scanStatus_ = 2;
}

void FakeBridge::StopScan(int flag) {
    calls.push_back("StopScan:" + std::to_string(flag));
    if (scanStatus_ != 0 && scanStatus_ != 4) {
        scanStatus_ = 1;
        buildTrees = flag == 0;
    }
}

void FakeBridge::GetScanFileSize(uint64_t* bytes, int64_t* count) {
    if (bytes != nullptr)
        *bytes = foundBytes;
    if (count != nullptr)
        *count = foundCount != 0 ? foundCount : scanFiles;
}

void FakeBridge::RestorPostUIUpdate(const std::string& postName, int flag) {
    calls.push_back("RestorPostUIUpdate:" + postName + ":" + std::to_string(flag));
    if (flag == 0)
        scanStatus_ = 2;
}

uint64_t FakeBridge::GetNodeChildrenCnt(const OpNodeData& node) {
    // Files below a group node, counted over the interface tree.
    uint64_t count = 0;
    for (const OpChild& child : node.children()) {
        if (const auto* sub = std::get_if<OpNodePtr>(&child))
            count += *sub ? GetNodeChildrenCnt(**sub) : 0;
        else
            ++count;
    }
    return count;
}

int FakeBridge::GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) {
    calls.push_back("GetFileNodeToArray:" + (node ? node->name() : std::string("nil")));
    return AppendPathChildren(array, node.get());
}

void FakeBridge::VKTableViewCellCilck() {
    calls.push_back("VKTableViewCellCilck");
}

void FakeBridge::SetViewType(int kind) {
    calls.push_back("SetViewType:" + std::to_string(kind));
}

void FakeBridge::RefreshTypeTreeState(OpNodeData* node) {
    calls.push_back(node != nullptr ? "RefreshTypeTreeState:node" : "RefreshTypeTreeState:nil");
}

void FakeBridge::RefreshTypeTreeState(const OpNodePtr& node) {
    calls.push_back("RefreshTypeTreeState:" + (node ? node->name() : std::string("nil")));
}

void FakeBridge::RefreshTimeTreeState(std::vector<OpNodePtr>* roots, int changeTable) {
    (void)roots;
    calls.push_back("RefreshTimeTreeState:" + std::to_string(changeTable));
}

void FakeBridge::VKSetFlag(int flag) {
    calls.push_back("VKSetFlag:" + std::to_string(flag));
}

void FakeBridge::DoDeepScan(const std::string& postKey) {
    calls.push_back("DoDeepScan:" + postKey);
    deepScan = 1;
    scanStatus_ = 2;
}

int FakeBridge::VKCleanOpNodeSate() {
    calls.push_back("VKCleanOpNodeSate");
    return 1;
}

int FakeBridge::DoSearchWithString(const std::string& text, const std::string& postKey) {
    calls.push_back("DoSearchWithString:" + text + ":" + postKey);
    if (searching)
        return 0;
    searchKey = text;
    searching = 1;
    return 1;
}

std::string FakeBridge::GetSearchString() {
    return searchKey;
}

void FakeBridge::StopSearch() {
    calls.push_back("StopSearch");
    searching = 0;
}

int FakeBridge::VKGetIsSearching() {
    return searching;
}

void FakeBridge::GetSelectedFilesAmout(int* count, uint64_t* size) {
    calls.push_back("GetSelectedFilesAmout");
    *count = selectedCount;
    *size = selectedSize;
}

bridge::OutputProblem FakeBridge::CheckOutputFolder(const std::string& path) {
    calls.push_back("CheckOutputFolder:" + path);
    if (auto it = folderProblems.find(path); it != folderProblems.end())
        return it->second;
    const bool same = sameDevice != 0 || std::find(sameDevicePaths.begin(), sameDevicePaths.end(),
                                                   path) != sameDevicePaths.end();
    return same ? bridge::OutputProblem::kOnScannedDevice : bridge::OutputProblem::kNone;
}

int FakeBridge::IsRecoveryToSameDevice(const std::string& path) {
    calls.push_back("IsRecoveryToSameDevice:" + path);
    return sameDevice != 0 || std::find(sameDevicePaths.begin(), sameDevicePaths.end(), path) !=
                                  sameDevicePaths.end()
               ? 1
               : 0;
}

void FakeBridge::GetSaveorRestoreProgress(uint64_t* total, uint64_t* current, int64_t* errorCode,
                                          int save) {
    (void)save;
    *total = saveTotal;
    *current = saveCurrent;
    *errorCode = saveError;
}

std::string FakeBridge::GetSaveFileName() {
    return saveFileName;
}

void FakeBridge::SavePathToPList(const std::string& folder) {
    calls.push_back("SavePathToPList:" + folder);
    storedSavePath = folder;
}

void FakeBridge::UnselectedAllNodes() {
    calls.push_back("UnselectedAllNodes");
}

void FakeBridge::GetSearchResultToArr(std::vector<IFileNode*>* list) {
    calls.push_back("GetSearchResultToArr");
    if (list != nullptr)
        list->insert(list->end(), searchHits.begin(), searchHits.end());
}

QImage FakeBridge::GetNSImageByNode(const OpNodePtr& node) {
    calls.push_back("GetNSImageByNode:" + (node ? node->name() : std::string("nil")));
    if (onPreviewRead)
        onPreviewRead();
    if (!node)
        return {};
    const auto found = previews.find(node->fileNode());
    return found != previews.end() ? found->second : QImage();
}

int64_t FakeBridge::DoRecovery(const std::vector<OpNodePtr>* roots, const std::string& path,
                               const std::string& postName) {
    calls.push_back("DoRecovery:" + path + ":" + postName);
    if (!roots)
        return 0x0100000000000000;
    recoveryRoots = roots;
    if (doRecoveryResult == 0)
        recoveryStatus = 2;
    return doRecoveryResult;
}

std::string FakeBridge::GetRecoveryProgressTotal(uint64_t* total, uint64_t* current,
                                                 int64_t* errorCode) {
    calls.push_back("GetRecoveryProgressTotal");
    *total = recoveryTotal;
    *current = recoveryCurrent;
    *errorCode = recoveryError;
    return recoveryFileName;
}

int FakeBridge::IsRecoveryRunning() {
    calls.push_back("IsRecoveryRunning");
    return recoveryStatus == 2 || recoveryStatus == 3 ? 1 : 0;
}

void FakeBridge::PauseOrResumeRecovery() {
    calls.push_back("PauseOrResumeRecovery");
    if (recoveryStatus == 2)
        recoveryStatus = 3;
    else if (recoveryStatus == 3)
        recoveryStatus = 2;
}

void FakeBridge::StopRecvoery() {
    calls.push_back("StopRecvoery");
    if (recoveryStatus != 0)
        recoveryStatus = 4;
}

uint64_t FakeBridge::GetRecoveridedFiles() {
    calls.push_back("GetRecoveridedFiles");
    return recoveredFiles;
}

uint64_t FakeBridge::GetRecoveryRefusedFiles() {
    calls.push_back("GetRecoveryRefusedFiles");
    return refusedFiles;
}

std::string FakeBridge::GetRecoveryRefusedListPath() {
    calls.push_back("GetRecoveryRefusedListPath");
    return refusedList;
}

std::vector<uint8_t> FakeBridge::GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) {
    if (!node)
        return {};
    const auto found = pictureFiles.find(node->name());
    if (found == pictureFiles.end())
        return {};
    ++pictureReads;
    if (pictureDelay.count() > 0) {
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        if (never.wait_for(lock, stop, pictureDelay, [] { return false; }) ||
            stop.stop_requested()) {
            ++pictureReadsGivenUp;
            return {};
        }
    }
    std::ifstream file(found->second, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace velmora::seam
