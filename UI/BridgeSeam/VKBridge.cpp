#include "BridgeSeam/VKBridge.h"

#include <QImage>
#include <QVariant>
#include <mutex>
#include <set>

#include "BadSectorNotify.h"
#include "MainThread.h"
#include "QtPoster.h"
#include "VKUIScan.h"

#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/PrivateSettings.h"
#include "VKUIController.h"
#include "platform/desktop/SingleInstance.h"

namespace velmora::seam {

namespace {

// The object of the bridge's notifications.
const QVariant kBridgeObject = QStringLiteral("VKUIPublic");

}  // namespace

VKBridge::VKBridge(std::string lockPath) : lockPath_(std::move(lockPath)) {}

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

// The scan's; the recovery's own objects come with the recovery (issue 41).
void VKBridge::ReleaseDataRecovery() {
    VKUIScan::instance().ReleaseDataRecovery();
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

// Issue 41: the bridge's save and load operation (the result files library
// is ready; the bridge's operation that drives it is not).
void VKBridge::beginSaveOrRestoreNode(int, const std::string&, const std::optional<std::string>&) {}

// Issue 40: the bridge's result trees. Until they land no root is ever added
// to the browser's arrays, and the lock guards nothing but the browser's
// own reads.
int VKBridge::VKSetTreeNodeData(const TreeNodeArrays* arrays) {
    return arrays != nullptr ? 1 : 0;
}

std::unique_lock<std::mutex> VKBridge::LockTreeData() {
    static auto* treeData = new std::mutex;  // lives as long as the process
    return std::unique_lock<std::mutex>(*treeData);
}

// Issue 39: the scan road.
void VKBridge::ResetShouldBuild() {}

void VKBridge::isEdiDoDeepScanWithData(const DiskVolumeNodePtr&, const std::string&) {}

// Issue 39: the scan operation's progress and controls. An idle bridge has
// found nothing and has no scan to pause, stop or repeat.
std::string VKBridge::GetScanProgress(double* percent, int64_t* fileCount) {
    *percent = 0;
    *fileCount = 0;
    return "-:-:-";
}

int VKBridge::IsDeepScan() {
    return 0;
}

int VKBridge::IsPause() {
    return 0;
}

void VKBridge::PauseOrResumeScan() {}

void VKBridge::StopScan(int) {}

void VKBridge::GetScanFileSize(uint64_t* bytes, int64_t* count) {
    if (bytes != nullptr)
        *bytes = 0;
    if (count != nullptr)
        *count = 0;
}

// Issue 41: loading results.
void VKBridge::RestorPostUIUpdate(const std::string&, int) {}

// Issue 40: the counts and tick marks of the type and date trees.
uint64_t VKBridge::GetNodeChildrenCnt(const OpNodeData&) {
    return 0;
}

void VKBridge::VKTableViewCellCilck() {}

void VKBridge::SetViewType(int) {}

void VKBridge::RefreshTypeTreeState(OpNodeData*) {}

void VKBridge::RefreshTimeTreeState(std::vector<OpNodePtr>*, int) {}

void VKBridge::VKSetFlag(int) {}

void VKBridge::DoDeepScan(const std::string&) {}

int VKBridge::VKCleanOpNodeSate() {
    return VKUIController::VKCleanOpNodeSate();
}

int VKBridge::DoSearchWithString(const std::string& text, const std::string& postKey) {
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

// Issue 41: the save and load operation, its poller and its progress.
int VKBridge::IsRecoveryToSameDevice(const std::string&) {
    return 0;
}

void VKBridge::GetSaveorRestoreProgress(uint64_t* total, uint64_t* current, int64_t* errorCode,
                                        int) {
    *total = 0;
    *current = 0;
    *errorCode = 0;
}

std::string VKBridge::GetSaveFileName() {
    return "Velmora";
}

void VKBridge::SavePathToPList(const std::string& folder) {
    ui::PrivateSettings::shared().setValue(QStringLiteral("SavePath"),
                                           QString::fromStdString(folder));
}

}  // namespace velmora::seam

namespace velmora::seam {

// Issue 40 builds the type and date trees; the path tree is the engine's.
int VKBridge::GetFileNodeToArray(std::vector<IFileNode*>* array, const OpNodePtr& node) {
    return AppendPathChildren(array, node.get());
}

// Issue 40: the recounts of the type and date trees.
void VKBridge::RefreshTypeTreeState(const OpNodePtr&) {}

void VKBridge::UnselectedAllNodes() {}

// Issue 41: the thumbnailer.
QImage VKBridge::GetNSImageByNode(const OpNodePtr&) {
    return {};
}

}  // namespace velmora::seam
