#include "BridgeSeam/VKBridge.h"

#include <QBuffer>
#include <QImage>
#include <QVariant>
#include <mutex>
#include <set>

#include "BadSectorNotify.h"
#include "MainThread.h"
#include "QtPoster.h"
#include "QtThumbnailer.h"
#include "ScanSources.h"
#include "VKUIThumbnail.h"

#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/PrivateSettings.h"
#include "VKUIController.h"
#include "platform/desktop/SingleInstance.h"

namespace velmora::seam {

namespace {

// The object of the bridge's notifications.
const QVariant kBridgeObject = QStringLiteral("VKUIPublic");

}  // namespace

VKBridge::VKBridge(std::string lockPath) : lockPath_(std::move(lockPath)) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        bridge::InstallScanSources();
        if (!bridge::CurrentThumbnailer())
            bridge::InstallThumbnailer(std::make_shared<bridge::QtThumbnailer>());
    });
}

void VKBridge::Relay(const std::string& name) {
    static std::once_flag installed;
    std::call_once(installed, [] { bridge::InstallPoster(std::make_shared<bridge::QtPoster>()); });
    // The bridge's centre is used from the main thread only, as is this.
    static auto* relayed = new std::set<std::string>;
    if (!relayed->insert(name).second)
        return;
    bridge::NotificationCentre::Default().AddObserver(name, [](const bridge::Notification& note) {
        ui::NotificationCenter::defaultCenter().post(QString::fromStdString(note.name),
                                                     kBridgeObject);
    });
}

VKBridge::~VKBridge() = default;

// The lock file, not a look at process names: the program is "Tamsweld",
// so a name match on "Velmora" never sees a second copy and takes unrelated
// programs for one. The first call takes the lock and keeps it for the
// process's life; the kernel drops it when the process ends.
int VKBridge::IsAppRunning() {
    if (!instance_) {
        instance_ = std::make_unique<platform::SingleInstance>(
            lockPath_.empty() ? platform::SingleInstance::DefaultLockPath() : lockPath_);
    }
    return instance_->Acquired() ? 0 : 1;
}

void VKBridge::initFileType() {
    VKUIController::initFileType();
}

// The scan's data-recovery objects, then the recovery's.
void VKBridge::ReleaseDataRecovery() {
    VKUIController::ReleaseDataRecovery();
}

void VKBridge::SetRecoveryType(int mask) {
    VKUIController::SetRecoveryType(mask);
}

void VKBridge::NotifiyDeviceInfoAfterInit(const std::string& name) {
    Relay(name);
    VKUIController::NotifiyDeviceInfoAfterInit(name);
}

void VKBridge::GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array) {
    VKUIController::GetDeviceInfoToArray(array);
}

// Blocks while a running scan stops and lets go of its device (about a
// second); the disk page asks for the new list right after.
void VKBridge::RefreshDeviceInfo() {
    VKUIController::RefreshDeviceInfo();
}

int VKBridge::VKOpenDmgFile(const std::string& path) {
    return VKUIController::VKOpenDmgFile(path);
}

int VKBridge::VKOpenEdiFile(const std::string& path) {
    return VKUIController::VKOpenEdiFile(path);
}

// The scan always reports "NormalScranValue", whatever name the window
// passes.
void VKBridge::DoScanWithData(const DiskVolumeNodePtr& row, const std::string&) {
    Relay("NormalScranValue");
    Relay(CProgressNotify::kNotificationName);
    VKUIController::DoScanWithData(row);
}

void VKBridge::DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string&) {
    Relay("NormalScranValue");
    Relay(CProgressNotify::kNotificationName);
    VKUIController::DoDeepScanWithData(row);
}

int VKBridge::IsScanRunning() {
    return VKUIController::IsScanRunning();
}

void VKBridge::GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) {
    VKUIController::GetScanTreeNodeData(roots, clearState);
}

