#include "BridgeSeam/VKBridge.h"

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

}  // namespace velmora::seam
