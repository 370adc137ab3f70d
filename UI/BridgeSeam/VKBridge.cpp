#include "BridgeSeam/VKBridge.h"

#include <QVariant>

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

// The file-type table is loaded by the scan road (issue 39); the filter of
// SetRecoveryType holds the categories until then.
void VKBridge::initFileType() {}

// No data-recovery objects exist before the recovery is built (issue 41).
void VKBridge::ReleaseDataRecovery() {}

void VKBridge::SetRecoveryType(int mask) {
    VKUIController::SetRecoveryType(mask);
}

// The device catalogue is issue 38's; until it lands the catalogue is empty
// and counts as loaded, so the name is posted at once.
void VKBridge::NotifiyDeviceInfoAfterInit(const std::string& name) {
    ui::NotificationCenter::defaultCenter().postOnMainThread(QString::fromStdString(name),
                                                             kBridgeObject);
}

// Issue 38: the catalogue's rows.
void VKBridge::GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>*) {}

// Issue 38: rebuilding the catalogue.
void VKBridge::RefreshDeviceInfo() {}

// Issue 38: disk images in the catalogue.
int VKBridge::VKOpenDmgFile(const std::string&) {
    return 0;
}

// Issue 39: the scan road. An idle bridge with no catalogue scans nothing.
void VKBridge::DoScanWithData(const DiskVolumeNodePtr&, const std::string&) {}

void VKBridge::DoDeepScanWithData(const DiskVolumeNodePtr&, const std::string&) {}

int VKBridge::IsScanRunning() {
    return 0;
}

void VKBridge::GetScanTreeNodeData(std::vector<OpNodePtr>*, int) {}

std::optional<std::string> VKBridge::GetSavePath() {
    const QString path = ui::PrivateSettings::shared().stringValue(QStringLiteral("SavePath"));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

// Issue 41: the bridge's save and load operation (the result files library
// is ready; the bridge's operation that drives it is not).
void VKBridge::beginSaveOrRestoreNode(int, const std::string&, const std::optional<std::string>&) {}

// The recovery operation is built with the bridge's recovery road (issue
// 41); until then nothing is ticked and a recovery never starts.
void VKBridge::GetSelectedFilesAmout(int* count, uint64_t* size) {
    if (count)
        *count = 0;
    if (size)
        *size = 0;
}

int VKBridge::IsRecoveryToSameDevice(const std::string&) {
    return 0;
}

int64_t VKBridge::DoRecovery(const std::vector<OpNodePtr>*, const std::string&,
                             const std::string&) {
    return 0x0100000000000000;
}

std::string VKBridge::GetRecoveryProgressTotal(uint64_t* total, uint64_t* current,
                                               int64_t* errorCode) {
    if (total)
        *total = 0;
    if (current)
        *current = 0;
    if (errorCode)
        *errorCode = 0;
    return {};
}

int VKBridge::IsRecoveryRunning() {
    return 0;
}

void VKBridge::PauseOrResumeRecovery() {}

void VKBridge::StopRecvoery() {}

uint64_t VKBridge::GetRecoveridedFiles() {
    return 0;
}

}  // namespace velmora::seam