std::optional<std::string> VKBridge::GetSavePath() {
    const QString path = ui::PrivateSettings::shared().stringValue(QStringLiteral("SavePath"));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

// Saving and loading results.
void VKBridge::beginSaveOrRestoreNode(int flag, const std::string& path,
                                      const std::optional<std::string>& ediPath) {
    VKUIController::beginSaveOrRestoreNode(flag, path, ediPath ? ediPath->c_str() : nullptr);
}

// The browser's four tree arrays, filed by the scan under its lock.
int VKBridge::VKSetTreeNodeData(const TreeNodeArrays* arrays) {
    if (arrays == nullptr)
        return 0;
    VKTreeArrays held;
    held.path = arrays->path;
    held.type = arrays->type;
    held.createTime = arrays->createTime;
    held.modifyTime = arrays->modifyTime;
    return VKUIController::VKSetTreeNodeData(&held);
}

std::unique_lock<std::mutex> VKBridge::LockTreeData() {
    // The lock under which the scan files nodes into the browser's trees.
    return std::unique_lock<std::mutex>(VKUIController::TreeDataLock());
}

// The scan road.
void VKBridge::ResetShouldBuild() {
    VKUIController::ResetShouldBuild();
}

// An image's scan reports as any deep scan does: without the relays the
// browser would wait for a scan that has long ended.
void VKBridge::isEdiDoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string&) {
    Relay("NormalScranValue");
    Relay(CProgressNotify::kNotificationName);
    VKUIController::isEdiDoDeepScanWithData(row);
}

// The scan operation's progress and controls.
std::string VKBridge::GetScanProgress(double* percent, int64_t* fileCount) {
    unsigned long long count = 0;
    std::string remaining = VKUIController::GetScanProgress(percent, &count);
    *fileCount = static_cast<int64_t>(count);
    return remaining;
}

int VKBridge::IsDeepScan() {
    return VKUIController::IsDeepScan();
}

int VKBridge::IsPause() {
    return VKUIController::IsPause();
}

void VKBridge::PauseOrResumeScan() {
    VKUIController::PauseOrResumeScan();
}

void VKBridge::StopScan(int flag) {
    VKUIController::StopScan(flag);
}

void VKBridge::GetScanFileSize(uint64_t* bytes, int64_t* count) {
    unsigned long long size = 0, files = 0;
    VKUIController::GetScanFileSize(&size, &files);
    if (bytes != nullptr)
        *bytes = size;
    if (count != nullptr)
        *count = static_cast<int64_t>(files);
}

// Loading results.
void VKBridge::RestorPostUIUpdate(const std::string& name, int save) {
    Relay(name);
    Relay("QueryProgressFinish");
    VKUIController::RestorPostUIUpdate(name, save);
}

// The counts and tick marks of the result trees.
uint64_t VKBridge::GetNodeChildrenCnt(const OpNodeData& node) {
    return VKUIController::GetNodeChildrenCnt(const_cast<OpNodeData*>(&node));
}

void VKBridge::VKTableViewCellCilck() {
    VKUIController::VKTableViewCellCilck();
}

void VKBridge::SetViewType(int kind) {
    VKUIController::SetViewType(kind);
}

void VKBridge::RefreshTypeTreeState(OpNodeData* node) {
    VKUIController::RefreshTypeTreeState(node);
}

// The roots are the browser's array, which the trees grow under their
// lock: it is copied under it.
void VKBridge::RefreshTimeTreeState(std::vector<OpNodePtr>* roots, int changeTable) {
    if (roots == nullptr)
        return;
    std::vector<OpNodePtr> copy;
    {
        std::lock_guard<std::mutex> hold(VKUIController::TreeDataLock());
        copy = *roots;
    }
    VKUIController::RefreshTimeTreeState(copy, changeTable);
}

void VKBridge::VKSetFlag(int flag) {
    VKUIController::VKSetFlag(flag);
}

void VKBridge::DoDeepScan(const std::string&) {
    VKUIController::DoDeepScan();
}

int VKBridge::VKCleanOpNodeSate() {
    return VKUIController::VKCleanOpNodeSate();
}

int VKBridge::DoSearchWithString(const std::string& text, const std::string& postKey) {
    Relay(postKey);
    Relay("DoSearchFinished");
    return VKUIController::DoSearchWithString(text, postKey);
}

std::string VKBridge::GetSearchString() {
    return VKUIController::GetSearchString();
}

void VKBridge::StopSearch() {
    VKUIController::StopSearch();
}

int VKBridge::VKGetIsSearching() {
    return VKUIController::VKGetIsSearching();
}

// The recovery of the ticked files.
void VKBridge::GetSelectedFilesAmout(int* count, uint64_t* size) {
    int files = 0;
    unsigned long long bytes = 0;
    VKUIController::GetSelectedFilesAmoutAndSize(&files, &bytes);
    if (count)
        *count = files;
    if (size)
        *size = bytes;
}

int VKBridge::IsRecoveryToSameDevice(const std::string& path) {
    return VKUIController::IsRecoveryToSameDevice(path);
}

bridge::OutputProblem VKBridge::CheckOutputFolder(const std::string& path) {
    return VKUIController::CheckOutputFolder(path);
}

