#include "VKUIScan.h"

#include <cstdio>
#include <thread>

#include "BridgeServices.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "SaveRestore.h"
#include "StorageDeviceData.h"
#include "Utility/CatchExeception.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "VKUIFilter.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"
#include "VKUITreeData.h"

namespace {

constexpr int kUnknownFileSystem = 10;

// Holds the result files' busy flag for a live scan, so that a save or a
// load never reads or replaces the trees the scan is building.
class ScanGate {
public:
    explicit ScanGate(bool take, bool alreadyHeld = false)
        : held_(alreadyHeld || (take && SaveRestoreResult::ResultFilesGate::TryBegin(
                                            SaveRestoreResult::ResultFilesGate::kScanning))) {}
    ~ScanGate() {
        if (held_)
            SaveRestoreResult::ResultFilesGate::End(SaveRestoreResult::ResultFilesGate::kScanning);
    }
    ScanGate(const ScanGate&) = delete;
    ScanGate& operator=(const ScanGate&) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

}  // namespace

VKUIScan& VKUIScan::instance() {
    // Reachable for the process's life: the engine's nodes it points at are
    // owned by its controller.
    static VKUIScan* one = new VKUIScan();
    return *one;
}

VKUIScan::VKUIScan(VKUIDeviceData* catalogue)
    : m_catalogue(catalogue), m_makeController(&CreateRecoveryController) {}

void VKUIScan::SetControllerFactory(ControllerFactory make) {
    VKOperationLock hold(m_lock);
    m_makeController = make ? std::move(make) : ControllerFactory(&CreateRecoveryController);
}

VKUIScan::~VKUIScan() {
    VKOperationLock hold(m_lock);
    ReleaseDataRecoveryLocked();
    ReleaseControllersLocked();
}

void VKUIScan::ReleaseControllersLocked() {
    for (IRecoveryController* controller : m_earlierControllers)
        controller->Release();
    m_earlierControllers.clear();
    if (m_controller != nullptr)
        m_controller->Release();
    m_controller = nullptr;
}

void VKUIScan::NextVolumeController(_RECOVERY_CONTROLLER_TYPE type) {
    VKOperationLock hold(m_lock);
    if (m_controller != nullptr)
        m_earlierControllers.push_back(m_controller);
    m_controller = m_makeController(type);
    if (m_controller != nullptr && m_restoreSource != nullptr)
        SetRecoveryRestoreSink(m_controller, m_restoreSource);
}

std::vector<IRecoveryController*> VKUIScan::GetRecoveryControllers() {
    VKOperationLock hold(m_lock);
    std::vector<IRecoveryController*> all = m_earlierControllers;
    if (m_controller != nullptr)
        all.push_back(m_controller);
    return all;
}

IRecoveryController* VKUIScan::GetRootController(IFileNode* root) {
    VKOperationLock hold(m_lock);
    auto it = m_rootController.find(root);
    return it != m_rootController.end() ? it->second : nullptr;
}

VKUIDeviceData& VKUIScan::Catalogue() {
    return m_catalogue != nullptr ? *m_catalogue : VKUIDeviceData::instance();
}

// Every end of a scan is posted: the windows follow the scan by its posts
// alone, and one that ends without a post (stopped before its volume was
// read, or a whole disk whose last volume is not scanned) left its browser
// waiting for ever.
VKRESULT VKUIScan::EndEarly(VKRESULT result, const char* why) {
    // The log says why a scan found nothing: it never looked.
    if (why != nullptr)
        CatchExeception::WriteLog("DoScan ended early: %s\n", why);
    SetStatus(VK_OP_IDLE);
    SetNeedUIUpdate(1);
    VKNotifyUIUpdateData(1);
    return result;
}

VKRESULT VKUIScan::DoScan(IStorageDevice* storage, RestoreScanSink* source) {
    return DoScanGated(storage, source, false);
}

VKRESULT VKUIScan::DoScanHoldingResults(IStorageDevice* storage) {
    return DoScanGated(storage, nullptr, true);
}

VKRESULT VKUIScan::DoScanGated(IStorageDevice* storage, RestoreScanSink* source, bool gateHeld) {
    // Taken over first, so that every return below lets the flag go.
    ScanGate gate(source == nullptr, gateHeld);
    CatchExeception::WriteLog("%s:%d started!\r", "DoScan", 43);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    std::lock_guard<std::mutex> scanHold(m_scanLock);
    {
        VKOperationLock hold(m_lock);
        m_restoreSource = source;
    }
    VKRESULT result = kResultBadArgument;
    if (storage == nullptr)
        return EndEarly(result, "no device");
    // A replay runs under the loader's own hold of the busy flag.
    if (source == nullptr && !gate.held())
        return EndEarly(result, "the results are busy (a save or a load)");

    SaveScanSorage(storage);
    SetNeedUIUpdate(0);
    const int type = GetScanControllerType(storage);
    const int deep = IsDeepScan();
    ResetRecoveryController(static_cast<_RECOVERY_CONTROLLER_TYPE>(type));
    ClearData();
    SetSearchKey("");
    IRecoveryFilter* filter = VKUIFilter::instance().GetFilter();
    if (filter == nullptr)
        return EndEarly(result, "no file filter");

    VKUIDeviceData& catalogue = Catalogue();
    if (deep == 0 && catalogue.IsDiskStorage(storage) != 0) {
        std::vector<IStorageDevice*> volumes;
        catalogue.GetDiskVolumeStorage(storage, volumes);
        if (volumes.empty())
            return EndEarly(result, "the disk has no volumes");
        {
            VKOperationLock hold(m_lock);
            m_volumesLeft = static_cast<int>(volumes.size());
        }
        bool first = true;
        for (IStorageDevice* volume : volumes) {
            int left = 0;
            {
                VKOperationLock hold(m_lock);
                if (m_volumesLeft <= 0)
                    break;
                left = --m_volumesLeft;
            }
            if (catalogue.IsVolumeStorageSupported(volume) == 0) {
                if (left == 0)
                    EndEarly(result, nullptr);
                continue;
            }
            // A controller serves one scan: starting it again would free
            // the trees of the volumes before, which the indexes point at.
            if (!first)
                NextVolumeController(static_cast<_RECOVERY_CONTROLLER_TYPE>(type));
            first = false;
            filter->SetScanType(SCAN_QUICK);
            result = DoVolumeStorageScan(volume);
            if (ResultFailed(result) && GetStatus() == VK_OP_STOP_ASKED) {
                {
                    VKOperationLock hold(m_lock);
                    m_volumesLeft = 0;
                }
                EndEarly(result, nullptr);
                break;
            }
        }
    } else {
        filter->SetScanType(deep != 0 ? SCAN_COMPLETE : SCAN_QUICK);
        result = DoVolumeStorageScan(storage);
        if (ResultFailed(result))
            EndEarly(result, nullptr);
    }
    {
        VKOperationLock hold(m_lock);
        m_restoreSource = nullptr;
        m_volumesLeft = 0;
    }
    // The scan is over whatever the volumes answered: a whole disk whose
    // last volume failed without a finished record would otherwise look
    // running for ever and refuse every later scan.
    if (GetStatus() != VK_OP_IDLE)
        EndEarly(result, nullptr);
    CatchExeception::WriteLog("%s:%d end!\r", "DoScan", 137);
    return result;
}

VKRESULT VKUIScan::DoVolumeStorageScan(IStorageDevice* volume) {
    IRecoveryController* controller = GetRecoveryController();
    if (volume == nullptr || controller == nullptr || Continued() == 0)
        return kResultNotStarted;
    SetStatus(VK_OP_RUNNING);
    controller->Initialize(VKUIFilter::instance().GetFilter());
    if (CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(volume))
        std::printf("=======scan volumes(%d):(%s)======\n", GetVolumesLeft(), info->volumeName);
    return controller->StartDataRecovery(volume, this, this);
}

void VKUIScan::SaveScanSorage(IStorageDevice* storage) {
    VKOperationLock hold(m_lock);
    m_storage = storage;
}

IStorageDevice* VKUIScan::GetSavedStorage() {
    VKOperationLock hold(m_lock);
    return m_storage;
}

int VKUIScan::GetScanControllerType(IStorageDevice* storage) {
    if (storage == nullptr)
        return VK_SCAN_NONE;
    if (IsDeepScan() != 0)
        return Catalogue().IsDiskStorage(storage) != 0 ? VK_SCAN_PARTITION : VK_SCAN_COMPLETE;
    return VK_SCAN_QUICK;
}

void VKUIScan::SetDeepScan(int deep) {
    VKOperationLock hold(m_lock);
    m_deep = deep;
}

CCollectedVolumeDeviceInfoStruct* VKUIScan::GetStorageVolumeInfo(IStorageDevice* storage) {
    auto* data = storage ? dynamic_cast<IVolumeDeviceData*>(storage->GetPrivateData()) : nullptr;
    return data ? data->GetVolumeInfo() : nullptr;
}

int VKUIScan::IsStorageVolumeUnknow(IStorageDevice* storage) {
    CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(storage);
    return info != nullptr && info->fileSystemType == kUnknownFileSystem ? 1 : 0;
}

int VKUIScan::IsDeepScan() {
    IStorageDevice* storage = GetSavedStorage();
    VKOperationLock hold(m_lock);
    if (m_deep == 0 && Catalogue().IsDiskStorage(storage) == 0)
        m_deep = IsStorageVolumeUnknow(storage);
    return m_deep;
}

void VKUIScan::ResetRecoveryController(_RECOVERY_CONTROLLER_TYPE type) {
    // The recovery's objects read through the controllers let go of below:
    // they go first, or the next recovery or thumbnail would use freed ones.
    if (this == &instance())
        VKUIRecovery::instance().ForgetScanController();
    VKOperationLock hold(m_lock);
    // The roots' recovery objects read through the old controller's trees.
    ReleaseDataRecoveryLocked();
    ReleaseControllersLocked();
    m_controller = m_makeController(type);
    if (m_controller != nullptr && m_restoreSource != nullptr && type >= 0 && type <= 2)
        SetRecoveryRestoreSink(m_controller, m_restoreSource);
}

IRecoveryController* VKUIScan::GetRecoveryController() {
    VKOperationLock hold(m_lock);
    return m_controller;
}

void VKUIScan::ClearData() {
    const time_t now = std::time(nullptr);
    SetScanTimes(now, now);
    VKOperationLock hold(m_lock);
    m_volumesLeft = 0;
    m_fileCount = 0;
    m_fileSize = 0;
    m_recoveryCount = 0;
    ReleaseDataRecoveryLocked();
    m_roots.clear();
    m_rootController.clear();
    m_folders.clear();
    m_folderSnapshot.clear();
    m_typeIndex.clear();
    m_typeArrival.clear();
    m_arrivals = 0;
    m_untypedFiles = 0;
    m_newPathNodes.clear();
    m_nodeObjects.clear();
    m_createIndex.clear();
    m_modifyIndex.clear();
    m_accessIndex.clear();
    SetProgressInfo(_PROGRESS_INFO{});
}

void VKUIScan::SetSearchKey(const char* text) {
    if (text == nullptr)
        return;
    VKOperationLock hold(m_lock);
    m_hasSearchKey = *text != '\0';
    m_searchKey = m_hasSearchKey ? text : "";
}

const char* VKUIScan::GetSearchKey() const {
    return m_hasSearchKey ? m_searchKey.c_str() : nullptr;
}

std::string VKUIScan::SearchKeyText() {
    VKOperationLock hold(m_lock);
    return m_hasSearchKey ? m_searchKey : std::string();
}

void VKUIScan::SetSearching(int searching) {
    VKOperationLock hold(m_lock);
    m_searching = searching;
}

int VKUIScan::IsSearching() {
    VKOperationLock hold(m_lock);
    return m_searching;
}

void VKUIScan::SetScanType(int kind) {
    VKOperationLock hold(m_lock);
    m_viewKind = kind;
}

int VKUIScan::GetScanType() {
    VKOperationLock hold(m_lock);
    return m_viewKind;
}

void VKUIScan::SetEdiRsf(int edi) {
    VKOperationLock hold(m_lock);
    m_ediRsf = edi;
}

int VKUIScan::IsEdiRsf() {
    VKOperationLock hold(m_lock);
    return m_ediRsf;
}

void VKUIScan::SetDmgRsf(int dmg) {
    VKOperationLock hold(m_lock);
    m_dmgRsf = dmg;
}

int VKUIScan::IsDmgRsf() {
    VKOperationLock hold(m_lock);
    return m_dmgRsf;
}

int VKUIScan::IsOpTreeFinished() {
    VKOperationLock hold(m_lock);
    return m_treeFinished;
}

void VKUIScan::SetOpTreeFinished(int finished) {
    VKOperationLock hold(m_lock);
    m_treeFinished = finished;
}

int VKUIScan::GetVolumesLeft() {
    VKOperationLock hold(m_lock);
    return m_volumesLeft;
}

void VKUIScan::UpdateProgress(_PROGRESS_INFO* info) {
    if (info == nullptr)
        return;
    SetProgressInfo(*info);
    if (info->state == PROGRESS_FINISHED) {
        bool ended = false;
        {
            VKOperationLock hold(m_lock);
            if (m_volumesLeft <= 0 || GetStatus() == VK_OP_STOP_ASKED) {
                m_volumesLeft = 0;
                ended = true;
            }
        }
        // The trees are final before the scan shows as ended: a refresh
        // already on its way would otherwise find it ended with the last
        // nodes not yet in the trees, take the end over, and the final
        // refresh would take it over again (reloading the trees and choosing
        // the root under a user who had chosen a folder in between).
        if (ended) {
            VKUIController::VKGetTreeNodeData(1);
            SetStatus(VK_OP_IDLE);
        }
        VKNotifyUIUpdateData(1);
        std::printf("=====Scan Progress finished!=====\n");
    } else if (info->state == PROGRESS_RUNNING) {
        // A deep scan may walk a long way before its first file: the
        // windows still hear of each step, at a timed pace.
        VKNotifyScanProgress();
    }
    SetScanEndTime(std::time(nullptr));
    SetNeedUIUpdate(1);
}

void VKUIScan::ShowFilesystemNode(IFilesystemNode* root) {
    if (root == nullptr || root->IsDirectory() == 0)
        return;
    std::printf("=====ShowFileSystemNodes:%s\n", root->GetFileName() ? root->GetFileName() : "");
    {
        VKOperationLock hold(m_lock);
        const _tagSearcherType type = VKCPPPublic::instance().GetNodeSearcheType(root);
        if (m_controller != nullptr && m_controller->thisType() == RECOVERY_CONTROLLER_DELETED) {
            IDataRecovery*& slot = m_rootRecovery[root];
            if (slot != nullptr)
                slot->Release();
            slot = m_controller->GetDataRecovery(type);
        }
        m_roots.push_back(root);
        m_rootController[root] = m_controller;
        m_newPathNodes.push_back(root);
    }
    SetNeedUIUpdate(1);
}

void VKUIScan::ShowNodes(IFileNode** nodes, unsigned count, int) {
    if (count == 0 || nodes == nullptr)
        return;
    IRecoveryFilter* filter = VKUIFilter::instance().GetFilter();
    VKCPPPublic& helpers = VKCPPPublic::instance();
    uint64_t files = 0;
    for (unsigned i = 0; i < count; ++i) {
        IFileNode* node = nodes[i];
        if (node == nullptr)
            continue;
        // Worked out before the lock: readers wait for one node at most.
        const bool folder = node->IsDirectory() != 0;
        int cy = 0, cm = 0, my = 0, mm = 0;
        const long long created = folder ? 0 : node->GetCreationTime();
        const long long modified = folder ? 0 : node->GetModificationTime();
        if (created != 0)
            helpers.GetYearMonthByFileTime(&cy, &cm, U64ToFileTime(static_cast<uint64_t>(created)));
        if (modified != 0)
            helpers.GetYearMonthByFileTime(&my, &mm,
                                           U64ToFileTime(static_cast<uint64_t>(modified)));
        const unsigned category = !folder && filter ? filter->GetNodeFileType(node) : 0;
        const long long size = folder ? 0 : node->GetFileSize();
        VKOperationLock hold(m_lock);
        if (folder) {
            m_folderSnapshot.push_back(node);
            m_folders.push_back(node);
            m_folderSet[node] = 0;
            m_newPathNodes.push_back(node);
            continue;
        }
        ++files;
        if (created != 0)
            m_createIndex[cy][cm].push_back(node);
        if (modified != 0)
            m_modifyIndex[my][mm].push_back(node);
        if (filter != nullptr) {
            m_typeIndex[category].push_back(node);
            m_typeArrival[category].push_back(m_arrivals++);
        } else if (created != 0 || modified != 0) {
            ++m_untypedFiles;
        }
        m_fileSize += static_cast<uint64_t>(size);
    }
    {
        VKOperationLock hold(m_lock);
        m_fileCount += files;
    }
    SetNeedUIUpdate(1);
    VKNotifyUIUpdateData(0);
}

std::mutex* VKUIScan::GetTreeLock() {
    return &VKUITreeData::instance().Mutex();
}

std::vector<IFileNode*> VKUIScan::GetFileSystemNode() {
    VKOperationLock hold(m_lock);
    return m_roots;
}

std::vector<IFileNode*> VKUIScan::VKGetNewPathNode() {
    VKOperationLock hold(m_lock);
    std::vector<IFileNode*> out;
    out.swap(m_newPathNodes);
    return out;
}

std::vector<IFileNode*> VKUIScan::VKGetAllPathNode() {
    VKOperationLock hold(m_lock);
    std::vector<IFileNode*> out = m_roots;
    out.insert(out.end(), m_folders.begin(), m_folders.end());
    return out;
}

VKTypeIndex VKUIScan::GetTypeMap() {
    VKOperationLock hold(m_lock);
    return m_typeIndex;
}

VKDateIndex VKUIScan::GetCreateTimeMap() {
    VKOperationLock hold(m_lock);
    return m_createIndex;
}

VKDateIndex VKUIScan::GetModifyTimeMap() {
    VKOperationLock hold(m_lock);
    return m_modifyIndex;
}

VKDateIndex VKUIScan::GetAccessTimeMap() {
    VKOperationLock hold(m_lock);
    return m_accessIndex;
}

void VKUIScan::RefreshAllData() {
    VKOperationLock hold(m_lock);
    m_folderSnapshot = m_folders;
    for (IFileNode* folder : m_folderSnapshot)
        m_folderSet[folder] = 0;
}

int VKUIScan::FindRemoveData(IFileNode* node) {
    if (node == nullptr)
        return 0;
    if (node->IsDirectory() != 0)
        return 1;
    VKOperationLock hold(m_lock);
    return m_folderSet.erase(node) != 0 ? 1 : 0;
}

namespace {

VKDateExtent ExtentOf(const VKDateIndex& index) {
    VKDateExtent extent;
    for (const auto& [year, months] : index) {
        for (const auto& [month, nodes] : months)
            extent[year][month] = nodes.size();
    }
    return extent;
}

}  // namespace

void VKUIScan::DoSearch(std::vector<IFileNode*>& out, VKSearchResult* result) {
    RefreshAllData();
    out.clear();
    VKTypeIndex types;
    std::string key;
    {
        VKOperationLock hold(m_lock);
        types = m_typeIndex;
        key = m_hasSearchKey ? m_searchKey : "";
        if (result != nullptr) {
            *result = VKSearchResult{};
            for (const auto& [category, nodes] : m_typeIndex)
                result->typeExtent[category] = nodes.size();
            result->createExtent = ExtentOf(m_createIndex);
            result->modifyExtent = ExtentOf(m_modifyIndex);
            result->complete = m_untypedFiles == 0;
        }
    }
    // Read once: the whole search answers for one setting.
    const bool desktop = velmora::bridge::CurrentSettings()->GetBool("isSelectDesktopDisk", false);
    std::vector<std::pair<unsigned, size_t>> places;
    for (const auto& [category, nodes] : types) {
        for (size_t i = 0; i < nodes.size(); ++i) {
            IFileNode* node = nodes[i];
            const int match =
                key.empty() ? 1 : VKUIPublic::IsStringInFileNode(key.c_str(), node, desktop);
            node->ShowNode(match);
            if (match != 0 && node->IsDirectory() == 0) {
                out.push_back(node);
                if (result != nullptr)
                    places.emplace_back(category, i);
            }
        }
    }
    if (result == nullptr)
        return;
    result->hits = out;
    result->arrival.reserve(places.size());
    VKOperationLock hold(m_lock);
    for (const auto& [category, i] : places) {
        auto it = m_typeArrival.find(category);
        auto at = m_typeIndex.find(category);
        // The indexes were emptied (a new scan) while the search matched.
        if (it == m_typeArrival.end() || i >= it->second.size() || at == m_typeIndex.end() ||
            i >= at->second.size() || at->second[i] != result->hits[result->arrival.size()]) {
            result->complete = false;
            return;
        }
        result->arrival.push_back(it->second[i]);
    }
}

std::string VKUIScan::GetNodeExt(IFileNode* node) {
    const char* name = node != nullptr ? node->GetFileName() : nullptr;
    if (name == nullptr)
        return {};
    const std::string text(name);
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = text.substr(dot + 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

void* VKUIScan::VKGetFileNode(IFileNode* node) {
    auto it = m_nodeObjects.find(node);
    return it != m_nodeObjects.end() ? it->second : nullptr;
}

void VKUIScan::VKSetFileNode(IFileNode* node, void* object) {
    if (node != nullptr && object != nullptr)
        m_nodeObjects[node] = object;
}

void VKUIScan::VKResetFileNode() {
    m_nodeObjects.clear();
}

uint64_t VKUIScan::GetScanFileCnt() {
    VKOperationLock hold(m_lock);
    return m_fileCount;
}

uint64_t VKUIScan::GetScanFileSize() {
    VKOperationLock hold(m_lock);
    return m_fileSize;
}

void VKUIScan::ReCalTotalSize() {
    const VKTypeIndex types = GetTypeMap();
    uint64_t size = 0;
    for (const auto& [category, nodes] : types) {
        for (IFileNode* node : nodes) {
            if (node->IsNodeShow() != 0)
                size += static_cast<uint64_t>(node->GetFileSize());
        }
    }
    VKOperationLock hold(m_lock);
    m_fileSize = size;
}

void VKUIScan::SetCurrentScanRecoveryCnt(int count) {
    VKOperationLock hold(m_lock);
    m_recoveryCount = count;
}

int VKUIScan::GetCurrentScanRecoveryCnt() {
    VKOperationLock hold(m_lock);
    return m_recoveryCount;
}

IDataRecovery* VKUIScan::GetFileNodeDataRecover(IFileNode* node) {
    IFilesystemNode* root = VKCPPPublic::instance().GetFileSystemNode(node);
    if (root == nullptr)
        return nullptr;
    VKOperationLock hold(m_lock);
    auto it = m_rootRecovery.find(root);
    return it != m_rootRecovery.end() ? it->second : nullptr;
}

void VKUIScan::ReleaseDataRecovery() {
    VKOperationLock hold(m_lock);
    ReleaseDataRecoveryLocked();
}

void VKUIScan::ReleaseDataRecoveryLocked() {
    for (auto& [root, recovery] : m_rootRecovery) {
        if (recovery != nullptr)
            recovery->Release();
    }
    m_rootRecovery.clear();
}

void VKUIScan::UnselectAllNodes() {
    for (IFileNode* root : GetFileSystemNode())
        root->SetCheck(static_cast<_tagCheckedStatus>(0));
}