void VKBridge::GetSaveorRestoreProgress(uint64_t* total, uint64_t* current, int64_t* errorCode,
                                        int save) {
    unsigned long long all = 0, done = 0;
    long long code = 0;
    VKUIController::GetSaveorRestoreProgress(&all, &done, &code, save);
    *total = all;
    *current = done;
    *errorCode = code;
}

IBridge::LoadDamage VKBridge::GetLoadDamage() {
    long long dropped = 0, kept = 0;
    int cutShort = 0, checkFailed = 0;
    VKUIController::GetLoadDamage(&dropped, &kept, &cutShort, &checkFailed);
    return {dropped, kept, cutShort != 0, checkFailed != 0};
}

std::string VKBridge::GetSaveFileName() {
    return VKUIController::GetSaveFileName();
}

void VKBridge::SavePathToPList(const std::string& folder) {
    ui::PrivateSettings::shared().setValue(QStringLiteral("SavePath"),
                                           QString::fromStdString(folder));
}

}  // namespace velmora::seam

namespace velmora::seam {

// The rows of the file list: a folder's entries as the engine's tree holds
// them (files and sub-folders, as the browser lists them), walked under the
// trees' lock because the scan links new nodes under it; the leaves of a
// type or date group as the result trees file them.
int VKBridge::GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) {
    if (array == nullptr || !node)
        return 0;
    if (node->type() == OP_TREE_PATH) {
        std::lock_guard<std::mutex> hold(VKUIController::TreeDataLock());
        return AppendPathChildren(array, node.get());
    }
    std::vector<OpChild> list;
    const int answer = VKUIController::GetFileNodeToArray(list, node.get());
    for (const OpChild& child : list) {
        if (IFileNode* const* leaf = std::get_if<IFileNode*>(&child)) {
            if (*leaf != nullptr)
                array->push_back(*leaf);
        } else if (const OpNodePtr& group = std::get<OpNodePtr>(child);
                   group && group->fileNode() != nullptr) {
            array->push_back(group->fileNode());
        }
    }
    return answer;
}

void VKBridge::RefreshTypeTreeState(const OpNodePtr& node) {
    VKUIController::RefreshTypeTreeState(node.get());
}

void VKBridge::UnselectedAllNodes() {
    VKUIController::UnselectedAllNodes();
}

// The picture, movie frame or icon the thumbnailer made.
QImage VKBridge::GetNSImageByNode(const OpNodePtr& node) {
    if (!node || node->fileNode() == nullptr)
        return {};
    return bridge::QtThumbnailer::ToQImage(VKUIController::GetImageByNode(*node));
}

// A picture's own bytes, read in pieces so that a stop is heard between
// them; any other file's image as PNG bytes.
std::vector<uint8_t> VKBridge::GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) {
    if (!node || node->fileNode() == nullptr)
        return {};
    std::vector<uint8_t> bytes =
        bridge::ReadPictureBytes(node->fileNode(), [&stop] { return stop.stop_requested(); });
    if (!bytes.empty() || stop.stop_requested())
        return bytes;
    const QImage image = GetNSImageByNode(node);
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return {png.begin(), png.end()};
}

int64_t VKBridge::DoRecovery(const std::vector<OpNodePtr>* roots, const std::string& path,
                             const std::string& postName) {
    Relay(postName);
    return VKUIController::DoRecovery(roots, path.c_str(), postName);
}

std::string VKBridge::GetRecoveryProgressTotal(uint64_t* total, uint64_t* current,
                                               int64_t* errorCode) {
    unsigned long long all = 0, done = 0;
    long long code = 0;
    std::string name = VKUIController::GetRecoveryProgressTotal(&all, &done, &code);
    if (total)
        *total = all;
    if (current)
        *current = done;
    if (errorCode)
        *errorCode = code;
    return name;
}

int VKBridge::IsRecoveryRunning() {
    return VKUIController::IsRecoveryRunning();
}

void VKBridge::PauseOrResumeRecovery() {
    VKUIController::PauseOrResumeRecovery();
}

void VKBridge::StopRecvoery() {
    VKUIController::StopRecvoery();
}

uint64_t VKBridge::GetRecoveridedFiles() {
    return VKUIController::GetRecoveridedFiles();
}

uint64_t VKBridge::GetRecoveryRefusedFiles() {
    return VKUIController::GetRecoveryRefusedFiles();
}

std::string VKBridge::GetRecoveryRefusedListPath() {
    return VKUIController::GetRecoveryRefusedListPath();
}

void VKBridge::GetSearchResultToArr(std::vector<IFileNode*>* list) {
    if (list != nullptr)
        VKUIController::GetSearchResultToArr(*list);
}

}  // namespace velmora::seam
